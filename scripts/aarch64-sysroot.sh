#!/usr/bin/env bash
# Fills a folder with Debian 12's 64-bit Arm builds of the libraries `aerosol simulate` links
# (SUNDIALS, NetCDF and what it loads, toml++) and of their development files (headers, CMake
# package files, CLI11), for the Arm cross build (cmake/aarch64-linux-gnu.cmake) and its runs
# under qemu.
#
# Why not a multiarch install (dpkg --add-architecture arm64, apt-get install pkg:arm64): in
# Debian 12, libsundials-dev:arm64 is not installable beside the amd64 tools (it wants
# gfortran:arm64 and an arm64 MPI), and libnetcdf-dev:arm64 would make apt remove the
# installed libnetcdf-dev, libhdf5-dev and hdf5-helpers (none of them is Multi-Arch: same).
# So the packages are downloaded with a private apt state (arm64 package lists in the folder;
# the machine's dpkg and apt set-up are not touched, no root needed) from the machine's own
# Debian sources, and unpacked with dpkg-deb -x. Nothing is installed.
#
# Which packages: the development packages and every SUNDIALS library package (its CMake
# files check that all the libraries they name exist), without their dependencies; then the
# libraries the program loads and their dependencies (Depends and Pre-Depends, first of
# alternatives), less those that the cross toolchain has (C and C++ runtimes) and the PETSc
# and KLU solver libraries, which only SUNDIALS solvers that the program does not use load.
# The link (ld -rpath-link into the folder) and the runs under qemu fail if that was not
# enough.
#
# Safe to run again: a complete folder made by this same script is left as it is. The package
# lists and the downloaded packages are in <folder>.apt/.
# Usage: scripts/aarch64-sysroot.sh <folder>     (scripts/test-aarch64.sh: build-aarch64/sysroot)
set -euo pipefail
sysroot=${1:?usage: scripts/aarch64-sysroot.sh <folder>}
mkdir -p "$sysroot"
sysroot=$(cd "$sysroot" && pwd)
state="$sysroot.apt"

development=(libsundials-dev libnetcdf-dev libtomlplusplus-dev libcli11-dev libopenblas-serial-dev)
loaded=(libsundials-cvode6 libsundials-nvecserial6 libsundials-sunlinsol3 libsundials-sunmatrix4
  libnetcdf19 libtomlplusplus3 libopenblas0-serial)
not_followed=(libc6 libgcc-s1 libstdc++6 libgomp1 libatomic1 gcc-12-base
  libpetsc-real3.18 libsundials-nvecparallel-petsc6 libklu1)

# The folder is remade when this script changes.
stamp="$sysroot/.made-by"
wanted=$(sha256sum "$0" | cut -d" " -f1)
if [ -f "$stamp" ] && [ "$(head -n 1 "$stamp")" = "$wanted" ]; then
  exit 0
fi

for tool in apt-get apt-cache dpkg-deb python3; do
  command -v "$tool" >/dev/null || { echo "aarch64-sysroot: $tool not found" >&2; exit 1; }
done

rm -rf "$state/debs"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/debs"
: >"$state/status"
apt_options=(-o APT::Architecture=arm64 -o APT::Architectures::=arm64
  -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache"
  -o Dir::Cache::pkgcache="$state/cache/pkgcache.bin"
  -o Dir::Cache::srcpkgcache="$state/cache/srcpkgcache.bin"
  -o Dir::State::status="$state/status" -o Debug::NoLocking=1)
echo "aarch64-sysroot: reading Debian's arm64 package lists" >&2
# As root, apt drops to the _apt user for downloads, which cannot write into the folder.
apt-get "${apt_options[@]}" -o APT::Sandbox::User=root -qq update >&2

# The package names to fetch: the development packages, the SUNDIALS library packages that
# libsundials-dev names, and the closure of the loaded libraries.
packages=$(
  apt-cache "${apt_options[@]}" dumpavail | python3 -c '
import sys

development, loaded, not_followed = (a.split() for a in sys.argv[1:4])
records = {}
for block in sys.stdin.read().split("\n\n"):
    record, key = {}, None
    for line in block.splitlines():
        if line[:1] in (" ", "\t") and key:
            record[key] += " " + line.strip()
        elif ":" in line:
            key, value = line.split(":", 1)
            record[key] = value.strip()
    if "Package" in record:
        records[record["Package"]] = record

def dependencies(name):
    if name not in records:
        sys.exit(f"aarch64-sysroot: no arm64 package {name} in the package lists")
    names = []
    for field in ("Pre-Depends", "Depends"):
        for group in filter(None, (g.strip() for g in records[name].get(field, "").split(","))):
            names.append(group.split("|")[0].split("(")[0].strip().split(":")[0])
    return names

chosen = list(development)
chosen += [n for n in dependencies("libsundials-dev") if n.startswith("libsundials-")]
queue, seen = list(loaded), set(not_followed)
while queue:
    name = queue.pop()
    if name in seen:
        continue
    seen.add(name)
    chosen.append(name)
    queue += dependencies(name)
print("\n".join(sorted(set(chosen))))
' "${development[*]}" "${loaded[*]}" "${not_followed[*]}"
)

echo "aarch64-sysroot: fetching $(echo "$packages" | wc -l) arm64 packages" >&2
# shellcheck disable=SC2086
(cd "$state/debs" && apt-get "${apt_options[@]}" -o APT::Sandbox::User=root -qq download $packages >&2)

rm -rf "$sysroot"
mkdir -p "$sysroot"
for p in $packages; do
  deb=$(ls "$state/debs/${p}"_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || { echo "aarch64-sysroot: package $p was not downloaded" >&2; exit 1; }
  dpkg-deb -x "$deb" "$sysroot"
done
# Links to absolute paths would point into this machine's own /usr: make them relative.
find "$sysroot" -type l -lname '/*' | while read -r link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done
# NetCDF's CMake package file names the libraries a static libnetcdf would need by their
# paths on an arm64 machine (/usr/lib/aarch64-linux-gnu/hdf5/serial/libhdf5.so, ...), which
# do not exist here; the shared libnetcdf loads them itself, so the list is dropped.
netcdf_targets="$sysroot/usr/lib/aarch64-linux-gnu/cmake/netCDF/netCDFTargets.cmake"
grep -q 'INTERFACE_LINK_LIBRARIES' "$netcdf_targets" || {
  echo "aarch64-sysroot: $netcdf_targets has changed: check its link libraries" >&2
  exit 1
}
sed -i '/^ *INTERFACE_LINK_LIBRARIES /d' "$netcdf_targets"
{ echo "$wanted"; echo "$packages"; } >"$stamp"
echo "aarch64-sysroot: $(du -sh "$sysroot" | cut -f1) in $sysroot" >&2
