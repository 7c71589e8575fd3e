#!/usr/bin/python3
"""The progress line on standard error: drawn only when standard error is a terminal, and
standard output byte for byte the same either way."""

import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import runs


def run_with_terminal_stderr(folder, timeout=120):
    """Runs the program with standard error on a pseudo-terminal and standard output on a
    pipe; returns (status, stdout bytes, what the terminal received). The line is redrawn at
    most four times a second, so the program is paused (SIGSTOP) for 0.3 s after every 20 ms
    it runs: its next pass finds the line due, however fast the machine."""
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
    running_since = time.monotonic()
    while streams and time.monotonic() < deadline:
        if process.poll() is None and time.monotonic() - running_since > 0.02:
            process.send_signal(signal.SIGSTOP)
            time.sleep(0.3)
            process.send_signal(signal.SIGCONT)
            running_since = time.monotonic()
        ready, _, _ = select.select(streams, [], [], 0.01)
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

    def check_process(self, main, coag=None, grow=None):
        """The line on a terminal, and standard output the same wherever standard error goes;
        returns standard output."""
        runs.make_run(self.folder, main, coag, grow)
        status, out, terminal = run_with_terminal_stderr(self.folder)
        self.assertEqual(status, 0)
        piped_status, piped_out, piped_err = runs.run_program(self.folder)
        self.assertEqual((piped_status, piped_err), (0, b""))
        self.assertEqual(piped_out, out)
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
        out = self.check_process(runs.main_inp(process=4, nodeCount=12, startTemperature=302.0,
                                               coolingRate=1e3), grow=runs.grow_inp(5, 1e12))
        self.assertIn(b"time=", out)

    def test_coagulation(self):
        out = self.check_process(runs.main_inp(process=1, nodeCount=26, collisionFunction=2),
                                 coag=runs.coag_inp())
        self.assertIn(b"***Size Distribution after reaching SPD****", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
