#!/usr/bin/env bash
# Builds everything and runs the whole test suite, in stages:
#   release    the Release build's tests in build/ (ctest: every label)
#   mutation   small changes to physics lines, each of which some test must catch
#              (mutation-check.sh, in build-mutation/)
#   install    cmake --install, the Debian package, pip's console scripts and the notebook,
#              checked with the source tree out of reach (test-install.sh; reuses build/)
#   aarch64    the program cross-built for 64-bit Arm, golden cases and simulate under qemu
#              (test-aarch64.sh; its x86-64 figures from the release build in build/)
#   clang      the program built by clang++, golden cases (test-clang.sh)
#   sanitized  the suite under AddressSanitizer and UndefinedBehaviorSanitizer (test-sanitized.sh)
#   fuzz       a short fuzzing run of the three input readers and the case-file reader
#              (fuzz-smoke.sh)
# Every stage is required: a missing stage script fails the run. Every stage runs even when an
# earlier one failed, and a summary names the ones that failed; the exit status is 0 only if
# all passed. Under CI (CI=true in the environment, as .ci/run and CI services set it) a
# skipped test fails its stage unless it says why this machine cannot run it
# (scripts/check-skips.py, tests/support/run_unittest.py).
# Usage: scripts/test.sh                   (all of it)
#        AEROSOL_QUICK=1 scripts/test.sh   (the release stage only)
set -euo pipefail
cd "$(dirname "$0")/.."

stages=(release mutation install aarch64 clang sanitized fuzz)
[ "${AEROSOL_QUICK:-0}" = 1 ] && stages=(release)
script_of() {
  case $1 in
    release) echo "" ;;
    mutation) echo scripts/mutation-check.sh ;;
    install) echo scripts/test-install.sh ;;
    aarch64) echo scripts/test-aarch64.sh ;;
    clang) echo scripts/test-clang.sh ;;
    sanitized) echo scripts/test-sanitized.sh ;;
    fuzz) echo scripts/fuzz-smoke.sh ;;
  esac
}
for stage in "${stages[@]}"; do
  script=$(script_of "$stage")
  if [ -n "$script" ] && [ ! -x "$script" ]; then
    echo "test: stage '$stage' needs $script, which is missing or not executable" >&2
    exit 1
  fi
done

scripts/setup.sh
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

release() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DAEROSOL_BUILD_TESTS=ON -DAEROSOL_BUILD_BENCH=ON >/dev/null
  cmake --build build -j"$jobs"
  (cd build && ctest --output-on-failure -j"$jobs" --output-junit ctest-results.xml)
  # Under CI a skip must say why this machine cannot run the test.
  scripts/check-skips.py build/ctest-results.xml
}

# The Arm stage compares its simulate results with the x86-64 program's: the release stage's.
export AEROSOL_HOST_BUILD=build

failed=()
summary=()
for stage in "${stages[@]}"; do
  echo "test: stage $stage" >&2
  start=$(date +%s)
  script=$(script_of "$stage")
  # The stage runs in a subshell with set -e (which an `if` condition would switch off), so a
  # failing build stops it; its failure only marks the stage.
  set +e
  ( set -e; if [ -n "$script" ]; then "$script"; else release; fi )
  status=$?
  set -e
  if [ $status -eq 0 ]; then
    result=passed
  else
    result="FAILED (status $status)"
    failed+=("$stage")
  fi
  summary+=("$(printf '  %-10s %s in %d s' "$stage" "$result" $(( $(date +%s) - start )))")
done

echo "test: summary" >&2
printf '%s\n' "${summary[@]}" >&2
if [ ${#failed[@]} -gt 0 ]; then
  echo "test: failed stages: ${failed[*]}" >&2
  exit 1
fi
echo "test: all stages passed" >&2
