#!/usr/bin/env bash
# Times the long process 2 run (1800 K to 300 K at 1000 K/s, 48 nodes, free molecular:
# 280 coarse passes, then about 27.2 million fine ones) with the program, and estimates the
# straightforward build's time from its passes per second on the first 100,000 passes.
# Usage: bench/long-run.sh [build-dir]   (default build; needs aerosol and aerosol_literal)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/long-run/main.inp" "$work/"
cd "$work"
start=$(date +%s.%N)
"$build/aerosol" > full.out
end=$(date +%s.%N)
rows=$(grep -c . full.out)
passes=$(( (rows - 2 - 48) * 50 ))
printf 'program: %.1f s for about %d passes (%.2f us per pass)\n' "$(echo "$end - $start" | bc)" \
  "$passes" "$(echo "($end - $start) * 1000000 / $passes" | bc -l)"
# The straightforward build, stopped after a fixed number of passes: the same input with
# the run cut short by a higher end point is not possible, so time it on a run that cools
# over just 100,000 fine passes and scale.
sed -e 's/Starting Temperature(Kelvin): 1800/Starting Temperature(Kelvin): 445/' main.inp > short.inp
mkdir short && mv short.inp short/main.inp && cd short
start=$(date +%s.%N)
"$build/aerosol_literal" > literal.out
end=$(date +%s.%N)
short_passes=$(( ($(grep -c . literal.out) - 2 - 48) * 50 ))
per=$(echo "($end - $start) / $short_passes" | bc -l)
printf 'straightforward build: %.2f us per pass over %d passes; the long run would take %.1f h\n' \
  "$(echo "$per * 1000000" | bc -l)" "$short_passes" "$(echo "$per * $passes / 3600" | bc -l)"
