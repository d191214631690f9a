#!/usr/bin/env python3
"""Refreshing a folder of element files: orbelm against the floor programs,
write-back included, with none, a tenth and all of the lines changed.

Each program works in a folder of its own in every repetition and runs
there, in turn:

  fresh         INPUT_A into the empty folder;
  unchanged     INPUT_A again, over the files of the fresh run;
  tenth         INPUT_B, in which a tenth of the records differ from
                INPUT_A, so a tenth of the files change;
  all           INPUT_C, in which every record differs from INPUT_B.

The programs are orbelm, the in-place floor (orbelm_floor: create, no
truncation, write, cut when longer, close: what orbelm did before it
compared), the comparing floor (orbelm_floor --compare: read each file
without touching its access time and write only those that differ) and,
with --truncating, the truncating floor (orbelm_floor --truncate: open with
truncation, write, close); when orbelm has --jobs, orbelm --jobs 1 as well
(orbelm-j1: one thread, no look-ahead). A folder of its own per program matters beyond
tidiness: a file that one program rewrote has its access time updated by
the next plain read (relatime), so programs sharing files would pay for
each other's writes. The order of the programs rotates from one
repetition to the next, after an uncounted fresh run of the in-place floor
that brings the file system into its steady state.

Then, at the end of the repetition, orbelm alone runs twice more in its
folder, which holds the files of INPUT_C: once more over INPUT_C as it is
(again: no line changes), then, after 10,000 stale element files that no
record names were added to the folder (not timed), with --prune over
INPUT_C (prune), which removes them. The same 10,000 files are then
added once more and removed by the script, one unlink each, timed the same
way (unlink alone): the least that removing them costs, which shows how
much of what --prune adds is the file system's. (Here, ext4 without a
journal mounted with discard, an unlink waits for the discard of the
file's block: 100-200 us.) The prune runs are skipped, with a note, when
`orbelm --help` does not mention --prune.

The file system is synced before every run, and every run's time includes
the sync after it, so that each run pays for the write-back of exactly what
it left. The sync covers the whole machine: other work that writes to disk
at the same time adds to it. Besides its time, each run shows the bytes
written to the block device that holds WORK_FOLDER (its sectors-written
counter in /sys, read after the sync before the run and after the sync
that ends it; this too counts every writer on the machine) and the bytes
the program itself dirtied (write_bytes from /proc/PID/io, through
orbelm_measure). The names a program prints go to a pipe, not to a file,
and the measuring helper's result file goes to /dev/shm where there is
one, so that neither is counted among the bytes written.

ext4 without a journal skips inodes freed in the last 60 seconds when it
allocates new ones, and on this machine a fresh run right after the removal
of 300,000 files took ten times as long (400 us of system time per file),
for any program. So folders are removed only at the end, the sitting
starts with a pause of 61 seconds, in case files were removed just before
it, and after the prune runs (which remove 10,000 files) the next
repetition starts after another such pause. When the disk cannot hold the
folders of all repetitions at once (each file takes a block of 4 KiB and an
inode), each repetition's folders are removed at its end instead, before
that pause.

After every run the script checks that the folder holds one element file
per record (and, after pruning, no stale one), that a sample of the files
(one record in about 200, read without touching their access times) holds
the line expected from the run's input, and that each floor printed one
name per record. orbelm's expected lines come from its own runs over the
sampled records into scratch folders before the sitting.

Prints every run, then medians over the repetitions of the ratios taken per
repetition (and the ratios of the fastest runs) against their targets, and
the ratios of the median bytes written.

Usage: refresh.py MEASURE ORBELM FLOOR INPUT_A INPUT_B INPUT_C WORK_FOLDER
                  REPEATS [--truncating]
Environment: ORBELM_BENCH_PAUSE  seconds of each pause (default 61; a
             shorter one is for trying the script out, not for figures)
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

PHASES = (  # (key, input, what is printed)
    ("fresh", "A", "fresh"),
    ("unchanged", "A", "unchanged"),
    ("tenth", "B", "10 % changed"),
    ("all", "C", "all changed"),
)
PRUNE_PHASES = (("again", "C", "C again"), ("prune", "C", "prune"))
LABELS = {key: label for key, _, label in PHASES + PRUNE_PHASES}
LABELS["unlink"] = "unlink alone"
STALE_FILES = 10000
SAMPLES = 200  # about this many files checked after every run
LINE_SIZE = 146  # the floor's line: a record's first 145 columns, a newline
BLOCK = 4096  # what one element file takes on disk, besides its inode


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))


def pause(seconds, why):
    if seconds > 0:
        print(f"  waiting {seconds:g} s: {why}", flush=True)
        time.sleep(seconds)


def device_counter(work):
    """The /sys stat file of the block device that holds `work`, or None."""
    device = os.stat(work).st_dev
    path = f"/sys/dev/block/{os.major(device)}:{os.minor(device)}/stat"
    return path if os.path.exists(path) else None


def sectors_written(stat_path):
    if stat_path is None:
        return None
    with open(stat_path) as f:
        return int(f.read().split()[6])  # in units of 512 bytes


class Run:
    """What one run cost: seconds with its sync, the sync alone, the CPU
    seconds of the program, bytes written to the device (None when not
    measured), bytes the program dirtied (None when not measured), the
    names it printed, what it wrote on standard error and its peak resident
    memory in KiB (None for the script's own unlinks)."""

    def __init__(self, total, sync, cpu, disk, dirtied, names, message,
                 rss=None):
        self.total, self.sync, self.cpu = total, sync, cpu
        self.disk, self.dirtied = disk, dirtied
        self.names, self.message, self.rss = names, message, rss


def synced_run(measure, command, folder, result_path, stat_path):
    """One run in `folder`, the file system synced before it; its time
    includes the sync after it."""
    os.sync()
    before = sectors_written(stat_path)
    start = time.monotonic()
    process = subprocess.Popen([measure, result_path, *command], cwd=folder,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    names, message = process.communicate()
    sync_start = time.monotonic()
    os.sync()
    end = time.monotonic()
    after = sectors_written(stat_path)
    message = message.decode(errors="replace").strip()
    if process.returncode != 0:
        sys.exit(f"refresh: {command} failed with status {process.returncode}"
                 f"{': ' + message if message else ''}")
    with open(result_path) as result:
        fields = result.read().split()
    dirtied = int(fields[4]) if len(fields) > 4 and int(fields[4]) >= 0 else None
    return Run(end - start, end - sync_start, float(fields[1]) + float(fields[2]),
               None if before is None else (after - before) * 512, dirtied,
               names.count(b"\n"), message, int(fields[3]))


def read_quietly(path):
    """A file's bytes, read without updating its access time where allowed."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NOATIME)
    except PermissionError:
        descriptor = os.open(path, os.O_RDONLY)
    try:
        return os.read(descriptor, 1 << 16)
    finally:
        os.close(descriptor)


def file_name(record):
    return record.split(b" ", 1)[0].decode() + ".elm"


def floor_line(record):
    return record.rstrip(b"\r\n")[:LINE_SIZE - 1].ljust(LINE_SIZE - 1) + b"\n"


def sample_records(inputs, records):
    """sample[input][file name] = the record, for one record in every step."""
    step = max(1, records // SAMPLES)
    sample = {}
    for key, path in inputs.items():
        with open(path, "rb") as f:
            sample[key] = {file_name(line): line for index, line in enumerate(f)
                           if index % step == 0}
    return sample


def orbelm_lines(orbelm, sample, work):
    """expected[input][file name] = orbelm's element file for that record,
    from a run over the sampled records alone in a scratch folder."""
    expected = {}
    for key, chosen in sample.items():
        folder = os.path.join(work, f"refresh-sample-{key}")
        os.mkdir(folder)
        with open(os.path.join(folder, "records.txt"), "wb") as f:
            f.writelines(chosen.values())
        subprocess.run([orbelm, "records.txt"], cwd=folder, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        expected[key] = {name: read_quietly(os.path.join(folder, name))
                         for name in chosen}
        shutil.rmtree(folder)
    return expected


def check_folder(folder, expected, records, label):
    """The folder holds one element file per record, and the sampled ones
    hold their expected lines."""
    count = sum(1 for entry in os.scandir(folder) if entry.name.endswith(".elm"))
    if count != records:
        sys.exit(f"refresh: {label}: {count} element files in {folder},"
                 f" not {records}")
    for name, line in expected.items():
        if read_quietly(os.path.join(folder, name)) != line:
            sys.exit(f"refresh: {label}: {name} does not hold the line of its record")


def add_stale_files(folder, line):
    """Element files that no record names (a designation of S and six
    digits is neither a packed number nor a packed provisional one)."""
    names = {f"S{index:06d}.elm" for index in range(STALE_FILES)}
    for name in names:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(line)
    os.sync()
    return names


def timed_removal(folder, names, stat_path):
    """Removes the named files one unlink each, timed like a run with the
    syncs around it: the least that removing them costs."""
    os.sync()
    before = sectors_written(stat_path)
    start = time.monotonic()
    for name in names:
        os.unlink(os.path.join(folder, name))
    sync_start = time.monotonic()
    os.sync()
    end = time.monotonic()
    after = sectors_written(stat_path)
    return Run(end - start, end - sync_start, 0.0,
               None if before is None else (after - before) * 512, None,
               0, "")


def remove_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.sync()


def megabytes(value):
    return "      n/a" if value is None else f"{value / 1e6:9.1f}"


def print_run(repeat, name, key, run, records):
    names = "" if run.names == records else f"  ({run.names} names printed)"
    print(f"  repeat {repeat + 1} {name:10} {LABELS[key]:12} {run.total:8.2f} s"
          f" (sync {run.sync:6.2f} s, CPU {run.cpu:6.2f} s)"
          f"  disk {megabytes(run.disk)} MB  dirtied {megabytes(run.dirtied)} MB"
          f"{'' if run.rss is None else f'  peak {run.rss} KiB'}{names}",
          flush=True)
    if run.message:
        print(f"      standard error: {run.message}", flush=True)


def folders_fit(work, records, programs, repeats):
    """Whether the folders of every repetition fit on the disk at once,
    with a tenth to spare; also whether one repetition's do."""
    disk = os.statvfs(work)
    free_bytes = disk.f_bavail * disk.f_frsize
    free_inodes = disk.f_favail

    def fits(folders):
        files = folders * records + STALE_FILES
        return files * BLOCK * 1.1 < free_bytes and files * 1.1 < free_inodes

    return fits(programs * repeats + 1), fits(programs + 1)


def measure_all(measure, orbelm, programs, inputs, records, work, repeats, prune,
                result_path):
    """runs[key][name] = list of Run, one per repetition."""
    keys = [key for key, _, _ in PHASES] + ([key for key, _, _ in PRUNE_PHASES]
                                            if prune else [])
    runs = {key: {name: [] for name in programs} for key in keys}
    if prune:
        runs["unlink"] = {"os.unlink": []}
    names = list(programs)
    waiting = float(os.environ.get("ORBELM_BENCH_PAUSE", "61"))
    stat_path = device_counter(work)
    if stat_path is None:
        print(f"  no block-device counters for {work}: bytes written to disk"
              " not measured", flush=True)
    all_fit, one_fits = folders_fit(work, records, len(programs), repeats)
    if not one_fits:
        sys.exit(f"refresh: the disk under {work} cannot hold"
                 f" {len(programs) + 1} folders of {records} element files")
    if not all_fit:
        print("  the disk cannot hold the folders of every repetition at once:"
              " each repetition's are removed at its end", flush=True)

    sample = sample_records(inputs, records)
    expected = {"orbelm": orbelm_lines(orbelm, sample, work)}
    floor_expected = {key: {name: floor_line(record) for name, record in chosen.items()}
                      for key, chosen in sample.items()}
    for name in programs:
        expected.setdefault(name, expected["orbelm"] if name.startswith("orbelm")
                            else floor_expected)
    stale_line = next(iter(expected["orbelm"]["A"].values()))

    def timed(repeat, name, key, input_key, folder, extra=()):
        run = synced_run(measure, programs[name][:1] + list(extra) +
                         programs[name][1:] + [inputs[input_key]],
                         folder, result_path, stat_path)
        if not name.startswith("orbelm") and run.names != records:
            sys.exit(f"refresh: {name} printed {run.names} names, not {records}")
        check_folder(folder, expected[name][input_key], records,
                     f"{name} {LABELS[key]}")
        runs[key][name].append(run)
        print_run(repeat, name, key, run, records)
        return run

    pause(waiting, "inodes freed in the last minute slow file creation")
    # The first run of a sitting pays for bringing the file system into its
    # steady state (inode tables, directory blocks) and is not counted.
    warm_up = os.path.join(work, "refresh-warm-up")
    os.mkdir(warm_up)
    made = [warm_up]
    run = synced_run(measure, programs["in-place"] + [inputs["A"]], warm_up,
                     result_path, stat_path)
    print(f"  warm-up: in-place floor, fresh, not counted: {run.total:.2f} s"
          f" (CPU {run.cpu:.2f} s)", flush=True)
    for repeat in range(repeats):
        shift = repeat % len(names)
        folders = {}
        for name in names[shift:] + names[:shift]:
            folder = folders[name] = os.path.join(work, f"refresh-{repeat + 1}-{name}")
            os.mkdir(folder)
            made.append(folder)
            for key, input_key, _ in PHASES:
                timed(repeat, name, key, input_key, folder)
        if prune:
            folder = folders["orbelm"]
            timed(repeat, "orbelm", "again", "C", folder)
            stale = add_stale_files(folder, stale_line)
            timed(repeat, "orbelm", "prune", "C", folder, ["--prune"])
            if any(entry.name in stale for entry in os.scandir(folder)):
                sys.exit("refresh: --prune left stale files")
            add_stale_files(folder, stale_line)
            run = timed_removal(folder, stale, stat_path)
            runs["unlink"]["os.unlink"].append(run)
            print(f"  repeat {repeat + 1} {'os.unlink':10} {LABELS['unlink']:12}"
                  f" {run.total:8.2f} s (sync {run.sync:6.2f} s)"
                  f"  disk {megabytes(run.disk)} MB", flush=True)
        if repeat + 1 < repeats:
            if not all_fit:
                for folder in folders.values():
                    remove_folder(folder)
                remove_folder(warm_up)
                pause(waiting, "inodes freed in the last minute slow file creation")
            elif prune:
                pause(waiting, "the prune runs freed inodes, which slow file"
                      " creation for a minute")
    for folder in made:
        remove_folder(folder)
    return runs


def ratio_line(label, numerator, denominator, target=None, holds=None):
    """The median of the per-repetition ratios and the ratio of the fastest
    runs: noise from other work on the machine only adds time, so the
    fastest runs give the second estimate."""
    ratio = statistics.median(n.total / d.total for n, d in zip(numerator, denominator))
    fastest = min(n.total for n in numerator) / min(d.total for d in denominator)
    verdict = "" if target is None else (
        f"; target {target}: {'met' if holds(ratio) else 'NOT met'}")
    print(f"  {label:50} {ratio:7.3f}  (fastest runs {fastest:6.3f}{verdict})")


def median_or_none(values):
    values = list(values)
    return None if None in values else statistics.median(values)


def bytes_line(label, numerator, denominator, what, target):
    """The ratio of the median bytes of two programs' runs."""
    top = median_or_none(getattr(run, what) for run in numerator)
    bottom = median_or_none(getattr(run, what) for run in denominator)
    if top is None or not bottom:
        print(f"  {label:50}     n/a")
        return
    ratio = top / bottom
    verdict = "met" if ratio < target else "NOT met"
    print(f"  {label:50} {ratio:7.4f}  ({megabytes(top).strip()} MB /"
          f" {megabytes(bottom).strip()} MB; target < {target}: {verdict})")


def summary(runs, records):
    repeats = len(runs["fresh"]["orbelm"])
    print()
    print(f"Medians over {repeats} rotating repetitions, {records} records,"
          " each run with its sync (bytes: written to the disk; dirtied by the"
          " program):")
    for key, programs in runs.items():
        for name, done in programs.items():
            if done:
                print(f"  {LABELS[key]:12} {name:10}"
                      f" {statistics.median(r.total for r in done):8.2f} s"
                      f"  (fastest {min(r.total for r in done):7.2f} s)"
                      f"  disk {megabytes(median_or_none(r.disk for r in done))} MB"
                      f"  dirtied {megabytes(median_or_none(r.dirtied for r in done))} MB")
    fresh, unchanged = runs["fresh"], runs["unchanged"]
    tenth, changed = runs["tenth"], runs["all"]

    def at_most(limit):
        return lambda ratio: ratio <= limit

    print()
    ratio_line("fresh: orbelm / in-place floor", fresh["orbelm"], fresh["in-place"],
               "<= 1.05", at_most(1.05))
    ratio_line("unchanged: orbelm / comparing floor", unchanged["orbelm"],
               unchanged["compare"], "<= 1.10", at_most(1.10))
    ratio_line("unchanged: in-place floor / orbelm", unchanged["in-place"],
               unchanged["orbelm"], ">= 1.5", lambda ratio: ratio >= 1.5)
    ratio_line("10 % changed: orbelm / comparing floor", tenth["orbelm"],
               tenth["compare"], "<= 1.10", at_most(1.10))
    ratio_line("all changed: orbelm / in-place floor", changed["orbelm"],
               changed["in-place"], "<= 1.10", at_most(1.10))
    if "orbelm-j1" in fresh:
        for key in ("fresh", "tenth", "all"):
            ratio_line(f"{LABELS[key]}: orbelm / orbelm --jobs 1", runs[key]["orbelm"],
                       runs[key]["orbelm-j1"], "<= 1.0", at_most(1.0))
    if "prune" in runs:
        ratio_line(f"prune, {STALE_FILES} stale files: with / without --prune",
                   runs["prune"]["orbelm"], runs["again"]["orbelm"], "<= 1.2",
                   at_most(1.2))
    if "truncating" in unchanged:
        ratio_line("unchanged: truncating floor / orbelm", unchanged["truncating"],
                   unchanged["orbelm"], ">= 5", lambda ratio: ratio >= 5)
    bytes_line("unchanged, bytes to disk: orbelm / in-place floor",
               unchanged["orbelm"], unchanged["in-place"], "disk", 0.01)
    bytes_line("unchanged, bytes dirtied: orbelm / in-place floor",
               unchanged["orbelm"], unchanged["in-place"], "dirtied", 0.01)
    print("  (beside the targets)")
    if "prune" in runs:
        added = [(p.total - a.total) / u.total for p, a, u in
                 zip(runs["prune"]["orbelm"], runs["again"]["orbelm"],
                     runs["unlink"]["os.unlink"])]
        print(f"  {'prune: time added / the same unlinks alone':50}"
              f" {statistics.median(added):7.3f}")
    for key in ("unchanged", "tenth", "all"):
        ratio_line(f"{LABELS[key]}: comparing floor / in-place floor",
                   runs[key]["compare"], runs[key]["in-place"])


def main():
    if len(sys.argv) not in (9, 10) or sys.argv[9:] not in ([], ["--truncating"]):
        sys.exit(__doc__)
    measure, orbelm, floor, input_a, input_b, input_c, work, repeats = sys.argv[1:9]
    orbelm, floor = os.path.abspath(orbelm), os.path.abspath(floor)
    programs = {"orbelm": [orbelm], "in-place": [floor],
                "compare": [floor, "--compare"]}
    if sys.argv[9:] == ["--truncating"]:
        programs["truncating"] = [floor, "--truncate"]
    inputs = {"A": os.path.abspath(input_a), "B": os.path.abspath(input_b),
              "C": os.path.abspath(input_c)}
    records = count_lines(inputs["A"])
    if any(count_lines(path) != records for path in inputs.values()):
        sys.exit("refresh: the three inputs must hold the same records")
    usage = subprocess.run([orbelm, "--help"], capture_output=True, check=False)
    prune = b"--prune" in usage.stdout + usage.stderr
    # With look-ahead workers, the same program with one thread as well.
    if b"--jobs" in usage.stdout:
        programs["orbelm-j1"] = [orbelm, "--jobs", "1"]
    if not prune:
        print("  orbelm --help does not mention --prune: the prune runs are skipped",
              flush=True)
    work = os.path.abspath(work)
    shm = "/dev/shm"
    result_folder = shm if os.path.isdir(shm) and os.access(shm, os.W_OK) else work
    result_path = os.path.join(result_folder, f"orbelm-refresh-{os.getpid()}.measured")
    try:
        runs = measure_all(os.path.abspath(measure), orbelm, programs, inputs, records,
                           work, int(repeats), prune, result_path)
    finally:
        if os.path.exists(result_path):
            os.remove(result_path)
    summary(runs, records)


if __name__ == "__main__":
    main()
