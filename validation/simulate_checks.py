#!/usr/bin/python3
"""aerosol simulate against itself, against the fixed-step processes and against physics.

Sections (each with its own pass/fail criterion; --sections picks some):
  tolerance     self-convergence of the nucleation-growth vapour on 100 nodes at relative
                tolerances 1e-3, 1e-4 (the default) and 1e-6: final total number,
                number-mean diameter and sigma_g at the default within 1% of the tightest.
  processes     the same legacy folder through the fixed-step process and through
                `aerosol simulate DIR`: process 1 (48 and 100 nodes, free-molecular and Fuchs),
                process 4 (examples/seeded-growth), the long process 2 case (bench/long-run,
                left out by --quick); final figures within 1%.
  spd           the self-preserving distribution reached by simulate from the process 1
                folders (48, 100, 200 nodes): sigma_g within 1% of 1.465 from 100 nodes on,
                psi(eta) within 3% of the literature table for eta 0.05..5 at 200 nodes.
  grid          the nucleation-growth vapour at 20, 48, 100, 200 and 400 nodes (400 left out
                by --quick): no concentration below minus the absolute tolerance, no
                not-a-number, final figures at 200 and 400 nodes within 2%.
  conservation  total volume (vapour plus particles) over the nucleation-growth run and over
                a vapour taking up evaporating particles; particle volume in pure
                coagulation: each constant to about 100 times the change measured.

The final figures are computed here from each run's node concentrations and volumes, the same
way for the processes' tables and the NetCDF files (d = (6 v / pi)^(1/3), number mean,
sigma_g from the number-weighted spread of ln d); the NetCDF file's own total_number,
mean_diameter and geometric_std are checked against them on the way.
"""

import math
import os
import shutil
import subprocess
import sys
import time
import tomllib

import numpy as np
import netCDF4

import aerosol_runs as ar
import spd_convergence as spd

ai = ar.ai
REPO = ar.REPO
NUCLEATION_GROWTH = os.path.join(REPO, "examples", "simulate", "nucleation-growth-100.toml")
NUCLEATION_GROWTH_FOLDER = os.path.join(REPO, "examples", "nucleation-growth")
SEEDED_GROWTH = os.path.join(REPO, "examples", "seeded-growth")
LONG_RUN = os.path.join(REPO, "bench", "long-run")

TOLERANCES = (1e-3, 1e-4, 1e-6)
TOLERANCE_LIMIT = 0.01      # default tolerance vs the tightest
AGREEMENT_LIMIT = 0.01      # simulate vs the fixed-step processes
GRID_NODES = (20, 48, 100, 200, 400)
GRID_LIMIT = 0.02           # 200 vs 400 nodes
SPD_NODES = (48, 100, 200)
DERIVED_LIMIT = 1e-9        # the file's figures vs those computed here from its concentrations
PI = 3.1415926

FIGURE_NAMES = ("number", "mean diameter", "sigma_g")


# ---------------------------------------------------------------------------------------
# Case files

def _toml_value(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, str):
        return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
    if isinstance(value, list):
        return "[" + ", ".join(_toml_value(v) for v in value) + "]"
    raise TypeError("no TOML form for %r" % (value,))


def toml_text(case, prefix=""):
    """A case dict as TOML: scalars and arrays of a table first, then its sub-tables."""
    lines = []
    scalars = [(k, v) for k, v in case.items() if not isinstance(v, dict)]
    tables = [(k, v) for k, v in case.items() if isinstance(v, dict)]
    if prefix and (scalars or not tables):
        lines.append("[%s]" % prefix)
    for k, v in scalars:
        lines.append("%s = %s" % (k, _toml_value(v)))
    if scalars:
        lines.append("")
    for k, v in tables:
        lines.append(toml_text(v, prefix + "." + k if prefix else k))
    return "\n".join(lines)


def varied(case, **changes):
    """A copy of a case dict with dotted keys ("grid.nodes") set; None removes a key."""
    out = {k: (dict(v) if isinstance(v, dict) else v) for k, v in case.items()}
    for dotted, value in changes.items():
        table, key = dotted.split("__") if "__" in dotted else (None, dotted)
        target = out.setdefault(table, {}) if table else out
        if value is None:
            target.pop(key, None)
        else:
            target[key] = value
    return out


def load_case(path):
    with open(path, "rb") as f:
        return tomllib.load(f)


# ---------------------------------------------------------------------------------------
# Runs and their results

class Results:
    """What a check needs from a simulate NetCDF file, in numpy arrays."""

    def __init__(self, path):
        with netCDF4.Dataset(path) as ds:
            def var(name):
                return np.array(ds.variables[name][:], dtype=float)
            self.time = var("time")
            self.volume = var("volume")
            self.diameter = var("diameter")
            self.concentration = var("concentration")
            self.temperature = var("temperature")
            self.total_number = var("total_number")
            self.mean_diameter = var("mean_diameter")
            self.geometric_std = var("geometric_std")
            self.particle_volume = var("particle_volume")
            self.total_volume = var("total_volume")
            self.steps = int(ds.variables["steps"][-1])
            self.rhs = int(ds.variables["rhs_evaluations"][-1])
            self.jacobians = int(ds.variables["jacobian_evaluations"][-1])
            self.first = int(ds.getncattr("first_particle_node"))
            self.run_end = str(ds.getncattr("run_end"))
            self.case = tomllib.loads(str(ds.getncattr("case")))
        self.nodes = len(self.volume)

    def final_pairs(self):
        """(volume, number) of the particle nodes at the last time."""
        c = self.concentration[-1]
        return [(self.volume[k], c[k]) for k in range(self.first - 1, self.nodes)]

    def derived_mismatch(self):
        """Largest relative difference between the file's final figures and those computed
        here from its concentrations and diameters."""
        c = np.maximum(self.concentration[-1][self.first - 1:], 0.0)
        d = self.diameter[self.first - 1:]
        n = c.sum()
        mean_ln = (c * np.log(d)).sum() / n
        ours = (n, (c * d).sum() / n,
                math.exp(math.sqrt((c * (np.log(d) - mean_ln) ** 2).sum() / n)))
        theirs = (self.total_number[-1], self.mean_diameter[-1], self.geometric_std[-1])
        return max(abs(t / o - 1) for t, o in zip(theirs, ours))


def figures(pairs):
    """Total number, number-mean diameter and sigma_g of [(volume, number)], each node a
    point at d = (6 v / pi)^(1/3); negative remainders count as empty."""
    pairs = [(v, max(n, 0.0)) for v, n in pairs]
    d = [(6.0 * v / PI) ** (1.0 / 3.0) for v, _ in pairs]
    total = sum(n for _, n in pairs)
    mean = sum(n * di for (_, n), di in zip(pairs, d)) / total
    mean_ln = sum(n * math.log(di) for (_, n), di in zip(pairs, d)) / total
    var = sum(n * (math.log(di) - mean_ln) ** 2 for (_, n), di in zip(pairs, d)) / total
    return (total, mean, math.exp(math.sqrt(var)))


def slug(label):
    """A file name from a run's label."""
    return "".join(c if c.isalnum() or c in "-." else "-" for c in label).strip("-")


def relative(a, b):
    return a / b - 1.0


class Runner:
    """Runs `aerosol simulate` and the fixed-step processes in a scratch folder; remembers
    every simulate run so that sections sharing a run make it once."""

    def __init__(self, program, work):
        self.program = program
        self.work = work
        self.cache = {}
        self.derived = []   # (label, mismatch) of every file read

    def simulate(self, label, target, extra=()):
        """Runs simulate on a case file or folder; returns (Results, seconds)."""
        key = (os.path.abspath(target), tuple(extra))
        if key in self.cache:
            return self.cache[key]
        out = os.path.join(self.work, "%s.nc" % slug(label))
        start = time.monotonic()
        done = subprocess.run([self.program, "simulate", target, "-o", out] + list(extra),
                              capture_output=True, text=True)
        seconds = time.monotonic() - start
        if done.returncode != 0:
            raise RuntimeError("%s: aerosol simulate %s ended with status %d:\n%s"
                               % (label, target, done.returncode, done.stderr))
        results = Results(out)
        if results.run_end != "complete":
            raise RuntimeError("%s: run_end = %r" % (label, results.run_end))
        self.derived.append((label, results.derived_mismatch()))
        self.cache[key] = (results, seconds)
        return self.cache[key]

    def simulate_case(self, label, case):
        path = os.path.join(self.work, "%s.toml" % slug(label))
        with open(path, "w") as f:
            f.write(toml_text(case))
        return self.simulate(label, path)

    def process(self, folder):
        """Runs the fixed-step process in `folder`; returns (stdout, seconds)."""
        start = time.monotonic()
        done = subprocess.run([self.program], cwd=folder, capture_output=True, text=True)
        seconds = time.monotonic() - start
        if done.returncode != 0:
            raise RuntimeError("aerosol in %s ended with status %d:\n%s"
                               % (folder, done.returncode, done.stderr))
        return done.stdout, seconds

    def folder(self, label, source=None, main=None, coag=None, grow=None):
        """A scratch copy of a legacy run folder, or one written from input values."""
        path = os.path.join(self.work, slug(label))
        os.makedirs(path, exist_ok=True)
        if source:
            for name in ("main.inp", "coag.inp", "grow.inp"):
                if os.path.exists(os.path.join(source, name)):
                    shutil.copy(os.path.join(source, name), path)
        else:
            ai.write_run_inputs(path, main, coag, grow)
        return path

    def effective_case(self, target):
        """The case as the program reads it (defaults filled in), from --print-case."""
        done = subprocess.run([self.program, "simulate", target, "--print-case"],
                              capture_output=True, text=True, check=True)
        return tomllib.loads(done.stdout)


# ---------------------------------------------------------------------------------------
# Sections

def section_tolerance(runner, failures):
    base = load_case(NUCLEATION_GROWTH)
    default = runner.effective_case(NUCLEATION_GROWTH)["tolerances"]["relative"]
    rows = []
    for rtol in sorted(set(TOLERANCES + (default,)), reverse=True):
        if rtol == default:
            res, sec = runner.simulate("nucleation-growth-100", NUCLEATION_GROWTH)
        else:
            res, sec = runner.simulate_case("nucleation-growth-100 rtol %g" % rtol,
                                            varied(base, tolerances__relative=rtol))
        rows.append((rtol, figures(res.final_pairs()), res, sec))
    tight = rows[-1][1]
    print("Self-convergence: %s, final figures at each relative tolerance (default %g)"
          % (os.path.relpath(NUCLEATION_GROWTH, REPO), default))
    print("rtol    N (m-3)      d_mean (m)   sigma_g   vs tightest: N      d_mean   "
          "sigma_g   steps  rhs    jac  seconds")
    for rtol, fig, res, sec in rows:
        off = [relative(a, b) for a, b in zip(fig, tight)]
        print("%-6g  %.5e  %.5e  %.5f   %+9.2e  %+9.2e  %+9.2e  %5d  %5d  %3d  %6.1f"
              % (rtol, fig[0], fig[1], fig[2], off[0], off[1], off[2], res.steps, res.rhs,
                 res.jacobians, sec))
        if rtol == default:
            for name, o in zip(FIGURE_NAMES, off):
                if not abs(o) <= TOLERANCE_LIMIT:
                    failures.append("self-convergence: %s at the default tolerance %g is "
                                    "%+.2f%% from rtol %g (allowed %.0f%%)"
                                    % (name, default, 100 * o, rows[-1][0],
                                       100 * TOLERANCE_LIMIT))
    print()


def process1_final(stdout):
    _, _, final = ar.parse_process1(stdout)
    return final


def process2_final(stdout):
    _, final = ar.parse_process2(stdout)
    return final


def process4_final(stdout, folder):
    blocks = ar.parse_process4(stdout)
    t, nodes = blocks[-1]
    grid = ai.node_grid(ai.read_run_inputs(folder))
    return [(grid.volume[k], nodes[k]) for k in sorted(nodes) if k >= 2], t


def compare(label, runner, folder, final_of, notes, failures):
    """One legacy folder through the process and through simulate DIR: a row of figures."""
    stdout, p_sec = runner.process(folder)
    res, s_sec = runner.simulate(label, folder)
    ours = final_of(stdout)
    if isinstance(ours, tuple):
        ours, p_end = ours
    else:
        p_end = None
    # The same nodes on both sides: those the process lists (process 1 leaves out the top
    # node, process 2 the vapour, process 4 the top two), found by their printed volumes.
    log_q = math.log(res.volume[1] / res.volume[0])
    mine = []
    for v, _ in ours:
        k = int(round(math.log(v / res.volume[0]) / log_q))
        if not (0 <= k < res.nodes and abs(res.volume[k] / v - 1) < 1e-5):
            raise RuntimeError("%s: the process lists a node of volume %.6e m3, which the "
                               "NetCDF file's grid does not have" % (label, v))
        mine.append((res.volume[k], res.concentration[-1][k]))
    p_fig, s_fig = figures(ours), figures(mine)
    off = [relative(s, p) for s, p in zip(s_fig, p_fig)]
    row = dict(label=label, process=p_fig, simulate=s_fig, off=off, p_sec=p_sec, s_sec=s_sec,
               steps=res.steps, rhs=res.rhs, jac=res.jacobians, end=res.time[-1], p_end=p_end)
    for name, o in zip(FIGURE_NAMES, off):
        if not abs(o) <= AGREEMENT_LIMIT:
            if label in notes:
                row.setdefault("explained", []).append(name)
            else:
                failures.append("%s: final %s of simulate is %+.2f%% from the process "
                                "(allowed %.0f%%)" % (label, name, 100 * o,
                                                      100 * AGREEMENT_LIMIT))
    return row


def process1_folder(runner, nodes, kernel):
    main = dict(ar.DEFAULT_MAIN, nodeCount=nodes, process=1, collisionFunction=kernel)
    return runner.folder("process1 %d %s" % (nodes, ("fm", "fuchs")[kernel - 1]), main=main,
                         coag=spd.SEED)


def section_processes(runner, quick, failures):
    rows = []
    for nodes in (48, 100):
        for kernel, name in ((1, "free-molecular"), (2, "Fuchs")):
            folder = process1_folder(runner, nodes, kernel)
            rows.append(compare("process 1, %d nodes, %s" % (nodes, name), runner, folder,
                                process1_final, {}, failures))
    folder = runner.folder("seeded-growth", source=SEEDED_GROWTH)
    rows.append(compare("process 4, examples/seeded-growth", runner, folder,
                        lambda out: process4_final(out, folder), {}, failures))
    if not quick:
        folder = runner.folder("long-run", source=LONG_RUN)
        rows.append(compare("process 2, bench/long-run", runner, folder, process2_final, {},
                            failures))
    print("Agreement with the fixed-step processes: final figures, simulate DIR vs the "
          "process on the same folder")
    print("%-36s  %-12s %-12s %-8s  %-9s %-9s %-9s  %6s %6s %4s  %7s %7s"
          % ("run", "N process", "d process", "sg proc", "dN", "dd", "dsg", "steps", "rhs",
             "jac", "p sec", "s sec"))
    for r in rows:
        print("%-36s  %.5e  %.5e  %.5f  %+.2e %+.2e %+.2e  %6d %6d %4d  %7.1f %7.1f"
              % (r["label"], r["process"][0], r["process"][1], r["process"][2],
                 r["off"][0], r["off"][1], r["off"][2], r["steps"], r["rhs"], r["jac"],
                 r["p_sec"], r["s_sec"]))
    for r in rows:
        if r["p_end"] is not None and abs(r["p_end"] - r["end"]) > 1e-9:
            print("  %s: the process's last listing is at t = %.6g s, simulate ends at "
                  "%.6g s" % (r["label"], r["p_end"], r["end"]))
    process3_information(runner)
    print()
    return rows


def process3_information(runner):
    """The nucleation-growth vapour on 20 nodes, the one grid of those measured where process
    3's fixed step holds: its last row's particle number and volume-mean diameter against
    simulate DIR at the end. No criterion (the models differ in known ways, see
    docs/validation.md); printed for the record."""
    folder = runner.folder("nucleation-growth-20", source=NUCLEATION_GROWTH_FOLDER)
    stdout, p_sec = runner.process(folder)
    rows, _ = ar.parse_process3(stdout)
    t, _, _, _, dp, _, number = rows[-1]
    res, s_sec = runner.simulate("process 3, examples/nucleation-growth", folder)
    n = res.total_number[-1]
    d = (6.0 * res.particle_volume[-1] / n / PI) ** (1.0 / 3.0)
    print("information, process 3 on examples/nucleation-growth (20 nodes): last row at "
          "t = %.6g s, N %.5e, volume-mean d %.5e m; simulate at t = %.6g s: N %+.2e, "
          "d %+.2e (%.1f s and %.1f s)"
          % (t, number, dp, res.time[-1], relative(n, number), relative(d, dp), p_sec, s_sec))


def section_spd(runner, failures):
    results = []
    for nodes in SPD_NODES:
        res, _ = runner.simulate("process1 %d fm" % nodes, process1_folder(runner, nodes, 1))
        r = spd.reduce_distribution([(v, n) for v, n in res.final_pairs()], nodes)
        r["psi_at_reference"] = [spd.psi_at(r, e) for e in spd.REFERENCE_ETA]
        results.append(r)
    print("Self-preserving distribution from simulate DIR (process 1 folders, free molecular, "
          "1 nm at 1e20 m-3, 0.01 s)")
    print("nodes  sigma_g  vs %.3f" % spd.REFERENCE_SIGMA_G)
    for r in results:
        print("%5d  %.4f   %+6.2f%%" % (r["nodes"], r["sigma_g"],
                                        100 * relative(r["sigma_g"], spd.REFERENCE_SIGMA_G)))
    print("eta     ref     " + "  ".join("%7d" % r["nodes"] for r in results))
    for i, e in enumerate(spd.REFERENCE_ETA):
        print("%-6g  %-6g  " % (e, spd.REFERENCE_PSI[i])
              + "  ".join("%7.4f" % r["psi_at_reference"][i] for r in results))
    print()
    failures.extend("simulate: " + f for f in spd.evaluate(results))
    return results


def section_grid(runner, quick, failures):
    base = load_case(NUCLEATION_GROWTH)
    atol = runner.effective_case(NUCLEATION_GROWTH)["tolerances"]["absolute"]
    rows = []
    for nodes in GRID_NODES:
        if quick and nodes > 200:
            continue
        if nodes == base["grid"]["nodes"]:
            res, sec = runner.simulate("nucleation-growth-100", NUCLEATION_GROWTH)
        else:
            res, sec = runner.simulate_case("nucleation-growth-%d" % nodes,
                                            varied(base, grid__nodes=nodes))
        c = res.concentration
        nan = int(np.isnan(c).sum() + np.isnan(res.total_volume).sum())
        # The figures are missing (not-a-number) only while the particles are fewer than
        # 1 m-3 or than the particle nodes' absolute tolerances together.
        enough = res.total_number >= max(1.0, atol * (res.nodes - res.first + 1))
        nan += int(np.sum(np.isnan(res.mean_diameter) & enough))
        nan += int(np.sum(np.isnan(res.geometric_std) & enough))
        rows.append(dict(nodes=nodes, fig=figures(res.final_pairs()), lowest=float(c.min()),
                         nan=nan, res=res, sec=sec))
    print("Grid convergence: %s with grid.nodes varied (absolute tolerance %g m-3)"
          % (os.path.relpath(NUCLEATION_GROWTH, REPO), atol))
    print("nodes  N (m-3)      d_mean (m)   sigma_g   lowest N_k (m-3)  NaN  steps   rhs    "
          "jac  seconds")
    for r in rows:
        print("%5d  %.5e  %.5e  %.5f  %+.3e        %3d  %5d  %6d  %4d  %7.1f"
              % (r["nodes"], r["fig"][0], r["fig"][1], r["fig"][2], r["lowest"], r["nan"],
                 r["res"].steps, r["res"].rhs, r["res"].jacobians, r["sec"]))
        if r["lowest"] < -atol:
            failures.append("grid %d nodes: a concentration of %.3e m-3, below minus the "
                            "absolute tolerance %g" % (r["nodes"], r["lowest"], atol))
        if r["nan"]:
            failures.append("grid %d nodes: %d not-a-number values" % (r["nodes"], r["nan"]))
    by_nodes = {r["nodes"]: r for r in rows}
    print("change of the final figures from the next coarser grid:")
    for coarse, fine in zip(rows, rows[1:]):
        off = [relative(f, c) for f, c in zip(fine["fig"], coarse["fig"])]
        print("  %3d -> %3d nodes: N %+.2e, d_mean %+.2e, sigma_g %+.2e"
              % (coarse["nodes"], fine["nodes"], off[0], off[1], off[2]))
    if 200 in by_nodes and 400 in by_nodes:
        off = [relative(a, b) for a, b in zip(by_nodes[200]["fig"], by_nodes[400]["fig"])]
        for name, o in zip(FIGURE_NAMES, off):
            if not abs(o) <= GRID_LIMIT:
                failures.append("grid: final %s at 200 nodes is %+.2f%% from 400 nodes "
                                "(allowed %.0f%%)" % (name, 100 * o, 100 * GRID_LIMIT))
    else:
        print("  (400 nodes left out: the 200/400 criterion was not checked)")
    print()
    return rows


# A vapour taking up evaporating particles: 2 nm particles (lognormal, sigma_g 1.3) in the
# example's material at 1300 K and S = 0.3; growth only, so what leaves the particles must
# arrive in the vapour, evaporation out of the smallest particle node included.
EVAPORATION = {
    "mechanisms": dict(nucleation=False, coagulation=False, growth=True,
                       kernel="free-molecular", vapor="depleted"),
    "grid": dict(nodes=48),
    "initial": dict(saturation_ratio=0.3,
                    particles=dict(kind="lognormal", concentration=1e16, diameter=2.0,
                                   sigma_g=1.3)),
    "temperature": dict(law="constant", start=1300.0),
    "end": dict(time=0.02),
}


def section_conservation(runner, failures):
    """Each run's limit is about 100 times the change measured on the shared 2-core machine:
    BDF keeps the linear invariants of the rates to the Newton iterations' error, far inside
    the relative tolerance, so a term that leaks volume shows long before the tolerance."""
    base = load_case(NUCLEATION_GROWTH)
    evaporation = dict(EVAPORATION, material=base["material"])
    runs = [("nucleation-growth-100", "total_volume", 3e-9,
             lambda: runner.simulate("nucleation-growth-100", NUCLEATION_GROWTH)),
            ("evaporation, 48 nodes", "total_volume", 1e-13,
             lambda: runner.simulate_case("evaporation", evaporation)),
            ("process 1, 48 nodes, free-molecular", "particle_volume", 2e-13,
             lambda: runner.simulate("process1 48 fm", process1_folder(runner, 48, 1)))]
    print("Conservation: largest relative change of the conserved volume over the run")
    print("%-38s %-16s %-10s %-9s  %s" % ("run", "quantity", "change", "limit",
                                           "particle share of the volume at start, end"))
    for label, quantity, limit, make in runs:
        res, _ = make()
        series = getattr(res, quantity)
        change = float(np.max(np.abs(series / series[0] - 1)))
        share0 = res.particle_volume[0] / res.total_volume[0]
        share1 = res.particle_volume[-1] / res.total_volume[-1]
        print("%-38s %-16s %.2e   %-9g  %.4f, %.4f"
              % (label, quantity, change, limit, share0, share1))
        if not change <= limit:
            failures.append("conservation, %s: %s changed by %.2e relative, more than %g"
                            % (label, quantity, change, limit))
        if label.startswith("evaporation") and not share1 < 0.5 * share0:
            failures.append("conservation, %s: the particles kept %.0f%% of their volume; "
                            "the run does not test evaporation"
                            % (label, 100 * share1 / share0))
    print()


def plot_grid(rows, path):
    """Final dN/dlog10 d of the nucleation-growth vapour on each grid. On the geometric grid
    the nodes are log10(q)/3 apart in log10 d, so node k stands for 3 N_k / log10 q."""
    plt = ar.pyplot()
    fig, ax = plt.subplots(figsize=(6.4, 4.6))
    for r in rows:
        res = r["res"]
        first = res.first - 1
        q = res.volume[1] / res.volume[0]
        d = res.diameter[first:]
        n = res.concentration[-1][first:] * 3.0 / math.log10(q)
        keep = n > 1e-10 * n.max()
        ax.plot(d[keep] * 1e9, n[keep], marker=".", ms=3, lw=1,
                label="%d nodes, $\\sigma_g$ = %.3f" % (r["nodes"], r["fig"][2]))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_ylim(1e10, None)
    ax.set_xlabel("particle diameter (nm)")
    ax.set_ylabel(r"d$N$/dlog$_{10}d$ (m$^{-3}$)")
    ax.set_title("Nucleation-growth vapour at 300 K (aerosol simulate)")
    ax.legend(fontsize=8)
    ax.grid(True, which="both", lw=0.3)
    ar.save_figure(fig, path)


def main():
    parser = ar.arguments(__doc__, helper_used=False,
                          figure_help="draw the grid section's final distributions to this PNG")
    parser.add_argument("--quick", action="store_true",
                        help="leave out the 400-node grid and the long process 2 case")
    parser.add_argument("--sections", default="tolerance,processes,spd,grid,conservation",
                        help="comma-separated sections to run (default all)")
    parser.add_argument("--keep", help="keep the runs' files in this folder")
    args = parser.parse_args()
    program = ar.find_program(args.program)
    sections = args.sections.split(",")
    known = ("tolerance", "processes", "spd", "grid", "conservation")
    unknown = [s for s in sections if s not in known]
    if unknown:
        parser.error("unknown section %s; expected some of %s" % (", ".join(unknown),
                                                                   ", ".join(known)))
    failures = []
    with ar.work_folder(args.keep, "aerosol-simulate-validation-") as work:
        runner = Runner(program, work)
        for name in known:
            if name not in sections:
                continue
            start = time.monotonic()
            try:
                if name == "tolerance":
                    section_tolerance(runner, failures)
                elif name == "processes":
                    section_processes(runner, args.quick, failures)
                elif name == "spd":
                    section_spd(runner, failures)
                elif name == "grid":
                    rows = section_grid(runner, args.quick, failures)
                    if args.figure:
                        plot_grid(rows, args.figure)
                else:
                    section_conservation(runner, failures)
            except (RuntimeError, subprocess.CalledProcessError, OSError, KeyError) as e:
                failures.append("%s: %s" % (name, e))
            sys.stdout.flush()
            print("(%s: %.0f s)\n" % (name, time.monotonic() - start))
        worst = max(runner.derived, key=lambda x: x[1], default=None)
        if worst:
            print("NetCDF total_number, mean_diameter, geometric_std against the file's own "
                  "concentrations: largest relative difference %.1e (%s), %d files"
                  % (worst[1], worst[0], len(runner.derived)))
            if not worst[1] <= DERIVED_LIMIT:
                failures.append("%s: the file's final figures differ by %.1e from its "
                                "concentrations" % worst)
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
