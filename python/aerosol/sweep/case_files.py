"""Case files of `aerosol simulate` as the base of a sweep: values set by dotted path
(`temperature.cooling_rate`, `grid.nodes`, `material`) and written back as TOML by the
package's one writer (aerosol._toml). Comments of the base file are not kept; each run's
case.toml starts with a comment naming the base and the values set."""

import math

from .._toml import BARE_KEY, value_text
# Words for the axes and legends of sweep figures; any other key is shown as its path.
WORDS = {
    "temperature.cooling_rate": "cooling rate (K/s)",
    "temperature.start": "starting temperature (K)",
    "grid.nodes": "number of nodes",
    "grid.spacing": "volume ratio of neighbouring nodes",
    "gas.pressure": "gas pressure (atm)",
    "gas.molar_mass": "carrier gas molar mass (kg/mol)",
    "material": "material",
    "material.name": "material",
    "material.density": "particle density (kg/m³)",
    "material.molar_mass": "molar mass (kg/mol)",
    "material.vapor_pressure_c": "vapour-pressure constant C",
    "material.vapor_pressure_d": "vapour-pressure constant D (K)",
    "material.surface_tension_a": "surface tension A (dyne/cm)",
    "initial.saturation_ratio": "starting saturation ratio",
    "initial.monomer_concentration": "starting monomer concentration (m⁻³)",
    "initial.particles.concentration": "starting particle concentration (m⁻³)",
    "initial.particles.diameter": "starting particle diameter (nm)",
    "end.temperature": "end temperature (K)",
    "end.time": "end time (s)",
    "tolerances.relative": "relative tolerance",
    "tolerances.absolute": "absolute tolerance (m⁻³)",
}


class CaseError(ValueError):
    """A dotted path or value that cannot go into a case file."""


def words(path):
    return WORDS.get(path, path)


def flatten_vary(table, prefix=""):
    """[vary] as {dotted path: list of values}. `temperature.cooling_rate = [...]` reaches
    here as nested tables and `"temperature.cooling_rate" = [...]` as one key; both give
    the same path. A list is always the list of values (a value may itself be an array or
    an inline table); a single value stands for a list of one."""
    out = {}
    for key, value in table.items():
        path = f"{prefix}{key}"
        if isinstance(value, dict):
            out.update(flatten_vary(value, path + "."))
        else:
            out[path] = value if isinstance(value, list) else [value]
    return out


def split_path(path):
    parts = path.split(".")
    if not all(BARE_KEY.fullmatch(p) for p in parts):
        raise CaseError(f"{path!r} is not a dotted path of case-file keys (letters, digits, "
                        "'_' and '-' between dots)")
    return parts


def check_value(value, where):
    """Refuses what TOML or the case file cannot hold: dates, and numbers that are not
    finite (the program refuses nan and inf anyway; better before the runs than in each)."""
    if isinstance(value, bool) or isinstance(value, (int, str)):
        return
    if isinstance(value, float):
        if not math.isfinite(value):
            raise CaseError(f"{where}: {value!r} is not a finite number")
        return
    if isinstance(value, list):
        for item in value:
            check_value(item, where)
        return
    if isinstance(value, dict):
        for key, item in value.items():
            check_value(item, f"{where}.{key}")
        return
    raise CaseError(f"{where}: {value!r} is not a number, text, boolean, array or table")


def check_path(base, path):
    """The path must lead through tables of the base: setting `grid.nodes.x` when
    `grid.nodes` is a number is refused here; a key the base lacks is added (the program
    refuses keys it does not know)."""
    node = base
    parts = split_path(path)
    for depth, part in enumerate(parts[:-1]):
        if part not in node:
            return
        node = node[part]
        if not isinstance(node, dict):
            raise CaseError(f"{path}: {'.'.join(parts[:depth + 1])} of the base case is "
                            "not a table")


def set_path(case, path, value):
    node = case
    parts = split_path(path)
    for part in parts[:-1]:
        node = node.setdefault(part, {})
    node[parts[-1]] = value


def shown(value):
    """A value as a folder name or legend shows it."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, (int, str)):
        return str(value)
    return value_text(value)
