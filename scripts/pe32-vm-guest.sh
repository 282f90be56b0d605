#!/bin/bash
# Runs inside the emulated machine of scripts/pe32-vm.sh, from its payload share (/payload):
# copies the programs out of the share, checks that they are the bytes the host hashed, runs
# scripts/e2e.sh on them with 32-bit Wine, and takes a screenshot of the tool's window. Leaves
# everything in /payload/out; the host judges it.
set -u
payload=/payload
out=$payload/out
mkdir -p "$out"
exec >"$out/guest.log" 2>&1

export ORVANE_E2E_TIME_SCALE
ORVANE_E2E_TIME_SCALE=$(cat "$payload/time_scale")
# `wine` runs PE32 programs with the 32-bit loader; the server wrapper picks the matching server.
export WINE_ENV_LOADER=/usr/bin/wine WINE_ENV_SERVER=/usr/lib/wine/wineserver
export WINE_ENV_PREFIX_TEMPLATE=/var/lib/orvane/prefix
# Each run's prefix beside the template, on the same file system, so that it is made of links.
export TMPDIR=/var/tmp

echo "# guest: $(uname -srm), $(nproc) CPUs, $(wine --version 2>/dev/null), scale $ORVANE_E2E_TIME_SCALE"

# The programs run from the guest's own memory, not from the share; the hashes are taken of the
# very files e2e.sh starts, before and after the run.
build=/tmp/build
mkdir -p "$build"
cp -r "$payload/build/." "$build/" || exit 1
programs=(shell/orvane.exe shell/orvane_fault.exe tests/e2e/e2e_driver.exe
          tests/e2e/clipboard_adapter_test.exe)
(cd "$build" && sha256sum "${programs[@]}") >"$out/before.sha256"
if ! (cd "$build" && sha256sum --quiet -c "$payload/host.sha256"); then
  echo "guest: the programs are not the bytes the host hashed; not running them"
  echo mismatch >"$out/status"
  exit 1
fi

started=$(date +%s)
bash "$payload/scripts/e2e.sh" "$build" >"$out/e2e.log" 2>&1
echo $? >"$out/e2e.status"
echo "# e2e.sh ended with $(cat "$out/e2e.status") after $(( $(date +%s) - started )) s"

bash "$payload/tests/e2e/screenshot.sh" "$out/window.xwd" "$build" >"$out/screenshot.log" 2>&1 ||
  echo "# the screenshot failed: $(cat "$out/screenshot.log")"

(cd "$build" && sha256sum "${programs[@]}") >"$out/after.sha256"
echo done >"$out/status"
