#!/usr/bin/python3
"""Aggregates with sintering: the model's limits and the self-preserving distributions of
aggregates.

Sections (--sections, default all):
  limits  three limits that need no reference beyond the model's own definition:
          - instant sintering is the run of spheres: the TiO2 flame example
            (examples/aggregates/tio2-flame.toml) with sintering = "instant" against the
            same case without [aggregates], in total number and number-mean diameter at
            every output time, to 1e-3 (the integrator's tolerance, 1e-4, accumulated);
          - without sintering, coagulation conserves the total area and keeps the primaries:
            1 nm spheres coagulating as aggregates (D_f 1.8), total area to 1e-9 and the
            Sauter primary diameter 6 V / A to 1e-9 of 1 nm, at every time;
          - sintering alone relaxes a node's excess area as the law says: aggregates of
            twice the sphere's area (primaries of half its diameter) in one node, viscous
            flow with T_a = 0, tau = A d_p; with x = A / A_sph - 1, dx/dt = -x (1 + x) / tau_v
            (tau_v = A d_v), so x / (1 + x) = x0 / (1 + x0) exp(-t / tau_v), to 1e-6.
  spd     the self-preserving distribution of aggregates in the free-molecular regime
          without sintering, k_f = 1, primaries of one size (1 nm), for D_f = 3 (spheres,
          no [aggregates] table), 2.6, 2.2 and 2.0, on grids of spacing 2, 1.4, 1.2 and 1.1,
          run until the number has fallen about 1e4-fold. The geometric standard deviation
          of the volume-equivalent diameter against Vemury and Pratsinis, J. Aerosol Sci. 26
          (1995) 175 (integrated from their tables: 1.465, about 1.51, 1.57 and 1.61, +-0.02
          from the tables' resolution). Asserted: the distribution is self-preserving (sigma_g
          at half the run within 1e-3 of the end's), sigma_g converges (each halving of
          ln q moves it less than the one before), at q = 1.1 it is within 0.02 of the
          literature, and it grows as D_f falls.

--figure draws sigma_g against the grid spacing, with the literature's values.
"""

import math
import os
import sys
import time

import numpy as np
import netCDF4

import aerosol_runs as ar
import simulate_checks as sc

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
FLAME = os.path.join(REPO, "examples", "aggregates", "tio2-flame.toml")
PI = 3.1415926  # the program's stored pi

INSTANT_LIMIT = 1e-3
AREA_LIMIT = 1e-9
RELAXATION_LIMIT = 1e-6

# D_f -> sigma_g of the volume-equivalent diameter (Vemury and Pratsinis 1995).
LITERATURE = {3.0: 1.465, 2.6: 1.51, 2.2: 1.57, 2.0: 1.61}
LITERATURE_LIMIT = 0.02
SPACINGS = (2.0, 1.4, 1.2, 1.1)
# End times: the number falls about 1e4-fold from 1e20 m-3 of 1 nm particles at 300 K.
END_TIME = {3.0: 0.1, 2.6: 0.03, 2.2: 0.01, 2.0: 0.005}
SPAN = 1e10  # volume ratio of the top node to node 1: far above the largest particles
STEADY_LIMIT = 1e-3


def coagulation_case(spacing, nodes, end, fractal=None, relative=1e-6):
    """1e20 m-3 of 1 nm particles coagulating at 300 K by the free-molecular kernel."""
    case = {
        "mechanisms": {"nucleation": False, "coagulation": True, "kernel": "free-molecular",
                       "growth": False, "vapor": "none"},
        "material": {"density": 1000.0},
        "grid": {"nodes": nodes, "spacing": spacing, "first_diameter": 1.0},
        "initial": {"particles": {"kind": "monodisperse", "concentration": 1e20,
                                  "diameter": 1.0}},
        "temperature": {"law": "constant", "start": 300.0},
        "end": {"time": end},
        "tolerances": {"relative": relative},
        "output": {"times": 41, "spacing": "linear"},
    }
    if fractal is not None:
        case["aggregates"] = {"fractal_dimension": fractal, "prefactor": 1.0,
                              "sintering": "none"}
    return case


def read(path, *names):
    with netCDF4.Dataset(path) as ds:
        return [np.array(ds.variables[n][:], dtype=float) for n in names]


def run_case(runner, label, case):
    """Runs a case dict; returns its NetCDF path (the run must complete)."""
    runner.simulate_case(label, case)
    return os.path.join(runner.work, "%s.nc" % sc.slug(label))


def section_limits(runner, failures):
    # Instant sintering against spheres, on the flame example.
    flame = sc.load_case(FLAME)
    spheres = {k: v for k, v in flame.items() if k not in ("aggregates", "output")}
    spheres["output"] = {"times": 101, "spacing": "log"}
    instant = dict(spheres, aggregates={"fractal_dimension": 1.8, "sintering": "instant"})
    a = run_case(runner, "flame instant", instant)
    b = run_case(runner, "flame spheres", spheres)
    (na, da), (nb, db) = read(a, "total_number", "mean_diameter"), read(b, "total_number",
                                                                         "mean_diameter")
    worst = max(np.nanmax(np.abs(na[1:] / nb[1:] - 1)), np.nanmax(np.abs(da[1:] / db[1:] - 1)))
    print("instant sintering vs spheres, TiO2 flame (%d times): largest relative difference "
          "in number and mean diameter %.2e (allowed %.0e)" % (len(na) - 1, worst,
                                                               INSTANT_LIMIT))
    if not worst <= INSTANT_LIMIT:
        failures.append("instant sintering differs from the spheres' run by %.2e" % worst)

    # No sintering: area and primaries kept.
    n = int(math.ceil(math.log(SPAN) / math.log(1.4))) + 1
    path = run_case(runner, "no sintering", coagulation_case(1.4, n, 0.01, 1.8, 1e-10))
    area, sauter, number = read(path, "surface_area", "sauter_primary_diameter", "total_number")
    total = area.sum(axis=1)
    drift = np.max(np.abs(total / total[0] - 1))
    primary = np.max(np.abs(sauter / 1e-9 - 1))
    print("no sintering, D_f 1.8, number down %.0f-fold: total area kept to %.1e, Sauter "
          "primary diameter to %.1e of 1 nm (allowed %.0e)"
          % (number[0] / number[-1], drift, primary, AREA_LIMIT))
    if not (drift <= AREA_LIMIT and primary <= AREA_LIMIT):
        failures.append("coagulation without sintering: area %.1e, primaries %.1e"
                        % (drift, primary))

    # Sintering alone: node 5 of aggregates with primaries of half the particle's diameter.
    node = 5
    v5 = PI / 6.0 * 1e-27 * 2.0 ** (node - 1)
    dv = (6.0 * v5 / PI) ** (1.0 / 3.0)
    prefactor = 1e4  # s/m
    tau = prefactor * dv
    case = coagulation_case(2.0, 10, 3.0 * tau, relative=1e-10)
    case["mechanisms"]["coagulation"] = False
    case["initial"]["particles"] = {"kind": "node", "node": node, "concentration": 1e20,
                                    "primary_diameter": 0.5 * dv * 1e9}
    case["aggregates"] = {"sintering": "viscous-flow", "sintering_a": prefactor,
                          "sintering_activation_temperature": 0.0}
    path = run_case(runner, "sintering alone", case)
    t, area, volume = read(path, "time", "surface_area", "volume")
    sphere = PI ** (1.0 / 3.0) * (6.0 * volume[node - 1]) ** (2.0 / 3.0) * 1e20
    x = area[:, node - 1] / sphere - 1.0
    r = 0.5 * np.exp(-t / tau)
    error = np.max(np.abs(x - r / (1.0 - r)))
    print("sintering alone, viscous flow, tau_v = %.3g s: excess area against the exact "
          "relaxation over 3 tau_v, largest error %.1e (allowed %.0e)"
          % (tau, error, RELAXATION_LIMIT))
    if not error <= RELAXATION_LIMIT:
        failures.append("sintering alone misses the exact relaxation by %.1e" % error)
    print()


def section_spd(runner, failures):
    rows = {}
    for fractal in LITERATURE:
        for q in SPACINGS:
            n = int(math.ceil(math.log(SPAN) / math.log(q))) + 1
            case = coagulation_case(q, n, END_TIME[fractal],
                                    None if fractal == 3.0 else fractal)
            start = time.monotonic()
            path = run_case(runner, "spd D%g q%g" % (fractal, q), case)
            seconds = time.monotonic() - start
            sigma, number = read(path, "geometric_std", "total_number")
            rows[fractal, q] = (n, sigma[-1], sigma[len(sigma) // 2], number[0] / number[-1],
                                seconds)
    print("Self-preserving sigma_g of the volume-equivalent diameter, free molecular, no "
          "sintering, k_f = 1")
    print("D_f  literature  " + "  ".join("q=%-5g" % q for q in SPACINGS) + "  nodes at q=1.1")
    for fractal, reference in LITERATURE.items():
        values = [rows[fractal, q][1] for q in SPACINGS]
        print("%-4g %-10.3f  " % (fractal, reference)
              + "  ".join("%-7.4f" % v for v in values)
              + "  %d" % rows[fractal, SPACINGS[-1]][0])
        for q in SPACINGS:
            n, end, half, fall, _ = rows[fractal, q]
            if not abs(end - half) <= STEADY_LIMIT:
                failures.append("D_f %g, q %g: sigma_g %.4f at half the run, %.4f at the end: "
                                "not self-preserving" % (fractal, q, half, end))
        steps = [abs(b - a) for a, b in zip(values, values[1:])]
        if not all(later < earlier for earlier, later in zip(steps, steps[1:])):
            failures.append("D_f %g: sigma_g does not converge with the spacing: %s"
                            % (fractal, values))
        if not abs(values[-1] - reference) <= LITERATURE_LIMIT:
            failures.append("D_f %g: sigma_g %.4f at q = 1.1, %.3f in the literature"
                            % (fractal, values[-1], reference))
    finest = [rows[f, SPACINGS[-1]][1] for f in LITERATURE]
    if not all(b > a for a, b in zip(finest, finest[1:])):
        failures.append("sigma_g does not grow as D_f falls: %s" % finest)
    falls = [rows[k][3] for k in rows]
    print("number fallen %.1e- to %.1e-fold; %.1f s of runs in all"
          % (min(falls), max(falls), sum(r[4] for r in rows.values())))
    print()
    return rows


def plot(rows, path):
    plt = ar.pyplot()
    fig, ax = plt.subplots(figsize=(6.0, 4.2))
    for fractal, reference in LITERATURE.items():
        x = [math.log(q) for q in SPACINGS]
        line, = ax.plot(x, [rows[fractal, q][1] for q in SPACINGS], "o-",
                        label="D_f = %g%s" % (fractal, " (spheres)" if fractal == 3.0 else ""))
        ax.axhspan(reference - LITERATURE_LIMIT, reference + LITERATURE_LIMIT,
                   color=line.get_color(), alpha=0.12)
        ax.axhline(reference, color=line.get_color(), lw=0.8, ls="--")
    ax.set_xlabel("ln q (q: volume ratio of neighbouring nodes)")
    ax.set_ylabel("self-preserving $\\sigma_g$")
    ax.set_xlim(left=0.0)
    ax.set_title("Aggregates without sintering, free molecular\n"
                 "dashed: Vemury and Pratsinis (1995), band: $\\pm$0.02", fontsize=10)
    ax.legend(fontsize=8, loc="lower right")
    ar.save_figure(fig, path)


def main():
    parser = ar.arguments(__doc__, helper_used=False,
                          figure_help="draw sigma_g against the grid spacing to this PNG")
    parser.add_argument("--sections", default="limits,spd")
    parser.add_argument("--keep", help="keep the runs' files in this folder")
    args = parser.parse_args()
    program = ar.find_program(args.program)
    sections = args.sections.split(",")
    failures = []
    start = time.monotonic()
    with ar.work_folder(args.keep, "aerosol-aggregates-") as work:
        try:
            runner = sc.Runner(program, work)
            if "limits" in sections:
                section_limits(runner, failures)
            if "spd" in sections:
                rows = section_spd(runner, failures)
                if args.figure:
                    plot(rows, args.figure)
        except (RuntimeError, OSError, KeyError) as e:
            failures.append(str(e))
    print("(%.0f s)" % (time.monotonic() - start))
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
