"""Shared pieces of the sweep tests: a short base run, the tool's command, and figures worked
out directly from a run's standard output to compare with the merged table."""

import csv
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
TOOL = os.path.join(REPO, "tools", "aerosol-sweep")
PROGRAM = os.environ.get("AEROSOL_PROGRAM", os.path.join(REPO, "build", "aerosol"))
sys.path.insert(0, os.path.join(REPO, "tools"))

# Process 2 cooling from 450 K: a hundred-odd steps of 0.0005 s, a few printed rows, a final
# table; well under a second.
BASE_MAIN = """Number of nodes: 10
Starting Temperature(Kelvin): 450
Cooling Rate(Kelvin/s): 2000
Pressure(Atm): 1
Molecular Weight(Kg/mol): 0.1
Density(Kg/m3): 2000
Surface Tension in the form A-BT(dyne/cm): A=200 B=0.2
Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=23 D=20000
Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + coagulation + surface growth,4)surface growth:2
Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for free molecular and transition regime:1
Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=1.458e-6 B=110.4
"""


def make_sweep(folder, vary, extra="", main=BASE_MAIN, name="sweep.toml"):
    os.makedirs(os.path.join(folder, "base"), exist_ok=True)
    with open(os.path.join(folder, "base", "main.inp"), "w") as f:
        f.write(main)
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(f'base = "base"\nruns = "runs"\nprogram = "{PROGRAM}"\n{extra}\n[vary]\n{vary}\n')
    return path


def tool(*args, env=None, timeout=300):
    return subprocess.run(["/usr/bin/python3", TOOL, *args], capture_output=True, text=True,
                          env=env, timeout=timeout)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def figures_from_stdout(text):
    """Final distribution and peaks of a process 2 output, read straight from its lines."""
    lines = text.split("\n")
    rows, final = [], []
    in_final = False
    for line in lines:
        parts = line.split("\t")
        if line == "volume\t\tnumber":
            in_final = True
        elif in_final and len(parts) == 2:
            final.append((float(parts[0]), float(parts[1])))
        elif not in_final and len(parts) == 8:
            rows.append([float(p) for p in parts])
    pairs = [((6.0 * v / 3.1415926) ** 0.3333333, n) for v, n in final if n > 0]
    total = sum(n for _, n in pairs)
    mean = sum(d * n for d, n in pairs) / total
    log_mean = sum(n * math.log(d) for d, n in pairs) / total
    gsd = math.exp(math.sqrt(sum(n * (math.log(d) - log_mean) ** 2 for d, n in pairs) / total))
    out = {"final_rows": len(final), "final_total_number": total, "mean_diameter": mean,
           "gsd": gsd}
    if rows:
        s = max(rows, key=lambda r: r[3])
        j = max(rows, key=lambda r: r[2])
        out.update(peak_S=s[3], peak_S_time=s[0], peak_Jk=j[2], peak_Jk_time=j[0])
    return out


def close(a, b, rel=1e-9):
    return abs(a - b) <= rel * max(abs(a), abs(b))


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()
