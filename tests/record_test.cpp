#include "record.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orbelm {
namespace {

struct Expected {
  bool is_record;
  RecordKind kind;
  int column;
};

void ExpectClass(std::string_view line, Expected expected) {
  const LineClass got = classify_line(line);
  EXPECT_EQ(got.is_record, expected.is_record) << '"' << line << '"';
  if (got.is_record && expected.is_record) {
    EXPECT_EQ(got.kind, expected.kind) << '"' << line << '"';
    EXPECT_EQ(got.designation_column, expected.column) << '"' << line << '"';
  }
}

constexpr Expected MINOR{true, RecordKind::MinorPlanet, 1};
constexpr Expected COMET_1{true, RecordKind::Comet, 1};
constexpr Expected COMET_5{true, RecordKind::Comet, 5};
constexpr Expected SKIP{false, RecordKind::MinorPlanet, 0};

TEST(ClassifyLine, MinorPlanets) {
  ExpectClass("K05A00A  3.34", MINOR);
  ExpectClass("J95X00A", MINOR);
  ExpectClass("KxxxP", MINOR);  // "J"/"K" wins whatever column 5 holds
  ExpectClass("00433   11.16", MINOR);
  ExpectClass("    1", MINOR);  // a digit in column 5, blank column 1
  ExpectClass("abcd7", MINOR);
  ExpectClass("A0001", MINOR);
}

TEST(ClassifyLine, PackedNumbersFrom620000AndExtendedDesignations) {
  ExpectClass("~0C5r    17.5", MINOR);
  ExpectClass("_QC0aEM  18.2", MINOR);
}

TEST(ClassifyLine, Comets) {
  ExpectClass("0001P         1986", COMET_1);
  ExpectClass("0003D", COMET_1);
  ExpectClass("    CJ95O010  1997", COMET_5);
  ExpectClass("    PK12C030", COMET_5);
  ExpectClass("    DJ93F020", COMET_5);
}

TEST(ClassifyLine, SkippedLines) {
  ExpectClass("", SKIP);
  ExpectClass("0001C", SKIP);  // a digit, then "C": skipped
  ExpectClass("0001I", SKIP);
  ExpectClass("    AK18V030", SKIP);
  ExpectClass("    IK17U010", SKIP);
  ExpectClass("Des'n     H     G", SKIP);
  ExpectClass("-----", SKIP);
  ExpectClass(" ", SKIP);
  ExpectClass("k05Ax", SKIP);  // case-sensitive
  ExpectClass("1234", SKIP);   // column 5 past the end reads as a blank
  ExpectClass("K", MINOR);
}

TEST(DesignationToken, FirstTokenFromItsColumn) {
  EXPECT_EQ(designation_token("K05A00A  3.34", 1), "K05A00A");
  EXPECT_EQ(designation_token("    CJ95O010  1997", 5), "CJ95O010");
  EXPECT_EQ(designation_token("0001P         1986", 1), "0001P");
  EXPECT_EQ(designation_token("0051P      a  2022", 1), "0051P");
  EXPECT_EQ(designation_token("    1 x", 1), "1");
  EXPECT_EQ(designation_token("K05\tA", 1), "K05");
  EXPECT_EQ(designation_token("K05\v\fA", 1), "K05");
  EXPECT_EQ(designation_token("K05\rA", 1), "K05");
  EXPECT_EQ(designation_token("K05A00A", 1), "K05A00A");
}

// The letters must make the word that ends in column 12.
TEST(FragmentLetters, OnlyAWordEndingInColumn12) {
  EXPECT_EQ(fragment_letters("0073P     ab"), "ab");  // the line ends there
  EXPECT_EQ(fragment_letters("0073D      b\t2022"), "b");
  EXPECT_EQ(fragment_letters("0073P\t     b"), "");
}

TEST(SafeDesignation, ShortPlainTokensOnly) {
  EXPECT_TRUE(is_safe_designation("K05A00A"));
  EXPECT_TRUE(is_safe_designation("12345678901"));
  EXPECT_TRUE(is_safe_designation(".."));  // names "...elm" in this folder
  EXPECT_FALSE(is_safe_designation("123456789012"));
  EXPECT_FALSE(is_safe_designation("K/../../x"));
  EXPECT_FALSE(is_safe_designation("P\\..\\x"));
  EXPECT_FALSE(is_safe_designation("/"));
}

// Windows file names hold no control character and none of < > : " | ? *,
// and the device names CON, PRN, AUX, NUL, COM0-9, LPT0-9 (any case, with any
// extension) name devices, not files. Elsewhere they are plain names.
TEST(SafeDesignation, OnlyNamesThatWindowsTakesAsFilesOnWindows) {
#ifndef _WIN32
  EXPECT_TRUE(is_safe_designation("NUL"));
  EXPECT_TRUE(is_safe_designation("C:12345"));
  GTEST_SKIP() << "the Windows rules apply to the Windows build";
#endif
  for (const char* name :
       {"C:12345", "K05:A00", "K05A0*A", "K05A0?A", "K<>",    "K\"A",   "K|A",
        "K05\x01", "K05\x1f", "CON",     "con",     "Prn",    "AUX",    "NUL",
        "COM1",    "com9",    "LPT0",    "LPT9",    "CONIN$", "CONOUT$"})
    EXPECT_FALSE(is_safe_designation(name)) << name;
  for (const char* name : {"CONS", "NULL", "COM", "COM10", "LPTA", "AUX1",
                           "K05A00A.", "K05+A", "K\xe9"})
    EXPECT_TRUE(is_safe_designation(name)) << name;
}

std::string name_field(std::string_view short_name,
                       std::string_view designation, RecordKind kind) {
  char field[NAME_FIELD_WIDTH];
  build_name_field(short_name, designation, kind, field);
  return {field, NAME_FIELD_WIDTH};
}

TEST(BuildNameField, ShortNameLeftDesignationRightFlagLast) {
  EXPECT_EQ(name_field("Xy", "K05A00A", RecordKind::MinorPlanet),
            "Xy           K05A00A0");
  EXPECT_EQ(name_field("99P/Testco", "0099P", RecordKind::Comet),
            "99P/Testco     0099P1");
  EXPECT_EQ(name_field("", "CJ95O010", RecordKind::Comet),
            "            CJ95O0101");
}

TEST(BuildNameField, DesignationWinsWhereTheyOverlap) {
  EXPECT_EQ(name_field("ABCDEFGHIJ", "12345678901", RecordKind::MinorPlanet),
            "ABCDEFGHI123456789010");
}

}  // namespace
}  // namespace orbelm
