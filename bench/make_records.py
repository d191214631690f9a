#!/usr/bin/env python3
"""Writes N synthetic minor-planet records in the published 202-column layout.

Every record has its own designation, so a run creates N distinct element
files: about 60 % numbered objects (packed as 00001-99999, then A0000-z9999,
then "~" and four base-62 digits from 620000 on, in order, the way a
current file has them) and the rest provisional designations such as
K24A01B. The elements are drawn from a fixed seed in the ranges of
main-belt and near-Earth orbits, with the mean daily motion derived from
the semi-major axis, so every field holds a plausible value of its width.

With --sky the orbits and magnitudes are those of a catalogue instead
(for the visibility benchmark): mostly main-belt orbits, a few percent
near-Earth objects, Hungarias and Mars-crossers, Hildas and Trojans, and
distant objects, with H skewed to the faint end as the published file
has it (most objects between 14 and 19).

Usage: make_records.py [--sky] N [SEED] > records.txt
"""

import random
import sys

BASE62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
HALF_MONTHS = "ABCDEFGHJKLMNOPQRSTUVWXY"  # no I
ORDER_LETTERS = "ABCDEFGHJKLMNOPQRSTUVWXYZ"  # no I
SYLLABLES = ["ka", "ro", "mi", "te", "lu", "sa", "ven", "dor", "a", "el",
             "ix", "on", "bra", "qui", "zet", "nor", "pha", "gil"]


def packed_number(number):
    if number < 100000:
        return f"{number:05d}"
    if number < 620000:
        return BASE62[number // 10000] + f"{number % 10000:04d}"
    rest = number - 620000
    digits = ""
    for _ in range(4):
        digits = BASE62[rest % 62] + digits
        rest //= 62
    return "~" + digits


def provisional(index):
    """The index-th provisional designation: packed and readable forms."""
    order = ORDER_LETTERS[index % 25]
    index //= 25
    half = HALF_MONTHS[index % 24]
    index //= 24
    cycle = index % 620
    index //= 620
    year = 2024 - index
    century = "IJK"[year // 100 - 18]
    packed_cycle = BASE62[cycle // 10] + str(cycle % 10)
    packed = f"{century}{year % 100:02d}{half}{packed_cycle}{order}"
    readable = f"{year} {half}{order}" + (str(cycle) if cycle else "")
    return packed, readable


def packed_date(year, month, day):
    return ("IJK"[year // 100 - 18] + f"{year % 100:02d}" + BASE62[month] +
            BASE62[day])


# Populations of --sky: share, (a range AU), (e range), largest
# inclination, and the H distribution as (share, H range) bins.
MAIN_BELT_H = [(0.001, (3, 10)), (0.01, (10, 12)), (0.07, (12, 14)),
               (0.27, (14, 16)), (0.45, (16, 18)), (0.17, (18, 20)),
               (0.029, (20, 22))]
POPULATIONS = [
    (0.88, (2.1, 3.3), (0.0, 0.3), 30.0, MAIN_BELT_H),
    (0.03, (1.8, 2.5), (0.05, 0.4), 35.0, MAIN_BELT_H),
    (0.02, (0.8, 3.0), (0.05, 0.7), 40.0,
     [(0.2, (14, 20)), (0.55, (20, 24)), (0.25, (24, 30))]),
    (0.05, (3.9, 5.3), (0.0, 0.2), 30.0, MAIN_BELT_H),
    (0.02, (6.0, 50.0), (0.0, 0.4), 30.0, [(1.0, (3, 10))]),
]


def draw(rng, bins):
    """A value uniform within a bin chosen by the bins' shares."""
    pick = rng.random() * sum(share for share, _ in bins)
    for share, (low, high) in bins:
        pick -= share
        if pick <= 0:
            break
    return rng.uniform(low, high)


def sky_orbit(rng):
    """H, e, a and inclination of one object of the catalogue's mix."""
    pick = rng.random()
    for share, a_range, e_range, inclination, h_bins in POPULATIONS:
        pick -= share
        if pick <= 0:
            break
    return (draw(rng, h_bins), rng.uniform(*e_range), rng.uniform(*a_range),
            rng.uniform(0.0, inclination))


def record(rng, designation, readable, sky=False):
    h = rng.uniform(3.0, 22.0)
    g = 0.15 if rng.random() < 0.9 else rng.uniform(-0.2, 0.6)
    epoch = "K2555" if rng.random() < 0.8 else packed_date(
        rng.randint(1990, 2025), rng.randint(1, 12), rng.randint(1, 28))
    mean_anomaly = rng.uniform(0.0, 360.0)
    perihelion = rng.uniform(0.0, 360.0)
    node = rng.uniform(0.0, 360.0)
    inclination = rng.uniform(0.0, 35.0)
    e = rng.uniform(0.0, 0.45)
    a = rng.uniform(1.1, 5.3)
    if sky:
        h, e, a, inclination = sky_orbit(rng)
    n = 0.9856076686 / a ** 1.5
    observations = rng.randint(5, 9000)
    oppositions = rng.randint(1, 120)
    first = rng.randint(1850, 2024)
    line = (f"{designation:<7} {h:5.2f} {g:5.2f} {epoch} {mean_anomaly:9.5f}"
            f"  {perihelion:9.5f}  {node:9.5f}  {inclination:9.5f}"
            f"  {e:9.7f}  {n:10.8f} {a:11.7f}  0 E2024-V47 {observations:5d}"
            f" {oppositions:3d} {first}-2025 0.80 M-v 3Ek MPCLINUX   0000"
            f" {readable:<28}2025{rng.randint(1, 12):02d}{rng.randint(1, 28):02d}")
    assert len(line) == 202, (len(line), line)
    return line


def name(rng):
    text = "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(2, 4)))
    return text.capitalize()


def main():
    arguments = sys.argv[1:]
    sky = arguments[:1] == ["--sky"]
    if sky:
        arguments = arguments[1:]
    count = int(arguments[0])
    rng = random.Random(int(arguments[1]) if len(arguments) > 1 else 1)
    out = sys.stdout
    number = 0
    provisional_index = 0
    for _ in range(count):
        if rng.random() < 0.6:
            number += 1
            # The number in parentheses ends in column 174, the name
            # starts in column 176.
            readable = f"{'(' + str(number) + ')':>8} {name(rng)}"
            out.write(record(rng, packed_number(number), readable, sky) + "\n")
        else:
            packed, readable = provisional(provisional_index)
            provisional_index += 1
            out.write(record(rng, packed, " " * 9 + readable, sky) + "\n")


if __name__ == "__main__":
    main()
