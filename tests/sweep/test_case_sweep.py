#!/usr/bin/python3
"""Sweeps of a simulate case file: keys varied by dotted path, run through GNU parallel,
figures collected from the NetCDF files; the TOML writer; sweep files refused before
anything runs."""

import math
import os
import tempfile
import tomllib
import unittest

import netCDF4
import numpy as np

import sweep_support as S

import simulate_cases  # tests/support, on PYTHONPATH
from aerosol import _toml
from aerosol.sweep import case_files

BASE = simulate_cases.nucleation_case(times=21, output_file="elsewhere/never.nc")


def make_case_sweep(folder, vary, extra=""):
    with open(os.path.join(folder, "base.toml"), "w") as f:
        f.write(BASE)
    path = os.path.join(folder, "sweep.toml")
    with open(path, "w") as f:
        f.write(f'base = "base.toml"\nruns = "runs"\nprogram = "{S.PROGRAM}"\n{extra}\n'
                f'[vary]\n{vary}\n')
    return path


def figures_of(path):
    """The figures a row should carry, read straight from a NetCDF file."""
    with netCDF4.Dataset(path) as nc:
        v = {name: np.array(nc.variables[name][:]) for name in
             ("time", "total_number", "mean_diameter", "geometric_std", "saturation_ratio",
              "nucleation_rate", "steps", "rhs_evaluations", "jacobian_evaluations")}
        run_end = nc.getncattr("run_end")
        case = nc.getncattr("case")
    s, j = int(np.argmax(v["saturation_ratio"])), int(np.argmax(v["nucleation_rate"]))
    return {"final_total_number": v["total_number"][-1], "mean_diameter": v["mean_diameter"][-1],
            "gsd": v["geometric_std"][-1], "peak_S": v["saturation_ratio"][s],
            "peak_S_time": v["time"][s], "peak_J": v["nucleation_rate"][j],
            "peak_J_time": v["time"][j], "steps": v["steps"][-1],
            "rhs_evaluations": v["rhs_evaluations"][-1],
            "jacobian_evaluations": v["jacobian_evaluations"][-1]}, run_end, case


class ParallelCaseSweep(unittest.TestCase):
    def test_zip_of_dotted_keys(self):
        # Four runs side by side: two that end well, one the program refuses (500 nodes), one
        # whose integrator gives up (20 steps allowed: status 3).
        vary = ('"temperature.cooling_rate" = [3000.0, 12000.0, 6000.0, 6000.0]\n'
                'grid.nodes = [12, 16, 500, 12]\n'
                'tolerances.max_steps = [100000, 100000, 100000, 20]')
        with tempfile.TemporaryDirectory() as d:
            sweep = make_case_sweep(d, vary, 'combine = "zip"')
            r = S.tool("run", sweep, "--engine", "parallel", "--jobs", "2")
            self.assertEqual(r.returncode, 1, r.stderr)      # not every run ended with 0
            self.assertIn("1 left the physical range, 2 ok, 1 refused", r.stdout)
            c = S.tool("collect", sweep)
            self.assertEqual(c.returncode, 0, c.stderr)
            rows = S.read_csv(os.path.join(d, "runs", "summary.csv"))
            self.assertEqual([(r["state"], r["status"]) for r in rows],
                             [("ok", "0"), ("ok", "0"), ("refused", "1"),
                              ("left the physical range", "3")])
            intended = [(3000.0, 12, 100000), (12000.0, 16, 100000), (6000.0, 500, 100000),
                        (6000.0, 12, 20)]
            base = tomllib.loads(BASE)
            for row, (rate, nodes, steps) in zip(rows, intended):
                folder = os.path.join(d, "runs", row["run"])
                self.assertEqual((float(row["temperature.cooling_rate"]), int(row["grid.nodes"]),
                                  int(row["tolerances.max_steps"])), (rate, nodes, steps))
                # The run's case is the base with these three values and nothing else changed.
                with open(os.path.join(folder, "case.toml"), "rb") as f:
                    case = tomllib.load(f)
                expected = tomllib.loads(BASE)
                expected["temperature"]["cooling_rate"] = rate
                expected["grid"]["nodes"] = nodes
                expected["tolerances"] = {"max_steps": steps}
                self.assertEqual(case, expected)
                self.assertNotEqual(case, base)
                if row["state"] == "refused":
                    self.assertIn("grid.nodes = 500", row["message"])
                    self.assertFalse(os.path.exists(os.path.join(folder, "results.nc")))
                    continue
                figures, run_end, case_text = figures_of(os.path.join(folder, "results.nc"))
                self.assertEqual(row["run_end"], run_end)
                # The program ran the case the sweep wrote.
                with open(os.path.join(folder, "case.toml")) as f:
                    self.assertEqual(case_text, f.read())
                counts = ("steps", "rhs_evaluations", "jacobian_evaluations")
                if row["state"] == "left the physical range":
                    self.assertTrue(run_end.startswith("integrator failure"), run_end)
                    self.assertIn("integrator failure", row["message"])
                    self.assertEqual(row["final_total_number"], "")
                    names = counts
                else:
                    self.assertEqual(run_end, "complete")
                    names = figures
                for name in names:
                    self.assertEqual(float(row[name]), float(figures[name]), name)
            # Faster cooling: more and smaller particles; the values reached the program.
            self.assertGreater(float(rows[1]["final_total_number"]),
                               float(rows[0]["final_total_number"]))
            self.assertLess(float(rows[1]["mean_diameter"]), float(rows[0]["mean_diameter"]))

            p = S.tool("plot", sweep, "--x", "temperature.cooling_rate", "--y", "mean_diameter")
            self.assertEqual(p.returncode, 0, p.stderr)
            with open(os.path.join(d, "runs", "mean_diameter-vs-temperature.cooling_rate.png"),
                      "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

            # Again: the two good runs are kept, the other two are done again.
            again = S.tool("run", sweep)
            self.assertIn("2 already finished, 2 to run", again.stdout)


class CaseWriter(unittest.TestCase):
    def test_values_read_back_exactly(self):
        case = {"material": "iron", "grid": {"nodes": 48, "spacing": 1.3981637374549025},
                "gas": {"pressure": 1e-300, "sutherland_a": 1.458e-06, "big": 5e+16,
                        "neg": -0.0, "whole": 2.0},
                "temperature": {"law": "table",
                                "table": [[0.0, 1500.0], [0.01, 1100.0, 0.5], [0.5, 300.0]]},
                "initial": {"particles": {"kind": "node", "node": 2, "concentration": 0}},
                "mechanisms": {"growth": False, "coagulation": True},
                "odd": {'quote " back \\ tab \t nl \n del \x7f é': [{"a": 1, "b c": "x"}]},
                "empty": {}}
        text = _toml.dumps(case, "a header\nof two lines")
        back = tomllib.loads(text)
        self.assertEqual(back, case)
        self.assertIsInstance(back["gas"]["whole"], float)
        self.assertEqual(math.copysign(1.0, back["gas"]["neg"]), -1.0)
        self.assertTrue(text.startswith("# a header\n# of two lines\n"))

    def test_dotted_paths_of_vary(self):
        flat = case_files.flatten_vary(tomllib.loads(
            'temperature.cooling_rate = [1.0, 2.0]\n"grid.nodes" = [3]\nmaterial = "iron"\n'
            'initial.particles = [{kind = "node", node = 2, concentration = 1e10}]'))
        self.assertEqual(flat, {"temperature.cooling_rate": [1.0, 2.0], "grid.nodes": [3],
                                "material": ["iron"],
                                "initial.particles": [{"kind": "node", "node": 2,
                                                       "concentration": 1e10}]})


class MalformedCaseSweep(unittest.TestCase):
    def test_refused_before_anything_runs(self):
        cases = [
            ('grid.nodes.count = [3, 4]', "", "grid.nodes of the base case is not a table"),
            ('"grid..nodes" = [3]', "", "not a dotted path"),
            ('grid.nodes = []', "", "the list of values is empty"),
            ('gas.pressure = [1.0, nan]', "", "nan is not a finite number"),
            ('grid.nodes = [12, 12]', 'folder = "n-{grid.nodes}"',
             "two runs would share the folder 'n-12'"),
            ('grid.nodes = [12]', 'folder = "n-{nodes}"', "names {nodes}, which is neither"),
        ]
        for vary, extra, message in cases:
            with self.subTest(vary=vary), tempfile.TemporaryDirectory() as d:
                sweep = make_case_sweep(d, vary, extra)
                r = S.tool("run", sweep, "--dry-run")
                self.assertEqual(r.returncode, 2, r.stdout)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(os.path.join(d, "runs")))
        with tempfile.TemporaryDirectory() as d:
            sweep = make_case_sweep(d, "grid.nodes = [12]")
            with open(os.path.join(d, "base.toml"), "a") as f:
                f.write("[grid\n")
            r = S.tool("run", sweep, "--dry-run")
            self.assertEqual(r.returncode, 2)
            self.assertIn("base.toml: not a valid TOML case file", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
