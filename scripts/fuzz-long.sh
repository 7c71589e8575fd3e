#!/usr/bin/env bash
# Long fuzzing run of the readers (scripts/fuzz-targets.sh): AEROSOL_FUZZ_RUNS executions
# (default 10 million) of each reader, one after the other, or only of the readers named as
# arguments.
# The corpus grows in build-fuzz/corpus-long/<reader>/ (seeded as in scripts/fuzz-smoke.sh)
# and is kept between runs, so a later run goes on where the last one stopped; inputs that
# cause a fault land in build-fuzz/artifacts/<reader>/. Worth adding to fuzz/corpus/ after a
# long run: `<build>/fuzz/fuzz_<reader> -merge=1 fuzz/corpus/<reader> build-fuzz/corpus-long/<reader>`.
# Usage: scripts/fuzz-long.sh [main_inp] [coag_inp] [grow_inp] [case_file]
#        AEROSOL_FUZZ_RUNS=50000000 scripts/fuzz-long.sh coag_inp
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-targets.sh
runs=${AEROSOL_FUZZ_RUNS:-10000000}
build=build-fuzz
readers=("$@")
[ ${#readers[@]} -gt 0 ] || readers=("${fuzz_readers[@]}")

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAEROSOL_BUILD_FUZZ=ON -DAEROSOL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${readers[@]/#/fuzz_}" >/dev/null

status=0
for reader in "${readers[@]}"; do
  corpus="$build/corpus-long/$reader"
  mkdir -p "$corpus" "$build/artifacts/$reader"
  mapfile -t seeds < <(fuzz_seeds "$reader" "$build/seeds-$reader")
  log="$build/fuzz-long-$reader.log"
  start=$(date +%s)
  if "$build/fuzz/fuzz_$reader" "$corpus" "${seeds[@]}" \
      -dict="$(fuzz_dict "$reader")" -runs="$runs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$reader/" >"$log" 2>&1; then
    done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    echo "fuzz-long: $reader: ${done_runs:-?} executions in $(( $(date +%s) - start )) s," \
         "$cov, corpus $(ls "$corpus" | wc -l) inputs, no fault (log: $log)"
  else
    echo "fuzz-long: $reader: FAULT (input kept in $build/artifacts/$reader/, log: $log)" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
