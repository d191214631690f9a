#!/usr/bin/env python3
"""Writes COUNT made-up minor-planet and comet records to standard output,
the same for the same SEED, for comparing two builds of orbelm on values
that no hand-written test holds: random angles, motions and dates, and a
semimajor axis of 0 in every fourth minor planet, so that it is derived
from the mean daily motion. Usage: windows-records.py COUNT [SEED]"""
import random
import sys

PACKED = "0123456789ABCDEFGHIJKLMNOPQRSTUV"


def put(line, column, text):
    at = column - 1
    if len(line) < at + len(text):
        line.extend(" " * (at + len(text) - len(line)))
    line[at:at + len(text)] = text


def minor_planet(rng, number):
    line = []
    put(line, 1, "K%06d" % number)
    put(line, 9, "%5.2f" % rng.uniform(-1, 30))
    put(line, 15, "%5.2f" % rng.uniform(-0.5, 0.99))
    year = rng.randrange(1800, 2100)
    put(line, 21, "IJK"[year // 100 - 18] + "%02d" % (year % 100) +
        PACKED[rng.randrange(1, 13)] + PACKED[rng.randrange(1, 32)])
    put(line, 27, "%9.5f" % rng.uniform(0, 360))
    put(line, 38, "%9.5f" % rng.uniform(0, 360))
    put(line, 49, "%9.5f" % rng.uniform(0, 360))
    put(line, 60, "%9.5f" % rng.uniform(0, 180))
    put(line, 71, "%9.7f" % rng.uniform(0, 0.99))
    put(line, 81, "%11.8f" % rng.uniform(0.0001, 2))
    semimajor = 0.0 if number % 4 == 0 else rng.uniform(0.5, 100)
    put(line, 93, "%11.7f" % semimajor)
    put(line, 175, "(%d) Made up %d" % (number, number))
    return "".join(line)


def comet(rng, number):
    line = []
    put(line, 1, "%04dP" % (number % 10000))
    put(line, 15, "%04d %02d %7.4f" % (rng.randrange(1600, 2200),
                                       rng.randrange(1, 13),
                                       rng.uniform(1, 28.9999)))
    put(line, 31, "%9.6f" % rng.uniform(0.01, 50))
    put(line, 41, "%9.6f" % rng.uniform(0, 1.2))
    put(line, 52, "%8.4f" % rng.uniform(0, 360))
    put(line, 62, "%8.4f" % rng.uniform(0, 360))
    put(line, 72, "%8.4f" % rng.uniform(0, 180))
    if number % 3:
        put(line, 82, "%04d%02d%02d" % (rng.randrange(1900, 2100),
                                       rng.randrange(1, 13),
                                       rng.randrange(1, 29)))
    put(line, 92, "%4.1f" % rng.uniform(-2, 20))
    put(line, 97, "%4.1f" % rng.uniform(0, 20))
    put(line, 103, "%dP/Made up" % (number % 10000))
    return "".join(line)


def main():
    count = int(sys.argv[1])
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
    for number in range(1, count + 1):
        make = comet if number % 5 == 0 else minor_planet
        sys.stdout.write(make(rng, number) + "\n")


main()
