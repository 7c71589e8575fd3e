"""Reading what the aerosol program prints, and the input files of a run.

    from aerosol_output import parse_output, read_run_inputs, node_grid, summary

    run = parse_output(open("out.txt").read())     # any of the four processes
    inputs = read_run_inputs("examples/seeded-growth")
    grid = node_grid(inputs)                      # node volumes (m3) and diameters (m)

The program's standard output is a set of tab-separated tables whose lines begin with a line
feed; the output ends without one.  Some columns are not what their heading says (see
COLUMNS and docs/outputs.md); the parser names every column by what it holds.

Only the Python standard library is needed here; plotting lives in aerosol-plot.
"""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass, field

# Constants as the program stores them.
PI = 3.1415926
AVOGADRO = 6.0225e23

# The progress table of each process: (key, printed heading, unit, meaning).
COLUMNS = {
    1: [
        ("t", "t", "s", "time"),
        ("Ninf", "Ninf", "#/m3", "total number concentration, nodes 1..n"),
        ("N1", "N[1]", "#/m3", "concentration of node 1 (the seed size)"),
        ("N5", "N[5]", "#/m3", "concentration of node 5 (0 when n < 5)"),
        ("N10", "N[10]", "#/m3", "concentration of node 10 (0 when n < 10)"),
        # Headed "N[15]" by the program, but it is the total particle volume.
        ("Vtot", "N[15]", "m3/m3", "total particle volume (printed under \"N[15]\")"),
    ],
    2: [
        ("t", "time", "s", "time at the start of the step"),
        ("N1", "Monomer", "#/m3", "vapour monomer concentration"),
        ("Jk", "Jk", "#/(m3 s)", "nucleation rate"),
        ("S", "S", "1", "saturation ratio"),
        ("Dp_mean", "Dp_mean", "m", "diameter of the mean particle volume (nan: no particles)"),
        ("kstar", "k*", "monomers", "monomers in the critical cluster"),
        # Printed without a heading: the header names seven columns, rows carry eight.
        ("Vtot", "", "m3/m3", "total volume of monomers and particles (no heading)"),
        ("Ntot", "Ntot", "#/m3", "particle number concentration, nodes 2..n"),
    ],
    3: [
        ("t", "Time", "s", "time at the start of the pass"),
        ("N1", "N[1]", "#/m3", "vapour monomer concentration"),
        ("Jk", "Jk", "#/(m3 s)", "nucleation rate"),
        ("S", "S", "1", "saturation ratio"),
        ("Dp_mean", "diameter", "m", "diameter of the mean particle volume (nan: no particles)"),
        # "Particle Volume" includes the monomers.
        ("Vtot", "Particle Volume", "m3/m3", "total volume of monomers and particles"),
        ("Ntot", "Total Number", "#/m3", "particle number concentration, nodes 2..n"),
    ],
}

UNITS = {key: unit for cols in COLUMNS.values() for key, _, unit, _ in cols}

_HEADERS = {
    1: "t\t\tNinf\t\tN[1]\t\tN[5]\t\tN[10]\t\tN[15]",
    2: "time\t\tMonomer\t\tJk\t\tS\t\tDp_mean\t\tk*\t\tNtot",
    3: "Time\t\tN[1]\t\tJk\t\tS\t\tdiameter\tParticle Volume\tTotal Number",
}
_SPD_PREFIX = "Estimated time required to reach SPD="
_FINAL_HEADINGS = {
    1: "***Size Distribution after reaching SPD****",
    2: "Final Particle Size Distribution",
}
_VOLUME_NUMBER = "volume\t\tnumber"
_OPEN_WARNING = "Warning: Could not open file"

# One number as "%e" prints it; "nan"/"-nan"/"inf" for values that are not finite.
_NUMBER = r"(?:[-+]?\d\.\d{6}e[-+]\d{2,3}|[-+]?nan|[-+]?inf)"
_NUMBER_RE = re.compile(_NUMBER + r"\Z")
_LISTING_RE = re.compile(r"N(\d+)\t(" + _NUMBER + r")\Z")
_BLOCK_LINE_RE = re.compile(r"N\[(\d+)\]\t(" + _NUMBER + r")\Z")
_BLOCK_TIME_RE = re.compile(r"time=(" + _NUMBER + r")s\Z")


class OutputError(ValueError):
    """The text is not (or not wholly) an output of the program."""


class InputError(ValueError):
    """An input file does not match its template."""


@dataclass
class RunOutput:
    process: int                      # 1..4
    table: list = field(default_factory=list)      # progress rows: dicts keyed as COLUMNS
    final: list = field(default_factory=list)      # processes 1, 2: (volume m3, N #/m3)
    listings: list = field(default_factory=list)   # process 3: [N_1 .. N_{n+1}] per listing
    listing_rows: list = field(default_factory=list)  # process 3: rows printed before each
    blocks: list = field(default_factory=list)     # process 4: (t s, [N_1 .. N_{n-2}])
    spd_estimate: float | None = None  # process 1: estimated time to the SPD, s
    complete: bool = True             # False when the output stops mid-table or mid-line
    truncated_line: str | None = None  # an unfinished last line, if any
    skipped_lines: int = 0            # lines before the output's first table, ignored

    @property
    def columns(self):
        """Keys of the progress rows, in printed order (processes 1-3)."""
        return [c[0] for c in COLUMNS.get(self.process, [])]

    def column(self, key):
        return [row[key] for row in self.table]

    def listing_times(self):
        """Time of the row printed just before each listing of process 3 (None if none).
        A listing comes at most 398 passes after that row."""
        return [self.table[r - 1]["t"] if r > 0 else None for r in self.listing_rows]


def _number(text):
    return float(text)  # float() reads "nan", "-nan", "inf" as the program prints them


def _numbers(line, count):
    """The tab-separated numbers of a row, or None when the line is not such a row."""
    parts = line.split("\t")
    if len(parts) != count or not all(_NUMBER_RE.match(p) for p in parts):
        return None
    return [_number(p) for p in parts]


def detect_process(text):
    """The process (1..4) whose output this is, or None when the text cannot tell."""
    if _SPD_PREFIX in text or "\n" + _HEADERS[1] in text:
        return 1
    if "\n" + _HEADERS[2] in text:
        return 2
    if "\n" + _HEADERS[3] in text:
        return 3
    if re.search(r"\n\ntime=", text):
        return 4
    return None


def parse_output(text, process=None):
    """Parses the standard output of one run.

    `process` is needed only for an empty output, which process 4 gives for a run shorter
    than 1000 steps; otherwise the process is recognised from the text (and must agree).
    Raises OutputError for text that is not an output of the program.
    """
    if isinstance(text, bytes):
        text = text.decode("ascii", errors="replace")
    stripped = text.strip()
    if stripped.startswith(_OPEN_WARNING):
        raise OutputError("the run could not open an input file (\"%s\")" % _OPEN_WARNING)
    detected = detect_process(text)
    if detected is None:
        if stripped == "" and process == 4:
            return RunOutput(process=4)
        if stripped == "":
            raise OutputError("empty output: nothing to recognise the process by "
                              "(an empty output is a process 4 run shorter than 1000 steps)")
        raise OutputError("not an output of the aerosol program: no known table header")
    if process is not None and process != detected:
        raise OutputError("expected an output of process %d, found one of process %d"
                          % (process, detected))
    lines = text.split("\n")
    if detected == 4:
        return _parse_blocks(lines)
    return _parse_tables(lines, detected)


def _mark_unfinished(run, lines, index, what):
    """A line that is not what the table expects: tolerated only as the very last line
    (an output cut off while being written), otherwise an error."""
    line = lines[index]
    if index == len(lines) - 1:
        run.complete = False
        run.truncated_line = line
        return
    raise OutputError("line %d: %s expected, found %r" % (index + 1, what, line[:80]))


def _parse_tables(lines, process):
    run = RunOutput(process=process)
    width = len(COLUMNS[process])
    keys = [c[0] for c in COLUMNS[process]]
    state = "preamble"
    final_seen = False
    for i, line in enumerate(lines):
        if state == "preamble":
            if line.startswith(_SPD_PREFIX):
                match = re.match(re.escape(_SPD_PREFIX) + "(" + _NUMBER + ")s\\Z", line)
                if match:
                    run.spd_estimate = _number(match.group(1))
            elif line == _HEADERS[process]:
                state = "rows"
            elif line.strip():
                run.skipped_lines += 1  # text before the output (a build log, say)
            continue
        if state == "rows":
            if line == "":
                continue
            values = _numbers(line, width)
            if values is not None:
                run.table.append(dict(zip(keys, values)))
                continue
            if process == 3:
                listed = _LISTING_RE.match(line)
                if listed:
                    node = int(listed.group(1))
                    if node == 1:
                        run.listings.append([])
                        run.listing_rows.append(len(run.table))
                    elif not run.listings or node != len(run.listings[-1]) + 1:
                        raise OutputError("line %d: node listing out of order" % (i + 1))
                    run.listings[-1].append(_number(listed.group(2)))
                    continue
            if process in _FINAL_HEADINGS and line == _FINAL_HEADINGS[process]:
                state = "final-heading"
                final_seen = True
                continue
            _mark_unfinished(run, lines, i, "a row of %d numbers" % width)
            continue
        if state == "final-heading":
            if line == "":
                continue
            if line == _VOLUME_NUMBER:
                state = "final"
                continue
            _mark_unfinished(run, lines, i, repr(_VOLUME_NUMBER))
            continue
        if state == "final":
            values = _numbers(line, 2)
            if values is None:
                _mark_unfinished(run, lines, i, "a row of volume and number")
                continue
            run.final.append((values[0], values[1]))
    if state == "preamble":
        run.complete = False
    if process in _FINAL_HEADINGS and (not final_seen or state != "final"):
        run.complete = False
    if process == 3 and run.listings:
        # A listing has n+1 lines; a shorter last one was cut off.
        if len(run.listings) > 1 and len(run.listings[-1]) != len(run.listings[0]):
            run.listings.pop()
            run.listing_rows.pop()
            run.complete = False
    return run


def _parse_blocks(lines):
    run = RunOutput(process=4)
    current = None
    for i, line in enumerate(lines):
        if line == "":
            continue
        timed = _BLOCK_TIME_RE.match(line)
        if timed:
            current = (_number(timed.group(1)), [])
            run.blocks.append(current)
            continue
        listed = _BLOCK_LINE_RE.match(line)
        if listed and current is not None and int(listed.group(1)) == len(current[1]) + 1:
            current[1].append(_number(listed.group(2)))
            continue
        if current is None:
            run.skipped_lines += 1  # text before the first block (a build log, say)
            continue
        _mark_unfinished(run, lines, i, "\"time=...s\" or a node line \"N[k]\\t...\"")
    if len(run.blocks) > 1 and len(run.blocks[-1][1]) != len(run.blocks[0][1]):
        run.blocks.pop()  # the last block was cut off
        run.complete = False
    return run


# ---------------------------------------------------------------------------------------
# Input files

MAIN_TEMPLATE = [
    ("Number of nodes: ", "nodeCount", "d"),
    (" Starting Temperature(Kelvin): ", "startTemperature", "f"),
    (" Cooling Rate(Kelvin/s): ", "coolingRate", "f"),
    (" Pressure(Atm): ", "pressure", "f"),
    (" Molecular Weight(Kg/mol): ", "molecularWeight", "f"),
    (" Density(Kg/m3): ", "density", "f"),
    (" Surface Tension in the form A-BT(dyne/cm): A=", "surfaceTensionA", "f"),
    (" B=", "surfaceTensionB", "f"),
    (" Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=", "vaporPressureC",
     "f"),
    (" D=", "vaporPressureD", "f"),
    (" Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + coagulation"
     " + surface growth,4)surface growth:", "process", "d"),
    (" Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for free"
     " molecular and transition regime:", "collisionFunction", "d"),
    (" Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=", "sutherlandA",
     "f"),
    (" B=", "sutherlandB", "f"),
]
COAG_TEMPLATE = [
    ("\n Initial diameter of monodisperse particles(nm): ", "initialDiameter", "f"),
    ("  Initial number concentration(#/m3): ", "initialConcentration", "f"),
    (" Temperature(Kelvin): ", "temperature", "f"),
]
GROW_TEMPLATE = [
    ("Enter the node in which you want to put in particles:", "seedNode", "d"),
    (" Enter the particle number concentration in #/m3 initially:", "seedConcentration", "f"),
]

_BLANKS = " \t\n\v\f\r"
_INT_RE = re.compile(r"[-+]?\d+")
_REAL_RE = re.compile(
    r"[-+]?(?:0[xX](?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)(?:[pP][-+]?\d+)?"
    r"|(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"
    r"|(?i:infinity|inf|nan(?:\([0-9A-Za-z_]*\))?))")


def _real(token):
    body = token.lstrip("+-")
    sign = -1.0 if token.startswith("-") else 1.0
    if body[:2] in ("0x", "0X"):
        text = body if re.search(r"[pP]", body) else body + "p0"
        return sign * float.fromhex(text)
    if body.lower().startswith("nan"):
        return math.nan
    return float(token)


def scan_template(text, template, file_name):
    """Reads `text` against a template as the program does: a blank of the template matches
    any run of white space or none, every other character must stand there exactly, and a
    value is read after leading white space. Returns a dict of the values; raises
    InputError naming the label that did not match."""
    values = {}
    pos = 0
    for prefix, name, kind in template:
        t = 0
        while t < len(prefix):
            if prefix[t] in _BLANKS:
                while t < len(prefix) and prefix[t] in _BLANKS:
                    t += 1
                while pos < len(text) and text[pos] in _BLANKS:
                    pos += 1
                continue
            if pos >= len(text) or text[pos] != prefix[t]:
                found = text[pos:pos + 32] if pos < len(text) else "end of file"
                raise InputError("%s: label of %s not found: expected %r but found %r "
                                 "(labels must match exactly, case included)"
                                 % (file_name, name, prefix[t:].strip(), found))
            pos += 1
            t += 1
        while pos < len(text) and text[pos] in _BLANKS:
            pos += 1
        match = (_INT_RE if kind == "d" else _REAL_RE).match(text, pos)
        if not match:
            raise InputError("%s: no value for %s: found %r" % (file_name, name,
                                                               text[pos:pos + 32]))
        values[name] = int(match.group(0)) if kind == "d" else _real(match.group(0))
        pos = match.end()
    return values


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


def read_input_file(path, template):
    with open(path, "r", encoding="latin-1") as f:
        return scan_template(f.read(), template, os.path.basename(path))


def read_run_inputs(folder=None, main=None, coag=None, grow=None):
    """Reads main.inp of a run folder, and coag.inp (process 1) or grow.inp (process 4)
    when the process reads it. Explicit file paths override the folder's."""
    if main is None:
        if folder is None:
            raise ValueError("give a run folder or the path of main.inp")
        main = os.path.join(folder, "main.inp")
    base = folder if folder is not None else os.path.dirname(os.path.abspath(main))
    inputs = RunInputs(main=read_input_file(main, MAIN_TEMPLATE))
    if inputs.process == 1:
        inputs.coag = read_input_file(coag or os.path.join(base, "coag.inp"), COAG_TEMPLATE)
    elif inputs.process == 4:
        inputs.grow = read_input_file(grow or os.path.join(base, "grow.inp"), GROW_TEMPLATE)
    return inputs


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


# ---------------------------------------------------------------------------------------
# Summaries

def distribution_stats(diameters, numbers):
    """Total number, number-mean diameter and geometric standard deviation of a nodal
    distribution (nodes with N <= 0 or not finite carry no weight)."""
    pairs = [(d, n) for d, n in zip(diameters, numbers)
             if n > 0 and math.isfinite(n) and d > 0]
    total = sum(n for _, n in pairs)
    if total <= 0:
        return {"total_number": 0.0, "mean_diameter": math.nan, "gsd": math.nan}
    mean = sum(n * d for d, n in pairs) / total
    log_mean = sum(n * math.log(d) for d, n in pairs) / total
    var = sum(n * (math.log(d) - log_mean) ** 2 for d, n in pairs) / total
    return {"total_number": total, "mean_diameter": mean, "gsd": math.exp(math.sqrt(var)),
            "geometric_mean_diameter": math.exp(log_mean)}


def final_distribution(run, grid=None):
    """(diameters m, numbers #/m3) of the run's last distribution: the final table of
    processes 1 and 2; the last node listing of process 3 or the last block of process 4
    (these need the grid), particle nodes only."""
    if run.process in (1, 2):
        exponent = 0.3333333
        return ([diameter_of(v, exponent) for v, _ in run.final], [n for _, n in run.final])
    if grid is None:
        raise ValueError("process %d prints no volumes: give the node grid" % run.process)
    if run.process == 3:
        if not run.listings:
            return [], []
        numbers = run.listings[-1][1:-1]          # nodes 2..n (1 is the vapour, n+1 the guard)
        return grid.diameter[2:2 + len(numbers)], numbers
    if not run.blocks:
        return [], []
    numbers = run.blocks[-1][1][1:]                # nodes 2..n-2
    return grid.diameter[2:2 + len(numbers)], numbers


def _peak(run, key):
    best = None
    for row in run.table:
        value = row[key]
        if math.isfinite(value) and (best is None or value > best[0]):
            best = (value, row["t"])
    return best if best is not None else (math.nan, math.nan)


def summary(run, grid=None):
    """A few numbers per run for comparing runs: the final distribution's total number,
    number-mean diameter (m) and geometric standard deviation; for processes 2 and 3 the
    peak saturation ratio and nucleation rate with their times."""
    result = {"process": run.process, "rows": len(run.table), "complete": run.complete}
    if run.process in (1, 2) or grid is not None:
        diameters, numbers = final_distribution(run, grid)
        result.update(distribution_stats(diameters, numbers))
    if run.process in (2, 3):
        result["peak_S"], result["peak_S_time"] = _peak(run, "S")
        result["peak_Jk"], result["peak_Jk_time"] = _peak(run, "Jk")
        if run.table:
            result["last_Ntot"] = run.table[-1]["Ntot"]
            result["last_Dp_mean"] = run.table[-1]["Dp_mean"]
    return result


# ---------------------------------------------------------------------------------------
# CSV

def _fmt(value):
    return "%.6e" % value if math.isfinite(value) else ("nan" if math.isnan(value) else
                                                         ("inf" if value > 0 else "-inf"))


def write_csv(run, folder, prefix="aerosol", grid=None):
    """Writes the run's tables as CSV files with named columns and units; returns the paths."""
    os.makedirs(folder, exist_ok=True)
    written = []

    def emit(name, header, rows):
        path = os.path.join(folder, "%s-%s.csv" % (prefix, name))
        with open(path, "w", encoding="ascii") as f:
            f.write(",".join(header) + "\n")
            for row in rows:
                f.write(",".join(x if isinstance(x, str) else _fmt(x) if isinstance(x, float)
                                 else str(x) for x in row) + "\n")
        written.append(path)

    if run.process in COLUMNS:
        cols = COLUMNS[run.process]
        emit("table", ["%s [%s]" % (key, unit) for key, _, unit, _ in cols],
             ([row[key] for key, _, _, _ in cols] for row in run.table))
    if run.final:
        first = 1 if run.process == 1 else 2
        emit("final", ["node", "volume [m3]", "diameter [m]", "N [#/m3]"],
             ([first + i, v, diameter_of(v), n] for i, (v, n) in enumerate(run.final)))
    if run.listings:
        times = run.listing_times()
        rows = []
        for index, (listing, time) in enumerate(zip(run.listings, times)):
            for k, n in enumerate(listing, start=1):
                d = grid.diameter[k] if grid is not None and k < len(grid.diameter) else math.nan
                rows.append([index + 1, time if time is not None else math.nan, k, d, n])
        emit("listings", ["listing", "t_previous_row [s]", "node", "diameter [m]", "N [#/m3]"],
             rows)
    if run.blocks:
        rows = []
        for t, numbers in run.blocks:
            for k, n in enumerate(numbers, start=1):
                d = grid.diameter[k] if grid is not None and k < len(grid.diameter) else math.nan
                rows.append([t, k, d, n])
        emit("blocks", ["t [s]", "node", "diameter [m]", "N [#/m3]"], rows)
    return written
