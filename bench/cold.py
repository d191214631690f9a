#!/usr/bin/env python3
"""An unchanged refresh with the page cache dropped first (cold) and with
the files in memory (warm): orbelm, which reads the existing files ahead of
its run in worker threads, against the comparing floor (orbelm_floor
--compare: read each file, write only those that differ) run as one
process and as 32 processes over consecutive slices of the input, all in
one folder of the floor's.

Each program refreshes a folder of its own that holds the files of the same
input already (made before the sitting, not timed), so no file changes:
the runs only read. A cold run drops the page cache first (sync, then
echo 3 > /proc/sys/vm/drop_caches, which needs root; without it the cold
runs are skipped with a message); every run is timed with its sync. The
order of the programs rotates from one repetition to the next; the warm
runs of a repetition follow an untimed run in each folder.

Usage: cold.py MEASURE ORBELM FLOOR INPUT WORK_FOLDER REPEATS [JOBS...]
JOBS: further orbelm --jobs values to run beside the default.
Environment: ORBELM_BENCH_BASELINE, another orbelm program (a build of an
earlier commit) run in orbelm's folder beside it, as "baseline".
"""

import os
import shutil
import statistics
import subprocess
import sys

import refresh

SLICES = 32
DROP = "/proc/sys/vm/drop_caches"


def can_drop():
    try:
        with open(DROP, "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def drop_caches():
    os.sync()
    with open(DROP, "w") as f:
        f.write("3\n")


def slices(input_path, work):
    """The input cut into SLICES files of consecutive lines."""
    with open(input_path, "rb") as f:
        lines = f.readlines()
    size = -(-len(lines) // SLICES)
    paths = []
    for i in range(SLICES):
        path = os.path.join(work, f"cold-slice-{i:02d}.txt")
        with open(path, "wb") as f:
            f.writelines(lines[i * size:(i + 1) * size])
        paths.append(path)
    return paths


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    measure, orbelm, floor, input_path, work, repeats = sys.argv[1:7]
    measure, orbelm, floor, input_path, work = (
        os.path.abspath(p) for p in (measure, orbelm, floor, input_path, work))
    records = refresh.count_lines(input_path)
    parts = slices(input_path, work)
    parallel = " ".join(f"'{floor}' --compare '{p}' &" for p in parts) + " wait"
    programs = {"orbelm": [orbelm, input_path]}
    for jobs in sys.argv[7:]:
        programs[f"orbelm -j{jobs}"] = [orbelm, "--jobs", jobs, input_path]
    if os.environ.get("ORBELM_BENCH_BASELINE"):
        baseline = os.path.abspath(os.environ["ORBELM_BENCH_BASELINE"])
        programs["orbelm baseline"] = [baseline, input_path]
    programs["floor x1"] = [floor, "--compare", input_path]
    programs[f"floor x{SLICES}"] = ["/bin/sh", "-c", parallel]
    folders = {"orbelm": os.path.join(work, "cold-orbelm"),
               "floor": os.path.join(work, "cold-floor")}
    for name, folder in folders.items():
        os.mkdir(folder)
        made = [orbelm if name == "orbelm" else floor, input_path]
        subprocess.run(made, cwd=folder, stdout=subprocess.DEVNULL, check=True)
    stat_path = refresh.device_counter(work)
    result_path = os.path.join(work, "cold.measured")
    cold = can_drop()
    if not cold:
        print(f"  cannot write {DROP} (not root?): the cold runs are skipped",
              flush=True)
    modes = (["cold"] if cold else []) + ["warm"]
    times = {mode: {name: [] for name in programs} for mode in modes}
    names = list(programs)
    try:
        for repeat in range(int(repeats)):
            shift = repeat % len(names)
            for mode in modes:
                if mode == "warm":  # the cold runs left the folders out of memory
                    for name in ("orbelm", "floor x1"):
                        refresh.synced_run(measure, programs[name],
                                           folders[name.split()[0]], result_path,
                                           stat_path)
                for name in names[shift:] + names[:shift]:
                    folder = folders["orbelm" if name.startswith("orbelm") else "floor"]
                    if mode == "cold":
                        drop_caches()
                    run = refresh.synced_run(measure, programs[name], folder,
                                             result_path, stat_path)
                    if run.disk:
                        print(f"  note: {run.disk} bytes reached the disk", flush=True)
                    times[mode][name].append(run.total)
                    print(f"  repeat {repeat + 1} {mode} {name:12} {run.total:8.2f} s"
                          f" (CPU {run.cpu:6.2f} s, peak {run.rss} KiB)", flush=True)
    finally:
        for folder in folders.values():
            shutil.rmtree(folder, ignore_errors=True)
        for path in parts + [result_path]:
            if os.path.exists(path):
                os.remove(path)
    print()
    print(f"Medians over {repeats} rotating repetitions, {records} unchanged files:")
    for mode in modes:
        for name in names:
            print(f"  {mode} {name:12} {statistics.median(times[mode][name]):8.2f} s"
                  f"  (fastest {min(times[mode][name]):7.2f} s)")

    def ratio(label, a, b, target, holds):
        value = statistics.median(a) / statistics.median(b)
        print(f"  {label:48} {value:7.3f}  target {target}:"
              f" {'met' if holds(value) else 'NOT met'}")

    print()
    many = f"floor x{SLICES}"
    for mode in modes:
        t = times[mode]
        if mode == "cold":
            ratio(f"cold: orbelm / floor x{SLICES}", t["orbelm"], t[many], "<= 1.25",
                  lambda v: v <= 1.25)
            ratio("cold: floor x1 / orbelm", t["floor x1"], t["orbelm"], ">= 2.5",
                  lambda v: v >= 2.5)
        else:
            ratio("warm: floor x1 / orbelm", t["floor x1"], t["orbelm"], ">= 1.5",
                  lambda v: v >= 1.5)
        if "orbelm baseline" in t:
            value = statistics.median(t["orbelm"]) / statistics.median(t["orbelm baseline"])
            print(f"  {mode + ': orbelm / baseline':48} {value:7.3f}")


if __name__ == "__main__":
    main()
