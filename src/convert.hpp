// Element conversion: one record line to the values of its element line.
//
// Each converter reads the fixed columns of its record kind from `line`
// (the text without its line end; columns past the end read as blanks) and
// returns an ElementRecord with every field filled except the name field,
// which the driver builds from the returned short name. Neither validates a
// field: a blank or non-numeric number reads as 0, and a mean daily motion
// of 0 gives infinities or NaN, which are printed as such.
#ifndef ORBELM_CONVERT_HPP
#define ORBELM_CONVERT_HPP

#include <string_view>

#include "record.hpp"

namespace orbelm {

// Degrees to radians: the double nearest to π / 180.
inline constexpr double DEG_TO_RAD = 0.017453292519943295;
// Gaussian gravitational constant in degrees per day: the mean daily motion
// of a body with a semi-major axis of 1 AU.
inline constexpr double MEAN_MOTION_K = 0.985607669;

// convert_minor_planet: a minor-planet record (the published layout of
// columns 1-202).
//
// Columns read: H 9-13, G 15-19, packed epoch 21-25, mean anomaly M 27-35,
// argument of perihelion 38-46, ascending node 49-57, inclination 60-68,
// eccentricity e 71-79 (also kept as text), mean daily motion n 81-91,
// semi-major axis a 93-103, short name 175-184, long name 175-199.
// Returned, in double precision and in this order:
//   epoch            julian_day of the packed epoch at 0h
//   perihelion_time  M below 0 gets 360 added once; then for M > 180 the
//                    next perihelion (360 − M) / n + epoch, otherwise the
//                    previous one epoch − M / n
//   perihelion_distance  a · (1 − e); for a = 0, (1 − e) · (K / n)^(2/3)
//                    with K = MEAN_MOTION_K
//   angles           degrees · DEG_TO_RAD
//   magnitude_code   G · 10000 + H
//   short_name       columns 175-184 up to the line's end, then cut right
//                    after the first ")": "(433) Eros" gives "(433)"
//   long_name        columns 175-199 up to the line's end
// Example: M 200, n 0.2, epoch K107N (2455400.5) give the perihelion time
// 2455400.5 + 160 / 0.2 = 2456200.5; a 2.7, e 0.1 give q = 2.43.
ElementRecord convert_minor_planet(std::string_view line,
                                   std::string_view designation);

// convert_comet: a comet record (the published layout, name from column
// 103).
//
// Columns read: perihelion year 15-18, month 20-21, day with fraction
// 23-29, q 31-39 (text), e 41-49 (text), argument of perihelion 52-59,
// ascending node 62-69, inclination 72-79, epoch year 82-85, month 86-87,
// day 88-89, H 92-95, K 97-100, short name 103-112, long name 103-127.
// Returned:
//   perihelion_time  julian_day of the perihelion date
//   epoch            the perihelion time when columns 82-85 are four
//                    blanks; otherwise julian_day of the epoch date, blank
//                    month or day reading as 0
//   angles           degrees · DEG_TO_RAD
//   magnitude_code   (K · 2.5) · 10000 + H
//   short_name       columns 103-112 up to the line's end (a parenthesis
//                    does not cut it)
//   long_name        columns 103-127 up to the line's end
// Example: perihelion 2005 11 19.25 gives 2453693.75; H 10.5 and K 4.0
// give 100010.5.
ElementRecord convert_comet(std::string_view line,
                            std::string_view designation);

}  // namespace orbelm

#endif
