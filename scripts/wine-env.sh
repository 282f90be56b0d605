# Sourceable: a private X display and a fresh Wine prefix for running the Windows builds.
#
#   . scripts/wine-env.sh
#   wine_env_start            # Xvfb on a free display, prefix booted with Marlett; cleanup on exit
#   wine_run program.exe ...  # any Wine command, with the locale and prefix of this run
#   wine_env_kill             # ends the prefix's processes (the prefix stays)
#   wine_env_stop             # also run on EXIT, INT and TERM; safe to call twice
#
# Everything of a run lives under one temporary directory ($WINE_ENV_DIR), so that nothing is
# left behind: the prefix's processes end with `wineserver -k`, the display with its Xvfb.
#
# WINE_ENV_LOADER and WINE_ENV_SERVER name Wine's loader and server (the 64-bit ones by default).
# WINE_ENV_PREFIX_TEMPLATE, when set, is a prefix booted beforehand that each run copies instead
# of booting its own (wineboot takes minutes in an emulated machine).

WINE_ENV_LOADER=${WINE_ENV_LOADER:-/usr/lib/wine/wine64}
WINE_ENV_SERVER=${WINE_ENV_SERVER:-/usr/lib/wine/wineserver}
WINE_ENV_SCREEN=${WINE_ENV_SCREEN:-800x600x24}
WINE_ENV_DIR=
WINE_ENV_XVFB_PID=

# The code page of the tool's texts is 936. Every Wine command of a prefix needs both variables,
# wineboot included: the services it starts keep their locale for the prefix's whole life.
wine_run() {
  LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=${WINEDEBUG:--all} WINEPREFIX="$WINEPREFIX" \
    DISPLAY="$DISPLAY" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mshtml=d}" \
    "$WINE_ENV_LOADER" "$@"
}

# Ends every process of the prefix and waits until the server has gone; the prefix stays, and
# the next Wine command starts afresh in it.
wine_env_kill() {
  if [ -n "$WINE_ENV_DIR" ] && [ -d "$WINE_ENV_DIR/prefix" ]; then
    WINEPREFIX="$WINE_ENV_DIR/prefix" timeout 20 "$WINE_ENV_SERVER" -k 2>/dev/null
    WINEPREFIX="$WINE_ENV_DIR/prefix" timeout 20 "$WINE_ENV_SERVER" -w 2>/dev/null
  fi
  return 0
}

wine_env_stop() {
  wine_env_kill
  if [ -n "$WINE_ENV_XVFB_PID" ]; then
    kill "$WINE_ENV_XVFB_PID" 2>/dev/null
    wait "$WINE_ENV_XVFB_PID" 2>/dev/null
    WINE_ENV_XVFB_PID=
  fi
  if [ -n "$WINE_ENV_DIR" ]; then
    rm -rf "$WINE_ENV_DIR"
    WINE_ENV_DIR=
  fi
  return 0
}

# Installs Wine's Marlett into the prefix as Windows installs a font: the file in the Fonts folder
# and its line under the Fonts key. Caption buttons are Marlett glyphs, and a zh_CN prefix draws
# them as the letters "0 1 r" without it. Needs WINEPREFIX (booted) and DISPLAY.
WINE_ENV_MARLETT=${WINE_ENV_MARLETT:-/usr/share/wine/fonts/marlett.ttf}
wine_env_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts" && cp "$WINE_ENV_MARLETT" "$fonts/marlett.ttf" &&
    wine_run reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' \
      /v 'Marlett (TrueType)' /t REG_SZ /d marlett.ttf /f >/dev/null 2>&1
}

wine_env_start() {
  local screen=${1:-$WINE_ENV_SCREEN}
  trap 'wine_env_stop' EXIT
  trap 'wine_env_stop; exit 130' INT
  trap 'wine_env_stop; exit 143' TERM
  WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/orvane-wine.XXXXXX") || return 1

  # -displayfd lets Xvfb pick a free display itself: no race with other runs for a number.
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset \
    3>"$WINE_ENV_DIR/display" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
  WINE_ENV_XVFB_PID=$!
  local tries=0
  while ! grep -q '^[0-9]' "$WINE_ENV_DIR/display" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$WINE_ENV_XVFB_PID" 2>/dev/null; then
      echo "wine-env: Xvfb did not start" >&2
      cat "$WINE_ENV_DIR/xvfb.log" >&2
      return 1
    fi
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$WINE_ENV_DIR/display")"
  export WINEPREFIX="$WINE_ENV_DIR/prefix"

  if [ -n "${WINE_ENV_PREFIX_TEMPLATE:-}" ]; then
    # Hard links where the template shares the file system: a prefix is a gigabyte, and Wine
    # replaces its registry files rather than writing into them.
    if ! cp -al "$WINE_ENV_PREFIX_TEMPLATE" "$WINEPREFIX" 2>/dev/null; then
      rm -rf "$WINEPREFIX"
      cp -a "$WINE_ENV_PREFIX_TEMPLATE" "$WINEPREFIX" || return 1
    fi
    # A template booted without Marlett gets it here; the copy's registry is its own.
    if [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] && ! wine_env_fonts; then
      echo "wine-env: could not install Marlett into the prefix" >&2
      return 1
    fi
    return 0
  fi
  # The error about syswow64\rundll32.exe is the missing 32-bit half, and harmless.
  local limit
  limit=$(awk -v f="${ORVANE_E2E_TIME_SCALE:-1}" 'BEGIN { if (f < 1) f = 1; printf "%d", 120 * f }')
  if ! timeout "$limit" env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all \
      WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=d" \
      "$WINE_ENV_LOADER" wineboot -i >"$WINE_ENV_DIR/wineboot.log" 2>&1; then
    echo "wine-env: wineboot failed" >&2
    cat "$WINE_ENV_DIR/wineboot.log" >&2
    return 1
  fi
  if ! wine_env_fonts; then
    echo "wine-env: could not install Marlett into the prefix" >&2
    return 1
  fi
  return 0
}
