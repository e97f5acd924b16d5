"""Campaigns on a Dask cluster: the jobs of a plan (kestrav-batch plan) run by kestrav-batch in
chunks, one Dask task per chunk.

    from dask.distributed import Client
    from kestrav.batch import run_dask
    summary = run_dask(Client("scheduler:8786"), "jobs.jsonl", "results", chunk=16,
                       resources={"GPU": 1})
    summary["counts"], summary["complete"]

Each task writes its chunk's results into `out` as they end (the files `kestrav-batch run`
writes), so that `kestrav-batch status` and `merge` read them as any other run's; only a summary
comes back. A chunk that is retried, or run again by a later call, skips the jobs whose results
are already there. `out` must be a folder every worker sees. Dask is imported only when
run_dask is called.
"""

import json
import os
import shutil
import subprocess
import time
import uuid
from typing import Dict, Iterable, List, Optional, Union

__all__ = ["run_dask", "find_program", "result_counts"]

# The folder of `out` that holds each chunk's jobs; run reads only result files, named
# shard-I-of-N.ATTEMPT.jsonl, so the chunks never pass for results.
CHUNK_FOLDER = "dask-chunks"


def find_program(program: Optional[str] = None) -> str:
    """The kestrav-batch program: `program`, else KESTRAV_BATCH, else kestrav-batch on PATH, else
    this source tree's build/batch/kestrav-batch. One named but not runnable is an error rather
    than passed over for another."""
    named = program or os.environ.get("KESTRAV_BATCH")
    if named:
        if not os.access(named, os.X_OK) or os.path.isdir(named):
            raise FileNotFoundError(f"kestrav-batch '{named}' is not an executable file")
        return os.path.abspath(named)
    built = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "batch",
                         "kestrav-batch")
    for candidate in (shutil.which("kestrav-batch"), built):
        if candidate and os.access(candidate, os.X_OK) and not os.path.isdir(candidate):
            return os.path.abspath(candidate)
    raise FileNotFoundError("kestrav-batch not found: give program=, set KESTRAV_BATCH or put it "
                            "on PATH")


def _job_lines(jobs: Union[str, os.PathLike, Iterable]) -> List[str]:
    """The plan's lines, each one job's compact JSON: from a jobs.jsonl file, or from job objects
    (dicts) or lines."""
    if isinstance(jobs, (str, os.PathLike)):
        with open(jobs, encoding="utf-8") as plan:
            lines = [line.strip() for line in plan]
        source = os.fspath(jobs)
    else:
        lines = [job.strip() if isinstance(job, str) else json.dumps(job, separators=(",", ":"))
                 for job in jobs]
        source = "the jobs given"
    lines = [line for line in lines if line]
    for number, line in enumerate(lines, 1):
        try:
            job = json.loads(line)
        except ValueError as error:
            raise ValueError(f"{source}: line {number} is not JSON ({error})") from None
        if not isinstance(job, dict) or "id" not in job or "digest" not in job:
            raise ValueError(f"{source}: line {number} is not a job (no id or digest)")
    return lines


def _write_whole(path: str, text: str) -> None:
    """Writes a file that readers see whole or not at all."""
    temporary = f"{path}.{os.getpid()}.{uuid.uuid4().hex[:8]}.tmp"
    with open(temporary, "w", encoding="utf-8") as file:
        file.write(text)
    os.replace(temporary, path)


def _run_chunk(program: str, chunk_file: str, out: str, index: int) -> Dict:
    """One Dask task: kestrav-batch run over one chunk's jobs, as one shard of one, under an
    attempt name of its own."""
    attempt = f"dask-{index}-{uuid.uuid4().hex[:12]}"
    command = [program, "run", chunk_file, "--shard", "0/1", "--out", out, "--attempt", attempt]
    # A worker that dies takes its run with it rather than leaving it writing beside the retry.
    setpriv = shutil.which("setpriv")
    if setpriv:
        command = [setpriv, "--pdeathsig", "KILL", "--"] + command
    start = time.monotonic()
    finished = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, check=False)
    if finished.returncode != 0:
        reason = finished.stderr.decode("utf-8", "replace").strip().splitlines()
        raise RuntimeError(f"chunk {index}: kestrav-batch run exited with status "
                           f"{finished.returncode}: {reason[-1] if reason else 'no message'}")
    return {"chunk": index, "attempt": attempt, "seconds": time.monotonic() - start}


def result_counts(lines: List[str], out: str) -> Dict[str, int]:
    """Counts per status of the jobs `lines` names, from the result files in `out`: one result
    per id and digest (ok where any attempt got ok, else the last written), "unfinished" for
    jobs without one. A torn line (a run killed while writing) is passed over."""
    wanted = {}
    for line in lines:
        job = json.loads(line)
        wanted[(job["id"], job["digest"])] = None
    names = sorted(name for name in os.listdir(out)
                   if name.startswith("shard-") and name.endswith(".jsonl")) \
        if os.path.isdir(out) else []
    for name in names:
        with open(os.path.join(out, name), encoding="utf-8", errors="replace") as results:
            for line in results:
                try:
                    record = json.loads(line)
                    key = (record["id"], record["digest"])
                    status = record["status"]
                except (ValueError, KeyError, TypeError):
                    continue
                if key in wanted and wanted[key] != "ok":
                    wanted[key] = status
    counts: Dict[str, int] = {}
    for status in wanted.values():
        status = status or "unfinished"
        counts[status] = counts.get(status, 0) + 1
    return counts


def run_dask(client, jobs: Union[str, os.PathLike, Iterable], out: Union[str, os.PathLike],
             chunk: int = 16, resources: Optional[Dict[str, float]] = None, retries: int = 2,
             program: Optional[str] = None) -> Dict:
    """Runs the jobs (a jobs.jsonl path, or job objects) on the Dask cluster of `client`, `chunk`
    jobs a task, each task holding `resources` (e.g. {"GPU": 1}, with workers started with
    --resources GPU=1) and retried up to `retries` times when its run fails; a task whose worker
    dies is rescheduled by Dask. Results go to the folder `out` as kestrav-batch run writes them.

    Returns {"jobs", "chunks", "counts" (per status, "unfinished" for jobs without a result),
    "complete" (every job has a result), "failed_chunks" ([{"chunk", "error"}]), "seconds"}.
    A chunk that still fails after its retries is reported there, not raised: the other chunks'
    results stand, and a later call runs only what is missing."""
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, got {chunk}")
    if retries < 0:
        raise ValueError(f"retries must not be negative, got {retries}")
    from distributed import as_completed  # only here: the package imports without Dask

    start = time.monotonic()
    program = find_program(program)
    lines = _job_lines(jobs)
    out = os.path.abspath(os.fspath(out))
    folder = os.path.join(out, CHUNK_FOLDER)
    os.makedirs(folder, exist_ok=True)
    run_id = uuid.uuid4().hex[:12]
    futures = {}
    for index, first in enumerate(range(0, len(lines), chunk)):
        chunk_file = os.path.join(folder, f"chunk-{run_id}-{index:05d}.jsonl")
        _write_whole(chunk_file, "".join(line + "\n" for line in lines[first:first + chunk]))
        future = client.submit(_run_chunk, program, chunk_file, out, index, resources=resources,
                               retries=retries, pure=False, key=f"kestrav-chunk-{run_id}-{index}")
        futures[future] = index
    failed = []
    for future in as_completed(list(futures)):
        if future.status != "finished":
            try:
                error = future.exception()
                reason = f"{type(error).__name__}: {error}"
            except Exception as cancelled:  # a future cancelled under us has no exception
                reason = f"{type(cancelled).__name__}: {future.status}"
            failed.append({"chunk": futures[future], "error": reason})
        future.release()
    counts = result_counts(lines, out)
    return {"jobs": len(lines), "chunks": len(futures), "counts": counts,
            "complete": "unfinished" not in counts,
            "failed_chunks": sorted(failed, key=lambda failure: failure["chunk"]),
            "seconds": time.monotonic() - start}
