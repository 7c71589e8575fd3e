"""The input files of aerosol (main.inp, coag.inp, grow.inp) and the node grid they set.

    import aerosol.inputs as ai

    values = ai.scan(text, ai.MAIN)                  # {field: value}, read as the program reads
    text = ai.render(ai.MAIN, values)                # a file the program reads back to the same values
    inputs = ai.read_run_inputs("examples/seeded-growth")
    grid = ai.node_grid(inputs)                      # node volumes (m3) and diameters (m)

The templates are the program's: a blank in a template matches any run of white space or none,
every other character must stand in the file exactly (case included), and a value is read as
scanf reads %d (a whole number that fits an int) or %lf (anything strtod reads: decimal, hex,
inf, nan) after leading white space. Text after a file's last value is not read.

Only the Python standard library is needed here.
"""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass

# Constants as the program stores them.
PI = 3.1415926
AVOGADRO = 6.0225e23

INT_MIN, INT_MAX = -2**31, 2**31 - 1

MAIN_TEMPLATE = (
    "Number of nodes: %d Starting Temperature(Kelvin): %lf Cooling Rate(Kelvin/s): %lf "
    "Pressure(Atm): %lf Molecular Weight(Kg/mol): %lf Density(Kg/m3): %lf "
    "Surface Tension in the form A-BT(dyne/cm): A=%lf B=%lf "
    "Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=%lf D=%lf "
    "Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + coagulation + "
    "surface growth,4)surface growth:%d "
    "Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for free "
    "molecular and transition regime:%d "
    "Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=%lf B=%lf"
)
MAIN_FIELDS = (
    "nodeCount", "startTemperature", "coolingRate", "pressure", "molecularWeight", "density",
    "surfaceTensionA", "surfaceTensionB", "vaporPressureC", "vaporPressureD", "process",
    "collisionFunction", "sutherlandA", "sutherlandB",
)

# The leading line end is the program's; as a blank it matches any white space or none.
COAG_TEMPLATE = (
    "\n Initial diameter of monodisperse particles(nm): %lf  "
    "Initial number concentration(#/m3): %lf Temperature(Kelvin): %lf"
)
COAG_FIELDS = ("initialDiameter", "initialConcentration", "temperature")

GROW_TEMPLATE = (
    "Enter the node in which you want to put in particles:%d "
    "Enter the particle number concentration in #/m3 initially:%lf"
)
GROW_FIELDS = ("seedNode", "seedConcentration")

# main.inp of the bundled examples' nucleation runs: a vapour of M = 0.1 kg/mol and
# rho = 2000 kg/m3 cooling from 1500 K in air. Scripts start from it and change what they vary.
EXAMPLE_MAIN = {
    "nodeCount": 20, "startTemperature": 1500.0, "coolingRate": 6000.0, "pressure": 1.0,
    "molecularWeight": 0.1, "density": 2000.0, "surfaceTensionA": 500.0,
    "surfaceTensionB": 0.2, "vaporPressureC": 10.0, "vaporPressureD": 30000.0, "process": 2,
    "collisionFunction": 1, "sutherlandA": 1.458e-6, "sutherlandB": 110.4,
}

_BLANKS = " \t\n\v\f\r"


class InputError(ValueError):
    """An input file does not match its template, or a value cannot be read."""


class InputFile:
    """One input file: its name, template, field names and the kind ('int' or 'real') of each."""

    def __init__(self, name, template, fields):
        self.name = name
        self.template = template
        self.fields = fields
        self.pieces = _split_template(template)
        kinds = [p[1] for p in self.pieces if p[0] == "value"]
        assert len(kinds) == len(fields)
        self.kinds = dict(zip(fields, kinds))


def _split_template(template):
    """The template as ('text', literal) and ('value', 'int'|'real') pieces."""
    pieces = []
    pos = 0
    for m in re.finditer(r"%d|%lf", template):
        if m.start() > pos:
            pieces.append(("text", template[pos:m.start()]))
        pieces.append(("value", "int" if m.group() == "%d" else "real"))
        pos = m.end()
    if pos < len(template):
        pieces.append(("text", template[pos:]))
    return pieces


MAIN = InputFile("main.inp", MAIN_TEMPLATE, MAIN_FIELDS)
COAG = InputFile("coag.inp", COAG_TEMPLATE, COAG_FIELDS)
GROW = InputFile("grow.inp", GROW_TEMPLATE, GROW_FIELDS)
FILES = (MAIN, COAG, GROW)

# Field name -> the input file that holds it.
FIELD_FILE = {field: f for f in FILES for field in f.fields}


def files_read_by(process):
    """The input files that a process reads: main.inp always, coag.inp for 1, grow.inp for 4."""
    if process == 1:
        return (MAIN, COAG)
    if process == 4:
        return (MAIN, GROW)
    return (MAIN,)


# ---------------------------------------------------------------------------------------
# Reading

_INT = re.compile(r"[+-]?[0-9]+")
# What strtod reads: decimal and hexadecimal numbers, inf, infinity and nan(...).
_REAL = re.compile(
    r"[+-]?(?:"
    r"0[xX](?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)(?:[pP][+-]?[0-9]+)?"
    r"|(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
    r"|[iI][nN][fF](?:[iI][nN][iI][tT][yY])?"
    r"|[nN][aA][nN](?:\([0-9A-Za-z_]*\))?"
    r")"
)


def _skip_blanks(text, pos):
    while pos < len(text) and text[pos] in _BLANKS:
        pos += 1
    return pos


def _to_real(token):
    body = token.lstrip("+-")
    sign = -1.0 if token.startswith("-") else 1.0
    if body[:2].lower() == "0x":
        hex_text = body if "p" in body.lower() else body + "p0"
        return sign * float.fromhex(hex_text)
    if body.lower().startswith("nan"):
        return math.nan
    return float(token)  # overflow gives inf and underflow 0 or a subnormal, as strtod does


def _found(text, pos):
    return text[pos:pos + 32] if pos < len(text) else "end of file"


def scan(text, input_file):
    """Reads `text` against the template of `input_file`; returns {field: value}. Raises
    InputError naming the file, the field and what stood there when a value cannot be read."""
    values = {}
    pos = 0
    names = iter(input_file.fields)
    for kind, piece in input_file.pieces:
        if kind == "text":
            field = input_file.fields[len(values)] if len(values) < len(input_file.fields) \
                else None
            t = 0
            while t < len(piece):
                if piece[t] in _BLANKS:
                    while t < len(piece) and piece[t] in _BLANKS:
                        t += 1
                    pos = _skip_blanks(text, pos)
                    continue
                if pos >= len(text) or text[pos] != piece[t]:
                    raise InputError(
                        f"{input_file.name}: label of {field} not found: expected "
                        f"{piece[t:].strip()!r} but found {_found(text, pos)!r} (labels must "
                        "match the template exactly, case included)")
                pos += 1
                t += 1
            continue
        name = next(names)
        pos = _skip_blanks(text, pos)
        m = (_INT if piece == "int" else _REAL).match(text, pos)
        if not m:
            expected = "a whole number" if piece == "int" else "a number"
            raise InputError(f"{input_file.name}: no value for {name}: expected {expected} "
                             f"but found {_found(text, pos)!r}")
        if piece == "int":
            value = int(m.group())
            if not INT_MIN <= value <= INT_MAX:
                raise InputError(f"{input_file.name}: {name} = {m.group()} does not fit an "
                                 f"int (expected {INT_MIN}..{INT_MAX})")
        else:
            value = _to_real(m.group())
        values[name] = value
        pos = m.end()
    return values


def read_input_file(path, input_file):
    """Reads one input file; its bytes are taken one for one as the program takes them."""
    with open(path, "r", encoding="latin-1") as f:
        return scan(f.read(), input_file)


@dataclass
class RunInputs:
    main: dict                  # the fourteen values of main.inp, keyed by field name
    coag: dict | None = None    # initialDiameter (nm), initialConcentration (#/m3), temperature (K)
    grow: dict | None = None    # seedNode, seedConcentration (#/m3)

    @property
    def process(self):
        return self.main["process"]

    @property
    def node_count(self):
        return self.main["nodeCount"]


def read_run_inputs(folder=None, main=None, coag=None, grow=None):
    """Reads main.inp of a run folder, and coag.inp (process 1) or grow.inp (process 4)
    when the process reads it. Explicit file paths override the folder's."""
    if main is None:
        if folder is None:
            raise ValueError("give a run folder or the path of main.inp")
        main = os.path.join(folder, "main.inp")
    base = folder if folder is not None else os.path.dirname(os.path.abspath(main))
    inputs = RunInputs(main=read_input_file(main, MAIN))
    if inputs.process == 1:
        inputs.coag = read_input_file(coag or os.path.join(base, COAG.name), COAG)
    elif inputs.process == 4:
        inputs.grow = read_input_file(grow or os.path.join(base, GROW.name), GROW)
    return inputs


# ---------------------------------------------------------------------------------------
# Writing

def format_value(value, kind):
    """A value as the file holds it. Reals use repr, the shortest text that reads back to the
    same double (at most 17 significant digits); ints are plain decimals."""
    if kind == "int":
        return str(int(value))
    return repr(float(value))


def render(input_file, values):
    """The text of an input file holding `values` (every field of the file): the template's
    labels, one per line, each followed by its value. Short continuation labels ("B=", "D=")
    stay on their line."""
    missing = [f for f in input_file.fields if f not in values]
    if missing:
        raise KeyError(f"{input_file.name}: no value for {', '.join(missing)}")
    out = []
    names = iter(input_file.fields)
    after_value = False
    for kind, piece in input_file.pieces:
        if kind == "value":
            out.append(format_value(values[next(names)], piece))
            after_value = True
            continue
        # Blank runs of the template: a line end after a value unless a short "X=" label
        # follows; nothing at the very start; one space elsewhere.
        for m in re.finditer(r"([" + _BLANKS + r"]+)|([^" + _BLANKS + r"]+)", piece):
            if m.group(1) is not None:
                if not out:
                    continue
                next_word = re.match(r"[^" + _BLANKS + r"]*", piece[m.end():]).group()
                out.append("\n" if after_value and not re.fullmatch(r"[A-Z]=", next_word)
                           else " ")
            else:
                out.append(m.group(2))
            after_value = False
    return "".join(out) + "\n"


def write_run_inputs(folder, main, coag=None, grow=None):
    """Writes main.inp (and coag.inp / grow.inp when given) into `folder` from dicts of
    field values; returns the paths written."""
    os.makedirs(folder, exist_ok=True)
    written = []
    for input_file, values in ((MAIN, main), (COAG, coag), (GROW, grow)):
        if values is None:
            continue
        path = os.path.join(folder, input_file.name)
        with open(path, "w", encoding="ascii") as f:
            f.write(render(input_file, values))
        written.append(path)
    return written


# ---------------------------------------------------------------------------------------
# Node grid

@dataclass
class NodeGrid:
    """Volumes (m3) and diameters (m) of nodes 1..n+1 at index k; index 0 is not a node."""
    volume: list
    diameter: list
    spacing_factor: float

    @property
    def node_count(self):
        return len(self.volume) - 2


def spacing_factor(node_count):
    return math.pow(10.0, 12.0 / float(node_count - 2))


def monomer_volume(molecular_weight, density):
    return molecular_weight / (density * AVOGADRO)


def seed_volume(diameter_nm):
    return math.pow(diameter_nm, 3.0) * (PI * 1e-27) / 6.0


def diameter_of(volume, exponent=0.3333333):
    return math.pow(volume * 6.0 / PI, exponent)


def node_grid(inputs=None, *, node_count=None, first_volume=None, process=None):
    """The node grid of a run as the program builds it: v_k = v_1 * q**(k-1) with
    q = 10**(12/(n-2)); v_1 is the seed volume in process 1 and the monomer volume
    otherwise. Give the RunInputs, or node_count and first_volume."""
    if inputs is not None:
        node_count = inputs.node_count
        process = inputs.process
        if process == 1:
            first_volume = seed_volume(inputs.coag["initialDiameter"])
        else:
            first_volume = monomer_volume(inputs.main["molecularWeight"],
                                          inputs.main["density"])
    if node_count is None or first_volume is None:
        raise ValueError("node_grid needs the run's inputs or node_count and first_volume")
    if node_count < 3:
        raise ValueError("a grid needs at least 3 nodes, got %d" % node_count)
    q = spacing_factor(node_count)
    # The program's cube root: 0.3333333 in processes 1 and 2, 0.333333 in 3 and 4.
    exponent = 0.333333 if process in (3, 4) else 0.3333333
    volume = [math.nan, first_volume]
    for k in range(2, node_count + 2):
        volume.append(math.pow(q, k - 1) * first_volume)
    diameter = [math.nan] + [diameter_of(v, exponent) for v in volume[1:]]
    return NodeGrid(volume=volume, diameter=diameter, spacing_factor=q)
