#!/usr/bin/env bash
# Short fuzzing run of the three input readers (main.inp, coag.inp, grow.inp) and of the case-
# file reader of `aerosol simulate`: builds the libFuzzer targets with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/ and fuzzes each for
# AEROSOL_FUZZ_SECONDS (default 20) seconds, starting from the committed seeds
# (scripts/fuzz-targets.sh: fuzz/corpus/<reader>/, fuzz/regressions/<reader>/, and the example
# case files). New inputs go to a scratch folder, so the committed seeds stay as they are. A
# crash, sanitizer report or broken check fails the script and leaves the input that caused
# it in build-fuzz/artifacts/<reader>/.
# Usage: scripts/fuzz-smoke.sh            AEROSOL_FUZZ_SECONDS=60 scripts/fuzz-smoke.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-targets.sh
seconds=${AEROSOL_FUZZ_SECONDS:-20}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAEROSOL_BUILD_FUZZ=ON -DAEROSOL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${fuzz_readers[@]/#/fuzz_}" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for reader in "${fuzz_readers[@]}"; do
  mkdir -p "$scratch/$reader" "$build/artifacts/$reader"
  mapfile -t seeds < <(fuzz_seeds "$reader" "$scratch/seeds-$reader")
  log="$scratch/$reader.log"
  if "$build/fuzz/fuzz_$reader" "$scratch/$reader" "${seeds[@]}" \
      -dict="$(fuzz_dict "$reader")" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$reader/" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz-smoke: $reader: ${runs:-?} executions in ${seconds} s, no fault"
  else
    echo "fuzz-smoke: $reader: FAULT (input kept in $build/artifacts/$reader/)" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
