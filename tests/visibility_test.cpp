// The magnitude laws against values worked by hand, and the search on
// crafted orbits whose brightest moment follows from their construction.
#include "visibility.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "calendar.hpp"
#include "sample_records.hpp"

namespace orbelm {
namespace {

constexpr double PI = std::numbers::pi;

TEST(Magnitude, MinorPlanetByTheHGLaw) {
  // α = 0: Φ1 = Φ2 = 1, V = H + 5 log10(r Δ) = 15 + 5 log10 2 = 16.50515.
  EXPECT_NEAR(minor_planet_magnitude(15.0, 0.15, 2.0, 1.0, 0.0), 16.50515,
              1e-5);
  // α = 60°: tan 30° = 0.577350; ^0.63 = 0.707468, Φ1 = exp(−3.33 ·
  // 0.707468) = 0.094811; ^1.22 = 0.511630, Φ2 = exp(−1.87 · 0.511630) =
  // 0.384140; 0.85 Φ1 + 0.15 Φ2 = 0.138210, −2.5 log10 of it = 2.14865;
  // V = 15 + 1.50515 + 2.14865 = 18.65380.
  EXPECT_NEAR(minor_planet_magnitude(15.0, 0.15, 2.0, 1.0, PI / 3), 18.65380,
              1e-4);
  // G 1.5 at α = 150°: tan 75° = 3.732051, Φ1 = exp(−3.33 · 2.2933) =
  // 0.000483, Φ2 = exp(−1.87 · 4.9898) = 0.0000889; −0.5 Φ1 + 1.5 Φ2 < 0:
  // no light, an infinite magnitude.
  EXPECT_TRUE(std::isinf(
      minor_planet_magnitude(15.0, 1.5, 2.0, 1.0, 150.0 * PI / 180.0)));
}

TEST(Magnitude, CometTotalMagnitude) {
  // 10 + 5 log10 0.5 + 2.5 · 4 · log10 2 = 10 − 1.50515 + 3.01030.
  EXPECT_NEAR(comet_magnitude(10.0, 4.0, 2.0, 0.5), 11.50515, 1e-5);
}

TEST(WindowEarth, InterpolatesTheTheoryBetweenItsDailySamples) {
  const SkyWindow w = make_sky_window(julian_day(2027, 1, 1), 30, 18, 0);
  for (double day : {0.0, 0.25, 7.5, 13.9, 29.99}) {
    const double tt = w.start_tt + day;
    const EarthState a = window_earth(w, tt), b = earth_state(tt);
    EXPECT_LT(norm(a.position - b.position), 1e-9) << day;
    EXPECT_LT(norm(a.velocity - b.velocity), 1e-8) << day;
  }
}

// A record crafted to pass `miss` AU beyond the Earth, straight away from
// the Sun, at TT `when`: its perihelion (q = Earth's distance + miss) lies
// exactly in the Earth's direction at that instant (longitude λ and
// latitude b, up to 12" off the J2000 ecliptic by 2027), on an orbit of
// e 0.5 tilted 30° to the ecliptic (sin ω = sin b / sin i, and the node
// λ − atan(tan ω cos i)), so that it crosses the Earth's path at about
// 0.011 AU per day, within 0.004 AU (1.5 mag fainter) for 8 hours. At
// `when`: r = q, Δ = miss, phase angle 0, so V = H + 5 log10(q · miss),
// and no other instant is brighter (r, Δ and α are all least then).
SkyRecord close_passage(double when, double miss, Brightness brightness) {
  const Vector3 earth = earth_state(when).position;
  SkyRecord record{};
  OrbitElements& el = record.elements;
  el.perihelion_distance = norm(earth) + miss;
  el.eccentricity = 0.5;
  el.perihelion_time = when;
  el.period = 2 * PI * std::pow(el.perihelion_distance / 0.5, 1.5) / GAUSSIAN_K;
  el.sqrt_mu = GAUSSIAN_K;
  el.inclination = PI / 6;
  el.arg_perihelion =
      std::asin(earth.z / norm(earth) / std::sin(el.inclination));
  el.ascending_node =
      std::atan2(earth.y, earth.x) -
      std::atan(std::tan(el.arg_perihelion) * std::cos(el.inclination));
  record.brightness = brightness;
  return record;
}

TEST(BrightestSighting, FindsAPassageOfHoursBetweenItsSamples) {
  const double start = julian_day(2027, 1, 1);
  const SkyWindow w = make_sky_window(start, 30, 12, 0);
  const double when = w.start_tt + 14.3;
  const SkyRecord record =
      close_passage(when, 0.002, {RecordKind::MinorPlanet, 20.0, 0.15});
  const double expected =
      20.0 + 5 * std::log10(record.elements.perihelion_distance * 0.002);
  Sighting s{};
  ASSERT_EQ(brightest_sighting(w, record, s), Visibility::Visible);
  EXPECT_NEAR(s.magnitude, expected, 0.01);
  EXPECT_NEAR(s.earth_distance, 0.002, 2e-5);
  EXPECT_NEAR(s.utc_jd, when - 69.184 / 86400, 1.0 / 24);
  EXPECT_GT(s.elongation, 179.0);
  // With a limit just brighter than its best it is too faint.
  const SkyWindow tight = make_sky_window(start, 30, expected - 0.02, 0);
  EXPECT_EQ(brightest_sighting(tight, record, s), Visibility::TooFaint);
}

TEST(BrightestSighting, ElongationLimitLeavesOutWhatIsTooNearTheSun) {
  // A comet on the same kind of path, but on the Sun's side of the Earth
  // (q = Earth's distance − 0.05; a minor planet would show its dark side
  // there, phase angle 180°): elongation 0 then, and within a day and a
  // half it
  // moves 0.011 · 1.7 = 0.019 AU across the line of sight, at most
  // atan(0.019 / 0.05) = 21° from the Sun. So too faint for 30°, and for
  // 10° visible only where 10° or more from the Sun.
  const double start = julian_day(2027, 1, 1);
  const SkyRecord record =
      close_passage(make_sky_window(start, 3, 18, 0).start_tt + 1.3, -0.05,
                    {RecordKind::Comet, 15.0, 4.0});
  Sighting s{};
  ASSERT_EQ(brightest_sighting(make_sky_window(start, 3, 18, 0), record, s),
            Visibility::Visible);
  // Within 0.01 mag of its best (Δ within 0.5 % of 0.05 AU: 0.005 AU
  // across the line of sight) it is at most atan(0.005 / 0.05) = 6° out.
  EXPECT_LT(s.elongation, 6.0);
  EXPECT_EQ(brightest_sighting(make_sky_window(start, 3, 18, 30), record, s),
            Visibility::TooFaint);
  ASSERT_EQ(brightest_sighting(make_sky_window(start, 3, 18, 10), record, s),
            Visibility::Visible);
  EXPECT_GE(s.elongation, 10.0);
  EXPECT_LT(s.elongation, 10.5);  // the brightest moment is at the limit
}

TEST(BrightestSighting, RecordLines) {
  const SkyWindow w = make_sky_window(julian_day(2010, 7, 1), 30, 30, 0);
  Sighting s{};
  // K05A00A: H 3.34 at r about 2.4-3, so visible at V <= 30.
  EXPECT_EQ(brightest_sighting(w, RecordKind::MinorPlanet,
                               testing::minor_planet_example(), s),
            Visibility::Visible);
  EXPECT_GT(s.sun_distance, 2.43);
  std::string blank_h = testing::minor_planet_example();
  EXPECT_EQ(brightest_sighting(w, RecordKind::MinorPlanet,
                               testing::put(blank_h, 9, "     "), s),
            Visibility::NotComputable);
  // H 25 with q 2.43: at best 25 + 5 log10(2.43 · 1.41) = 28.9 at any
  // point of its orbit, so too faint for V <= 28 without propagating.
  std::string faint = testing::minor_planet_example();
  const SkyWindow w28 = make_sky_window(julian_day(2010, 7, 1), 30, 28, 0);
  EXPECT_EQ(brightest_sighting(w28, RecordKind::MinorPlanet,
                               testing::put(faint, 9, "25.00"), s),
            Visibility::TooFaint);
}

}  // namespace
}  // namespace orbelm
