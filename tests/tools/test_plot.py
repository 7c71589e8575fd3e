#!/usr/bin/python3
"""The plot command end to end on real outputs: figures and CSV files are written."""

import csv
import os
import shutil
import subprocess
import unittest

import runs


def plot(*args):
    return subprocess.run([runs.PLOT, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=120)


class PlotCommand(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.runs = {
            1: runs.run_in_temp(runs.main_inp(process=1, nodeCount=12), runs.coag_inp()),
            2: runs.run_in_temp(runs.main_inp(process=2)),
            3: runs.run_in_temp(runs.main_inp(process=3, nodeCount=3, startTemperature=316.5,
                                              coolingRate=100.0)),
            4: runs.run_in_temp(runs.main_inp(process=4, nodeCount=8, coolingRate=1e6),
                                grow=runs.grow_inp(5, 1e12)),
        }

    @classmethod
    def tearDownClass(cls):
        for folder, _ in cls.runs.values():
            shutil.rmtree(folder, ignore_errors=True)

    def assertFigure(self, path, signature):
        self.assertTrue(os.path.isfile(path), path)
        with open(path, "rb") as f:
            head = f.read(64)
        self.assertTrue(head.startswith(signature), (path, head[:16]))
        self.assertGreater(os.path.getsize(path), 5000)

    def test_every_process_gives_a_figure(self):
        for process, (folder, _) in self.runs.items():
            with self.subTest(process=process):
                prefix = os.path.join(folder, "figure")
                done = plot(os.path.join(folder, "out.txt"), "-o", prefix)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout.strip(), prefix + ".png")
                self.assertFigure(prefix + ".png", b"\x89PNG\r\n\x1a\n")

    def test_svg_pdf_and_csv(self):
        folder, text = self.runs[2]
        out = os.path.join(folder, "out.txt")
        csv_dir = os.path.join(folder, "csv")
        done = plot(out, folder, "-o", os.path.join(folder, "p2"), "--format", "svg", "pdf",
                    "--csv", csv_dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertFigure(os.path.join(folder, "p2.pdf"), b"%PDF")
        with open(os.path.join(folder, "p2.svg")) as f:
            self.assertIn("<svg", f.read(2000))
        with open(os.path.join(csv_dir, "out-table.csv")) as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["t [s]", "N1 [#/m3]", "Jk [#/(m3 s)]", "S [1]", "Dp_mean [m]",
                                   "kstar [monomers]", "Vtot [m3/m3]", "Ntot [#/m3]"])
        printed = [line.split("\t") for line in text.split("\n") if line.count("\t") == 7
                   and not line.startswith("time")]
        self.assertEqual(len(rows) - 1, len(printed))
        self.assertEqual([float(x) for x in rows[1]], [float(x) for x in printed[0]])
        with open(os.path.join(csv_dir, "out-final.csv")) as f:
            final = list(csv.reader(f))
        self.assertEqual(final[0], ["node", "volume [m3]", "diameter [m]", "N [#/m3]"])
        self.assertEqual(final[1][0], "2")
        self.assertEqual(len(final) - 1, runs.MAIN["nodeCount"] - 1)

    def test_blocks_csv_has_diameters(self):
        folder, text = self.runs[4]
        csv_dir = os.path.join(folder, "csv")
        done = plot(os.path.join(folder, "out.txt"), "--no-plot", "--csv", csv_dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(csv_dir, "out-blocks.csv")) as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["t [s]", "node", "diameter [m]", "N [#/m3]"])
        self.assertEqual(len(rows) - 1, text.count("time=") * 6)   # blocks x nodes 1..n-2
        self.assertGreater(float(rows[2][2]), float(rows[1][2]))

    def test_refusals(self):
        folder, _ = self.runs[4]
        lonely = os.path.join(folder, "lonely")
        os.makedirs(lonely, exist_ok=True)
        shutil.copy(os.path.join(folder, "out.txt"), lonely)
        # Process 4 prints no node sizes: without main.inp there is nothing to plot against.
        done = plot(os.path.join(lonely, "out.txt"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("main.inp", done.stderr)
        # Inputs of another process than the output's.
        done = plot(os.path.join(lonely, "out.txt"), self.runs[2][0])
        self.assertEqual(done.returncode, 1)
        self.assertIn("process 2", done.stderr)
        # Not an output of the program.
        with open(os.path.join(lonely, "notes.txt"), "w") as f:
            f.write("some notes\n")
        done = plot(os.path.join(lonely, "notes.txt"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("not an output", done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
