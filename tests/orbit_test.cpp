// Two-body positions against the classical solutions of each regime,
// worked by hand from the anomalies (the code under test uses universal
// variables instead), and the reading of records.
#include "orbit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "sample_records.hpp"

namespace orbelm {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double K = 0.01720209895;
// The perihelion time of the hand cases. A Julian Day near 2.46e6 holds
// time to 5e-10 day, which moves a body by up to 1e-11 AU: the
// tolerances below.
constexpr double T0 = 2460000.5;
constexpr double CLOSE = 1e-10;  // AU

// An orbit in the ecliptic with perihelion on x (all angles 0), so that
// the orbit's plane coordinates are the ecliptic's.
Orbit plane_orbit(double q, double e) {
  OrbitElements el{};
  el.perihelion_distance = q;
  el.eccentricity = e;
  el.perihelion_time = T0;
  el.sqrt_mu = K;
  if (e < 1.0) el.period = 2.0 * PI * std::pow(q / (1.0 - e), 1.5) / K;
  return make_orbit(el);
}

void ExpectAt(const Orbit& orbit, double tau, double x, double y, double r,
              double tolerance) {
  const OrbitState s = orbit_state(orbit, T0 + tau);
  EXPECT_NEAR(s.position.x, x, tolerance) << "tau " << tau;
  EXPECT_NEAR(s.position.y, y, tolerance) << "tau " << tau;
  EXPECT_NEAR(s.position.z, 0.0, tolerance) << "tau " << tau;
  EXPECT_NEAR(s.distance, r, tolerance) << "tau " << tau;
}

TEST(OrbitState, EllipseAtEccentricAnomalyNinetyDegrees) {
  // q 1, e 0.5: a = 2, n = k / 2^1.5. E = π/2 gives M = π/2 − 0.5, and
  // x = a (cos E − e) = −1, y = a √(1 − e²) = √3, r = a (1 − e cos E) = 2;
  // the speed from vis-viva is k √(2/r − 1/a) = k √0.5.
  const Orbit orbit = plane_orbit(1.0, 0.5);
  const double tau = (PI / 2 - 0.5) / (K / std::pow(2.0, 1.5));
  ExpectAt(orbit, tau, -1.0, std::sqrt(3.0), 2.0, CLOSE);
  ExpectAt(orbit, -tau, -1.0, -std::sqrt(3.0), 2.0, CLOSE);
  // A thousand periods later the body is where it was.
  ExpectAt(orbit, tau + 1000.0 * orbit.elements.period, -1.0, std::sqrt(3.0),
           2.0, 1e-9);
  EXPECT_NEAR(norm(orbit_state(orbit, T0 + tau).velocity), K * std::sqrt(0.5),
              1e-13);
}

TEST(OrbitState, ParabolaAtTrueAnomalyNinetyDegrees) {
  // Barker: τ = √(2 q³ / k²) (s + s³/3), s = tan(ν/2) = 1, so τ = (4/3) √2
  // / k; x = q (1 − s²) = 0, y = 2 q s = 2, r = q (1 + s²) = 2.
  const Orbit orbit = plane_orbit(1.0, 1.0);
  ExpectAt(orbit, 4.0 / 3.0 * std::sqrt(2.0) / K, 0.0, 2.0, 2.0, CLOSE);
}

TEST(OrbitState, HyperbolaAtHyperbolicAnomalyOne) {
  // q 1, e 2: a = −1, n = k. H = 1 gives M = 2 sinh 1 − 1, and
  // x = |a| (e − cosh 1), y = |a| √(e² − 1) sinh 1, r = |a| (e cosh 1 − 1).
  const Orbit orbit = plane_orbit(1.0, 2.0);
  ExpectAt(orbit, (2.0 * std::sinh(1.0) - 1.0) / K, 2.0 - std::cosh(1.0),
           std::sqrt(3.0) * std::sinh(1.0), 2.0 * std::cosh(1.0) - 1.0, CLOSE);
}

TEST(OrbitState, NearParabolicOrbitsKeepTheirDigits) {
  // With e = 1 ± 1e-10 the body is where the parabola puts it to within
  // about 1e-10 AU; the classical forms (a of 1e10 AU times a difference
  // of cosines) lose several of those digits.
  const double tau = 4.0 / 3.0 * std::sqrt(2.0) / K;
  ExpectAt(plane_orbit(1.0, 1.0 - 1e-10), tau, 0.0, 2.0, 2.0, 1e-9);
  ExpectAt(plane_orbit(1.0, 1.0 + 1e-10), tau, 0.0, 2.0, 2.0, 1e-9);
  // And far out: ten years after perihelion, e = 0.999999 against 1.
  const OrbitState near = orbit_state(plane_orbit(1.0, 0.999999), T0 + 3652.5);
  const OrbitState parabola = orbit_state(plane_orbit(1.0, 1.0), T0 + 3652.5);
  EXPECT_NEAR(near.distance / parabola.distance, 1.0, 1e-4);
}

TEST(OrbitState, AnglesTurnThePlane) {
  // i 90°, ω 90°, Ω 0: perihelion lies 90° past the ascending node (on x)
  // in a polar orbit, straight above the ecliptic.
  OrbitElements el{};
  el.perihelion_distance = 1.5;
  el.eccentricity = 1.0;
  el.perihelion_time = T0;
  el.sqrt_mu = K;
  el.inclination = PI / 2;
  el.arg_perihelion = PI / 2;
  const OrbitState s = orbit_state(make_orbit(el), T0);
  EXPECT_NEAR(s.position.x, 0.0, 1e-15);
  EXPECT_NEAR(s.position.y, 0.0, 1e-15);
  EXPECT_NEAR(s.position.z, 1.5, 1e-15);
}

TEST(ReadSkyRecord, MinorPlanetFromItsEpochAndMeanAnomaly) {
  // Epoch K107N = 2455400.5, M 200° = −160°, n 0.2°/day: the perihelion
  // 800 days after the epoch; a 2.7, e 0.1: q 2.43.
  const auto r = read_sky_record(RecordKind::MinorPlanet,
                                 testing::minor_planet_example());
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->elements.perihelion_time, 2456200.5, 1e-9);
  EXPECT_NEAR(r->elements.perihelion_distance, 2.43, 1e-12);
  EXPECT_NEAR(r->elements.period, 1800.0, 1e-9);
  EXPECT_NEAR(r->elements.sqrt_mu, 0.2 * PI / 180 * std::pow(2.7, 1.5), 1e-15);
  EXPECT_EQ(r->brightness.absolute_magnitude, 3.34);
  EXPECT_EQ(r->brightness.slope, 0.12);
}

TEST(ReadSkyRecord, SemiMajorAxisFromTheMeanMotionAndBlankSlopes) {
  std::string line = testing::minor_planet_example();
  testing::put(line, 81, "  0.9856077");  // k in degrees per day: a = 1
  testing::put(line, 93, "  0.0000000");
  testing::put(line, 15, "     ");
  const auto r = read_sky_record(RecordKind::MinorPlanet, line);
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->elements.perihelion_distance, 0.9, 1e-7);
  EXPECT_EQ(r->brightness.slope, 0.15);
  std::string comet = testing::comet_example();
  testing::put(comet, 97, "    ");
  const auto c = read_sky_record(RecordKind::Comet, comet);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->brightness.slope, 4.0);
  EXPECT_EQ(c->brightness.absolute_magnitude, 10.5);
  EXPECT_NEAR(c->elements.perihelion_distance, 1.234567, 1e-15);
  EXPECT_NEAR(c->elements.perihelion_time, 2453693.75, 1e-9);
}

bool computable(RecordKind kind, std::string line, int column,
                std::string_view text) {
  return read_sky_record(kind, testing::put(line, column, text)).has_value();
}

TEST(ReadSkyRecord, NotComputable) {
  const std::string mp = testing::minor_planet_example();
  const auto MP = RecordKind::MinorPlanet;
  EXPECT_FALSE(computable(MP, mp, 9, "     "));       // H blank
  EXPECT_FALSE(computable(MP, mp, 9, " abc "));       // H not a number
  EXPECT_FALSE(computable(MP, mp, 15, " x.15"));      // G not a number
  EXPECT_FALSE(computable(MP, mp, 71, "1.0000000"));  // e = 1
  EXPECT_FALSE(computable(MP, mp, 27, "         "));  // M blank
  EXPECT_FALSE(computable(MP, mp, 21, "K10 N"));      // epoch not a date
  std::string no_motion = mp;
  testing::put(no_motion, 81, " 0.00000000");
  EXPECT_FALSE(computable(MP, no_motion, 93, "  0.0000000"));  // n = a = 0
  EXPECT_TRUE(computable(MP, no_motion, 93, "  2.7000000"));   // n from a
  const std::string comet = testing::comet_example();
  const auto C = RecordKind::Comet;
  EXPECT_FALSE(computable(C, comet, 31, " 0.000000"));  // q = 0
  EXPECT_FALSE(computable(C, comet, 31, "-1.000000"));  // q < 0
  EXPECT_FALSE(computable(C, comet, 92, "    "));       // H blank
  EXPECT_FALSE(computable(C, comet, 20, "13"));         // month 13
  EXPECT_TRUE(computable(C, comet, 41, " 1.000000"));   // a parabola
}

}  // namespace
}  // namespace orbelm
