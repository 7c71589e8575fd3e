"""Runs the built program on small inputs for the tools' tests."""

import os
import subprocess
import sys
import tempfile

SOURCE_DIR = os.environ.get("AEROSOL_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BINARY = os.environ.get("AEROSOL_BIN", os.path.join(SOURCE_DIR, "build", "aerosol"))
TOOLS = os.path.join(SOURCE_DIR, "tools")
PLOT = os.path.join(TOOLS, "aerosol-plot")
sys.path.insert(0, TOOLS)

# A refractory vapour; the values are illustrative, not those of a real material.
MAIN = {
    "nodes": 12, "T0": 1500.0, "Rc": 10000.0, "P": 1.0, "MW": 0.1, "rho": 2000.0,
    "A": 500.0, "B": 0.2, "C": 10.0, "D": 30000.0, "process": 2, "collision": 1,
    "SA": 1.458e-6, "SB": 110.4,
}


def main_inp(**changes):
    s = dict(MAIN, **changes)
    return (
        "Number of nodes: {nodes}\n"
        "Starting Temperature(Kelvin): {T0}\n"
        "Cooling Rate(Kelvin/s): {Rc}\n"
        "Pressure(Atm): {P}\n"
        "Molecular Weight(Kg/mol): {MW}\n"
        "Density(Kg/m3): {rho}\n"
        "Surface Tension in the form A-BT(dyne/cm): A={A} B={B}\n"
        "Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C={C} D={D}\n"
        "Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + "
        "coagulation + surface growth,4)surface growth:{process}\n"
        "Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for "
        "free molecular and transition regime:{collision}\n"
        "Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A={SA} B={SB}\n"
    ).format(**s)


def coag_inp(d0=1.0, n0=1e20, T=300.0):
    return ("\n Initial diameter of monodisperse particles(nm): %r\n"
            " Initial number concentration(#/m3): %r\n Temperature(Kelvin): %r\n" % (d0, n0, T))


def grow_inp(node=5, n0=1e12):
    return ("Enter the node in which you want to put in particles: %d\n"
            "Enter the particle number concentration in #/m3 initially: %r\n" % (node, n0))


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
