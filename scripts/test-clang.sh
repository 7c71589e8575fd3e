#!/usr/bin/env bash
# The program built by clang++ (14) with the project's default options (Release, the simulate
# front door on) in build-clang/: builds the program and the straightforward build and runs
# the golden cases with both, byte for byte: another compiler's optimiser, with the same
# -O2 -ffp-contract=off, must leave every printed digit as it is.
# Usage: scripts/test-clang.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-clang
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

command -v clang++ >/dev/null || {
  echo "test-clang: clang++ not found (scripts/setup.sh installs clang)" >&2
  exit 1
}
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$build/CMakeCache.txt" || {
  echo "test-clang: $build is not configured for clang++; remove it and retry" >&2
  exit 1
}
cmake --build "$build" -j"$jobs" --target aerosol aerosol_literal
start=$(date +%s)
(cd "$build" && ctest --output-on-failure -j"$jobs" -L golden "$@")
echo "test-clang: golden cases passed with clang++ in $(( $(date +%s) - start )) s"
