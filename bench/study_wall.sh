#!/bin/sh
# The wall time of a parameter study (scripts/study) with one job and with
# two side by side: bratu along the arclength over 12 lengths L, each run
# on one thread, best of REPEAT studies per job count, each study in a
# fresh folder. Two rows: the plain runs (a fifth of a second of
# arithmetic each, the rest the syncs of their files at the end), and the
# same runs with every record checked (--check-digits 1), which are
# arithmetic.
# Usage: sh bench/study_wall.sh [PROGRAM] [REPEAT]
set -eu
cd "$(dirname "$0")/.."
program=${1:-build/bin/bratu}
repeat=${2:-3}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
best() { # best wall time in ms of REPEAT studies with -j $1 and the options after it
  b=""
  i=0
  jobs=$1
  shift
  while [ "$i" -lt "$repeat" ]; do
    rm -rf "$dir/s"
    t0=$(date +%s%N)
    TERM=xterm bash scripts/study -j "$jobs" --dir "$dir/s" "$program" --threads 1 \
      --continuation arclength "$@" --param L=0.5:0.25:3.25 </dev/null >/dev/null 2>&1 || true
    t=$(( ($(date +%s%N) - t0) / 1000000 ))
    if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi
    i=$((i + 1))
  done
  echo "$b"
}
row() { # what, then the options of the runs
  what=$1
  shift
  echo "$(best 1 "$@")" "$(best 2 "$@")" | awk -v w="$what" \
    '{printf "%-28s -j 1 %6.2f s   -j 2 %6.2f s   speed-up %.2f\n", w, $1/1000, $2/1000, $1/$2}'
}
row "12 bratu runs" --records 1000000
row "12 bratu runs, checked" --check-digits 1
