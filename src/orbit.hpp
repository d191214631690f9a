// The orbit of a record and where it takes the object: the elements and
// brightness parameters read from a minor-planet or comet record line, and
// two-body motion about the Sun from them, on an ellipse, a parabola or a
// hyperbola, in the ecliptic and equinox of J2000 (the frame of the
// published elements). Pure functions: no allocation, no exception, no
// state.
#ifndef ORBELM_ORBIT_HPP
#define ORBELM_ORBIT_HPP

#include <optional>
#include <string_view>

#include "record.hpp"
#include "vector3.hpp"

namespace orbelm {

// Gaussian gravitational constant k, radians per day: the mean motion of a
// body at 1 AU; k^2 is the Sun's gravitational parameter in AU^3 / day^2.
inline constexpr double GAUSSIAN_K = 0.01720209895;

// The elements of an orbit in perihelion form, as the propagation takes
// them. Times are Julian Days in Terrestrial Time (TT), the time scale of
// the published elements.
struct OrbitElements {
  double perihelion_distance;  // q, AU, above 0
  double eccentricity;         // e, 0 or more
  double perihelion_time;      // T, a passage through perihelion
  double period;               // days for e < 1, else 0
  double sqrt_mu;              // √μ, AU^1.5 per day (see read_sky_record)
  double inclination;          // radians
  double arg_perihelion;       // radians
  double ascending_node;       // radians
};

// How bright the object is: H and G of a minor planet (the H,G system),
// H and K of a comet (total magnitude).
struct Brightness {
  RecordKind kind;
  double absolute_magnitude;  // H
  double slope;               // G of a minor planet, K of a comet
};

struct SkyRecord {
  OrbitElements elements;
  Brightness brightness;
};

// The blank slope parameters' usual values.
inline constexpr double DEFAULT_SLOPE_G = 0.15;
inline constexpr double DEFAULT_SLOPE_K = 4.0;

// read_sky_record: the orbit and brightness of a record line.
//
// Given:
//   kind  what classify_line made of the line
//   line  the record's text without its line end (columns past its end
//         read as blanks)
// Returned: the elements and brightness, or none: "not computable".
//
// A minor planet (columns as the conversion reads them): H 9-13, G 15-19,
// packed epoch 21-25, mean anomaly M 27-35, argument of perihelion 38-46,
// node 49-57, inclination 60-68, e 71-79, mean daily motion n 81-91
// (degrees per day), semi-major axis a 93-103. A semi-major axis of 0 is
// taken from n, a = (k / n)^(2/3) as the conversion does, and a mean
// motion of 0 from a, n = k a^(-3/2) (k = GAUSSIAN_K, n in radians per
// day). q = a (1 − e); T = epoch − M / n, with M taken between −180 and
// 180 degrees, so that T is the passage nearest the epoch; the period is
// 2π / n; and √μ = n a^1.5, so that the record's own mean motion and
// semi-major axis both hold.
//
// A comet: perihelion year 15-18, month 20-21, day 23-29 (T, julian_day),
// q 31-39, e 41-49, argument of perihelion 52-59, node 62-69, inclination
// 72-79, H 92-95, K 97-100; √μ = k (the comet's mass is nothing), and the
// period of an ellipse 2π (q / (1 − e))^1.5 / k.
//
// A blank G reads as 0.15, a blank K as 4.0. None ("not computable") when
// a field read holds no number (blank, or text that does not start with
// one) or a number that is not finite; when H is blank or not a number;
// when the packed epoch is not a date (century letter I, J or K, two
// digits, a month 1-9 or A-C, a day 1-9 or A-V); for a minor planet with
// e outside [0, 1), with a negative n or a, or with n and a both 0; for a
// comet with q of 0 or less, e below 0, or a month outside 1-12.
//
// Example: the minor-planet line of K05A00A (epoch K107N = 2455400.5 TT,
// M 200°, n 0.2°/day, a 2.7, e 0.1) gives q = 2.43, T = 2455400.5 +
// 160 / 0.2 = 2456200.5 (M is −160°), period 1800 days.
std::optional<SkyRecord> read_sky_record(RecordKind kind,
                                         std::string_view line);

// An orbit ready to propagate: its elements, with the two unit vectors of
// its plane in the ecliptic frame.
struct Orbit {
  OrbitElements elements;
  double alpha;             // (1 − e) / q = 1 / a, per AU; 0 for a parabola
  double speed_factor;      // √(q (1 + e)), AU
  Vector3 perihelion_axis;  // from the Sun towards perihelion
  Vector3 normal_axis;      // in the plane, 90° ahead of it in the motion
};

Orbit make_orbit(const OrbitElements& elements);

// A heliocentric position (AU), velocity (AU per day) and distance r (AU).
struct OrbitState {
  Vector3 position;
  Vector3 velocity;
  double distance;
};

// orbit_state: where two-body motion about the Sun takes the object.
//
// Given:
//   orbit   from make_orbit
//   tt_jd   the time, Julian Day TT
// Returned: the position, velocity and distance from the Sun, ecliptic and
// equinox J2000.
//
// Notes:
//  1. Universal variables, from the perihelion: with τ = t − T (reduced
//     to within half a period of a perihelion on an ellipse), the
//     universal anomaly χ solves √μ τ = q χ + e χ^3 S(α χ^2), with the
//     Stumpff functions C(z) = (1 − cos √z) / z and S(z) = (√z − sin √z) /
//     z^1.5 (their hyperbolic forms for z < 0, their series for |z| <= 1).
//     Then r = q + e χ^2 C, and in the orbit's plane x = q − χ^2 C,
//     y = χ (1 − z S) √(q (1 + e)). One formula serves the ellipse (χ =
//     √a E, E the eccentric anomaly), the parabola and the hyperbola,
//     without the loss of digits that the classical forms suffer near
//     e = 1.
//  2. χ is found by Halley's method inside a bracket that the function's
//     monotony gives (its derivative is r > 0), falling back to
//     bisection, so it converges for every e and every time; to 1e-14 of
//     χ in 2 to 4 steps for a main-belt orbit.
//  3. An object so far out on a hyperbola that the hyperbolic functions
//     overflow (about e^700) has an infinite distance.
// Example: a circular orbit of 1 AU (q 1, e 0, √μ = k) a quarter period
// after perihelion is at 90° from it: x = 0, y = 1, speed k.
OrbitState orbit_state(const Orbit& orbit, double tt_jd);

}  // namespace orbelm

#endif
