"""Laying out the run folders and running the program in them, through GNU parallel or a
Slurm job array. Every run, whatever runs it, goes through run_one(): it starts the program in
the run folder with standard output and standard error kept in files there, and records the
exit status and wall time in result.json once the program has ended. A run without
result.json has not finished (killed, or still queued) and is done again by the next `run`."""

import hashlib
import json
import os
import shlex
import shutil
import signal
import site
import socket
import subprocess
import sys
import time

from .config import SweepError

RESULT = "result.json"
RECORD = "sweep-run.json"
STDOUT = "stdout.txt"
STDERR = "stderr.txt"
RESULTS = "results.nc"      # the NetCDF file of a case-file run
CASE = "case.toml"
INPUT_NAMES = ("main.inp", "coag.inp", "grow.inp", CASE)
# Each run goes through `run-one` of this package, run by this interpreter.
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN_ONE = [sys.executable, "-m", "aerosol.sweep", "run-one"]


def _installed_in_site():
    sites = site.getsitepackages() + [site.getusersitepackages()]
    return os.path.realpath(PACKAGE_ROOT) in {os.path.realpath(p) for p in sites}


def child_pythonpath():
    """The PYTHONPATH under which `run-one` finds this very package: unchanged when the
    package is installed where the interpreter looks (site-packages, dist-packages); else
    (a launcher of the source tree or of an install prefix) with the package's folder first,
    so that a job started elsewhere (a Slurm node, another working folder) finds it too."""
    path = os.environ.get("PYTHONPATH", "")
    if _installed_in_site() or PACKAGE_ROOT in path.split(os.pathsep):
        return path or None
    return PACKAGE_ROOT + (os.pathsep + path if path else "")


def _child_environment():
    path = child_pythonpath()
    return dict(os.environ, PYTHONPATH=path) if path else None


def inputs_digest(texts):
    h = hashlib.sha256()
    for name in sorted(texts):
        h.update(name.encode() + b"\0" + texts[name].encode() + b"\0")
    return h.hexdigest()


def read_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def write_json(path, data):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(data, f, indent=1)
        f.write("\n")
    os.replace(tmp, path)


def is_done(run):
    """True when the run finished with status 0 from the inputs it would be given now."""
    result = read_json(os.path.join(run.folder, RESULT))
    return bool(result) and result.get("status") == 0 and \
        result.get("inputs") == inputs_digest(run.inputs)


def check_folders(sweep):
    """Refuses to write into folders that are not ours: an existing run folder must be empty
    or hold the record of a sweep run."""
    if os.path.exists(sweep.runs_dir) and not os.path.isdir(sweep.runs_dir):
        raise SweepError(f"{sweep.runs_dir} exists and is not a folder")
    for run in sweep.runs:
        if os.path.exists(run.folder):
            if not os.path.isdir(run.folder):
                raise SweepError(f"{run.folder} exists and is not a folder")
            if os.listdir(run.folder) and not os.path.exists(os.path.join(run.folder, RECORD)):
                raise SweepError(f"{run.folder} exists and holds files of another kind; "
                                 "move it away or choose another 'runs' folder")


def prepare(sweep):
    """Writes the run folders; returns the runs still to do (not finished with status 0)."""
    check_folders(sweep)
    pending = []
    for run in sweep.runs:
        if is_done(run):
            continue
        os.makedirs(run.folder, exist_ok=True)
        for name in (RESULT, STDOUT, STDERR, RESULTS) + INPUT_NAMES:
            try:
                os.remove(os.path.join(run.folder, name))
            except FileNotFoundError:
                pass
        for name, text in run.inputs.items():
            with open(os.path.join(run.folder, name), "w", encoding="utf-8") as f:
                f.write(text)
        write_json(os.path.join(run.folder, RECORD),
                   {"index": run.index, "values": run.values, "inputs": inputs_digest(run.inputs),
                    "kind": "case" if CASE in run.inputs else "folder"})
        pending.append(run)
    return pending


def _die_with_parent():
    """In the child: end with the runner, so a killed sweep leaves no program running."""
    try:
        import ctypes
        ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def run_one(folder, program, engine):
    """Runs the program in `folder` and records how it ended. Returns 0 when a result was
    recorded (whatever the program's status), non-zero when even that failed."""
    folder = os.path.abspath(folder)
    record = read_json(os.path.join(folder, RECORD))
    if record is None:
        print(f"aerosol-sweep: {folder} is not a run folder (no {RECORD})", file=sys.stderr)
        return 2
    result_path = os.path.join(folder, RESULT)
    try:
        os.remove(result_path)
    except FileNotFoundError:
        pass
    texts = {}
    for name in INPUT_NAMES:
        p = os.path.join(folder, name)
        if os.path.exists(p):
            with open(p, encoding="utf-8") as f:
                texts[name] = f.read()
    started = time.time()
    begin = time.monotonic()
    status, sig = None, None
    child = None

    def forward(signum, _frame):
        # Killed sweep: pass the signal on and leave no result, so the run is done again.
        if child is not None and child.poll() is None:
            child.send_signal(signum)
        os._exit(128 + signum)

    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, forward)
    with open(os.path.join(folder, STDOUT), "wb") as out, \
            open(os.path.join(folder, STDERR), "wb") as err:
        try:
            # A case-file run writes its NetCDF file beside the case, whatever the case's
            # [output] file says.
            command = [program, "simulate", CASE, "-o", RESULTS] \
                if record.get("kind") == "case" else [program]
            child = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err, preexec_fn=_die_with_parent)
            code = child.wait()
        except OSError as e:
            err.write(f"aerosol-sweep: cannot start {program}: {e.strerror}\n".encode())
            code = 127
    wall = time.monotonic() - begin
    if code < 0:
        sig = -code
        status = 128 + sig
    else:
        status = code
    write_json(result_path, {
        "status": status, "signal": sig, "wall_time": round(wall, 6), "started": started,
        "host": socket.gethostname(), "engine": engine, "program": program,
        "inputs": inputs_digest(texts) if texts else None})
    print(f"{os.path.basename(folder)}: status {status} in {wall:.3f} s", flush=True)
    return 0


def run_parallel(sweep, pending, jobs, dry_run=False):
    """Runs the pending folders through GNU parallel; returns parallel's exit status."""
    exe = shutil.which("parallel")
    if exe is None:
        raise SweepError("GNU parallel is not installed (Debian package 'parallel'); "
                         "use --engine slurm or install it")
    os.makedirs(sweep.runs_dir, exist_ok=True)
    list_path = os.path.join(sweep.runs_dir, "parallel-runs.txt")
    with open(list_path, "w", encoding="utf-8") as f:
        f.write("".join(run.folder + "\0" for run in pending))
    command = [exe, "--will-cite", "--halt", "never", "-q", "-0", "--arg-file", list_path]
    if jobs:
        command += ["--jobs", str(jobs)]
    command += RUN_ONE + ["--program", sweep.program, "--engine", "parallel", "{}"]
    if dry_run:
        print(" ".join(shlex.quote(c) for c in command))
        return 0
    return subprocess.call(command, stdin=subprocess.DEVNULL, env=_child_environment())


def slurm_script(sweep, pending):
    """The job-array script for the pending folders, and the file listing them."""
    os.makedirs(sweep.runs_dir, exist_ok=True)
    list_path = os.path.join(sweep.runs_dir, "slurm-runs.txt")
    with open(list_path, "w", encoding="utf-8") as f:
        f.write("".join(run.folder + "\n" for run in pending))
    logs = os.path.join(sweep.runs_dir, "slurm-logs")
    os.makedirs(logs, exist_ok=True)
    s = sweep.slurm
    array = f"0-{len(pending) - 1}"
    if "max-running" in s:
        array += f"%{int(s['max-running'])}"
    lines = ["#!/bin/bash",
             f"#SBATCH --job-name={s.get('job-name', 'aerosol-sweep')}",
             f"#SBATCH --array={array}",
             f"#SBATCH --output={logs}/%A_%a.out",
             f"#SBATCH --cpus-per-task={s.get('cpus-per-task', 1)}",
             "#SBATCH --ntasks=1"]
    for key in ("partition", "time", "mem", "account", "qos"):
        if key in s:
            lines.append(f"#SBATCH --{key}={s[key]}")
    for option in s.get("extra", []):
        lines.append(f"#SBATCH {option}")
    lines += [
        "# One array task per run folder, in the order of slurm-runs.txt.",
        "set -eu",
        f"run_dir=$(sed -n \"$((SLURM_ARRAY_TASK_ID + 1))p\" {shlex.quote(list_path)})"]
    pythonpath = child_pythonpath()
    if pythonpath:
        lines.append(f"export PYTHONPATH={shlex.quote(pythonpath)}")
    lines += [
        f"exec {' '.join(shlex.quote(c) for c in RUN_ONE)} --program "
        f"{shlex.quote(sweep.program)} --engine slurm \"$run_dir\"",
        ""]
    script_path = os.path.join(sweep.runs_dir, "slurm-job.sh")
    with open(script_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    os.chmod(script_path, 0o755)
    return script_path


def run_slurm(sweep, pending, dry_run=False, wait=False):
    """Writes the job-array script and, unless dry_run, submits it with sbatch. Returns
    (exit status, job id or None)."""
    script = slurm_script(sweep, pending)
    command = ["sbatch", "--parsable", script]
    if dry_run:
        print(f"wrote {script}; submit it with: {' '.join(shlex.quote(c) for c in command)}")
        return 0, None
    if shutil.which("sbatch") is None:
        raise SweepError("sbatch is not installed (Debian package 'slurm-client'); the job "
                         f"script is at {script}")
    proc = subprocess.run(command, capture_output=True, text=True, cwd=sweep.runs_dir)
    code, err = proc.returncode, proc.stderr
    job = proc.stdout.strip().split(";")[0] or None
    if code == 0:
        print(f"submitted job {job} with {len(pending)} task(s): {script}", flush=True)
        if wait:
            code = wait_for_job(job, pending)
    if code != 0 and err.strip():
        print(f"aerosol-sweep: sbatch: {err.strip()}", file=sys.stderr)
    return code, job


def wait_for_job(job, pending, poll=1.0):
    """Waits until no task of the job array is pending or running. squeue is asked every
    `poll` seconds at first, less often later; a job that squeue no longer knows has ended."""
    active = ["squeue", "-h", "-j", job, "-t", "PENDING,CONFIGURING,RUNNING,COMPLETING,SUSPENDED",
              "-o", "%i"]
    told = -1
    delay = poll
    while True:
        p = subprocess.run(active, capture_output=True, text=True)
        finished = sum(os.path.exists(os.path.join(r.folder, RESULT)) for r in pending)
        if finished != told:
            print(f"job {job}: {finished} of {len(pending)} run(s) finished", flush=True)
            told = finished
        if p.returncode != 0 and "Invalid job id" not in p.stderr:
            print(f"aerosol-sweep: squeue: {p.stderr.strip()}", file=sys.stderr)
            return 1
        if not p.stdout.strip():
            return 0
        time.sleep(delay)
        delay = min(delay * 1.2, 10.0)
