#!/bin/sh
# Builds the project and runs one program (default shoot_c1) in the working
# directory; the results file and the plot picture are written there. Further
# arguments go to the program (--threads N, --dir DIR). Exits with the
# program's status.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
programs="shoot_a1 shoot_a2 shoot_b1 shoot_b2 shoot_c1 shoot_c2"
program="${1:-shoot_c1}"
[ $# -gt 0 ] && shift
case " $programs " in
*" $program "*) ;;
*)
  echo "run.sh: no program named '$program'; the programs are: $programs" >&2
  exit 64
  ;;
esac
dir="$(pwd)"
previous=""
for arg in "$@"; do
  case "$arg" in
  --dir=*) dir="${arg#--dir=}" ;;
  *) [ "$previous" = "--dir" ] && dir="$arg" ;;
  esac
  previous="$arg"
done
# Only the program to run is built; scripts/test.sh builds the rest.
sh "$root/scripts/setup.sh"
[ -f "$root/build/build.ninja" ] ||
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target "$program"
echo "running $program; standard input is empty, so stop it early with Ctrl-C (the records"
echo "and the picture so far are kept), a key in its window, or by closing the window"
# The program ends itself on Ctrl-C; the script stays to report.
trap ':' INT TERM
status=0
"$root/build/bin/$program" "$@" </dev/null || status=$?
echo "results: $dir/ZANFEL.RES  plot: $dir/ZANFEL.PNG and ZANFEL.SVG  exit status: $status"
# A sweep that ended early (statuses 10 to 13) closed ZANFEL.CSV with a line
# that says why and what to try: the console shows it too (the program's own
# summary line goes to a terminal only), with the command that tries it.
case "$status" in
10 | 11 | 12 | 13)
  why="$(tail -n 1 "$dir/ZANFEL.CSV" 2>/dev/null || true)"
  case "$why" in
  "# ended early: "*)
    echo "$program ${why#\# }"
    try="$(echo "$why" | sed -n 's/.*(try \(--[^)]*\))$/\1/p')"
    case "$try" in
    *" or "* | "") echo "the options: sh scripts/run.sh $program --help" ;;
    --budgets* | --tolf* | --tolx* | --ntrial*)
      # The solver's settings may change on a resume, which goes on from
      # the last record; shoot_a1 and shoot_a2 do not resume.
      case "$program" in
      shoot_a*) echo "to go further: sh scripts/run.sh $program $try" ;;
      *) echo "to go further: sh scripts/run.sh $program --resume $try" ;;
      esac
      ;;
    *) echo "to go further: sh scripts/run.sh $program $try" ;;
    esac
    ;;
  esac
  ;;
esac
exit "$status"
