#!/usr/bin/env bash
# Saves a PNG of the tool as it starts in an 800x600 Wine desktop, with a few replies pasted in.
# OUT.xwd saves the X window dump instead, for a machine without ImageMagick (the emulated one).
#
#   tests/e2e/screenshot.sh OUT.png [BUILD_DIR_OF_MINGW64]
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUT.png [BUILD_DIR_OF_MINGW64]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath -m "$1")
build=$(cd "${2:-$root/build/mingw64}" && pwd) || exit 2
driver=$build/tests/e2e/e2e_driver.exe
tool=$build/shell/orvane.exe
for f in "$driver" "$tool"; do
  [ -f "$f" ] || { echo "screenshot: missing $f" >&2; exit 2; }
done

# shellcheck source=../../scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
wine_env_start || exit 1

log=$WINE_ENV_DIR/show.out
wine_run explorer /desktop=shot,800x600 "$driver" show "$tool" >"$log" 2>&1 &
tries=$(awk -v f="${ORVANE_E2E_TIME_SCALE:-1}" 'BEGIN { if (f < 1) f = 1; printf "%d", 300 * f }')
for _ in $(seq 1 "$tries"); do
  grep -q '^ready' "$log" && break
  sleep 0.1
done
if ! grep -q '^ready' "$log"; then
  echo "screenshot: the tool's window did not come up" >&2
  cat "$log" >&2
  exit 1
fi
# The window has been told to paint; give the desktop a moment to put it on the display.
sleep "$(awk -v f="${ORVANE_E2E_TIME_SCALE:-1}" 'BEGIN { if (f < 1) f = 1; print f }')"
if [ "${out%.xwd}" != "$out" ]; then
  xwd -display "$DISPLAY" -root -silent >"$out" || exit 1
else
  import -display "$DISPLAY" -window root "$out" || exit 1
fi
echo "screenshot: $out"
