#!/usr/bin/python3
"""Runs one case of the bad-input catalogue (cases.txt) and checks what the program did.

Each case starts from the valid input files of a base folder (base/p1 .. base/p4, one per
process), changes one file, runs the program in a fresh temporary folder and checks the exit
status, the standard output (empty, the open-failure warning, or the run's tables) and that
standard error holds every expected piece of text.

Usage: run_case.py BINARY CASES_FILE CASE_NAME
       run_case.py --list CASES_FILE          (prints the case names)
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WARNING = b"Warning: Could not open file"


def unescape(text):
    """\\n, \\t, \\r, \\0, \\xNN and \\\\ in a table cell, as bytes."""
    out = bytearray()
    i = 0
    raw = text.encode()
    while i < len(raw):
        c = raw[i]
        if c == ord("\\") and i + 1 < len(raw):
            n = chr(raw[i + 1])
            if n == "x":
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0", "\\": b"\\"}[n]
            i += 2
            continue
        out.append(c)
        i += 1
    return bytes(out)


def read_cases(path):
    cases = {}
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            cells = [cell.strip() for cell in line.split(" | ")]
            if len(cells) != 7:
                sys.exit(f"{path}:{number}: expected 7 cells separated by ' | ', found {len(cells)}")
            name = cells[0]
            if name in cases:
                sys.exit(f"{path}:{number}: case {name} appears twice")
            cases[name] = cells
    return cases


def copy_base(base, folder):
    """The valid input files of base/BASE (one folder per process) into `folder`."""
    for entry in os.listdir(os.path.join(HERE, "base", base)):
        shutil.copy(os.path.join(HERE, "base", base, entry), folder)


def report(name, failures, stderr, passed):
    """Prints what failed (and standard error) or what passed; returns the exit status."""
    if failures:
        print(f"{name}: " + "\n  ".join(failures))
        print(f"standard error was:\n{stderr}")
        return 1
    print(f"{name}: {passed}; standard error: {stderr.strip()}")
    return 0


def apply_edit(folder, file_name, edit):
    path = os.path.join(folder, file_name)
    if edit == "none":
        return
    if edit == "delete":
        os.remove(path)
        return
    if edit == "directory":
        os.remove(path)
        os.mkdir(path)
        return
    if edit.startswith("= ") or edit == "=":
        with open(path, "wb") as f:
            f.write(unescape(edit[2:]))
        return
    if " => " in edit or edit.endswith(" =>"):
        find, _, replace = edit.partition(" =>")
        find, replace = unescape(find), unescape(replace[1:])
        with open(path, "rb") as f:
            text = f.read()
        if find not in text:
            sys.exit(f"case error: {find!r} does not stand in {file_name} of the base")
        with open(path, "wb") as f:
            f.write(text.replace(find, replace, 1))
        return
    sys.exit(f"case error: unknown edit {edit!r}")


def main():
    if sys.argv[1] == "--list":
        print("\n".join(read_cases(sys.argv[2])))
        return 0
    binary, cases_file, name = sys.argv[1:4]
    _, base, file_name, edit, status, stdout_kind, expected = read_cases(cases_file)[name]
    failures = []
    with tempfile.TemporaryDirectory(prefix="aerosol-input-") as folder:
        copy_base(base, folder)
        apply_edit(folder, file_name, edit)
        try:
            run = subprocess.run([binary], cwd=folder, stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            print(f"{name}: the program did not end within 120 s")
            return 1
    stderr = run.stderr.decode(errors="replace")
    if run.returncode != int(status):
        failures.append(f"exit status {run.returncode}, expected {status}")
    if stdout_kind == "empty" and run.stdout:
        failures.append(f"standard output not empty: {run.stdout[:200]!r}")
    elif stdout_kind == "warning" and run.stdout != WARNING:
        failures.append(f"standard output {run.stdout[:200]!r}, expected exactly {WARNING!r}")
    elif stdout_kind == "output" and not run.stdout:
        failures.append("standard output empty, expected the run's tables")
    elif stdout_kind not in ("empty", "warning", "output"):
        sys.exit(f"case error: unknown standard output kind {stdout_kind!r}")
    if expected == "-":
        if stderr:
            failures.append("standard error not empty")
    else:
        for piece in expected.split(" && "):
            if piece not in stderr:
                failures.append(f"standard error lacks {piece!r}")
        if stderr.count("aerosol:") != 1:
            failures.append("expected exactly one message on standard error")
    return report(name, failures, stderr, f"status {run.returncode}")


if __name__ == "__main__":
    sys.exit(main())
