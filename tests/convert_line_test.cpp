#include "convert_line.hpp"

#include <gtest/gtest.h>

#include <string>

#include "sample_records.hpp"

namespace orbelm {
namespace {

using testing::put;

std::string element_line(const std::string& line) {
  ConvertedLine converted;
  EXPECT_EQ(convert_line(line, converted), LineOutcome::Converted);
  return {converted.element_line, converted.element_line_size};
}

TEST(ElementLine, MinorPlanetWorkedExample) {
  EXPECT_EQ(element_line(testing::minor_planet_example()),
            testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
}

TEST(ElementLine, CometWorkedExampleWithAndWithoutEpoch) {
  std::string line = testing::comet_example();
  EXPECT_EQ(element_line(line), testing::COMET_EXAMPLE_ELEMENTS);
  put(line, 82, "20100723");
  EXPECT_EQ(element_line(line), testing::COMET_EXAMPLE_WITH_EPOCH_ELEMENTS);
}

TEST(ElementLine, TwoStepRoundingOfTheMagnitudeCode) {
  std::string line = testing::minor_planet_example();
  put(line, 9, " 3.25");  // 0.12 * 10000 + 3.25 is exactly 1203.25
  EXPECT_NE(element_line(line).find(" 1203.3 2000.0 "), std::string::npos);
  put(line, 9, "14.05");
  put(line, 15, " 0.15");  // just below 1514.05
  EXPECT_NE(element_line(line).find(" 1514.1 2000.0 "), std::string::npos);
}

TEST(ElementLine, ZeroMeanMotionPrintsInfinityAndNaN) {
  std::string line = testing::minor_planet_example();
  put(line, 27, "  0.00000");
  put(line, 81, "           ");
  put(line, 93, "  0.0000000");
  // M = 0: epoch - 0/0 is NaN (sign bit set on this platform's 0/0);
  // q = 0.9 * (K/0)^(2/3) is infinite.
  const std::string elements = element_line(line);
  EXPECT_EQ(elements.substr(21, 29), "           -nan          inf ")
      << elements;
}

TEST(ConvertLine, FileNameIsTheDesignationWithElm) {
  ConvertedLine converted;
  ASSERT_EQ(convert_line(testing::minor_planet_example(), converted),
            LineOutcome::Converted);
  EXPECT_STREQ(converted.file_name, "K05A00A.elm");
  EXPECT_EQ(converted.file_name_size, 11u);
}

TEST(ConvertLine, RejectsDesignationsThatAreNotPlainNames) {
  ConvertedLine converted;
  EXPECT_EQ(convert_line("K/../../x  3.34", converted), LineOutcome::Rejected);
  EXPECT_EQ(converted.designation, "K/../../x");
  EXPECT_EQ(convert_line("    P/../x  2005", converted), LineOutcome::Rejected);
  EXPECT_EQ(convert_line("K05A00A00000x", converted), LineOutcome::Rejected);
  EXPECT_EQ(convert_line("Des'n", converted), LineOutcome::Skipped);
}

}  // namespace
}  // namespace orbelm
