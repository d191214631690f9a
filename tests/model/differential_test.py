#!/usr/bin/env python3
"""Differential test of orbelm against the reference model.

    differential_test.py [EMULATOR] PATH_TO_ORBELM [--seeds N] [--lines N] [--keep DIR]

First anchors the model to values worked out by hand (the two worked element lines,
published Julian Days, the rounding table).  Then, for several seeds, generates an input
file, runs the program in a fresh folder and the model on the same bytes, and compares the
console output, the exit status, the set of element files and every file byte for byte.
"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import generate_records  # noqa: E402
import orbelm_model as model  # noqa: E402

MAX_REPORTS = 12


def columns(*placed):
    """A line of blanks with each (column, text) placed from its 1-based column."""
    line = bytearray()
    for col, text in placed:
        generate_records.put(line, col, text)
    return bytes(line)


MINOR_PLANET_EXAMPLE = columns(
    (1, "K05A00A"), (9, " 3.34"), (15, " 0.12"), (21, "K107N"), (27, "200.00000"),
    (38, " 90.00000"), (49, "180.00000"), (60, " 10.00000"), (71, "0.1000000"),
    (81, " 0.20000000"), (93, "  2.7000000"), (175, "(9) Testname"))
MINOR_PLANET_EXAMPLE_LINE = (
    b"(9)          K05A00A0 2456200.500000   2.43000000 0.1000000 0.1745329 "
    b"1.5707963 3.1415927   1203.3 2000.0 2455400.50000 (9) Testname\n")

COMET_EXAMPLE = columns(
    (1, "0099P"), (15, "2005"), (20, "11"), (23, "19.2500"), (31, " 1.234567"),
    (41, " 0.654321"), (52, " 45.0000"), (62, "120.0000"), (72, " 30.0000"), (92, "10.5"),
    (97, " 4.0"), (103, "99P/Testcomet"))
COMET_EXAMPLE_LINE = (
    b"99P/Testco     0099P1 2453693.75000  1.234567  0.654321 0.5235988 "
    b"0.7853982 2.0943951 100010.5 2000.0 2453693.75000 99P/Testcomet\n")
COMET_EXAMPLE_EPOCH_LINE = COMET_EXAMPLE_LINE.replace(
    b"2000.0 2453693.75000", b"2000.0 2455400.50000")


# ---------------------------------------------------------------------------
# Anchoring the model to independent values.

class Checks:
    def __init__(self):
        self.failures = []

    def equal(self, what, expected, got):
        if expected != got:
            self.failures.append("%s: expected %r, got %r" % (what, expected, got))


def one_record(line):
    result = model.run(line + b"\n")
    assert len(result.files) == 1, (line, result.files)
    return next(iter(result.files.values()))


# Slices of a minor-planet element line: name field, perihelion time, perihelion
# distance, eccentricity, three angles, magnitude code, equinox, epoch.
MP_SLICES = {"name": (0, 21), "time": (22, 36), "q": (37, 49), "mag": (90, 98)}


def check_model():
    c = Checks()

    # The worked examples, end to end.
    result = model.run(MINOR_PLANET_EXAMPLE + b"\n")
    c.equal("minor-planet example console", b"K05A00A.elm\n", result.stdout)
    c.equal("minor-planet example line", MINOR_PLANET_EXAMPLE_LINE,
            result.files.get(b"K05A00A.elm"))
    result = model.run(COMET_EXAMPLE + b"\n")
    c.equal("comet example console", b"0099P.elm\n", result.stdout)
    c.equal("comet example line", COMET_EXAMPLE_LINE, result.files.get(b"0099P.elm"))
    with_epoch = bytearray(COMET_EXAMPLE)
    generate_records.put(with_epoch, 82, "20100723")
    c.equal("comet example with epoch", COMET_EXAMPLE_EPOCH_LINE, one_record(bytes(with_epoch)))

    # Published Julian Days, and the calendar's documented behaviour around them.
    for date, jd in [((2000, 1, 1.5), 2451545.0), ((2010, 7, 23.0), 2455400.5),
                     ((1582, 10, 15.0), 2299160.5), ((1900, 2, 28.0), 2415078.5),
                     ((1900, 3, 1.0), 2415079.5), ((2000, 2, 29.0), 2451603.5),
                     ((2000, 3, 1.0), 2451604.5), ((2000, 0, 1.0), 2451513.5),
                     ((2000, 13, 1.0), 2451910.5), ((-1, 3, 1.0), 1720754.5),
                     ((0, 3, 1.0), 1721119.5), ((1986, 2, 9.4589), 2446470.9589)]:
        c.equal("julian_day%r" % (date,), jd, model.julian_day(*date))
    c.equal("packed epoch K107N", (2010, 7, 23), model.decode_packed_epoch(b"K107N"))
    c.equal("packed epoch J9611", (1996, 1, 1), model.decode_packed_epoch(b"J9611"))
    c.equal("packed digits A V 0 9 blank", [10, 31, 0, 9, 32],
            [model.decode_packed_digit(ord(ch)) for ch in "AV09 "])

    # Two-step rounding: values where a single correct rounding would differ, signs,
    # values that do not fit the width, and the non-finite values.
    for value, width, places, text in [
            (1203.25, 8, 1, b"  1203.3"), (1514.05, 8, 1, b"  1514.1"),
            (100010.25, 8, 1, b"100010.3"), (100005.5, 8, 1, b"100005.5"),
            (0.12 * 10000.0 + 3.34, 8, 1, b"  1203.3"), (-0.0, 9, 7, b"-0.0000000"),
            (-1e-9, 9, 7, b"-0.0000000"), (2.5, 3, 0, b"  3"), (0.125, 5, 2, b" 0.13"),
            (float("inf"), 8, 1, b"     inf"), (-float("inf"), 8, 1, b"    -inf"),
            (model.DEFAULT_NAN, 14, 6, b"          -nan"), (123456.5, 3, 1, b"123456.5")]:
        c.equal("format %r %%%d.%df" % (value, width, places), text,
                model.format_fixed(value, width, places))

    # Minor-planet arithmetic, on the worked example with single columns changed.
    def mp(part, **changes):
        placed = dict(MP_COLUMNS, **changes)
        line = one_record(columns(*placed.values()))
        first, last = MP_SLICES[part]
        return line[first:last]

    c.equal("M = 180 takes the previous perihelion", b"2455220.500000",
            mp("time", m=(27, "180.00000"), n=(81, "1")))
    c.equal("M = -10 becomes 350", b"2455410.500000", mp("time", m=(27, "-10.00000"), n=(81, "1")))
    c.equal("q from the mean motion when a = 0", b"  0.50000000",
            mp("q", n=(81, "0.985607669"), e=(71, "0.5000000"), a=(93, "          0")))
    c.equal("short name cut after the parenthesis", b"(1)          K05A00A0",
            mp("name", name=(175, "(1) Testname")))
    c.equal("short name without parenthesis stays whole", b"Testname     K05A00A0",
            mp("name", name=(175, "Testname  x")))
    c.equal("magnitude code of a blank G is H", b"     3.3", mp("mag", g=(15, "     ")))

    # Comet text fields and name.
    comet = bytearray(COMET_EXAMPLE)
    generate_records.put(comet, 103, "P/(x) Test")
    c.equal("comet short name keeps its parenthesis", b"P/(x) Test     0099P1",
            one_record(bytes(comet))[:21])

    # Classification and designations.
    for line, console in [(b"    CJ95O010  1997", b"CJ95O010.elm\n"),
                          (b"0001P         1986", b"0001P.elm\n"),
                          (b"0001C         1986", b""), (b"0001I         1986", b""),
                          (b" 001C 2", b"C.elm\n"), (b"    C", b"C.elm\n"), (b"K", b"K.elm\n"),
                          (b"ab", b""), (b"abcd5", b"abcd5.elm\n"), (b"~1", b"~1.elm\n"),
                          (b"\n", b""), (b"Des'n     H     G", b""),
                          (b"0073P     ab  2022", b"0073Pab.elm\n"),  # fragments
                          (b"0073D      b", b"0073Db.elm\n"), (b"    PK13R03a", b"PK13R03a.elm\n")]:
        c.equal("console of %r" % line, console, model.run(line + b"\n").stdout)
    # Pieces of 249 characters: a 250-character line ends with a one-character piece.
    c.equal("pieces of a 250-character line", b"K05A00A.elm\nK.elm\n",
            model.run(MINOR_PLANET_EXAMPLE.ljust(249, b"x") + b"K\r\n").stdout)
    c.equal("249 characters and a newline", b"K05A00A.elm\n",
            model.run(MINOR_PLANET_EXAMPLE.ljust(249, b"x") + b"\n").stdout)
    bad = model.run(b"K05A00A/x\nK123456789ABC\nK05A00A\n")
    c.equal("rejected designations", ([(1, b"K05A00A/x"), (2, b"K123456789ABC")], 1,
                                      b"K05A00A.elm\n"),
            (bad.rejected, bad.status, bad.stdout))
    twice = model.run(MINOR_PLANET_EXAMPLE + b"\n" + MINOR_PLANET_EXAMPLE.replace(
        b" 3.34", b" 3.44") + b"\n")
    first, last = MP_SLICES["mag"]
    c.equal("a later record replaces the file", b"  1203.4",
            twice.files[b"K05A00A.elm"][first:last])
    return c.failures


MP_COLUMNS = {
    "des": (1, "K05A00A"), "h": (9, " 3.34"), "g": (15, " 0.12"), "epoch": (21, "K107N"),
    "m": (27, "200.00000"), "peri": (38, " 90.00000"), "node": (49, "180.00000"),
    "incl": (60, " 10.00000"), "e": (71, "0.1000000"), "n": (81, " 0.20000000"),
    "a": (93, "  2.7000000"), "name": (175, "(9) Testname")}


# ---------------------------------------------------------------------------
# Running the program against the model.

def records_path(workdir):
    return os.path.join(workdir, "in", "records.txt")


def run_program(program, data, workdir, options=()):
    output_dir = os.path.join(workdir, "out")
    os.makedirs(os.path.join(workdir, "in"))
    os.makedirs(output_dir)
    with open(records_path(workdir), "wb") as f:
        f.write(data)
    proc = subprocess.run([*program, *options, records_path(workdir)], cwd=output_dir,
                          stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    files = {}
    for name in os.listdir(os.fsencode(output_dir)):
        with open(os.path.join(os.fsencode(output_dir), name), "rb") as f:
            files[name] = f.read()
    return proc.stdout, proc.stderr, proc.returncode, files


def first_difference(expected, got):
    e_lines, g_lines = expected.split(b"\n"), got.split(b"\n")
    for i, (e, g) in enumerate(zip(e_lines, g_lines)):
        if e != g:
            return i + 1, e, g
    i = min(len(e_lines), len(g_lines))
    return (i + 1, e_lines[i] if i < len(e_lines) else b"<end>",
            g_lines[i] if i < len(g_lines) else b"<end>")


# Selections compared on the generated inputs, seed by seed: the program's options
# and the model's choice of records.
SELECTIONS = [(["--max-magnitude", "12"], dict(select=model.selector(max_magnitude=12.0))),
              (["--comets", "--max-magnitude=-0"],
               dict(select=model.selector(-0.0, [model.COMET]))),
              (["--minor-planets", "--max-magnitude", "1e1"],
               dict(select=model.selector(10.0, [model.MINOR_PLANET]))),
              (["--all-comet-types", "--comets"],
               dict(select=model.selector(kinds=[model.COMET]), all_comet_types=True))]


def compare(label, program, data, workdir, selection=None):
    """Returns (number of records compared, list of mismatch reports)."""
    options, model_options = selection or ([], {})
    expected = model.run(data, os.fsencode(records_path(workdir)), **model_options)
    stdout, stderr, status, files = run_program(program, data, workdir, options)
    reports = []
    if stdout != expected.stdout:
        n, e, g = first_difference(expected.stdout, stdout)
        reports.append("%s: console output differs at console line %d\n  expected %r\n"
                       "  got      %r" % (label, n, e, g))
    if status != expected.status:
        reports.append("%s: exit status expected %d, got %d" % (label, expected.status, status))
    if bool(stderr) != bool(expected.rejected or expected.cut):
        reports.append("%s: standard error expected %s, got %r" % (
            label, "a message" if expected.rejected or expected.cut else "nothing",
            stderr[:300]))
    elif expected.cut and not stderr.endswith(expected.stderr.splitlines(True)[-1]):
        reports.append("%s: expected the cut record of line %d reported, got %r" % (
            label, expected.cut[0], stderr[-300:]))
    last_record = {name: (number, piece) for number, piece, name in expected.records}
    for name in sorted(set(expected.files) - set(files)):
        reports.append("%s: file %r missing (record at line %d: %r)" % (
            label, name, last_record[name][0], last_record[name][1]))
    for name in sorted(set(files) - set(expected.files)):
        reports.append("%s: unexpected file %r holding %r" % (label, name, files[name]))
    for name in sorted(set(files) & set(expected.files)):
        if files[name] != expected.files[name]:
            number, piece = last_record[name]
            reports.append("%s: %r differs; record at input line %d:\n  line     %r\n"
                           "  expected %r\n  got      %r" % (
                               label, name, number, piece, expected.files[name], files[name]))
    return len(expected.records) + len(expected.rejected), reports


def piece_limit_lines():
    """Records of 246 to 252 characters with every kind of line end: the line end falls
    on either side of the 249-character limit, and the rest of a cut line is a record."""
    out = bytearray()
    for i, length in enumerate(range(246, 253)):
        for j, end in enumerate([b"\n", b"\r\n", b"\r\r\n", b"\r"]):
            line = MINOR_PLANET_EXAMPLE.replace(b"K05A00A", b"K%02d%02d" % (i, j))
            out += line.ljust(length, b"K") + end
    return bytes(out)


def check_driver(program, tmp):
    """The prompt, and an element file that cannot be opened."""
    reports = []
    data = MINOR_PLANET_EXAMPLE + b"\n" + COMET_EXAMPLE + b"\n" + MINOR_PLANET_EXAMPLE.replace(
        b"K05A00A", b"K05A00B") + b"\n"
    folder = os.path.join(tmp, "driver")
    os.makedirs(folder)
    input_path = os.path.join(folder, "records.txt")
    with open(input_path, "wb") as f:
        f.write(data)

    prompted = os.path.join(folder, "prompted")
    os.makedirs(prompted)
    proc = subprocess.run(program, cwd=prompted, input=os.fsencode(input_path) + b"\n",
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    expected = b"input_file = K05A00A.elm\n0099P.elm\nK05A00B.elm\n"
    if (proc.stdout, proc.returncode) != (expected, 0):
        reports.append("prompt: expected %r and status 0, got %r and status %d" % (
            expected, proc.stdout, proc.returncode))

    # A folder in the way of 0099P.elm: the run stops there with status 1.
    blocked = os.path.join(folder, "blocked")
    os.makedirs(os.path.join(blocked, "0099P.elm"))
    proc = subprocess.run([*program, input_path], cwd=blocked, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    expected = b"K05A00A.elm\n0099P.elm\n0099P.elm  file not open\n"
    if (proc.stdout, proc.returncode) != (expected, 1):
        reports.append("element file not open: expected %r and status 1, got %r and status %d"
                       % (expected, proc.stdout, proc.returncode))
    written = sorted(os.listdir(blocked))
    if written != ["0099P.elm", "K05A00A.elm"]:
        reports.append("element file not open: files left %r" % written)
    else:
        with open(os.path.join(blocked, "K05A00A.elm"), "rb") as f:
            if f.read() != MINOR_PLANET_EXAMPLE_LINE:
                reports.append("element file not open: the earlier element file changed")
    return reports


def main(argv):
    args = argv[1:]
    if not args:
        sys.stderr.write("usage: differential_test.py [EMULATOR] PATH_TO_ORBELM "
                         "[--seeds N] [--lines N]\n")
        return 2
    # A cross build's program runs under the emulator named before it.
    emulated = len(args) > 1 and not args[1].startswith("--")
    program = [args[0], os.path.abspath(args[1])] if emulated else [os.path.abspath(args[0])]
    seeds, lines = 6, 700
    if "--seeds" in args:
        seeds = int(args[args.index("--seeds") + 1])
    if "--lines" in args:
        lines = int(args[args.index("--lines") + 1])

    failures = check_model()
    if failures:
        print("the model disagrees with hand-checked values:")
        for failure in failures:
            print("  " + failure)
        return 1

    inputs = [("worked examples", MINOR_PLANET_EXAMPLE + b"\n" + COMET_EXAMPLE + b"\n"),
              ("empty input", b""), ("lines at the piece limit", piece_limit_lines()),
              ("a cut last record", MINOR_PLANET_EXAMPLE + b"\n" + COMET_EXAMPLE),
              ("a last line too short to tell", COMET_EXAMPLE + b"\n" + b"0001")]
    sample = os.path.join(HERE, "..", "..", "examples", "sample.txt")
    if os.path.exists(sample):
        with open(sample, "rb") as f:
            inputs.append(("examples/sample.txt", f.read()))
    for seed in range(1, seeds + 1):
        inputs.append(("seed %d" % seed, generate_records.generate(seed, lines)))

    total, reports = 0, []
    with tempfile.TemporaryDirectory(prefix="orbelm-diff-") as tmp:
        for i, (label, data) in enumerate(inputs):
            count, found = compare(label, program, data, os.path.join(tmp, str(i)))
            total += count
            reports.extend(found)
        for i, selection in enumerate(SELECTIONS):
            label, data = inputs[-1 - i]
            count, found = compare("%s, %s" % (label, " ".join(selection[0])), program, data,
                                   os.path.join(tmp, "selection %d" % i), selection)
            total += count
            reports.extend(found)
        reports.extend(check_driver(program, tmp))
        # An input that cannot be opened.
        missing = os.path.join(tmp, "no such file.txt")
        proc = subprocess.run([*program, missing], cwd=tmp, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
        expected = os.fsencode(missing) + b"  file not open\n"
        if (proc.stdout, proc.returncode) != (expected, 1):
            reports.append("missing input: expected %r and status 1, got %r and status %d" % (
                expected, proc.stdout, proc.returncode))

    if reports:
        print("%d mismatches between the program and the model; the first %d:" % (
            len(reports), min(len(reports), MAX_REPORTS)))
        for report in reports[:MAX_REPORTS]:
            print(report)
        return 1
    print("%d records compared, program and model agree" % total)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
