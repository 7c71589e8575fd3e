#!/usr/bin/env bash
# Installs what building, testing and plotting need, from Debian's packages (Debian 12), where
# missing.
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(
  cmake g++ make bc          # build (bc: the timing scripts)
  libgtest-dev libgmock-dev  # unit tests
  libbenchmark-dev           # benchmarks
  clang libclang-rt-14-dev   # fuzzing and sanitizer runtimes; the clang build
  libomp-dev                 # OpenMP for clang (SUNDIALS' CMake files ask for it)
  g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user  # 64-bit Arm cross build, run under qemu
  # (simulate's arm64 libraries are unpacked, not installed: scripts/aarch64-sysroot.sh)
  libsundials-dev libnetcdf-dev netcdf-bin libtomlplusplus-dev libcli11-dev  # `aerosol simulate`
  libopenblas-serial-dev     # its dense LU (LAPACK), single-threaded
  pybind11-dev python3-dev python3-venv python3-xarray python3-netcdf4  # the Python module (pip install . into a venv) and NetCDF files
  python3 python3-numpy python3-matplotlib  # plotting companion (Debian's /usr/bin/python3)
  python3-scipy              # validation/closed_forms.py: the Bessel function of Scott's solution
  parallel slurmctld slurmd slurm-client munge  # parameter sweeps and their tests
  dpkg-dev                   # dpkg-shlibdeps: the Debian package's library dependencies (cpack -G DEB)
  jupyter-nbconvert python3-ipykernel  # executing the example notebook
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
