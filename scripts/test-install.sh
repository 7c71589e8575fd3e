#!/usr/bin/env bash
# The install stage of scripts/test.sh: the program installed as users and administrators get
# it, checked from outside the source tree.
#   1. cmake --install into a scratch prefix: the files are there, no path into the source or
#      build tree is baked into them; then, with the source tree hidden (an empty file system
#      mounted over it in a private mount namespace), from the prefix alone: aerosol --version
#      against the Python package's version, an input-file example and a simulate example,
#      aerosol-plot on both, a small aerosol-sweep, and the notebook
#      examples/notebooks/quickstart.ipynb executed by jupyter nbconvert;
#   2. cpack -G DEB: the package's fields and declared dependencies (dpkg-deb -I) and its
#      files (dpkg-deb -c);
#   3. pip install . into a fresh virtual environment: both console scripts' --help, and
#      aerosol.__version__, with the source tree hidden again.
# It reuses the release build in build/ (configuring one there, with the release stage's
# options, when there is none) and builds only what installing needs. Any failed check fails
# the stage. The committed notebook must carry no outputs.
# Usage: scripts/test-install.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

say() { echo "install: $*" >&2; }
fail() { echo "install: FAILED: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/aerosol-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
version=$(sed -n 's/^project(aerosol VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

# The notebook is kept without outputs.
/usr/bin/python3 - examples/notebooks/quickstart.ipynb <<'PY' || fail "the notebook carries outputs"
import json, sys
cells = json.load(open(sys.argv[1]))["cells"]
dirty = [i for i, c in enumerate(cells) if c["cell_type"] == "code"
         and (c.get("outputs") or c.get("execution_count") is not None)]
if dirty:
    sys.exit("cells %s have outputs or execution counts" % dirty)
PY

say "building what the install needs in build/"
if [ -f build/CMakeCache.txt ]; then
  home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' build/CMakeCache.txt)
  [ "$home" = "$repo" ] || fail "build/ was configured from $home, not from $repo"
else
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DAEROSOL_BUILD_TESTS=ON \
    -DAEROSOL_BUILD_BENCH=ON >/dev/null
fi
cmake --build build -j2 --target aerosol _aerosol aerosol_python_files aerosol_manpage >/dev/null

say "cmake --install build --prefix $prefix"
cmake --install build --prefix "$prefix" >/dev/null
for file in bin/aerosol bin/aerosol-plot bin/aerosol-sweep share/man/man1/aerosol.1 \
    lib/python3/dist-packages/aerosol/__init__.py lib/python3/dist-packages/aerosol/plot.py \
    lib/python3/dist-packages/aerosol/sweep/cli.py share/doc/aerosol/README.md \
    share/doc/aerosol/CHANGELOG.md share/doc/aerosol/docs/install.md \
    share/aerosol/examples/coagulation/main.inp \
    share/aerosol/examples/simulate/no-coagulation.toml \
    share/aerosol/examples/notebooks/quickstart.ipynb; do
  [ -e "$prefix/$file" ] || fail "the install has no $file"
done
ls "$prefix"/lib/python3/dist-packages/aerosol/_aerosol.*.so >/dev/null 2>&1 ||
  fail "the install has no compiled module aerosol._aerosol"
left=$(find "$prefix/share/aerosol/examples" -name '*.nc' -o -name '*-runs' -o -name '*-plot.*')
[ -z "$left" ] || fail "results of runs were installed with the examples: $left"
baked=$(grep -rlF -e "$repo" "$prefix" || true)
[ -z "$baked" ] || fail "installed files name the source or build tree: $baked"

# Runs "$@" with the source tree out of reach: an empty file system over it, in a mount
# namespace of its own, with a plain environment (no PATH or PYTHONPATH into the tree).
hidden() {
  local script="mount -t tmpfs aerosol-hidden $(printf %q "$repo") && "
  script+="[ -z \"\$(ls -A $(printf %q "$repo"))\" ] && exec $(printf '%q ' "$@")"
  env -i HOME="$work/home" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
    PYDEVD_DISABLE_FILE_VALIDATION=1 $unshare bash -c "$script"
}
mkdir -p "$work/home"
if unshare -m true 2>/dev/null; then
  unshare="unshare -m"
elif unshare -rm true 2>/dev/null; then
  unshare="unshare -rm"
else
  fail "cannot hide the source tree: unshare -m (mount namespaces) is not permitted here"
fi

say "running from the prefix with the source tree hidden"
cat > "$work/from-prefix.sh" <<'SH'
# The checks that run from the prefix alone: $1 the prefix, $2 a scratch folder, $3 the version.
set -euo pipefail
prefix=$1 scratch=$2 version=$3
export PATH="$prefix/bin:$PATH"
fail() { echo "install: FAILED: $*" >&2; exit 1; }

[ "$(aerosol --version)" = "aerosol $version" ] || fail "aerosol --version: $(aerosol --version)"
python_version=$(PYTHONPATH="$prefix/lib/python3/dist-packages" /usr/bin/python3 -c \
  'import aerosol; print(aerosol.__version__)')
[ "$python_version" = "$version" ] || fail "aerosol.__version__ is $python_version, not $version"
head -1 "$prefix/share/man/man1/aerosol.1" | grep -q '^\.TH AEROSOL 1' || fail "no man page"

# An input-file example (its folder copied: input files are opened for update) and its plot.
cp -r "$prefix/share/aerosol/examples/coagulation" "$scratch/coagulation"
(cd "$scratch/coagulation" && aerosol > out.txt && aerosol-plot out.txt >/dev/null) ||
  fail "the coagulation example or its plot"
[ -s "$scratch/coagulation/out-plot.png" ] || fail "aerosol-plot wrote no out-plot.png"

# A simulate example, its plot and summary.
aerosol simulate "$prefix/share/aerosol/examples/simulate/no-coagulation.toml" \
  -o "$scratch/no-coagulation.nc" 2>/dev/null || fail "aerosol simulate of an example"
aerosol-plot "$scratch/no-coagulation.nc" --summary -o "$scratch/no-coagulation" \
  > "$scratch/summary.txt" || fail "aerosol-plot of a NetCDF file"
grep -qP '^total_number\tlast\t.*\tm-3$' "$scratch/summary.txt" || fail "aerosol-plot --summary"
[ -s "$scratch/no-coagulation.png" ] || fail "aerosol-plot wrote no no-coagulation.png"

# A small sweep of the example's base run; the program is the one beside aerosol-sweep.
mkdir "$scratch/sweep"
cp -r "$prefix/share/aerosol/examples/sweep/base" "$scratch/sweep/base"
printf 'base = "base"\n[vary]\ncoolingRate = [13500.0, 20000.0]\n' > "$scratch/sweep/small.toml"
(cd "$scratch/sweep" && aerosol-sweep run small.toml > run.txt &&
  aerosol-sweep collect small.toml > collect.txt 2>/dev/null) || fail "aerosol-sweep"
grep -q "ran 2 run(s) with parallel.*2 ok" "$scratch/sweep/run.txt" ||
  fail "aerosol-sweep run: $(cat "$scratch/sweep/run.txt")"
[ "$(grep -c ' ok ' "$scratch/sweep/collect.txt")" = 2 ] || fail "aerosol-sweep collect"

# The notebook, executed against the installed package.
cp "$prefix/share/aerosol/examples/notebooks/quickstart.ipynb" "$scratch/"
PYTHONPATH="$prefix/lib/python3/dist-packages" jupyter-nbconvert --to notebook --execute \
  --ExecutePreprocessor.timeout=300 --output executed.ipynb "$scratch/quickstart.ipynb" \
  2> "$scratch/nbconvert.txt" || { cat "$scratch/nbconvert.txt" >&2; fail "the notebook"; }
echo "from the prefix: version, examples, aerosol-plot, aerosol-sweep and the notebook passed"
SH
mkdir "$work/scratch"
hidden bash "$work/from-prefix.sh" "$prefix" "$work/scratch" "$version" >&2

say "cpack -G DEB"
(cd build && cpack -G DEB -B "$work/deb" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/deb/aerosol_"$version"_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no aerosol_${version}_*.deb"
info=$(dpkg-deb -I "$deb")
contents=$(dpkg-deb -c "$deb")
field() { sed -n "s/^ $1: //p" <<< "$info"; }
[ "$(field Package)" = aerosol ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
depends=$(field Depends)
for package in libsundials-cvode6 libnetcdf19 libopenblas0-serial libstdc++6 \
    'python3 (>=' 'python3 (<<' python3-numpy python3-xarray python3-netcdf4 python3-matplotlib; do
  grep -qF "$package" <<< "$depends" || fail "Depends lacks $package: $depends"
done
for file in ./usr/bin/aerosol ./usr/bin/aerosol-plot ./usr/bin/aerosol-sweep \
    ./usr/lib/python3/dist-packages/aerosol/__init__.py \
    ./usr/lib/python3/dist-packages/aerosol/sweep/engines.py \
    ./usr/share/man/man1/aerosol.1 ./usr/share/doc/aerosol/README.md \
    ./usr/share/doc/aerosol/CHANGELOG.md ./usr/share/aerosol/examples/sweep/cooling-rate.toml; do
  grep -qE " $file\$" <<< "$contents" || fail "the package has no $file"
done
grep -qE ' \./usr/lib/python3/dist-packages/aerosol/_aerosol\..*\.so$' <<< "$contents" ||
  fail "the package has no compiled module"
! grep -qE '(\.nc|-plot\.png|/__pycache__/.*)$' <<< "$contents" ||
  fail "the package holds results or byte-compiled files"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './prerm' || fail "the package has no prerm"
say "$(basename "$deb"): Depends: $depends"

say "pip install . into a fresh virtual environment"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
AEROSOL_WHEEL_BUILD_DIR="$repo/build" "$work/venv/bin/pip" install --no-input -q "$repo" \
  > "$work/pip.txt" 2>&1 || { cat "$work/pip.txt" >&2; fail "pip install ."; }
cat > "$work/from-venv.sh" <<'SH'
set -euo pipefail
venv=$1 version=$2
for command in aerosol-plot aerosol-sweep; do
  "$venv/bin/$command" --help | grep -q "^usage: $command" ||
    { echo "install: FAILED: $command --help from the virtual environment" >&2; exit 1; }
done
[ "$("$venv/bin/python" -c 'import aerosol; print(aerosol.__version__)')" = "$version" ] ||
  { echo "install: FAILED: aerosol.__version__ in the virtual environment" >&2; exit 1; }
echo "from the virtual environment: aerosol-plot --help, aerosol-sweep --help, the version passed"
SH
hidden bash "$work/from-venv.sh" "$work/venv" "$version" >&2
say "passed"
