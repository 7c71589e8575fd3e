"""Runs the built program on small inputs for the tools' tests."""

import os
import subprocess
import tempfile

SOURCE_DIR = os.environ.get("AEROSOL_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BINARY = os.environ.get("AEROSOL_BIN", os.path.join(SOURCE_DIR, "build", "aerosol"))
PLOT = os.path.join(SOURCE_DIR, "tools", "aerosol-plot")

import aerosol.inputs as ai  # the source tree's python/ is on PYTHONPATH (tests/tools/CMakeLists.txt)

# The examples' refractory vapour (illustrative values, not a real material), on 12 nodes.
MAIN = dict(ai.EXAMPLE_MAIN, nodeCount=12, coolingRate=10000.0)


def main_inp(**changes):
    return ai.render(ai.MAIN, dict(MAIN, **changes))


def coag_inp(d0=1.0, n0=1e20, T=300.0):
    return ai.render(ai.COAG, {"initialDiameter": d0, "initialConcentration": n0,
                               "temperature": T})


def grow_inp(node=5, n0=1e12):
    return ai.render(ai.GROW, {"seedNode": node, "seedConcentration": n0})


def make_run(folder, main, coag=None, grow=None):
    os.makedirs(folder, exist_ok=True)
    for name, text in (("main.inp", main), ("coag.inp", coag), ("grow.inp", grow)):
        if text is not None:
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
    return folder


def run_program(folder, stderr=subprocess.PIPE, timeout=120):
    """Runs the program in `folder`; returns (exit status, stdout bytes, stderr bytes)."""
    done = subprocess.run([BINARY], cwd=folder, stdout=subprocess.PIPE, stderr=stderr,
                          timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def run_in_temp(main, coag=None, grow=None):
    """Writes the inputs to a fresh folder and runs there; returns (folder, stdout text)."""
    folder = make_run(tempfile.mkdtemp(prefix="aerosol-tools-"), main, coag, grow)
    status, out, err = run_program(folder)
    if status != 0:
        raise AssertionError("aerosol exited with %d in %s: %s" % (status, folder,
                                                                  err.decode(errors="replace")))
    with open(os.path.join(folder, "out.txt"), "wb") as f:
        f.write(out)
    return folder, out.decode("ascii")
