"""Gathering the runs of a sweep into one table, and plotting a figure of it against a varied
field. Works on the run folders alone, whatever engine ran them."""

import csv
import math
import os
import sys

from .. import _toml, inputs
from .. import output as printed_output
from . import case_files, engines

# Summary figures: (column, key of aerosol.output.summary, meaning).
FIGURES = [
    ("final_total_number", "total_number", "total particle number of the final distribution, #/m3"),
    ("mean_diameter", "mean_diameter", "number-mean diameter of the final distribution, m"),
    ("gsd", "gsd", "geometric standard deviation of the final distribution"),
    ("peak_S", "peak_S", "largest saturation ratio in the progress table (processes 2, 3)"),
    ("peak_S_time", "peak_S_time", "time of the largest saturation ratio, s"),
    ("peak_Jk", "peak_Jk", "largest nucleation rate in the progress table, #/(m3 s)"),
    ("peak_Jk_time", "peak_Jk_time", "time of the largest nucleation rate, s"),
]
FIGURE_NAMES = [f[0] for f in FIGURES]

# Summary figures of a case-file run, read from its NetCDF file: (column, meaning, words and
# unit for a figure's axis, factor from the column's unit to the axis's).
CASE_FIGURES = [
    ("final_total_number", "total particle number at the end, #/m3",
     "final particle number (m⁻³)", 1.0),
    ("mean_diameter", "number-mean particle diameter at the end, m",
     "final number-mean diameter (nm)", 1e9),
    ("gsd", "geometric standard deviation of the particles at the end",
     "final geometric standard deviation", 1.0),
    ("peak_S", "largest saturation ratio at an output time", "peak saturation ratio", 1.0),
    ("peak_S_time", "time of the largest saturation ratio, s", "time of the peak saturation (s)",
     1.0),
    ("peak_J", "largest nucleation rate at an output time, #/(m3 s)",
     "peak nucleation rate (m⁻³ s⁻¹)", 1.0),
    ("peak_J_time", "time of the largest nucleation rate, s",
     "time of the peak nucleation rate (s)", 1.0),
    ("steps", "integrator steps of the run", "integrator steps", 1.0),
    ("rhs_evaluations", "right-hand-side evaluations of the run",
     "right-hand-side evaluations", 1.0),
    ("jacobian_evaluations", "Jacobian evaluations of the run", "Jacobian evaluations", 1.0),
]
CASE_FIGURE_NAMES = [f[0] for f in CASE_FIGURES]
COUNTS = ("steps", "rhs_evaluations", "jacobian_evaluations")

# The program's status for a run that left the physical range or could not go on.
LEFT_RANGE_STATUS = 3
LEFT_RANGE = "left the physical range"


def _lines(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return [line.strip() for line in f if line.strip()]
    except OSError:
        return []


def first_line(path):
    lines = _lines(path)
    return lines[0] if lines else ""


def program_message(path):
    """Why the program stopped: its first "aerosol:" line on standard error that is not a
    warning (a run warns when it first leaves the physical range, then says why it stops),
    else its first "aerosol:" line."""
    messages = [line for line in _lines(path) if line.startswith("aerosol:")]
    stops = [line for line in messages if not line.startswith("aerosol: warning:")]
    return (stops or messages or [""])[0]


def _read(path):
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            return f.read()
    except OSError:
        return None


def _program_line(path):
    """Why `aerosol simulate` stopped: its first line that names the program and is not a
    warning."""
    lines = [line for line in _lines(path) if line.startswith("aerosol")]
    stops = [line for line in lines if "warning:" not in line]
    return (stops or lines or [""])[0]


def _netcdf_figures(path):
    """The summary figures and run_end of a case-file run's NetCDF file."""
    from .. import plot_simulate as aps
    ds = aps.open_results(path)
    figures = aps.summary(ds)
    out = {"final_total_number": figures["total_number"],
           "mean_diameter": figures["mean_diameter"], "gsd": figures["gsd"],
           "peak_S": figures["peak_S"], "peak_S_time": figures["peak_S_time"],
           "peak_J": figures["peak_J"], "peak_J_time": figures["peak_J_time"]}
    for name in COUNTS:
        out[name] = figures[name]
    if aps.first_particle_node(ds) == 0:
        # No vapour: S and J are zero throughout, their peaks mean nothing.
        for name in ("peak_S", "peak_S_time", "peak_J", "peak_J_time"):
            out[name] = math.nan
    return out, figures["run_end"]


def _finished_result(run, row, stale_message):
    """The run's result record, or None with row["state"] saying why there is none to read."""
    result = engines.read_json(os.path.join(run.folder, engines.RESULT))
    record = engines.read_json(os.path.join(run.folder, engines.RECORD))
    if result is None:
        row["state"] = "not run" if record is None else "unfinished"
        return None
    if result.get("inputs") != engines.inputs_digest(run.inputs):
        # The folder holds a run of other inputs (the sweep file changed since).
        row["state"] = "stale"
        row["message"] = stale_message
        return None
    return result


def summarise_case_run(run):
    """One row for a case-file run, from result.json and its NetCDF file."""
    row = {"run": run.name}
    row.update(run.values)
    row.update({"state": "", "status": "", "wall_time": "", "run_end": "", "message": ""})
    row.update({name: math.nan for name in CASE_FIGURE_NAMES})
    result = _finished_result(
        run, row, "the case differs from the sweep file's; run the sweep again")
    if result is None:
        return row
    status = result.get("status")
    row["status"] = status
    row["wall_time"] = result.get("wall_time", "")
    stderr = os.path.join(run.folder, engines.STDERR)
    nc = os.path.join(run.folder, engines.RESULTS)
    if status == 1:
        # The case was refused before anything ran: the message names the key and value.
        row["state"] = "refused"
        row["message"] = _program_line(stderr) or first_line(stderr)
        return row
    if status not in (0, LEFT_RANGE_STATUS):
        row["state"] = "failed"
        row["message"] = _program_line(stderr) or first_line(stderr)
        if result.get("signal"):
            row["message"] = (f"killed by signal {result['signal']}; " + row["message"]).strip("; ")
        return row
    error = ""
    try:
        figures, run_end = _netcdf_figures(nc)
    except Exception as e:  # noqa: BLE001 - whatever the file's fault, the row says it
        figures, run_end = None, ""
        error = str(e)
    row["run_end"] = run_end
    if status == LEFT_RANGE_STATUS:
        # The integrator failed (or the run was interrupted): the figures of the times it
        # reached are no result, but its counts say how hard it tried.
        row["state"] = LEFT_RANGE
        row["message"] = _program_line(stderr) or run_end or \
            "exit status 3 without a message on standard error"
        if figures:
            for name in COUNTS:
                row[name] = figures[name]
        return row
    if figures is None:
        row["state"] = "unreadable"
        row["message"] = f"results could not be read: {error}"
        return row
    row.update(figures)
    row["state"] = "ok" if run_end == "complete" else "incomplete"
    warnings = [line for line in _lines(stderr) if "warning" in line]
    if warnings:
        row["message"] = warnings[0]
    return row


def summarise_run(run):
    """One row for a run: its varied values, how it ended and its summary figures."""
    if engines.CASE in run.inputs:
        return summarise_case_run(run)
    row = {"run": run.name}
    row.update(run.values)
    row.update({"state": "", "status": "", "wall_time": "", "process": "", "message": ""})
    row.update({name: math.nan for name in FIGURE_NAMES})
    result = _finished_result(run, row, "inputs differ from the sweep file; run the sweep again")
    if result is None:
        return row
    status = result.get("status")
    row["status"] = status
    row["wall_time"] = result.get("wall_time", "")
    stdout = _read(os.path.join(run.folder, engines.STDOUT)) or ""
    if status == LEFT_RANGE_STATUS:
        # The run stopped itself: a value became not finite, or time or temperature stopped
        # advancing. Its own message says which; what it printed before is no result.
        row["state"] = LEFT_RANGE
        row["message"] = program_message(os.path.join(run.folder, engines.STDERR)) or \
            "exit status 3 without a message on standard error"
        return row
    if status != 0:
        row["message"] = first_line(os.path.join(run.folder, engines.STDERR))
        # Status 1 with nothing on standard output: the program refused the input.
        row["state"] = "refused" if status == 1 and not stdout.strip() else "failed"
        if result.get("signal"):
            row["message"] = (f"killed by signal {result['signal']}; " + row["message"]).strip("; ")
        return row
    try:
        process = inputs.scan(run.inputs["main.inp"], inputs.MAIN)["process"]
        row["process"] = process
        if process not in (1, 2, 3, 4):
            row["state"] = "ok"
            row["message"] = f"process {process} runs nothing"
            return row
        output = printed_output.parse_output(stdout, process=process)
        grid = inputs.node_grid(inputs.read_run_inputs(run.folder))
        figures = printed_output.summary(output, grid)
    except (printed_output.OutputError, inputs.InputError, ValueError, OSError) as e:
        row["state"] = "unreadable"
        row["message"] = f"output could not be read: {e}"
        return row
    # Processes 3 and 4 print a distribution only every 399,999 passes or 1000 steps; a run
    # shorter than that has none, which is not a distribution of zero particles.
    has_distribution = output.final if process in (1, 2) else \
        (output.listings if process == 3 else output.blocks)
    last = [n for _, n in output.final] if process in (1, 2) else \
        (output.listings[-1] if output.listings else []) if process == 3 else \
        (output.blocks[-1][1] if output.blocks else [])
    finite = all(math.isfinite(n) for n in last)
    for name, key, _ in FIGURES:
        if key in ("total_number", "mean_diameter", "gsd") and not (has_distribution and finite):
            continue
        if key in figures:
            row[name] = figures[key]
    row["state"] = "ok" if output.complete else "incomplete"
    notes = []
    if not has_distribution:
        notes.append("no size distribution printed (run too short)")
    elif not finite:
        notes.append("the final distribution holds values that are not finite")
    # A run that ended well may still have warned (a concentration left the physical range).
    warning = first_line(os.path.join(run.folder, engines.STDERR))
    if warning:
        notes.append(warning)
    row["message"] = "; ".join(notes)
    return row


def collect(sweep):
    return [summarise_run(run) for run in sweep.runs]


def columns(sweep):
    if sweep.kind == "case":
        return ["run"] + sweep.fields + ["state", "status", "wall_time"] + \
            CASE_FIGURE_NAMES + ["run_end", "message"]
    return ["run"] + sweep.fields + ["state", "status", "wall_time", "process"] + \
        FIGURE_NAMES + ["message"]


def figure_names(sweep):
    return CASE_FIGURE_NAMES if sweep.kind == "case" else FIGURE_NAMES


def _cell(value):
    if isinstance(value, (list, dict)):
        return _toml.value_text(value)
    if isinstance(value, float):
        if math.isnan(value):
            return ""
        return repr(value)
    return str(value)


def write_csv(sweep, rows, path):
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(columns(sweep))
        for row in rows:
            w.writerow([_cell(row[c]) for c in columns(sweep)])


def _short(value, column):
    if isinstance(value, (list, dict)):
        value = _toml.value_text(value)
    if isinstance(value, float):
        if math.isnan(value):
            return "-"
        if column == "wall_time":
            return f"{value:.2f}"
        return f"{value:.4g}"
    text = str(value)
    if column in ("message", "run_end") and len(text) > 70:
        text = text[:67] + "..."
    return text if text else "-"


def print_table(sweep, rows, out=sys.stdout):
    cols = [c for c in columns(sweep) if c != "run"]
    cells = [[_short(row[c], c) for c in cols] for row in rows]
    widths = [max([len(c)] + [len(r[i]) for r in cells]) for i, c in enumerate(cols)]
    print("  ".join(c.ljust(w) for c, w in zip(cols, widths)).rstrip(), file=out)
    for r in cells:
        print("  ".join(v.ljust(w) for v, w in zip(r, widths)).rstrip(), file=out)


def plot(sweep, rows, x, y, by, output):
    """Draws figure y against field x for the runs that ended well; one curve per value of
    `by` (another varied field), or one per combination of the other varied fields."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    others = [by] if by else [f for f in sweep.fields if f != x]
    groups = {}
    for row in rows:
        if row["state"] not in ("ok", "incomplete"):
            continue
        xv, yv = row[x], row[y]
        if not (isinstance(yv, float) and math.isfinite(yv)):
            continue
        if isinstance(xv, (list, dict)):
            xv = _toml.value_text(xv)
        key = tuple(row[f] if not isinstance(row[f], (list, dict))
                    else _toml.value_text(row[f]) for f in others)
        groups.setdefault(key, []).append((xv, yv))
    if not groups:
        raise ValueError(f"no finished run has a value of {y} to plot")

    case = sweep.kind == "case"
    factor = dict((f[0], f[3]) for f in CASE_FIGURES).get(y, 1.0) if case else 1.0
    fig, ax = plt.subplots(figsize=(6.4, 4.4))
    for key in sorted(groups, key=lambda k: tuple(str(v) for v in k)):
        points = sorted(groups[key], key=lambda p: (str(type(p[0])), p[0]))
        if case:
            label = ", ".join(f"{case_files.words(f)}: {case_files.shown(v)}"
                              for f, v in zip(others, key)) or None
        else:
            label = ", ".join(f"{f} = {inputs.format_value(v, inputs.FIELD_FILE[f].kinds[f])}"
                              for f, v in zip(others, key)) or None
        # Texts (materials) are categories: points, no line between them.
        style = "o" if any(isinstance(p[0], str) for p in points) else "o-"
        ax.plot([p[0] for p in points], [p[1] * factor for p in points], style, label=label)
    xs = [p[0] for g in groups.values() for p in g]
    ys = [p[1] * factor for g in groups.values() for p in g]
    if _wants_log(xs):
        ax.set_xscale("log")
    if _wants_log(ys):
        ax.set_yscale("log")
    if case:
        ax.set_xlabel(case_files.words(x))
        ax.set_ylabel(dict((f[0], f[2]) for f in CASE_FIGURES).get(y, y))
        ax.set_title(f"{dict((f[0], f[2]) for f in CASE_FIGURES).get(y, y).split(' (')[0]} "
                     f"against {case_files.words(x).split(' (')[0]}", fontsize=10)
    else:
        ax.set_xlabel(x)
        meaning = dict((f[0], f[2]) for f in FIGURES).get(y, y)
        ax.set_ylabel(f"{y}\n({meaning})" if len(meaning) < 60 else y, fontsize=9)
        ax.set_title(f"{y} against {x}", fontsize=10)
    ax.grid(True, which="both", alpha=0.3)
    if any(label for label in ax.get_legend_handles_labels()[1]):
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(output, dpi=110)
    plt.close(fig)


def _wants_log(values):
    """Log axis when every value is positive and they span more than a factor of 20."""
    if not all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in values):
        return False                  # texts (a material's name) are categories
    positive = [v for v in values if v > 0]
    return len(positive) == len(values) and len(values) > 1 and \
        max(positive) / min(positive) > 20.0
