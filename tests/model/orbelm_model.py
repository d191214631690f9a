#!/usr/bin/env python3
"""Reference model of orbelm, written from the documented behaviour only.

Library use:
    result = run(input_bytes)
    result.stdout   console output (bytes)
    result.status   exit status (0 or 1)
    result.files    {b"NAME.elm": element line bytes}, later records replace earlier ones
    result.rejected [(line number, designation)] of records that were not converted
    result.records  [(line number, piece, file name)] of converted records, in input order

Command line:
    orbelm_model.py [INPUT]   behaves like the program: writes NAME.elm files into the
                              current folder and prints their names.

Everything is kept in bytes: designations and names may hold any byte.
"""

import math
import os
import re
import struct
import sys
from decimal import ROUND_HALF_UP, Decimal, localcontext

# ---------------------------------------------------------------------------
# Double arithmetic with the NaN behaviour of x86-64 SSE code.
# An invalid operation (0/0, inf-inf, inf*0, inf/inf) yields the "default NaN",
# whose sign bit is set; an operation with a NaN operand returns that operand
# (the first one when both are NaN).

DEFAULT_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0]
INF = float("inf")


def is_nan(x):
    return x != x


def sign_bit(x):
    return math.copysign(1.0, x) < 0


def f_add(a, b):
    if is_nan(a):
        return a
    if is_nan(b):
        return b
    if math.isinf(a) and math.isinf(b) and sign_bit(a) != sign_bit(b):
        return DEFAULT_NAN
    return a + b


def f_sub(a, b):
    if is_nan(a):
        return a
    if is_nan(b):
        return b
    if math.isinf(a) and math.isinf(b) and sign_bit(a) == sign_bit(b):
        return DEFAULT_NAN
    return a - b


def f_mul(a, b):
    if is_nan(a):
        return a
    if is_nan(b):
        return b
    if (math.isinf(a) and b == 0) or (math.isinf(b) and a == 0):
        return DEFAULT_NAN
    return a * b


def f_div(a, b):
    if is_nan(a):
        return a
    if is_nan(b):
        return b
    if b == 0:
        if a == 0:
            return DEFAULT_NAN
        return -INF if sign_bit(a) != sign_bit(b) else INF
    if math.isinf(a) and math.isinf(b):
        return DEFAULT_NAN
    return a / b


def c_pow(x, y):
    """pow(x, y) as the C library computes it, for a positive non-integer y."""
    if is_nan(x):
        return x
    if x == 0:
        return 0.0
    if math.isinf(x):
        return INF
    if x < 0:
        return DEFAULT_NAN  # negative base, non-integer exponent: invalid
    try:
        return math.pow(x, y)
    except OverflowError:
        return INF


def trunc_div(a, b):
    """Integer division truncating toward zero, as in C."""
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


# ---------------------------------------------------------------------------
# Reading numbers out of fixed-column text.

WHITESPACE = b" \t\n\v\f\r"
DIGITS = b"0123456789"
INT_MIN, INT_MAX = -(2 ** 31), 2 ** 31 - 1


def skip_space_and_sign(text):
    """Index after the leading white space and an optional sign, and whether
    that sign was "-": the common start of both number conversions."""
    i, n = 0, len(text)
    while i < n and text[i] in WHITESPACE:
        i += 1
    negative = i < n and text[i] == ord("-")
    if i < n and text[i] in b"+-":
        i += 1
    return i, negative


def read_double(text):
    """Decimal floating-point conversion: leading white space skipped, parsing stops at
    the first character that does not fit, "e", "E", "d" or "D" before an exponent;
    no number reads as 0."""
    i, negative = skip_space_and_sign(text)
    n = len(text)
    start = i
    while i < n and text[i] in DIGITS:
        i += 1
    whole = text[start:i]
    fraction = b""
    if i < n and text[i] == ord("."):
        j = i + 1
        while j < n and text[j] in DIGITS:
            j += 1
        fraction = text[i + 1:j]
        if whole or fraction:
            i = j
    if not whole and not fraction:
        return 0.0
    exponent = b"0"
    if i < n and text[i] in b"eEdD":
        j = i + 1
        exp_sign = b""
        if j < n and text[j] in b"+-":
            exp_sign = text[j:j + 1]
            j += 1
        k = j
        while k < n and text[k] in DIGITS:
            k += 1
        if k > j:
            exponent = exp_sign + text[j:k]
    literal = (whole or b"0") + b"." + (fraction or b"0") + b"e" + exponent
    value = float(literal.decode("ascii"))
    return -value if negative else value


def read_int(text):
    """Decimal integer conversion, clamped to the 32-bit range; no number reads as 0."""
    i, negative = skip_space_and_sign(text)
    n = len(text)
    start = i
    while i < n and text[i] in DIGITS:
        i += 1
    if i == start:
        return 0
    value = int(text[start:i])
    value = -value if negative else value
    return max(INT_MIN, min(INT_MAX, value))


# ---------------------------------------------------------------------------
# Fixed-point output with the two-step half-up rounding.

def format_fixed(x, width, places):
    """"%<width>.<places>f": the exact value is cut to 17 significant digits (half up),
    that cut value is rounded half up at <places> decimals."""
    if is_nan(x):
        text = "-nan" if sign_bit(x) else "nan"
    elif math.isinf(x):
        text = "-inf" if x < 0 else "inf"
    else:
        exact = Decimal(abs(x))  # the double's exact binary value in decimal
        with localcontext() as ctx:
            ctx.prec = 1000
            if exact != 0:
                cut = exact.quantize(Decimal((0, (1,), exact.adjusted() - 16)),
                                     rounding=ROUND_HALF_UP)
            else:
                cut = exact
            shown = cut.quantize(Decimal((0, (1,), -places)), rounding=ROUND_HALF_UP)
        text = format(shown, "f")
        if sign_bit(x):
            text = "-" + text
    return text.rjust(width).encode("ascii")


# ---------------------------------------------------------------------------
# Calendar arithmetic.

def julian_day(year, month, day):
    q = trunc_div(14 - month, 12)
    y = year - q
    m = month + 12 * q - 2
    a = int(30.59 * m)       # truncation toward zero
    b = int(365.25 * y)
    jd = float(a + b)
    jd = f_add(jd, day)
    jd = f_add(jd, 1721088.5)
    jd = f_sub(jd, float(trunc_div(y, 100)))
    jd = f_add(jd, float(trunc_div(y, 400)))
    return jd


def decode_packed_digit(c):
    """c is a byte value 0..255, taken as a signed 8-bit character."""
    if 65 <= c <= 86:        # "A".."V"
        return c - 55
    if 48 <= c <= 57:        # "0".."9"
        return c - 48
    return c - 256 if c >= 128 else c


def decode_packed_epoch(text):
    d = [decode_packed_digit(c) for c in text[:5]]
    year = (d[0] * 10 + d[1]) * 10 + d[2]
    return year, d[3], d[4]


# ---------------------------------------------------------------------------
# Record lines.

DEG_TO_RAD = 0.017453292519943295
MEAN_MOTION_K = 0.985607669
TWO_THIRDS = 0.6666666666666666
EQUINOX = b"2000.0"
MINOR_PLANET, COMET = "minor planet", "comet"


def line_text(piece):
    """The characters of a piece before its newline: the columns of the line. The newline
    ends the line; columns from it on lie beyond the end and read as blanks, so a line
    that ends inside a carried text field never puts a newline into the element line."""
    return piece[:-1] if piece.endswith(b"\n") else piece


def field(text, first, last):
    """Columns first..last (1-based, inclusive); columns past the line read as blanks."""
    part = text[first - 1:last]
    return part + b" " * (last - first + 1 - len(part))


def name_text(text, first, last):
    """Columns first..last, ended where the line ends (not padded)."""
    return text[first - 1:last]


def column(text, col):
    return text[col - 1] if len(text) >= col else ord(" ")


def classify_line(piece, all_comet_types=False):
    """(kind, designation column) or None for a line to skip. With all_comet_types, a
    digit and "I" (interstellar objects) and a blank and "A" (asteroids on cometary
    orbits) in columns 1 and 5 are comets too."""
    if piece.startswith(b"\n"):   # an empty line
        return None
    text = line_text(piece)
    c1, c5 = column(text, 1), column(text, 5)
    if c1 in b"JK":
        return MINOR_PLANET, 1
    if c1 in b"~_":
        return MINOR_PLANET, 1
    if c5 in DIGITS:
        return MINOR_PLANET, 1
    if c1 in DIGITS:
        return (COMET, 1) if c5 in (b"PDI" if all_comet_types else b"PD") else None
    if c1 == ord(" ") and c5 in (b"PDCA" if all_comet_types else b"PDC"):
        return COMET, 5
    return None


def fragment_letters(text):
    """The lower-case letters that columns 6-12 of a numbered periodic comet's line end
    with in column 12 (a fragment: "0073P     ab"), or b"" for any other line."""
    if (len(text) >= 12 and re.fullmatch(rb"[0-9]{4}[PD]", text[0:5])
            and re.fullmatch(rb" *[a-z]{1,2}", text[5:12])
            and (len(text) == 12 or text[12] in WHITESPACE)):
        return text[5:12].lstrip(b" ")
    return b""


def scan_designation(text, col):
    i = col - 1
    while i < len(text) and text[i] in WHITESPACE:
        i += 1
    j = i
    while j < len(text) and text[j] not in WHITESPACE:
        j += 1
    return text[i:j]


def build_name_field(short_name, designation, kind):
    name = bytearray(b" " * 20 + (b"0" if kind == MINOR_PLANET else b"1"))
    name[0:len(short_name)] = short_name
    name[20 - len(designation):20] = designation
    return bytes(name)


def convert_minor_planet(text):
    """Returns the element line without its name field, and the short name."""
    year, month, day = decode_packed_epoch(field(text, 21, 25))
    epoch = julian_day(year, month, float(day))

    mean_anomaly = read_double(field(text, 27, 35))
    if mean_anomaly < 0:
        mean_anomaly = f_add(mean_anomaly, 360.0)
    motion = read_double(field(text, 81, 91))
    if mean_anomaly > 180:
        perihelion_time = f_add(f_div(f_sub(360.0, mean_anomaly), motion), epoch)
    else:
        perihelion_time = f_sub(epoch, f_div(mean_anomaly, motion))

    eccentricity_text = field(text, 71, 79)
    eccentricity = read_double(eccentricity_text)
    semi_major = read_double(field(text, 93, 103))
    if semi_major == 0:
        period_axis = c_pow(f_div(MEAN_MOTION_K, motion), TWO_THIRDS)
        perihelion_distance = f_mul(f_sub(1.0, eccentricity), period_axis)
    else:
        perihelion_distance = f_mul(semi_major, f_sub(1.0, eccentricity))

    arg_perihelion = f_mul(read_double(field(text, 38, 46)), DEG_TO_RAD)
    ascending_node = f_mul(read_double(field(text, 49, 57)), DEG_TO_RAD)
    inclination = f_mul(read_double(field(text, 60, 68)), DEG_TO_RAD)
    magnitude_code = f_add(f_mul(read_double(field(text, 15, 19)), 10000.0),
                           read_double(field(text, 9, 13)))

    short_name = name_text(text, 175, 184)
    paren = short_name.find(b")")
    if paren >= 0:
        short_name = short_name[:paren + 1]
    long_name = name_text(text, 175, 199)

    rest = b" ".join([
        format_fixed(perihelion_time, 14, 6),
        format_fixed(perihelion_distance, 12, 8),
        eccentricity_text,
        format_fixed(inclination, 9, 7),
        format_fixed(arg_perihelion, 9, 7),
        format_fixed(ascending_node, 9, 7),
        format_fixed(magnitude_code, 8, 1),
        EQUINOX,
        format_fixed(epoch, 13, 5),
        long_name,
    ])
    return rest, short_name


def convert_comet(text):
    """Returns the element line without its name field, and the short name."""
    perihelion_time = julian_day(read_int(field(text, 15, 18)),
                                 read_int(field(text, 20, 21)),
                                 read_double(field(text, 23, 29)))
    distance_text = field(text, 31, 39)
    eccentricity_text = field(text, 41, 49)
    arg_perihelion = f_mul(read_double(field(text, 52, 59)), DEG_TO_RAD)
    ascending_node = f_mul(read_double(field(text, 62, 69)), DEG_TO_RAD)
    inclination = f_mul(read_double(field(text, 72, 79)), DEG_TO_RAD)
    epoch_year = field(text, 82, 85)
    if epoch_year == b"    ":
        epoch = perihelion_time
    else:
        epoch = julian_day(read_int(epoch_year), read_int(field(text, 86, 87)),
                           read_double(field(text, 88, 89)))
    slope = read_double(field(text, 97, 100))
    magnitude_code = f_add(f_mul(f_mul(slope, 2.5), 10000.0),
                           read_double(field(text, 92, 95)))
    short_name = name_text(text, 103, 112)
    long_name = name_text(text, 103, 127)

    rest = b" ".join([
        format_fixed(perihelion_time, 13, 5),
        distance_text,
        eccentricity_text,
        format_fixed(inclination, 9, 7),
        format_fixed(arg_perihelion, 9, 7),
        format_fixed(ascending_node, 9, 7),
        format_fixed(magnitude_code, 8, 1),
        EQUINOX,
        format_fixed(epoch, 13, 5),
        long_name,
    ])
    return rest, short_name


def element_line(text, kind, designation):
    if kind == MINOR_PLANET:
        rest, short_name = convert_minor_planet(text)
    else:
        rest, short_name = convert_comet(text)
    return build_name_field(short_name, designation, kind) + b" " + rest + b"\n"


# ---------------------------------------------------------------------------
# Input and the whole run.

PIECE_LIMIT = 249


def split_pieces(data):
    """Yields (physical line number, piece) as read with a 250-byte line buffer."""
    data = data.replace(b"\r\n", b"\n").replace(b"\0", b" ")
    pos, line_number = 0, 1
    while pos < len(data):
        newline = data.find(b"\n", pos)
        end = len(data) if newline < 0 else newline + 1
        end = min(end, pos + PIECE_LIMIT)
        piece = data[pos:end]
        yield line_number, piece
        if piece.endswith(b"\n"):
            line_number += 1
        pos = end


def designation_problem(designation):
    if len(designation) > 11:
        return "is longer than 11 characters"
    if b"/" in designation or b"\\" in designation:
        return "holds a path separator"
    return None


def magnitude(text, kind):
    """The absolute magnitude that a brightness limit compares, or None when its field
    (columns 9-13 of a minor planet, 92-95 of a comet) holds no number: no digit, or a
    point and a digit, after the leading white space and sign."""
    value = field(text, 9, 13) if kind == MINOR_PLANET else field(text, 92, 95)
    i, _ = skip_space_and_sign(value)
    starts = value[i:i + 1].isdigit() or (value[i:i + 1] == b"." and value[i + 1:i + 2].isdigit())
    return read_double(value) if starts else None


def selector(max_magnitude=None, kinds=(MINOR_PLANET, COMET)):
    """The records that --max-magnitude and --minor-planets/--comets keep."""
    def select(text, kind):
        if kind not in kinds:
            return False
        h = magnitude(text, kind)
        return max_magnitude is None or (h is not None and h <= max_magnitude)
    return select


# The characters of a whole published record.
WHOLE_RECORD = {MINOR_PLANET: 202, COMET: 160}


def cut_record(piece):
    """(characters, whole) when `piece`, the input's last, ends without a line end (a
    final CR is half of one) and is either a record of any comet type shorter than a
    whole one, or under 5 characters, too short to tell its kind (whole is then 0): the
    input was cut short, the piece is not converted and the run fails."""
    if piece.endswith((b"\n", b"\r")):
        return None
    verdict = classify_line(piece, all_comet_types=True)
    if verdict is None:
        return (len(piece), 0) if len(piece) < 5 else None
    whole = WHOLE_RECORD[verdict[0]]
    return (len(piece), whole) if len(piece) < whole else None


def cut_message(input_name, line_number, size, whole):
    if whole == 0:
        inside = b"a line (%d character%s, too few to tell its kind)" % (
            size, b"" if size == 1 else b"s")
    else:
        inside = b"a record (%d of %d characters)" % (size, whole)
    return b"orbelm: %s: line %d: the input ends inside %s; the file may be cut short\n" % (
        input_name, line_number, inside)


class RunResult:
    def __init__(self):
        self.stdout = bytearray()
        self.stderr = bytearray()
        self.status = 0
        self.files = {}
        self.rejected = []
        self.records = []
        self.cut = None  # (line number, characters, whole) of a cut last line


def run(data, input_name=b"-", select=None, all_comet_types=False):
    """The run over `data`; `select(text, kind)`, when given, chooses the records."""
    result = RunResult()
    pieces = list(split_pieces(data))
    for index, (line_number, piece) in enumerate(pieces):
        cut = cut_record(piece) if index == len(pieces) - 1 else None
        if cut:
            result.cut = (line_number,) + cut
            result.stderr += cut_message(input_name, line_number, *cut)
            result.status = 1
            break
        verdict = classify_line(piece, all_comet_types)
        if verdict is None:
            continue
        kind, col = verdict
        text = line_text(piece)
        designation = scan_designation(text, col)
        if kind == COMET and col == 1:
            designation += fragment_letters(text)
        if select is not None and not select(text, kind):
            continue
        problem = designation_problem(designation)
        if problem:
            result.rejected.append((line_number, designation))
            result.stderr += b'orbelm: %s: line %d: designation "%s" %s; record not converted\n' % (
                input_name, line_number, designation, problem.encode())
            result.status = 1
            continue
        file_name = designation + b".elm"
        result.stdout += file_name + b"\n"
        result.files[file_name] = element_line(text, kind, designation)
        result.records.append((line_number, piece, file_name))
    result.stdout = bytes(result.stdout)
    result.stderr = bytes(result.stderr)
    return result


def main(argv):
    out = sys.stdout.buffer
    if len(argv) > 1:
        input_name = os.fsencode(argv[1])
    else:
        out.write(b"input_file = ")
        out.flush()
        tokens = sys.stdin.buffer.read().split()
        input_name = tokens[0] if tokens else b""
    try:
        with open(input_name, "rb") as f:
            data = f.read()
    except OSError:
        out.write(input_name + b"  file not open\n")
        return 1
    result = run(data, input_name)
    # The program prints each name before it writes the file; the files are
    # written in input order so that a later record replaces an earlier one.
    for _, _, file_name in result.records:
        with open(file_name, "wb") as f:
            f.write(result.files[file_name])
    out.write(result.stdout)
    sys.stderr.buffer.write(result.stderr)
    return result.status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
