// Expected Julian Days are published values (J2000.0 is JD 2451545.0; the
// Gregorian reform day 1582 October 15 is JD 2299160.5) or follow from them
// by counting days.
#include "calendar.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace orbelm {
namespace {

TEST(JulianDay, PublishedDates) {
  EXPECT_EQ(julian_day(2000, 1, 1.5), 2451545.0);
  EXPECT_EQ(julian_day(2010, 7, 23.0), 2455400.5);
  EXPECT_EQ(julian_day(1582, 10, 15.0), 2299160.5);
  EXPECT_EQ(julian_day(2025, 5, 5.0), 2460800.5);  // MPC epoch K2555
  EXPECT_EQ(julian_day(1986, 2, 9.4589), 2446470.9589);
}

TEST(JulianDay, CenturyLeapRules) {
  EXPECT_EQ(julian_day(1900, 2, 28.0), 2415078.5);
  EXPECT_EQ(julian_day(1900, 3, 1.0), 2415079.5);  // 1900 has no 29 February
  EXPECT_EQ(julian_day(2000, 2, 29.0), 2451603.5);
  EXPECT_EQ(julian_day(2000, 3, 1.0), 2451604.5);
}

TEST(JulianDay, MonthZeroAndThirteenRollOverTheYear) {
  EXPECT_EQ(julian_day(2000, 0, 1.0), 2451513.5);
  EXPECT_EQ(julian_day(1999, 12, 1.0), 2451513.5);
  EXPECT_EQ(julian_day(2000, 13, 1.0), 2451910.5);
  EXPECT_EQ(julian_day(2001, 1, 1.0), 2451910.5);
}

TEST(JulianDay, NegativeYearsTruncateTowardZero) {
  // Floor division would put these 366 days apart; truncation gives 365.
  EXPECT_EQ(julian_day(-1, 3, 1.0), 1720754.5);
  EXPECT_EQ(julian_day(0, 3, 1.0), 1721119.5);
}

TEST(JulianDay, DayFractionIsAddedUnchanged) {
  EXPECT_EQ(julian_day(2005, 11, 19.25), 2453693.75);
  EXPECT_EQ(julian_day(2005, 11, 0.0), 2453674.5);  // day 0: 31 October
}

TEST(DecodePackedDigit, DigitsLettersAndOtherBytes) {
  EXPECT_EQ(decode_packed_digit('0'), 0);
  EXPECT_EQ(decode_packed_digit('9'), 9);
  EXPECT_EQ(decode_packed_digit('A'), 10);
  EXPECT_EQ(decode_packed_digit('V'), 31);
  EXPECT_EQ(decode_packed_digit('W'), 87);
  EXPECT_EQ(decode_packed_digit(' '), 32);
  EXPECT_EQ(decode_packed_digit('a'), 97);
}

TEST(DecodePackedDigit, BytesAbove127AreNegativeOnEveryPlatform) {
  EXPECT_EQ(decode_packed_digit(static_cast<char>(0xFF)), -1);
  EXPECT_EQ(decode_packed_digit(static_cast<char>(0x80)), -128);
  EXPECT_EQ(decode_packed_digit(static_cast<char>(0xC3)), -61);
}

TEST(DecodePackedEpoch, CenturyLetterYearMonthDay) {
  const PackedDate k107n = decode_packed_epoch("K107N");
  EXPECT_EQ(k107n.year, 2010);
  EXPECT_EQ(k107n.month, 7);
  EXPECT_EQ(k107n.day, 23);
  const PackedDate j9611 = decode_packed_epoch("J9611");
  EXPECT_EQ(j9611.year, 1996);
  EXPECT_EQ(j9611.month, 1);
  EXPECT_EQ(j9611.day, 1);
  const PackedDate k2555 = decode_packed_epoch("K2555");
  EXPECT_EQ(julian_day(k2555.year, k2555.month, k2555.day), 2460800.5);
}

TEST(DecodePackedEpoch, MissingCharactersReadAsBlanks) {
  const PackedDate date = decode_packed_epoch("K1");
  EXPECT_EQ(date.year, (20 * 10 + 1) * 10 + 32);
  EXPECT_EQ(date.month, 32);
  EXPECT_EQ(date.day, 32);
}

TEST(TtMinusUtc, LeapSecondsOfBulletinC) {
  // TT − TAI = 32.184 s; TAI − UTC 10 s from 1972, 11 s from 1972 July,
  // 36 s from 2015 July, 37 s from 2017.
  EXPECT_EQ(tt_minus_utc(julian_day(1972, 1, 1.0)), 42.184);
  EXPECT_EQ(tt_minus_utc(julian_day(1972, 6, 30.99)), 42.184);
  EXPECT_EQ(tt_minus_utc(julian_day(1972, 7, 1.0)), 43.184);
  EXPECT_EQ(tt_minus_utc(julian_day(2016, 12, 31.5)), 68.184);
  EXPECT_EQ(tt_minus_utc(julian_day(2017, 1, 1.0)), 69.184);
  EXPECT_EQ(tt_minus_utc(julian_day(2026, 12, 11.0)), 69.184);
  EXPECT_EQ(tt_minus_utc(julian_day(1960, 1, 1.0)),
            42.184);  // before UTC's table
}

TEST(DaysInMonth, GregorianLeapYears) {
  EXPECT_EQ(days_in_month(2024, 2), 29);
  EXPECT_EQ(days_in_month(2000, 2), 29);  // divisible by 400
  EXPECT_EQ(days_in_month(2100, 2), 28);  // a century
  EXPECT_EQ(days_in_month(2026, 4), 30);
  EXPECT_EQ(days_in_month(2026, 13), 0);
}

// The instant as "YYYY-MM-DD hh:mm:ss".
std::string instant_text(double jd) {
  const CalendarInstant t = calendar_instant(jd);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

// Expected values from ERFA's eraD2dtf (python3-erfa 2.0.0.1, UTC, whole
// seconds).
TEST(CalendarInstant, DatesAndTimesAsErfaGivesThem) {
  EXPECT_EQ(instant_text(2451545.0), "2000-01-01 12:00:00");
  EXPECT_EQ(instant_text(2460000.5), "2023-02-25 00:00:00");
  EXPECT_EQ(instant_text(2460370.0242592595), "2024-02-29 12:34:56");
  EXPECT_EQ(instant_text(2488069.25), "2099-12-31 18:00:00");
  EXPECT_EQ(instant_text(2415078.5), "1900-02-28 00:00:00");  // before 1970
  // 1999-12-31 23:59:59.991 rounds into the next year.
  EXPECT_EQ(instant_text(2451544.4999999), "2000-01-01 00:00:00");
}

}  // namespace
}  // namespace orbelm
