#!/usr/bin/python3
"""aerosol simulate end to end: the NetCDF file read by xarray against the CSV files and
against the distribution it holds, the files left by interrupted, killed and failed runs, and
the exit statuses of the command line."""

import csv
import math
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import tomllib
import unittest

import numpy as np
import xarray as xr

SOURCE_DIR = os.environ.get("AEROSOL_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BINARY = os.path.abspath(os.environ.get("AEROSOL_BIN",
                                        os.path.join(SOURCE_DIR, "build", "aerosol")))
EXAMPLES = os.path.join(SOURCE_DIR, "examples")


def run(*args, cwd=None, timeout=300):
    done = subprocess.run([BINARY, *args], cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, text=True)
    return done.returncode, done.stdout, done.stderr


def legacy_folder(parent, example, nodes=None):
    """A copy of a bundled example's run folder, with another node count if given."""
    folder = os.path.join(parent, example)
    shutil.copytree(os.path.join(EXAMPLES, example), folder)
    if nodes is not None:
        path = os.path.join(folder, "main.inp")
        with open(path) as f:
            text = f.read()
        text, count = re.subn(r"Number of nodes: *\d+", "Number of nodes: %d" % nodes, text)
        assert count == 1, "no node count in " + path
        with open(path, "w") as f:
            f.write(text)
    return folder


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def records_in(path):
    """The record count in a classic netCDF header ('CDF', version byte, big-endian count)."""
    try:
        with open(path, "rb") as f:
            head = f.read(8)
    except OSError:
        return 0
    if len(head) < 8 or head[:3] != b"CDF":
        return 0
    return struct.unpack(">i", head[4:8])[0]


def assert_same(test, a, b, what):
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    test.assertEqual(a.shape, b.shape, what)
    same = (a == b) | (np.isnan(a) & np.isnan(b))
    test.assertTrue(same.all(), "%s differs: %s vs %s" % (what, a[~same][:3], b[~same][:3]))


class CoagulationFile(unittest.TestCase):
    """Pure coagulation from a legacy folder (process 1, 26 nodes): every node is particles."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="aerosol-simulate-")
        cls.folder = legacy_folder(cls.work, "coagulation")
        cls.csv = os.path.join(cls.work, "csv")
        cls.status, cls.out, cls.err = run("simulate", cls.folder, "--csv", cls.csv)
        cls.path = os.path.join(cls.folder, "simulate.nc")  # the default inside a folder
        cls.ds = xr.open_dataset(cls.path) if os.path.exists(cls.path) else None

    @classmethod
    def tearDownClass(cls):
        if cls.ds is not None:
            cls.ds.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_run_and_layout(self):
        self.assertEqual(self.status, 0, self.err)
        self.assertEqual(self.out, "")
        self.assertIn("complete", self.err)
        self.assertIn("simulate.nc", self.err)
        ds = self.ds
        self.assertEqual(dict(ds.sizes), {"time": 101, "node": 26})
        self.assertEqual(ds.concentration.dims, ("time", "node"))
        self.assertEqual(ds.volume.dims, ("node",))
        self.assertEqual(ds.time.values[0], 0.0)
        self.assertAlmostEqual(float(ds.time.values[-1]), 0.01, delta=1e-15)
        self.assertEqual(list(ds.node.values), list(range(1, 27)))
        units = {"time": "s", "volume": "m3", "diameter": "m", "concentration": "m-3",
                 "temperature": "K", "pressure": "Pa", "nucleation_rate": "m-3 s-1",
                 "total_number": "m-3", "mean_diameter": "m", "volume_mean_diameter": "m",
                 "geometric_std": "1", "dN_dlog10dp": "m-3", "steps": "1"}
        for name, unit in units.items():
            self.assertEqual(ds[name].attrs.get("units"), unit, name)
        for name in list(ds.variables):
            self.assertTrue(ds[name].attrs.get("long_name"), name + " has no long_name")
        # CF: the conventions, the standard names that exist, the pressure in Pa (the case's
        # is in atm).
        self.assertEqual(ds.attrs["Conventions"], "CF-1.10")
        for name, standard in (("time", "time"), ("temperature", "air_temperature"),
                               ("pressure", "air_pressure")):
            self.assertEqual(ds[name].attrs.get("standard_name"), standard, name)
        case = tomllib.loads(ds.attrs["case"])
        np.testing.assert_allclose(ds.pressure.values, case["gas"]["pressure"] * 101325.0,
                                   rtol=1e-15)
        # The node coordinates label the distribution: it plots against the diameter.
        self.assertIn("diameter", ds.concentration.coords)
        self.assertIn("volume", ds.dN_dlog10dp.coords)
        import matplotlib
        matplotlib.use("Agg")
        ds.concentration.sel(time=ds.time[-1]).plot(x="diameter", xscale="log", yscale="log")
        import matplotlib.pyplot as plt
        plt.close("all")
        # The node diameters belong to the node volumes.
        # (to the program's stored pi and one third)
        np.testing.assert_allclose(ds.diameter.values,
                                   (6 * ds.volume.values / math.pi) ** (1 / 3), rtol=1e-5)

    def test_global_attributes(self):
        ds = self.ds
        self.assertEqual(ds.attrs["run_end"], "complete")
        self.assertEqual(ds.attrs["first_particle_node"], 1)
        status, version, _ = run("--version")
        self.assertEqual(status, 0)
        self.assertEqual(version.split()[-1], ds.attrs["program_version"])
        # A legacy folder's case text is its equivalent case file.
        status, toml, _ = run("simulate", self.folder, "--print-case")
        self.assertEqual(status, 0)
        self.assertEqual(ds.attrs["case"], toml)

    def test_csv_holds_the_same_numbers(self):
        header, rows = read_csv(os.path.join(self.csv, "series.csv"))
        self.assertEqual(len(rows), self.ds.sizes["time"])
        for column, title in enumerate(header):
            name, unit = re.fullmatch(r"(\w+) \[(.*)\]", title).groups()
            self.assertEqual(unit, self.ds[name].attrs["units"], name)
            assert_same(self, [float(r[column]) for r in rows], self.ds[name].values, name)
        header, rows = read_csv(os.path.join(self.csv, "concentration.csv"))
        self.assertEqual(header[1], "node_1 [m-3]")
        assert_same(self, [[float(v) for v in r[1:]] for r in rows],
                    self.ds.concentration.values, "concentration")
        header, rows = read_csv(os.path.join(self.csv, "nodes.csv"))
        self.assertEqual(header, ["node [1]", "volume [m3]", "diameter [m]"])
        assert_same(self, [float(r[1]) for r in rows], self.ds.volume.values, "volume")
        assert_same(self, [float(r[2]) for r in rows], self.ds.diameter.values, "diameter")
        _, rows = read_csv(os.path.join(self.csv, "run.csv"))
        self.assertIn(["run_end", "complete"], rows)

    def test_figures_belong_to_the_distribution(self):
        check_figures(self, self.ds)

    def test_particle_volume_conserved_while_number_falls(self):
        number = self.ds.total_number.values
        volume = self.ds.particle_volume.values
        self.assertLess(number[-1], number[0] / 100)
        self.assertTrue((np.diff(number) <= 0).all(), "coagulation only lowers the number")
        np.testing.assert_allclose(volume, volume[0], rtol=1e-6)

    def test_printed_case_runs_to_the_same_file(self):
        # The case file's default output is its name with .nc, beside it.
        folder = os.path.join(self.work, "printed")
        os.makedirs(folder)
        status, toml, err = run("simulate", self.folder, "--print-case")
        self.assertEqual(status, 0, err)
        case = os.path.join(folder, "case.toml")
        with open(case, "w") as f:
            f.write(toml)
        status, out, err = run("simulate", case, cwd=self.work)
        self.assertEqual(status, 0, err)
        with xr.open_dataset(os.path.join(folder, "case.nc")) as ds:
            assert_same(self, ds.concentration.values, self.ds.concentration.values,
                        "concentration")
            self.assertEqual(ds.attrs["case"], toml)


def check_figures(test, ds):
    """The scalar figures against the distribution in the same file: a variable written
    under another's name, or node 1 counted wrongly, shows here. Means are missing (NaN)
    while the particles are fewer than 1 m-3 or than the particle nodes' absolute
    tolerances together."""
    first = int(ds.attrs["first_particle_node"]) - 1
    n = ds.concentration.values[:, first:]
    v = ds.volume.values[first:]
    d = ds.diameter.values[first:]
    number = n.sum(axis=1)
    np.testing.assert_allclose(ds.total_number.values, number, rtol=1e-9, atol=1e-300)
    np.testing.assert_allclose(ds.particle_volume.values, (n * v).sum(axis=1), rtol=1e-9,
                               atol=1e-300)
    vapour = ds.concentration.values[:, 0] * ds.volume.values[0] if first == 1 else 0.0
    np.testing.assert_allclose(ds.total_volume.values,
                               ds.particle_volume.values + vapour, rtol=1e-9, atol=1e-300)
    if first == 1:
        assert_same(test, ds.monomer_concentration.values, ds.concentration.values[:, 0],
                    "monomer_concentration")
    # dN/dlog10 d: each node's concentration over the grid's spacing in log10 d.
    spacing = np.log10(ds.diameter.values[1] / ds.diameter.values[0])
    np.testing.assert_allclose(ds.dN_dlog10dp.values[:, first:], n / spacing, rtol=1e-9)
    test.assertTrue(np.isnan(ds.dN_dlog10dp.values[:, :first]).all(), "the vapour node")
    atol = tomllib.loads(ds.attrs["case"]).get("tolerances", {}).get("absolute", 1e-3)
    some = number >= max(1.0, atol * n.shape[1])
    test.assertTrue(some.any())
    for name in ("mean_diameter", "volume_mean_diameter", "geometric_std"):
        test.assertTrue(np.isnan(ds[name].values[~some]).all(), name + " of too few particles")
    n, number = n[some], number[some]
    mean = (n * d).sum(axis=1) / number
    np.testing.assert_allclose(ds.mean_diameter.values[some], mean, rtol=1e-6)
    mean_volume = (n * v).sum(axis=1) / number
    np.testing.assert_allclose(ds.volume_mean_diameter.values[some],
                               (6 * mean_volume / math.pi) ** (1 / 3), rtol=1e-6)
    log_mean = (n * np.log(d)).sum(axis=1) / number
    spread = np.sqrt((n * (np.log(d) - log_mean[:, None]) ** 2).sum(axis=1) / number)
    np.testing.assert_allclose(ds.geometric_std.values[some], np.exp(spread), rtol=1e-6)
    for name in ("steps", "rhs_evaluations", "jacobian_evaluations"):
        test.assertTrue((np.diff(ds[name].values) >= 0).all(), name + " is cumulative")


class VapourFile(unittest.TestCase):
    """Nucleation and growth from a vapour (process 3, 20 nodes): node 1 is the monomers."""

    def test_vapour_node_left_out_of_the_totals(self):
        work = tempfile.mkdtemp(prefix="aerosol-simulate-")
        try:
            folder = legacy_folder(work, "nucleation-growth")
            path = os.path.join(work, "out.nc")
            status, _, err = run("simulate", folder, "-o", path)
            self.assertEqual(status, 0, err)
            with xr.open_dataset(path) as ds:
                self.assertEqual(ds.attrs["first_particle_node"], 2)
                self.assertEqual(ds.attrs["run_end"], "complete")
                check_figures(self, ds)
                self.assertGreater(float(ds.nucleation_rate.max()), 0.0)
                self.assertTrue(np.isnan(ds.mean_diameter.values[0]),
                                "no particles at t = 0: no mean diameter")
        finally:
            shutil.rmtree(work, ignore_errors=True)


class StoppedRuns(unittest.TestCase):
    """A run stopped part way leaves a file xarray opens with the times reached."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="aerosol-simulate-")
        # 200 nodes: tens of seconds, stopped after its first few output times.
        self.folder = legacy_folder(self.work, "nucleation-growth", nodes=200)
        self.path = os.path.join(self.work, "run.nc")
        self.csv = os.path.join(self.work, "csv")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def stop_after(self, signal_number, records=3, timeout=120):
        if os.path.exists(self.path):
            os.remove(self.path)
        process = subprocess.Popen([BINARY, "simulate", self.folder, "-o", self.path,
                                    "--csv", self.csv], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + timeout
        while records_in(self.path) < records and process.poll() is None:
            if time.monotonic() > deadline:
                process.kill()
                self.fail("no %d output times within %d s" % (records, timeout))
            time.sleep(0.02)
        self.assertIsNone(process.poll(), "the run ended before it could be stopped")
        process.send_signal(signal_number)
        out, err = process.communicate(timeout=timeout)
        return process.returncode, out, err

    def check_file(self, times_at_least):
        with xr.open_dataset(self.path) as ds:
            times = ds.time.values
            self.assertGreaterEqual(len(times), times_at_least)
            self.assertLess(len(times), 101)
            self.assertTrue((np.diff(times) > 0).all())
            self.assertTrue(np.isfinite(ds.concentration.values).all())
            self.assertEqual(ds.concentration.shape, (len(times), 200))
            return ds.attrs["run_end"], times

    def test_interrupt_ends_with_status_3_and_says_so(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number.name):
                status, out, err = self.stop_after(number)
                self.assertEqual(status, 3, err)
                self.assertEqual(out, "")
                reached = re.search(r"interrupted at t = (\S+) s", err)
                self.assertIsNotNone(reached, err)
                run_end, times = self.check_file(4)
                self.assertTrue(run_end.startswith("interrupted at t = "), run_end)
                # The state reached is the last time, after the output times written before.
                self.assertAlmostEqual(times[-1] / float(reached.group(1)), 1.0, delta=1e-9)
                self.assertGreater(times[-1], times[-2])
                _, rows = read_csv(os.path.join(self.csv, "series.csv"))
                self.assertEqual(len(rows), len(times))
                _, rows = read_csv(os.path.join(self.csv, "run.csv"))
                self.assertIn(["run_end", run_end], rows)

    def test_killed_run_leaves_the_times_synced(self):
        status, _, _ = self.stop_after(signal.SIGKILL)
        self.assertEqual(status, -signal.SIGKILL)
        run_end, _ = self.check_file(3)
        self.assertEqual(run_end, "running")

    def test_integrator_failure_ends_with_status_3_and_says_so(self):
        status, toml, err = run("simulate", self.folder, "--print-case")
        self.assertEqual(status, 0, err)
        toml, count = re.subn(r"max_steps = \d+", "max_steps = 50", toml)
        self.assertEqual(count, 1)
        case = os.path.join(self.work, "few-steps.toml")
        with open(case, "w") as f:
            f.write(toml)
        status, out, err = run("simulate", case, "-o", self.path)
        self.assertEqual(status, 3, err)
        self.assertIn("integrator failure at t = ", err)
        with xr.open_dataset(self.path) as ds:
            self.assertTrue(ds.attrs["run_end"].startswith("integrator failure at t = "))
            self.assertIn("too much work", ds.attrs["run_end"])
            self.assertLess(ds.sizes["time"], 101)
            self.assertEqual(int(ds.steps.values[-1]) <= 50, True)


class ExitStatuses(unittest.TestCase):
    """What the command line refuses, and what it does when the results cannot be written."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="aerosol-simulate-")
        self.folder = legacy_folder(self.work, "coagulation")
        self.case = os.path.join(self.work, "case.toml")
        status, toml, err = run("simulate", self.folder, "--print-case")
        self.assertEqual(status, 0, err)
        with open(self.case, "w") as f:
            f.write(toml)
        self.bad = os.path.join(self.work, "bad.toml")
        with open(self.bad, "w") as f:
            f.write(toml.replace("[grid]\n", "[grid]\nnodez = 3\n"))
        self.a_file = os.path.join(self.work, "a-file")
        open(self.a_file, "w").close()

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_statuses_and_messages(self):
        w = self.work
        cases = [
            # (arguments, status, standard error must match, files that must not exist)
            (["--bogus"], 1, r"aerosol: .*--bogus", []),
            (["frobnicate"], 1, r"frobnicate", []),
            (["simulate"], 1, r"CASE", []),
            (["simulate", self.case, "--no-such"], 1, r"--no-such", ["case.nc"]),
            (["simulate", self.bad], 1, r"bad\.toml:\d+.*nodez", ["bad.nc"]),
            (["simulate", os.path.join(w, "missing.toml")], 1, r"missing\.toml", []),
            (["simulate", self.case, "-o", self.case], 1, r"case\.toml", []),
            (["simulate", self.case, "-o", ""], 1, r'-o "": an empty name', ["case.nc"]),
            (["simulate", self.case, "--csv", ""], 1, r'--csv "": an empty name', ["case.nc"]),
            # No file made: nothing is called incomplete.
            (["simulate", self.case, "-o", os.path.join(w, "no", "such", "x.nc")], 2,
             r"could not create .*x\.nc(.|\n)*no results were written\n$", []),
            (["simulate", self.case, "-o", self.folder], 2, r"not a regular file", []),
            (["simulate", self.case, "-o", os.path.join(w, "x.nc"), "--csv", self.a_file], 2,
             r"a-file(.|\n)*the results in \S*x\.nc are incomplete\n$", []),
        ]
        for args, status, message, absent in cases:
            with self.subTest(args=args[1:] if len(args) > 1 else args):
                code, out, err = run(*args, cwd=w)
                self.assertEqual(code, status, err)
                self.assertEqual(out, "")
                self.assertRegex(err, message)
                for name in absent:
                    self.assertFalse(os.path.exists(os.path.join(w, name)), name)
        # Refused -o paths were left as they were.
        self.assertTrue(os.path.isdir(self.folder))
        with open(self.case) as f:
            self.assertIn("[grid]", f.read())
        # The results that could not be completed say so.
        with xr.open_dataset(os.path.join(w, "x.nc")) as ds:
            self.assertTrue(ds.attrs["run_end"].startswith("write failure"), ds.attrs["run_end"])

    def test_full_disk_mid_run_keeps_the_times_written(self):
        # A file size limit stands in for a full disk: writes fail with EFBIG part way.
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (30000, 30000))
        path = os.path.join(self.work, "full.nc")
        done = subprocess.run([BINARY, "simulate", self.case, "-o", path], preexec_fn=limit,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              timeout=300)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertRegex(done.stderr, r"write failure at t = .*full\.nc")
        with xr.open_dataset(path) as ds:
            self.assertGreater(ds.sizes["time"], 2)
            self.assertLess(ds.sizes["time"], 101)
            self.assertTrue(np.isfinite(ds.concentration.values).all())

    def test_help_version_and_print_case_write_only_to_standard_output(self):
        for args, pattern in ((["--help"], r"simulate"), (["--version"], r"^aerosol \S+\n$"),
                              (["simulate", "--help"], r"--print-case"),
                              (["simulate", self.folder, "--print-case"], r"\[grid\]")):
            with self.subTest(args=args):
                code, out, err = run(*args, cwd=self.work)
                self.assertEqual(code, 0, err)
                self.assertRegex(out, pattern)
                self.assertEqual(err, "")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "simulate.nc")))


class MaterialsLibrary(unittest.TestCase):
    """aerosol materials, and a library material whose fits the run leaves."""

    def test_listing_and_its_write_failure(self):
        code, out, err = run("materials")
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "")
        for name in ("iron (Fe)", "copper (Cu)", "water (H2O)"):
            self.assertIn(name, out)
        with open("/dev/full", "w") as full:
            done = subprocess.run([BINARY, "materials"], stdout=full, stderr=subprocess.PIPE,
                                  text=True, timeout=60)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("could not write", done.stderr)
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"materials +List the materials library")

    def test_one_range_warning_per_property_before_the_run(self):
        work = tempfile.mkdtemp(prefix="aerosol-simulate-")
        try:
            # Copper held at 1300 K, below both its surface tension and vapour pressure fits.
            case = os.path.join(work, "copper.toml")
            with open(case, "w") as f:
                f.write('material = "copper"\n'
                        "[mechanisms]\nnucleation = false\ncoagulation = false\n"
                        'growth = true\nkernel = "free-molecular"\nvapor = "held"\n'
                        "[grid]\nnodes = 20\n[initial]\nsaturation_ratio = 1.0\n"
                        '[initial.particles]\nkind = "monodisperse"\ndiameter = 10\n'
                        "concentration = 1e12\n"
                        '[temperature]\nlaw = "constant"\nstart = 1300\n'
                        "[end]\ntime = 1e-3\n[output]\ntimes = 3\n")
            code, out, err = run("simulate", case)
            self.assertEqual(code, 0, err)
            self.assertEqual(out, "")
            warnings = [line for line in err.splitlines() if "warning" in line]
            self.assertEqual(len(warnings), 2, err)
            for prop, fit in (("surface tension", r"1400-1750 K"),
                              ("vapour pressure", r"1509-2834 K")):
                matching = [w for w in warnings if prop in w]
                self.assertEqual(len(matching), 1, err)
                self.assertRegex(matching[0], r"^aerosol: warning: copper: " + prop +
                                 " fit holds for " + fit + "; the run goes down to 1300 K$")
            self.assertLess(err.index("warning"), err.index("aerosol simulate: complete"))
            # The printed case runs nothing and warns of nothing.
            code, out, err = run("simulate", case, "--print-case")
            self.assertEqual((code, err), (0, ""))
            self.assertIn('name = "copper"', out)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
