#include "columns.hpp"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace orbelm {
namespace {

std::size_t skip_space(std::string_view text, std::size_t at) {
  while (at < text.size() && is_white_space(text[at])) ++at;
  return at;
}

std::size_t skip_digits(std::string_view text, std::size_t at) {
  while (at < text.size() && is_decimal_digit(text[at])) ++at;
  return at;
}

// Longest decimal number at `at`, without its sign: digits with an optional
// point (at least one digit in all), then an exponent only when a digit
// follows its letter and optional sign. Returns the end, or `at` when no
// number starts there.
std::size_t scan_unsigned_number(std::string_view text, std::size_t at) {
  std::size_t end = skip_digits(text, at);
  bool digits = end > at;
  if (end < text.size() && text[end] == '.') {
    const std::size_t fraction_end = skip_digits(text, end + 1);
    digits = digits || fraction_end > end + 1;
    end = fraction_end;
  }
  if (!digits) return at;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E' ||
                            text[end] == 'd' || text[end] == 'D')) {
    std::size_t exponent = end + 1;
    if (exponent < text.size() &&
        (text[exponent] == '+' || text[exponent] == '-'))
      ++exponent;
    const std::size_t exponent_end = skip_digits(text, exponent);
    if (exponent_end > exponent) end = exponent_end;
  }
  return end;
}

// from_chars reports a result outside the double range instead of giving
// it (read_decimal_chars too); strtod gives infinity for an overflow and 0 (or
// the nearest subnormal) for an underflow. The exponent's sign tells the two
// apart. Powers of ten that a double holds exactly.
constexpr double EXACT_POW10[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The plain decimal (digits with an optional point, no exponent) at
// `at`, read in one pass, when its digits, taken as an integer m, are below
// 2^53: m and 10^k for its k fraction digits (k <= 22) are then exact
// doubles, so the one division m / 10^k is correctly rounded, as strtod
// rounds. Every field of a record is such a number. None for anything
// else (no digit, an exponent letter, too many digits), which the general
// path reads. Example: "123.4567 " is 1234567 / 10^4; "1.5e3" is none.
std::optional<double> plain_decimal(std::string_view text, std::size_t at) {
  constexpr std::uint64_t EXACT_LIMIT = std::uint64_t{1} << 53;
  constexpr std::size_t MAX_DIGITS = 19;  // 10^19 fits in 64 bits
  const std::size_t size = std::min(text.size(), at + MAX_DIGITS + 1);
  std::uint64_t value = 0;
  const std::size_t first = at;
  for (; at < size && is_decimal_digit(text[at]); ++at)
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
  std::size_t digits = at - first;
  std::size_t fraction_digits = 0;
  if (at < size && text[at] == '.') {
    const std::size_t fraction = ++at;
    for (; at < size && is_decimal_digit(text[at]); ++at)
      value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    fraction_digits = at - fraction;
    digits += fraction_digits;
  }
  // What follows must end the number: not a digit cut off by `size`, not
  // an exponent.
  const char next = at < text.size() ? text[at] : ' ';
  if (digits == 0 || digits > MAX_DIGITS || value >= EXACT_LIMIT ||
      is_decimal_digit(next) || next == '.' || next == 'e' || next == 'E' ||
      next == 'd' || next == 'D')
    return std::nullopt;
  return static_cast<double>(value) / EXACT_POW10[fraction_digits];
}

// Whether fast_float's `parsed`, read from the number [first, end), stands
// for a value outside the double range: infinity from digits (not from
// "inf"), or 0 from digits of which one is not 0. Older fast_float gives
// these without an error; from_chars reports them.
bool beyond_double_range(const char* first, const char* end, double parsed) {
  if (first != end && *first == '-') ++first;
  if (first == end || !(is_decimal_digit(*first) || *first == '.'))
    return false;  // "inf", "nan"
  if (std::isinf(parsed)) return true;
  if (parsed != 0.0) return false;
  for (; first != end && *first != 'e' && *first != 'E'; ++first)
    if (*first >= '1' && *first <= '9') return true;
  return false;
}

double out_of_range_value(std::string_view number) {
  const std::size_t letter = number.find_first_of("eE");
  const bool tiny = letter != std::string_view::npos &&
                    letter + 1 < number.size() && number[letter + 1] == '-';
  return tiny ? 0.0 : std::numeric_limits<double>::infinity();
}

}  // namespace

std::string_view columns(std::string_view line, int first, int last) {
  const std::size_t begin = static_cast<std::size_t>(first - 1);
  if (begin >= line.size() || last < first) return {};
  const std::size_t width = static_cast<std::size_t>(last - first + 1);
  return line.substr(begin, width);
}

char column_char(std::string_view line, int column) {
  const std::size_t at = static_cast<std::size_t>(column - 1);
  return at < line.size() ? line[at] : ' ';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_white_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
  return text;
}

FieldText padded_columns(std::string_view line, int first, int last) {
  FieldText field{};
  const std::string_view text = columns(line, first, last);
  field.size =
      std::min(static_cast<std::size_t>(last - first + 1), FieldText::CAPACITY);
  std::fill_n(field.chars, field.size, ' ');
  std::copy_n(text.data(), std::min(text.size(), field.size), field.chars);
  return field;
}

double read_double(std::string_view field) {
  return read_number(field).value_or(0.0);
}

std::optional<double> read_number(std::string_view field) {
  field = field.substr(0, std::min(field.size(), MAX_NUMBER_CHARS));
  std::size_t at = skip_space(field, 0);
  bool negative = false;
  if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
    negative = field[at] == '-';
    ++at;
  }
  if (const std::optional<double> plain = plain_decimal(field, at))
    return negative ? -*plain : *plain;
  const std::size_t end = scan_unsigned_number(field, at);
  if (end == at) return std::nullopt;

  // from_chars takes no "+" and no "d" exponent letter, so the number is
  // copied with its letter made "e". The copy holds any field of a record
  // line; see the header for the limit.
  char buffer[MAX_NUMBER_CHARS + 1];
  std::size_t size = 0;
  if (negative) buffer[size++] = '-';
  for (std::size_t i = at; i < end && size < sizeof buffer; ++i) {
    const char c = field[i];
    buffer[size++] = (c == 'd' || c == 'D') ? 'e' : c;
  }
  double value = 0.0;
  const auto [ptr, error] = read_decimal_chars(buffer, buffer + size, value);
  (void)ptr;
  if (error == std::errc::result_out_of_range) {
    value = out_of_range_value({buffer, size});
    if (negative) value = -value;
  }
  return value;
}

std::from_chars_result read_decimal_chars(const char* first, const char* last,
                                          double& value) {
  double parsed = 0.0;
  const auto [end, error] = fast_float::from_chars(first, last, parsed);
  if (error != std::errc()) return {end, error};
  if (beyond_double_range(first, end, parsed))
    return {end, std::errc::result_out_of_range};
  value = parsed;
  return {end, error};
}

int read_int(std::string_view field) {
  std::size_t at = skip_space(field, 0);
  bool negative = false;
  if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
    negative = field[at] == '-';
    ++at;
  }
  constexpr long long LIMIT = std::numeric_limits<int>::max();
  long long magnitude = 0;
  for (; at < field.size() && is_decimal_digit(field[at]); ++at) {
    magnitude = std::min(magnitude * 10 + (field[at] - '0'), LIMIT + 1);
  }
  const long long value = negative ? -magnitude : magnitude;
  return static_cast<int>(std::clamp(
      value, static_cast<long long>(std::numeric_limits<int>::min()), LIMIT));
}

}  // namespace orbelm
