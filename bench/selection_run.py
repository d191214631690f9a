#!/usr/bin/env python3
"""A run that selects few records, side by side with its floor; or, with
--sky, what selecting by apparent magnitude costs a dry run.

orbelm converts the records of INPUT whose designations are listed
(--designations); every STEP-th record is listed, SELECTED in all. The
floor program reads INPUT once to its end and then creates the same
SELECTED element files from a file holding only those records: the least
such a run can cost. Both run alternately into a fresh folder, then over
the files the first run made, with the file system synced before every
run, after an uncounted warm-up run of each; each run is started by the
measuring helper (orbelm_measure).

Prints the wall-clock ratio orbelm/floor in each mode (the median of the
per-repetition ratios, and the ratio of the fastest runs) and the median
CPU time (user and system) of each program.

Usage: selection_run.py MEASURE ORBELM FLOOR INPUT WORK_FOLDER REPEATS SELECTED

With --sky, dry runs over INPUT (records of make_records.py --sky) into a
folder that does not exist, so that no file costs anything: without a sky
selection, and with --max-apparent-magnitude LIMIT over windows of 1, 30
and 365 days from DATE, rotating their order in each repetition after an
uncounted warm-up run of each. Prints, per window, the median wall clock
and CPU (user and system), the ratio to the run without the option (the
median of the per-repetition ratios, and that of the fastest runs), the CPU
per record it adds, the records selected and the peak resident memory.

Usage: selection_run.py --sky MEASURE ORBELM INPUT WORK_FOLDER REPEATS
                        [LIMIT [DATE]]       (defaults: 18, 2026-12-11)
"""

import os
import shutil
import statistics
import subprocess
import sys

from whole_run import wall_ratios


def measured_run(measure, arguments, folder, console_path):
    """One run in `folder`; returns (wall, user + system CPU) in seconds and
    the peak resident memory in KiB."""
    result_path = console_path + ".measured"
    os.sync()
    with open(console_path, "wb") as console:
        status = subprocess.run([measure, result_path] + arguments, cwd=folder,
                                stdin=subprocess.DEVNULL, stdout=console,
                                check=False).returncode
    if status != 0:
        sys.exit(f"selection_run: {arguments[0]} failed with status {status}")
    with open(result_path) as result:
        wall, user, system, peak = result.read().split()[:4]
    return float(wall), float(user) + float(system), int(peak)


def timed_run(measure, arguments, folder, console_path):
    """One run in `folder`; returns (wall, user + system CPU) in seconds."""
    return measured_run(measure, arguments, folder, console_path)[:2]


def fresh_folder(work):
    folder = os.path.join(work, "out")
    shutil.rmtree(folder, ignore_errors=True)
    os.sync()
    os.mkdir(folder)
    return folder


def selected_records(input_path, work, selected):
    """Writes the list and the selected records; returns their paths."""
    with open(input_path, "rb") as f:
        total = sum(1 for _ in f)
    step = max(1, total // selected)
    list_path = os.path.join(work, "selected-list.txt")
    records_path = os.path.join(work, "selected-records.txt")
    count = 0
    with open(input_path, "rb") as f, open(list_path, "wb") as names, \
            open(records_path, "wb") as records:
        for index, line in enumerate(f):
            if index % step == 0 and count < selected:
                names.write(line.split()[0] + b"\n")
                records.write(line)
                count += 1
    return total, count, list_path, records_path


def sky_main(arguments):
    measure, orbelm, input_path, work, repeats = arguments[:5]
    limit = arguments[5] if len(arguments) > 5 else "18"
    date = arguments[6] if len(arguments) > 6 else "2026-12-11"
    measure, input_path = os.path.abspath(measure), os.path.abspath(input_path)
    with open(input_path, "rb") as f:
        total = sum(1 for _ in f)
    missing = os.path.join(work, "no-such-folder")
    plain = [os.path.abspath(orbelm), "--dry-run", "-o", missing, input_path]
    programs = {"none": plain}
    for days in ("1", "30", "365"):
        programs[days + " days"] = plain + [
            "--max-apparent-magnitude", limit, "--date", date, "--days", days]
    console = os.path.join(work, "console.txt")
    for arguments_of in programs.values():  # warm-up, not counted
        measured_run(measure, arguments_of, work, console)
    runs = {name: [] for name in programs}
    selected = {}
    names = list(programs)
    for repeat in range(int(repeats)):
        shift = repeat % len(names)
        for name in names[shift:] + names[:shift]:
            wall, cpu, peak = measured_run(measure, programs[name], work, console)
            with open(console, "rb") as f:
                selected[name] = sum(1 for _ in f)
            runs[name].append((wall, cpu, peak))
            print(f"  repeat {repeat + 1} {name:8} wall {wall:7.3f} s  CPU {cpu:6.3f} s"
                  f"  peak {peak} KiB  {selected[name]} selected", flush=True)
    print()
    print(f"Dry runs over {total} records, V <= {limit} from {date}, medians over"
          f" {repeats} rotating repetitions:")
    print(f"{'window':10} {'wall':>8} {'CPU':>8} {'ratio':>6} {'of fastest':>10}"
          f" {'CPU/record added':>16} {'selected':>9} {'peak KiB':>9}")
    base = runs["none"]
    for name, measured in runs.items():
        ratio, fastest = wall_ratios(list(zip(measured, base)))
        added = (statistics.median(m[1] for m in measured) -
                 statistics.median(b[1] for b in base)) / total * 1e6
        print(f"{name:10} {statistics.median(m[0] for m in measured):6.3f} s"
              f" {statistics.median(m[1] for m in measured):6.3f} s {ratio:6.3f}"
              f" {fastest:10.3f} {added:13.2f} µs {selected[name]:9d}"
              f" {max(m[2] for m in measured):9d}")


def main():
    if sys.argv[1:2] == ["--sky"]:
        sky_main(sys.argv[2:])
        return
    measure, orbelm, floor, input_path, work, repeats, selected = sys.argv[1:8]
    measure, input_path = os.path.abspath(measure), os.path.abspath(input_path)
    total, count, list_path, records_path = selected_records(
        input_path, work, int(selected))
    programs = {
        "orbelm": [os.path.abspath(orbelm), "--designations", list_path, input_path],
        "floor": [os.path.abspath(floor), records_path, input_path],
    }
    console = os.path.join(work, "console.txt")
    print(f"  selecting {count} of {total} records", flush=True)
    for name in ("orbelm", "floor"):  # warm-up, not counted
        timed_run(measure, programs[name], fresh_folder(work), console)
    walls = {mode: {name: [] for name in programs} for mode in ("fresh", "existing")}
    for repeat in range(int(repeats)):
        order = ["orbelm", "floor"] if repeat % 2 == 0 else ["floor", "orbelm"]
        for name in order:
            folder = fresh_folder(work)
            for mode in ("fresh", "existing"):
                wall, cpu = timed_run(measure, programs[name], folder, console)
                with open(console, "rb") as f:
                    if sum(1 for _ in f) != count:
                        sys.exit(f"selection_run: {name} did not print {count} names")
                walls[mode][name].append((wall, cpu))
                print(f"  repeat {repeat + 1} {name:6} {mode:8} wall {wall:7.3f} s"
                      f"  CPU {cpu:6.3f} s", flush=True)
    shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
    print()
    print(f"Selecting {count} of {total} records, medians over {repeats} alternating"
          " repetitions:")
    print(f"{'mode':10} {'ratio orbelm/floor':>18} {'of fastest':>10}"
          f" {'orbelm wall':>12} {'floor wall':>11} {'orbelm CPU':>11} {'floor CPU':>10}")
    for mode, runs in walls.items():
        pairs = list(zip(runs["orbelm"], runs["floor"]))
        ratio, fastest = wall_ratios(pairs)
        print(f"{mode:10} {ratio:18.3f} {fastest:10.3f}"
              f" {statistics.median(o[0] for o, _ in pairs):10.3f} s"
              f" {statistics.median(f[0] for _, f in pairs):9.3f} s"
              f" {statistics.median(o[1] for o, _ in pairs):9.3f} s"
              f" {statistics.median(f[1] for _, f in pairs):8.3f} s")


if __name__ == "__main__":
    main()
