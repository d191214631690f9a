#!/usr/bin/env python3
"""The brightest moment of each record over a window, computed independently
of orbelm, and compared with what orbelm's visibility search finds.

    sky_reference.py [EMULATOR...] PROBE -- RECORDS...

PROBE is tests/visibility_probe (built with the tests). The reference here
shares no code with orbelm: the Earth is ERFA's eraEpv00 (heliocentric,
rotated from its equatorial frame to the ecliptic by the J2000 obliquity
84381.406"), UTC to TT by ERFA's leap-second table; each orbit is propagated
with the classical anomalies (eccentric on an ellipse, hyperbolic on a
hyperbola, both by bisection; Barker's equation on a parabola); and the
window is sampled every 0.02 day, each local minimum near the least then
refined on a grid 200 times finer, so that a passage of hours is seen. For every record
and window: the magnitude orbelm finds must lie within 0.05 mag of the
reference's least magnitude (0.15 mag when the object is closer than 0.01 AU
then), and a record is visible for orbelm exactly when the reference's least
magnitude beats the limit (records within 0.05 mag of it may go either way).

Needs numpy and python3-erfa (Debian: python3-numpy python3-erfa); exits 77
(skipped) without them. Prints one line per failure and "N passed, N failed".

    sky_reference.py --list YYYY-MM-DD DAYS LIMIT ELONGATION RECORDS...

lists instead, without orbelm, the records of RECORDS that the reference
finds at LIMIT or brighter in that window (0h UTC of the date, DAYS long),
brightest first: designation, least magnitude, its instant (UTC), the
elongation, r and Δ then. The expected values of orbelm's end-to-end test of
--max-apparent-magnitude and --report come from it.
"""

import math
import subprocess
import sys

try:
    import erfa
    import numpy as np
except ImportError:
    print("sky_reference: numpy or erfa missing, skipped")
    sys.exit(77)

K = 0.01720209895  # Gaussian constant, rad/day
OBLIQUITY = math.radians(84381.406 / 3600.0)
DEG = math.pi / 180.0
STEP = 0.02  # days between the coarse samples
# (start date, days, magnitude limit, minimum elongation in degrees)
WINDOWS = [((2026, 12, 11), 30, 40.0, 0.0), ((2026, 12, 11), 30, 18.0, 40.0),
           ((2021, 10, 16), 30, 40.0, 0.0), ((2021, 10, 16), 1, 40.0, 60.0),
           ((2025, 1, 1), 365, 40.0, 0.0), ((2025, 1, 1), 365, 16.0, 90.0)]
TOLERANCE = 0.05
CLOSE_TOLERANCE = 0.15


def number(line, first, last):
    text = line[first - 1:last].strip()
    return float(text) if text else None


def packed_digit(c):
    return int(c) if c.isdigit() else ord(c) - ord("A") + 10


def jd(year, month, day):
    whole = math.floor(day)
    d1, d2 = erfa.cal2jd(year, month, int(whole))
    return float(d1 + d2) + (day - whole)


def read_record(line):
    """(kind, q, e, T, mu, i, w, node, H, slope) or None."""
    try:
        if line[4].isdigit() or line[0] in "JK":
            h = number(line, 9, 13)
            g = number(line, 15, 19)
            p = line[20:25]
            epoch = jd(packed_digit(p[0]) * 100 + int(p[1:3]),
                       packed_digit(p[3]), packed_digit(p[4]))
            m0, w, node, inc = (number(line, a, b) for a, b in
                                ((27, 35), (38, 46), (49, 57), (60, 68)))
            e, n, a = number(line, 71, 79), number(line, 81, 91), number(line, 93, 103)
            n *= DEG
            if a == 0:
                a = (K / n) ** (2.0 / 3.0)
            m0 = math.remainder(m0, 360.0) * DEG
            return ("mp", a * (1 - e), e, epoch - m0 / n, n * n * a ** 3,
                    inc * DEG, w * DEG, node * DEG, h, 0.15 if g is None else g)
        t = jd(int(line[14:18]), int(line[19:21]), float(line[22:29]))
        q, e = number(line, 31, 39), number(line, 41, 49)
        w, node, inc = (number(line, a, b) for a, b in ((52, 59), (62, 69), (72, 79)))
        h, kk = number(line, 92, 95), number(line, 97, 100)
        return ("comet", q, e, t, K * K, inc * DEG, w * DEG, node * DEG, h,
                4.0 if kk is None else kk)
    except (ValueError, TypeError, IndexError):
        return None


def bisect(f, low, high, iterations=100):
    for _ in range(iterations):
        middle = 0.5 * (low + high)
        below = f(middle) < 0
        low = np.where(below, middle, low)
        high = np.where(below, high, middle)
    return 0.5 * (low + high)


def plane_position(q, e, mu, tau):
    """x, y in the orbit's plane (perihelion on x) at times tau after it."""
    if e == 1.0:  # Barker: s + s^3/3 = sqrt(mu / (2 q^3)) tau, s = tan(nu/2)
        w = math.sqrt(mu / (2 * q ** 3)) * tau
        s = bisect(lambda s: s + s ** 3 / 3 - w, np.full_like(tau, -1e4), np.full_like(tau, 1e4))
        return q * (1 - s * s), 2 * q * s
    a = q / (1 - e)
    n = math.sqrt(mu / abs(a) ** 3)
    mean = n * tau
    if e < 1.0:
        mean = np.remainder(mean + math.pi, 2 * math.pi) - math.pi
        ecc = bisect(lambda x: x - e * np.sin(x) - mean, np.full_like(tau, -math.pi),
                     np.full_like(tau, math.pi))
        return a * (np.cos(ecc) - e), a * math.sqrt(1 - e * e) * np.sin(ecc)
    limit = np.arcsinh(np.abs(mean) / e) + np.abs(mean) / (e - 1) + 1
    hyp = bisect(lambda x: e * np.sinh(x) - x - mean, -limit, limit)
    return -a * (e - np.cosh(hyp)), -a * math.sqrt(e * e - 1) * np.sinh(hyp)


def positions(record, tt):
    _, q, e, t0, mu, inc, w, node, _, _ = record
    x, y = plane_position(q, e, mu, tt - t0)
    cw, sw, cn, sn, ci, si = (math.cos(w), math.sin(w), math.cos(node), math.sin(node),
                              math.cos(inc), math.sin(inc))
    p = np.array([cw * cn - sw * sn * ci, cw * sn + sw * cn * ci, sw * si])
    qv = np.array([-sw * cn - cw * sn * ci, -sw * sn + cw * cn * ci, cw * si])
    return np.outer(x, p) + np.outer(y, qv)


def earth(tt):
    pvh, _ = erfa.epv00(tt, 0.0)
    pos = pvh["p"]
    c, s = math.cos(OBLIQUITY), math.sin(OBLIQUITY)
    return np.stack([pos[:, 0], c * pos[:, 1] + s * pos[:, 2],
                     -s * pos[:, 1] + c * pos[:, 2]], axis=1)


def angle(a, b):
    return np.arctan2(np.linalg.norm(np.cross(a, b), axis=1), np.sum(a * b, axis=1))


def magnitudes(record, tt, min_elongation, sun_earth=None):
    kind, *_, h, slope = record
    obj = positions(record, tt)
    if sun_earth is None:
        sun_earth = earth(tt)
    offset = obj - sun_earth
    r = np.linalg.norm(obj, axis=1)
    delta = np.linalg.norm(offset, axis=1)
    elongation = angle(-sun_earth, offset)
    if kind == "mp":
        t = np.tan(angle(obj, offset) / 2)
        law = (1 - slope) * np.exp(-3.33 * t ** 0.63) + slope * np.exp(-1.87 * t ** 1.22)
        with np.errstate(divide="ignore", invalid="ignore"):
            mag = np.where(law > 0, h + 5 * np.log10(r * delta) - 2.5 * np.log10(law), np.inf)
    else:
        mag = h + 5 * np.log10(delta) + 2.5 * slope * np.log10(r)
    mag = np.where(elongation >= min_elongation * DEG, mag, np.inf)
    return mag, delta


def coarse_times(start, end):
    return np.linspace(start, end, int(math.ceil((end - start) / STEP)) + 1)


def reference(record, start, end, min_elongation, coarse_earth):
    """(least magnitude, Δ then) over [start, end] TT."""
    best, best_delta, _ = brightest(record, start, end, min_elongation, coarse_earth)
    return best, best_delta


def brightest(record, start, end, min_elongation, coarse_earth):
    """(least magnitude, Δ then, TT then) over [start, end] TT."""
    tt = coarse_times(start, end)
    mag, _ = magnitudes(record, tt, min_elongation, coarse_earth)
    best, best_delta, best_tt = math.inf, math.inf, math.nan
    # Local minima among the finite samples; an infeasible neighbour (inf)
    # makes the edges of the elongation's limit candidates too.
    before = np.concatenate(([np.inf], mag[:-1]))
    after = np.concatenate((mag[1:], [np.inf]))
    # Between two coarse samples the magnitude changes by a few hundredths
    # at most (0.02 mag at 0.002 AU and 0.02 AU per day), so only minima
    # within half a magnitude of the least can hold the least.
    candidates = np.nonzero(np.isfinite(mag) & (mag <= before) & (mag <= after) &
                            (mag <= np.min(mag) + 0.5))[0]
    for i in candidates:
        fine = np.linspace(tt[max(i - 1, 0)], tt[min(i + 1, len(tt) - 1)], 401)
        m, d = magnitudes(record, fine, min_elongation)
        j = int(np.argmin(m))
        if m[j] < best:
            best, best_delta, best_tt = float(m[j]), float(d[j]), float(fine[j])
    return best, best_delta, best_tt


def state_to_record(kind, t, pos, vel, h, slope, rng):
    """A record line whose orbit passes through pos with vel at t (TT)."""
    mu = K * K
    hv = np.cross(pos, vel)
    r = np.linalg.norm(pos)
    ev = np.cross(vel, hv) / mu - pos / r
    e = float(np.linalg.norm(ev))
    q = float(hv @ hv) / mu / (1 + e)
    inc = math.acos(hv[2] / np.linalg.norm(hv))
    node = math.atan2(hv[0], -hv[1])
    nv = np.array([math.cos(node), math.sin(node), 0.0])
    w = math.atan2(np.cross(nv, ev) @ hv / np.linalg.norm(hv), nv @ ev)
    nu = math.atan2(np.cross(ev, pos) @ hv / np.linalg.norm(hv), ev @ pos)
    a = q / (1 - e)
    n = math.sqrt(mu / abs(a) ** 3)
    if e < 1:
        ecc = 2 * math.atan(math.sqrt((1 - e) / (1 + e)) * math.tan(nu / 2))
        tau = (ecc - e * math.sin(ecc)) / n
    else:
        hyp = 2 * math.atanh(math.sqrt((e - 1) / (e + 1)) * math.tan(nu / 2))
        tau = (e * math.sinh(hyp) - hyp) / n
    angles = [math.degrees(x) % 360 for x in (w, node, inc)]
    if kind == "comet":
        y, mo, d, f = erfa.jd2cal(t - tau, 0.0)
        line = (f"    CK26Z{rng.randint(100, 999)}  {y:4d} {mo:02d} {d + f:7.4f} {q:9.6f} "
                f"{e:9.6f}  {angles[0]:8.4f}  {angles[1]:8.4f}  {angles[2]:8.4f}  20261211"
                f"  {h:4.1f} {slope:4.1f}  C/2026 Z (close)")
        return line
    y, mo, d, _ = erfa.jd2cal(math.floor(t - 0.5) + 0.5, 0.0)
    epoch = jd(y, mo, d)
    code = "0123456789ABCDEFGHIJKLMNOPQRSTUV"
    mean = math.degrees(n * (epoch - (t - tau))) % 360
    return (f"K26X{rng.randint(10, 99)}A {h:5.2f} {slope:5.2f} K{y % 100:02d}{code[mo]}{code[d]} "
            f"{mean:9.5f}  {angles[0]:9.5f}  {angles[1]:9.5f}  {angles[2]:9.5f}  {e:9.7f}"
            f"  {math.degrees(n):10.8f} {a:11.7f}")


def close_passages():
    """Records crafted to pass 0.002 to 0.05 AU from the Earth at a time
    inside the first window, between its coarse samples."""
    import random
    rng = random.Random(31)
    lines = []
    start = tt_of(jd(*WINDOWS[0][0]))
    for miss in (0.002, 0.004, 0.01, 0.05):
        for speed in (0.004, 0.012, 0.025):
            t = start + rng.uniform(5, 25)
            pos_vel, _ = erfa.epv00(t, 0.0)
            c, s = math.cos(OBLIQUITY), math.sin(OBLIQUITY)
            rot = np.array([[1, 0, 0], [0, c, s], [0, -s, c]])
            e_pos, e_vel = rot @ pos_vel["p"], rot @ pos_vel["v"]
            side = rng.choice([-1.0, 1.0])
            direction = side * e_pos / np.linalg.norm(e_pos) + 0.3 * np.array(
                [rng.uniform(-1, 1) for _ in range(3)])
            direction /= np.linalg.norm(direction)
            across = np.cross(direction, [rng.uniform(-1, 1) for _ in range(3)])
            across /= np.linalg.norm(across)
            pos = e_pos + miss * direction
            vel = e_vel + speed * across
            energy = vel @ vel / 2 - K * K / np.linalg.norm(pos)
            kind = "mp" if energy < 0 and rng.random() < 0.6 else "comet"
            lines.append(state_to_record(kind, t, pos, vel, rng.uniform(18, 28),
                                         0.15 if kind == "mp" else 2.0, rng))
    return lines


def tt_of(utc_jd):
    year, month, day, fraction = erfa.jd2cal(utc_jd, 0.0)
    # ERFA calls any year past its release "dubious"; its table still holds.
    return utc_jd + (32.184 + erfa.dat(year, month, day, fraction)) / 86400.0


def listing(arguments):
    """The --list mode (see the module's comment)."""
    date, days, limit, elongation = arguments[:4]
    days, limit, elongation = float(days), float(limit), float(elongation)
    start_utc = jd(*(int(x) for x in date.split("-")))
    start, end = tt_of(start_utc), tt_of(start_utc + days)
    coarse_earth = earth(coarse_times(start, end))
    rows = []
    for name in arguments[4:]:
        with open(name, encoding="latin-1") as f:
            for line in f.read().splitlines():
                record = read_record(line)
                if record is None:
                    continue
                least, delta, tt = brightest(record, start, end, elongation, coarse_earth)
                if least > limit:
                    continue
                sun_earth = earth(np.array([tt]))
                obj = positions(record, np.array([tt]))
                elong = math.degrees(angle(-sun_earth, obj - sun_earth)[0])
                utc = tt - (tt_of(tt) - tt)  # TT − UTC is the same a moment later
                y, mo, d, f = erfa.jd2cal(utc, 0.0)
                seconds = round(f * 86400)
                rows.append((least, line.split()[0], f"{y}-{mo:02}-{d:02}T{seconds // 3600:02}:"
                             f"{seconds // 60 % 60:02}:{seconds % 60:02}Z", elong,
                             float(np.linalg.norm(obj)), delta))
    for least, designation, when, elong, r, delta in sorted(rows):
        print(f"{designation} {least:.4f} {when} {elong:.2f} {r:.6f} {delta:.6f}")
    return 0


def main():
    arguments = sys.argv[1:]
    if arguments and arguments[0] == "--list":
        return listing(arguments[1:])
    probe, files = arguments[:arguments.index("--")], arguments[arguments.index("--") + 1:]
    lines = []
    for name in files:
        with open(name, encoding="latin-1") as f:
            lines += f.read().splitlines()
    lines += close_passages()
    text = "\n".join(lines) + "\n"
    passed = failed = 0
    largest = 0.0
    for (y, mo, d), days, limit, elongation in WINDOWS:
        start_utc = jd(y, mo, d)
        start, end = tt_of(start_utc), tt_of(start_utc + days)
        out = subprocess.run(probe + [repr(start_utc), str(days), str(limit), str(elongation)],
                             input=text, capture_output=True, text=True, check=True).stdout
        found = {int(w[0]): w[1:] for w in (l.split() for l in out.splitlines())}
        coarse_earth = earth(coarse_times(start, end))
        for number, line in enumerate(lines, 1):
            record = read_record(line)
            if record is None or number not in found:
                continue
            least, delta = reference(record, start, end, elongation, coarse_earth)
            verdict = found[number]
            tolerance = CLOSE_TOLERANCE if delta < 0.01 else TOLERANCE
            where = f"window {y}-{mo:02}-{d:02} +{days} V<={limit} elong>={elongation}: line {number}"
            if verdict[0] == "visible":
                ok = abs(float(verdict[1]) - least) <= tolerance
                largest = max(largest, abs(float(verdict[1]) - least))
                detail = f"orbelm {float(verdict[1]):.4f}, reference {least:.4f}"
            else:
                ok = verdict[0] == "too-faint" and not least < limit - tolerance
                detail = f"orbelm {verdict[0]}, reference {least:.4f}"
            if ok:
                passed += 1
            else:
                failed += 1
                print(f"FAIL {where}: {detail}")
    print(f"largest difference {largest:.4f} mag")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
