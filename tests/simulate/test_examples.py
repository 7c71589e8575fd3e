#!/usr/bin/python3
"""The simulate examples run as their READMEs say: every case file in examples/simulate,
examples/synthesis, examples/reactor and examples/aggregates, and every run of the synthesis
sweep, ends complete with status 0 and no warning (the synthesis runs stay inside the library
fits' ranges), closes its volume budget (vapour, particles, precursor and what dilution and the
walls took, per unit of gas), keeps the concentrations non-negative, and in the sweep uses up
the vapour before the end (the READMEs compare final diameters of finished bursts). The
aggregate runs keep a finite, positive area that never falls below the spheres' by more than
the grid's split allows."""

import os
import subprocess
import tempfile
import tomllib
import unittest

import numpy as np
import xarray as xr

SOURCE_DIR = os.environ.get("AEROSOL_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BINARY = os.path.abspath(os.environ.get("AEROSOL_BIN",
                                        os.path.join(SOURCE_DIR, "build", "aerosol")))
EXAMPLES = os.path.join(SOURCE_DIR, "examples")
from aerosol.sweep import config as sweep_config  # python/ on PYTHONPATH (CMakeLists.txt)


def volume_budget(ds):
    """Volume of the condensed species per m3 of gas at the starting density, at every time:
    vapour and particles, the precursor as one monomer per molecule, and what dilution and the
    walls took; over the gas density (P/P0)(T0/T) of the history, which every concentration
    follows when the expansion is on."""
    volume = ds["total_volume"].values.copy()
    if "precursor_concentration" in ds:
        volume += ds["precursor_concentration"].values * float(ds["volume"].values[0])
    for name in ("volume_lost_to_dilution", "volume_lost_to_walls"):
        if name in ds:
            volume += ds[name].values
    if "gas_density_ratio" in ds:
        T, P = ds["temperature"].values, ds["pressure"].values
        volume /= (P / P[0]) * (T[0] / T)
    return volume


def check_area(test, ds, label):
    """An aggregate run's surface area: finite, positive wherever there are particles, and not
    below that of spheres of the nodes' volumes by more than the split of a collision's
    product allows. The product's area goes to its two nodes in proportion to their volumes,
    so the lower node may take primaries up to q^(1/3) times its own diameter (q the volume
    ratio of the grid): at worst A_k = q^(-1/3) N_k a_sph,k, until sintering restores it."""
    first = int(ds.attrs["first_particle_node"]) - 1
    v = ds["volume"].values
    a = np.pi ** (1.0 / 3.0) * (6.0 * v[first:]) ** (2.0 / 3.0)
    N = ds["concentration"].values[:, first:]
    A = ds["surface_area"].values[:, first:]
    test.assertTrue(np.all(np.isfinite(A)), label)
    present = ds["total_number"].values >= 1.0
    test.assertTrue(present.any(), label)
    test.assertTrue(np.all(A.sum(axis=1)[present] > 0.0), label)
    floor = (v[first + 1] / v[first]) ** (-1.0 / 3.0) * N * a
    # Nodes of less than one particle per m3 are the integrator's noise, shape and all.
    short = np.where(N >= 1.0, floor - A, 0.0) / np.where(N >= 1.0, N * a, 1.0)
    test.assertLess(float(short.max()), 1e-3, label)


def case_files(folder):
    """The case files of an example folder; sweep files (they name a base) are not cases."""
    out = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".toml"):
            with open(os.path.join(folder, name), "rb") as f:
                if "base" not in tomllib.load(f):
                    out.append(os.path.join(folder, name))
    return out


class ExampleRuns(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def simulate(self, case, label):
        """Runs a case into the temporary folder; returns its Dataset after the common checks."""
        out = os.path.join(self.tmp.name, label + ".nc")
        done = subprocess.run([BINARY, "simulate", case, "-o", out], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, f"{label}: {done.stderr}")
        self.assertNotIn("warning", done.stderr, label)
        ds = xr.open_dataset(out)
        self.addCleanup(ds.close)
        self.assertEqual(ds.attrs["run_end"], "complete", label)
        # What condenses is what the particles gain; what is lost is counted.
        volume = volume_budget(ds)
        # About 100 times the largest change measured (2.4e-10, temperature-history).
        self.assertLess(float(np.max(np.abs(volume / volume[0] - 1.0))), 3e-8, label)
        # Non-negative up to the absolute tolerance (1e-3 per m3 by default).
        self.assertGreater(float(ds["concentration"].min()), -1e-2, label)
        return ds

    def test_case_files(self):
        cases = case_files(os.path.join(EXAMPLES, "simulate")) + \
            case_files(os.path.join(EXAMPLES, "synthesis")) + \
            case_files(os.path.join(EXAMPLES, "reactor")) + \
            case_files(os.path.join(EXAMPLES, "aggregates"))
        self.assertGreaterEqual(len(cases), 11)
        for case in cases:
            with self.subTest(case=os.path.relpath(case, EXAMPLES)):
                label = os.path.splitext(os.path.basename(case))[0]
                ds = self.simulate(case, label)
                self.assertGreater(float(ds["total_number"].values[-1]), 0.0)
                if "surface_area" in ds:
                    check_area(self, ds, label)

    def test_synthesis_sweep(self):
        sweep = sweep_config.load(os.path.join(EXAMPLES, "synthesis", "cooling-rate.toml"),
                                  BINARY)
        self.assertEqual(sweep.kind, "case")
        self.assertGreaterEqual(len({r.values["material"] for r in sweep.runs}), 2)
        for run in sweep.runs:
            with self.subTest(run=run.name):
                path = os.path.join(self.tmp.name, run.name + ".toml")
                with open(path, "w") as f:
                    f.write(run.inputs[sweep_config.CASE_FILE])
                ds = self.simulate(path, run.name)
                n1 = ds["monomer_concentration"].values
                self.assertLess(n1[-1] / n1[0], 0.01, "the burst has not used up the vapour")


if __name__ == "__main__":
    unittest.main()
