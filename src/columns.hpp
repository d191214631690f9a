// Reading numbers and text out of the fixed columns of a record line.
//
// A record line is held as its text without the line end. Columns are
// counted from 1; a field of columns a to b is the text of those columns,
// and columns past the end of the line read as blanks, so a short line
// never shows text of another line. Every function here is pure: it does
// not throw, does not allocate and returns its result as a value.
#ifndef ORBELM_COLUMNS_HPP
#define ORBELM_COLUMNS_HPP

#include <charconv>
#include <cstddef>
#include <optional>
#include <string_view>

namespace orbelm {

// White space as C's isspace has it in the "C" locale: blank, tab,
// newline, carriage return, vertical tab, form feed. Fixed here so that no
// locale setting changes how a line is read.
constexpr bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

// A decimal digit, "0" to "9" only.
constexpr bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

// The characters of columns first..last (1-based, inclusive) that lie on
// the line; shorter than the field, or empty, where the line ends early.
// Example: columns(" 3.34  0.12", 2, 5) is "3.34"; columns("abc", 2, 9)
// is "bc"; columns("abc", 5, 9) is "".
std::string_view columns(std::string_view line, int first, int last);

// The character in column `column`, or a blank past the end of the line.
char column_char(std::string_view line, int column);

// `text` without the white space (is_white_space) at its start and end.
// Example: trimmed("  (433) Eros   ") is "(433) Eros"; trimmed(" \r\n") is "".
std::string_view trimmed(std::string_view text);

// A copy of a fixed-width text field, padded with blanks where the line
// ends early, so the field keeps its width. Capacity is the widest field.
struct FieldText {
  static constexpr std::size_t CAPACITY = 25;
  char chars[CAPACITY];
  std::size_t size;

  std::string_view view() const { return {chars, size}; }
};

// Columns first..last as a FieldText of exactly last - first + 1
// characters (at most FieldText::CAPACITY), blanks past the line's end.
// Example: padded_columns("ab", 1, 4) is "ab  ".
FieldText padded_columns(std::string_view line, int first, int last);

// The number at the start of `field`, read the way C's strtod reads
// decimal text: leading white space (blank, tab, newline, carriage return,
// vertical tab, form feed) is skipped, then an optional sign, digits with an
// optional point, and an optional exponent whose letter may be "e", "E",
// "d" or "D"; reading stops at the first character that does not fit.
// Hexadecimal and the words "inf" and "nan" are not numbers here. A field
// with no number reads as 0. The result is correctly rounded; "-0" keeps its
// sign; magnitudes beyond the double range read as infinity, below it as 0.
// Examples: "  1.5d2xyz" is 150; " -0 " is -0.0; "1e" is 1; "abc" is 0;
// "0x10" is 0; "  .5" is 0.5; "+3." is 3.
// Only the first MAX_NUMBER_CHARS characters of `field` are read; the
// widest numeric field of a record is 11 columns.
inline constexpr std::size_t MAX_NUMBER_CHARS = 64;
double read_double(std::string_view field);

// The number at the start of `field`, read as read_double reads it, or none
// where read_double reads 0 because no number starts the field.
// Examples: " 3.34" is 3.34; " 0 " is 0; "     ", "" and "abc" are none.
std::optional<double> read_number(std::string_view field);

// The decimal number at the start of [first, last), read exactly as
// std::from_chars reads a double in chars_format::general, on every C++
// library (some lack from_chars for double): no white space and no "+"
// before it; "inf", "infinity" and "nan" are numbers; a magnitude beyond
// the double range, or a nonzero one that rounds to 0, is
// std::errc::result_out_of_range and leaves `value` as it was.
// Examples: "1.5e3x" is 1500, ptr at "x"; "-0" is -0.0; "1e999" and
// "1e-999" are out of range; "+1" and "" are invalid_argument.
std::from_chars_result read_decimal_chars(const char* first, const char* last,
                                          double& value);

// The integer at the start of `field`, read the way C's strtol reads a
// decimal integer: leading white space, an optional sign, digits; reading
// stops at the first non-digit, and a field with no digits reads as 0. A
// value beyond the int range is clamped to it.
// Examples: "2005" is 2005; " 7" is 7; "-3x" is -3; "  " is 0; "1.9" is 1.
int read_int(std::string_view field);

}  // namespace orbelm

#endif
