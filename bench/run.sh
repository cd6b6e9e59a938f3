#!/bin/sh
# Builds the project and prints the benchmark table: time per run and
# right-hand-side evaluations per second. Arguments go to the benchmark
# (e.g. --benchmark_filter=driver). "/1" rows run one thread, "/2" two, "/0"
# every CPU the process may use.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
sh "$root/scripts/build.sh" >/dev/null
"$root/build/bench/zanfel_bench" --benchmark_counters_tabular=true "$@" 2>/dev/null |
  awk '/^-+$/ { rule = 1 } rule || /^Benchmark|^Run on|^[0-9]+ X/ { print }'
