"""Reading what the aerosol program prints.

    from aerosol.output import parse_output, summary
    from aerosol.inputs import read_run_inputs, node_grid

    run = parse_output(open("out.txt").read())     # any of the four processes
    grid = node_grid(read_run_inputs("examples/seeded-growth"))  # node diameters (m)
    figures = summary(run, grid)

The program's standard output is a set of tab-separated tables whose lines begin with a line
feed; the output ends without one.  Some columns are not what their heading says (see
COLUMNS and docs/outputs.md); the parser names every column by what it holds.

Only the Python standard library is needed here; plotting lives in aerosol.plot.
"""

from __future__ import annotations

import csv
import math
import os
import re
from dataclasses import dataclass, field

from .inputs import diameter_of

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
        with open(path, "w", encoding="ascii", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(header)
            for row in rows:
                out.writerow([_fmt(x) if isinstance(x, float) else x for x in row])
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
