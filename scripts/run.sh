#!/bin/sh
# Builds the project and runs one program (default shoot_c1) in the working
# directory; the results file and the plot picture are written there.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
sh "$root/scripts/build.sh"
program="${1:-shoot_c1}"
"$root/build/drivers/$program" </dev/null || status=$?
echo "results: $(pwd)/ZANFEL.RES  plot: $(pwd)/ZANFEL.PNG  exit status: ${status:-0}"
