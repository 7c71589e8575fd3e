#!/usr/bin/python3
"""Compares two NetCDF files that `aerosol simulate` wrote for the same case on two machines.

Usage: scripts/compare-netcdf.py REFERENCE.nc OTHER.nc [--rtol 1e-9] [--floor F]
                                 [--only NAME,NAME,...]

The files must have the same dimensions, variables and attributes, and every value must be
the same within a relative difference of rtol (both NaN counts as the same; integers, such as
the step counts, are held to the same bound, which for them means equal). --only compares the
values of the named variables alone (the structure is still compared whole); --floor F lets a
difference pass that is below F times the variable's largest magnitude (values near 0, such as
a population before it nucleates, carry no relative accuracy). Prints one line with
the count of values that are not bit for bit the same and the largest relative difference;
exits with status 1, one line per difference, when the files differ beyond the bound, and 2
when a file cannot be read.
"""

import argparse
import sys

import numpy as np

try:
    import netCDF4
except ImportError:
    sys.exit("compare-netcdf: Python's netCDF4 module is missing (Debian: python3-netcdf4)")


def attributes(item):
    return {name: item.getncattr(name) for name in item.ncattrs()}


def same_attributes(a, b):
    if a.keys() != b.keys():
        return False
    return all(same_value(np.asarray(a[k]), np.asarray(b[k])) for k in a)


def same_value(a, b):
    # A NaN fill value equals itself.
    if a.dtype.kind == "f" and b.dtype.kind == "f":
        return np.array_equal(a, b, equal_nan=True)
    return np.array_equal(a, b)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("reference")
    parser.add_argument("other")
    parser.add_argument("--rtol", type=float, default=1e-9)
    parser.add_argument("--floor", type=float, default=0.0)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    only = [name for name in args.only.split(",") if name]

    files = []
    for path in (args.reference, args.other):
        try:
            files.append(netCDF4.Dataset(path))
        except OSError as error:
            print(f"compare-netcdf: cannot read {path}: {error.strerror or error}",
                  file=sys.stderr)
            return 2
    ref, other = files
    ref.set_auto_mask(False)
    other.set_auto_mask(False)

    problems = []
    ref_dims = {n: len(d) for n, d in ref.dimensions.items()}
    other_dims = {n: len(d) for n, d in other.dimensions.items()}
    if ref_dims != other_dims:
        problems.append(f"dimensions {ref_dims} against {other_dims}")
    if not same_attributes(attributes(ref), attributes(other)):
        problems.append("global attributes differ")
    if ref.variables.keys() != other.variables.keys():
        problems.append(f"variables {sorted(ref.variables)} against {sorted(other.variables)}")

    values = not_identical = 0
    largest = 0.0
    for name in [n for n in ref.variables if n in other.variables]:
        if only and name not in only:
            continue
        a, b = ref.variables[name], other.variables[name]
        if a.dimensions != b.dimensions or a.dtype != b.dtype:
            problems.append(f"{name}: {a.dtype}{a.dimensions} against {b.dtype}{b.dimensions}")
            continue
        if not same_attributes(attributes(a), attributes(b)):
            problems.append(f"{name}: attributes differ")
        if not np.issubdtype(a.dtype, np.number):  # text: the same or not
            if not np.array_equal(np.asarray(a[:]), np.asarray(b[:])):
                problems.append(f"{name}: text differs")
            continue
        x = np.asarray(a[:], dtype=np.float64)
        y = np.asarray(b[:], dtype=np.float64)
        if x.shape != y.shape:
            problems.append(f"{name}: shape {x.shape} against {y.shape}")
            continue
        both_nan = np.isnan(x) & np.isnan(y)
        identical = (x == y) | both_nan
        with np.errstate(invalid="ignore", divide="ignore"):
            relative = np.abs(x - y) / np.maximum(np.abs(x), np.abs(y))
        relative[identical] = 0.0
        if args.floor > 0.0 and x.size:
            largest_magnitude = np.nanmax(np.abs(np.concatenate([x.ravel(), y.ravel()])))
            relative[np.abs(x - y) <= args.floor * largest_magnitude] = 0.0
        relative[np.isnan(relative)] = np.inf  # one NaN, or infinities of opposite signs
        values += x.size
        not_identical += int(np.count_nonzero(~identical))
        if x.size:
            worst = int(np.argmax(relative))
            largest = max(largest, float(relative.flat[worst]))
            if relative.flat[worst] > args.rtol:
                index = np.unravel_index(worst, x.shape)
                problems.append(
                    f"{name}{list(index)}: {x.flat[worst]!r} against {y.flat[worst]!r} "
                    f"(relative {relative.flat[worst]:.3g} > {args.rtol:g}; "
                    f"{int(np.count_nonzero(relative > args.rtol))} values beyond)")

    for problem in problems:
        print(f"compare-netcdf: {args.other} against {args.reference}: {problem}",
              file=sys.stderr)
    if not problems:
        print(f"{args.other}: {values} values, {not_identical} not bit for bit the same as "
              f"{args.reference}, largest relative difference {largest:.3g}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
