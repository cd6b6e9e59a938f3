#!/bin/sh
# The wall time of a parameter study (scripts/study) with one job and with
# two side by side: bratu along the arclength over 12 lengths L, each run
# on one thread, best of REPEAT studies per job count, each study in a
# fresh folder.
# Usage: sh bench/study_wall.sh [PROGRAM] [REPEAT]
set -eu
cd "$(dirname "$0")/.."
program=${1:-build/bin/bratu}
repeat=${2:-3}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
best() { # best wall time in ms of REPEAT studies with -j $1
  b=""
  i=0
  while [ "$i" -lt "$repeat" ]; do
    rm -rf "$dir/s"
    t0=$(date +%s%N)
    TERM=xterm bash scripts/study -j "$1" --dir "$dir/s" "$program" --threads 1 \
      --continuation arclength --param L=0.5:0.25:3.25 </dev/null >/dev/null 2>&1
    t=$(( ($(date +%s%N) - t0) / 1000000 ))
    if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi
    i=$((i + 1))
  done
  echo "$b"
}
one=$(best 1)
two=$(best 2)
echo "$one" "$two" | awk '{printf "study of 12 bratu runs: -j 1 %.2f s  -j 2 %.2f s  speed-up %.2f\n", $1/1000, $2/1000, $1/$2}'
