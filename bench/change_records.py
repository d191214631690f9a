#!/usr/bin/env python3
"""Copies minor-planet records, changing the mean anomaly of some of them.

Every STEP-th record (the first, then every STEP-th after it) gets its mean
anomaly (columns 27-35, degrees with five decimals) moved by SHIFT degrees,
modulo 360, in the same width; the other records are copied unchanged.
The time of perihelion of the element line follows from the mean anomaly,
so orbelm's element file of every changed record changes, and so does the
floor program's (its line is the record's first 145 columns). With STEP 10
a tenth of the records change, with STEP 1 all of them.

The arithmetic is done in units of 0.00001 degree, so a field moved by 90
and then by 270 degrees reads as it did.

Usage: change_records.py STEP SHIFT < records.txt > changed.txt
"""

import sys

FIELD = slice(26, 35)  # columns 27-35
UNITS = 100000  # a field's units per degree
FULL_TURN = 360 * UNITS


def moved(field, shift_units):
    """The field of 9 characters moved by shift_units, modulo a full turn."""
    whole, point, fraction = field.strip().partition(b".")
    if point != b"." or len(fraction) != 5 or not (whole + fraction).isdigit():
        raise ValueError(f"mean anomaly {field!r} is not a field like ' 12.34567'")
    value = (int(whole + fraction) + shift_units) % FULL_TURN
    text = f"{value // UNITS}.{value % UNITS:05d}".rjust(9).encode()
    assert len(text) == 9
    return text


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    step = int(sys.argv[1])
    shift_units = round(float(sys.argv[2]) * UNITS)
    if step < 1 or shift_units % FULL_TURN == 0:
        sys.exit("change_records: STEP must be at least 1 and SHIFT no full turn")
    changed = 0
    out = sys.stdout.buffer
    for index, line in enumerate(sys.stdin.buffer):
        if index % step == 0 and len(line) > FIELD.stop:
            line = line[:FIELD.start] + moved(line[FIELD], shift_units) + line[FIELD.stop:]
            changed += 1
        out.write(line)
    print(f"change_records: {changed} records changed", file=sys.stderr)


if __name__ == "__main__":
    main()
