#!/usr/bin/python3
"""Runs the reactor examples and draws their figures beside them:
copper-quench.png (the quench with and without the gas contracting), tio2-flame.png and
hot-wall-tube.png.

Usage: python3 examples/reactor/make_figures.py [--program build/aerosol]
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


class Run:
    """The variables of a simulate NetCDF file, as numpy arrays by name."""

    def __init__(self, path):
        with netCDF4.Dataset(path) as ds:
            self.v = {name: np.array(ds.variables[name][:], dtype=float)
                      for name in ds.variables}
            self.first = int(ds.getncattr("first_particle_node")) - 1

    def __getitem__(self, name):
        return self.v[name]

    def ratio(self):
        """rho / rho0 of the gas (1 in a closed volume)."""
        return self.v.get("gas_density_ratio", np.ones_like(self.v["time"]))

    def distribution(self, i):
        """Particle diameters (nm) and dN/dlog10 dp (m-3) at output time i."""
        d = self["diameter"][self.first:]
        width = np.log10(np.median(d[1:] / d[:-1]))
        return d * 1e9, self["concentration"][i, self.first:] / width

    def burst_peak_s(self):
        """The largest saturation ratio before the vapour falls to a tenth of its peak."""
        n1, s = self["monomer_concentration"], self["saturation_ratio"]
        spent = np.argmax((n1 < 0.1 * n1.max()) & (np.arange(len(n1)) > np.argmax(n1)))
        i = int(np.argmax(s[:spent]))
        return s[i], self["temperature"][i]


def simulate(program, case, out):
    """Runs a case file into `out`."""
    done = subprocess.run([program, "simulate", case, "-o", out], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("make_figures: %s ended with status %d:\n%s" % (case, done.returncode,
                                                               done.stderr))
    return Run(out)


def positive(y):
    return np.where(y > 0, y, np.nan)


def shown(dn, below):
    """dN/dlog10 dp with the nodes more than `below` under its peak left blank."""
    return np.where(dn > dn.max() * below, dn, np.nan)


def copper_figure(flow, closed, path):
    fig, axes = plt.subplots(1, 3, figsize=(15, 4.4), layout="constrained")
    t = flow["time"] * 1e3
    runs = (("flow at 1 atm (expansion)", flow, "C0"), ("closed volume", closed, "C3"))
    ax = axes[0]
    for label, run, colour in runs:
        ax.plot(t, positive(run["saturation_ratio"]), color=colour, label="S, " + label)
    ax.set_yscale("log")
    ax.set_ylim(1e-2, 1e3)
    ax.set_xlim(5, 20)
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("saturation ratio S")
    twin = ax.twinx()
    twin.plot(t, flow["temperature"], color="0.5", lw=1, ls="--", label="T")
    twin.set_ylabel("temperature (K), dashed")
    ax.legend(loc="upper left", fontsize=8)
    ax.grid(True, alpha=0.3)

    ax = axes[1]
    for label, run, colour in runs:
        ax.plot(t, positive(run["nucleation_rate"]), color=colour, label=label)
    ax.set_yscale("log")
    ax.set_ylim(1e10, 1e21)
    ax.set_xlim(10, 16)
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("nucleation rate J (m$^{-3}$ s$^{-1}$)")
    ax.legend(fontsize=8)
    ax.grid(True, alpha=0.3)

    ax = axes[2]
    for label, run, colour in runs:
        d, dn = run.distribution(-1)
        # Per m3 of the gas as it left the plasma (divided by its density change), so that
        # the same vapour is compared.
        dn = dn / run.ratio()[-1]
        s, T = run.burst_peak_s()
        number = run["total_number"][-1] / run.ratio()[-1]
        ax.plot(d, shown(dn, 1e-6), color=colour,
                label="%s:\npeak S %.0f at %.0f K; %.2g particles, %.0f nm"
                % (label, s, T, number, run["mean_diameter"][-1] * 1e9))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("particle diameter (nm)")
    ax.set_ylabel("dN/dlog$_{10}d_p$ at 1000 K (per m$^3$ of gas at 2800 K)")
    ax.legend(fontsize=8)
    ax.grid(True, which="both", alpha=0.3)
    fig.suptitle("Copper vapour quenched from 2800 K at 1e5 K/s: the gas contracting "
                 "(examples/reactor/copper-quench.toml) and a closed volume", fontsize=11)
    fig.savefig(path, dpi=80)
    plt.close(fig)


def tio2_figure(run, path):
    fig, axes = plt.subplots(1, 3, figsize=(15, 4.4), layout="constrained")
    t = run["time"] * 1e3
    ratio = run.ratio()
    c0 = run["precursor_concentration"][0]
    ax = axes[0]
    ax.plot(t, run["precursor_concentration"] / ratio / c0, label="TiCl$_4$ left")
    v1 = run["volume"][0]
    ax.plot(t, run["particle_volume"] / ratio / (c0 * v1), label="TiO$_2$ in particles")
    ax.set_xscale("log")
    ax.set_xlim(0.1, t[-1])
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("share of the TiCl$_4$ at the start (per unit of gas)")
    twin = ax.twinx()
    twin.plot(t, run["temperature"], color="0.5", lw=1, ls="--")
    twin.set_ylabel("temperature (K), dashed")
    ax.legend(loc="center left", fontsize=8)
    ax.grid(True, alpha=0.3)

    ax = axes[1]
    ax.plot(t, positive(run["total_number"]), color="C0", label="number (m$^{-3}$)")
    ax.set_yscale("log")
    ax.set_xscale("log")
    ax.set_xlim(0.1, t[-1])
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("particles per m$^3$")
    twin = ax.twinx()
    twin.plot(t, run["mean_diameter"] * 1e9, color="C1")
    twin.set_ylabel("number-mean diameter (nm)", color="C1")
    ax.grid(True, alpha=0.3)

    ax = axes[2]
    for ms in (2.0, 5.0, 20.0, 50.0, 200.0):
        i = int(np.argmin(np.abs(t - ms)))
        d, dn = run.distribution(i)
        ax.plot(d, shown(dn, 1e-4), label="%.3g ms, %.0f K" % (t[i], run["temperature"][i]))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("particle diameter (nm)")
    ax.set_ylabel("dN/dlog$_{10}d_p$ (m$^{-3}$)")
    ax.legend(fontsize=8)
    ax.grid(True, which="both", alpha=0.3)
    fig.suptitle("TiO$_2$ from TiCl$_4$ in a flame: the precursor reacts at "
                 "8.26e4 exp(-10681/T) 1/s, every molecule a particle that coagulates "
                 "(examples/reactor/tio2-flame.toml)", fontsize=11)
    fig.savefig(path, dpi=80)
    plt.close(fig)


def hot_wall_figure(run, no_walls, path):
    fig, axes = plt.subplots(1, 3, figsize=(15, 4.4), layout="constrained")
    t = run["time"]
    ratio = run.ratio()
    v1 = run["volume"][0]
    start = run["precursor_concentration"][0] * v1
    ax = axes[0]
    shares = [("TiCl$_4$ not yet reacted", run["precursor_concentration"] * v1),
              ("TiO$_2$ in the gas", run["particle_volume"]),
              ("on the tube's wall", run["volume_lost_to_walls"]),
              ("carried off by the dilution", run["volume_lost_to_dilution"])]
    ax.stackplot(t, *[s / ratio / start for _, s in shares], labels=[n for n, _ in shares])
    ax.set_xlim(0, t[-1])
    ax.set_ylim(0, 1.0)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("share of the titanium at the inlet")
    ax.legend(loc="lower left", fontsize=8)
    ax.grid(True, alpha=0.3)

    ax = axes[1]
    # Per m3 of the gas at the inlet: the tallies, like every concentration, follow the gas
    # density.
    ax.plot(t, positive(run["total_number"] / ratio), label="particles in the gas")
    ax.plot(t, positive(run["number_lost_to_walls"] / ratio), label="particles lost to the wall")
    ax.plot(t, positive(no_walls["total_number"] / no_walls.ratio()), color="0.5", ls="--",
            label="particles in the gas, no wall")
    ax.set_yscale("log")
    ax.set_ylim(1e12, None)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("per m$^3$ of gas at the inlet (300 K)")
    ax.legend(fontsize=8)
    ax.grid(True, alpha=0.3)

    ax = axes[2]
    for label, r, style in (("4 mm tube", run, "-"), ("no wall", no_walls, "--")):
        for when, colour in ((1.05, "C0"), (t[-1], "C1")):
            i = int(np.argmin(np.abs(t - when)))
            d, dn = r.distribution(i)
            ax.plot(d, shown(dn, 1e-4), color=colour, ls=style,
                    label="%s, %.2f s (%.0f nm)" % (label, t[i], r["mean_diameter"][i] * 1e9))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("particle diameter (nm)")
    ax.set_ylabel("dN/dlog$_{10}d_p$ (m$^{-3}$)")
    ax.legend(fontsize=8)
    ax.grid(True, which="both", alpha=0.3)
    fig.suptitle("A hot-wall tube at 1300 K: TiO$_2$ from TiCl$_4$, diffusion to the wall "
                 "of a 4 mm tube, tenfold dilution at the outlet "
                 "(examples/reactor/hot-wall-tube.toml)", fontsize=11)
    fig.savefig(path, dpi=80)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(REPO, "build", "aerosol"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="aerosol-reactor-") as work:
        def run(name):
            return simulate(args.program, os.path.join(HERE, name + ".toml"),
                            os.path.join(work, name + ".nc"))
        copper_figure(run("copper-quench"), run("copper-quench-closed"),
                      os.path.join(HERE, "copper-quench.png"))
        tio2_figure(run("tio2-flame"), os.path.join(HERE, "tio2-flame.png"))
        # The same tube without its wall: the tube diameter taken out.
        with open(os.path.join(HERE, "hot-wall-tube.toml")) as f:
            text = f.read()
        bare = os.path.join(work, "no-walls.toml")
        with open(bare, "w") as f:
            f.write("".join(line for line in text.splitlines(True)
                            if not line.startswith("tube_diameter")))
        hot_wall_figure(run("hot-wall-tube"),
                        simulate(args.program, bare, os.path.join(work, "no-walls.nc")),
                        os.path.join(HERE, "hot-wall-tube.png"))
    print("figures written to", HERE)


if __name__ == "__main__":
    main()
