#!/usr/bin/python3
"""The progress line on standard error: drawn only when standard error is a terminal, and
standard output byte for byte the same either way."""

import os
import pty
import select
import shutil
import subprocess
import tempfile
import time
import unittest

import runs


def run_with_terminal_stderr(folder, timeout=120):
    """Runs the program with standard error on a pseudo-terminal and standard output on a
    pipe; returns (status, stdout bytes, what the terminal received)."""
    master, slave = pty.openpty()
    try:
        process = subprocess.Popen([runs.BINARY], cwd=folder, stdout=subprocess.PIPE,
                                   stderr=slave, stdin=subprocess.DEVNULL)
    finally:
        os.close(slave)
    terminal = bytearray()
    out = bytearray()
    deadline = time.monotonic() + timeout
    streams = [process.stdout.fileno(), master]
    while streams and time.monotonic() < deadline:
        ready, _, _ = select.select(streams, [], [], 1.0)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:          # the terminal side reports EIO once the program ends
                chunk = b""
            if not chunk:
                streams.remove(fd)
            elif fd == master:
                terminal += chunk
            else:
                out += chunk
    process.wait(timeout=10)
    os.close(master)
    process.stdout.close()
    return process.returncode, bytes(out), bytes(terminal)


class ProgressLine(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="aerosol-tools-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def check_process(self, make_inputs, scales=(1, 4, 16, 64)):
        """The line is redrawn at most four times a second (and, in processes 2 to 4, looked
        at every 1024 passes), so the run must last well over a quarter second: the run is
        lengthened until it does, whatever the speed of the machine. Returns standard
        output, or None when no run could be made long enough."""
        for scale in scales:
            runs.make_run(self.folder, *make_inputs(scale))
            started = time.monotonic()
            status, out, terminal = run_with_terminal_stderr(self.folder)
            elapsed = time.monotonic() - started
            self.assertEqual(status, 0)
            if elapsed > 1.0:
                break
        # However short the run, standard output does not depend on where stderr goes.
        piped_status, piped_out, piped_err = runs.run_program(self.folder)
        self.assertEqual((piped_status, piped_err), (0, b""))
        self.assertEqual(piped_out, out)
        if elapsed <= 1.0:
            self.assertNotIn(b"\x1b", out)
            return None
        # Drawn on the terminal: carriage return, clear to the end of the line, the share
        # done; and cleared when the run ends.
        self.assertIn(b"\r\x1b[K", terminal)
        self.assertRegex(terminal, rb"\d+\.\d% ")
        self.assertIn(b"passes/s", terminal)
        self.assertTrue(terminal.endswith(b"\r\x1b[K"), terminal[-80:])
        self.assertNotIn(b"\x1b", out)
        self.assertNotIn(b"\r", out)
        # With standard error in a file: the same.
        with open(os.path.join(self.folder, "err.txt"), "wb") as err:
            file_status, file_out, _ = runs.run_program(self.folder, stderr=err)
        self.assertEqual((file_status, file_out), (0, out))
        self.assertEqual(os.path.getsize(os.path.join(self.folder, "err.txt")), 0)
        return out

    def test_seeded_growth(self):
        # 1e-8 s steps: (T0 - 300) / (Rc * 1e-8) passes, a block per 1000.
        out = self.check_process(lambda scale: (
            runs.main_inp(process=4, nodeCount=12, startTemperature=300.0 + 2.0 * scale,
                          coolingRate=1e3),
            None, runs.grow_inp(5, 1e12)))
        self.assertIsNotNone(out, "could not make a run last a second")
        self.assertIn(b"time=", out)

    def test_coagulation(self):
        # Process 1 makes some seven thousand passes whatever its inputs; more nodes and the
        # Fuchs form make each one slower, but a fast build may finish within a second.
        out = self.check_process(lambda scale: (
            runs.main_inp(process=1, nodeCount=scale, collisionFunction=2), runs.coag_inp(), None),
            scales=(26, 48))
        if out is None:
            self.skipTest("process 1 ran in under a second here: too short for the line")
        self.assertIn(b"***Size Distribution after reaching SPD****", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
