#!/bin/sh
# What looking for branch points costs: records per second of the same
# natural sweeps without and with --branch-points (Bratu has none, so the
# records are the same; the elastica's three are located too), best of
# REPEAT runs, no window. Along the arclength the watch is always on: its
# test is the sign of a determinant whose factors the slope's LU has made.
# Usage: sh bench/branch_cost.sh [BIN_DIR] [REPEAT]
set -eu
bin=${1:-build/bin}
repeat=${2:-5}
. "$(dirname "$0")/best_time.sh"
row() { # name records plain-ms watched-ms
  echo "$1" "$2" "$3" "$4" | awk '{printf "%-22s %5d records  plain %8.1f records/s  watched %8.1f records/s\n", $1, $2, 1000*$2/$3, 1000*$2/$4}'
}
row bratu 57 "$(best "$bin/bratu" --range 0:3.5)" "$(best "$bin/bratu" --range 0:3.5 --branch-points)"
row elastica 397 "$(best "$bin/elastica")" "$(best "$bin/elastica" --branch-points)"
