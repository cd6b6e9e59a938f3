#!/bin/sh
# The cost of the accuracy check against the cost of a record's own solve:
# each program run without and with a check of every record, best of
# REPEAT runs, no window; the difference over the records is one check.
# Usage: sh bench/check_cost.sh [BIN_DIR] [REPEAT]
set -eu
bin=${1:-build/bin}
repeat=${2:-5}
. "$(dirname "$0")/best_time.sh"
row() { # name records plain-ms checked-ms
  echo "$1" "$2" "$3" "$4" | awk '{printf "%-20s %5d records  solve %8.3f ms/record  check %8.3f ms/record  ratio %6.1f\n", $1, $2, $3/$2, ($4-$3)/$2, ($4-$3)/$3}'
}
plain=$(best "$bin/bratu" --range 0:3.5)
row bratu/80-bit 57 "$plain" "$(best "$bin/bratu" --range 0:3.5 --check-digits 1)"
row bratu/binary128 57 "$plain" \
  "$(best "$bin/bratu" --range 0:3.5 --check-digits 1 --check-digits-precision 128)"
plain=$(best "$bin/shoot_c1" --records 200)
row shoot_c1/80-bit 200 "$plain" "$(best "$bin/shoot_c1" --records 200 --check-digits 1)"
# A binary128 check of shoot_c1 takes seconds: the 1st, 21st, ... 181st and
# the last, 11 checks, against the same plain run.
checked=$(best "$bin/shoot_c1" --records 200 --check-digits 20 --check-digits-precision 128)
echo "$plain" "$checked" | awk '{printf "%-20s %5d checks   solve %8.3f ms/record  check %8.3f ms/check   ratio %6.1f\n", "shoot_c1/binary128", 11, $1/200, ($2-$1)/11, (($2-$1)/11)/($1/200)}'
