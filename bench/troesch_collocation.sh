#!/bin/sh
# Troesch's problem from mu = 1 to 20 by 0.25 (77 records) by troesch's
# multiple shooting and by SciPy's collocation solver (solve_bvp at tol 1e-6,
# natural continuation: each mu starts from the mesh and solution of the one
# before), side by side: the runs alternate, so that both see the same load of
# the machine. Each solver's y'(0) is compared with reference values from the
# first integral of the problem at 40 digits (bench/troesch_collocation.py).
#
#   sh bench/troesch_collocation.sh [TROESCH] [REPEATS]
#
# TROESCH is the binary (default: build/bin/troesch), REPEATS the runs of each
# (default: 5). Rows: the median and the range of the wall seconds (troesch:
# the whole process in a fresh folder, stdin from /dev/null; solve_bvp: the
# whole process, and the sweep alone, without the interpreter's start and the
# imports), the worst relative error of y'(0) and the records. Installs
# Debian's python3-scipy and python3-mpmath when /usr/bin/python3 lacks them.
# Exits 1 when a troesch run fails, misses a record or misses 1e-6 relative.
set -eu
troesch=$(realpath "${1:-build/bin/troesch}")
repeats=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
helper=$here/troesch_collocation.py
nodes=0.25,0.5,0.75,0.9,0.97,0.99,0.997,0.999,0.9997,0.9999,0.99997,0.99999,0.999997,0.999999
settings="--threads 2 --nodes $nodes --abserr 1e-30 --relerr 1e-8 --tolx 1e-9"
work=$(mktemp -d /tmp/zanfel-colloc-XXXXXX)
trap 'rm -rf "$work"' EXIT

if ! "$py" -c 'import scipy, mpmath' 2>/dev/null; then
  apt-get update && apt-get install -y python3-scipy python3-mpmath
fi

echo "reference values (mpmath, 40 digits) ..."
"$py" "$helper" reference "$work/ref.txt"

now() { date +%s%N; }
secs() { echo "$1 $2" | awk '{ printf "%.4f\n", ($2 - $1) / 1e9 }'; }

# stats: reads seconds, one a line; prints "median min max".
stats() {
  sort -n | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

: >"$work/troesch.t"
: >"$work/scipy.t"
: >"$work/sweep.t"
i=0
while [ "$i" -lt "$repeats" ]; do
  d=$work/run$i
  mkdir "$d"
  t0=$(now)
  # shellcheck disable=SC2086
  rc=0
  (cd "$d" && "$troesch" --no-window --from 1 --step 0.25 --range 1:20 \
    $settings </dev/null >stdout.txt 2>&1) || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "troesch failed (status $rc):" >&2
    cat "$d/stdout.txt" >&2
    exit 1
  fi
  secs "$t0" "$(now)" >>"$work/troesch.t"
  # worst error, its mu, records, last P
  "$py" "$helper" check "$work/ref.txt" "$d/ZANFEL.CSV" >"$d/check.txt"
  set -- $(cat "$d/check.txt")
  if [ "$3" -ne 77 ] || ! awk -v e="$1" 'BEGIN { exit !(e <= 1e-6) }'; then
    echo "troesch run $i: worst relative error $1 at mu = $2, $3 records of 77" >&2
    exit 1
  fi
  troesch_check="$1 at mu=$2, $3"

  t0=$(now)
  # sweep seconds, worst error, its mu, solves, largest mesh, not converged
  "$py" "$helper" scipy "$work/ref.txt" jac >"$work/scipy.out"
  secs "$t0" "$(now)" >>"$work/scipy.t"
  set -- $(cat "$work/scipy.out")
  echo "$1" >>"$work/sweep.t"
  scipy_check="$2 at mu=$3, $4"
  scipy_mesh="largest mesh $5 points, $6 solves not converged"
  i=$((i + 1))
done

echo "seconds: median [min..max] of $repeats runs each, alternating; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %-22s %s\n' solver "wall s" "worst rel. error y'(0) at mu, records"
row() { # name file check
  set -- "$1" "$3" $(stats <"$2")
  printf '%-34s %6s [%s..%s] %-24s\n' "$1" "$3" "$4" "$5" "$2"
}
row "troesch, 15 segments" "$work/troesch.t" "$troesch_check"
row "solve_bvp tol 1e-6, process" "$work/scipy.t" "$scipy_check"
row "solve_bvp tol 1e-6, sweep alone" "$work/sweep.t" "$scipy_check"
echo "troesch: $settings"
echo "solve_bvp: analytic Jacobians, 11-point start mesh at mu = 1, $scipy_mesh"
