#!/usr/bin/python3
"""Checks of what the program does with its standard output, on the catalogue's valid inputs.

  dev-full-pN           standard output is /dev/full: status 2 and a message, for process N
  dev-full-open-warning even the open-failure warning cannot be written: status 2
  closed-pipe-pN        standard output is a pipe whose reader has gone: status 2, no signal
  head-c-10             `aerosol | head -c 10`: head gets its 10 bytes, the program ends at
                        once with status 2 instead of running on or dying of SIGPIPE
  range-watch-p1        a concentration that drives node 1 negative in its first step: one
                        warning, then the step turns negative and the run stops with status 3
                        and its reason; standard output keeps its layout, final table included
  range-watch-p3        a run that leaves the physical range late and breaks down (not a
                        number): standard output equal to the golden regression's expectation,
                        the warning, then status 3 and its reason

Usage: output_checks.py BINARY CHECK
"""
import os
import shutil
import subprocess
import sys
import tempfile

from run_case import apply_edit, copy_base, report

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TIMEOUT = 120


def work_folder(base, edits=None):
    """A fresh folder with the base files, each edit ("find => replace") made in its file."""
    folder = tempfile.mkdtemp(prefix="aerosol-output-")
    copy_base(base, folder)
    for name, edit in (edits or {}).items():
        apply_edit(folder, name, edit)
    return folder


def check(condition, what, failures):
    if not condition:
        failures.append(what)


def write_failure(binary, base, failures, edits=None, delete=None):
    folder = work_folder(base, edits)
    try:
        if delete:
            os.remove(os.path.join(folder, delete))
        with open("/dev/full", "wb") as full:
            run = subprocess.run([binary], cwd=folder, stdin=subprocess.DEVNULL, stdout=full,
                                 stderr=subprocess.PIPE, timeout=TIMEOUT)
    finally:
        shutil.rmtree(folder)
    err = run.stderr.decode(errors="replace")
    check(run.returncode == 2, f"exit status {run.returncode}, expected 2", failures)
    check("could not write the results to standard output" in err,
          "no write-failure message on standard error", failures)
    check("No space left on device" in err, "the reason (no space) is not named", failures)
    check(err.count("could not write") == 1, "the write failure is reported more than once",
          failures)
    return err


def closed_pipe(binary, base, failures):
    folder = work_folder(base)
    read_end, write_end = os.pipe()
    os.close(read_end)  # nobody will ever read: every write fails with EPIPE
    try:
        run = subprocess.run([binary], cwd=folder, stdin=subprocess.DEVNULL, stdout=write_end,
                             stderr=subprocess.PIPE, timeout=TIMEOUT)
    finally:
        os.close(write_end)
        shutil.rmtree(folder)
    err = run.stderr.decode(errors="replace")
    check(run.returncode == 2, f"exit status {run.returncode}, expected 2 (negative: a signal)",
          failures)
    check("could not write the results to standard output: Broken pipe" in err,
          "no broken-pipe message on standard error", failures)
    return err


def head_c_10(binary, failures):
    # Process 1 prints about half a megabyte, far more than a pipe holds, so the program
    # is still writing when head has gone.
    folder = work_folder("p1")
    try:
        program = subprocess.Popen([binary], cwd=folder, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        head = subprocess.run(["head", "-c", "10"], stdin=program.stdout,
                              capture_output=True, timeout=TIMEOUT)
        program.stdout.close()
        try:
            _, err = program.communicate(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            program.kill()
            failures.append("the program went on running after head had gone")
            return ""
    finally:
        shutil.rmtree(folder)
    err = err.decode(errors="replace")
    check(head.stdout == b"\n\nEstimate", f"head got {head.stdout!r}", failures)
    check(program.returncode == 2, f"exit status {program.returncode}, expected 2", failures)
    check("Broken pipe" in err, "no broken-pipe message on standard error", failures)
    return err


def run_in(folder, binary):
    run = subprocess.run([binary], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                         timeout=TIMEOUT)
    shutil.rmtree(folder)
    return run


def range_watch_p1(binary, failures):
    # 1e24 particles of 1 nm per m3: the first 1e-8 s step removes far more than node 1 holds.
    run = run_in(work_folder("p1", {"coag.inp": "1e20 => 1e24"}), binary)
    err = run.stderr.decode(errors="replace")
    out = run.stdout.decode()
    check(run.returncode == 3, f"exit status {run.returncode}, expected 3", failures)
    check(err.count("left the physical range") == 1, "expected exactly one range warning",
          failures)
    check("the concentration of node 1 became -" in err, "the warning names node 1 and a "
          "negative value", failures)
    stopped(err, "time step", failures)
    # Standard output keeps its fixed layout: the estimate, the header, the rows (six numbers
    # each), the final heading and one row per node 1..n-1 (n = 26).
    lines = out.split("\n")
    check(lines[:3] == ["", "", lines[2]] and lines[2].startswith(
        "Estimated time required to reach SPD="), "estimate line", failures)
    check("\nt\t\tNinf\t\tN[1]\t\tN[5]\t\tN[10]\t\tN[15]\n" in out, "table header", failures)
    final = out.split("\n\n***Size Distribution after reaching SPD****\n\nvolume\t\tnumber\n")
    check(len(final) == 2, "final heading", failures)
    if len(final) == 2:
        rows = final[1].split("\n")
        check(len(rows) == 25 and all(len(r.split("\t")) == 2 for r in rows),
              "final table of 25 rows", failures)
        for row in rows + final[0].split("N[15]\n")[1].split("\n"):
            for cell in row.split("\t"):
                try:
                    float(cell)
                except ValueError:
                    failures.append(f"not a number on standard output: {cell!r}")
                    return err
    check("aerosol" not in out and "warning" not in out, "a message on standard output",
          failures)
    return err


def stopped(err, reason, failures):
    """Standard error holds the warning and then one message that says why the run stopped."""
    messages = [line for line in err.splitlines() if line.startswith("aerosol: ")]
    check(len(messages) == 2 and messages[0].startswith("aerosol: warning:"),
          f"expected the warning and then one message, found {messages!r}", failures)
    check(len(messages) == 2 and reason in messages[1] and "status 3" in messages[1],
          f"the last message does not name the {reason!r} and status 3", failures)


def range_watch_p3(binary, failures):
    case = os.path.join(ROOT, "tests", "golden", "cases", "p3-free-molecular-n48-blowup")
    folder = tempfile.mkdtemp(prefix="aerosol-output-")
    shutil.copy(os.path.join(case, "main.inp"), folder)
    run = run_in(folder, binary)
    with open(os.path.join(case, "expected.out"), "rb") as f:
        expected = f.read()
    err = run.stderr.decode(errors="replace")
    check(run.returncode == 3, f"exit status {run.returncode}, expected 3", failures)
    check(run.stdout == expected, "standard output differs from the golden expectation",
          failures)
    check(err.count("left the physical range") == 1, "expected exactly one range warning",
          failures)
    stopped(err, "not a finite number", failures)
    return err


def main():
    binary, name = sys.argv[1:3]
    failures = []
    err = ""
    if name.startswith("dev-full-p"):
        err = write_failure(binary, name[-2:], failures)
    elif name == "dev-full-open-warning":
        err = write_failure(binary, "p1", failures, delete="coag.inp")
        check("coag.inp: No such file or directory" in err, "the open failure is not named",
              failures)
    elif name.startswith("closed-pipe-p"):
        err = closed_pipe(binary, name[-2:], failures)
    elif name == "head-c-10":
        err = head_c_10(binary, failures)
    elif name == "range-watch-p1":
        err = range_watch_p1(binary, failures)
    elif name == "range-watch-p3":
        err = range_watch_p3(binary, failures)
    else:
        sys.exit(f"unknown check {name}")
    return report(name, failures, err, "passed")


if __name__ == "__main__":
    sys.exit(main())
