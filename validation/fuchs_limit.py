#!/usr/bin/python3
"""The Fuchs collision kernel against the free-molecular one, beta(d, d) from 1 nm to 10 um,
as the program's step engine fills its table.

The free-molecular form must be kinetic theory's cross-section times mean relative speed
(exact constants: the stored ones make 2.4e-4). In air at 300 K and 1 atm (gas mean free path
57 nm) the two forms must agree for small
particles (Knudsen number Kn = 2 lambda / d large) and the Fuchs form must bend over to the
continuum value with slip for large ones, 8kT/(3 mu) (1 + Kn) for equal sizes, while the
free-molecular form keeps growing as d^(1/2).
"""

import math
import subprocess
import sys

import aerosol_runs as ar

# Both limits are approached with a difference of first order in 1/Kn and in Kn: about 0.6%
# at Kn 18 and 1% at Kn 0.02 in this table.
SMALL_KN = 15.0        # Kn above this: Fuchs within SMALL_KN_TOLERANCE of free molecular
SMALL_KN_TOLERANCE = 0.01
CONTINUUM_KN = 0.02    # Kn below this: Fuchs within CONTINUUM_TOLERANCE of 8kT/(3 mu)(1+Kn)
CONTINUUM_TOLERANCE = 0.02
KINETIC_TOLERANCE = 1e-3


def read_table(helper):
    out = subprocess.run([helper, "kernel"], capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        if line.startswith("#") or line.startswith("diameter"):
            continue
        rows.append([float(x) for x in line.split()])
    return rows


def continuum(kn, T=300.0):
    mu = T ** 1.5 * 1.458e-6 / (110.4 + T)
    return 8 * 1.38e-23 * T / (3 * mu) * (1 + kn)


def kinetic(d, T=300.0, rho=2000.0, k=1.380649e-23):
    """(pi/4) (2d)^2 sqrt(8kT/pi (2/m)) for two spheres of diameter d."""
    m = rho * math.pi * d ** 3 / 6
    return math.pi * d * d * math.sqrt(16 * k * T / (math.pi * m))


def evaluate(rows):
    failures, small, large = [], [], []
    worst = max(rows, key=lambda r: abs(r[2] / kinetic(r[0]) - 1))
    if abs(worst[2] / kinetic(worst[0]) - 1) > KINETIC_TOLERANCE:
        failures.append("free-molecular beta at d = %.3g m is %+.3f%% from kinetic theory "
                        "(allowed %.1f%%)" % (worst[0], 100 * (worst[2] / kinetic(worst[0]) - 1),
                                              100 * KINETIC_TOLERANCE))
    for d, kn, free, fuchs in rows:
        if kn > SMALL_KN:
            small.append((d, kn, fuchs / free - 1))
        if kn < CONTINUUM_KN:
            large.append((d, kn, fuchs / continuum(kn) - 1))
    worst_small = max(small, key=lambda r: abs(r[2]))
    worst_large = max(large, key=lambda r: abs(r[2]))
    if abs(worst_small[2]) > SMALL_KN_TOLERANCE:
        failures.append("Fuchs/free-molecular at d = %.3g m (Kn %.3g) is off by %+.2f%% (allowed "
                        "%.0f%% for Kn > %g)" % (worst_small[0], worst_small[1],
                                                 100 * worst_small[2], 100 * SMALL_KN_TOLERANCE,
                                                 SMALL_KN))
    if abs(worst_large[2]) > CONTINUUM_TOLERANCE:
        failures.append("Fuchs at d = %.3g m (Kn %.3g) is %+.2f%% from the continuum value "
                        "(allowed %.0f%%)" % (worst_large[0], worst_large[1],
                                              100 * worst_large[2], 100 * CONTINUUM_TOLERANCE))
    ratios = [fuchs / free for _, _, free, fuchs in rows]
    if any(b > a for a, b in zip(ratios, ratios[1:])):
        failures.append("Fuchs/free-molecular ratio does not fall steadily with diameter")
    return failures, worst_small, worst_large


def plot(rows, path):
    plt = ar.pyplot()
    import numpy as np
    d = [r[0] for r in rows]
    fig, ax = plt.subplots(figsize=(6.4, 4.6))
    ax.plot(d, [r[2] for r in rows], "-", label="free molecular")
    ax.plot(d, [r[3] for r in rows], "-", label="Fuchs form")
    ax.plot(d, [continuum(r[1]) for r in rows], "k:", label=r"continuum with slip $8kT(1+Kn)/3\mu$")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_ylim(1e-16, 1e-13)
    ax.set_xlabel("particle diameter d (m)")
    ax.set_ylabel(r"$\beta(d, d)$ (m$^3$/s)")
    ax.grid(True, which="both", lw=0.3)
    swap = lambda x: 2 * 5.70179e-8 / np.maximum(x, 1e-30)
    top = ax.secondary_xaxis("top", functions=(swap, swap))
    top.set_xlabel("Knudsen number 2 lambda / d")
    ax.legend(fontsize=8)
    ax.set_title("Equal-size collision kernel, air at 300 K, 1 atm", fontsize=10)
    ar.save_figure(fig, path)


def main():
    parser = ar.arguments(__doc__, helper_used=True, figure_help="write the kernels to this PNG")
    args = parser.parse_args()
    rows = read_table(args.helper)
    failures, small, large = evaluate(rows)
    for d, kn, free, fuchs in rows[::6]:
        print("d %.3e m  Kn %8.4g  free %.4e  Fuchs %.4e  ratio %.5f"
              % (d, kn, free, fuchs, fuchs / free))
    print("largest free-molecular difference from kinetic theory: %+.4f%%"
          % (100 * max((r[2] / kinetic(r[0]) - 1 for r in rows), key=abs)))
    print("largest Fuchs/free-molecular difference for Kn > %g: %+.3f%% at d = %.3g m"
          % (SMALL_KN, 100 * small[2], small[0]))
    print("largest difference from the continuum value for Kn < %g: %+.3f%% at d = %.3g m"
          % (CONTINUUM_KN, 100 * large[2], large[0]))
    if args.figure:
        plot(rows, args.figure)
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
