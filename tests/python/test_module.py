#!/usr/bin/python3
"""The Python module against the command line: the same Dataset as the NetCDF file, the same
refusal messages, Ctrl-C during a run, integrator failures, and the legacy output parser.
Runs against the build tree: PYTHONPATH holds the build's package (build/python), AEROSOL_BIN
the program."""

import os
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import unittest

SOURCE_DIR = os.environ.get("AEROSOL_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BINARY = os.path.abspath(os.environ.get("AEROSOL_BIN", os.path.join(SOURCE_DIR, "build", "aerosol")))

import numpy as np
import xarray as xr

import aerosol

# Nucleation, coagulation and growth of a cooling vapour on 30 nodes: every mechanism, the
# vapour node, NaN diameters before the first particles.
SMALL_CASE = {
    "mechanisms": {"nucleation": True, "coagulation": True, "kernel": "free-molecular",
                   "growth": True, "vapor": "depleted"},
    "material": {"molar_mass": 0.1, "density": 2000.0, "surface_tension_a": 500.0,
                 "surface_tension_b": 0.2, "vapor_pressure_c": 10.0,
                 "vapor_pressure_d": 30000.0},
    "grid": {"nodes": 30},
    "initial": {"saturation_ratio": 1.001},
    "temperature": {"law": "cooling", "start": 1500.0, "cooling_rate": 6000.0},
    "end": {"temperature": 300.0},
    "output": {"times": 21},
}


def command_line(*args):
    done = subprocess.run([BINARY, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=300)
    return done.returncode, done.stderr


def write(path, text):
    with open(path, "w") as f:
        f.write(text)
    return path


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


class SameAsCommandLine(unittest.TestCase):
    """simulate() gives the Dataset that xarray opens from the command line's file."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.case_path = write(os.path.join(cls.folder.name, "small.toml"),
                              aerosol.case_toml(SMALL_CASE))
        cls.netcdf = os.path.join(cls.folder.name, "small.nc")
        status, stderr = command_line("simulate", cls.case_path, "-o", cls.netcdf)
        assert status == 0, stderr
        cls.expected = aerosol.read(cls.netcdf)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def assert_same_dataset(self, actual, expected):
        xr.testing.assert_identical(actual, expected)  # values, dims, coords, attributes
        for name in expected.variables:
            self.assertEqual(actual[name].dtype, expected[name].dtype, name)
        self.assertEqual(type(actual.attrs["first_particle_node"]),
                         type(expected.attrs["first_particle_node"]))

    def test_read_of_a_cut_or_damaged_file(self):
        # A copy without its last quarter: only the whole times, never zeros, and run_end
        # says so.
        with open(self.netcdf, "rb") as f:
            data = f.read()
        cut = write_bytes(os.path.join(self.folder.name, "cut.nc"), data[:len(data) * 3 // 4])
        dataset = aerosol.read(cut)
        kept = dataset.sizes["time"]
        self.assertGreater(kept, 0)
        self.assertLess(kept, self.expected.sizes["time"])
        xr.testing.assert_equal(dataset, self.expected.isel(time=slice(0, kept)))
        self.assertRegex(dataset.attrs["run_end"],
                         r"^file cut short: %d of its 21 output times are whole" % kept)
        # A header cut or overwritten, and a file that is no NetCDF: ValueError naming it.
        for name, content in (("header.nc", data[:200]),
                              ("damaged.nc", data[:8] + b"\xff" * 64 + data[72:]),
                              ("text.nc", b"time,concentration\n" * 50)):
            path = write_bytes(os.path.join(self.folder.name, name), content)
            with self.subTest(name):
                with self.assertRaisesRegex(ValueError, "^" + path + ": not a readable NetCDF"):
                    aerosol.read(path)

    def test_case_file(self):
        dataset = aerosol.simulate(self.case_path)
        self.assertEqual(dataset.attrs["run_end"], "complete")
        self.assertEqual(dataset.sizes["time"], 21)
        self.assertTrue(np.isnan(dataset["mean_diameter"][0]))  # no particles at t = 0
        self.assertGreater(float(dataset["total_number"][-1]), 0.0)
        self.assert_same_dataset(dataset, self.expected)

    def test_dict_case(self):
        dataset = aerosol.simulate(SMALL_CASE)
        self.assertEqual(dataset.attrs["case_source"], aerosol.DICT_SOURCE)
        expected = self.expected.copy()
        expected.attrs["case_source"] = aerosol.DICT_SOURCE
        self.assert_same_dataset(dataset, expected)

    def test_legacy_folder(self):
        # Pure coagulation (process 1): node 1 holds particles, and the long names say so.
        folder = os.path.join(SOURCE_DIR, "examples", "coagulation")
        netcdf = os.path.join(self.folder.name, "coagulation.nc")
        status, stderr = command_line("simulate", folder, "-o", netcdf)
        self.assertEqual(status, 0, stderr)
        dataset = aerosol.simulate(folder)
        self.assertEqual(int(dataset.attrs["first_particle_node"]), 1)
        self.assert_same_dataset(dataset, aerosol.read(netcdf))

    def test_toml_text_and_numpy_values(self):
        # The same case as TOML text, and with NumPy scalars where Python numbers stand.
        with open(self.case_path) as f:
            from_text = aerosol.simulate(aerosol.Case.from_toml(f.read()))
        self.assertEqual(from_text.attrs["case_source"], aerosol.TOML_SOURCE)
        xr.testing.assert_equal(from_text, self.expected)
        numpy_case = dict(SMALL_CASE, grid={"nodes": np.float64(30)},
                          material=dict(SMALL_CASE["material"], density=np.float32(2000.0)),
                          output={"times": np.int64(21)})
        xr.testing.assert_equal(aerosol.simulate(numpy_case), self.expected)

    def test_keyword_arguments_replace_the_case_settings(self):
        dataset = aerosol.simulate(self.case_path, output_times=5, spacing="log", rtol=1e-6)
        times = dataset["time"].values
        self.assertEqual(len(times), 5)
        self.assertEqual(times[0], 0.0)
        self.assertAlmostEqual(times[-1], self.expected["time"].values[-1], delta=1e-9)
        ratios = times[2:] / times[1:-1]  # log spacing after t = 0
        np.testing.assert_allclose(ratios, ratios[0], rtol=1e-9)
        # The case attribute is the case as run: it reads back with the new settings.
        again = aerosol.simulate(write(os.path.join(self.folder.name, "restated.toml"),
                                       dataset.attrs["case"]))
        xr.testing.assert_equal(again, dataset)  # values, not attributes


class Refusals(unittest.TestCase):
    """A refused case raises ValueError with the message the command line prints."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()

    def cli_message(self, path):
        status, stderr = command_line("simulate", path, "-o",
                                      os.path.join(self.folder.name, "never.nc"))
        self.assertEqual(status, 1, stderr)
        line = stderr.strip()
        self.assertTrue(line.startswith("aerosol simulate: "), line)
        return line[len("aerosol simulate: "):]

    def test_bad_values_missing_keys_and_files(self):
        bad = dict(SMALL_CASE, grid={"nodes": 500})
        missing = {k: v for k, v in SMALL_CASE.items() if k != "end"}
        wrong_type = dict(SMALL_CASE, mechanisms=dict(SMALL_CASE["mechanisms"], growth="yes"))
        for name, case in (("bad", bad), ("missing", missing), ("type", wrong_type)):
            with self.subTest(name):
                path = write(os.path.join(self.folder.name, name + ".toml"),
                             aerosol.case_toml(case))
                expected = self.cli_message(path)
                with self.assertRaises(ValueError) as from_file:
                    aerosol.simulate(path)
                self.assertEqual(str(from_file.exception), expected)
                # A dict is read from the same text, named <dict>.
                with self.assertRaises(ValueError) as from_dict:
                    aerosol.simulate(case)
                self.assertEqual(str(from_dict.exception),
                                 expected.replace(path, aerosol.DICT_SOURCE, 1))
        nowhere = os.path.join(self.folder.name, "no such case.toml")
        with self.assertRaises(ValueError) as context:
            aerosol.simulate(nowhere)
        self.assertEqual(str(context.exception), self.cli_message(nowhere))

    def test_keyword_arguments_out_of_range(self):
        # Checked by the case reader with the case file's limits; the message names the keyword.
        for options in ({"output_times": 1}, {"output_times": 2.5}, {"spacing": "logarithmic"},
                        {"rtol": 1.0}, {"atol": 0.0}, {"atol": float("nan")},
                        {"max_steps": 0}, {"max_steps": 10**13}, {"rtol": True}):
            with self.subTest(**options), self.assertRaises(ValueError) as context:
                aerosol.simulate(SMALL_CASE, **options)
            self.assertTrue(str(context.exception).startswith(list(options)[0] + " = "),
                            str(context.exception))

    def test_inputs_that_are_no_case(self):
        deep = {}
        inner = deep
        for _ in range(5000):
            inner["table"] = {}
            inner = inner["table"]
        holds_itself = dict(SMALL_CASE)
        holds_itself["grid"] = holds_itself
        text = aerosol.case_toml(SMALL_CASE)
        # (case, what the one-line message must say)
        for name, case, says in (
                ("NUL in a path", "case\0.toml", "NUL"),
                ("path too long", "x" * 5000, "too long"),
                ("name too long", os.path.join(self.folder.name, "y" * 300), "too long"),
                ("TOML text as a path", text, "Case.from_toml"),
                ("nested too deep", deep, "nested more than"),
                ("a dict that holds itself", holds_itself, "nested more than"),
                ("a whole number as a fraction",
                 dict(SMALL_CASE, grid={"nodes": np.float64(20.5)}), "grid.nodes = 20.5")):
            with self.subTest(name), self.assertRaises(ValueError) as context:
                aerosol.simulate(case)
            message = str(context.exception)
            self.assertIn(says, message)
            self.assertLess(len(message), 300)  # never the whole input
            self.assertNotIn("\n", message)

    def test_values_a_case_file_cannot_hold(self):
        with self.assertRaises(TypeError):
            aerosol.simulate(dict(SMALL_CASE, grid={"nodes": None}))
        with self.assertRaises(TypeError):
            aerosol.simulate(42)


class Endings(unittest.TestCase):
    def test_integrator_failure_keeps_the_times_reached(self):
        with self.assertRaises(aerosol.SimulationError) as context:
            aerosol.simulate(SMALL_CASE, max_steps=20)
        error = context.exception
        self.assertIsInstance(error, RuntimeError)
        self.assertTrue(error.run_end.startswith("integrator failure at t ="), error.run_end)
        dataset = error.dataset
        self.assertEqual(dataset.attrs["run_end"], error.run_end)
        self.assertGreaterEqual(dataset.sizes["time"], 1)
        self.assertLess(dataset.sizes["time"], 21)
        self.assertLessEqual(int(dataset["steps"][-1]), 20)

    def test_ctrl_c_interrupts_the_run(self):
        # A run of several seconds in a child; SIGINT once it is under way.
        child = textwrap.dedent("""
            import time
            import aerosol
            case = %r
            case["grid"]["nodes"] = 400
            case["tolerances"] = {"relative": 1e-10, "absolute": 1e-6}
            print("running", flush=True)
            started = time.monotonic()
            try:
                aerosol.simulate(case)
                print("complete")
            except KeyboardInterrupt as interrupt:
                ds = interrupt.dataset
                print("interrupted", time.monotonic() - started, ds.attrs["run_end"],
                      ds.sizes["time"], float(ds["time"][-1]) if ds.sizes["time"] else -1)
        """) % (SMALL_CASE,)
        process = subprocess.Popen([sys.executable, "-c", child], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        self.assertEqual(process.stdout.readline().strip(), "running")
        time.sleep(1.5)
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
        waited = time.monotonic() - sent
        self.assertEqual(process.returncode, 0, stderr)
        words = stdout.split()
        self.assertEqual(words[0], "interrupted", stdout + stderr)
        self.assertIn("interrupted at t =", stdout)
        self.assertLess(waited, 10.0, "the run went on after Ctrl-C")
        reached, last_time = int(words[-2]), float(words[-1])
        self.assertGreaterEqual(reached, 1)
        self.assertLess(last_time, 0.2)  # the cooling reaches 300 K at 0.2 s


class Threads(unittest.TestCase):
    def test_runs_release_the_gil_and_share_nothing(self):
        case = dict(SMALL_CASE, grid={"nodes": 60})
        alone = aerosol.simulate(case)
        results = [None, None]
        beats = []
        done = threading.Event()

        def beat():  # a Python thread that must keep running during the runs
            while not done.is_set():
                beats.append(time.monotonic())
                time.sleep(0.001)

        def run(i):
            results[i] = aerosol.simulate(case)

        heart = threading.Thread(target=beat)
        heart.start()
        runs = [threading.Thread(target=run, args=(i,)) for i in range(2)]
        started = time.monotonic()
        for thread in runs:
            thread.start()
        for thread in runs:
            thread.join()
        took = time.monotonic() - started
        done.set()
        heart.join()
        for result in results:
            xr.testing.assert_identical(result, alone)
        during = [b for b in beats if started <= b <= started + took]
        gaps = np.diff([started] + during + [started + took])
        self.assertLess(gaps.max(), max(0.5 * took, 0.1),
                        "Python stood still for %.2f s of a %.2f s run" % (gaps.max(), took))


class Legacy(unittest.TestCase):
    def test_read_legacy(self):
        # Through aerosol.output, the parser of the companions.
        path = os.path.join(SOURCE_DIR, "tests", "golden", "cases", "p2-free-molecular-n26",
                            "expected.out")
        run = aerosol.read_legacy(path)
        self.assertEqual(run.process, 2)
        self.assertTrue(run.complete)
        times = run.column("t")
        self.assertGreater(len(times), 1)
        self.assertTrue(all(b > a for a, b in zip(times, times[1:])))
        self.assertEqual(list(run.table[0]), run.columns)


if __name__ == "__main__":
    unittest.main()
