"""Campaigns on a local Dask cluster of worker processes: a worker killed in the middle of a chunk,
a chunk that keeps failing, and a second call over finished results, each against a serial run.

Environment: KESTRAV_BATCH and KESTRAV_SCENE, the two programs. Exits 77 (skipped) without
Dask's distributed package.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from kestrav import batch

try:
    import distributed
except ImportError:
    distributed = None

PROGRAM = os.environ.get("KESTRAV_BATCH", "")
SCENE = os.environ.get("KESTRAV_SCENE", "")
VARYING = ("elapsed_s", "attempt", "shard")


def result_lines(folder):
    """Every result line in the folder, less what differs between runs, sorted by job."""
    lines = []
    for name in sorted(os.listdir(folder)):
        if name.startswith("shard-") and name.endswith(".jsonl"):
            with open(os.path.join(folder, name), encoding="utf-8") as results:
                for line in results:
                    record = json.loads(line)
                    for key in VARYING:
                        record.pop(key, None)
                    lines.append(json.dumps(record, sort_keys=True))
    return sorted(lines)


def write_program(path, text):
    with open(path, "w", encoding="utf-8") as script:
        script.write("#!/usr/bin/env bash\n" + text)
    os.chmod(path, 0o755)


def alive(pid):
    """True while the process runs (a zombie awaiting its reaper counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


class Summaries(unittest.TestCase):
    """What the summary counts, from result files as runs leave them."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kestrav-dask-counts-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.jobs = [json.dumps({"id": f"c/A-B/w{i:06d}", "digest": f"{i:016x}"}) for i in range(4)]

    def write(self, name, records, torn=""):
        with open(os.path.join(self.folder, name), "w", encoding="utf-8") as results:
            results.writelines(json.dumps(record) + "\n" for record in records)
            results.write(torn)

    def test_counts(self):
        job = [json.loads(line) for line in self.jobs]
        self.write("shard-0-of-1.first.jsonl",
                   [dict(job[0], status="ok"), dict(job[1], status="failed")],
                   torn='{"id": "c/A-B/w000002", "dig')
        # A later attempt: job 1 now ok, job 0 failing must not undo its ok; a job of another
        # plan, and job 3 under another digest (another search), count for nothing.
        self.write("shard-0-of-1.second.jsonl",
                   [dict(job[1], status="ok"), dict(job[0], status="failed"),
                    {"id": "other/A-B/w000000", "digest": "0", "status": "ok"},
                    dict(job[3], digest="ffff", status="ok")])
        self.write("notes.jsonl", [dict(job[2], status="ok")])
        self.assertEqual(batch.result_counts(self.jobs, self.folder), {"ok": 2, "unfinished": 2})
        self.assertEqual(batch.result_counts(self.jobs, os.path.join(self.folder, "none")),
                         {"unfinished": 4})

    def test_refusals(self):
        plan = os.path.join(self.folder, "jobs.jsonl")
        with open(plan, "w", encoding="utf-8") as lines:
            lines.write(self.jobs[0] + "\n\n" + '{"window": 3}\n')
        with self.assertRaisesRegex(ValueError, "line 2 is not a job"):
            batch._job_lines(plan)
        with self.assertRaisesRegex(ValueError, "line 1 is not JSON"):
            batch._job_lines(["{"])
        # A program named but not runnable is refused, not swapped for another found elsewhere.
        with self.assertRaisesRegex(FileNotFoundError, "not an executable file"):
            batch.find_program(plan)
        with self.assertRaisesRegex(ValueError, "chunk must be at least 1"):
            batch.run_dask(None, self.jobs, self.folder, chunk=0)


@unittest.skipIf(distributed is None, "Dask's distributed package is not installed")
class OnLocalCluster(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="kestrav-dask-")
        scene = os.path.join(cls.directory, "scene")
        cls.jobs = os.path.join(cls.directory, "jobs.jsonl")
        # Three receivers, 1.3 s: nine jobs, three chunks of four (the last one short).
        subprocess.run([SCENE, "--out", scene, "--seconds", "1.3"], check=True,
                       stdout=subprocess.DEVNULL)
        with open(cls.jobs, "w", encoding="utf-8") as plan:
            subprocess.run([PROGRAM, "plan", os.path.join(scene, "campaign.json")], check=True,
                           stdout=plan, stderr=subprocess.DEVNULL)
        with open(cls.jobs, encoding="utf-8") as plan:
            cls.count = sum(1 for line in plan if line.strip())
        serial = os.path.join(cls.directory, "serial")
        subprocess.run([PROGRAM, "run", cls.jobs, "--shard", "0/1", "--out", serial],
                       check=True, stderr=subprocess.DEVNULL)
        cls.serial = result_lines(serial)
        cls.cluster = distributed.LocalCluster(
            processes=True, n_workers=2, threads_per_worker=1, resources={"GPU": 1},
            dashboard_address=None, silence_logs=50)
        cls.client = distributed.Client(cls.cluster)
        cls.pids = set(cls.worker_pids())

    @classmethod
    def worker_pids(cls):
        """The workers' processes and their nannies'."""
        pids = [nanny.process.pid for nanny in cls.cluster.workers.values()
                if getattr(nanny, "process", None) and nanny.process.pid]
        try:
            pids += list(cls.client.run(os.getpid, wait=True).values())
        except Exception:  # a worker restarting answers nothing; its nanny is listed
            pass
        return pids

    @classmethod
    def tearDownClass(cls):
        # A worker restarted by its nanny can outlive the cluster's shutdown: end each by pid.
        cls.pids.update(cls.worker_pids())
        cls.client.close(timeout=10)
        cls.cluster.close(timeout=10)
        for pid in cls.pids:
            if alive(pid):
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(cls.directory)

    def test_worker_killed_in_a_chunk(self):
        out = os.path.join(self.directory, "killed")
        marker = os.path.join(self.directory, "chunk-1-started")
        program = os.path.join(self.directory, "first-try-of-chunk-1-hangs")
        # Chunk 1's first try writes one result, says which worker runs it, and hangs there.
        write_program(program, f"""
case "$2" in *-00001.jsonl)
  if mkdir "{marker}.lock" 2>/dev/null; then
    KESTRAV_BATCH_EXIT_AFTER=1 "{PROGRAM}" "$@"
    echo "$PPID $$" >"{marker}.tmp" && mv "{marker}.tmp" "{marker}"
    exec sleep 60
  fi ;;
esac
exec "{PROGRAM}" "$@"
""")
        killed = {}

        def kill_the_worker():
            deadline = time.monotonic() + 60
            while not os.path.exists(marker) and time.monotonic() < deadline:
                time.sleep(0.05)
            if os.path.exists(marker):
                with open(marker, encoding="ascii") as pids:
                    worker, run = map(int, pids.read().split())
                self.pids.update((worker, run))
                os.kill(worker, signal.SIGKILL)
                killed.update(worker=worker, run=run)

        killer = threading.Thread(target=kill_the_worker)
        killer.start()
        summary = batch.run_dask(self.client, self.jobs, out, chunk=4, resources={"GPU": 1},
                                 retries=2, program=program)
        killer.join()
        self.assertIn("worker", killed, "chunk 1 never started")
        self.assertEqual(summary["failed_chunks"], [])
        self.assertTrue(summary["complete"], summary)
        self.assertEqual(sum(summary["counts"].values()), self.count)
        self.assertEqual(summary["chunks"], -(-self.count // 4))
        # Every job once, as the serial run found it: the retry resumed after the killed try's
        # result instead of running its job again.
        self.assertEqual(result_lines(out), self.serial)
        # A second call over finished results runs nothing again and counts the same.
        again = batch.run_dask(self.client, self.jobs, out, chunk=8, resources={"GPU": 1})
        self.assertEqual(again["counts"], summary["counts"])
        self.assertEqual(result_lines(out), self.serial)

        # The hung run died with its worker rather than living on beside the retry (setpriv, of
        # util-linux, ties it to the worker).
        if shutil.which("setpriv") is None:
            return
        deadline = time.monotonic() + 5
        while alive(killed["run"]) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(alive(killed["run"]), "the killed worker's run lives on")

    def test_chunk_failing_on_every_try(self):
        out = os.path.join(self.directory, "failing")
        tries = os.path.join(self.directory, "tries")
        program = os.path.join(self.directory, "chunk-0-fails")
        write_program(program, f"""
case "$2" in *-00000.jsonl)
  echo try >>"{tries}"
  echo "kestrav-batch: injected failure" >&2
  exit 3 ;;
esac
exec "{PROGRAM}" "$@"
""")
        summary = batch.run_dask(self.client, self.jobs, out, chunk=8, resources=None,
                                 retries=1, program=program)
        self.assertFalse(summary["complete"])
        self.assertEqual([failure["chunk"] for failure in summary["failed_chunks"]], [0])
        self.assertIn("status 3: kestrav-batch: injected failure",
                      summary["failed_chunks"][0]["error"])
        self.assertEqual(summary["counts"]["unfinished"], min(8, self.count))
        with open(tries, encoding="ascii") as lines:
            self.assertEqual(len(lines.readlines()), 2, "one try and one retry")
        # The other chunks' results stand, as the serial run's.
        finished = set(result_lines(out))
        self.assertEqual(len(finished), self.count - min(8, self.count))
        self.assertTrue(finished <= set(self.serial))


if __name__ == "__main__":
    outcome = unittest.main(exit=False, verbosity=2).result
    if not outcome.wasSuccessful():
        sys.exit(1)
    if distributed is None:
        print("SKIP: Dask's distributed package is not installed (Debian's python3-distributed)")
        sys.exit(77)
