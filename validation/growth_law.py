#!/usr/bin/python3
"""Free-molecular condensation: the diameter growth rate does not depend on size.

Process 4 seeds one node of a vapour that cools from 310 K at 5e4 K/s while its monomer
concentration stays at 1.001 ns(310 K), so the saturation ratio climbs from 1 to about 24.
The surface tension is set to zero so that no seed evaporates at the start (with a Kelvin
term the small seeds first shed particles into the node below, which later grow back and
spoil the single-node measurement).
The seeded node has no inflow, so its loss rate r = -d ln N/dt is the node-to-node transfer;
it is turned into a diameter growth rate

    dd/dt (measured) = r (v_{k+1} - v_k) / (pi d_k^2 / 2).

Kinetic theory for a monomer (d1, m1) hitting a particle (d, m) at concentration N1 over a
surface in equilibrium with Ks = ns exp(4 sigma M / (rho R T d)):

    dd/dt = 2 v1 / (pi d^2) * (pi/4) (d + d1)^2 * sqrt(8kT/pi (1/m1 + 1/m)) * (N1 - Ks),

which for d >> d1 becomes the size-independent  v1 c1 (N1 - ns) / 2,  c1 = sqrt(8kT/(pi m1)).
Both are averaged over the same interval (only intervals where every seed condenses) and
compared with the measurement, seed by seed.
"""

import math
import sys

import aerosol_runs as ar

VAPOUR = dict(nodeCount=26, startTemperature=310, coolingRate=5e4, pressure=1,
              molecularWeight=0.1, density=2000, surfaceTensionA=0, surfaceTensionB=0,
              vaporPressureC=87.6, vaporPressureD=30000, process=4, collisionFunction=1)
SEEDS = range(6, 25)
TOLERANCE = 0.01  # measured against kinetic theory, relative


def saturation_concentration(T):
    return math.exp(VAPOUR["vaporPressureC"] - VAPOUR["vaporPressureD"] / T) * VAPOUR["pressure"] * 101325 / (
        ar.BOLTZMANN * T)


def theory_rate(d, T, N1, full=True):
    """dd/dt in m/s at diameter d and temperature T."""
    k = ar.BOLTZMANN
    rho, M = VAPOUR["density"], VAPOUR["molecularWeight"]
    v1 = M / (rho * ar.AVOGADRO)
    d1 = (6 * v1 / math.pi) ** (1 / 3)
    m1 = rho * v1
    ns = saturation_concentration(T)
    if not full:
        return v1 * math.sqrt(8 * k * T / (math.pi * m1)) * (N1 - ns) / 2
    sigma = (VAPOUR["surfaceTensionA"] - VAPOUR["surfaceTensionB"] * T) * 1e-3
    ks = ns * math.exp(4 * sigma * M / (rho * 8.314 * T * d))
    m = rho * math.pi * d ** 3 / 6
    beta = math.pi / 4 * (d + d1) ** 2 * math.sqrt(8 * k * T / math.pi * (1 / m1 + 1 / m))
    return 2 * v1 / (math.pi * d ** 2) * beta * (N1 - ks)


def average(f, t0, t1, steps=200):
    h = (t1 - t0) / steps
    return sum(f(t0 + (i + 0.5) * h) for i in range(steps)) / steps


def measure(program):
    v = ar.node_volumes(ar.monomer_volume(VAPOUR["molecularWeight"], VAPOUR["density"]),
                        VAPOUR["nodeCount"])
    N1 = 1.001 * saturation_concentration(VAPOUR["startTemperature"])
    T = lambda t: VAPOUR["startTemperature"] - VAPOUR["coolingRate"] * t
    results, seconds = [], 0.0
    for seed in SEEDS:
        run = ar.run_program(program, VAPOUR, grow=dict(seedNode=seed, seedConcentration=1e12))
        seconds += run.seconds
        blocks = ar.parse_process4(run.stdout)
        d = (6 * v[seed] / math.pi) ** (1 / 3)
        # From the first block at which the smallest seed already condenses, to the end.
        dmin = (6 * v[SEEDS[0]] / math.pi) ** (1 / 3)
        start = next(i for i, (t, _) in enumerate(blocks) if theory_rate(dmin, T(t), N1) > 0)
        (t0, first), (t1, last) = blocks[start], blocks[-1]
        rate = -math.log(last[seed] / first[seed]) / (t1 - t0)
        measured = rate * (v[seed + 1] - v[seed]) / (math.pi * d ** 2 / 2)
        theory = average(lambda t: theory_rate(d, T(t), N1), t0, t1)
        limit = average(lambda t: theory_rate(d, T(t), N1, full=False), t0, t1)
        results.append(dict(node=seed, d=d, measured=measured, theory=theory, limit=limit,
                            t0=t0, t1=t1, change=math.log(first[seed] / last[seed])))
    return results, seconds


def plot(results, path):
    plt = ar.pyplot()
    fig, ax = plt.subplots(figsize=(6.4, 4.4))
    d = [r["d"] for r in results]
    ax.plot(d, [r["measured"] for r in results], "o", label="measured: seeded node's transfer")
    ax.plot(d, [r["theory"] for r in results], "-", label="kinetic theory, monomer size and Kelvin term")
    ax.plot(d, [r["limit"] for r in results], "k--", label=r"free-molecular law $v_1\bar c_1(N_1-n_s)/2$")
    ax.set_xscale("log")
    ax.set_xlabel("particle diameter of the seeded node (m)")
    ax.set_ylabel("diameter growth rate dd/dt (m/s), run average")
    ax.set_ylim(0, 1.3 * max(r["measured"] for r in results))
    ax.grid(True, which="both", lw=0.3)
    ax.legend(fontsize=8)
    ax.set_title("Process 4: condensation growth, 26 nodes, S from 1 to 24")
    ar.save_figure(fig, path)


def main():
    parser = ar.arguments(__doc__, helper_used=False,
                          figure_help="write the growth rates against theory to this PNG")
    args = parser.parse_args()
    results, seconds = measure(ar.find_program(args.program))
    print("node  d (m)      measured   theory     meas/theory  limit      meas/limit  ln N0/N")
    failures = []
    for r in results:
        ratio = r["measured"] / r["theory"]
        print("%4d  %.3e  %.4e %.4e %.5f      %.4e %.4f      %.3g"
              % (r["node"], r["d"], r["measured"], r["theory"], ratio, r["limit"],
                 r["measured"] / r["limit"], r["change"]))
        if not abs(ratio - 1) <= TOLERANCE:
            failures.append("growth rate at node %d (d = %.3g m): measured %.4g m/s, kinetic "
                            "theory %.4g m/s (%+.2f%%, allowed %.0f%%)"
                            % (r["node"], r["d"], r["measured"], r["theory"],
                               100 * (ratio - 1), 100 * TOLERANCE))
    print("%d runs, %.1f s" % (len(results), seconds))
    if args.figure:
        plot(results, args.figure)
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
