// Fixed-point rendering of doubles for the element line.
//
// Every number in an element line ("%14.6f", "%12.8f", "%9.7f", "%8.1f",
// "%13.5f") is rendered by the two-step rule below instead of the C
// library's printf, which rounds once and correctly. The element files are
// read by programs that expect the two-step digits, so a single correct
// rounding would change the last printed digit of some values.
#ifndef ORBELM_FIXED_HPP
#define ORBELM_FIXED_HPP

#include <cstddef>

namespace orbelm {

// Largest precision that format_fixed accepts.
inline constexpr int FIXED_MAX_PRECISION = 20;

// Room that format_fixed may need for any double, any width up to
// FIXED_MAX_WIDTH and any precision up to FIXED_MAX_PRECISION: a sign,
// 309 integer digits, the point and the decimals.
inline constexpr int FIXED_MAX_WIDTH = 64;
inline constexpr std::size_t FIXED_MAX_CHARS =
    1 + 309 + 1 + FIXED_MAX_PRECISION;

// Writes `value` with `precision` decimals, right-aligned with blanks in a
// field of at least `width` characters, to `out`, and returns the number of
// characters written (no terminator). Never fails, throws or allocates.
//
// Given:    value      any double
//           width      0 .. FIXED_MAX_WIDTH
//           precision  0 .. FIXED_MAX_PRECISION
//           out        room for FIXED_MAX_CHARS characters
// Returned: the length written; the field grows past `width` when the
//           number needs more characters.
//
// Rounding, in two steps, both rounding halves away from zero:
//  1. The exact decimal expansion of the value is cut to 17 significant
//     digits; the 18th significant digit of the exact expansion decides:
//     5 to 9 rounds the 17th digit up, 0 to 4 leaves it.
//  2. Those 17 digits are rounded at the last printed decimal place in the
//     same way (half up), by the first dropped digit.
// Integer digits past the 17th significant digit print as zeros. A negative
// value keeps its sign when it rounds to zero. Infinities and NaN print as
// "inf", "-inf", "nan" and "-nan" (the sign bit decides), right-aligned.
//
// Examples: the exact value of the double (those nearest 1514.05, 999.95
// and -0.00000001 in rows 2 to 4), the format, the result and why.
// clang-format off
//   1203.25                  %8.1f  "  1203.3"    a tie, rounded up
//   1514.049999999999954...  %8.1f  "  1514.1"    step 1: 1514.0500000000000
//   999.950000000000045...   %5.1f  "1000.0"      the carry widens the number
//   -0.0000000100000000...   %9.7f  "-0.0000000"  zero keeps the sign
//   1e20                     %4.1f  "100000000000000000000.0"  never cut
// clang-format on
// A correctly rounding printf prints "  1203.2" (the tie to even) and
// "  1514.0" (the exact value is below the tie) for the first two.
std::size_t format_fixed(double value, int width, int precision, char* out);

}  // namespace orbelm

#endif
