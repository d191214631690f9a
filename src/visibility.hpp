// What can be seen: the predicted apparent magnitude of a record's object
// over a window of dates, and its brightest moment at which it stands far
// enough from the Sun in the Earth's sky. Geometric positions (no light
// time, no aberration), seen from the Earth's centre, two-body orbits from
// the record's own elements (orbit.hpp), the Earth from earth.hpp.
//
// A run prepares one SkyWindow (the only allocation: the Earth's positions
// over the window), then asks brightest_sighting for each record; that
// call does not allocate, throw or keep state, so records may be asked in
// any order and from any thread.
#ifndef ORBELM_VISIBILITY_HPP
#define ORBELM_VISIBILITY_HPP

#include <string_view>
#include <vector>

#include "earth.hpp"
#include "orbit.hpp"
#include "record.hpp"

namespace orbelm {

// minor_planet_magnitude: the H,G system (IAU 1985, Bowell et al. 1989).
//
// Given:
//   h, g     absolute magnitude H and slope parameter G
//   r        distance from the Sun, AU
//   delta    distance from the Earth Δ, AU
//   phase    phase angle α (Sun-object-Earth), radians, 0 to π
// Returned: V = H + 5 log10(r Δ) − 2.5 log10((1 − G) Φ1 + G Φ2), with
//   Φi = exp(−Ai tan(α/2)^Bi), A1 = 3.33, B1 = 0.63, A2 = 1.87, B2 = 1.22;
//   +infinity where the bracket is 0 or less (only a G outside 0-1 can
//   make it so).
// Example: H 15, G 0.15, r 2, Δ 1, α 0 give 15 + 5 log10 2 = 16.505.
double minor_planet_magnitude(double h, double g, double r, double delta,
                              double phase);

// comet_magnitude: the total magnitude of a comet.
//
// Given: h, k the absolute magnitude H and slope K; r, delta in AU.
// Returned: m = H + 5 log10 Δ + 2.5 K log10 r.
// Example: H 10, K 4, r 2, Δ 1 give 10 + 10 log10 2 = 13.010.
double comet_magnitude(double h, double k, double r, double delta);

// The question a run asks of every record: the window, from 0h UTC of its
// first day, and the limits.
struct SkyWindow {
  double start_tt;        // Julian Day TT
  double end_tt;          // Julian Day TT
  double max_magnitude;   // V: as bright as this or brighter
  double min_elongation;  // radians, 0 to π
  double earth_step;      // days between the Earth's samples
  std::vector<EarthState> earth;  // at start_tt + i · earth_step
};

// The shortest window: a minute.
inline constexpr double MIN_WINDOW_DAYS = 1.0 / 1440.0;

// make_sky_window: the window of `days` days from the UTC instant
// `start_utc_jd` (a date at 0h: julian_day(y, m, d)), for records that
// reach magnitude `max_magnitude` or brighter at least
// `min_elongation_degrees` (0-180) from the Sun. Shorter windows are made
// MIN_WINDOW_DAYS long. The Earth is evaluated once a day over the window
// and interpolated between (cubic Hermite on positions and velocities:
// within 1e-9 AU of the theory), which costs days + 2 evaluations and
// 48 bytes a day.
SkyWindow make_sky_window(double start_utc_jd, double days,
                          double max_magnitude, double min_elongation_degrees);

// The Earth of the window at a time (TT) inside it: position (AU) and
// velocity (AU per day), interpolated.
EarthState window_earth(const SkyWindow& window, double tt_jd);

// The brightest moment found.
struct Sighting {
  double magnitude;       // predicted apparent magnitude
  double utc_jd;          // its instant, Julian Day UTC
  double elongation;      // from the Sun, degrees
  double sun_distance;    // r, AU
  double earth_distance;  // Δ, AU
};

enum class Visibility {
  NotComputable,  // read_sky_record found no orbit or no H
  TooFaint,       // never as bright as the limit where far enough from the Sun
  Visible,        // `sighting` holds its brightest such moment
};

// brightest_sighting: whether the record of `kind` on `line` reaches the
// window's magnitude at some instant of it while at least the window's
// elongation from the Sun, and its brightest such moment.
//
// Returned: Visible with the sighting, TooFaint, or NotComputable. A
// record is left out at once, without propagating its orbit, when no
// point of its orbit could make it bright enough: H, G or K and the
// nearest it can come to the Sun (q) and to the Earth (the gap between
// its orbit's distances from the Sun, q to Q, and the Earth's, 0.983 to
// 1.017 AU) give no magnitude at the limit or brighter.
//
// Notes (the search):
//  1. Branch and bound over time. A span of half-width h about a time t
//     has, from the state at t, proven bounds for every instant of it: the
//     object's position is p + v s plus a rest of at most ½ A s² (A the
//     largest acceleration there: the Sun's pull k²/r² at the least r the
//     span allows, and for the Earth-to-object vector the Earth's 3.2e-4
//     AU/day² too), so the least distance from the Sun and from the Earth
//     is that of the straight line over the span less ½ A h²; the phase
//     angle and the elongation move no faster than the sum of the turning
//     rates of their two directions (speed over distance, with the speeds'
//     bounds over the span). From them a lower bound of the magnitude over
//     the span (the phase law bounded at the angles' ends), and an upper
//     bound of the elongation.
//  2. A span is dropped when its bound cannot reach the limit, cannot beat
//     the best magnitude found by more than 0.01 mag, or cannot reach the
//     elongation; otherwise it is halved, down to about a second. The
//     magnitude at each span's middle, where far enough from the Sun,
//     is a candidate.
//  3. So no passage is missed: a close approach of a few hours inside a
//     month makes the bound of every span around it small (the distance
//     bound is a straight line's closest approach, which sees the passage
//     even between the span's middle and its ends), and those spans are
//     halved until the passage's own middle is sampled. The result is
//     within 0.01 mag of the least magnitude of the model over the window
//     (up to the one-second limit of the halving), and a record whose
//     least magnitude beats the limit by more than that is always found.
//  4. The magnitude is geocentric and geometric; the Earth's model is good
//     to 1e-5 AU, which is 0.02 mag at 0.002 AU. Planetary perturbations
//     are not modelled: far from the elements' epoch the two-body orbit
//     drifts from the object's.
Visibility brightest_sighting(const SkyWindow& window, RecordKind kind,
                              std::string_view line, Sighting& sighting);

// The same for a record already read.
Visibility brightest_sighting(const SkyWindow& window, const SkyRecord& record,
                              Sighting& sighting);

}  // namespace orbelm

#endif
