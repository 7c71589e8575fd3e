#!/usr/bin/python3
"""aerosol-plot on NetCDF files of `aerosol simulate`: a nucleation run, a pure coagulation
run and the same coagulation as aggregates are drawn; the colour map's dN/dlog10 dp integrates
back to the file's total number; the aggregates' diameters get their panel, and only in the
aggregates' figure; files that are not simulate results are refused."""

import os
import shutil
import subprocess
import tempfile
import unittest

import numpy as np

import runs
import aerosol.plot_simulate as aps
import simulate_cases  # tests/support, on PYTHONPATH

NUCLEATION = simulate_cases.nucleation_case(times=31)

# Coagulation of 1 nm particles at a constant temperature: no vapour, node 1 a particle node.
COAGULATION = """
[mechanisms]
nucleation = false
coagulation = true
kernel = "free-molecular"
growth = false
vapor = "none"
[material]
density = 2000.0
[grid]
nodes = 12
first_diameter = 1.0
[initial.particles]
kind = "node"
node = 1
concentration = 1e18
[temperature]
law = "constant"
start = 300.0
[end]
time = 0.01
[output]
times = 11
spacing = "log"
"""

# The same particles as aggregates that do not sinter: their primaries stay at 1 nm while the
# collision diameter grows.
AGGREGATES = COAGULATION + """
[aggregates]
sintering = "none"
"""


def simulate(folder, name, text):
    case = os.path.join(folder, name + ".toml")
    with open(case, "w") as f:
        f.write(text)
    done = subprocess.run([runs.BINARY, "simulate", case], capture_output=True, text=True,
                          timeout=120)
    if done.returncode != 0:
        raise RuntimeError(f"aerosol simulate {case}: status {done.returncode}: {done.stderr}")
    return os.path.join(folder, name + ".nc")


def plot(*args):
    return subprocess.run([runs.PLOT, *args], capture_output=True,
                          text=True, timeout=120)


class SimulatePlot(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="aerosol-plot-simulate-")
        cls.files = {name: simulate(cls.folder, name, text)
                     for name, text in (("nucleation", NUCLEATION),
                                        ("coagulation", COAGULATION),
                                        ("aggregates", AGGREGATES))}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_each_run_is_drawn(self):
        for name, path in self.files.items():
            with self.subTest(run=name):
                prefix = os.path.join(self.folder, name + "-figure")
                done = plot(path, "-o", prefix, "--format", "png", "svg")
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout.split(), [prefix + ".png", prefix + ".svg"])
                with open(prefix + ".png", "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
                # Eight panels with a colour map: far above an empty canvas's few kB.
                self.assertGreater(os.path.getsize(prefix + ".png"), 60000)

    def test_colour_map_integrates_to_the_total_number(self):
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        for name, path in self.files.items():
            with self.subTest(run=name):
                ds = aps.open_results(path)
                fig, ax = plt.subplots()
                mesh = aps.plot_colour_map(ax, ds)
                drawn = mesh.get_array()
                vmin = mesh.norm.vmin
                plt.close(fig)
                times = ds["time"].values
                if drawn.size != times.size * (drawn.size // times.size):
                    times = times[times > 0]              # t = 0 has no place on a log axis
                drawn = drawn.reshape(times.size, -1)
                # Node k spans log10(d_(k+1)/d_k) decades of diameter, a third of the decades
                # of the volume ratio q of the grid.
                d = ds["diameter"].values
                v = ds["volume"].values
                widths = np.log10(d[1:] / d[:-1])
                np.testing.assert_allclose(widths, np.log10(v[1] / v[0]) / 3.0, rtol=1e-5)
                vapour = ds.attrs["first_particle_node"] == 2
                self.assertEqual(drawn.shape[1], len(d) - vapour)
                widths = np.append(widths, widths[-1])[int(vapour):]   # per particle node
                integral = np.ma.filled(drawn, 0.0) @ widths
                total = ds["total_number"].sel(time=times).values
                # The map leaves out cells below vmin (ten decades under its top): each such
                # cell may hold up to vmin of dN/dlog10 dp.
                left_out = np.ma.getmaskarray(drawn).sum(axis=1) * vmin * widths.max()
                rows = total > 0
                self.assertGreater(rows.sum(), 5)
                self.assertTrue(np.all(np.abs(integral - total)[rows]
                                       <= left_out[rows] + 1e-12 * total[rows]),
                                (integral - total)[rows] / total[rows])
                self.assertGreaterEqual((left_out[rows] < 1e-9 * total[rows]).sum(), 3)

    def test_aggregate_diameters_are_drawn_for_aggregates_only(self):
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        for name, path in self.files.items():
            with self.subTest(run=name):
                ds = aps.open_results(path)
                fig = aps.make_figure(ds)
                panels = [ax for ax in fig.get_axes()
                          if ax.get_ylabel() == "aggregate diameters (nm)"]
                lines = {line.get_label(): line for ax in panels for line in ax.get_lines()}
                plt.close(fig)
                if name != "aggregates":
                    self.assertEqual(panels, [])
                    continue
                self.assertEqual(len(panels), 1)
                for variable, label in (("sauter_primary_diameter",
                                         "Sauter primary diameter 6V/A"),
                                        ("mean_collision_diameter", "mean collision diameter")):
                    x, y = lines[label].get_data()
                    expected = ds[variable].sel(time=x).values * 1e9
                    np.testing.assert_allclose(y, expected, rtol=1e-12)
                    self.assertGreater(len(x), 5)
                # Without sintering the primaries stay 1 nm (to the grid's stored third);
                # the collisions make open aggregates whose collision diameter outgrows the
                # volume-equivalent one.
                _, primary = lines["Sauter primary diameter 6V/A"].get_data()
                np.testing.assert_allclose(primary, 1.0, rtol=1e-5)
                self.assertGreater(ds["mean_collision_diameter"].values[-1],
                                   ds["mean_diameter"].values[-1])

    def test_summary_has_the_names_and_units_of_the_file(self):
        for run in ("nucleation", "aggregates"):
            with self.subTest(run=run):
                self.summary_matches(run)

    def summary_matches(self, run):
        ds = aps.open_results(self.files[run])
        done = plot(self.files[run], "--summary", "--no-plot")
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "variable\tstatistic\tvalue\tunits")
        time = ds["time"].values
        if run == "aggregates":
            names = [line.split("\t")[0] for line in lines]
            self.assertIn("sauter_primary_diameter", names)
            self.assertIn("mean_collision_diameter", names)
        for name, statistic, value, units in (line.split("\t") for line in lines[1:]):
            with self.subTest(name=name, statistic=statistic):
                if name == "run_end":
                    self.assertEqual(value, ds.attrs["run_end"])
                    continue
                values = ds[name].values
                expected, expected_units = {
                    "last": (values[-1], ds[name].attrs["units"]),
                    "max": (np.nanmax(values), ds[name].attrs["units"]),
                    "time of max": (time[np.nanargmax(values)], ds["time"].attrs["units"]),
                }[statistic]
                self.assertEqual(units, expected_units)
                self.assertEqual(float(value), float(expected))
        self.assertGreaterEqual(len(lines), 12)

    def test_against_temperature_for_a_cooling_only(self):
        self.assertTrue(aps.is_cooling(aps.open_results(self.files["nucleation"])))
        done = plot(self.files["coagulation"], "--against", "temperature", "--no-plot")
        self.assertEqual(done.returncode, 1)
        self.assertIn("temperature falls", done.stderr)

    def test_files_that_are_not_results_are_refused(self):
        # A NetCDF file of other variables, a results file cut inside its header, an empty
        # .nc file: each gives one line naming the file and status 1, never a traceback.
        other = os.path.join(self.folder, "other.nc")
        import xarray as xr
        xr.Dataset({"x": ("x", [1.0, 2.0])}).to_netcdf(other, format="NETCDF3_64BIT")
        cut = os.path.join(self.folder, "cut.nc")
        with open(self.files["nucleation"], "rb") as f:
            head = f.read(200)
        with open(cut, "wb") as f:
            f.write(head)
        empty = os.path.join(self.folder, "empty.nc")
        open(empty, "w").close()
        for path, reason in ((other, "not an aerosol simulate results file"),
                             (cut, "not a readable NetCDF file"),
                             (empty, "not a readable NetCDF file")):
            with self.subTest(path=os.path.basename(path)):
                done = plot(path)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn(path, done.stderr)
                self.assertIn(reason, done.stderr)
                self.assertNotIn("Traceback", done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
