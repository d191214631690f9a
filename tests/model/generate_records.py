#!/usr/bin/env python3
"""Seeded generator of orbit-record input files for orbelm.

    generate_records.py SEED COUNT > input.txt

Produces COUNT physical lines: realistic minor-planet lines (202 characters, the published
layout), realistic comet lines (162-172 characters), real published lines used as templates,
and damaged lines (cut short, garbage numbers, odd bytes, odd line ends, over-long lines,
bad designations, duplicates).  The same seed always gives the same bytes.
"""

import os
import random
import sys

# Real published lines, the templates: the repository's copy of them.
DATA_DIR = os.environ.get("ORBELM_DATA_DIR",
                          os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data"))

BASE62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
HALF_MONTHS = "ABCDEFGHJKLMNOPQRSTUVWXY"
SECOND_LETTERS = "ABCDEFGHJKLMNOPQRSTUVWXYZ"
NAMES = ["Ceres", "Pallas", "Eros", "Albert", "Alinda", "Ganymed", "Amor", "Icarus", "Betulia",
         "Geographos", "Ivar", "Toro", "Apollo", "Antinous", "Daedalus", "Cerberus", "Sisyphus",
         "Chiron", "Pholus", "Nessus", "Asbolus", "Chariklo", "Hylonome", "Albion", "Testname",
         "Xy", "Vesta", "Hygiea", "Astraea", "Hebe", "Iris", "Flora", "Metis", "Nysa",
         "Bamberga", "Kleopatra", "Ida", "Mathilde", "Gaspra", "Lutetia", "Steins", "Annefrank"]
COMET_NAMES = ["Halley", "Arend", "Harrington", "Russell", "Shoemaker-Levy", "LINEAR",
               "Bernardi", "PANSTARRS", "Catalina", "Ikeya-Murakami", "Hale-Bopp", "Lagerkvist",
               "Kobayashi", "LONEOS", "NEAT", "Hill", "Kowalski", "Barros", "Johnson", "SOHO",
               "Leonard", "Testcomet", "Tempel-Tuttle", "Swift-Tuttle", "Encke", "Borrelly"]

GARBAGE_NUMBERS = ["1.2.3", "d5", "1e999", "-1e999", "-0", "+.5", "0x1p3", "inf", "-inf", "nan",
                   "1e-999", ".", "-", "+", "+-1", "1d3", "1D-2", "1E+", "2e", "1e+x", "5e-324",
                   "2.5e-320", "1.79e308", "9e307", "  .  5", "--5", "0.5.", "1,5", "1 5",
                   "e5", ".e5", "0.", ".0", "-.0", "+0", "00000.000", "12345678901", "1e10",
                   "-1e-10", "4.94d-324", "7D+2", "3.5E2", "0d0", "-0e0"]
WHITE = [b"\t", b"\v", b"\f"]

MP_NUMERIC_FIELDS = [(9, 13), (15, 19), (27, 35), (38, 46), (49, 57), (60, 68), (71, 79),
                     (81, 91), (93, 103)]
COMET_NUMERIC_FIELDS = [(15, 18), (20, 21), (23, 29), (31, 39), (41, 49), (52, 59), (62, 69),
                        (72, 79), (82, 85), (86, 87), (88, 89), (92, 95), (97, 100)]


def put(line, col, text):
    """Writes text (str or bytes) into the bytearray line from column col (1-based)."""
    if isinstance(text, str):
        text = text.encode("latin-1")
    end = col - 1 + len(text)
    if len(line) < end:
        line.extend(b" " * (end - len(line)))
    line[col - 1:end] = text
    return line


def fit(text, width):
    """Right-aligns a value text in a field; texts wider than the field are cut."""
    return text.rjust(width)[:width]


def load_templates(name):
    path = os.path.join(DATA_DIR, name)
    try:
        with open(path, "rb") as f:
            return [l for l in f.read().split(b"\n") if l.strip()]
    except OSError:
        return []


class Generator:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.mp_templates = load_templates("minor-planets-sample.txt")
        self.comet_templates = load_templates("comets-sample.txt")
        self.prefixes = []   # (kind, leading columns) of records made so far, for duplicates

    # -- designations ---------------------------------------------------------------
    def packed_number(self):
        r = self.rng
        kind = r.random()
        if kind < 0.5:
            return "%05d" % r.randint(1, 99999)
        if kind < 0.85:
            return r.choice(BASE62[10:]) + "%04d" % r.randint(0, 9999)
        return "~" + "".join(r.choice(BASE62) for _ in range(4))

    def provisional(self):
        r = self.rng
        kind = r.random()
        if kind < 0.1:   # extended provisional form
            return "_" + r.choice("QRS") + r.choice(HALF_MONTHS) + "".join(
                r.choice(BASE62) for _ in range(4))
        cycle = r.randint(0, 619)
        cycle_text = BASE62[cycle // 10] + str(cycle % 10)
        return (r.choice("IJK") + "%02d" % r.randint(0, 99) + r.choice(HALF_MONTHS)
                + cycle_text + r.choice(SECOND_LETTERS))

    def packed_epoch(self):
        r = self.rng
        return (r.choice("IJK") + "%02d" % r.randint(0, 99) + r.choice("123456789ABC")
                + r.choice("123456789ABCDEFGHIJKLMNOPQRSTUV"))

    # -- realistic lines --------------------------------------------------------------
    def minor_planet(self):
        r = self.rng
        if self.mp_templates:
            line = bytearray(r.choice(self.mp_templates))
        else:
            line = bytearray(b" " * 202)
        numbered = r.random() < 0.6
        designation = self.packed_number() if numbered else self.provisional()
        put(line, 1, designation.ljust(7))
        h = r.uniform(-1.0, 22.0)
        put(line, 9, fit("%.2f" % h if r.random() < 0.7 else "%.1f " % h, 5))
        g_choice = r.random()
        if g_choice < 0.6:
            put(line, 15, fit("%.2f" % r.choice([0.15, 0.12, 0.46, -0.12, 0.30, 0.09]), 5))
        elif g_choice < 0.9:
            put(line, 15, fit("%.2f" % r.uniform(-0.5, 1.0), 5))
        else:
            put(line, 15, "     ")
        put(line, 21, self.packed_epoch())
        put(line, 27, fit("%.5f" % r.uniform(0, 360), 9))
        put(line, 38, fit("%.5f" % r.uniform(0, 360), 9))
        put(line, 49, fit("%.5f" % r.uniform(0, 360), 9))
        put(line, 60, fit("%.5f" % r.uniform(0, 180), 9))
        e = r.choice([r.uniform(0, 0.3), r.uniform(0, 0.99), r.uniform(0, 0.05)])
        put(line, 71, fit("%.7f" % e, 9))
        a = r.choice([r.uniform(0.6, 5.5), r.uniform(5, 60), r.uniform(1, 3.5)])
        n = 0.985607669 / a ** 1.5
        put(line, 81, fit("%.8f" % n, 11))
        if r.random() < 0.08:
            put(line, 93, fit(r.choice(["0.0000000", "0", "", "0.0"]), 11))   # no axis given
        else:
            put(line, 93, fit("%.7f" % a, 11))
        put(line, 167, " " * 28)
        if numbered:
            number = r.randint(1, 999999)
            name = r.choice(NAMES) if r.random() < 0.7 else "%d %s%s" % (
                r.randint(1990, 2030), r.choice(HALF_MONTHS), r.choice(SECOND_LETTERS))
            put(line, 175 - len("(%d)" % number), "(%d) %s" % (number, name))
        elif r.random() < 0.5:
            put(line, 176, "%d %s%s%d" % (r.randint(1990, 2030), r.choice(HALF_MONTHS),
                                          r.choice(SECOND_LETTERS), r.randint(1, 300)))
        else:
            put(line, 175, "(%d) %s" % (r.randint(1, 99), r.choice(NAMES)))
        self.prefixes.append(("mp", designation.ljust(7)))
        return line[:202] if len(line) >= 202 else line

    def comet(self):
        r = self.rng
        if self.comet_templates:
            line = bytearray(r.choice(self.comet_templates))
        else:
            line = bytearray(b" " * 168)
        kind = r.random()
        if kind < 0.45:
            number = r.randint(1, 999)
            letter = r.choice("PPPPD")
            designation = "%04d%s" % (number, letter)
            # Fragments, and columns 11-12 that do not make one.
            fragment = r.choice(["  ", "  ", "  ", " a", " b", "ab", " f", " B", "a ", "a1",
                                 "Ab"])
            put(line, 1, designation + "     " + fragment)
            name = "%d%s%s/%s" % (number, letter, "-" + fragment.strip().upper()
                                  if fragment.strip() else "", r.choice(COMET_NAMES))
        else:
            letter = r.choice("CCCPPDDXAI")
            century = r.choice("HIJK") if r.random() < 0.2 else r.choice("JK")
            provisional = "%s%02d%s%s%s" % (century, r.randint(0, 99), r.choice(HALF_MONTHS),
                                            "%02d" % r.randint(0, 99), r.choice("00000a0b"))
            designation = letter + provisional
            put(line, 1, "    " + designation)
            name = "%s/%d %s%d (%s)" % (letter, r.randint(1700, 2030), r.choice(HALF_MONTHS),
                                        r.randint(1, 30), r.choice(COMET_NAMES))
        put(line, 13, "  %4d %02d %7.4f" % (r.randint(1700, 2040), r.randint(1, 12),
                                              r.uniform(1, 31.9999)))
        q = r.choice([r.uniform(0.005, 1), r.uniform(1, 10)])
        put(line, 30, " %9.6f %9.6f" % (q, r.uniform(0, 1.01)))
        put(line, 50, "  %8.4f  %8.4f  %8.4f" % (r.uniform(0, 360), r.uniform(0, 360),
                                                 r.uniform(0, 180)))
        if r.random() < 0.7:
            put(line, 80, "  %04d%02d%02d" % (r.choice([2021, 2010, 2024, 1999]),
                                             r.randint(1, 12), r.randint(1, 28)))
        else:
            put(line, 80, "          ")
        put(line, 90, "  %4.1f %4.1f  " % (r.uniform(-2, 20), r.choice([2.0, 4.0, 6.0, 8.0])))
        width = r.choice([162, 168, 172])
        if len(line) < width:
            line.extend(b" " * (width - len(line)))
        put(line, 103, name.ljust(56)[:56])
        self.prefixes.append(("comet", line[:12].decode("latin-1")))
        return line[:width]

    def template(self):
        pool = self.mp_templates + self.comet_templates
        return bytearray(self.rng.choice(pool)) if pool else self.minor_planet()

    # -- damaged lines ----------------------------------------------------------------
    def garbage_number(self, width):
        r = self.rng
        choice = r.random()
        if choice < 0.5:
            text = r.choice(GARBAGE_NUMBERS)
        elif choice < 0.8:   # random digit string with point, sign and exponent
            digits = "".join(r.choice("0123456789") for _ in range(r.randint(1, width)))
            if r.random() < 0.7:
                at = r.randint(0, len(digits))
                digits = digits[:at] + "." + digits[at:]
            if r.random() < 0.3:
                digits = r.choice("+-") + digits
            if r.random() < 0.3:
                digits += r.choice("eEdD") + r.choice(["", "+", "-"]) + str(r.randint(0, 330))
            text = digits
        else:
            text = "".join(r.choice("0123456789.+-eEdD x") for _ in range(r.randint(1, width)))
        if r.random() < 0.5:
            return text.rjust(width)[:width]
        return text.ljust(width)[:width]

    def damage(self, line, fields):
        r = self.rng
        for _ in range(r.randint(1, 3)):
            what = r.random()
            if what < 0.25:
                first, last = r.choice(fields)
                put(line, first, self.garbage_number(last - first + 1))
            elif what < 0.4:
                del line[r.randint(1, max(1, len(line) - 1)):]
            elif what < 0.5:
                first, last = r.choice(fields)
                at = r.randint(first, last)
                if at <= len(line):
                    line[at - 1:at] = r.choice(WHITE)
            elif what < 0.6:
                for _ in range(r.randint(1, 4)):
                    if line:
                        at = r.randrange(len(line))
                        line[at] = r.randint(128, 255)
            elif what < 0.67:
                if line:
                    line[r.randrange(len(line))] = 0
            elif what < 0.75:
                first, last = r.choice(fields)
                put(line, first, " " * (last - first + 1))
            elif what < 0.85:   # odd characters anywhere in the first 30 columns
                at = r.randint(1, 30)
                put(line, at, chr(r.choice(b"JKPDCIA~_/\\()0123456789 abcW\xff\x80")))
            else:               # odd name texts
                col = 175 if len(line) > 190 else 103
                put(line, col, r.choice(["(1) Testname", ")", "P/(x) Test", "a)b)c",
                                         "(123456789)x", "N\xe9r\xe9e (x)", "", "  (99)"]))
        return line

    def damaged(self):
        r = self.rng
        if r.random() < 0.6:
            return self.damage(self.minor_planet(), MP_NUMERIC_FIELDS)
        return self.damage(self.comet(), COMET_NUMERIC_FIELDS)

    def special(self):
        """One line of a targeted kind."""
        r = self.rng
        kind = r.randrange(17)
        if kind == 0:   # header, separator, comment, blank, white space only
            return bytearray(r.choice([
                b"Des'n     H     G   Epoch     M        Peri.      Node       Incl.",
                b"-" * 160, b"# Comets", b"", b"   ", b"\t", b"\f", b"Comet elements",
                b"MPCORB.DAT", b" " * 40]))
        if kind == 1:   # mean motion 0, negative or minus zero
            line = self.minor_planet()
            put(line, 81, fit(r.choice(["0", "0.00000000", "-0", "-0.1", "", "-0.0",
                                        "1e999", "-1e999"]), 11))
            if r.random() < 0.5:
                put(line, 93, fit(r.choice(["0", "", "-0.0"]), 11))
            if r.random() < 0.3:
                put(line, 27, fit(r.choice(["0", "-0", "", "1e999", "-1e999"]), 9))
            return line
        if kind == 2:   # mean anomaly at the branch boundaries
            line = self.minor_planet()
            put(line, 27, fit(r.choice(["180.00000", "180", "-180", "-10.00000", "360.00000",
                                        "720.5", "-0.00001", "180.00001", "179.99999",
                                        "-360", "-720"]), 9))
            return line
        if kind == 3:   # designation that is too long or holds a path separator
            line = self.minor_planet() if r.random() < 0.6 else self.comet()
            bad = r.choice(["K05A00A/x", "a\\b", "/", "\\", "K123456789AB", "K05A00A00000",
                            "00001/2", "~ABCDEFGHIJK", "J99/", "12345678901234"])
            if line[0:1] == b" ":
                put(line, 5, bad)
            else:
                put(line, 1, bad)
            return line
        if kind == 4:   # digits followed by C, I or A in column 5, and relatives
            line = self.comet()
            put(line, 1, "%04d%s" % (r.randint(1, 999), r.choice("CIAXPD")))
            return line
        if kind == 5:   # long lines: pieces of at most 249 characters
            line = self.minor_planet() if r.random() < 0.5 else self.comet()
            length = r.choice([248, 249, 250, 251, 252, 260, 300, 400, 497, 498, 499, 500, 747])
            tail = r.choice([b" ", b"x", b"K", b"0", b"    P"])
            while len(line) < length:
                line.extend(tail)
            del line[length:]
            if r.random() < 0.5 and length > 260:   # a record inside the continuation piece
                start = 250 if r.random() < 0.7 else r.randint(250, length - 5)
                inner = self.minor_planet() if r.random() < 0.5 else self.comet()
                line[start - 1:start - 1 + len(inner)] = inner
                del line[length:]
            return line
        if kind == 6:   # very short lines
            return bytearray(r.choice([b"K", b"J", b"~", b"_", b"K05A00A", b"0001P",
                                       b"    C", b"    P", b"1234", b"12345", b" 1234",
                                       b"J9611", b"~1", b"_x", b"K\t5", b"00001 3.3",
                                       b"    PK12C030  2011 10  6.7469"]))
        if kind == 7:   # comet epoch year partly blank
            line = self.comet()
            put(line, 82, r.choice(["   1", "1   ", "    ", " 20 ", "\t   ", "2010", "-001"])
                + r.choice(["07", "  ", " 7", "13", "00"]) + r.choice(["23", "  ", " 5", ".5"]))
            return line
        if kind == 8:   # line starts with "~", "_" or a letter and a digit in column 5
            line = self.minor_planet()
            put(line, 1, r.choice(["~", "_", "A", "a", " ", "#", "P", "C", "\t", "\xff"])
                + "".join(r.choice(BASE62) for _ in range(3)) + r.choice("0123456789"))
            return line
        if kind == 9:   # rounding probes: half-way values after the 17-digit cut
            line = self.minor_planet()
            put(line, 71, "0.0000000")
            put(line, 93, "%d.%08d5" % (r.randint(0, 9), r.randint(0, 99999999)))
            put(line, 9, fit("%d.%d5" % (r.randint(0, 30), r.randint(0, 9)), 5))
            put(line, 15, fit(r.choice(["0.15", "0.12", "0", "", "0.5"]), 5))
            if r.random() < 0.5:   # epochs near Julian Day 0 give many decimals
                put(line, 21, r.choice([b"\xd1\xff\xfe11", b"\xd1\xff\xfeA1", b"\xce\xfd\xf611",
                                        b"\xd2\x00\x0011"]))
                put(line, 27, fit("0.%06d5" % r.randint(0, 999999), 9))
                put(line, 81, fit(r.choice(["1", "2", "0.5", "4", "0.25"]), 11))
            return line
        if kind == 10:  # odd packed epochs
            line = self.minor_planet()
            put(line, 21, "".join(chr(r.choice(b"0123456789ABCUVWXYZabcz ~\x80\xff"))
                                  for _ in range(5)))
            return line
        if kind == 11:  # J or K first, whatever follows
            line = bytearray(r.choice([b"K", b"J"]) + bytes(
                r.choice(b" abcP0123456789.\t") for _ in range(r.randint(0, 60))))
            return line
        if kind == 12:  # blank first column, P/D/C in column 5, short or odd
            line = self.comet() if r.random() < 0.5 else bytearray()
            put(line, 1, r.choice([" ", " ", "\t"]) + "".join(
                r.choice(" x1") for _ in range(3)) + r.choice("PDC"))
            if r.random() < 0.5:
                del line[r.randint(5, max(5, len(line))):]
            return line
        if kind == 13:  # comet text fields with odd contents
            line = self.comet()
            put(line, 31, r.choice(["  1.23\t56", "1.234567 ", "  x.y    ", "\xe9" * 9, "         "]))
            put(line, 41, r.choice([" 0.654321", "0.5      ", "         ", " 1.0e+00 "]))
            return line
        if kind == 14:  # cut exactly inside or right after the fields
            line = self.minor_planet() if r.random() < 0.5 else self.comet()
            cut = r.choice([5, 8, 13, 20, 25, 30, 35, 40, 46, 50, 68, 79, 80, 81, 82, 84, 85,
                            86, 89, 91, 95, 100, 102, 103, 104, 110, 112, 113, 127, 128, 174,
                            175, 176, 178, 184, 185, 190, 199, 200])
            del line[cut:]
            return line
        if kind == 15:  # duplicate designation, other values
            if not self.prefixes:
                return self.minor_planet()
            record_kind, prefix = r.choice(self.prefixes)
            line = self.minor_planet() if record_kind == "mp" else self.comet()
            return put(line, 1, prefix)
        # kind 16: worked-example style lines built column by column
        line = bytearray()
        if r.random() < 0.5:
            for col, text in [(1, "K05A00A"), (9, " 3.34"), (15, " 0.12"), (21, "K107N"),
                              (27, "200.00000"), (38, " 90.00000"), (49, "180.00000"),
                              (60, " 10.00000"), (71, "0.1000000"), (81, " 0.20000000"),
                              (93, "  2.7000000"), (175, "(9) Testname")]:
                put(line, col, text)
        else:
            for col, text in [(1, "0099P"), (15, "2005"), (20, "11"), (23, "19.2500"),
                              (31, " 1.234567"), (41, " 0.654321"), (52, " 45.0000"),
                              (62, "120.0000"), (72, " 30.0000"), (92, "10.5"), (97, " 4.0"),
                              (103, "99P/Testcomet")]:
                put(line, col, text)
            if r.random() < 0.5:
                put(line, 82, "20100723")
        return line

    def line(self):
        r = self.rng.random()
        if r < 0.38:
            return self.minor_planet()
        if r < 0.55:
            return self.comet()
        if r < 0.62:
            return self.template()
        if r < 0.82:
            return self.damaged()
        return self.special()

    def terminator(self):
        r = self.rng.random()
        if r < 0.9:
            return b"\n"
        if r < 0.97:
            return b"\r\n"
        if r < 0.99:
            return b"\r"        # a bare CR does not end the line
        return b"\r\r\n"


def generate(seed, count):
    """The input file bytes: count lines made from the seed."""
    g = Generator(seed)
    out = bytearray()
    for i in range(count):
        out += g.line()
        if i < count - 1 or g.rng.random() < 0.7:
            out += g.terminator()
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: generate_records.py SEED COUNT\n")
        return 2
    sys.stdout.buffer.write(generate(int(argv[1]), int(argv[2])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
