"""Command line of aerosol-sweep."""

import argparse
import os
import sys
import time

from . import collect as collecting
from . import config, engines


def _parser():
    p = argparse.ArgumentParser(
        prog="aerosol-sweep",
        description="Parameter sweeps of aerosol: write one run folder per combination of "
                    "values (of input files, or of a case file's keys by dotted path), run "
                    "them through GNU parallel or Slurm, gather and plot them.")
    sub = p.add_subparsers(dest="command", required=True)

    r = sub.add_parser("run", help="write the run folders and run the unfinished ones")
    r.add_argument("sweep", help="the sweep file (TOML)")
    r.add_argument("--engine", choices=("parallel", "slurm"), default="parallel")
    r.add_argument("--jobs", type=int, default=None,
                   help="runs at a time with GNU parallel (default: one per core)")
    r.add_argument("--program", help="the aerosol program (default: the sweep file's "
                                     "'program', else $AEROSOL_PROGRAM, else aerosol on PATH)")
    r.add_argument("--dry-run", action="store_true",
                   help="write the folders (and the Slurm script) but run nothing")
    r.add_argument("--wait", action="store_true",
                   help="with --engine slurm: return only when the job array has ended")

    c = sub.add_parser("collect", help="one table of every run's status and summary figures")
    c.add_argument("sweep")
    c.add_argument("--csv", help="where to write the table (default: RUNS/summary.csv)")

    g = sub.add_parser("plot", help="a summary figure against a varied field")
    g.add_argument("sweep")
    g.add_argument("--x", required=True, help="a varied field")
    g.add_argument("--y", required=True,
                   choices=list(dict.fromkeys(collecting.FIGURE_NAMES + collecting.CASE_FIGURE_NAMES
                                              + ["wall_time"])),
                   help="a summary figure")
    g.add_argument("--by", help="a second varied field: one curve per value (default: one "
                                "curve per combination of the other varied fields)")
    g.add_argument("--output", help="the image (default: RUNS/Y-vs-X.png)")

    o = sub.add_parser("run-one", help=argparse.SUPPRESS)  # what each engine runs per folder
    o.add_argument("folder")
    o.add_argument("--program", required=True)
    o.add_argument("--engine", default="direct")
    return p


def _run(args):
    sweep = config.load(args.sweep, args.program)
    if args.jobs is not None and args.jobs < 1:
        raise config.SweepError(f"--jobs {args.jobs}: expected 1 or more")
    if sweep.program is None:
        raise config.SweepError("no aerosol program found: give --program, name it in the "
                                "sweep file ('program'), or put aerosol on PATH")
    if not args.dry_run and not (os.path.isfile(sweep.program) and
                                 os.access(sweep.program, os.X_OK)):
        raise config.SweepError(f"the program {sweep.program} does not exist or cannot be run; "
                                "build it or give --program")
    pending = engines.prepare(sweep)
    skipped = len(sweep.runs) - len(pending)
    print(f"{len(sweep.runs)} run(s) in {sweep.runs_dir}: {skipped} already finished, "
          f"{len(pending)} to run", flush=True)
    if not pending:
        return 0
    begin = time.monotonic()
    if args.engine == "slurm":
        code, _job = engines.run_slurm(sweep, pending, dry_run=args.dry_run, wait=args.wait)
        if args.dry_run or not args.wait or code != 0:
            return 0 if code == 0 else 1
    else:
        engines.run_parallel(sweep, pending, args.jobs, dry_run=args.dry_run)
        if args.dry_run:
            return 0
    wall = time.monotonic() - begin
    rows = [collecting.summarise_run(run) for run in pending]
    states = {}
    for row in rows:
        states[row["state"]] = states.get(row["state"], 0) + 1
    told = ", ".join(f"{n} {s}" for s, n in sorted(states.items()))
    print(f"ran {len(pending)} run(s) with {args.engine} in {wall:.1f} s: {told}", flush=True)
    return 0 if states.get("ok", 0) == len(pending) else 1


def _collect(args):
    sweep = config.load(args.sweep)
    rows = collecting.collect(sweep)
    path = args.csv or os.path.join(sweep.runs_dir, "summary.csv")
    if os.path.dirname(os.path.abspath(path)):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    collecting.write_csv(sweep, rows, path)
    collecting.print_table(sweep, rows)
    print(f"\nwrote {path}", file=sys.stderr)
    return 0


def _plot(args):
    sweep = config.load(args.sweep)
    for name, field in (("--x", args.x), ("--by", args.by)):
        if field is not None and field not in sweep.fields:
            raise config.SweepError(f"{name} {field}: not a varied field of {args.sweep} "
                                    f"(varied: {', '.join(sweep.fields)})")
    if args.by is not None and args.by == args.x:
        raise config.SweepError("--by must name a field other than --x")
    if args.y != "wall_time" and args.y not in collecting.figure_names(sweep):
        raise config.SweepError(f"--y {args.y}: not a figure of this sweep (figures: "
                                f"{', '.join(collecting.figure_names(sweep))}, wall_time)")
    rows = collecting.collect(sweep)
    output = args.output or os.path.join(sweep.runs_dir, f"{args.y}-vs-{args.x}.png")
    try:
        collecting.plot(sweep, rows, args.x, args.y, args.by, output)
    except ValueError as e:
        raise config.SweepError(str(e)) from None
    print(f"wrote {output}")
    return 0


def main(argv=None):
    args = _parser().parse_args(argv)
    try:
        if args.command == "run-one":
            return engines.run_one(args.folder, args.program, args.engine)
        return {"run": _run, "collect": _collect, "plot": _plot}[args.command](args)
    except config.SweepError as e:
        print(f"aerosol-sweep: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("aerosol-sweep: interrupted; `run` again to finish the unfinished runs",
              file=sys.stderr)
        return 130
