"""A one-node Slurm cluster on this machine for tests: munged, slurmctld and slurmd started
from a temporary folder with their own key, sockets, ports, state and logs (nothing under
/etc), and stopped again by stop(). Needs root (slurmd runs jobs as their user) and Debian's
slurmctld, slurmd, slurm-client and munge packages."""

import os
import shutil
import socket
import subprocess
import time


class ClusterUnavailable(Exception):
    """The cluster cannot be started here; the message says why, and `machine` whether it is
    the machine's doing (no setting-up could remedy it)."""

    def __init__(self, message, machine=False):
        super().__init__(message)
        self.machine = machine


def _free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SlurmCluster:
    def __init__(self, folder):
        self.folder = folder
        self.processes = []
        self.env = None

    def _log_tail(self, name, lines=8):
        try:
            with open(os.path.join(self.folder, name), errors="replace") as f:
                return "".join(f.readlines()[-lines:]).strip()
        except OSError:
            return "(no log)"

    def start(self, timeout=30.0):
        missing = [p for p in ("munged", "slurmctld", "slurmd", "sbatch", "sinfo")
                   if shutil.which(p) is None and not os.path.exists("/usr/sbin/" + p)]
        if missing:
            raise ClusterUnavailable("not installed: " + ", ".join(missing) +
                                     " (scripts/setup.sh installs them)")
        if os.geteuid() != 0:
            raise ClusterUnavailable("slurmd must run as root to start jobs", machine=True)
        d = self.folder
        os.chmod(d, 0o700)
        for sub in ("state", "spool", "munge"):
            os.makedirs(os.path.join(d, sub), mode=0o700, exist_ok=True)
        key = os.path.join(d, "munge", "munge.key")
        with open(key, "wb") as f:
            f.write(os.urandom(1024))
        os.chmod(key, 0o600)
        munge_socket = os.path.join(d, "munge", "munge.socket")
        self._spawn(["munged", "--foreground", "--force", f"--key-file={key}",
                     f"--socket={munge_socket}", f"--pid-file={d}/munge/munged.pid",
                     f"--log-file={d}/munged.log", f"--seed-file={d}/munge/munged.seed"],
                    "munged.out")
        self._wait(lambda: os.path.exists(munge_socket), timeout, "munged", "munged.log")

        host = socket.gethostname().split(".")[0]
        cpus = os.cpu_count() or 1
        conf = os.path.join(d, "slurm.conf")
        with open(conf, "w") as f:
            f.write(f"""ClusterName=sweeptest
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={_free_port()}
SlurmdPort={_free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={munge_socket}
StateSaveLocation={d}/state
SlurmdSpoolDir={d}/spool
SlurmctldPidFile={d}/slurmctld.pid
SlurmdPidFile={d}/slurmd.pid
SlurmctldLogFile={d}/slurmctld.log
SlurmdLogFile={d}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0,sched_interval=1
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MaxArraySize=1001
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
NodeName={host} NodeAddr=127.0.0.1 CPUs={cpus} RealMemory=1024 State=UNKNOWN
PartitionName=test Nodes={host} Default=YES MaxTime=INFINITE State=UP
""")
        self.env = dict(os.environ, SLURM_CONF=conf)
        self._spawn(["slurmctld", "-D", "-i", "-f", conf], "slurmctld.out")
        self._spawn(["slurmd", "-D", "-f", conf, "-N", host], "slurmd.out")

        def node_idle():
            p = subprocess.run(["sinfo", "-h", "-N", "-o", "%T"], env=self.env,
                               capture_output=True, text=True, timeout=10)
            return p.returncode == 0 and p.stdout.strip().rstrip("*") in ("idle", "mixed")
        self._wait(node_idle, timeout, "the node to become idle", "slurmd.log")
        return self

    def _spawn(self, command, out_name):
        out = open(os.path.join(self.folder, out_name), "wb")
        self.processes.append(subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                               stdin=subprocess.DEVNULL, cwd=self.folder))
        out.close()

    def _wait(self, ready, timeout, what, log):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for p in self.processes:
                if p.poll() is not None:
                    raise ClusterUnavailable(
                        f"{p.args[0]} ended with status {p.returncode} while waiting for "
                        f"{what}: {self._log_tail(log)} {self._log_tail(p.args[0] + '.out')}")
            try:
                if ready():
                    return
            except (OSError, subprocess.SubprocessError):
                pass
            time.sleep(0.2)
        raise ClusterUnavailable(f"timed out waiting for {what}: {self._log_tail(log)}")

    def _step_daemons(self):
        """Pids of the slurmstepd processes of this cluster: those with a file open in its
        folder (the spool sockets)."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() != "slurmstepd":
                        continue
                links = [os.readlink(f"/proc/{pid}/fd/{fd}")
                         for fd in os.listdir(f"/proc/{pid}/fd")]
            except OSError:
                continue
            if any(link.startswith(self.folder + "/") for link in links):
                found.append(int(pid))
        return found

    def stop(self):
        """Ends the daemons, newest first, and waits for each; then the step daemons that
        slurmd started, which end by themselves once their job has ended."""
        deadline = time.monotonic() + 10
        while self._step_daemons() and time.monotonic() < deadline:
            time.sleep(0.2)
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
        for p in reversed(self.processes):
            try:
                p.wait(timeout=15)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.processes = []
        for pid in self._step_daemons():
            try:
                os.kill(pid, 9)
            except OSError:
                pass
