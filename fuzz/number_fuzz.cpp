// libFuzzer target: the number reading and the fixed-point formatter
// against each other and against the C library.
//
// Input: 8 bytes of a double's bits, a width byte, a precision byte, then
// the text of a numeric field; shorter inputs are only a field.
//  - A formatted value has the requested decimals, a sign exactly when the
//    sign bit is set, blanks only to fill the width, and reads back (by
//    read_double, or strtod where it is longer than a field) within half a
//    unit of its last place plus the error of the first rounding step, the
//    cut to 17 significant digits.
//  - read_double agrees bit for bit with strtod, and read_int with strtol
//    clamped to int, on every field made only of characters that both read
//    the same way ("d" as an exponent letter turned into "e" for strtod).
#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "columns.hpp"
#include "fixed.hpp"

namespace {

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "number_fuzz: %s\n", what);
  std::abort();
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

void check_special(double value, std::string_view body) {
  std::string expected = std::isnan(value) ? "nan" : "inf";
  if (std::signbit(value)) expected.insert(0, "-");
  check(body == expected, "infinity or NaN printed wrongly");
}

// The layout of a finite number: [-]digits[.decimals].
void check_layout(double value, int precision, std::string_view body) {
  const bool negative = !body.empty() && body[0] == '-';
  check(negative == std::signbit(value), "sign does not follow the sign bit");
  const std::string_view number = body.substr(negative ? 1 : 0);
  const std::size_t point = number.find('.');
  if (precision == 0) {
    check(point == std::string_view::npos && !number.empty() &&
              all_digits(number),
          "integer layout is not digits only");
    return;
  }
  check(point != std::string_view::npos && point > 0 &&
            all_digits(number.substr(0, point)) &&
            number.size() - point - 1 == static_cast<std::size_t>(precision) &&
            all_digits(number.substr(point + 1)),
        "wrong number of decimals or a stray character");
  check(point == 1 || number[0] != '0', "a leading zero before the digits");
}

// The printed value read back lies within half a unit of the last place
// of `value`, after the cut of the exact value to 17 significant digits.
void check_read_back(double value, int precision, std::string_view body) {
  const std::string text(body);
  const double back = std::strtod(text.c_str(), nullptr);
  if (text.size() <= orbelm::MAX_NUMBER_CHARS)
    check(same_bits(orbelm::read_double(text), back),
          "read_double differs from strtod on formatted text");
  const long double magnitude = std::fabs(static_cast<long double>(value));
  const long double decade =
      magnitude == 0 ? 0 : std::floor(std::log10(magnitude)) + 1;
  const long double tolerance =
      0.5L * std::pow(10.0L, -precision) + 0.5L * std::pow(10.0L, decade - 16) +
      std::nextafter(std::fabs(back), HUGE_VAL) - std::fabs(back);
  check(std::fabs(static_cast<long double>(back) - value) <= tolerance,
        "formatted value is farther from the value than the rounding allows");
}

void check_format(double value, int width, int precision) {
  char out[orbelm::FIXED_MAX_CHARS + 1];
  const std::size_t size = orbelm::format_fixed(value, width, precision, out);
  check(size <= orbelm::FIXED_MAX_CHARS, "formatted text overruns its room");
  const std::string_view text(out, size);
  const std::size_t pad = std::min(text.find_first_not_of(' '), text.size());
  const std::string_view body = text.substr(pad);
  check(size >= static_cast<std::size_t>(width), "field narrower than width");
  check(pad == 0 || size == static_cast<std::size_t>(width),
        "blanks beyond the width");
  if (!std::isfinite(value)) return check_special(value, body);
  check_layout(value, precision, body);
  check_read_back(value, precision, body);
}

// Characters that read_double and strtod (after "d" to "e") read alike.
bool plain_decimal(std::string_view field) {
  return field.find_first_not_of(" \t\n\v\f\r0123456789+-.eEdD") ==
         std::string_view::npos;
}

void check_reading(std::string_view field) {
  field = field.substr(0, orbelm::MAX_NUMBER_CHARS);
  if (!plain_decimal(field)) {
    orbelm::read_double(field);
    orbelm::read_int(field);
    return;
  }
  std::string text(field);
  const long integer = std::strtol(text.c_str(), nullptr, 10);
  check(orbelm::read_int(field) == std::clamp<long>(integer, INT_MIN, INT_MAX),
        "read_int differs from strtol");
  std::replace(text.begin(), text.end(), 'd', 'e');
  std::replace(text.begin(), text.end(), 'D', 'E');
  check(
      same_bits(orbelm::read_double(field), std::strtod(text.c_str(), nullptr)),
      "read_double differs from strtod");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  constexpr std::size_t header = 10;
  if (size >= header) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, sizeof bits);
    const int width = data[8] % (orbelm::FIXED_MAX_WIDTH + 1);
    const int precision = data[9] % (orbelm::FIXED_MAX_PRECISION + 1);
    check_format(std::bit_cast<double>(bits), width, precision);
  }
  const std::size_t field = size >= header ? header : 0;
  check_reading({reinterpret_cast<const char*>(data) + field, size - field});
  return 0;
}
