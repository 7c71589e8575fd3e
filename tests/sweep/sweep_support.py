"""Shared pieces of the sweep tests: a short base run, the tool's command, and figures worked
out directly from a run's standard output to compare with the merged table."""

import csv
import math
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
TOOL = os.path.join(REPO, "tools", "aerosol-sweep")
PROGRAM = os.environ.get("AEROSOL_PROGRAM", os.path.join(REPO, "build", "aerosol"))

import aerosol.inputs as ai  # the source tree's python/ is on PYTHONPATH (CMakeLists.txt)

# Process 2 cooling from 450 K: a hundred-odd steps of 0.0005 s, a few printed rows, a final
# table; well under a second.
BASE_VALUES = dict(ai.EXAMPLE_MAIN, nodeCount=10, startTemperature=450.0, coolingRate=2000.0,
                   surfaceTensionA=200.0, vaporPressureC=23.0, vaporPressureD=20000.0)


def base_main(**changes):
    return ai.render(ai.MAIN, dict(BASE_VALUES, **changes))


BASE_MAIN = base_main()


def make_sweep(folder, vary, extra="", main=BASE_MAIN, name="sweep.toml"):
    os.makedirs(os.path.join(folder, "base"), exist_ok=True)
    with open(os.path.join(folder, "base", "main.inp"), "w") as f:
        f.write(main)
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(f'base = "base"\nruns = "runs"\nprogram = "{PROGRAM}"\n{extra}\n[vary]\n{vary}\n')
    return path


def tool(*args, env=None, timeout=300):
    return subprocess.run([TOOL, *args], capture_output=True, text=True,
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
