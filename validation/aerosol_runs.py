"""Running the aerosol program on generated inputs and reading its tables back.

Each validation check writes its inputs into a fresh folder (through aerosol.inputs,
the input files as the program reads them), runs the program there and parses standard output.

The output parsers below are deliberately this module's own and small: a check against the
program should not read the program's tables with the same parser (aerosol.output)
whose reading it would then also be trusting. They know only the tables the checks need.
"""

import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
import aerosol.inputs as ai  # the source tree's python/ on PYTHONPATH (validation/run-all sets it)

# The material of the bundled examples (M = 0.1 kg/mol, rho = 2000 kg/m3, air as carrier
# gas), as the coagulation example sets it up.
DEFAULT_MAIN = dict(ai.EXAMPLE_MAIN, nodeCount=26, startTemperature=300, coolingRate=1000,
                    process=1)

# Constants of kinetic theory as the program stores them.
BOLTZMANN = 1.38e-23
AVOGADRO = ai.AVOGADRO
monomer_volume = ai.monomer_volume
spacing_factor = ai.spacing_factor


def node_volumes(first_volume, nodes):
    """Node volumes 1..n+1 (index 0 unused) on the program's grid."""
    return ai.node_grid(node_count=nodes, first_volume=first_volume).volume


def arguments(doc, helper_used, figure_help=None):
    """The options every check takes: the program, validation_helper and, for a check that
    draws one, the figure."""
    parser = argparse.ArgumentParser(description=doc.split("\n")[0])
    parser.add_argument("--program", help="the aerosol program (default: $AEROSOL, then "
                        "build-valid/aerosol or build/aerosol)")
    if helper_used:
        parser.add_argument("--helper", required=True,
                            help="validation_helper built from tests/validation")
    else:
        parser.add_argument("--helper", help="not used")
    if figure_help:
        parser.add_argument("--figure", help=figure_help)
    return parser


def pyplot():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def save_figure(fig, path):
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    pyplot().close(fig)


@contextlib.contextmanager
def work_folder(keep, prefix):
    """The folder of a check's runs: `keep` (made if missing, and kept) or a new temporary
    one, removed afterwards."""
    work = keep or tempfile.mkdtemp(prefix=prefix)
    os.makedirs(work, exist_ok=True)
    try:
        yield work
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


def finish(failures):
    """Each failure on standard error; the check's exit status."""
    for f in failures:
        print("FAIL: " + f, file=sys.stderr)
    return 1 if failures else 0


def find_program(explicit=None):
    """The aerosol binary: an explicit path, $AEROSOL, or the first build folder that has one."""
    candidates = [explicit, os.environ.get("AEROSOL")]
    candidates += [os.path.join(REPO, d, "aerosol") for d in ("build-valid", "build")]
    for c in candidates:
        if c and os.path.isfile(c) and os.access(c, os.X_OK):
            return os.path.abspath(c)
    raise SystemExit("validation: no aerosol program found; build it or pass --program PATH")


class RunResult:
    def __init__(self, stdout, stderr, status, seconds):
        self.stdout = stdout
        self.stderr = stderr
        self.status = status
        self.seconds = seconds


def run_program(program, main, coag=None, grow=None, keep_dir=None):
    """Runs the program in a fresh folder with main.inp (and coag.inp / grow.inp) built from
    the given dicts; returns a RunResult. Raises if the program does not exit with 0."""
    folder = tempfile.mkdtemp(prefix="aerosol-validation-")
    try:
        ai.write_run_inputs(folder, dict(DEFAULT_MAIN, **main), coag, grow)
        start = time.monotonic()
        done = subprocess.run([program], cwd=folder, capture_output=True, text=True)
        seconds = time.monotonic() - start
        if keep_dir:
            os.makedirs(keep_dir, exist_ok=True)
            for name in os.listdir(folder):
                shutil.copy(os.path.join(folder, name), keep_dir)
        if done.returncode != 0:
            raise RuntimeError("aerosol exited with status %d in %s:\n%s"
                               % (done.returncode, folder, done.stderr))
        return RunResult(done.stdout, done.stderr, done.returncode, seconds)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _numbers(line):
    try:
        return [float(x) for x in line.split()]
    except ValueError:
        return None


def parse_process1(text):
    """Process 1: (estimate, rows, final). rows: lists [t, Ninf, N1, N5, N10, V];
    final: list of (volume, number) for nodes 1..n-1."""
    estimate = None
    rows, final = [], []
    in_final = False
    for line in text.split("\n"):
        if line.startswith("Estimated time required to reach SPD="):
            estimate = float(line.split("=", 1)[1].rstrip("s"))
            continue
        if line.startswith("***Size Distribution"):
            in_final = True
            continue
        values = _numbers(line)
        if not values:
            continue
        if in_final and len(values) == 2:
            final.append(tuple(values))
        elif not in_final and len(values) == 6:
            rows.append(values)
    return estimate, rows, final


def parse_process2(text):
    """Process 2: (rows, final). rows: [t, N1, Jk, S, Dp_mean, k*, totalVolume, Ntot];
    final: (volume, number) for nodes 2..n. Not-a-number diameters read as nan."""
    rows, final = [], []
    in_final = False
    for line in text.split("\n"):
        if line.startswith("Final Particle Size Distribution"):
            in_final = True
            continue
        parts = line.split()
        if not parts or parts[0] in ("time", "volume"):
            continue
        try:
            values = [float(x) for x in parts]
        except ValueError:
            continue
        if in_final and len(values) == 2:
            final.append(tuple(values))
        elif not in_final and len(values) == 8:
            rows.append(values)
    return rows, final


def parse_process3(text):
    """Process 3: (rows, listings). rows: [t, N1, Jk, S, dp, Vtot, Ntot];
    listings: list of {node: concentration}, each following the row printed with it."""
    rows, listings = [], []
    current = None
    for line in text.split("\n"):
        parts = line.split()
        if len(parts) == 2 and parts[0].startswith("N") and parts[0][1:].isdigit():
            node = int(parts[0][1:])
            if node == 1:
                current = {}
                listings.append((len(rows), current))
            current[node] = float(parts[1])
            continue
        if len(parts) == 7:
            try:
                rows.append([float(x) for x in parts])
            except ValueError:
                pass
    return rows, listings


def parse_process4(text):
    """Process 4: list of (t, {node: concentration}) blocks."""
    blocks = []
    current = None
    for line in text.split("\n"):
        if line.startswith("time="):
            current = {}
            blocks.append((float(line[5:].rstrip("s")), current))
        elif line.startswith("N[") and current is not None:
            node, value = line.split("\t")
            current[int(node[2:-1])] = float(value)
    return blocks
