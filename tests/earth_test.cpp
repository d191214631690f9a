// The Earth against ERFA's eraEpv00 (Debian liberfa-dev), an independent
// model of the Earth's motion (fitted to the DE405 ephemeris): built only
// where ERFA is found. eraEpv00 gives the heliocentric position in its
// equatorial frame (ICRS axes); a rotation about x by the J2000 obliquity
// 84381.406" (IAU 2006) turns it to the ecliptic of J2000, as the theory
// uses. The rotation's own mismatch with the theory's frame is below
// 6e-7 AU.
#include "earth.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace orbelm {
namespace {

constexpr double OBLIQUITY = 84381.406 / 3600.0 * 3.14159265358979323846 / 180.0;

Vector3 to_ecliptic(const double (&v)[3]) {
  const double c = std::cos(OBLIQUITY), s = std::sin(OBLIQUITY);
  return {v[0], c * v[1] + s * v[2], -s * v[1] + c * v[2]};
}

TEST(EarthState, WithinTwoHundredThousandthsOfAnAuOfErfaFrom1900To2100) {
  double worst = 0.0, worst_velocity = 0.0, worst_at = 0.0;
  // Every 0.37 day from 1900 January 1 to 2100 January 1 (TT), so that
  // every phase of the Moon's month is sampled many times.
  for (double jd = 2415020.5; jd <= 2488069.5; jd += 0.37) {
    double heliocentric[2][3], barycentric[2][3];
    eraEpv00(jd, 0.0, heliocentric, barycentric);
    const EarthState got = earth_state(jd);
    const double error = norm(got.position - to_ecliptic(heliocentric[0]));
    if (error > worst) {
      worst = error;
      worst_at = jd;
    }
    worst_velocity = std::fmax(
        worst_velocity, norm(got.velocity - to_ecliptic(heliocentric[1])));
  }
  std::printf("largest error %.3g AU at JD %.2f; velocity %.3g AU/day\n",
              worst, worst_at, worst_velocity);
  EXPECT_LT(worst, 2e-5);
  EXPECT_LT(worst_velocity, 2e-6);  // 0.01 % of the Earth's speed
}

TEST(EarthState, DistanceStaysWithinTheSearchsBounds) {
  for (double jd = 2415020.5; jd <= 2488069.5; jd += 0.37) {
    const double r = norm(earth_state(jd).position);
    ASSERT_GT(r, EARTH_SUN_DISTANCE_MIN) << jd;
    ASSERT_LT(r, EARTH_SUN_DISTANCE_MAX) << jd;
  }
}

}  // namespace
}  // namespace orbelm
