#include "calendar.hpp"

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

}  // namespace orbelm
