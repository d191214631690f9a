#!/usr/bin/env python3
"""Whole runs of orbelm side by side with the floor program.

Each repetition runs both programs on the same input, first into a fresh
empty folder and then again in that folder over the files the first run
made; the order of the two programs alternates from one repetition to the
next, and the file system is synced before every run so that no run pays
for the write-back of another. An uncounted warm-up run of the floor
program comes first. Each run is started by the measuring helper
(orbelm_measure), which reports wall clock, user and system CPU and peak
resident memory from wait4. Then orbelm runs once more on the
large input (5 N records) for its peak resident memory.

Prints medians over the repetitions: the wall-clock ratio orbelm/floor in
each mode (taken per repetition, then the median; and the ratio of the
fastest runs), the user and system CPU
per record beyond the floor, and the peak resident memory for N and 5 N.

Usage: whole_run.py MEASURE ORBELM FLOOR INPUT_N INPUT_5N WORK_FOLDER REPEATS
"""

import os
import shutil
import statistics
import subprocess
import sys


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))


def timed_run(measure, program, input_path, folder, console_path):
    """One run in `folder`; returns (wall s, user s, sys s, max RSS KiB)."""
    result_path = console_path + ".measured"
    os.sync()
    with open(console_path, "wb") as console:
        status = subprocess.run([measure, result_path, program, input_path],
                                cwd=folder, stdin=subprocess.DEVNULL,
                                stdout=console, check=False).returncode
    if status != 0:
        sys.exit(f"whole_run: {program} failed with status {status}")
    with open(result_path) as result:
        wall, user, system, rss = result.read().split()[:4]
    return float(wall), float(user), float(system), int(rss)


def fresh_folder(work, name):
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.sync()
    os.mkdir(folder)
    return folder


def compare(measure, programs, input_path, records, work, repeats):
    """results[mode][program] = list of (wall, user, sys, rss)."""
    results = {mode: {name: [] for name in programs} for mode in ("fresh", "existing")}
    console = os.path.join(work, "console.txt")
    names = list(programs)
    # The first run of a sitting pays for bringing the file system into its
    # steady state (inode tables, directory blocks) and is not counted.
    folder = fresh_folder(work, "out")
    for _ in ("fresh", "existing"):
        timed_run(measure, programs[names[-1]], input_path, folder, console)
    shutil.rmtree(folder)
    for repeat in range(repeats):
        order = names if repeat % 2 == 0 else names[::-1]
        for name in order:
            folder = fresh_folder(work, "out")
            for mode in ("fresh", "existing"):
                run = timed_run(measure, programs[name], input_path, folder, console)
                if count_lines(console) != records:
                    sys.exit(f"whole_run: {name} did not print {records} names")
                results[mode][name].append(run)
                print(f"  repeat {repeat + 1} {name:6} {mode:8} wall {run[0]:7.2f} s"
                      f"  user {run[1]:6.2f} s  sys {run[2]:6.2f} s"
                      f"  max RSS {run[3]} KiB", flush=True)
            shutil.rmtree(folder)
    return results


def wall_ratios(pairs):
    """The median of the wall-clock ratios of (a, b) run pairs, and the ratio
    of the fastest runs: noise from other work on the machine only adds
    time, so the fastest runs give the second estimate."""
    median = statistics.median(a[0] / b[0] for a, b in pairs)
    fastest = min(a[0] for a, _ in pairs) / min(b[0] for _, b in pairs)
    return median, fastest


def summary(results, records):
    print()
    print(f"Medians over {len(results['fresh']['orbelm'])} alternating repetitions, "
          f"{records} records:")
    print(f"{'mode':10} {'ratio orbelm/floor':>18} {'of fastest':>10} {'orbelm wall':>12}"
          f" {'floor wall':>11} {'user/record beyond floor':>25} {'sys/record beyond floor':>24}")
    for mode, runs in results.items():
        pairs = list(zip(runs["orbelm"], runs["floor"]))
        ratio, fastest = wall_ratios(pairs)
        user = statistics.median((o[1] - f[1]) / records for o, f in pairs)
        system = statistics.median((o[2] - f[2]) / records for o, f in pairs)
        print(f"{mode:10} {ratio:18.3f} {fastest:10.3f} {statistics.median(o[0] for o, _ in pairs):10.2f} s"
              f" {statistics.median(f[0] for _, f in pairs):9.2f} s"
              f" {user * 1e6:22.3f} us {system * 1e6:21.3f} us")
    rss = [run[3] for mode in results.values() for run in mode["orbelm"]]
    return max(rss)


def main():
    measure, orbelm, floor, input_n, input_5n, work, repeats = sys.argv[1:8]
    measure = os.path.abspath(measure)
    programs = {"orbelm": os.path.abspath(orbelm), "floor": os.path.abspath(floor)}
    records = count_lines(input_n)
    results = compare(measure, programs, os.path.abspath(input_n), records, work, int(repeats))
    rss_n = summary(results, records)

    records_5n = count_lines(input_5n)
    folder = fresh_folder(work, "out")
    large = timed_run(measure, programs["orbelm"], os.path.abspath(input_5n), folder,
                      os.path.join(work, "console.txt"))
    shutil.rmtree(folder)
    print()
    print(f"orbelm peak resident memory: {rss_n} KiB for {records} records,"
          f" {large[3]} KiB for {records_5n} records"
          f" ({100.0 * (large[3] - rss_n) / rss_n:+.1f} %)")


if __name__ == "__main__":
    main()
