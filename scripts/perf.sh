#!/usr/bin/env bash
# Measures the tool under Wine: builds the x86_64 programs, starts perf/watch_bench in a Wine
# virtual desktop on a private X display, and lets it work the tool. Prints how soon a marked
# clipboard text is replaced, the tool's CPU time while idle and while watching an unchanged
# clipboard, and the checks of a soak of the watch switch. Takes about two minutes a tool.
#
#   scripts/perf.sh [TOOL.exe ...]   # other builds of the tool, e.g. to compare two versions
#
# With several tools each is measured in turn in the same prefix, and every line it prints starts
# with its number: "1: latency-p99: 53.5 ms".
#
# The tool's CPU time can't be read from inside Wine (GetProcessTimes on another process gives 0),
# so the bench prints "PHASE name START" and "PHASE name END", and this script reads the tool's
# utime+stime from /proc when each of those lines arrives, over the wall time between them.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/mingw64

log=$(mktemp)
if ! { cmake --preset mingw64 && cmake --build "$build" --target orvane watch_bench; } >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  echo "perf: the mingw64 build failed" >&2
  exit 1
fi
rm -f "$log"

. scripts/wine-env.sh
wine_env_start || exit 1

windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
bench=$(windows_path "$root/$build/perf/watch_bench.exe")
clock_ticks=$(getconf CLK_TCK)
if [ $# -eq 0 ]; then set -- "$root/$build/shell/orvane.exe"; fi

# The Linux process of this prefix whose name matches `pattern`: other runs may have their own.
prefix_process() {
  local pid
  for pid in $(pgrep -u "$(id -u)" "$1"); do
    # A process that ends meanwhile has no environment left to read: quietly not this one.
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# utime+stime of a process in clock ticks: fields 14 and 15, counted after the name in field 2,
# which may hold spaces.
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  stat=${stat##*) }
  set -- $stat
  echo $((${12} + ${13}))
}

# Time on a CPU in nanoseconds, summed over the threads there are now (/proc/PID/task/*/schedstat,
# first field): finer than clock ticks, but blind to threads that have ended, so only for phases
# in which the tool starts none.
cpu_ns() {
  local total=0 file ns
  for file in /proc/"$1"/task/*/schedstat; do
    read -r ns _ <"$file" 2>/dev/null && total=$((total + ns))
  done
  echo "$total"
}

process_state() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo gone; return; }
  stat=${stat##*) }
  echo "${stat%% *}"
}

percent_ns() {  # nanoseconds, seconds
  awk -v n="$1" -v s="$2" 'BEGIN { printf "%.2f", 100 * n / 1e9 / s }'
}

percent() {  # ticks, seconds
  awk -v t="$1" -v s="$2" -v hz="$clock_ticks" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

count() { ls "$1" 2>/dev/null | wc -l; }

passed=0
failed=0
check() {  # 1 or 0, name, details of a failure
  if [ "$1" = 1 ]; then
    passed=$((passed + 1)); echo "ok - $2"
  else
    failed=$((failed + 1)); echo "FAIL - $2: $3"
  fi
}

# Runs the bench against one tool and prints its figures and checks.
measure() {
  local tool=$1
  out="$WINE_ENV_DIR/bench.out"
  rm -f "$out"
  mkfifo "$out"
  wine_run explorer /desktop=perf,800x600 "$bench" "$tool" >"$out" 2>"$WINE_ENV_DIR/bench.err" &
  exec 4<"$out"

  tool_pid=
  server_pid=
  declare -A phase_tool phase_ns phase_server phase_time
  soak_threads=
  done_seen=0
  bench_summary=
  deadline=$((SECONDS + 300))
  # Wine's own processes keep the pipe open after the bench ends, so its last line ends the loop.
  while [ $SECONDS -lt $deadline ] && IFS= read -r -t 120 -u 4 line; do
    line=${line%$'\r'}
    case $line in
      "PHASE "*)
        read -r _ name mark <<<"$line"
        if [ -z "$tool_pid" ]; then
          tool_pid=$(prefix_process '^orvane\.exe$')
          server_pid=$(prefix_process '^wineserver')
          echo "tool-linux-pid: ${tool_pid:-none} (wineserver ${server_pid:-none})"
        fi
        if [ -z "$tool_pid" ]; then
          echo "perf: the tool's Linux process was not found" >&2
          continue
        fi
        # Everything is read at once when the line arrives: the wall time with the CPU times, and,
        # while the bench leaves the tool alone after the soak's lines, its threads and descriptors.
        now=$EPOCHREALTIME
        tool_now=$(cpu_ticks "$tool_pid")
        tool_ns=$(cpu_ns "$tool_pid")
        server_now=$(cpu_ticks "${server_pid:-0}")
        threads=$(count "/proc/$tool_pid/task")
        fds=$(count "/proc/$tool_pid/fd")
        state=$(process_state "$tool_pid")
        if [ "$mark" = START ]; then
          phase_tool[$name]=$tool_now
          phase_server[$name]=$server_now
          phase_ns[$name]=$tool_ns
          phase_time[$name]=$now
          if [ "$name" = soak ]; then
            soak_threads=$threads
            soak_fds=$fds
            echo "soak-threads-start: $threads threads"
            echo "soak-fds-start: $fds fds"
          fi
          continue
        fi
        [ -n "${phase_time[$name]:-}" ] || continue
        seconds=$(awk -v a="${phase_time[$name]}" -v b="$now" 'BEGIN { print b - a }')
        echo "$name-tool: $(percent $((tool_now - phase_tool[$name])) "$seconds") % of one core"
        if [ "$name" != soak ]; then  # the soak's workers end before their time can be summed
          echo "$name-tool-schedstat: $(percent_ns $((tool_ns - phase_ns[$name])) "$seconds") % of one core"
        fi
        echo "$name-wineserver: $(percent $((server_now - phase_server[$name])) "$seconds") % of one core"
        echo "$name-seconds: $(printf '%.2f' "$seconds") s"
        if [ "$name" = soak ]; then
          echo "soak-threads-end: $threads threads"
          echo "soak-fds-end: $fds fds"
          # Each Windows thread is a Linux thread with descriptors of its own under Wine; handles to
          # kernel objects are not descriptors, the bench counts those.
          check $([ "$state" != Z ] && [ "$state" != gone ] && [ "$threads" -eq "$soak_threads" ] \
                  && echo 1 || echo 0) \
            "the tool's Linux threads are back where the soak started" \
            "$soak_threads at start, $threads at end, process state $state"
          check $([ "$state" != Z ] && [ "$state" != gone ] && [ "$fds" -eq "$soak_fds" ] \
                  && echo 1 || echo 0) \
            "the tool's file descriptors are back where the soak started" \
            "$soak_fds at start, $fds at end, process state $state"
        fi
        ;;
      *" passed, "*" failed") bench_summary=$line ;;
      DONE) done_seen=1; break ;;
      *) echo "$line" ;;
    esac
  done
  exec 4<&-

  if [ "$done_seen" != 1 ]; then
    echo "FAIL - the bench ran to its end; its error output:"
    cat "$WINE_ENV_DIR/bench.err"
    failed=$((failed + 1))
  fi
  if [[ $bench_summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  fi
  wine_env_kill
}

number=0
for exe in "$@"; do
  number=$((number + 1))
  tool=$(windows_path "$(realpath "$exe")")
  if [ $# -eq 1 ]; then
    measure "$tool"
  else
    echo "# $number: $exe"
    measure "$tool" > >(sed -u "s/^/$number: /")
    wait $!
  fi
done
wine_env_stop
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
