// Expected values are the column values worked by hand: Julian Days from
// published dates, angles as degrees times the double nearest to pi/180.
#include "convert.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "sample_records.hpp"

namespace orbelm {
namespace {

using testing::comet_example;
using testing::minor_planet_example;
using testing::put;

TEST(ConvertMinorPlanet, WorkedExample) {
  const ElementRecord r =
      convert_minor_planet(minor_planet_example(), "K05A00A");
  EXPECT_EQ(r.epoch, 2455400.5);
  EXPECT_EQ(r.perihelion_time, 2456200.5);
  EXPECT_EQ(r.perihelion_distance, 2.7 * (1 - 0.1));
  EXPECT_EQ(r.eccentricity_text.view(), "0.1000000");
  EXPECT_EQ(r.inclination, 10.0 * 0.017453292519943295);
  EXPECT_EQ(r.arg_perihelion, 90.0 * 0.017453292519943295);
  EXPECT_EQ(r.ascending_node, 180.0 * 0.017453292519943295);
  EXPECT_EQ(r.magnitude_code, 0.12 * 10000.0 + 3.34);
  EXPECT_EQ(r.short_name.view(), "(9)");
  EXPECT_EQ(r.long_name.view(), "(9) Testname");
}

std::string with_mean_anomaly(std::string_view anomaly) {
  std::string line = minor_planet_example();
  return put(line, 27, anomaly);
}

TEST(ConvertMinorPlanet, MeanAnomalyOf180TakesThePreviousPerihelion) {
  const ElementRecord r =
      convert_minor_planet(with_mean_anomaly("180.00000"), "x");
  EXPECT_EQ(r.perihelion_time, 2455400.5 - 180.0 / 0.2);
}

TEST(ConvertMinorPlanet, NegativeMeanAnomalyGetsOneTurnAdded) {
  const ElementRecord r =
      convert_minor_planet(with_mean_anomaly("-10.00000"), "x");
  EXPECT_EQ(r.perihelion_time, 2455400.5 + 10.0 / 0.2);
}

TEST(ConvertMinorPlanet, MeanAnomalyOf360OrMoreIsNotReduced) {
  const ElementRecord r =
      convert_minor_planet(with_mean_anomaly("400.00000"), "x");
  EXPECT_EQ(r.perihelion_time, 2455400.5 + (360.0 - 400.0) / 0.2);
}

TEST(ConvertMinorPlanet, ZeroSemiMajorAxisComesFromTheMeanMotion) {
  std::string line = minor_planet_example();
  put(line, 71, "0.5000000");
  put(line, 81, "0.985607669");
  put(line, 93, "  0.0000000");
  EXPECT_EQ(convert_minor_planet(line, "x").perihelion_distance, 0.5);
}

TEST(ConvertMinorPlanet, ZeroMeanMotionGivesInfinities) {
  std::string line = minor_planet_example();
  put(line, 81, "           ");
  put(line, 93, "  0.0000000");
  const ElementRecord r = convert_minor_planet(line, "x");
  EXPECT_TRUE(std::isinf(r.perihelion_time));
  EXPECT_TRUE(std::isinf(r.perihelion_distance));
}

TEST(ConvertMinorPlanet, BlankSlopeLeavesTheMagnitude) {
  std::string line = minor_planet_example();
  put(line, 15, "     ");
  EXPECT_EQ(convert_minor_planet(line, "x").magnitude_code, 3.34);
}

TEST(ConvertMinorPlanet, ShortNameWithoutParenthesisStaysWhole) {
  std::string line = minor_planet_example();
  put(line, 175, "Eros                          ");
  const ElementRecord r = convert_minor_planet(line, "x");
  EXPECT_EQ(r.short_name.view(), "Eros      ");
  EXPECT_EQ(r.long_name.view(), "Eros                     ");
}

TEST(ConvertMinorPlanet, NamesEndWhereTheLineEnds) {
  std::string line = minor_planet_example();
  line.resize(178);  // "(9)" in columns 175-177, and one blank
  EXPECT_EQ(convert_minor_planet(line, "x").long_name.view(), "(9) ");
  line.resize(170);
  EXPECT_EQ(convert_minor_planet(line, "x").long_name.view(), "");
  EXPECT_EQ(convert_minor_planet(line, "x").short_name.view(), "");
}

TEST(ConvertMinorPlanet, ShortLineReadsBlanksNotAnotherLinesText) {
  // Only the designation and H: every other field is blank, so 0.
  const ElementRecord r = convert_minor_planet("K05A00A  3.34", "K05A00A");
  EXPECT_EQ(r.magnitude_code, 3.34);
  EXPECT_EQ(r.eccentricity_text.view(), "         ");
  EXPECT_EQ(r.inclination, 0.0);
}

TEST(ConvertComet, WorkedExample) {
  const ElementRecord r = convert_comet(comet_example(), "0099P");
  EXPECT_EQ(r.perihelion_time, 2453693.75);
  EXPECT_EQ(r.perihelion_distance_text.view(), " 1.234567");
  EXPECT_EQ(r.eccentricity_text.view(), " 0.654321");
  EXPECT_EQ(r.arg_perihelion, 45.0 * 0.017453292519943295);
  EXPECT_EQ(r.ascending_node, 120.0 * 0.017453292519943295);
  EXPECT_EQ(r.inclination, 30.0 * 0.017453292519943295);
  EXPECT_EQ(r.epoch, 2453693.75);
  EXPECT_EQ(r.magnitude_code, 100010.5);
  EXPECT_EQ(r.short_name.view(), "99P/Testco");
  EXPECT_EQ(r.long_name.view(), "99P/Testcomet");
}

TEST(ConvertComet, EpochGivenInColumns82To89) {
  std::string line = comet_example();
  put(line, 82, "20100723");
  EXPECT_EQ(convert_comet(line, "x").epoch, 2455400.5);
}

TEST(ConvertComet, AnyEpochYearTextIsADateWithBlankPartsAsZero) {
  std::string line = comet_example();
  put(line, 82, "   2");  // year 2, month 0, day 0
  // Month 0 is December of year 1; day 0 its last day before the 1st.
  EXPECT_EQ(convert_comet(line, "x").epoch, 1721758.5);
}

TEST(ConvertComet, PerihelionDateWithFraction) {
  std::string line = comet_example();
  put(line, 15, "1986 02  9.4589");
  EXPECT_EQ(convert_comet(line, "x").perihelion_time, 2446470.9589);
}

TEST(ConvertComet, BlankSlopeLeavesTheMagnitude) {
  std::string line = comet_example();
  put(line, 92, " 5.5     ");
  EXPECT_EQ(convert_comet(line, "x").magnitude_code, 5.5);
}

TEST(ConvertComet, ParenthesisDoesNotCutTheShortName) {
  std::string line = comet_example();
  put(line, 103, "P/(x) Test");
  EXPECT_EQ(convert_comet(line, "x").short_name.view(), "P/(x) Test");
  EXPECT_EQ(
      convert_minor_planet(put(line, 175, "P/(x) Test"), "x").short_name.view(),
      "P/(x)");
}

TEST(ConvertComet, TextFieldsPastTheLineEndAreBlanks) {
  // The line ends inside the q field: q keeps its nine columns.
  const ElementRecord r =
      convert_comet("0099P         2005 11 19.2500  1.23", "x");
  EXPECT_EQ(r.perihelion_distance_text.view(), " 1.23    ");
  EXPECT_EQ(r.eccentricity_text.view(), "         ");
  EXPECT_EQ(r.epoch, r.perihelion_time);
  EXPECT_EQ(r.long_name.view(), "");
}

}  // namespace
}  // namespace orbelm
