// Calendar arithmetic: calendar dates and packed epochs to Julian Days.
#ifndef ORBELM_CALENDAR_HPP
#define ORBELM_CALENDAR_HPP

#include <string_view>

namespace orbelm {

// julian_day: Julian Day of a date of the proleptic Gregorian calendar.
//
// Given:
//   year   int     calendar year (astronomical numbering, 0 is 1 BC)
//   month  int     month, 1 to 12; 0 and 13 also work (see Notes)
//   day    double  day of the month with its fraction (0.5 is noon)
// Returned:
//   double         Julian Day
//
// Notes:
//  1. The method shifts the year to begin in March (March counts as month
//     1, February as month 12), so the leap day falls at the end, then adds
//     the days of the whole months (30.59 · m, truncated) and of the whole
//     years (365.25 · y, truncated) to the day offset 1721088.5, and removes
//     the century leap days (y / 100 − y / 400). The Gregorian rule is used
//     for all dates, also before 1582 October 15.
//  2. Every integer division truncates toward zero and so does every
//     product taken to an integer, also for negative operands; the sum runs
//     in double precision in the order (a + b) + day + 1721088.5 − y/100 +
//     y/400. For years below 0 the truncation does not follow the calendar
//     (1 March of year −1 and of year 0 are 365 days apart); element files
//     rely on these exact values, so this is kept.
//  3. Month 0 is December of the year before and month 13 January of the
//     year after.
//
// Examples: julian_day(2000, 1, 1.5) is 2451545.0 (J2000.0);
// julian_day(2010, 7, 23.0) is 2455400.5.
double julian_day(int year, int month, double day);

// decode_packed_digit: value of one character of a packed date.
//
// Given:    c  the character, taken as a signed 8-bit value on every
//              platform
// Returned: "0".."9" give 0..9, "A".."V" give 10..31, any other character
//           its own code (a blank 32, "W" 87, "a" 97, the byte 0xFF −1).
int decode_packed_digit(char c);

// The calendar date of a packed epoch.
struct PackedDate {
  int year;
  int month;
  int day;
};

// decode_packed_epoch: the date of a five-character packed epoch.
//
// Given:    text  the five characters p1..p5 (fewer read as blanks)
// Returned: year  ((d(p1)·10 + d(p2))·10 + d(p3)), month d(p4), day d(p5),
//           with d = decode_packed_digit
//
// Example: "K107N" is 2010 July 23 (K = 20, N = 23); "J9611" is 1996
// January 1.
PackedDate decode_packed_epoch(std::string_view text);

// tt_minus_utc: TT − UTC, in seconds, at an instant given in UTC.
//
// Given:    utc_jd  the instant as a Julian Day in UTC
// Returned: 32.184 s (TT − TAI) plus the leap seconds TAI − UTC in force
//           then: 10 s from 1972 January 1, one more at each leap second
//           of IERS Bulletin C, 37 s from 2017 January 1 on.
//
// Notes:
//  1. A leap second announced after 2017 is not known here: later dates
//     keep 37 s, one second off per leap second since (none by 2026).
//  2. Before 1972, when UTC's seconds differed from TAI's, the 1972 value
//     42.184 s is used: within 9 s of the truth back to 1961.
// Examples: 2016-12-31 gives 68.184, 2017-01-01 69.184, 1972-01-01 42.184.
double tt_minus_utc(double utc_jd);

// days_in_month: the days of a month of the Gregorian calendar (a leap
// year is divisible by 4, except the centuries not divisible by 400).
//
// Given:    year, month  any year; month 1 to 12
// Returned: 28 to 31, or 0 for a month outside 1-12.
// Examples: (2024, 2) is 29, (2100, 2) is 28, (2000, 2) is 29, (2026, 4)
// is 30.
int days_in_month(int year, int month);

// An instant of the Gregorian calendar, to the second.
struct CalendarInstant {
  int year;
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-59
};

// calendar_instant: the date and time of day of a Julian Day, rounded to
// the nearest second (the inverse of julian_day for years 1 onward).
//
// Given:    jd  a Julian Day (as a UTC instant it ignores leap seconds:
//               23:59:60 never comes out)
// Returned: its date and time; exact for any Julian Day of 1900-2100, as
//           the double holds it to 4e-5 s there.
//
// Notes: the days since 1970-01-01 are turned into a date by the
// proleptic Gregorian calendar's 400-year cycle of 146,097 days (H.
// Hinnant's civil_from_days, which counts years from March).
// Examples: 2451545.0 is 2000-01-01 12:00:00; 2460000.5 is 2023-02-25
// 00:00:00; 2451544.4999999 is 1999-12-31 23:59:59.991, which rounds to
// 2000-01-01 00:00:00.
CalendarInstant calendar_instant(double jd);

}  // namespace orbelm

#endif
