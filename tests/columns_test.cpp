#include "columns.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace orbelm {
namespace {

TEST(Columns, SliceIsTheTextOfItsColumnsOnly) {
  EXPECT_EQ(columns(" 3.34  0.12", 2, 5), "3.34");
  EXPECT_EQ(columns("abc", 2, 9), "bc");
  EXPECT_EQ(columns("abc", 5, 9), "");
  EXPECT_EQ(column_char("abcde", 5), 'e');
  EXPECT_EQ(column_char("abc", 5), ' ');
}

TEST(Columns, PaddedFieldKeepsItsWidthPastTheLineEnd) {
  EXPECT_EQ(padded_columns("ab", 1, 4).view(), "ab  ");
  EXPECT_EQ(padded_columns("ab", 5, 7).view(), "   ");
  EXPECT_EQ(padded_columns("  0.5  x", 1, 5).view(), "  0.5");
}

TEST(ReadDouble, NeverReadsPastTheField) {
  // "12" in columns 1-2 followed by "34": the field is 12.
  EXPECT_EQ(read_double(columns("1234", 1, 2)), 12.0);
  EXPECT_EQ(read_double(columns("0.5e3", 1, 4)), 0.5);  // "0.5e" is 0.5
}

TEST(ReadDouble, StopsAtTheFirstCharacterThatDoesNotFit) {
  EXPECT_EQ(read_double("  1.5xyz"), 1.5);
  EXPECT_EQ(read_double("2.5.1"), 2.5);
  EXPECT_EQ(read_double("1e"), 1.0);
  EXPECT_EQ(read_double("1e+"), 1.0);
  EXPECT_EQ(read_double("7-3"), 7.0);
  EXPECT_EQ(read_double("\t\n\v\f\r 4"), 4.0);
}

TEST(ReadDouble, AcceptsFortranExponentLetters) {
  EXPECT_EQ(read_double("1.5d2"), 150.0);
  EXPECT_EQ(read_double("1.5D-1"), 0.15);
  EXPECT_EQ(read_double("2E3"), 2000.0);
  EXPECT_EQ(read_double("-2.5e+1"), -25.0);
}

TEST(ReadDouble, SignsAndBareFractions) {
  EXPECT_EQ(read_double("+3."), 3.0);
  EXPECT_EQ(read_double("  .5"), 0.5);
  EXPECT_EQ(read_double("-.25"), -0.25);
  const double negative_zero = read_double(" -0 ");
  EXPECT_EQ(negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(negative_zero));
}

TEST(ReadDouble, NoNumberReadsAsZero) {
  EXPECT_EQ(read_double(""), 0.0);
  EXPECT_EQ(read_double("         "), 0.0);
  EXPECT_EQ(read_double("abc"), 0.0);
  EXPECT_EQ(read_double("-"), 0.0);
  EXPECT_EQ(read_double("."), 0.0);
  EXPECT_EQ(read_double("e5"), 0.0);
}

TEST(ReadDouble, DecimalOnly) {
  EXPECT_EQ(read_double("0x10"), 0.0);
  EXPECT_EQ(read_double("inf"), 0.0);
  EXPECT_EQ(read_double("nan"), 0.0);
  EXPECT_EQ(read_double("-infinity"), 0.0);
}

TEST(ReadDouble, ResultsAreCorrectlyRounded) {
  EXPECT_EQ(read_double("0.1"), 0.1);
  EXPECT_EQ(read_double("2.7000000"), 2.7);
  // Halfway between 1 and the next double: ties to even, stays 1.
  EXPECT_EQ(
      read_double("1.00000000000000011102230246251565404236316680908203125"),
      1.0);
  EXPECT_EQ(read_double("0.985607669"), 0.985607669);
}

TEST(ReadDouble, BeyondTheDoubleRange) {
  EXPECT_EQ(read_double("1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(read_double("-1d999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(read_double("1e-999"), 0.0);
  EXPECT_TRUE(std::signbit(read_double("-1e-999")));
  EXPECT_EQ(read_double("4.9406564584124654e-324"),
            std::numeric_limits<double>::denorm_min());
}

// As std::from_chars: a result outside the double range is an error that
// leaves the value, whatever the parsing library returns for it.
TEST(ReadDecimalChars, ReportsResultsBeyondTheDoubleRange) {
  for (const std::string_view text :
       {"1e999", "-1.8e308", "1e-999", "-2e-324", "0.0001e-320"}) {
    double value = 7.0;
    const auto [end, error] =
        read_decimal_chars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(error, std::errc::result_out_of_range) << text;
    EXPECT_EQ(end, text.data() + text.size()) << text;
    EXPECT_EQ(value, 7.0) << text;
  }
  // Zero digits, the words, and the smallest subnormal are in range.
  for (const std::string_view text :
       {"0e999", "-0.000e-999", "inf", "3e-324"}) {
    double value = 7.0;
    EXPECT_EQ(
        read_decimal_chars(text.data(), text.data() + text.size(), value).ec,
        std::errc())
        << text;
    EXPECT_NE(value, 7.0) << text;
  }
}

TEST(ReadInt, ReadsLikeTheDecimalIntegerConversion) {
  EXPECT_EQ(read_int("2005"), 2005);
  EXPECT_EQ(read_int(" 7"), 7);
  EXPECT_EQ(read_int("07"), 7);
  EXPECT_EQ(read_int("-3x"), -3);
  EXPECT_EQ(read_int("+12"), 12);
  EXPECT_EQ(read_int("1.9"), 1);
  EXPECT_EQ(read_int("  "), 0);
  EXPECT_EQ(read_int("x1"), 0);
  EXPECT_EQ(read_int("- 1"), 0);
}

TEST(ReadInt, ClampsToTheIntRange) {
  EXPECT_EQ(read_int("99999999999999999999"), std::numeric_limits<int>::max());
  EXPECT_EQ(read_int("-99999999999999999999"), std::numeric_limits<int>::min());
}

}  // namespace
}  // namespace orbelm
