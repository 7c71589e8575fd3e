"""Figures of an `aerosol simulate` NetCDF file, read through xarray.

Used by aerosol-plot (aerosol.plot) for .nc files, and importable on its own:

    import aerosol.plot_simulate as aps
    ds = aps.open_results("case.nc")
    fig = aps.make_figure(ds)            # colour map, final distribution, time series
                                         # (and the aggregates' diameters when it has them)
    fig.savefig("case-plot.png")
    d, dndlog = aps.size_distribution(ds)  # particle diameters (m), dN/dlog10 dp (time, node)

The variables and attributes used are those listed in docs/simulate.md.
"""

import csv
import math
import os

import numpy as np

# The variables a figure needs; anything else in the file is left alone.
REQUIRED = ("diameter", "volume", "concentration", "temperature", "monomer_concentration",
            "saturation_ratio", "nucleation_rate", "total_number", "mean_diameter",
            "geometric_std")

# Time series drawn: variable, label in words with units, scale factor, log axis allowed.
SERIES = [
    ("monomer_concentration", "vapour monomers $N_1$ (m$^{-3}$)", 1.0, True),
    ("saturation_ratio", "saturation ratio $S$", 1.0, True),
    ("nucleation_rate", "nucleation rate $J$ (m$^{-3}$ s$^{-1}$)", 1.0, True),
    ("total_number", "total particle number (m$^{-3}$)", 1.0, True),
    ("mean_diameter", "number-mean diameter (nm)", 1e9, True),
    ("geometric_std", "geometric standard deviation $\\sigma_g$", 1.0, False),
]
VAPOUR_SERIES = ("monomer_concentration", "saturation_ratio", "nucleation_rate")
# The reactor's figures, in the summary where a run has them.
REACTOR_SERIES = ("precursor_concentration", "number_lost_to_dilution",
                  "volume_lost_to_dilution", "number_lost_to_walls", "volume_lost_to_walls",
                  "gas_density_ratio")
# A run with aggregates: the diameters drawn in one panel (variable, label), also in the
# summary and the series CSV.
AGGREGATE_DIAMETERS = [
    ("mean_diameter", "number-mean diameter"),
    ("sauter_primary_diameter", "Sauter primary diameter 6V/A"),
    ("mean_collision_diameter", "mean collision diameter"),
]

# Decades of dN/dlog10 dp shown below the largest value: the tails of a nodal distribution
# fall to 1e-40 and would squash the part worth seeing.
DECADES = 10


class ResultsError(Exception):
    """A file that is not a readable simulate results file; the message says why."""


def is_netcdf(path):
    """True for a NetCDF file: by its extension, or by its first bytes (classic and 64-bit
    offset files start with "CDF", NetCDF-4 files with the HDF5 signature)."""
    if os.path.splitext(path)[1].lower() in (".nc", ".nc4", ".cdf", ".netcdf"):
        return True
    try:
        with open(path, "rb") as f:
            head = f.read(8)
    except OSError:
        return False
    return head[:3] == b"CDF" or head == b"\x89HDF\r\n\x1a\n"


def open_results(path):
    """Opens a simulate NetCDF file as an xarray Dataset held in memory (the file is closed
    again, so a run may rewrite it). Raises ResultsError when it is not one."""
    import xarray as xr
    try:
        with xr.open_dataset(path) as ds:
            ds = ds.load()
    except FileNotFoundError:
        raise ResultsError(f"{path}: no such file") from None
    except (OSError, ValueError, RuntimeError) as e:
        raise ResultsError(f"{path}: not a readable NetCDF file ({e})") from None
    missing = [name for name in REQUIRED if name not in ds.variables]
    if missing:
        raise ResultsError(f"{path}: not an aerosol simulate results file (no variable "
                           f"{', '.join(missing)})")
    if ds.sizes.get("time", 0) == 0:
        raise ResultsError(f"{path}: holds no output time yet (run_end = "
                           f"{ds.attrs.get('run_end', 'unknown')!r})")
    if ds.sizes.get("node", 0) < 2:
        raise ResultsError(f"{path}: holds fewer than two nodes")
    return ds


def first_particle_node(ds):
    """Index (0-based) of the first particle node: node 1 holds the vapour's monomers in a
    run with a vapour and is then left out of every distribution."""
    node = int(ds.attrs.get("first_particle_node", 2))
    return 0 if node == 1 else 1


def size_distribution(ds):
    """Particle diameters (m) and dN/dlog10 dp (m-3, time x particle node).

    A node of the geometric grid stands for the particles in one volume ratio q around it,
    that is log10(q)/3 decades of diameter (d ~ v^(1/3)); dN/dlog10 dp of node k is its
    concentration divided by that width, N_k / log10(q^(1/3)). The width is taken from the
    stored diameters, log10(d_(k+1)/d_k), which carries the grid's own exponent, so that
    summing dN/dlog10 dp times the width over the nodes gives back the total number."""
    first = first_particle_node(ds)
    diameter = np.asarray(ds["diameter"].values, dtype=float)[first:]
    concentration = np.asarray(ds["concentration"].values, dtype=float)[:, first:]
    width = log_width(ds)
    if not (math.isfinite(width) and width > 0):
        raise ResultsError("the node diameters do not increase")
    return diameter, concentration / width


def log_width(ds):
    """Decades of diameter per node (log10 of the diameter ratio of neighbouring nodes)."""
    d = np.asarray(ds["diameter"].values, dtype=float)
    return float(np.log10(np.median(d[1:] / d[:-1])))


def is_cooling(ds):
    """True when the temperature falls at every output time: the run is then drawn against
    temperature (a hold or a rise anywhere and it is drawn against time)."""
    t = np.asarray(ds["temperature"].values, dtype=float)
    return len(t) >= 2 and bool(np.all(np.isfinite(t))) and bool(np.all(np.diff(t) < 0))


def _log_spaced(times):
    positive = times[times > 0]
    if len(positive) < 3:
        return False
    steps = np.diff(times)
    return not np.allclose(steps, steps[0], rtol=1e-6, atol=0)


def _abscissa(ds, against):
    """The run's progress axis: ("temperature", values, label) or ("time", ...)."""
    if against == "temperature" or (against == "auto" and is_cooling(ds)):
        return "temperature", np.asarray(ds["temperature"].values, float), "temperature (K)"
    return "time", np.asarray(ds["time"].values, float), "time (s)"


def _edges(values, log):
    """Cell edges around the centres `values` (for pcolormesh), geometric on a log axis."""
    v = np.asarray(values, dtype=float)
    if len(v) == 1:
        return np.array([v[0] * 0.9, v[0] * 1.1]) if log else np.array([v[0] - 0.5, v[0] + 0.5])
    if log:
        lv = np.log10(v)
        mid = (lv[1:] + lv[:-1]) / 2
        return 10.0 ** np.concatenate([[2 * lv[0] - mid[0]], mid, [2 * lv[-1] - mid[-1]]])
    mid = (v[1:] + v[:-1]) / 2
    return np.concatenate([[2 * v[0] - mid[0]], mid, [2 * v[-1] - mid[-1]]])


def _title(ds, path=None):
    source = ds.attrs.get("case_source") or (os.path.basename(path) if path else "")
    end = ds.attrs.get("run_end", "unknown")
    text = "aerosol simulate"
    if source:
        text += ": " + str(source)
    if end != "complete":
        text += f" (run ended: {end})"
    return text


def has_aggregates(ds):
    """True for a run whose particles are aggregates (it carries their surface area)."""
    return "sauter_primary_diameter" in ds.variables


def plot_colour_map(ax, ds, against="auto", fig=None):
    """dN/dlog10 dp over diameter (nm, log axis) and time or temperature, log colours."""
    import matplotlib.colors as mcolors
    d, dndlog = size_distribution(ds)
    kind, y, label = _abscissa(ds, against)
    finite = dndlog[np.isfinite(dndlog) & (dndlog > 0)]
    if len(y) < 2 or finite.size == 0:
        ax.text(0.5, 0.5, "no particles" if finite.size == 0 else "a single output time",
                transform=ax.transAxes, ha="center", va="center")
        ax.set_title("size distribution over the run", fontsize=9)
        return None
    top = float(finite.max())
    norm = mcolors.LogNorm(vmin=top * 10.0 ** -DECADES, vmax=top)
    # Below the range shown is left blank rather than drawn in the lowest colour.
    shown = np.where(np.isfinite(dndlog) & (dndlog >= norm.vmin), dndlog, np.nan)
    log_y = kind == "time" and _log_spaced(y)
    rows = slice(None)
    if log_y:
        rows = y > 0                                   # t = 0 has no place on a log axis
    mesh = ax.pcolormesh(_edges(d * 1e9, True), _edges(y[rows], log_y), shown[rows],
                         norm=norm, cmap="viridis", shading="flat")
    ax.set_xscale("log")
    present = np.isfinite(shown[rows]).any(axis=0)
    if present.any():
        ax.set_xlim(d[present].min() * 1e9 / 1.5, d[present].max() * 1e9 * 1.5)
    if log_y:
        ax.set_yscale("log")
    if kind == "temperature":
        ax.invert_yaxis()                              # the run proceeds upwards as it cools
    ax.set_xlabel("particle diameter $d_p$ (nm)")
    ax.set_ylabel(label)
    ax.set_title("size distribution over the run", fontsize=9)
    if fig is not None:
        fig.colorbar(mesh, ax=ax, label="dN/dlog$_{10}$ $d_p$ (m$^{-3}$)")
    return mesh


def plot_final_distribution(ax, ds):
    d, dndlog = size_distribution(ds)
    last = dndlog[-1]
    keep = np.isfinite(last) & (last > 0)
    t = float(ds["time"].values[-1])
    temperature = float(ds["temperature"].values[-1])
    ax.set_title(f"final distribution, t = {t:.4g} s, T = {temperature:.4g} K", fontsize=9)
    if not keep.any():
        ax.text(0.5, 0.5, "no particles", transform=ax.transAxes, ha="center", va="center")
        return
    ax.plot(d[keep] * 1e9, last[keep], "o-", ms=3, lw=1.2, color="C0")
    ax.set_xscale("log")
    ax.set_yscale("log")
    top = float(last[keep].max())
    low = top * 10.0 ** -DECADES
    ax.set_ylim(low, top * 3.0)
    visible = d[keep & (last >= low)] * 1e9
    ax.set_xlim(visible.min() / 1.5, visible.max() * 1.5)
    ax.set_xlabel("particle diameter $d_p$ (nm)")
    ax.set_ylabel("dN/dlog$_{10}$ $d_p$ (m$^{-3}$)")
    ax.grid(True, which="major", alpha=0.3)


def plot_series(ax, ds, name, label, factor, allow_log, against="auto"):
    kind, x, xlabel = _abscissa(ds, against)
    y = np.asarray(ds[name].values, dtype=float) * factor
    if name in VAPOUR_SERIES and first_particle_node(ds) == 0:
        ax.text(0.5, 0.5, "no vapour in this run", transform=ax.transAxes, ha="center",
                va="center")
        ax.set_ylabel(label)
        ax.set_xticks([])
        ax.set_yticks([])
        return
    if name in ("mean_diameter", "geometric_std"):
        # Below one particle per cubic metre the mean and spread are of round-off, not of
        # particles (a nodal run starts every node at a tiny positive value); not drawn.
        y = np.where(np.asarray(ds["total_number"].values, dtype=float) >= 1.0, y, np.nan)
    log_x = kind == "time" and _log_spaced(x)
    finite = np.isfinite(y) & ((x > 0) if log_x else True)   # t = 0 is off a log axis
    positive = finite & (y > 0)
    log = allow_log and positive.any() and \
        np.log10(y[positive].max()) - np.log10(y[positive].min()) > 2.0
    keep = positive if log else finite
    ax.plot(x[keep], y[keep], lw=1.4, color="C0")
    if finite.any() and x[finite].max() > x[finite].min():
        ax.set_xlim(x[finite].min(), x[finite].max())   # the whole run, even where y <= 0
    if log:
        ax.set_yscale("log")
        # J falls by hundreds of decades once the vapour is spent, and a number rises from
        # 1e-300 when the first particle forms; show the top 30 decades.
        top = y[positive].max()
        ax.set_ylim(max(y[positive].min(), top * 1e-30) / 3.0, top * 3.0)
    if log_x:
        ax.set_xscale("log")
    if kind == "temperature":
        ax.invert_xaxis()                              # falling temperature, left to right
    if not keep.any():
        ax.text(0.5, 0.5, "no finite values", transform=ax.transAxes, ha="center")
    ax.set_xlabel(xlabel)
    ax.set_ylabel(label)
    ax.grid(True, which="major", alpha=0.3)


def plot_aggregate_diameters(ax, ds, against="auto"):
    """The aggregates' Sauter primary diameter and mean collision diameter beside the mean
    (volume-equivalent) diameter, in nm."""
    kind, x, xlabel = _abscissa(ds, against)
    log_x = kind == "time" and _log_spaced(x)
    # As for the mean diameter: below one particle per m3 the figures are of round-off.
    present = np.asarray(ds["total_number"].values, dtype=float) >= 1.0
    drawn = []
    for colour, (name, label) in enumerate(AGGREGATE_DIAMETERS):
        y = np.where(present, np.asarray(ds[name].values, dtype=float) * 1e9, np.nan)
        keep = np.isfinite(y) & (y > 0) & ((x > 0) if log_x else True)
        if keep.any():
            ax.plot(x[keep], y[keep], lw=1.4, color=f"C{colour}", label=label)
            drawn.append(y[keep])
    if drawn:
        values = np.concatenate(drawn)
        if np.log10(values.max()) - np.log10(values.min()) > 2.0:
            ax.set_yscale("log")
        ax.legend(fontsize=8)
    else:
        ax.text(0.5, 0.5, "no particles", transform=ax.transAxes, ha="center", va="center")
    if log_x:
        ax.set_xscale("log")
    if kind == "temperature":
        ax.invert_xaxis()
    ax.set_xlabel(xlabel)
    ax.set_ylabel("aggregate diameters (nm)")
    ax.grid(True, which="major", alpha=0.3)


def make_figure(ds, title=None, against="auto", path=None):
    """The whole figure: colour map and final distribution on top, six time series below,
    and a seventh, the primary and collision diameters, for a run with aggregates."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    aggregates = has_aggregates(ds)
    fig = plt.figure(figsize=(18 if aggregates else 14, 10), dpi=80, layout="constrained")
    # Two subfigures, so that the colour bar of the map takes no width from the series.
    top, bottom = fig.subfigures(2, 1, height_ratios=[1.3, 2])
    upper = top.subplots(1, 2)
    plot_colour_map(upper[0], ds, against, top)
    plot_final_distribution(upper[1], ds)
    grid = bottom.subplots(2, 4 if aggregates else 3)
    # The vapour's series in the first row, the particles' in the second; the aggregates'
    # diameters at the end of the second, after the mean diameter and sigma_g.
    axes = list(grid[0, :3]) + list(grid[1, :3])
    for ax, (name, label, factor, allow_log) in zip(axes, SERIES):
        plot_series(ax, ds, name, label, factor, allow_log, against)
    if aggregates:
        plot_aggregate_diameters(grid[1, 3], ds, against)
        grid[0, 3].remove()
    fig.suptitle(title or _title(ds, path), fontsize=11)
    return fig


def summary(ds):
    """Figures of the run: final number, mean diameter and sigma_g, peaks of S and J with
    their times, the integrator's counts and how the run ended."""
    time = np.asarray(ds["time"].values, dtype=float)

    def peak(name):
        v = np.asarray(ds[name].values, dtype=float)
        if not np.isfinite(v).any():
            return math.nan, math.nan
        i = int(np.nanargmax(v))
        return float(v[i]), float(time[i])

    out = {
        "end_time": float(time[-1]),
        "final_temperature": float(ds["temperature"].values[-1]),
        "total_number": float(ds["total_number"].values[-1]),
        "mean_diameter": float(ds["mean_diameter"].values[-1]),
        "gsd": float(ds["geometric_std"].values[-1]),
    }
    out["peak_S"], out["peak_S_time"] = peak("saturation_ratio")
    out["peak_J"], out["peak_J_time"] = peak("nucleation_rate")
    for name in ("steps", "rhs_evaluations", "jacobian_evaluations"):
        out[name] = int(ds[name].values[-1]) if name in ds.variables else math.nan
    out["run_end"] = str(ds.attrs.get("run_end", ""))
    return out


def summary_rows(ds):
    """The run's figures as aerosol-plot --summary prints them: (variable, statistic, value,
    units), with the variable names and units the file has."""
    figures = summary(ds)

    def units(name):
        return str(ds[name].attrs.get("units", "")) if name in ds.variables else ""

    rows = [(name, "last", figures[key], units(name)) for name, key in (
        ("time", "end_time"), ("temperature", "final_temperature"),
        ("total_number", "total_number"), ("mean_diameter", "mean_diameter"),
        ("geometric_std", "gsd"))]
    for name, key in (("saturation_ratio", "peak_S"), ("nucleation_rate", "peak_J")):
        rows.append((name, "max", figures[key], units(name)))
        rows.append((name, "time of max", figures[key + "_time"], units("time")))
    for name in REACTOR_SERIES + tuple(name for name, _ in AGGREGATE_DIAMETERS[1:]):
        if name in ds.variables:
            rows.append((name, "last", float(ds[name].values[-1]), units(name)))
    for name in ("steps", "rhs_evaluations", "jacobian_evaluations"):
        if name in ds.variables:
            rows.append((name, "last", figures[name], units(name)))
    rows.append(("run_end", "attribute", figures["run_end"], ""))
    return rows


def _shown(value):
    if isinstance(value, float):
        return _number(value)
    return str(value)


def _number(v):
    return repr(float(v)) if math.isfinite(v) else "nan"


def write_csv(ds, folder, base):
    """The series and dN/dlog10 dp as CSV files with named columns and units; returns paths."""
    os.makedirs(folder, exist_ok=True)
    time = np.asarray(ds["time"].values, dtype=float)
    series_path = os.path.join(folder, base + "-series.csv")
    names = ["temperature"] + [s[0] for s in SERIES]
    if has_aggregates(ds):
        names += [name for name, _ in AGGREGATE_DIAMETERS[1:]]
    with open(series_path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(["time [s]"] + [f"{n} [{ds[n].attrs.get('units', '1')}]" for n in names])
        columns = [np.asarray(ds[n].values, dtype=float) for n in names]
        for i, t in enumerate(time):
            w.writerow([_number(t)] + [_number(c[i]) for c in columns])
    d, dndlog = size_distribution(ds)
    dist_path = os.path.join(folder, base + "-dndlog10dp.csv")
    with open(dist_path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(["time [s]"] + [f"d={_number(x)} [m-3]" for x in d])
        for i, t in enumerate(time):
            w.writerow([_number(t)] + [_number(v) for v in dndlog[i]])
    return [series_path, dist_path]


def main(args, parser):
    """aerosol-plot for a NetCDF file; `args` as aerosol-plot parsed them."""
    if args.run or args.main or args.coag or args.grow:
        parser.exit(1, f"aerosol-plot: {args.output} is a simulate results file; it needs "
                       "no run folder, --main, --coag or --grow\n")
    try:
        ds = open_results(args.output)
        if args.against == "temperature":
            t = np.asarray(ds["temperature"].values, dtype=float)
            if len(t) < 2 or not np.all(np.diff(t) <= 0) or t[-1] == t[0]:
                raise ResultsError(f"{args.output}: --against temperature needs a run whose "
                                   "temperature falls and never rises")
    except ResultsError as e:
        parser.exit(1, f"aerosol-plot: {e}\n")
    if args.summary:
        print("variable\tstatistic\tvalue\tunits")
        for name, statistic, value, unit in summary_rows(ds):
            print(f"{name}\t{statistic}\t{_shown(value)}\t{unit}")
    base = os.path.splitext(os.path.basename(args.output))[0]
    if args.csv:
        try:
            for p in write_csv(ds, args.csv, base):
                print(p)
        except OSError as e:
            parser.exit(2, f"aerosol-plot: {args.csv}: {e.strerror}\n")
    if args.no_plot:
        return 0
    prefix = args.prefix or os.path.splitext(args.output)[0] + "-plot"
    fig = make_figure(ds, args.title, args.against, args.output)
    for fmt in args.format:
        path = f"{prefix}.{fmt}"
        try:
            fig.savefig(path, dpi=args.dpi)
        except OSError as e:
            parser.exit(2, f"aerosol-plot: {path}: {e.strerror}\n")
        print(path)
    return 0
