"""The three input files of aerosol: their templates, a reader that follows the same matching
rules as the program (a blank matches any run of white space or none, %d and %lf skip leading
white space, every other character must stand in the file exactly), and a writer whose output
that reader, and the program, read back to the same values."""

import math
import re

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


class InputFile:
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


class TemplateError(ValueError):
    pass


_BLANKS = " \t\n\v\f\r"
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
    return float(token)


def scan(text, input_file):
    """Reads `text` against the template of `input_file`; returns {field: value}. Raises
    TemplateError naming the label and what stood in the file when a value cannot be read."""
    values = {}
    pos = 0
    names = iter(input_file.fields)
    for kind, piece in input_file.pieces:
        if kind == "text":
            t = 0
            while t < len(piece):
                if piece[t] in _BLANKS:
                    while t < len(piece) and piece[t] in _BLANKS:
                        t += 1
                    pos = _skip_blanks(text, pos)
                    continue
                if pos >= len(text) or text[pos] != piece[t]:
                    found = text[pos:pos + 30] if pos < len(text) else "end of file"
                    raise TemplateError(
                        f"{input_file.name}: expected {piece[t:].strip()!r} but found {found!r}")
                pos += 1
                t += 1
        else:
            name = next(names)
            pos = _skip_blanks(text, pos)
            m = (_INT if piece == "int" else _REAL).match(text, pos)
            if not m:
                found = text[pos:pos + 30] if pos < len(text) else "end of file"
                raise TemplateError(f"{input_file.name}: no value for {name}: found {found!r}")
            values[name] = int(m.group()) if piece == "int" else _to_real(m.group())
            pos = m.end()
    return values


def format_value(value, kind):
    """A value as the file holds it. Reals use repr, the shortest text that reads back to the
    same double (at most 17 significant digits); ints are plain decimals."""
    if kind == "int":
        return str(int(value))
    return repr(float(value))


def render(input_file, values):
    """The text of an input file holding `values`: the template's labels, one per line, each
    followed by its value. Short continuation labels ("B=", "D=") stay on their line."""
    out = []
    names = iter(input_file.fields)
    after_value = False
    for kind, piece in input_file.pieces:
        if kind == "value":
            name = next(names)
            out.append(format_value(values[name], piece))
            after_value = True
            continue
        # Blank runs of the template: a line end after a value unless a short "X=" label
        # follows; nothing at the very start; one space elsewhere.
        for m in re.finditer(r"([" + re.escape(_BLANKS) + r"]+)|([^" + re.escape(_BLANKS) + r"]+)",
                             piece):
            if m.group(1) is not None:
                if not out:
                    continue
                rest = piece[m.end():]
                next_word = re.match(r"[^" + re.escape(_BLANKS) + r"]*", rest).group()
                if after_value and not re.fullmatch(r"[A-Z]=", next_word):
                    out.append("\n")
                else:
                    out.append(" ")
            else:
                out.append(m.group(2))
            after_value = False
    return "".join(out) + "\n"
