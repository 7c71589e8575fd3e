#!/usr/bin/python3
"""Runs the aggregate examples and draws their figures beside them: tio2-flame.png,
silica.png and copper-quench.png. Each case also runs as spheres (the same file without
its [aggregates] table) for comparison; the figures' numbers are printed.

Usage: python3 examples/aggregates/make_figures.py [--program build/aerosol]
(from the top of the repository; Debian's python3 with python3-matplotlib, python3-netcdf4)
"""

import argparse
import os
import subprocess
import sys
import tempfile

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import netCDF4
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# tau_s / tau_c beyond which one process is taken to win: a decade.
DECADE = 10.0
STAGES = (("collision-limited: $\\tau_s \\ll \\tau_c$, spheres", "#d8ecd2"),
          ("comparable", "#fbf0c8"),
          ("sintering-limited: $\\tau_s \\gg \\tau_c$, aggregates", "#f6d5d0"))


class Run:
    """The variables of a simulate NetCDF file, as numpy arrays by name, and the figures
    drawn from them (particle nodes only: node 1 is the vapour in a run that has one)."""

    def __init__(self, path):
        with netCDF4.Dataset(path) as ds:
            self.v = {name: np.array(ds.variables[name][:], dtype=float)
                      for name in ds.variables}
            self.first = int(ds.getncattr("first_particle_node")) - 1

    def __getitem__(self, name):
        return self.v[name]

    def nodes(self, name):
        return self.v[name][..., self.first:]

    def distribution(self, i):
        """Volume-equivalent diameters (nm) and dN/dlog10 dp (m-3) at output time i."""
        d = self["diameter"][self.first:]
        width = np.log10(np.median(d[1:] / d[:-1]))
        return d * 1e9, self["concentration"][i, self.first:] / width

    def sauter(self):
        """6 V / A of the particles as spheres of their volumes (m): for spheres, the
        Sauter primary diameter an aggregate run would have."""
        n, d = self.nodes("concentration"), self["diameter"][self.first:]
        with np.errstate(invalid="ignore", divide="ignore"):
            return (n * d ** 3).sum(axis=1) / (n * d ** 2).sum(axis=1)

    def sintering_time(self):
        """The geometric mean of the nodes' sintering times weighted by their area (s): the
        time on which the area there is, relaxes."""
        tau, area = self.nodes("sintering_time"), self.nodes("surface_area")
        w = np.where((area > 0) & (tau > 0), area, 0.0)
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.exp((w * np.log(np.where(tau > 0, tau, 1.0))).sum(axis=1) / w.sum(axis=1))

    def primaries(self, weight):
        """Primaries per particle, averaged over the particles ("number") or over their
        volume ("volume")."""
        n = self.nodes("concentration")
        w = n if weight == "number" else n * self["volume"][self.first:]
        p = self.nodes("primaries_per_particle")
        ok = np.isfinite(p)
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(ok, w * p, 0.0).sum(axis=1) / np.where(ok, w, 0.0).sum(axis=1)

    def crossings(self):
        """(time, temperature, rising) where tau_s crosses tau_c, interpolated in log."""
        r = np.log(self.sintering_time() / self["collision_time"])
        t, T = self["time"], self["temperature"]
        out = []
        for i in range(len(r) - 1):
            if np.isfinite(r[i]) and np.isfinite(r[i + 1]) and (r[i] < 0) != (r[i + 1] < 0):
                x = r[i] / (r[i] - r[i + 1])
                out.append((t[i] + x * (t[i + 1] - t[i]), T[i] + x * (T[i + 1] - T[i]),
                            r[i + 1] > 0))
        return out


def simulate(program, case, out):
    """Runs a case file into `out`."""
    done = subprocess.run([program, "simulate", case, "-o", out], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("make_figures: %s ended with status %d:\n%s" % (case, done.returncode,
                                                               done.stderr))
    return Run(out)


def without_aggregates(case, folder):
    """The case file without its [aggregates] table (and without the initial particles'
    primary_diameter, which needs it): the same run with spheres that coalesce at once."""
    with open(case) as f:
        lines = f.read().splitlines(True)
    kept, inside = [], False
    for line in lines:
        if line.startswith("["):
            inside = line.strip() == "[aggregates]"
        if not inside and not line.startswith("primary_diameter"):
            kept.append(line)
    path = os.path.join(folder, os.path.basename(case).replace(".toml", "-spheres.toml"))
    with open(path, "w") as f:
        f.write("".join(kept))
    return path


def positive(y):
    return np.where(y > 0, y, np.nan)


def shade_stages(ax, run, legend=False):
    """Shades the run's stages by tau_s / tau_c behind the axes' curves."""
    t = run["time"] * 1e3
    ratio = run.sintering_time() / run["collision_time"]
    stage = np.where(ratio < 1 / DECADE, 0, np.where(ratio > DECADE, 2, 1))
    stage = np.where(np.isfinite(ratio), stage, -1)
    start = 0
    for i in range(1, len(t) + 1):
        if i == len(t) or stage[i] != stage[start]:
            if stage[start] >= 0:
                left = 0.5 * (t[start - 1] + t[start]) if start > 0 else t[start]
                right = 0.5 * (t[i - 1] + t[i]) if i < len(t) else t[-1]
                ax.axvspan(left, right, color=STAGES[stage[start]][1], lw=0, zorder=0)
            start = i
    if legend:
        for label, colour in STAGES:
            ax.fill_between([], [], color=colour, label=label)


def temperature_twin(ax, run):
    twin = ax.twinx()
    twin.plot(run["time"] * 1e3, run["temperature"], color="0.4", lw=1, ls="--")
    twin.set_ylabel("temperature (K), dashed")
    return twin


def time_axis(ax, start_ms, end, log):
    ax.set_xlim(start_ms, end)
    if log:
        ax.set_xscale("log")
    ax.set_xlabel("time (ms)")


def figure(run, spheres, title, path, start_ms, log_time, times, what):
    """Four panels: the diameters, the two time scales with the stages, the primaries per
    particle, and the final distributions of the aggregate and the sphere runs."""
    fig, axes = plt.subplots(2, 2, figsize=(13, 9), layout="constrained")
    t = run["time"] * 1e3
    end = t[-1]

    ax = axes[0, 0]
    shade_stages(ax, run)
    ax.plot(t, run["sauter_primary_diameter"] * 1e9, color="C0", lw=2,
            label="Sauter primary diameter $d_p$ = 6V/A")
    ax.plot(t, run["mean_collision_diameter"] * 1e9, color="C3", lw=2,
            label="mean collision diameter $d_c$")
    ax.plot(t, run["mean_diameter"] * 1e9, color="C2", lw=1,
            label="mean volume-equivalent diameter")
    ax.plot(spheres["time"] * 1e3, spheres["mean_diameter"] * 1e9, color="k", ls=":", lw=1.5,
            label="spheres only: mean diameter")
    ax.plot(spheres["time"] * 1e3, spheres.sauter() * 1e9, color="k", ls="--", lw=1,
            label="spheres only: 6V/A")
    time_axis(ax, start_ms, end, log_time)
    ax.set_yscale("log")
    ax.set_ylabel("diameter (nm)")
    ax.legend(fontsize=8, loc="upper left")
    ax.grid(True, which="both", alpha=0.3)
    ax.set_title("(a) primaries and aggregates", fontsize=10)

    ax = axes[0, 1]
    shade_stages(ax, run, legend=True)
    ax.plot(t, positive(run["collision_time"]), color="C3", lw=2,
            label="collision time $\\tau_c$ = 2N / $\\sum\\beta N N$")
    ax.plot(t, positive(run.sintering_time()), color="C0", lw=2,
            label="sintering time $\\tau_s$ (area-weighted\ngeometric mean over the nodes)")
    for when, T, rising in run.crossings():
        if when * 1e3 >= start_ms:
            ax.axvline(when * 1e3, color="0.2", lw=0.8)
            ax.annotate("%.3g ms\n%.0f K" % (when * 1e3, T), (when * 1e3, 1.0),
                        xycoords=("data", "axes fraction"), xytext=(3, -3),
                        textcoords="offset points", va="top", fontsize=8)
    time_axis(ax, start_ms, end, log_time)
    ax.set_yscale("log")
    ax.set_ylim(*times)
    ax.set_ylabel("time scale (s)")
    ax.legend(fontsize=8, loc="lower right", framealpha=0.9)
    ax.grid(True, which="major", alpha=0.3)
    temperature_twin(ax, run)
    ax.set_title("(b) collision and sintering times; %s" % what, fontsize=10)

    ax = axes[1, 0]
    shade_stages(ax, run)
    ax.plot(t, run.primaries("volume"), color="C1", lw=2, label="averaged over the volume")
    ax.plot(t, run.primaries("number"), color="C4", lw=2, label="averaged over the particles")
    time_axis(ax, start_ms, end, log_time)
    if run.primaries("volume")[-1] > 3:
        ax.set_yscale("log")
        ax.set_ylim(0.8, None)
    ax.set_ylabel("primaries per particle $n_p$")
    ax.legend(fontsize=8, loc="upper left")
    ax.grid(True, which="both", alpha=0.3)
    ax.set_title("(c) primaries per particle", fontsize=10)

    ax = axes[1, 1]
    d, dn = run.distribution(-1)
    ds, dns = spheres.distribution(-1)
    top = max(dn.max(), dns.max())
    ax.plot(d, np.where(dn > top * 1e-4, dn, np.nan), color="C0", lw=2,
            label="aggregates (by volume-equivalent diameter)")
    ax.plot(ds, np.where(dns > top * 1e-4, dns, np.nan), color="k", ls=":", lw=1.5,
            label="spheres only")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("volume-equivalent diameter (nm)")
    ax.set_ylabel("dN/dlog$_{10}d$ (m$^{-3}$) at %.0f K" % run["temperature"][-1])
    ax.grid(True, which="both", alpha=0.3)
    twin = ax.twinx()
    n_p = run.nodes("primaries_per_particle")[-1]
    shown = dn > top * 1e-4
    twin.plot(d[shown], n_p[shown], color="C1", lw=1.2, ls="--")
    if n_p[shown].max() > 3:
        twin.set_yscale("log")
    twin.set_ylabel("primaries per particle $n_p$, dashed", color="C1")
    ax.legend(fontsize=8, loc="lower center")
    ax.set_title("(d) at the end: d$_p$ %.1f nm, d$_c$ %.0f nm; spheres %.1f nm"
                 % (run["sauter_primary_diameter"][-1] * 1e9,
                    run["mean_collision_diameter"][-1] * 1e9,
                    spheres["mean_diameter"][-1] * 1e9), fontsize=10)
    fig.suptitle(title, fontsize=11)
    fig.savefig(path, dpi=80)
    plt.close(fig)


def report(name, run, spheres):
    """The numbers the README quotes."""
    i = -1
    print("%s, at the end (%.0f K):" % (name, run["temperature"][i]))
    print("  Sauter primary diameter %.1f nm, mean collision diameter %.1f nm, mean "
          "volume-equivalent diameter %.1f nm, %.3g particles/m3"
          % (run["sauter_primary_diameter"][i] * 1e9, run["mean_collision_diameter"][i] * 1e9,
             run["mean_diameter"][i] * 1e9, run["total_number"][i]))
    print("  spheres only: mean diameter %.1f nm, Sauter diameter 6V/A %.1f nm, "
          "%.3g particles/m3" % (spheres["mean_diameter"][i] * 1e9, spheres.sauter()[i] * 1e9,
                                 spheres["total_number"][i]))
    print("  primaries per particle: %.3g over the particles, %.3g over the volume, from %.3g"
          % (run.primaries("number")[i], run.primaries("volume")[i],
             np.nanmin(run.nodes("primaries_per_particle")[i])))
    print("  tau_s / tau_c at the end: %.3g" % (run.sintering_time()[i] / run["collision_time"][i]))
    for t, T, rising in run.crossings():
        print("  tau_s %s tau_c at %.3g ms, %.0f K"
              % ("rises above" if rising else "falls below", t * 1e3, T))


# name, the first time drawn (ms), a log time axis, the range of time scales drawn (s), the
# law in words, the title
CASES = (
    ("tio2-flame", 0.1, True, (1e-9, 1e4), "the library's grain-boundary law (Kobata et al. 1991)",
     "TiO$_2$ aggregates from TiCl$_4$ in a flame: grain-boundary sintering "
     "(Kobata et al. 1991), D$_f$ 1.8 (examples/aggregates/tio2-flame.toml)"),
    ("silica", 0.01, True, (1e-8, 1e4), "viscous flow, T$_a$ = 83000 K",
     "SiO$_2$ aggregates from 2 nm spheres in a cooling flame: viscous-flow sintering "
     "(Tsantilis et al. 2001), D$_f$ 1.8 (examples/aggregates/silica.toml)"),
    ("copper-quench", 12.5, False, (1e-7, 1e2), "an illustrative law",
     "Copper from a quenched plasma: nucleation, growth, coagulation and an illustrative "
     "grain-boundary law (examples/aggregates/copper-quench.toml)"),
)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(REPO, "build", "aerosol"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="aerosol-aggregates-") as work:
        for name, start_ms, log_time, times, what, title in CASES:
            case = os.path.join(HERE, name + ".toml")
            run = simulate(args.program, case, os.path.join(work, name + ".nc"))
            spheres = simulate(args.program, without_aggregates(case, work),
                               os.path.join(work, name + "-spheres.nc"))
            figure(run, spheres, title, os.path.join(HERE, name + ".png"), start_ms, log_time,
                   times, what)
            report(name, run, spheres)
    print("figures written to", HERE)


if __name__ == "__main__":
    main()
