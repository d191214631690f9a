#!/usr/bin/env python3
"""Whole runs of orbelm from a gzip file side by side with the same runs
from the plain file.

Each repetition runs orbelm on both inputs, each into a new empty folder of
its own, the order alternating from one repetition to the next, the file
system synced before every run (see whole_run.py, whose helpers this uses).
Folders are removed only at the end, after a pause at the start: ext4
without a journal skips inodes freed in the last minute when it creates
files, which made a fresh run right after a removal up to ten times slower.
An uncounted run from the plain file comes first. Then orbelm runs once from
the gzip file of 5 N records for its peak resident memory.

Prints the median of the per-repetition wall-clock ratios gzip/plain, the
ratio of the fastest runs, the user CPU per record that decompression adds,
and the peak resident memory from gzip for N and 5 N records.

Usage: gzip_run.py MEASURE ORBELM PLAIN_N GZIP_N GZIP_5N WORK_FOLDER REPEATS
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

from whole_run import count_lines, fresh_folder, timed_run, wall_ratios


def main():
    measure, orbelm, plain, packed, packed_5n, work, repeats = sys.argv[1:8]
    measure, orbelm = os.path.abspath(measure), os.path.abspath(orbelm)
    inputs = {"plain": os.path.abspath(plain), "gzip": os.path.abspath(packed)}
    records = count_lines(plain)
    console = os.path.join(work, "console.txt")
    print("  waiting 61 s: inodes freed in the last minute slow file creation",
          flush=True)
    time.sleep(61)
    timed_run(measure, orbelm, inputs["plain"], fresh_folder(work, "out-warm-up"),
              console)
    runs = {name: [] for name in inputs}
    for repeat in range(int(repeats)):
        order = list(inputs) if repeat % 2 == 0 else list(inputs)[::-1]
        for name in order:
            folder = fresh_folder(work, f"out-{repeat + 1}-{name}")
            run = timed_run(measure, orbelm, inputs[name], folder, console)
            if count_lines(console) != records:
                sys.exit(f"gzip_run: the {name} run did not print {records} names")
            runs[name].append(run)
            print(f"  repeat {repeat + 1} {name:5} wall {run[0]:7.2f} s"
                  f"  user {run[1]:6.2f} s  sys {run[2]:6.2f} s"
                  f"  max RSS {run[3]} KiB", flush=True)
    pairs = list(zip(runs["gzip"], runs["plain"]))
    ratio, fastest = wall_ratios(pairs)
    user = statistics.median((g[1] - p[1]) / records for g, p in pairs)
    print()
    print(f"Fresh folder, {records} records, {len(pairs)} alternating pairs:"
          f" wall gzip/plain median {ratio:.3f}, of fastest {fastest:.3f};"
          f" user CPU added by gzip {user * 1e6:.3f} us/record")

    folder = fresh_folder(work, "out-5n")
    large = timed_run(measure, orbelm, os.path.abspath(packed_5n), folder, console)
    rss_n = max(run[3] for run in runs["gzip"])
    print(f"orbelm peak resident memory from gzip: {rss_n} KiB for {records}"
          f" records, {large[3]} KiB for {count_lines(console)} records")
    for entry in os.listdir(work):
        if entry.startswith("out-"):
            shutil.rmtree(os.path.join(work, entry), ignore_errors=True)


if __name__ == "__main__":
    main()
