// Where the Earth is: the heliocentric position and velocity of the
// Earth's centre (not of the Earth-Moon barycentre, 4,700 km away), in the
// ecliptic and equinox of J2000, from a truncation of the planetary theory
// VSOP87 (version B). Pure functions: no allocation, no state.
#ifndef ORBELM_EARTH_HPP
#define ORBELM_EARTH_HPP

#include "vector3.hpp"

namespace orbelm {

// Position (AU) and velocity (AU per day).
struct EarthState {
  Vector3 position;
  Vector3 velocity;
};

// earth_state: the Earth's centre as seen from the Sun.
//
// Given:
//   tt_jd  double  the time as a Julian Day in Terrestrial Time (TT)
// Returned:
//   position  AU, ecliptic and equinox J2000, x towards the equinox
//   velocity  AU per day, the same frame (the derivative of the series)
//
// Notes:
//  1. The theory is VSOP87B (P. Bretagnon and G. Francou, "Planetary
//     theories in rectangular and spherical variables: VSOP87 solutions",
//     Astronomy and Astrophysics 202, 309-315, 1988): heliocentric
//     longitude L, latitude B and distance R of the Earth, each a sum
//     over k = 0..5 of T^k times a series of terms A cos(B + C T), with T
//     in Julian millennia of TT from J2000.0 (JD 2451545.0). The program
//     keeps the 60 terms whose A · 0.1^k is at least 1e-6 (1e-6 rad or
//     AU at |T| = 0.1, that is, for 1900-2100), out of 2,564.
//  2. Measured against ERFA's eraEpv00 (heliocentric position rotated from
//     its equatorial frame to the ecliptic by the J2000 obliquity
//     84381.406"), sampled every 0.37 day over 1900-2100: at most
//     1.0e-5 AU (1,500 km); the complete series is within 5.6e-7 AU, the
//     rotation's own limit. The velocity is within 9e-7 AU per day. Outside those years the truncation's
//     error grows with |T|; the series stays usable for some centuries
//     more, at a few 1e-5 AU.
//  3. TT and the TDB of the theory differ by less than 2 ms, which moves
//     the Earth by 6e-11 AU: the difference is ignored.
// Example: at J2000.0 (2451545.0) the Earth is at about
// (-0.17713, 0.96724, -0.00000) AU, moving at (-0.01721, -0.00316, 0)
// AU per day.
EarthState earth_state(double tt_jd);

// Bounds of the Earth's distance from the Sun over 1900-2100 (0.98319 to
// 1.01681 AU by ERFA, the Moon's pull included), with a margin for the
// theory's error, and of its acceleration (the Sun's pull at perihelion
// and the Moon's on the Earth's centre, 3.08e-4 AU per day squared), with
// margin. The sky search's bounds rest on them.
inline constexpr double EARTH_SUN_DISTANCE_MIN = 0.983;  // AU
inline constexpr double EARTH_SUN_DISTANCE_MAX = 1.017;  // AU
inline constexpr double EARTH_ACCELERATION_MAX = 3.2e-4;  // AU / day^2

}  // namespace orbelm

#endif
