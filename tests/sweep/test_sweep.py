#!/usr/bin/python3
"""Sweeps run for real through GNU parallel: statuses and merged figures, input files that read
back to the intended values, resume after a killed sweep, a refused run amid good ones, a run
that left the physical range (status 3), and sweep files that are refused before anything
runs."""

import json
import os
import signal
import subprocess
import tempfile
import time
import unittest

import sweep_support as S
import aerosol.inputs as aerosol_inputs
import aerosol.output as aerosol_output


def check_merged_table(test, folder, runs, vary_fields):
    """Every run ended with status 0 and its row of summary.csv carries the figures of its own
    standard output; the input files hold the intended values."""
    rows = S.read_csv(os.path.join(folder, "runs", "summary.csv"))
    test.assertEqual(len(rows), len(runs))
    for row, intended in zip(rows, runs):
        run_dir = os.path.join(folder, "runs", row["run"])
        with open(os.path.join(run_dir, "result.json")) as f:
            test.assertEqual(json.load(f)["status"], 0, row)
        test.assertEqual((row["state"], row["status"]), ("ok", "0"), row)
        test.assertGreater(float(row["wall_time"]), 0.0)
        # The input file, read by the template rules, holds the intended values; the program
        # read the same node count (its final table lists nodes 2..n).
        values = aerosol_inputs.read_input_file(os.path.join(run_dir, "main.inp"),
                                                aerosol_inputs.MAIN)
        for field in vary_fields:
            test.assertEqual(values[field], intended[field], field)
            test.assertEqual(type(values[field]), type(intended[field]))
            test.assertEqual(float(row[field]), intended[field])
        with open(os.path.join(run_dir, "stdout.txt")) as f:
            expected = S.figures_from_stdout(f.read())
        test.assertEqual(expected["final_rows"], values["nodeCount"] - 1)
        for name in ("final_total_number", "mean_diameter", "gsd", "peak_S", "peak_S_time",
                     "peak_Jk", "peak_Jk_time"):
            test.assertTrue(S.close(float(row[name]), expected[name]),
                            f"{row['run']} {name}: {row[name]} vs {expected[name]}")


class ParallelSweep(unittest.TestCase):
    def test_grid_runs_collects_and_plots(self):
        with tempfile.TemporaryDirectory() as d:
            sweep = S.make_sweep(d, "coolingRate = [2000, 3000.5]\nnodeCount = [8, 12]")
            r = S.tool("run", sweep, "--engine", "parallel", "--jobs", "2")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("4 ok", r.stdout)
            c = S.tool("collect", sweep)
            self.assertEqual(c.returncode, 0, c.stderr)
            runs = [{"coolingRate": cr, "nodeCount": n}
                    for cr in (2000.0, 3000.5) for n in (8, 12)]
            check_merged_table(self, d, runs, ["coolingRate", "nodeCount"])
            # Every run differs in its figures: the varied values reached the program.
            rows = S.read_csv(os.path.join(d, "runs", "summary.csv"))
            self.assertEqual(len({r["final_total_number"] for r in rows}), 4)

            p = S.tool("plot", sweep, "--x", "coolingRate", "--y", "mean_diameter")
            self.assertEqual(p.returncode, 0, p.stderr)
            with open(os.path.join(d, "runs", "mean_diameter-vs-coolingRate.png"), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
            bad = S.tool("plot", sweep, "--x", "pressure", "--y", "gsd")
            self.assertEqual(bad.returncode, 2)
            self.assertIn("not a varied field", bad.stderr)

            # Run again: everything finished, nothing runs, the results stay as they were.
            before = S.read_text(os.path.join(d, "runs", rows[0]["run"], "result.json"))
            again = S.tool("run", sweep)
            self.assertEqual(again.returncode, 0, again.stderr)
            self.assertIn("4 already finished, 0 to run", again.stdout)
            self.assertEqual(S.read_text(os.path.join(d, "runs", rows[0]["run"], "result.json")),
                             before)

    def test_zip_of_every_file_reads_back_exactly(self):
        # Values that only the shortest round-trip text keeps: the program must read back the
        # same doubles. Process 1 reads coag.inp, process 4 grow.inp.
        with tempfile.TemporaryDirectory() as d:
            main1 = S.base_main(process=1)
            aerosol_inputs.write_run_inputs(
                os.path.join(d, "base"), S.BASE_VALUES,
                coag={"initialDiameter": 1.0, "initialConcentration": 1e18, "temperature": 300.0})
            sweep = S.make_sweep(d, "initialDiameter = [0.1, 1.0000000000000002]\n"
                                    "pressure = [0.30000000000000004, 1e-05]\n"
                                    "nodeCount = [5, 6]",
                                 extra='combine = "zip"', main=main1)
            self.assertEqual(S.tool("run", sweep).returncode, 0)
            folders = sorted(x for x in os.listdir(os.path.join(d, "runs")) if x[0].isdigit())
            self.assertEqual(len(folders), 2)
            for folder, (dia, p, n) in zip(folders, [(0.1, 0.30000000000000004, 5),
                                                     (1.0000000000000002, 1e-05, 6)]):
                inp = aerosol_inputs.read_run_inputs(os.path.join(d, "runs", folder))
                self.assertEqual(inp.coag["initialDiameter"], dia)
                self.assertEqual(inp.main["pressure"], p)
                self.assertEqual(inp.main["nodeCount"], n)
                out = aerosol_output.parse_output(
                    S.read_text(os.path.join(d, "runs", folder, "stdout.txt")))
                self.assertEqual(len(out.final), n - 1)
                # The first node's volume is the seed volume of the diameter read.
                self.assertTrue(S.close(out.final[0][0], aerosol_inputs.seed_volume(dia), 1e-6))


class ResumeAfterKill(unittest.TestCase):
    def test_killed_sweep_is_finished_by_the_next_run(self):
        # Runs of a second or so each (the fine time step after 0.14 s), one at a time; the
        # sweep is killed while runs remain, then run again.
        main = S.base_main(coolingRate=1000.0)
        with tempfile.TemporaryDirectory() as d:
            sweep = S.make_sweep(d, "startTemperature = [452.0, 452.5, 453.0, 453.5]",
                                 main=main)
            proc = subprocess.Popen([S.TOOL, "run", sweep, "--jobs", "1"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            runs = os.path.join(d, "runs")
            deadline = time.monotonic() + 60
            done = []
            while time.monotonic() < deadline and not done:
                time.sleep(0.05)
                if os.path.isdir(runs):
                    done = [x for x in os.listdir(runs)
                            if os.path.exists(os.path.join(runs, x, "result.json"))]
            self.assertTrue(done, "no run finished within 60 s")
            os.killpg(proc.pid, signal.SIGTERM)
            proc.wait(timeout=30)
            finished = {x: S.read_text(os.path.join(runs, x, "result.json"))
                        for x in os.listdir(runs)
                        if os.path.exists(os.path.join(runs, x, "result.json"))}
            self.assertLess(len(finished), 4, "the sweep ended before it could be killed")
            for text in finished.values():
                self.assertEqual(json.loads(text)["status"], 0)

            c = S.tool("collect", sweep)
            self.assertEqual(c.returncode, 0)
            states = [r["state"] for r in S.read_csv(os.path.join(runs, "summary.csv"))]
            self.assertEqual(states.count("ok"), len(finished))
            self.assertEqual(states.count("unfinished"), 4 - len(finished))

            r = S.tool("run", sweep)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn(f"{len(finished)} already finished, {4 - len(finished)} to run",
                          r.stdout)
            for name, text in finished.items():   # finished runs were not done again
                self.assertEqual(S.read_text(os.path.join(runs, name, "result.json")), text)
            S.tool("collect", sweep)
            rows = S.read_csv(os.path.join(runs, "summary.csv"))
            self.assertEqual([r["state"] for r in rows], ["ok"] * 4)
            for row in rows:
                expected = S.figures_from_stdout(
                    S.read_text(os.path.join(runs, row["run"], "stdout.txt")))
                self.assertTrue(S.close(float(row["final_total_number"]),
                                        expected["final_total_number"]))


class RefusedRun(unittest.TestCase):
    def test_refused_run_amid_good_ones(self):
        with tempfile.TemporaryDirectory() as d:
            sweep = S.make_sweep(d, "nodeCount = [8, 2, 12]\ncoolingRate = [2000, -5, 3000]",
                                 extra='combine = "zip"')
            r = S.tool("run", sweep)
            self.assertEqual(r.returncode, 1, r.stdout + r.stderr)  # not every run succeeded
            self.assertIn("2 ok, 1 refused", r.stdout)
            S.tool("collect", sweep)
            rows = S.read_csv(os.path.join(d, "runs", "summary.csv"))
            self.assertEqual([r["state"] for r in rows], ["ok", "refused", "ok"])
            refused = rows[1]
            self.assertEqual(refused["status"], "1")
            stderr = S.read_text(os.path.join(d, "runs", refused["run"], "stderr.txt"))
            self.assertEqual(refused["message"], stderr.splitlines()[0])
            self.assertIn("nodeCount", refused["message"])
            self.assertEqual(refused["final_total_number"], "")
            # The refused run is tried again by the next run; the good ones are not.
            again = S.tool("run", sweep)
            self.assertIn("2 already finished, 1 to run", again.stdout)


class LeftRange(unittest.TestCase):
    def test_status_3_is_reported_and_run_again(self):
        # 1e24 particles of 1 nm per m3: the first coagulation step takes more from node 1 than
        # it holds, the step turns negative and the program stops the run with status 3.
        with tempfile.TemporaryDirectory() as d:
            aerosol_inputs.write_run_inputs(
                os.path.join(d, "base"), S.BASE_VALUES,
                coag={"initialDiameter": 1.0, "initialConcentration": 1e20, "temperature": 300.0})
            sweep = S.make_sweep(d, "initialConcentration = [1e20, 1e24]",
                                 main=S.base_main(process=1))
            r = S.tool("run", sweep)
            self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
            self.assertIn("1 left the physical range, 1 ok", r.stdout)
            c = S.tool("collect", sweep)
            self.assertEqual(c.returncode, 0, c.stderr)
            self.assertIn("left the physical range", c.stdout)
            ok, left = S.read_csv(os.path.join(d, "runs", "summary.csv"))
            self.assertEqual((ok["state"], ok["status"]), ("ok", "0"))
            self.assertEqual((left["state"], left["status"]), ("left the physical range", "3"))
            # The message is the program's reason for stopping, not the warning before it.
            stderr = S.read_text(os.path.join(d, "runs", left["run"], "stderr.txt")).splitlines()
            self.assertTrue(stderr[0].startswith("aerosol: warning:"), stderr)
            self.assertIn(left["message"], stderr[1:])
            self.assertTrue(left["message"].startswith("aerosol: "), left["message"])
            # What it printed before it stopped is no result.
            self.assertEqual([left[f] for f in ("final_total_number", "mean_diameter", "gsd")],
                             ["", "", ""])
            again = S.tool("run", sweep)
            self.assertIn("1 already finished, 1 to run", again.stdout)


class MalformedSweepFile(unittest.TestCase):
    CASES = [
        ("unknown field", 'base = "base"\n[vary]\ncoolingRat = [1.0]\n', "unknown field"),
        ("empty list", 'base = "base"\n[vary]\ncoolingRate = []\n', "empty"),
        ("no values", 'base = "base"\n', "[vary] is missing"),
        ("unknown key", 'base = "base"\nrunz = "x"\n[vary]\ncoolingRate = [1.0]\n',
         "unknown key"),
        ("runs outside", 'base = "base"\nruns = "../elsewhere"\n[vary]\ncoolingRate = [1.0]\n',
         "unsafe"),
        ("runs with blank", 'base = "base"\nruns = "my runs"\n[vary]\ncoolingRate = [1.0]\n',
         "unsafe"),
        ("runs is base", 'base = "base"\nruns = "base"\n[vary]\ncoolingRate = [1.0]\n',
         "folder of its own"),
        ("folder with slash", 'base = "base"\nfolder = "a/{coolingRate}"\n[vary]\n'
                              'coolingRate = [1.0]\n', "unsafe folder name"),
        ("folder shared", 'base = "base"\nfolder = "same"\n[vary]\ncoolingRate = [1.0, 2.0]\n',
         "share the folder"),
        ("zip lengths", 'base = "base"\ncombine = "zip"\n[vary]\ncoolingRate = [1.0, 2.0]\n'
                        'nodeCount = [8]\n', "one length"),
        ("fraction for int", 'base = "base"\n[vary]\nnodeCount = [8.5]\n', "whole numbers"),
        ("text value", 'base = "base"\n[vary]\npressure = ["1"]\n', "not a number"),
        ("file not read", 'base = "base"\n[vary]\nseedNode = [3]\n', "does not read"),
        ("not toml", 'base = "base"\n[vary\n', "not a valid TOML"),
        ("slurm injection", 'base = "base"\n[vary]\ncoolingRate = [1.0]\n[slurm]\n'
                            'time = "1:00\\n#SBATCH --uid=0"\n', "plain sbatch value"),
    ]

    def test_refused_before_anything_runs(self):
        with tempfile.TemporaryDirectory() as d:
            os.makedirs(os.path.join(d, "base"))
            with open(os.path.join(d, "base", "main.inp"), "w") as f:
                f.write(S.BASE_MAIN)
            for name, text, message in self.CASES:
                with self.subTest(name):
                    path = os.path.join(d, "s.toml")
                    with open(path, "w") as f:
                        f.write(text)
                    r = S.tool("run", path)
                    self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                    self.assertIn(message, r.stderr)
                    self.assertEqual(r.stdout, "")
                    self.assertFalse(os.path.exists(os.path.join(d, "s-runs")))
                    self.assertFalse(os.path.exists(os.path.join(d, "runs")))

    def test_base_folder_problems(self):
        with tempfile.TemporaryDirectory() as d:
            path = S.make_sweep(d, "coolingRate = [1.0]")
            with open(os.path.join(d, "base", "main.inp"), "w") as f:
                f.write(S.BASE_MAIN.replace("Pressure(Atm):", "pressure(Atm):"))
            r = S.tool("run", path)
            self.assertEqual(r.returncode, 2)
            self.assertIn("main.inp", r.stderr)
            os.remove(os.path.join(d, "base", "main.inp"))
            r = S.tool("run", path)
            self.assertEqual(r.returncode, 2)
            self.assertIn("no main.inp", r.stderr)

    def test_foreign_folder_is_not_overwritten(self):
        with tempfile.TemporaryDirectory() as d:
            path = S.make_sweep(d, "coolingRate = [2000.0]", extra='folder = "keep"')
            os.makedirs(os.path.join(d, "runs", "keep"))
            with open(os.path.join(d, "runs", "keep", "main.inp"), "w") as f:
                f.write("mine")
            r = S.tool("run", path)
            self.assertEqual(r.returncode, 2)
            self.assertIn("holds files of another kind", r.stderr)
            self.assertEqual(S.read_text(os.path.join(d, "runs", "keep", "main.inp")), "mine")


class SlurmScript(unittest.TestCase):
    def test_dry_run_writes_the_array_script(self):
        with tempfile.TemporaryDirectory() as d:
            path = S.make_sweep(d, "coolingRate = [2000.0, 3000.0, 4000.0]",
                                extra='[slurm]\ntime = "00:02:00"\nmax-running = 2\n'
                                      'extra = ["--exclusive"]')
            r = S.tool("run", path, "--engine", "slurm", "--dry-run")
            self.assertEqual(r.returncode, 0, r.stderr)
            script = S.read_text(os.path.join(d, "runs", "slurm-job.sh"))
            self.assertIn("#SBATCH --array=0-2%2\n", script)
            self.assertIn("#SBATCH --time=00:02:00\n", script)
            self.assertIn("#SBATCH --exclusive\n", script)
            listed = S.read_text(os.path.join(d, "runs", "slurm-runs.txt")).split("\n")[:-1]
            self.assertEqual(len(listed), 3)
            for folder in listed:
                self.assertTrue(os.path.exists(os.path.join(folder, "main.inp")))
                self.assertFalse(os.path.exists(os.path.join(folder, "result.json")))


if __name__ == "__main__":
    unittest.main()
