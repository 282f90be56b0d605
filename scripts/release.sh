#!/usr/bin/env bash
# Builds the shipped PE32 from a clean copy of the committed tree and writes dist/:
#   orvane-VERSION-win32.zip   orvane.exe and the guide, in a folder orvane-VERSION
#   orvane.exe                 the same executable, loose
#   README.txt                 the user guide in simplified Chinese
#   SHA256SUMS                 the SHA-256 of the three files above
# The guide is UTF-8 with a byte order mark and CRLF line ends: Notepad reads that
# as UTF-8 on Windows XP and on Windows 11 whatever the system's code page, where GBK would read
# right only where the code page is 936, and XP's Notepad shows LF-only text as one line.
# SHA256SUMS is plain ASCII, also with CRLF line ends.
#
#   scripts/release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The committed tree only: what a release says it was built from is exactly that commit.
if ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "release: not a git checkout; a release is built from a commit" >&2
  exit 1
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: note: uncommitted changes are not in the release" >&2
fi
commit=$(git rev-parse HEAD)
# Every file of the release carries the commit's time, so the zip too is the same bytes each time.
epoch=$(git log -1 --format=%ct HEAD)
mkdir -p "$work/src"
git archive --format=tar HEAD | tar -x -C "$work/src"

(cd "$work/src" && cmake --preset mingw32 -DORVANE_TESTS=OFF >"$work/build.log" 2>&1 &&
   cmake --build build/mingw32 --target orvane >>"$work/build.log" 2>&1) ||
  { cat "$work/build.log"; exit 1; }
exe=$work/src/build/mingw32/shell/orvane.exe
version=$(sed -n 's/^#define ORVANE_VERSION_TEXT "\(.*\)"$/\1/p' \
          "$work/src/build/mingw32/resources/version.h")
[ -n "$version" ] || { echo "release: no version in version.h" >&2; exit 1; }

# Nothing ships that fails its shape check.
python3 "$work/src/scripts/check_pe.py" "$exe" PE32 "$work/src/scripts/allowed_imports.txt" \
  "$version" >"$work/shape.log" || { cat "$work/shape.log"; exit 1; }

crlf_with_bom() {  # crlf_with_bom IN OUT: LF to CRLF, a UTF-8 byte order mark in front
  { printf '\xEF\xBB\xBF'; sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$1"; } >"$2"
}

name=orvane-$version
stage=$work/zip/$name
mkdir -p "$stage"
cp "$exe" "$stage/orvane.exe"
crlf_with_bom "$work/src/docs/guide.zh-CN.txt" "$stage/README.txt"
touch -d "@$epoch" "$stage" "$stage"/*

rm -rf dist
mkdir dist
zip_name=$name-win32.zip
# -X: no Unix owners or extra times; -D: no directory entries besides the folder's files' paths.
(cd "$work/zip" && TZ=UTC zip -q -X -D "$root/dist/$zip_name" "$name/orvane.exe" "$name/README.txt")
cp -p "$stage/orvane.exe" "$stage/README.txt" dist/
(cd dist && sha256sum "$zip_name" orvane.exe README.txt | sed 's/$/\r/' >SHA256SUMS)

echo "release $version from commit $commit"
python3 -m zipfile -l "dist/$zip_name"
(cd dist && sha256sum -c SHA256SUMS)
ls -l dist
