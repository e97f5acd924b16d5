#!/usr/bin/env python3
"""Jobs per second of one kestrav-batch shard against one kestrav process per job on the same
windows, beside the sum of the shard's in-process search times (its result lines' elapsed_s).

A generated two-receiver scene is planned into windows of --samples samples; the first --jobs
are run as one shard, then each window, cut out of the recordings into files of its own
beforehand, by its own kestrav process with the same search. The target: the shard's wall time
within 1.25 times the sum of its searches' times (what a shard adds per job stays small).

usage: batch_throughput.py --kestrav PATH --batch PATH --scene PATH [--jobs 200]
                           [--samples 262144] [--work DIR] [--keep]
"""
import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

SAMPLE_BYTES = {"ci16": 4, "cf32": 8, "ci8": 2, "cu8": 2}
TARGET = 1.25


def plan_jobs(arguments, work):
    """A scene long enough for the jobs, planned, cut to the first --jobs jobs."""
    rate = 1_000_000
    hop = arguments.samples // 2
    seconds = ((arguments.jobs + 4) * hop + arguments.samples) / rate
    scene = os.path.join(work, "scene")
    subprocess.run([arguments.scene, "--out", scene, "--receivers", "2", "--seconds",
                    f"{seconds:.3f}", "--rate", str(rate), "--window-samples",
                    str(arguments.samples), "--hop", str(hop)], check=True,
                   stdout=subprocess.DEVNULL)
    plan = os.path.join(work, "plan.jsonl")
    with open(plan, "w", encoding="utf-8") as lines:
        subprocess.run([arguments.batch, "plan", os.path.join(scene, "campaign.json")],
                       check=True, stdout=lines, stderr=subprocess.DEVNULL)
    with open(plan, encoding="utf-8") as lines:
        jobs = [line for line in lines if line.strip()][: arguments.jobs]
    if len(jobs) < arguments.jobs:
        sys.exit(f"the scene gave {len(jobs)} jobs, not {arguments.jobs}")
    path = os.path.join(work, "jobs.jsonl")
    with open(path, "w", encoding="utf-8") as out:
        out.writelines(jobs)
    return path, [json.loads(line) for line in jobs]


def children_cpu():
    """User and system seconds of the ended child processes: less swayed than the wall time by
    other work on a shared machine."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def cut(job, side, folder, index, begin, count):
    """Samples [offset + begin, offset + begin + count) of one side's recording, as a bare file."""
    recording = job[side]
    size = SAMPLE_BYTES[recording["format"]]
    start = recording["offset"] + begin
    if start < 0:
        sys.exit(f"{job['id']}: the {side} recording starts inside the search's reach")
    path = os.path.join(folder, f"{index:04d}-{side}.{recording['format']}")
    with open(recording["path"], "rb") as source, open(path, "wb") as window:
        source.seek(start * size)
        data = source.read(count * size)
        if len(data) != count * size:
            sys.exit(f"{job['id']}: the {side} recording ends inside the window")
        window.write(data)
    return path


def cut_windows(kestrav, jobs, folder):
    """Each job's two windows cut so that kestrav places its segments on the samples the shard
    searches: the first recording's segment after the half lag window it leaves before it, the
    second's with the whole lag reach (the lag window from one probe search)."""
    job = jobs[0]
    probe = command_of(kestrav, job, cut(job, "first", folder, 0, 0, job["samples"]),
                       cut(job, "second", folder, 0, 0, job["samples"]))
    lags = json.loads(subprocess.run(probe, check=True, capture_output=True,
                                     text=True).stdout)["lag_window"]
    half = lags["lag_count"] // 2
    centre = lags["centre_lag"]
    first_start = half if centre >= 0 else half - centre
    second_start = max(centre, 0)
    commands = []
    for index, job in enumerate(jobs):
        first = cut(job, "first", folder, index, -first_start, first_start + job["samples"])
        second = cut(job, "second", folder, index, lags["first_lag"] - second_start,
                     second_start + job["samples"] + lags["lag_count"])
        commands.append(command_of(kestrav, job, first, second))
    return commands


def command_of(kestrav, job, first, second):
    search = job["search"]
    # --json: the document a shard's result lines carry, classes and precise values included
    command = [kestrav, "-m", first, "-a", second, "-s", str(job["samples"]), "-f",
               repr(job["rate_hz"]), "-c", repr(search["centre_us"]), "-r",
               repr(search["range_us"]), "-j", "0", "-t", repr(search["threshold_db"]),
               f"--frequency-span={search['frequency_span_hz']!r}",
               f"--format={job['first']['format']}", f"--backend={search['backend']}", "--quiet",
               "--json"]
    if search.get("precise"):
        command.append("--precise")
    return command


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kestrav", required=True)
    parser.add_argument("--batch", required=True)
    parser.add_argument("--scene", required=True)
    parser.add_argument("--jobs", type=int, default=200)
    parser.add_argument("--samples", type=int, default=262144)
    parser.add_argument("--work", help="folder for the recordings and windows (default: a temp)")
    parser.add_argument("--keep", action="store_true", help="leave the work folder")
    arguments = parser.parse_args()
    work = arguments.work or tempfile.mkdtemp(prefix="kestrav-throughput-")
    os.makedirs(work, exist_ok=True)
    try:
        report(arguments, work)
    finally:
        if not arguments.keep:
            shutil.rmtree(work, ignore_errors=True)


def report(arguments, work):
    path, jobs = plan_jobs(arguments, work)
    windows = os.path.join(work, "windows")
    os.makedirs(windows, exist_ok=True)
    commands = cut_windows(arguments.kestrav, jobs, windows)

    results = os.path.join(work, "results")
    cpu = children_cpu()
    start = time.perf_counter()
    subprocess.run([arguments.batch, "run", path, "--shard", "0/1", "--out", results,
                    "--attempt", "bench"], check=True, stderr=subprocess.DEVNULL)
    shard_wall = time.perf_counter() - start
    shard_cpu = children_cpu() - cpu
    lines = {}
    for name in os.listdir(results):
        if not (name.startswith("shard-") and name.endswith(".jsonl")):
            continue  # FFTW's wisdom, kept beside the results
        with open(os.path.join(results, name), encoding="utf-8") as records:
            for line in records:
                record = json.loads(line)
                lines[record["id"]] = record
    if len(lines) != len(jobs):
        sys.exit(f"the shard wrote {len(lines)} results for {len(jobs)} jobs")
    searches = sum(record["elapsed_s"] for record in lines.values())

    cpu = children_cpu()
    start = time.perf_counter()
    outputs = [subprocess.run(command, check=True, capture_output=True, text=True).stdout
               for command in commands]
    process_wall = time.perf_counter() - start
    process_cpu = children_cpu() - cpu

    # The same windows give the same best result (the shard adds the alignment residual).
    disagree = 0
    for job, output in zip(jobs, outputs):
        best = lines[job["id"]].get("best")
        found = json.loads(output)["results"]
        if best is None or not found:
            disagree += (best is None) != (not found)
            continue
        shard_delay = best["delay_s"] - job.get("alignment_residual_s", 0.0)
        disagree += abs(found[0]["delay_s"] - shard_delay) > 1e-12 or \
            found[0]["frequency_offset_hz"] != best["frequency_offset_hz"]

    # What the processes' own documents say their stages took: the rest is starting up.
    staged = sum(sum(json.loads(output)["timings_s"].values()) for output in outputs)
    ratio = shard_wall / searches
    print(f"{len(jobs)} jobs of {arguments.samples} samples, "
          f"{os.environ.get('KESTRAV_THREADS', 'all')} threads")
    print(f"{'one shard':<34} {shard_wall:8.2f} s  {len(jobs) / shard_wall:7.2f} jobs/s"
          f"  (CPU {shard_cpu:.2f} s)")
    print(f"{'one kestrav process per job':<34} {process_wall:8.2f} s  "
          f"{len(jobs) / process_wall:7.2f} jobs/s  (CPU {process_cpu:.2f} s)")
    print(f"{'sum of the in-process searches':<34} {searches:8.2f} s  "
          f"{len(jobs) / searches:7.2f} jobs/s")
    print(f"{'sum of the processes own stages':<34} {staged:8.2f} s  "
          f"{len(jobs) / staged:7.2f} jobs/s")
    print(f"shard / searches: {ratio:.3f} (target <= {TARGET}: "
          f"{'met' if ratio <= TARGET else 'MISSED'}); processes / shard: "
          f"{process_wall / shard_wall:.2f}")
    if disagree:
        print(f"warning: {disagree} windows' best delay differs between the shard and kestrav")


if __name__ == "__main__":
    main()
