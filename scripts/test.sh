#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the Release build's tests, then the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, then a short fuzzing run.
# Usage: scripts/test.sh            (all of it)
#        AEROSOL_QUICK=1 scripts/test.sh   (Release build's tests only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DAEROSOL_BUILD_TESTS=ON -DAEROSOL_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

[ "${AEROSOL_QUICK:-0}" = 1 ] && exit 0

if [ -x scripts/test-sanitized.sh ]; then scripts/test-sanitized.sh; fi
if [ -x scripts/fuzz-smoke.sh ]; then scripts/fuzz-smoke.sh; fi
