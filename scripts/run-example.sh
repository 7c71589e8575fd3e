#!/usr/bin/env bash
# Builds the program (Release) at build/aerosol and runs one bundled example in its folder.
# Usage: scripts/run-example.sh [coagulation|nucleation-coagulation|nucleation-growth|seeded-growth]
set -euo pipefail
cd "$(dirname "$0")/.."
example="${1:-coagulation}"
[ -d "examples/$example" ] || { echo "no example named '$example' under examples/" >&2; exit 2; }
# Set-up and build messages go to standard error: standard output carries the results only.
{
  scripts/setup.sh
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" --target aerosol
} 1>&2
cd "examples/$example"
exec ../../build/aerosol
