#!/usr/bin/python3
"""The sweep of the parallel test, run through a real one-node Slurm cluster started here for
the test and stopped at its end. Exits 77 (skipped) when the cluster cannot be started, with
the reason; under CI (CI=true) only when the machine cannot do it (not root), since
scripts/setup.sh installs what else it needs. Any other failure fails."""

import os
import shutil
import sys
import tempfile
import unittest

import sweep_support as S
from slurm_cluster import ClusterUnavailable, SlurmCluster
from test_sweep import check_merged_table

SKIP = 77


class SlurmSweep(unittest.TestCase):
    cluster = None

    def test_job_array_runs_every_folder(self):
        env = self.cluster.env
        with tempfile.TemporaryDirectory() as d:
            sweep = S.make_sweep(d, "coolingRate = [2000, 3000.5]\nnodeCount = [8, 12]\n",
                                 extra='[slurm]\ntime = "00:05:00"\nmem = "100M"\n')
            r = S.tool("run", sweep, "--engine", "slurm", "--wait", env=env, timeout=240)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertIn("ran 4 run(s) with slurm", r.stdout)
            c = S.tool("collect", sweep, env=env)
            self.assertEqual(c.returncode, 0, c.stderr)
            runs = [{"coolingRate": cr, "nodeCount": n}
                    for cr in (2000.0, 3000.5) for n in (8, 12)]
            check_merged_table(self, d, runs, ["coolingRate", "nodeCount"])
            import json
            for row in S.read_csv(os.path.join(d, "runs", "summary.csv")):
                with open(os.path.join(d, "runs", row["run"], "result.json")) as f:
                    self.assertEqual(json.load(f)["engine"], "slurm")
            # Each array task left its log beside the runs.
            self.assertEqual(len(os.listdir(os.path.join(d, "runs", "slurm-logs"))), 4)


def main():
    folder = tempfile.mkdtemp(prefix="aerosol-slurm-")
    cluster = SlurmCluster(folder)
    try:
        try:
            cluster.start()
        except ClusterUnavailable as e:
            if e.machine:
                print(f"SKIPPED: cannot run here: {e}")
                return SKIP
            if os.environ.get("CI", "").lower() in ("true", "1", "yes"):
                print(f"FAIL under CI: cannot start a one-node Slurm cluster: {e}")
                return 1
            print(f"SKIPPED: cannot start a one-node Slurm cluster here: {e}")
            return SKIP
        SlurmSweep.cluster = cluster
        result = unittest.main(argv=[sys.argv[0]], exit=False).result
        return 0 if result.wasSuccessful() else 1
    finally:
        cluster.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
