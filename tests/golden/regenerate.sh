#!/usr/bin/env bash
# Writes expected.out and expected.status for every case from a given build of the program.
# The expectations come from the literal reference build (aerosol_literal), never from the
# optimised program they are meant to check: regenerate.sh path/to/aerosol_literal [case ...]
set -euo pipefail
bin=$(realpath "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=($(ls "$here/cases"))
for c in "${cases[@]}"; do
  dir="$here/cases/$c"
  work=$(mktemp -d)
  cp "$dir"/*.inp "$work"/
  start=$(date +%s.%N)
  set +e
  (cd "$work" && "$bin" > "$dir/expected.out" 2> /dev/null)
  status=$?
  set -e
  echo "$status" > "$dir/expected.status"
  printf '%-34s status %3s  %6.2fs  %s bytes\n' "$c" "$status" "$(echo "$(date +%s.%N) - $start" | bc)" "$(wc -c < "$dir/expected.out")"
  rm -rf "$work"
done
