"""Plots a saved standard output of the aerosol program, or the NetCDF file of
`aerosol simulate`.

    aerosol-plot OUTPUT [RUN_FOLDER] [-o PREFIX] [--format png svg pdf] [--csv DIR]
    aerosol-plot RESULTS.nc [-o PREFIX] [--format png svg pdf] [--csv DIR]
                 [--against auto|time|temperature]

A NetCDF file (recognised by its first bytes, or by its extension) is drawn by
aerosol.plot_simulate: the size distribution over the run as a colour map, the final
distribution and the time series, against temperature when the run cools throughout; a run
with aggregates adds their Sauter primary and mean collision diameters beside the mean
diameter.

OUTPUT is the saved standard output ("-" reads standard input). The process is recognised
from the output itself. The node diameters come from the run's main.inp (and coag.inp or
grow.inp): from RUN_FOLDER, by default the folder that holds OUTPUT, or from --main,
--coag and --grow. Processes 1 and 2 print their node volumes and need no input files.

Writes PREFIX.png (and PREFIX.svg / PREFIX.pdf when asked), PREFIX given by -o/--output.
Without it the figure goes beside OUTPUT, under OUTPUT's name without its extension followed
by "-plot" (out.txt: out-plot.png), a name the repository's .gitignore ignores; from standard
input, aerosol-plot.png in the working folder. With --csv DIR the parsed tables are also
written as CSV files with named columns and units. --summary prints the run's figures: for a
NetCDF file a table of variable, statistic, value and units, named as in the file.
"""

import argparse
import math
import os
import sys

from . import inputs as ai
from . import output as ao
from . import plot_simulate as aps


def _matplotlib():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return matplotlib, plt


def _positive(xs, ys):
    pairs = [(x, y) for x, y in zip(xs, ys) if math.isfinite(x) and math.isfinite(y) and y > 0]
    return [p[0] for p in pairs], [p[1] for p in pairs]


def _scale_for(ax, values, axis="y"):
    """Log axis when the positive values span more than two decades."""
    finite = [v for v in values if math.isfinite(v) and v > 0]
    if finite and max(finite) / min(finite) > 100.0:
        (ax.set_yscale if axis == "y" else ax.set_xscale)("log")
        return True
    return False


def _series(ax, run, key, label, color, drop_nonpositive=None):
    t = run.column("t")
    y = run.column(key)
    positive = [v for v in y if math.isfinite(v) and v > 0]
    log = bool(positive) and max(positive) / min(positive) > 100.0
    if drop_nonpositive or log:
        t, y = _positive(t, y)
    ax.plot(t, y, color=color, lw=1.4)
    if log:
        ax.set_yscale("log")
    ax.set_ylabel(label)
    ax.set_xlabel("time (s)")
    ax.grid(True, which="major", alpha=0.3)
    if not y:
        ax.text(0.5, 0.5, "no finite values", transform=ax.transAxes, ha="center")


def _dlog_distribution(diameters, numbers, spacing_factor):
    """dN/dlog10(dp) of a nodal distribution: a node stands for a volume interval of
    log10(q) decades, that is log10(q)/3 decades of diameter."""
    width = math.log10(spacing_factor) / 3.0
    return [n / width for n in numbers]


def _spacing_from_volumes(volumes):
    if len(volumes) >= 2 and volumes[0] > 0:
        return volumes[1] / volumes[0]
    return math.nan


def _plot_distribution(ax, diameters, numbers, q, label=None, color=None, marker="o"):
    d_nm = [d * 1e9 for d in diameters]
    y = _dlog_distribution(diameters, numbers, q)
    x, y = _positive(d_nm, y)
    ax.plot(x, y, marker=marker, ms=3, lw=1.2, label=label, color=color)
    if not y:
        if not any(line.get_xdata().size for line in ax.get_lines()):
            ax.text(0.5, 0.5, "no particles", transform=ax.transAxes, ha="center")
        return y
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("particle diameter $d_p$ (nm)")
    ax.set_ylabel("dN/dlog$_{10}$$d_p$ (#/m$^3$)")
    ax.grid(True, which="major", alpha=0.3)
    return y


def _clip_low(ax, values, decades=8):
    """Keep the y range to the top `decades` of a log axis: the tails of a nodal
    distribution fall to 1e-40 and would squash the part worth seeing. The x range
    follows the points that stay in view."""
    finite = [v for v in values if math.isfinite(v) and v > 0]
    if not finite:
        return
    top = max(finite)
    low = top * 10.0 ** (-decades)
    ax.set_ylim(low, top * 3.0)
    xs = [x for line in ax.get_lines() for x, y in zip(line.get_xdata(), line.get_ydata())
          if y >= low and x > 0]
    if xs and ax.get_xscale() == "log":
        ax.set_xlim(min(xs) / 1.5, max(xs) * 1.5)


def plot_process1(run, fig):
    axes = fig.subplots(1, 3)
    t, ninf = _positive(run.column("t"), run.column("Ninf"))
    tv, vol = _positive(run.column("t"), run.column("Vtot"))
    ax = axes[0]
    ax.loglog(t, ninf, color="C0", lw=1.5, label="total number $N_\\infty$")
    ax.set_xlabel("time (s)")
    ax.set_ylabel("total number $N_\\infty$ (#/m$^3$)", color="C0")
    ax.grid(True, which="major", alpha=0.3)
    twin = ax.twinx()
    twin.plot(tv, vol, color="C3", lw=1.2, ls="--")
    twin.set_xscale("log")
    twin.set_ylabel("total volume $V$ (m$^3$/m$^3$)", color="C3")
    if vol:
        mid = sum(vol) / len(vol)
        twin.set_ylim(mid * 0.5, mid * 1.5)
    if run.spd_estimate is not None and math.isfinite(run.spd_estimate):
        ax.axvline(run.spd_estimate, color="0.4", lw=0.8, ls=":")
        ax.text(run.spd_estimate, ax.get_ylim()[0], " est. time to SPD", rotation=90,
                va="bottom", ha="right", fontsize=7, color="0.3")
    ax.set_title("number falls, volume is conserved", fontsize=9)

    volumes = [v for v, _ in run.final]
    numbers = [n for _, n in run.final]
    diameters = [ai.diameter_of(v) for v in volumes]
    q = _spacing_from_volumes(volumes)
    ax = axes[1]
    y = _plot_distribution(ax, diameters, numbers, q, color="C0")
    _clip_low(ax, y)
    final_t = run.table[-1]["t"] if run.table else math.nan
    ax.set_title("final distribution, t = %.3g s" % final_t, fontsize=9)

    ax = axes[2]
    total = sum(numbers)
    volume = sum(v * n for v, n in zip(volumes, numbers))
    if total > 0 and volume > 0 and q > 1:
        # n(v) of node k: N_k / (v_k ln q), the density per unit volume of a geometric grid.
        eta = [v * total / volume for v in volumes]
        psi = [n / (v * math.log(q)) * volume / total ** 2 for v, n in zip(volumes, numbers)]
        x, y = _positive(eta, psi)
        ax.loglog(x, y, "o-", ms=3, color="C2")
        _clip_low(ax, y, decades=6)
    ax.set_xlabel("$\\eta = v N_\\infty / V$")
    ax.set_ylabel("$\\psi = n(v) V / N_\\infty^2$")
    ax.set_title("self-preserving form", fontsize=9)
    ax.grid(True, which="major", alpha=0.3)


def plot_process23(run, fig, grid):
    axes = fig.subplots(2, 3).ravel()
    _series(axes[0], run, "N1", "monomers $N_1$ (#/m$^3$)", "C0")
    _series(axes[1], run, "S", "saturation ratio S", "C1")
    _series(axes[2], run, "Jk", "nucleation rate $J_k$ (#/m$^3$/s)", "C3", True)
    jk = [v for v in run.column("Jk") if math.isfinite(v) and v > 0]
    if jk:
        # Jk falls by hundreds of decades once the vapour is spent; show the top 30.
        axes[2].set_ylim(max(min(jk), max(jk) * 1e-30) / 3.0, max(jk) * 3.0)
    t, dp = _positive(run.column("t"), run.column("Dp_mean"))
    axes[3].plot(t, [d * 1e9 for d in dp], color="C2", lw=1.4)
    _scale_for(axes[3], [d * 1e9 for d in dp])
    axes[3].set_ylabel("mean diameter $D_p$ (nm)")
    axes[3].set_xlabel("time (s)")
    axes[3].grid(True, alpha=0.3)
    _series(axes[4], run, "Ntot", "total number $N_{tot}$ (#/m$^3$)", "C4", True)
    ax = axes[5]
    if run.process == 2:
        if run.final:
            volumes = [v for v, _ in run.final]
            numbers = [n for _, n in run.final]
            q = _spacing_from_volumes(volumes)
            y = _plot_distribution(ax, [ai.diameter_of(v) for v in volumes], numbers, q)
            _clip_low(ax, y)
            ax.set_title("final distribution (nodes 2..n)", fontsize=9)
        else:
            ax.text(0.5, 0.5, "no final distribution\n(output incomplete)",
                    transform=ax.transAxes, ha="center", va="center")
    else:
        _plot_listings(ax, run, grid)
    for a in axes[:5]:
        if run.table and max(r["t"] for r in run.table) > 0:
            a.set_xlim(left=0)


def _plot_listings(ax, run, grid):
    if not run.listings:
        ax.text(0.5, 0.5, "no node listing\n(a listing comes every 399,999 passes)",
                transform=ax.transAxes, ha="center", va="center", fontsize=8)
        return
    if grid is None:
        ax.text(0.5, 0.5, "node listings need main.inp\nfor the node diameters",
                transform=ax.transAxes, ha="center", va="center", fontsize=8)
        return
    _, plt = _matplotlib()
    cmap = plt.get_cmap("viridis")
    times = run.listing_times()
    count = len(run.listings)
    tops = []
    for i, (listing, time) in enumerate(zip(run.listings, times)):
        numbers = listing[1:-1]  # nodes 2..n
        diameters = grid.diameter[2:2 + len(numbers)]
        label = "t ≈ %.4g s" % time if time is not None else "listing %d" % (i + 1)
        y = _plot_distribution(ax, diameters, numbers, grid.spacing_factor, label=label,
                               color=cmap(i / max(count - 1, 1)), marker=".")
        tops.extend(y)
    _clip_low(ax, tops)
    ax.legend(fontsize=7)
    ax.set_title("node listings (nodes 2..n)", fontsize=9)


def plot_process4(run, fig, grid):
    _, plt = _matplotlib()
    axes = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1.15, 1]})
    if not run.blocks:
        axes[0].text(0.5, 0.5, "no blocks: the run ended before 1000 steps",
                     transform=axes[0].transAxes, ha="center")
        return
    if grid is None:
        raise SystemExit("aerosol-plot: process 4 prints no node sizes: give the run folder "
                         "or --main (its main.inp)")
    times = [t for t, _ in run.blocks]
    width = len(run.blocks[0][1])
    diameters = grid.diameter[2:width + 1]          # nodes 2..n-2
    cmap = plt.get_cmap("viridis")
    norm = plt.Normalize(min(times) * 1e3, max(times) * 1e3)
    step = max(1, len(run.blocks) // 16)            # about 16 curves at most
    ax = axes[0]
    tops = []
    for t, numbers in run.blocks[::step] + ([run.blocks[-1]] if (len(run.blocks) - 1) % step
                                             else []):
        d, n = _positive([x * 1e9 for x in diameters], numbers[1:])
        ax.plot(d, n, color=cmap(norm(t * 1e3)), lw=1.0)
        tops.extend(n)
    ax.set_xscale("log")
    ax.set_yscale("log")
    _clip_low(ax, tops, decades=10)
    ax.set_xlabel("node diameter $d_p$ (nm)")
    ax.set_ylabel("node concentration $N_k$ (#/m$^3$)")
    ax.grid(True, which="major", alpha=0.3)
    sm = plt.cm.ScalarMappable(norm=norm, cmap=cmap)
    fig.colorbar(sm, ax=ax, label="time (ms)")
    ax.set_title("seeded particles, node by node", fontsize=9)

    # Number-mean diameter and total number of the particle nodes over time.
    ax = axes[1]
    means, totals = [], []
    for _, numbers in run.blocks:
        stats = ao.distribution_stats(diameters, numbers[1:])
        means.append(stats["mean_diameter"] * 1e9)
        totals.append(stats["total_number"])
    ax.plot([t * 1e3 for t in times], means, color="C2", lw=1.5)
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("number-mean diameter, nodes 2..n-2 (nm)", color="C2")
    _scale_for(ax, means)
    ax.grid(True, alpha=0.3)
    twin = ax.twinx()
    twin.plot([t * 1e3 for t in times], totals, color="C0", lw=1.0, ls="--")
    twin.set_ylabel("particles in nodes 2..n-2 (#/m$^3$)", color="C0")
    _scale_for(twin, totals)
    if run.blocks and math.isfinite(run.blocks[0][1][0]):
        ax.set_title("vapour held at N$_1$ = %.3g /m$^3$" % run.blocks[0][1][0], fontsize=9)


TITLES = {
    1: "Process 1: coagulation towards the self-preserving distribution",
    2: "Process 2: nucleation with coagulation",
    3: "Process 3: nucleation, coagulation and surface growth",
    4: "Process 4: surface growth of seeded particles",
}


def make_figure(run, grid=None, title=None):
    _, plt = _matplotlib()
    size = {1: (13, 4.2), 2: (13, 7.5), 3: (13, 7.5), 4: (12, 4.6)}[run.process]
    fig = plt.figure(figsize=size, dpi=80, layout="constrained")
    if run.process == 1:
        plot_process1(run, fig)
    elif run.process in (2, 3):
        plot_process23(run, fig, grid)
    else:
        plot_process4(run, fig, grid)
    heading = title or TITLES[run.process]
    if not run.complete:
        heading += " (output incomplete)"
    fig.suptitle(heading, fontsize=11)
    return fig


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="aerosol-plot", description="Plot a saved standard output of aerosol, or the "
        "NetCDF file of aerosol simulate.")
    parser.add_argument("output", help="saved standard output of a run ('-' for stdin), or "
                        "a simulate NetCDF file")
    parser.add_argument("run", nargs="?", help="run folder with main.inp (default: the "
                        "folder of OUTPUT)")
    parser.add_argument("--main", help="main.inp of the run")
    parser.add_argument("--coag", help="coag.inp of the run (process 1)")
    parser.add_argument("--grow", help="grow.inp of the run (process 4)")
    parser.add_argument("-o", "--output", "--prefix", dest="prefix", metavar="PREFIX",
                        help="path of the figure without extension (default: OUTPUT without "
                        "its extension, followed by -plot)")
    parser.add_argument("--format", nargs="+", default=["png"], choices=["png", "svg", "pdf"],
                        help="figure formats (default png)")
    parser.add_argument("--dpi", type=int, default=80, help="resolution of the PNG")
    parser.add_argument("--csv", metavar="DIR", help="also write the parsed tables as CSV")
    parser.add_argument("--no-plot", action="store_true", help="write no figure")
    parser.add_argument("--title", help="title of the figure")
    parser.add_argument("--summary", action="store_true",
                        help="print a short summary of the run")
    parser.add_argument("--against", choices=["auto", "time", "temperature"], default="auto",
                        help="simulate files: draw the run against time or temperature "
                        "(default: temperature when it falls at every output time)")
    args = parser.parse_args(argv)

    if args.output != "-" and aps.is_netcdf(args.output):
        return aps.main(args, parser)
    if args.output == "-":
        text = sys.stdin.read()
        source_dir = "."
    else:
        try:
            with open(args.output, "r", encoding="ascii", errors="replace") as f:
                text = f.read()
        except OSError as e:
            parser.exit(2, "aerosol-plot: %s: %s\n" % (args.output, e.strerror))
        source_dir = os.path.dirname(os.path.abspath(args.output))
    try:
        run = ao.parse_output(text)
    except ao.OutputError as e:
        parser.exit(1, "aerosol-plot: %s: %s\n" % (args.output, e))

    grid = None
    folder = args.run or (None if args.main else source_dir)
    main_path = args.main or os.path.join(folder, "main.inp")
    if os.path.exists(main_path):
        try:
            inputs = ai.read_run_inputs(folder, main=args.main, coag=args.coag, grow=args.grow)
        except (ai.InputError, OSError) as e:
            parser.exit(1, "aerosol-plot: %s\n" % e)
        if inputs.process != run.process:
            parser.exit(1, "aerosol-plot: %s is a run of process %d, the output one of "
                        "process %d\n" % (main_path, inputs.process, run.process))
        grid = ai.node_grid(inputs)
    elif run.process in (3, 4) and (run.listings or run.blocks):
        parser.exit(1, "aerosol-plot: process %d prints no node sizes: %s not found (give the "
                    "run folder or --main)\n" % (run.process, main_path))

    if args.summary:
        for key, value in ao.summary(run, grid).items():
            print("%s\t%s" % (key, value))
    if args.csv:
        base = (os.path.splitext(os.path.basename(args.output))[0]
                if args.output != "-" else "aerosol")
        for path in ao.write_csv(run, args.csv, base, grid):
            print(path)
    if args.no_plot:
        return 0
    prefix = args.prefix
    if prefix is None:
        prefix = (os.path.splitext(args.output)[0] if args.output != "-" else "aerosol") + "-plot"
    fig = make_figure(run, grid, args.title)
    for fmt in args.format:
        path = "%s.%s" % (prefix, fmt)
        fig.savefig(path, dpi=args.dpi)
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
