#!/usr/bin/python3
"""The output parser and the input files' reader on real outputs of the built program."""

import math
import os
import shutil
import tempfile
import unittest

import runs
import aerosol.inputs as ai
import aerosol.output as ao


def printed_lines(text, fields):
    """Lines of the raw output with exactly `fields` tab-separated values: an independent
    count of the rows that the parser must read."""
    return [line for line in text.split("\n") if line and len(line.split("\t")) == fields
            and not line.startswith(("t\t", "time\t", "Time\t", "volume\t"))]


class RealOutputs(unittest.TestCase):
    """One small run of each process, shared by the tests of this class."""

    @classmethod
    def setUpClass(cls):
        cls.folders = []

        def run(main, coag=None, grow=None):
            folder, text = runs.run_in_temp(main, coag, grow)
            cls.folders.append(folder)
            return folder, text

        cls.p1 = run(runs.main_inp(process=1, nodeCount=12), runs.coag_inp(1.0, 1e20, 300.0))
        cls.p2 = run(runs.main_inp(process=2))
        cls.p2_nan = run(runs.main_inp(process=2, startTemperature=305.0, coolingRate=100.0))
        cls.p2_cold = run(runs.main_inp(process=2, startTemperature=300.0))
        cls.p3 = run(runs.main_inp(process=3, nodeCount=8, startTemperature=1500.0,
                                   coolingRate=9000.0))
        # n = 3 keeps passes cheap; 316.5 K at 100 K/s gives about 500,000 passes, enough
        # for one listing of all nodes.
        cls.p3_listing = run(runs.main_inp(process=3, nodeCount=3, startTemperature=316.5,
                                           coolingRate=100.0))
        cls.p3_cold = run(runs.main_inp(process=3, startTemperature=299.0))
        cls.p4 = run(runs.main_inp(process=4, nodeCount=8, startTemperature=1500.0,
                                   coolingRate=1e6),
                     grow=runs.grow_inp(5, 1e12))
        cls.p4_short = run(runs.main_inp(process=4, nodeCount=8, startTemperature=300.5,
                                         coolingRate=1e6),
                           grow=runs.grow_inp(5, 1e12))

    @classmethod
    def tearDownClass(cls):
        for folder in cls.folders:
            shutil.rmtree(folder, ignore_errors=True)

    def test_process_1(self):
        folder, text = self.p1
        run = ao.parse_output(text)
        self.assertEqual(run.process, 1)
        self.assertTrue(run.complete)
        self.assertEqual(len(run.table), len(printed_lines(text, 6)))
        self.assertGreater(len(run.table), 100)
        self.assertEqual(run.table[0]["t"], 0.0)
        self.assertLess(run.table[-1]["t"], 0.01)
        times = run.column("t")
        self.assertTrue(all(a < b for a, b in zip(times, times[1:])))
        inputs = ai.read_run_inputs(folder)
        grid = ai.node_grid(inputs)
        # The sixth column, headed "N[15]", is the total particle volume: N0 * v1 throughout.
        v0 = 1e20 * grid.volume[1]
        for row in run.table:
            self.assertAlmostEqual(row["Vtot"] / v0, 1.0, delta=1e-5)
        # Coagulation only removes particles.
        ninf = run.column("Ninf")
        self.assertTrue(all(b <= a for a, b in zip(ninf, ninf[1:])))
        self.assertLess(ninf[-1], 0.1 * ninf[0])
        self.assertGreater(run.spd_estimate, 0.0)
        # Final table: nodes 1..n-1 at the grid's volumes.
        self.assertEqual(len(run.final), inputs.node_count - 1)
        for k, (volume, _) in enumerate(run.final, start=1):
            self.assertAlmostEqual(volume / grid.volume[k], 1.0, delta=1e-6)
        stats = ao.summary(run, grid)
        self.assertAlmostEqual(stats["total_number"], sum(n for _, n in run.final),
                               delta=1e-9 * stats["total_number"])
        self.assertGreater(stats["mean_diameter"], grid.diameter[1])
        self.assertGreater(stats["gsd"], 1.0)

    def test_process_2(self):
        folder, text = self.p2
        run = ao.parse_output(text)
        self.assertEqual(run.process, 2)
        self.assertTrue(run.complete)
        rows = printed_lines(text, 8)
        self.assertEqual(len(run.table), len(rows))
        self.assertEqual(len(run.table), 4)   # 240 steps of 0.0005 s, a row every 50
        self.assertEqual([r["t"] for r in run.table], [0.0245, 0.0495, 0.0745, 0.0995])
        # Eight values under seven headings: the seventh is the total volume including the
        # monomers, the eighth the particle number.
        inputs = ai.read_run_inputs(folder)
        grid = ai.node_grid(inputs)
        for row in run.table:
            self.assertGreaterEqual(row["Vtot"], row["N1"] * grid.volume[1] * (1 - 1e-6))
            self.assertGreater(row["Ntot"], 100.0)
            self.assertTrue(math.isfinite(row["Dp_mean"]))
        self.assertEqual(len(run.final), inputs.node_count - 1)
        for k, (volume, _) in enumerate(run.final, start=2):
            self.assertAlmostEqual(volume / grid.volume[k], 1.0, delta=1e-6)
        stats = ao.summary(run)
        s_values = run.column("S")
        self.assertEqual(stats["peak_S"], max(s_values))
        self.assertEqual(stats["peak_S_time"], run.table[s_values.index(max(s_values))]["t"])
        self.assertEqual(stats["peak_Jk"], max(run.column("Jk")))
        self.assertGreater(stats["total_number"], 0.0)

    def test_not_a_number_mean_diameter(self):
        for name, (_, text), process, width in (("process 2", self.p2_nan, 2, 8),
                                                ("process 3", self.p3_listing, 3, 7)):
            with self.subTest(name):
                self.assertIn("\tnan\t", text)
                run = ao.parse_output(text)
                self.assertEqual(run.process, process)
                self.assertEqual(len(run.table), len(printed_lines(text, width)))
                self.assertGreater(len(run.table), 0)
                for row in run.table:
                    self.assertTrue(math.isnan(row["Dp_mean"]))
                    self.assertEqual(row["Ntot"], 0.0)
                    self.assertTrue(math.isfinite(row["S"]))
                stats = ao.summary(run)
                self.assertTrue(math.isfinite(stats["peak_S"]))

    def test_runs_that_printed_no_rows(self):
        run = ao.parse_output(self.p2_cold[1])
        self.assertEqual((run.process, run.table, run.complete), (2, [], True))
        self.assertEqual(len(run.final), runs.MAIN["nodeCount"] - 1)
        self.assertTrue(all(n == 0.0 for _, n in run.final))
        stats = ao.summary(run)
        self.assertEqual(stats["total_number"], 0.0)
        self.assertTrue(math.isnan(stats["mean_diameter"]))

        run = ao.parse_output(self.p3_cold[1])
        self.assertEqual((run.process, run.table, run.listings), (3, [], []))

        self.assertEqual(self.p4_short[1], "")
        run = ao.parse_output(self.p4_short[1], process=4)
        self.assertEqual((run.process, run.blocks), (4, []))
        with self.assertRaises(ao.OutputError):
            ao.parse_output(self.p4_short[1])

    def test_process_3(self):
        folder, text = self.p3
        run = ao.parse_output(text)
        self.assertEqual(run.process, 3)
        self.assertEqual(len(run.table), len(printed_lines(text, 7)))
        self.assertGreater(len(run.table), 10)
        self.assertEqual(run.listings, [])
        grid = ai.node_grid(ai.read_run_inputs(folder))
        # "Particle Volume" includes the monomers.
        for row in run.table:
            self.assertGreaterEqual(row["Vtot"], row["N1"] * grid.volume[1] * (1 - 1e-6))
        self.assertGreater(max(run.column("Ntot")), 100.0)
        self.assertTrue(any(math.isfinite(d) for d in run.column("Dp_mean")))

    def test_process_3_listing(self):
        folder, text = self.p3_listing
        run = ao.parse_output(text)
        inputs = ai.read_run_inputs(folder)
        n = inputs.node_count
        self.assertEqual(len(run.listings), text.count("\nN1\t"))
        self.assertEqual(len(run.listings), 1)
        listing = run.listings[0]
        self.assertEqual(len(listing), n + 1)        # nodes 1..n+1
        self.assertEqual(listing[-1], 0.0)           # the guard node
        # Node 1 is the vapour: the same monomer concentration as the rows around it.
        self.assertEqual(listing[0], run.table[run.listing_rows[0] - 1]["N1"])
        # A row every 399 passes of 1e-4 s while there are no particles.
        self.assertAlmostEqual(run.table[0]["t"], 398e-4, delta=1e-12)
        self.assertAlmostEqual(run.table[1]["t"] - run.table[0]["t"], 399e-4, delta=1e-9)
        # The listing comes after row 1002 of the 399,999th pass.
        self.assertEqual(run.listing_rows, [1002])
        self.assertEqual(len(run.table), len(printed_lines(text, 7)))
        self.assertEqual(ao.final_distribution(run, ai.node_grid(inputs))[1], listing[1:-1])

    def test_process_4(self):
        folder, text = self.p4
        run = ao.parse_output(text)
        inputs = ai.read_run_inputs(folder)
        n = inputs.node_count
        self.assertEqual(run.process, 4)
        self.assertEqual(len(run.blocks), text.count("time="))
        # (1500 - 300) K at 1e6 K/s in steps of 1e-8 s: 120,000 steps, a block per 1000.
        self.assertIn(len(run.blocks), (119, 120))
        self.assertEqual(run.blocks[0][0], 1e-5)
        main = inputs.main
        ns = (math.exp(main["vaporPressureC"] - main["vaporPressureD"] / main["startTemperature"])
              * main["pressure"] * 101325 / (1.38e-23 * main["startTemperature"]))
        for t, numbers in run.blocks:
            self.assertEqual(len(numbers), n - 2)
            self.assertAlmostEqual(numbers[0] / (1.001 * ns), 1.0, delta=1e-6)
        # The seed leaves node 5: particles appear in other nodes.
        last = run.blocks[-1][1]
        self.assertTrue(any(last[k - 1] > 0.0 for k in range(2, n - 1) if k != 5))
        grid = ai.node_grid(inputs)
        diameters, numbers = ao.final_distribution(run, grid)
        self.assertEqual(numbers, last[1:])
        self.assertEqual(diameters, grid.diameter[2:n - 1])


class DamagedOutputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder, cls.text = runs.run_in_temp(runs.main_inp(process=2))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_cut_off_output(self):
        whole = ao.parse_output(self.text)
        # Cut inside the last progress row: that row is dropped, not misread.
        cut = self.text.index("\n\nFinal") - 5
        run = ao.parse_output(self.text[:cut])
        self.assertFalse(run.complete)
        self.assertEqual(run.table, whole.table[:-1])
        self.assertEqual(run.final, [])
        # Cut at a line end: every row is whole, the final table is missing.
        run = ao.parse_output(self.text[:self.text.index("\n\nFinal")])
        self.assertFalse(run.complete)
        self.assertEqual(run.table, whole.table)

    def test_text_before_the_output_is_skipped(self):
        # As when a build log lands in the same file as the run's output.
        log = "-- Configuring done\n[100%] Built target aerosol"
        run = ao.parse_output(log + self.text)
        self.assertEqual(run.skipped_lines, 2)
        self.assertEqual(run.table, ao.parse_output(self.text).table)
        self.assertTrue(run.complete)

    def test_garbage_inside_is_refused(self):
        lines = self.text.split("\n")
        lines.insert(3, "1.0\t2.0")
        with self.assertRaises(ao.OutputError):
            ao.parse_output("\n".join(lines))
        with self.assertRaises(ao.OutputError):
            ao.parse_output("hello\nworld")

    def test_open_failure_output(self):
        empty = tempfile.mkdtemp(prefix="aerosol-tools-")
        try:
            status, out, _ = runs.run_program(empty)
        finally:
            shutil.rmtree(empty)
        self.assertEqual(status, 255)
        with self.assertRaisesRegex(ao.OutputError, "could not open"):
            ao.parse_output(out.decode())


class Inputs(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="aerosol-tools-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_one_line_and_one_label_a_line_read_the_same(self):
        text = runs.main_inp(process=4, nodeCount=14)
        runs.make_run(self.folder, text, grow=runs.grow_inp(7, 2.5e11))
        by_lines = ai.read_run_inputs(self.folder)
        runs.make_run(self.folder, " ".join(text.split()) + "\n")
        one_line = ai.read_run_inputs(self.folder)
        self.assertEqual(by_lines, one_line)
        self.assertEqual(by_lines.main["nodeCount"], 14)
        self.assertEqual(by_lines.main["sutherlandB"], 110.4)
        self.assertEqual(by_lines.grow, {"seedNode": 7, "seedConcentration": 2.5e11})
        # The program reads the same files: it runs, and its blocks have n - 2 nodes.
        runs.make_run(self.folder, runs.main_inp(process=4, nodeCount=14, coolingRate=1e6))
        status, out, _ = runs.run_program(self.folder)
        self.assertEqual(status, 0)
        self.assertEqual(len(ao.parse_output(out.decode()).blocks[0][1]), 12)

    def test_refused_where_the_program_refuses(self):
        # Labels must match exactly; %d takes only what fits an int.
        good = runs.main_inp(process=2)
        for bad, label in ((good.replace("Cooling Rate", "cooling Rate"), "coolingRate"),
                           (" " + good, "nodeCount"),
                           (good.replace("D=30000.0", "D=x"), "vaporPressureD"),
                           (good.replace("growth:2", "growth:4294967298"), "process")):
            with self.subTest(label=label):
                runs.make_run(self.folder, bad)
                with self.assertRaisesRegex(ai.InputError, label):
                    ai.read_run_inputs(self.folder)
                # The program refuses the same file.
                status, out, _ = runs.run_program(self.folder)
                self.assertEqual((status, out), (1, b""))

    def test_missing_mode_file(self):
        runs.make_run(self.folder, runs.main_inp(process=1))
        with self.assertRaises(OSError):
            ai.read_run_inputs(self.folder)

    def test_node_grid(self):
        grid = ai.node_grid(node_count=14, first_volume=1e-27)
        self.assertAlmostEqual(grid.spacing_factor, 10.0, delta=1e-12)
        self.assertEqual(len(grid.volume), 16)              # index 0, nodes 1..n+1
        self.assertAlmostEqual(grid.volume[13] / 1e-27, 1e12, delta=1e12 * 1e-12)
        # The program's decimals for pi and one third: within a few parts per million.
        self.assertAlmostEqual(grid.diameter[1] / (6e-27 / math.pi) ** (1 / 3), 1.0, delta=1e-5)
        grid3 = ai.node_grid(node_count=3, first_volume=2.0)
        self.assertAlmostEqual(grid3.volume[2], 2e12, delta=1.0)
        with self.assertRaises(ValueError):
            ai.node_grid(node_count=2, first_volume=1.0)
        # Process 1 starts from the seed diameter (nm), the others from the monomer.
        runs.make_run(self.folder, runs.main_inp(process=1), coag=runs.coag_inp(2.0))
        seed = ai.node_grid(ai.read_run_inputs(self.folder))
        self.assertAlmostEqual(seed.diameter[1] / 2e-9, 1.0, delta=1e-5)
        runs.make_run(self.folder, runs.main_inp(process=2, molecularWeight=0.1, density=2000.0))
        monomer = ai.node_grid(ai.read_run_inputs(self.folder))
        self.assertAlmostEqual(monomer.volume[1], 0.1 / (2000.0 * 6.0225e23), delta=1e-40)


if __name__ == "__main__":
    unittest.main(verbosity=2)
