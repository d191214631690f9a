#!/usr/bin/env python3
"""A refresh at scale: orbelm against the floor programs, write-back included.

Each repetition runs every program twice on the same input: into a fresh
empty folder, then again in that folder over the files its first run made
(the monthly refresh of a folder of element files). The programs are
orbelm, the in-place floor (orbelm_floor: create, no truncation, write,
cut when longer, close) and, unless left out, the truncating floor
(orbelm_floor --truncate: open with truncation, write, close); their order
rotates from one repetition to the next, after an uncounted fresh run of
the in-place floor that brings the file system into its steady state. The
file system is synced before every run, and every run's time includes the
sync after it, so that each run pays for the write-back of exactly what it
left. The sync covers the whole machine: other work that writes to disk at
the same time adds to it.

Every run gets a folder of its own, and all are removed only at the end:
ext4 without a journal skips inodes freed in the last 60 seconds when it
allocates new ones, and on this machine a fresh run right after the removal
of 300,000 files took ten times as long (400 us of system time per file),
for any program. For the same reason the sitting starts with a pause of
61 seconds, in case files were removed just before it.

Prints every run, then medians over the repetitions of the ratios taken per
repetition (and the ratios of the fastest runs): orbelm / in-place floor,
fresh and replacing, and truncating floor / orbelm, replacing.

Usage: refresh.py MEASURE ORBELM FLOOR INPUT WORK_FOLDER REPEATS [--no-truncating]
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

MODES = ("fresh", "replacing")


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))


def synced_run(measure, command, folder, console_path):
    """One run in `folder`; returns wall seconds of the run plus its sync."""
    result_path = console_path + ".measured"
    os.sync()
    start = time.monotonic()
    with open(console_path, "wb") as console:
        status = subprocess.run([measure, result_path, *command], cwd=folder,
                                stdin=subprocess.DEVNULL, stdout=console,
                                check=False).returncode
    sync_start = time.monotonic()
    os.sync()
    end = time.monotonic()
    if status != 0:
        sys.exit(f"refresh: {command} failed with status {status}")
    return end - start, end - sync_start


def remove_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.sync()


def new_folder(work, name):
    folder = os.path.join(work, name)
    os.mkdir(folder)
    return folder


def measure_all(measure, programs, input_path, records, work, repeats):
    """times[mode][name] = list of seconds (run + sync), one per repetition."""
    times = {mode: {name: [] for name in programs} for mode in MODES}
    console = os.path.join(work, "console.txt")
    names = list(programs)
    print("  waiting 61 s: inodes freed in the last minute slow file creation",
          flush=True)
    time.sleep(61)
    # The first run of a sitting pays for bringing the file system into its
    # steady state (inode tables, directory blocks) and is not counted.
    synced_run(measure, programs["in-place"] + [input_path],
               new_folder(work, "refresh-warm-up"), console)
    for repeat in range(repeats):
        shift = repeat % len(names)
        for name in names[shift:] + names[:shift]:
            folder = new_folder(work, f"refresh-{repeat + 1}-{name}")
            for mode in MODES:
                total, sync = synced_run(measure, programs[name] + [input_path],
                                         folder, console)
                if count_lines(console) != records:
                    sys.exit(f"refresh: {name} did not print {records} names")
                times[mode][name].append(total)
                print(f"  repeat {repeat + 1} {name:10} {mode:9} {total:8.2f} s"
                      f" (sync {sync:6.2f} s)", flush=True)
    for entry in os.listdir(work):
        if entry.startswith("refresh-"):
            remove_folder(os.path.join(work, entry))
    return times


def ratio_line(label, numerator, denominator, target):
    ratio = statistics.median(n / d for n, d in zip(numerator, denominator))
    fastest = min(numerator) / min(denominator)
    print(f"  {label:44} {ratio:7.3f}  (fastest runs {fastest:6.3f}; target {target})")


def summary(times, records):
    repeats = len(times["fresh"]["orbelm"])
    print()
    print(f"Medians over {repeats} rotating repetitions, {records} records,"
          " each run with its sync:")
    for mode in MODES:
        for name, runs in times[mode].items():
            print(f"  {mode:9} {name:10} {statistics.median(runs):8.2f} s"
                  f"  (fastest {min(runs):.2f} s)")
    ratio_line("fresh: orbelm / in-place floor", times["fresh"]["orbelm"],
               times["fresh"]["in-place"], "<= 1.05")
    ratio_line("replacing: orbelm / in-place floor", times["replacing"]["orbelm"],
               times["replacing"]["in-place"], "<= 1.10")
    if "truncating" in times["replacing"]:
        ratio_line("replacing: truncating floor / orbelm",
                   times["replacing"]["truncating"], times["replacing"]["orbelm"],
                   ">= 5")


def main():
    if len(sys.argv) not in (7, 8) or sys.argv[7:] not in ([], ["--no-truncating"]):
        sys.exit(__doc__)
    measure, orbelm, floor, input_path, work, repeats = sys.argv[1:7]
    floor = os.path.abspath(floor)
    programs = {"orbelm": [os.path.abspath(orbelm)], "in-place": [floor]}
    if sys.argv[7:] != ["--no-truncating"]:
        programs["truncating"] = [floor, "--truncate"]
    records = count_lines(input_path)
    times = measure_all(os.path.abspath(measure), programs,
                        os.path.abspath(input_path), records, work, int(repeats))
    summary(times, records)


if __name__ == "__main__":
    main()
