#!/usr/bin/env bash
# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer: configures build-asan/
# (beside build/, in the repository's root) with -DAEROSOL_SANITIZE=ON, builds it and runs
# ctest there. Any sanitizer report aborts the program under test and so fails its test.
# Tests labelled "slow" are left out (they belong to the optimised build's run).
# Usage: scripts/test-sanitized.sh [extra ctest arguments, e.g. -L input_errors]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-asan
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAEROSOL_SANITIZE=ON \
  -DAEROSOL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$jobs"
# Leaks matter too; abort at the first report of any kind so that it fails the test.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
start=$(date +%s)
(cd "$build" && ctest --output-on-failure -j"$jobs" -LE slow --output-junit ctest-results.xml "$@")
# Under CI a skip must say why this machine cannot run the test.
scripts/check-skips.py "$build/ctest-results.xml"
echo "test-sanitized: suite passed under AddressSanitizer and UndefinedBehaviorSanitizer in $(( $(date +%s) - start )) s"
