#!/usr/bin/env bash
# Builds the tool and starts it under Wine. With a display, it simply starts there. Without one,
# it starts on a virtual display and shows the job being done: it pastes a few replies, ticks
# "开始", puts a marked text on the clipboard as another program would, prints what the clipboard
# held before and after, and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset mingw64 >/dev/null
cmake --build build/mingw64 --target orvane >/dev/null
exe=$PWD/build/mingw64/shell/orvane.exe
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/orvane/wineprefix}
  if [ ! -d "$WINEPREFIX" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  fi
  . scripts/wine-env.sh
  [ -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] || wine_env_fonts
  exec /usr/lib/wine/wine64 "$exe"
fi

. scripts/wine-env.sh
wine_env_start
shot=$PWD/build/orvane-demo.png
replies=$'谢谢，已收到\n好的，马上处理\n稍后回复您'
marked='请帮我转发：使用软件自动发送（第 1 条）'

wine_run explorer /desktop=orvane,800x600 "$exe" &
# Ready once the desktop exists and the window's place is no longer plain background.
window_drawn() {
  local spread
  spread=$(import -window root -crop 493x246+153+177 +repage -format '%[fx:standard_deviation]' info: 2>/dev/null) || return 1
  [ "${spread:-0}" != 0 ]
}
desktop=
for _ in $(seq 200); do
  desktop=$(xdotool search --name 'orvane - Wine desktop' 2>/dev/null | head -n1) || true
  [ -n "$desktop" ] && window_drawn && break
  sleep 0.1
done
[ -n "$desktop" ] || { echo "the tool's window did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$desktop"
sleep 0.5

clip_set() { printf '%s' "$1" | xclip -selection clipboard; }
clip_get() { xclip -selection clipboard -o 2>/dev/null || true; }

# The focus starts in the reply box: paste the replies there, then Tab to "开始" and tick it.
clip_set "$replies"
sleep 0.5
xdotool key ctrl+v
sleep 0.5
xdotool key Tab space
sleep 0.5

clip_set "$marked"
echo "clipboard before: $(clip_get)"
after=$marked
for _ in $(seq 50); do
  sleep 0.1
  after=$(clip_get)
  [ "$after" != "$marked" ] && break
done
echo "clipboard after:  $after"
import -window root "$shot"
echo "screenshot: $shot"
pkill -f 'xclip -selection clipboard' 2>/dev/null || true
[ "$after" != "$marked" ]
