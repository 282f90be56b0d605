#!/usr/bin/env bash
# Builds the shipped PE32 and the PE32+ from two clean copies of this source tree, in two folders
# of different names and depths, and checks that each pair is the same bytes; given the PE32 of an
# existing build, checks that it is those bytes too. Prints one line per check and a summary.
#
#   scripts/check_reproducible.sh [BUILT_PE32]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
built=${1:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() {  # check NAME CONDITION-STATUS DETAIL
  if [ "$2" -eq 0 ]; then
    echo "ok - $1"
    passed=$((passed + 1))
  else
    echo "FAIL - $1: $3"
    failed=$((failed + 1))
  fi
}

# The tracked and new files, as a fresh checkout of this commit plus its uncommitted changes
# would have them: nothing of an earlier build comes along.
copy_tree() {
  mkdir -p "$1"
  if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard |
      tar -C "$root" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$1" -xf -
  else
    tar -C "$root" --exclude=./build --exclude=./dist --exclude='./build-*.log' -cf - . |
      tar -C "$1" -xf -
  fi
}

trees=("$work/a/src" "$work/a-folder-with-a-much-longer-name/deeper/orvane")
for tree in "${trees[@]}"; do
  copy_tree "$tree"
  for preset in mingw32 mingw64; do
    log=$tree/build-$preset.log
    if ! (cd "$tree" && cmake --preset "$preset" -DORVANE_TESTS=OFF && \
          cmake --build "build/$preset" --target orvane) >"$log" 2>&1; then
      cat "$log"
      check "clean build of $preset in $tree" 1 "build failed"
    fi
  done
done

for preset in mingw32 mingw64; do
  first=${trees[0]}/build/$preset/shell/orvane.exe
  second=${trees[1]}/build/$preset/shell/orvane.exe
  [ -f "$first" ] && [ -f "$second" ] || continue
  sum1=$(sha256sum <"$first" | cut -d' ' -f1)
  sum2=$(sha256sum <"$second" | cut -d' ' -f1)
  echo "# $preset: $sum1  ${first#"$work"/}"
  echo "# $preset: $sum2  ${second#"$work"/}"
  cmp -s "$first" "$second"
  check "$preset: two clean builds in two folders are the same bytes" $? \
        "$(cmp "$first" "$second" 2>&1 | head -1)"
  if [ "$preset" = mingw32 ] && [ -n "$built" ]; then
    echo "# $preset: $(sha256sum <"$built" | cut -d' ' -f1)  $built"
    cmp -s "$first" "$built"
    check "$preset: $built is the same bytes as the clean builds" $? \
          "$(cmp "$first" "$built" 2>&1 | head -1)"
  fi
done

[ $((passed + failed)) -gt 0 ] || check "anything was built" 1 "no executable to compare"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
