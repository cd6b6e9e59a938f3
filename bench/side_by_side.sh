#!/bin/sh
# Times two builds of the runner (bench/zanfel_run) side by side: the runs
# alternate between them, so that both see the same load of the machine, and
# each run's outputs are checked to be the same bytes in both builds.
#
#   sh bench/side_by_side.sh OLD NEW [REPEATS]
#
# OLD and NEW are zanfel_run binaries (e.g. one built from an older commit in
# another work tree). Rows: shoot_b1's first 300 records on one thread (pinned
# to one CPU) and on two, and shoot_c1's whole run on one thread and on two.
# For each row: the median and the range of the wall times, and the ratio of
# the medians (OLD / NEW: above 1 means NEW is faster). ROWS=b1 or ROWS=c1
# in the environment keeps the rows of one program only.
set -eu
old=$(realpath "$1")
new=$(realpath "$2")
repeats=${3:-5}
work=$(mktemp -d /tmp/zanfel-sbs-XXXXXX)
trap 'rm -rf "$work"' EXIT
cpus=$(nproc)

# run BINARY DIR PROGRAM RECORDS THREADS CPULIST: prints the wall seconds.
run() {
  rm -rf "$2" && mkdir -p "$2"
  (cd "$2" && start=$(date +%s.%N) &&
    { taskset -c "$6" "$1" "$3" "$4" "$5" </dev/null >stdout.bin; echo $? >exit.txt; } &&
    end=$(date +%s.%N) && echo "$end - $start" | bc)
}

# stats: reads seconds, one a line; prints "median min max".
stats() {
  sort -n | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

row() { # name program records threads cpulist
  : >"$work/old.t"
  : >"$work/new.t"
  i=0
  while [ "$i" -lt "$repeats" ]; do
    run "$old" "$work/old" "$2" "$3" "$4" "$5" >>"$work/old.t"
    run "$new" "$work/new" "$2" "$3" "$4" "$5" >>"$work/new.t"
    for f in ZANFEL.RES stdout.bin exit.txt plot.log; do
      cmp -s "$work/old/$f" "$work/new/$f" || { echo "$1: $f differs" >&2; exit 1; }
    done
    i=$((i + 1))
  done
  set -- "$1" $(stats <"$work/old.t") $(stats <"$work/new.t")
  printf '%-28s %8s [%s..%s] %8s [%s..%s] %6.2f\n' "$1" "$2" "$3" "$4" "$5" "$6" "$7" \
    "$(echo "$2 / $5" | bc -l)"
}

echo "seconds: median [min..max] of $repeats runs each, alternating"
printf '%-28s %-24s %-24s %6s\n' row old new ratio
rows=${ROWS:-b1 c1}
case " $rows " in *" b1 "*)
  row "shoot_b1 300 records /1" b1 300 1 0
  [ "$cpus" -lt 2 ] || row "shoot_b1 300 records /2" b1 300 2 0,1
  ;;
esac
case " $rows " in *" c1 "*)
  row "shoot_c1 whole run /1" c1 0 1 0
  [ "$cpus" -lt 2 ] || row "shoot_c1 whole run /2" c1 0 2 0,1
  ;;
esac
