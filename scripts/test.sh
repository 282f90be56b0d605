#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: the core's host tests
# (plain, with ASan+UBSan, with TSan), the fuzzer for a bounded time, the checks of both Windows
# executables, and the end-to-end tests under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

presets=(host host-asan host-tsan fuzz mingw32 mingw64)
passed=0
failed=0
broken=()

for preset in "${presets[@]}"; do
  echo "=== $preset"
  if ! cmake --preset "$preset" >"build-$preset.log" 2>&1 || ! cmake --build "build/$preset" >>"build-$preset.log" 2>&1; then
    cat "build-$preset.log"
    broken+=("$preset (build)")
    continue
  fi
  rm -f "build-$preset.log"
  log=$(mktemp)
  (cd "build/$preset" && ctest --output-on-failure -j2) | tee "$log"
  status=${PIPESTATUS[0]}
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  rm -f "$log"
  if [ -z "$total" ]; then
    broken+=("$preset (no tests ran)")
    continue
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$status" -eq 0 ] || [ "$bad" -gt 0 ] || broken+=("$preset (ctest exit $status)")
done

[ ${#broken[@]} -eq 0 ] || printf 'broken: %s\n' "${broken[@]}"
echo "test: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#broken[@]} -eq 0 ]
