#include "calendar.hpp"

#include <cmath>
#include <cstdint>

namespace orbelm {
namespace {

constexpr double DAYS_PER_MONTH_FACTOR = 30.59;  // days, for March-based months
constexpr double DAYS_PER_YEAR = 365.25;         // days, Julian year
constexpr double JULIAN_DAY_OFFSET = 1721088.5;  // days, puts year 0 March 1
constexpr int MONTHS_PER_YEAR = 12;
constexpr int CENTURY = 100;        // years without a leap day ...
constexpr int QUADRICENTURY = 400;  // ... except each 400th

}  // namespace

double julian_day(int year, int month, double day) {
  const int q = (14 - month) / MONTHS_PER_YEAR;
  const int y = year - q;
  const int m = month + MONTHS_PER_YEAR * q - 2;
  const int a = static_cast<int>(DAYS_PER_MONTH_FACTOR * m);
  const int b = static_cast<int>(DAYS_PER_YEAR * y);
  // The century terms truncate like every integer step (see the header).
  // NOLINTBEGIN(bugprone-integer-division)
  return static_cast<double>(a + b) + day + JULIAN_DAY_OFFSET -
         static_cast<double>(y / CENTURY) +
         static_cast<double>(y / QUADRICENTURY);
  // NOLINTEND(bugprone-integer-division)
}

int decode_packed_digit(char c) {
  // Packed dates are ASCII; a byte above 127 keeps the negative value it has
  // as a signed char, whatever the signedness of plain char here.
  // NOLINTNEXTLINE(bugprone-signed-char-misuse,cert-str34-c): signed on purpose
  const int code = static_cast<std::int8_t>(c);
  if (code >= 'A' && code <= 'V') return code - 'A' + 10;
  if (code >= '0' && code <= '9') return code - '0';
  return code;
}

PackedDate decode_packed_epoch(std::string_view text) {
  const auto digit = [text](std::size_t i) {
    return decode_packed_digit(i < text.size() ? text[i] : ' ');
  };
  return {(digit(0) * 10 + digit(1)) * 10 + digit(2), digit(3), digit(4)};
}

namespace {

// A leap second: TAI − UTC is `seconds` from 0h UTC on the first of
// `month` of `year` on. IERS Bulletin C.
struct LeapSecond {
  int year;
  int month;
  double seconds;
};

constexpr LeapSecond LEAP_SECONDS[] = {
    {1972, 1, 10}, {1972, 7, 11}, {1973, 1, 12}, {1974, 1, 13}, {1975, 1, 14},
    {1976, 1, 15}, {1977, 1, 16}, {1978, 1, 17}, {1979, 1, 18}, {1980, 1, 19},
    {1981, 7, 20}, {1982, 7, 21}, {1983, 7, 22}, {1985, 7, 23}, {1988, 1, 24},
    {1990, 1, 25}, {1991, 1, 26}, {1992, 7, 27}, {1993, 7, 28}, {1994, 7, 29},
    {1996, 1, 30}, {1997, 7, 31}, {1999, 1, 32}, {2006, 1, 33}, {2009, 1, 34},
    {2012, 7, 35}, {2015, 7, 36}, {2017, 1, 37}};

constexpr double TT_MINUS_TAI = 32.184;  // seconds, by definition of TT

}  // namespace

double tt_minus_utc(double utc_jd) {
  double leap = LEAP_SECONDS[0].seconds;
  for (const LeapSecond& step : LEAP_SECONDS)
    if (utc_jd >= julian_day(step.year, step.month, 1.0)) leap = step.seconds;
  return TT_MINUS_TAI + leap;
}

int days_in_month(int year, int month) {
  constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > MONTHS_PER_YEAR) return 0;
  const bool leap =
      year % 4 == 0 && (year % CENTURY != 0 || year % QUADRICENTURY == 0);
  return DAYS[month - 1] + (month == 2 && leap ? 1 : 0);
}

namespace {

constexpr double UNIX_EPOCH_JD = 2440587.5;  // 1970-01-01 0h
constexpr std::int64_t SECONDS_PER_DAY = 86400;

// The integer quotient rounded toward minus infinity.
std::int64_t floor_divide(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

}  // namespace

CalendarInstant calendar_instant(double jd) {
  const auto seconds = static_cast<std::int64_t>(std::llround(
      (jd - UNIX_EPOCH_JD) * static_cast<double>(SECONDS_PER_DAY)));
  const std::int64_t days = floor_divide(seconds, SECONDS_PER_DAY);
  const auto of_day = static_cast<int>(seconds - days * SECONDS_PER_DAY);
  // Days from 0000-03-01, in 400-year eras of 146,097 days each.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = floor_divide(shifted, 146097);
  const auto of_era = static_cast<int>(shifted - era * 146097);  // 0-146096
  const int year_of_era =
      (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const int day_of_year =
      of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int march_month = (5 * day_of_year + 2) / 153;  // 0 is March
  const int month = march_month < 10 ? march_month + 3 : march_month - 9;
  const auto year =
      static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
  return {year,
          month,
          day_of_year - (153 * march_month + 2) / 5 + 1,
          of_day / 3600,
          of_day / 60 % 60,
          of_day % 60};
}

}  // namespace orbelm
