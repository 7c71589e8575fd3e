#!/usr/bin/python3
"""What a grid costs in accuracy: the test kernels against Scott's closed forms.

Scott (J. Atmos. Sci. 25 (1968) 54) solved the coagulation equation exactly for the constant
kernel beta = K and the additive kernel beta = b (u + v). Each is run here by `aerosol
simulate` (pure coagulation, `kernel = "constant"` / `"additive"`) from
  exponential   n(v, 0) = (N0/v0) exp(-v/v0)  (`[initial.particles] kind = "exponential"`)
  monodisperse  N0 particles of volume v0, the grid's node 1
on grids of spacing q = 2, 1.5, 1.25 and 1.1 spanning the distribution through the run (node
1 at 1e-5 v0 for the exponential start, at v0 for the monodisperse one; the top node far
above the largest particles that matter, so that no collision product passes it), at a
relative tolerance of 1e-10, and compared with the closed forms written out below when the
number has fallen 10-fold and 100-fold:
  number        relative error of the total number N;
  mean volume   relative error of V/N (V the particle volume);
  distribution  the largest error, over the nodes, of the cumulative volume fraction
                F_k = sum_{j<=k} N_j v_j / V, against the exact solution put on the same nodes
                the way the program puts an initial distribution there (each size shared
                between its two bracketing nodes keeping number and volume). So the error is
                0 at t = 0 on every grid and measures what the grid's coagulation does, not
                that a node is a point and not a bin. The volume, because the few large
                particles that carry it are where a grid goes wrong and the number hides
                them; the largest error, because it reads directly: no more than this
                fraction of the particle volume lies on the wrong side of any node size.

Asserted: the start on the grid is the script's own projection (1e-9 of N0), so the program's
exponential placement is checked too; the exact solutions on the nodes keep N(t) and V
(1e-9: the closed forms checked against each other); the number and the mean volume within
100 times the tolerance (the split keeps both per collision below the top node, so
dN/dt = -K N^2/2 and -b V N hold on any grid and only the integrator errs); the
distribution's error falls with every finer spacing and is within 3% at q = 1.1.

--figure draws the volume distributions at the 100-fold fall from the exponential start.
"""

import collections
import math
import sys
import time

import numpy as np
from scipy.special import gammaln, i1e

import aerosol_runs as ar
import simulate_checks as sc

PI = 3.1415926               # the program's stored pi, in volumes of diameters
N0 = 1e14                    # #/m3
D0 = 10.0                    # nm: the initial mean volume's diameter
K = 1e-15                    # m3/s: K N0 = 0.1 1/s
RATE = 1e-3                  # 1/s: b N0 v0, the additive kernel's rate of number loss
RELATIVE_TOLERANCE = 1e-10
SPACINGS = (2.0, 1.5, 1.25, 1.1)
FOLDS = (10, 100)

START_LIMIT = 1e-9           # the program's start vs the projection here, relative to N0
EXACT_LIMIT = 1e-9           # the exact solution on the nodes vs N(t) and V
NUMBER_LIMIT = 100 * RELATIVE_TOLERANCE  # number and mean volume vs the closed forms
FINE_LIMIT = 0.03            # the distribution's error at the finest spacing

# Node 1 and the top node, in units of v0. The exponential's number below node 1 is about
# v1/v0; the additive kernel's distribution at a 100-fold fall reaches some 1e6 v0, and on a
# coarse grid some 1e7 v0 (with the top node at 1e7 v0, 4e-8 of the number is lost there).
SPAN = {("constant", "exponential"): (1e-5, 1e4), ("constant", "monodisperse"): (1.0, 1e4),
        ("additive", "exponential"): (1e-5, 1e8), ("additive", "monodisperse"): (1.0, 1e8)}

GAUSS_X, GAUSS_W = np.polynomial.legendre.leggauss(24)


def mean_volume():
    return D0 ** 3 * (PI * 1e-27) / 6.0


# ---------------------------------------------------------------------------------------
# Scott's solutions. tau = K N0 t; T = 1 - exp(-b N0 v0 t).

def additive_b(v0):
    return RATE / (N0 * v0)


def exact_number(kernel, t):
    v0 = mean_volume()
    if kernel == "constant":
        return N0 / (1.0 + 0.5 * K * N0 * t)
    return N0 * math.exp(-additive_b(v0) * N0 * v0 * t)


def exponential_density(kernel, t, v0):
    """n(v, t) (#/m3 per m3 of volume) from n(v, 0) = (N0/v0) exp(-v/v0)."""
    if kernel == "constant":
        g = 1.0 + 0.5 * K * N0 * t
        return lambda v: N0 / (v0 * g * g) * np.exp(-v / (v0 * g))
    T = -math.expm1(-additive_b(v0) * N0 * v0 * t)
    if T == 0.0:
        return lambda v: N0 / v0 * np.exp(-v / v0)
    root = math.sqrt(T)
    # N0 (1 - T) / (v sqrt T) exp(-(1 + T) v/v0) I1(2 v sqrt(T)/v0), with I1 scaled by
    # exp(-x) so that neither factor overflows.
    return lambda v: (N0 * (1.0 - T) / (v * root) * np.exp(-(1.0 - root) ** 2 * v / v0)
                      * i1e(2.0 * v * root / v0))


def discrete_numbers(kernel, t):
    """Sizes i = 1, 2, ... (monomers of v0) and their N_i(t) from N0 monomers."""
    if kernel == "constant":
        h = 0.5 * K * N0 * t
        if h == 0.0:
            return np.array([1.0]), np.array([N0])
        ratio = h / (1.0 + h)
        count = int(80.0 / -math.log(ratio)) + 10
        i = np.arange(1, count + 1, dtype=float)
        return i, N0 / (1.0 + h) ** 2 * np.exp((i - 1) * math.log(ratio))
    T = -math.expm1(-RATE * t)
    if T == 0.0:
        return np.array([1.0]), np.array([N0])
    # N_i = N0 (1 - T) (i T)^(i-1) exp(-i T) / i!, in logarithms; it decays as
    # exp(-i (T - 1 - ln T)).
    count = int(80.0 / (T - 1.0 - math.log(T))) + 10
    i = np.arange(1, count + 1, dtype=float)
    log_n = math.log(N0 * (1.0 - T)) + (i - 1) * np.log(i * T) - i * T - gammaln(i + 1)
    return i, np.exp(log_n)


# ---------------------------------------------------------------------------------------
# Sizes on the nodes, keeping number and volume

def share(volume, sizes, counts):
    """Node numbers of particles of the given sizes: a size between two nodes is shared
    between them keeping number and volume; below node 1 or above node n it goes to that node
    with its number."""
    n = len(volume)
    k = np.clip(np.searchsorted(volume, sizes, side="right") - 1, 0, n - 2)
    upper = np.clip((sizes - volume[k]) / (volume[k + 1] - volume[k]), 0.0, 1.0)
    out = np.bincount(k, counts * (1.0 - upper), n) + np.bincount(k + 1, counts * upper, n)
    return out


def project_density(volume, density):
    """A continuous n(v) on the nodes: number and volume of every section between two node
    volumes by Gauss-Legendre in ln v, each shared between its two nodes; the tails go to the
    end nodes with their number."""
    lo, hi = np.log(volume[:-1]), np.log(volume[1:])
    x = 0.5 * (hi + lo)[:, None] + 0.5 * (hi - lo)[:, None] * GAUSS_X[None, :]
    v = np.exp(x)
    w = 0.5 * (hi - lo)[:, None] * GAUSS_W[None, :]
    count = (w * v * density(v)).sum(axis=1)
    vol = (w * v * v * density(v)).sum(axis=1)
    mean = np.where(count > 0, vol / np.where(count > 0, count, 1.0), volume[:-1])
    out = share(volume, mean, count)
    # Below node 1 (n(v) is finite at 0) and above node n (over six decades in ln v).
    below = (0.5 * volume[0] * GAUSS_W * density(0.5 * volume[0] * (GAUSS_X + 1.0))).sum()
    top = np.log(volume[-1]) + 7.0 * (GAUSS_X + 1.0)
    above = (7.0 * GAUSS_W * np.exp(top) * density(np.exp(top))).sum()
    out[0] += below
    out[-1] += above
    return out


def exact_on_nodes(kernel, start, volume, t):
    v0 = mean_volume() if start == "exponential" else volume[0]
    if start == "exponential":
        return project_density(volume, exponential_density(kernel, t, v0))
    i, n = discrete_numbers(kernel, t)
    return share(volume, i * v0, n)


def cumulative_volume(numbers, volume):
    c = np.cumsum(numbers * volume)
    return c / c[-1]


# ---------------------------------------------------------------------------------------
# Runs

def case_of(kernel, start, spacing):
    v0 = mean_volume()
    low, high = SPAN[(kernel, start)]
    nodes = int(math.ceil(math.log(high / low) / math.log(spacing))) + 1
    mechanisms = dict(nucleation=False, coagulation=True, growth=False, vapor="none",
                      kernel=kernel)
    if kernel == "constant":
        mechanisms["constant_kernel"] = K
        # tau = 18 k at output k: N/N0 = 1/10 at tau 18, 1/100 at tau 198.
        end, times = 198.0 / (K * N0), 12
    else:
        mechanisms["additive_kernel"] = additive_b(v0)
        end, times = math.log(100.0) / RATE, 3
    particles = dict(kind=start, diameter=D0, concentration=N0)
    return nodes, {
        "material": dict(density=1000.0),
        "grid": dict(nodes=nodes, spacing=spacing, first_volume=low * v0),
        "initial": dict(particles=particles),
        "temperature": dict(law="constant", start=300.0),
        "end": dict(time=end),
        "mechanisms": mechanisms,
        "reactor": dict(expansion=False),
        "tolerances": dict(relative=RELATIVE_TOLERANCE),
        "output": dict(times=times),
    }


Row = collections.namedtuple(
    "Row", "kernel start spacing nodes seconds errors start_off exact_off last")


def measure(runner, kernel, start, spacing, failures):
    """One run as a Row: errors[fold] = (number, mean volume, distribution, the second moment
    sum N v^2 over the exact solution's on the nodes); start_off and
    exact_off the two self-checks; last = (volume, concentrations) at the last fold."""
    nodes, case = case_of(kernel, start, spacing)
    label = "%s-%s-q%g-%d" % (kernel, start, spacing, nodes)
    res, seconds = runner.simulate_case(label, case)
    volume = res.volume[res.first - 1:]
    c0 = res.concentration[0][res.first - 1:]
    start_off = np.abs(c0 - exact_on_nodes(kernel, start, volume, 0.0)).max() / N0
    if not start_off <= START_LIMIT:
        failures.append("%s: the start on the grid is %.1e of N0 from its projection here"
                        % (label, start_off))
    exact_off = 0.0
    V = N0 * (mean_volume() if start == "exponential" else volume[0])
    numbers = np.array([exact_number(kernel, t) for t in res.time])
    errors = {}
    for fold in FOLDS:
        row = int(np.argmin(np.abs(numbers - N0 / fold)))
        N = numbers[row]
        if not abs(N * fold / N0 - 1.0) < 1e-6:
            raise RuntimeError("%s: no output time where N0/N = %d" % (label, fold))
        exact = exact_on_nodes(kernel, start, volume, res.time[row])
        off = max(abs(exact.sum() / N - 1.0), abs((exact * volume).sum() / V - 1.0))
        exact_off = max(exact_off, off)
        if not off <= EXACT_LIMIT:
            failures.append("%s: the exact solution on the nodes at N0/N = %d misses N or V "
                            "by %.1e" % (label, fold, off))
        model = res.concentration[row][res.first - 1:]
        number = model.sum() / N - 1.0
        mean = (model * volume).sum() / model.sum() / (V / N) - 1.0
        dist = np.abs(cumulative_volume(model, volume) - cumulative_volume(exact, volume)).max()
        for what, e in (("number", number), ("mean volume", mean)):
            if not abs(e) <= NUMBER_LIMIT:
                failures.append("%s: %s at N0/N = %d is %+.1e from the closed form (allowed "
                                "%.0e)" % (label, what, fold, e, NUMBER_LIMIT))
        errors[fold] = (number, mean, dist, (model * volume ** 2).sum()
                        / (exact * volume ** 2).sum())
    return Row(kernel, start, spacing, nodes, seconds, errors, start_off, exact_off,
               (volume, model))


def order(coarse, fine, fold):
    """p in error ~ (ln q)^p from two spacings."""
    return (math.log(coarse.errors[fold][2] / fine.errors[fold][2])
            / math.log(math.log(coarse.spacing) / math.log(fine.spacing)))


def table(runner, failures):
    groups = []
    for kernel in ("constant", "additive"):
        for start in ("exponential", "monodisperse"):
            group = [measure(runner, kernel, start, q, failures) for q in SPACINGS]
            groups.append(group)
            for fold in FOLDS:
                dist = [r.errors[fold][2] for r in group]
                if not all(b < a for a, b in zip(dist, dist[1:])):
                    failures.append("%s kernel, %s start, N0/N = %d: the distribution's error "
                                    "does not fall with the spacing: %s"
                                    % (kernel, start, fold,
                                       ", ".join("%.2e" % d for d in dist)))
                if not dist[-1] <= FINE_LIMIT:
                    failures.append("%s kernel, %s start, N0/N = %d: the distribution's error "
                                    "at q = %g is %.2e (allowed %g)"
                                    % (kernel, start, fold, SPACINGS[-1], dist[-1],
                                       FINE_LIMIT))
    rows = [r for group in groups for r in group]
    print("Errors against Scott's closed forms when the number has fallen 10-fold and "
          "100-fold (relative tolerance %g)\n" % RELATIVE_TOLERANCE)
    print("| kernel | start | spacing q | nodes | N, 10x | V/N, 10x | distribution, 10x "
          "| N, 100x | V/N, 100x | distribution, 100x | run time |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        cells = []
        for fold in FOLDS:
            number, mean, dist, _ = r.errors[fold]
            cells += ["%.1e" % number, "%.1e" % mean, "%.2e" % dist]
        print("| %s | %s | %g | %d | %s | %.1f s |"
              % (r.kernel, r.start, r.spacing, r.nodes, " | ".join(cells), r.seconds))
    print("\nOrder p of the distribution's error, error ~ (ln q)^p, between successive "
          "spacings:")
    for group in groups:
        print("  %s, %s: %s" % (group[0].kernel, group[0].start, "; ".join(
            "%s at %dx" % (", ".join("%.2f" % order(a, b, fold)
                                     for a, b in zip(group, group[1:])), fold)
            for fold in FOLDS)))
    print("\nSecond moment sum N_k v_k^2 over the exact solution's on the same nodes, at "
          "%dx, q = %s:" % (FOLDS[-1], ", ".join("%g" % q for q in SPACINGS)))
    for group in groups:
        print("  %s, %s: %s" % (group[0].kernel, group[0].start,
                                ", ".join("%.3f" % r.errors[FOLDS[-1]][3] for r in group)))
    print("\nThe starts on the grid against their projection here: largest deviation %.1e of "
          "N0;" % max(r.start_off for r in rows))
    print("the exact solutions on the nodes against N(t) and V: largest deviation %.1e."
          % max(r.exact_off for r in rows))
    return rows


def plot(rows, path):
    """dV/dln v at the 100-fold fall from the exponential start: the exact solution and each
    grid's nodes, a node's volume spread over its share of ln v (ln q)."""
    plt = ar.pyplot()
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    v0 = mean_volume()
    t = {"constant": 198.0 / (K * N0), "additive": math.log(100.0) / RATE}
    for ax, kernel in zip(axes, ("constant", "additive")):
        v = np.logspace(-3, 8, 2000) * v0
        n = exponential_density(kernel, t[kernel], v0)(v)
        ax.plot(v / v0, v * v * n / (N0 * v0), "k-", lw=2.5, label="exact (Scott)")
        for r in rows:
            if r.kernel == kernel and r.start == "exponential":
                volume, c = r.last
                ax.plot(volume / v0, c * volume / (N0 * v0) / math.log(r.spacing), "o-",
                        ms=2.5, lw=1, label="q = %g (%d nodes)" % (r.spacing, r.nodes))
        ax.set_xscale("log")
        ax.set_xlim(1e-2, 1e8 if kernel == "additive" else 1e4)
        ax.set_xlabel("v / v0")
        ax.set_ylabel("dV/dln v / V")
        ax.set_title("%s kernel, exponential start, N0/N = 100" % kernel)
        ax.legend(fontsize=8)
    ar.save_figure(fig, path)


def main():
    parser = ar.arguments(__doc__, helper_used=False,
                          figure_help="draw the distributions at the 100-fold fall to this PNG")
    parser.add_argument("--keep", help="keep the runs' files in this folder")
    args = parser.parse_args()
    program = ar.find_program(args.program)
    failures = []
    start = time.monotonic()
    with ar.work_folder(args.keep, "aerosol-closed-forms-") as work:
        try:
            rows = table(sc.Runner(program, work), failures)
            if args.figure:
                plot(rows, args.figure)
        except (RuntimeError, OSError, KeyError) as e:
            failures.append(str(e))
    print("\n(%.0f s)" % (time.monotonic() - start))
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
