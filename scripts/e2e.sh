#!/usr/bin/env bash
# Runs the end-to-end suite under Wine against a build: the clipboard adapter test, and the
# driver in Wine virtual desktops (800x600 for the window, keys, closing, copies and the fatal
# error; 400x600 for the placement; 800x600 again for the watch switch, for how soon and how often
# it replaces, and beside programs that stop answering). Prints every check and
# exits nonzero on any failure. Sets up and tears down its own display and prefix.
#
#   scripts/e2e.sh build/mingw64
#
# Here the mingw64 build runs under Wine's 64-bit loader. The emulated machine of
# scripts/pe32-vm.sh runs it on the mingw32 build with WINE_ENV_LOADER=wine, and sets
# ORVANE_E2E_TIME_SCALE, which multiplies every limit below and in the programs.
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR_OF_MINGW64" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
root=$(cd "$(dirname "$0")/.." && pwd)

driver=$build/tests/e2e/e2e_driver.exe
adapter=$build/tests/e2e/clipboard_adapter_test.exe
tool=$build/shell/orvane.exe
fault=$build/shell/orvane_fault.exe
for f in "$driver" "$adapter" "$tool" "$fault"; do
  if [ ! -f "$f" ]; then
    echo "e2e: missing $f (build its preset first)" >&2
    exit 2
  fi
done

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
scale=${ORVANE_E2E_TIME_SCALE:-1}
# Whole seconds, scaled by a factor that may have a fraction.
scaled() { awk -v s="$1" -v f="$scale" 'BEGIN { if (f < 1) f = 1; printf "%d", s * f + 0.5 }'; }
[ "$scale" = 1 ] || echo "# limits scaled by $scale"
started=$(date +%s)
wine_env_start || exit 1
echo "# Wine prefix ready in $(( $(date +%s) - started )) s on display $DISPLAY"

total_passed=0
total_failed=0
total_skipped=0
runs_failed=0
# A program's summary: "N passed, M failed", with ", K skipped" when it skipped checks.
summary_line='^[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$'

# The programs write their stdout in text mode: each line ends in \r\n.
show() {
  sed -i 's/\r$//' "$1"
  cat "$1"
}

# Reads a run's summary line into the totals; a run without one (crash, hang) counts as failed.
tally() {
  local label=$1 out=$2 summary
  summary=$(grep -E "$summary_line" "$out" | tail -n1)
  if [ -z "$summary" ]; then
    echo "FAIL - $label: ended without its summary line"
    runs_failed=$((runs_failed + 1))
    return
  fi
  local p f k=0
  read -r p f k < <(echo "$summary" | sed -E 's/^([0-9]+) passed, ([0-9]+) failed(, ([0-9]+) skipped)?$/\1 \2 \4/')
  total_passed=$((total_passed + p))
  total_failed=$((total_failed + f))
  total_skipped=$((total_skipped + ${k:-0}))
  if [ "$f" -ne 0 ] || [ "$p" -eq 0 ]; then runs_failed=$((runs_failed + 1)); fi
}

# A program inside a virtual desktop. `explorer /desktop` neither passes the exit code on nor
# returns for some seconds after the program has ended, so the run is over once its summary
# line is out, or once explorer has gone without one. Prints the run and leaves its summary in
# $run_summary ("" when there is none).
desktop_run() {
  local label=$1 desktop=$2 limit=$3
  shift 3
  local out=$WINE_ENV_DIR/$label.out
  : >"$out"  # exists before the first look at it
  wine_run explorer "/desktop=$desktop" "$@" >"$out" 2>&1 &
  local pid=$! waited=0
  while ! grep -qE '^[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?.?$' "$out"; do
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    if [ $waited -ge $((limit * 10)) ]; then
      echo "FAIL - $label: no summary after $limit s" >>"$out"
      break
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  # Each desktop's explorer bridges the clipboard to X; two alive at once fight over the X
  # selection and keep the clipboard open for seconds. End this one before the next run.
  wine_env_kill
  show "$out"
  run_summary=$(grep -E "$summary_line" "$out" | tail -n1)
  run_out=$out
}

# Wine's input is asynchronous and now and then loses or reorders a mouse action, so a run with a
# failure is run once more; its first output stays in the log above, and the second run decides.
run_in_desktop() {
  local label=$1 since
  since=$(date +%s)
  echo "# $label"
  desktop_run "$@"
  if [[ $run_summary =~ ^[1-9][0-9]*\ passed,\ 0\ failed ]]; then
    :
  else
    echo "# $label failed; running it once more"
    desktop_run "$@"
  fi
  tally "$label" "$run_out"
  echo "# $label took $(( $(date +%s) - since )) s"
}

echo "# clipboard adapter"
adapter_out=$WINE_ENV_DIR/adapter.out
timeout "$(scaled 60)" bash -c '. "$1"; wine_run "$2"' _ "$root/scripts/wine-env.sh" "$adapter" >"$adapter_out" 2>&1
adapter_rc=$?
show "$adapter_out"
tally adapter "$adapter_out"
[ $adapter_rc -eq 0 ] || echo "# clipboard adapter test exited with $adapter_rc"
[ $adapter_rc -eq 0 ] || runs_failed=$((runs_failed + 1))

# The limits, each run twice at most, add up to less than CTest's 1800 s, so that the teardown
# always runs; each driver's own watchdog ends it sooner still.
run_in_desktop ui e2e,800x600 "$(scaled 200)" "$driver" ui "$tool" "$fault"
run_in_desktop narrow narrow,400x600 "$(scaled 60)" "$driver" narrow "$tool"
run_in_desktop watch e2e,800x600 "$(scaled 200)" "$driver" watch "$tool" "$fault"
run_in_desktop prompt e2e,800x600 "$(scaled 150)" "$driver" prompt "$tool" "$fault"
run_in_desktop stall e2e,800x600 "$(scaled 150)" "$driver" stall "$tool" "$fault"

skipped_text=
[ $total_skipped -eq 0 ] || skipped_text=", $total_skipped skipped"
echo "# e2e total: $total_passed passed, $total_failed failed$skipped_text, in $(( $(date +%s) - started )) s"
wine_env_stop
[ $runs_failed -eq 0 ]
