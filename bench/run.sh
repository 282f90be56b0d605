#!/usr/bin/env bash
# Builds the host preset and prints the median of nine runs of each core benchmark.
# Extra arguments go to core_bench, e.g. --benchmark_filter=ContainsPattern.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build build/host --target core_bench
# bytes_per_second is in binary units: G/s is GiB/s.
build/host/bench/core_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true "$@" |
  grep -E '^Benchmark|_median'
