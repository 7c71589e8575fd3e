#!/usr/bin/env bash
# Checks `pip install .` as a user meets it: a fresh clone of the repository's committed
# state, a virtual environment from Debian's /usr/bin/python3 that sees Debian's numpy, xarray
# and netCDF4, the install (which compiles the module with CMake), then one small run.
# Usage: scripts/check-pip-install.sh [work folder]   (default: a temporary one, removed after)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
"$repo/scripts/setup.sh"

started=$(date +%s)
git clone -q "$repo" "$work/clone"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
(cd "$work/clone" && "$work/venv/bin/pip" install --no-input .)
installed=$(date +%s)

# Outside the clone, so that only the installed package can be imported.
cd "$work"
"$work/venv/bin/python" - <<'PY'
import aerosol
ds = aerosol.simulate({
    "mechanisms": {"nucleation": True, "coagulation": True, "kernel": "free-molecular",
                   "growth": True, "vapor": "depleted"},
    "material": {"molar_mass": 0.1, "density": 2000.0, "surface_tension_a": 500.0,
                 "surface_tension_b": 0.2, "vapor_pressure_c": 10.0, "vapor_pressure_d": 30000.0},
    "grid": {"nodes": 20},
    "initial": {"saturation_ratio": 1.001},
    "temperature": {"law": "cooling", "start": 1500.0, "cooling_rate": 6000.0},
    "end": {"temperature": 300.0},
}, output_times=5)
assert ds.attrs["run_end"] == "complete", ds.attrs["run_end"]
assert float(ds["total_number"][-1]) > 0
import aerosol.output  # the parser of read_legacy and the companions
print("import aerosol %s from %s: a run of %d output times, complete"
      % (aerosol.__version__, aerosol.__file__, ds.sizes["time"]))
PY
echo "check-pip-install: passed (install $((installed - started)) s)"
