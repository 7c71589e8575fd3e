#!/usr/bin/env bash
# The program on 64-bit Arm: cross-builds build-aarch64/aerosol, simulate front door included,
# with Debian's g++-aarch64-linux-gnu (cmake/aarch64-linux-gnu.cmake) against Debian's arm64
# builds of SUNDIALS, NetCDF, OpenBLAS, toml++ and CLI11, unpacked into build-aarch64/sysroot by
# scripts/aarch64-sysroot.sh (why not a multiarch install: see there). Then, under
# qemu-aarch64:
#   - every golden case, standard output byte for byte and the exit status (45 s of qemu time,
#     25 s with -j2, on a quiet two-core machine; 135 s and 71 s on a busy one, 58 s of it the
#     process 3 blow-up case), so no subset is needed;
#   - `aerosol simulate` on the simulate examples, silver-quench and the four legacy example
#     folders (19 s of qemu time; 17-32 s with -j2), whose NetCDF files must have the x86-64
#     program's variables and attributes, and its run figures (temperature, pressure, total
#     number and volume, mean diameter, sigma_g) within a relative 1e-3, ten times the
#     integrator's default tolerance (scripts/compare-netcdf.py). Not bit for bit: the Newton
#     iterations' LU comes from OpenBLAS, whose kernels are the machine's own (AVX2 on x86-64,
#     NEON on Arm) and round differently, so the step sizes, and every figure within the
#     tolerance, differ; the fixed-step processes above are held to the byte.
# The whole stage, from a clean folder with the x86-64 program built: 167 s on a busy
# two-core machine (load 6), about 95 s on a quiet one by its parts (the arm64 packages,
# 23 MB, download in 10-35 s; the cross build takes 30-80 s).
# The x86-64 program is built in build-aarch64/host, or taken from the build folder that
# AEROSOL_HOST_BUILD names (scripts/test.sh: build, which its release stage has built).
# Usage: scripts/test-aarch64.sh [extra ctest arguments for the golden cases, e.g. -R p1-]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-aarch64
sysroot=$PWD/$build/sysroot
cross_libc=/usr/aarch64-linux-gnu
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

for tool in aarch64-linux-gnu-g++ aarch64-linux-gnu-readelf qemu-aarch64; do
  command -v "$tool" >/dev/null || {
    echo "test-aarch64: $tool not found (scripts/setup.sh installs g++-aarch64-linux-gnu and qemu-user)" >&2
    exit 1
  }
done
[ -e "$cross_libc/lib/ld-linux-aarch64.so.1" ] || {
  echo "test-aarch64: no Arm C library in $cross_libc (package libc6-dev-arm64-cross)" >&2
  exit 1
}

start=$(date +%s)
scripts/aarch64-sysroot.sh "$sysroot"
cmake -S . -B "$build" --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DAEROSOL_AARCH64_SYSROOT="$sysroot" -DAEROSOL_SIMULATE=ON \
  -DAEROSOL_BUILD_TESTS=OFF -DAEROSOL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target aerosol
# A stale folder configured for the host would pass the cases without proving anything.
aarch64-linux-gnu-readelf -h "$build/aerosol" | grep -q 'Machine: *AArch64' || {
  echo "test-aarch64: $build/aerosol is not a 64-bit Arm program; remove $build and retry" >&2
  exit 1
}
aarch64-linux-gnu-readelf -d "$build/aerosol" | grep -q 'libsundials_cvode' || {
  echo "test-aarch64: $build/aerosol is built without the simulate front door" >&2
  exit 1
}

host=${AEROSOL_HOST_BUILD:-$build/host}
if [ -z "${AEROSOL_HOST_BUILD:-}" ]; then
  cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DAEROSOL_BUILD_TESTS=OFF \
    -DAEROSOL_PYTHON=OFF >/dev/null
fi
cmake --build "$host" -j"$jobs" --target aerosol
echo "test-aarch64: built in $(( $(date +%s) - start )) s"

libs="$sysroot/usr/lib/aarch64-linux-gnu:$sysroot/lib/aarch64-linux-gnu"
qemu=(qemu-aarch64 -L "$cross_libc" -E "LD_LIBRARY_PATH=$libs")
emulator=$(IFS=';'; echo "${qemu[*]}")
cmake -S tests/golden -B "$build/golden" -DGOLDEN_BINARY="$PWD/$build/aerosol" \
  -DGOLDEN_NAME=aerosol-aarch64 "-DGOLDEN_EMULATOR=$emulator" >/dev/null
start=$(date +%s)
ctest --test-dir "$build/golden" --output-on-failure -j"$jobs" "$@"
echo "test-aarch64: golden cases passed on 64-bit Arm (qemu) in $(( $(date +%s) - start )) s"

# simulate: each case once by the x86-64 program and once under qemu, same arguments (the
# case's path is written into the file), two at a time.
start=$(date +%s)
out=$build/simulate
rm -rf "$out"
mkdir -p "$out/x86-64" "$out/aarch64"
cases=(examples/simulate/*.toml examples/synthesis/silver-quench.toml
  examples/coagulation examples/nucleation-coagulation examples/nucleation-growth
  examples/seeded-growth)
run_case() {  # case, machine, program...
  local case=$1 machine=$2 name
  shift 2
  name=$(basename "$case" .toml)
  if ! "$@" simulate "$case" -o "$out/$machine/$name.nc" >"$out/$machine/$name.log" 2>&1; then
    echo "test-aarch64: simulate $case failed on $machine:" >&2
    cat "$out/$machine/$name.log" >&2
    return 1
  fi
}
export -f run_case
export out
status=0
printf '%s\n' "${cases[@]}" | xargs -P "$jobs" -I{} bash -c \
  'run_case "$@"' _ {} x86-64 "$host/aerosol" || status=1
printf '%s\n' "${cases[@]}" | xargs -P "$jobs" -I{} bash -c \
  'run_case "$@"' _ {} aarch64 "${qemu[@]}" "$build/aerosol" || status=1
[ $status -eq 0 ] || exit 1
for case in "${cases[@]}"; do
  name=$(basename "$case" .toml)
  scripts/compare-netcdf.py --rtol 1e-3 --floor 1e-6 \
    --only temperature,pressure,total_number,particle_volume,total_volume,mean_diameter,geometric_std \
    "$out/x86-64/$name.nc" "$out/aarch64/$name.nc" || status=1
done
[ $status -eq 0 ] || exit 1
echo "test-aarch64: simulate on 64-bit Arm (qemu) matched x86-64 in ${#cases[@]} cases in $(( $(date +%s) - start )) s"
