#!/usr/bin/env python3
"""The refresh with the record of file states (the quick check) against an
earlier build, in one sitting: an unchanged refresh cold (page cache
dropped first) and warm, with the default jobs and with --jobs 1; the same
beside a CPU hog (one busy loop per core) at the run's priority and at the
lowest; a refresh without a record (--read-all, as the first after an
upgrade); and a refresh in which every line changed.

Each program works in a folder of its own holding the files of the same
input; orbelm's holds a settled record (made by a run more than two seconds
after the files were written). The order of the programs rotates from one
repetition to the next. Every run is timed with its sync (see refresh.py).

Usage: quick_check.py MEASURE ORBELM BASELINE INPUT WORK REPEATS [PARTS]
PARTS: any of "quiet hog first changed" (default: all).
Needs root for the cold runs (drop_caches); without it they are skipped.
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

import cold
import refresh


def hogs(niceness):
    """One busy loop per core at `niceness`."""
    loop = ["nice", "-n", str(niceness), "sh", "-c", "while :; do :; done"]
    return [subprocess.Popen(loop) for _ in range(os.cpu_count() or 1)]


def stop(processes):
    for process in processes:
        process.kill()
        process.wait()


def changed_input(input_path, work):
    """The input with every record's mean anomaly (columns 27-35) moved."""
    path = os.path.join(work, "changed.txt")
    with open(input_path, "rb") as source, open(path, "wb") as target:
        for line in source:
            anomaly = float(line[26:35]) + 0.5
            target.write(line[:26] + b"%9.5f" % (anomaly % 360) + line[35:])
    return path


class Sitting:
    def __init__(self, measure, work):
        self.measure, self.work = measure, work
        self.stat_path = refresh.device_counter(work)
        self.result_path = os.path.join(work, "quick.measured")
        self.cold = cold.can_drop()
        self.times = {}

    def run(self, label, command, folder, mode):
        if mode == "cold":
            cold.drop_caches()
        result = refresh.synced_run(self.measure, command, folder,
                                    self.result_path, self.stat_path)
        self.times.setdefault(label, []).append(result.total)
        print(f"  {label:40} {result.total:8.2f} s (CPU {result.cpu:6.2f} s,"
              f" peak {result.rss} KiB)", flush=True)

    def rotate(self, repeat, programs, mode, tag=""):
        """Each of `programs` ({label: (command, folder)}) once, in an order
        that rotates with `repeat`; warm runs follow an untimed one."""
        names = list(programs)
        shift = repeat % len(names)
        for name in names[shift:] + names[:shift]:
            command, folder = programs[name]
            if mode == "warm":
                refresh.synced_run(self.measure, command, folder,
                                   self.result_path, self.stat_path)
            self.run(f"{mode}{tag} {name}", command, folder, mode)

    def ratio(self, label, a, b, target=None):
        if a not in self.times or b not in self.times:
            return
        value = statistics.median(self.times[a]) / statistics.median(self.times[b])
        note = f"  target {target}" if target else ""
        print(f"  {label:56} {value:7.3f}{note}")


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    measure, orbelm, baseline, input_path, work = (
        os.path.abspath(p) for p in sys.argv[1:6])
    repeats = int(sys.argv[6])
    parts = sys.argv[7].split() if len(sys.argv) > 7 else [
        "quiet", "hog", "first", "changed"]
    sitting = Sitting(measure, work)
    modes = (["cold"] if sitting.cold else []) + ["warm"]
    if not sitting.cold:
        print("  cannot drop the page cache (not root?): warm runs only")
    new_folder = os.path.join(work, "quick-orbelm")
    old_folder = os.path.join(work, "quick-baseline")
    for folder, program in ((new_folder, orbelm), (old_folder, baseline)):
        os.mkdir(folder)
        subprocess.run([program, input_path], cwd=folder,
                       stdout=subprocess.DEVNULL, check=True)
    time.sleep(2.1)  # files written less than 2 s before a look are not recorded
    subprocess.run([orbelm, input_path], cwd=new_folder,
                   stdout=subprocess.DEVNULL, check=True)
    new = {"orbelm": ([orbelm, input_path], new_folder),
           "orbelm -j1": ([orbelm, "--jobs", "1", input_path], new_folder)}
    old = {"baseline": ([baseline, input_path], old_folder)}
    try:
        for repeat in range(repeats):
            print(f"repeat {repeat + 1}", flush=True)
            for mode in modes:
                if "quiet" in parts:
                    sitting.rotate(repeat, {**new, **old}, mode)
                if "first" in parts:
                    sitting.rotate(repeat, {
                        "orbelm --read-all": ([orbelm, "--read-all", input_path],
                                              new_folder), **old}, mode)
                if "hog" in parts:
                    for niceness in (0, 19):
                        busy = hogs(niceness)
                        try:
                            sitting.rotate(repeat, new, mode, f" hog{niceness}")
                        finally:
                            stop(busy)
            if "changed" in parts:
                changed = changed_input(input_path, work)
                for step, path in enumerate((changed, input_path)):
                    sitting.rotate(repeat + step, {
                        "orbelm": ([orbelm, path], new_folder),
                        "baseline": ([baseline, path], old_folder)},
                        "all-changed", "")
                os.remove(changed)
                # Every file was written: settle them and record them again.
                time.sleep(2.1)
                subprocess.run([orbelm, input_path], cwd=new_folder,
                               stdout=subprocess.DEVNULL, check=True)
    finally:
        for folder in (new_folder, old_folder):
            shutil.rmtree(folder, ignore_errors=True)
        if os.path.exists(sitting.result_path):
            os.remove(sitting.result_path)
    print()
    print(f"Medians over {repeats} repetitions, "
          f"{refresh.count_lines(input_path)} records:")
    for label, values in sitting.times.items():
        print(f"  {label:40} {statistics.median(values):8.2f} s"
              f"  (runs {min(values):.2f}-{max(values):.2f} s)")
    print()
    for mode in modes:
        sitting.ratio(f"{mode}: orbelm / baseline", f"{mode} orbelm",
                      f"{mode} baseline",
                      "<= 0.45" if mode == "cold" else "<= 0.6")
        sitting.ratio(f"{mode}: orbelm / orbelm -j1", f"{mode} orbelm",
                      f"{mode} orbelm -j1")
        sitting.ratio(f"{mode}: orbelm --read-all / baseline",
                      f"{mode} orbelm --read-all", f"{mode} baseline", "<= 1.0")
        for niceness in (0, 19):
            sitting.ratio(f"{mode} beside busy loops at nice {niceness}:"
                          " orbelm / -j1", f"{mode} hog{niceness} orbelm",
                          f"{mode} hog{niceness} orbelm -j1", "<= 1.1")
    sitting.ratio("every line changed: orbelm / baseline", "all-changed orbelm",
                  "all-changed baseline", "<= 1.05")


if __name__ == "__main__":
    main()
