// Two-step fixed-point rendering of doubles; see fixed.hpp for the rule.
//
// The work splits in three: find the first 18 significant digits of the
// exact value (truncated), round them to 17, then round those 17 at the
// last printed place and lay the digits out. Only the first part depends
// on the binary value; the rest is integer arithmetic on at most 17 digits.
#include "fixed.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace orbelm {

namespace {

#if defined(__SIZEOF_INT128__) && !defined(ORBELM_PORTABLE_UINT128)
__extension__ typedef unsigned __int128 uint128;
#else
// Unsigned 128-bit integers where the compiler has none (32-bit ARM): what
// leading_digits_fast asks of them, each result modulo 2^128 as with
// unsigned __int128. Example: uint128{1} << 64 is {high 1, low 0}.
struct uint128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  constexpr uint128() = default;
  // Converts implicitly, as a built-in integer does.
  // cppcheck-suppress noExplicitConstructor
  constexpr uint128(std::uint64_t value) : low(value) {}
  constexpr uint128(std::uint64_t h, std::uint64_t l) : high(h), low(l) {}
  constexpr explicit operator std::uint64_t() const { return low; }
};

// The whole product of a and b, from their 32-bit halves.
constexpr uint128 multiply_64(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t HALF = 0xFFFFFFFFULL;
  const std::uint64_t low_low = (a & HALF) * (b & HALF);
  const std::uint64_t high_low = (a >> 32) * (b & HALF);
  const std::uint64_t low_high = (a & HALF) * (b >> 32);
  const std::uint64_t middle =
      (low_low >> 32) + (high_low & HALF) + (low_high & HALF);
  return {(a >> 32) * (b >> 32) + (high_low >> 32) + (low_high >> 32) +
              (middle >> 32),
          (middle << 32) | (low_low & HALF)};
}

constexpr uint128 operator*(uint128 a, uint128 b) {
  const uint128 low = multiply_64(a.low, b.low);
  return {low.high + a.high * b.low + a.low * b.high, low.low};
}

// Shifts by 0 to 127 places.
constexpr uint128 operator<<(uint128 a, int places) {
  if (places >= 64) return {a.low << (places - 64), 0};
  if (places == 0) return a;
  return {(a.high << places) | (a.low >> (64 - places)), a.low << places};
}

constexpr uint128 operator>>(uint128 a, int places) {
  if (places >= 64) return {0, a.high >> (places - 64)};
  if (places == 0) return a;
  return {a.high >> places, (a.low >> places) | (a.high << (64 - places))};
}

// The quotient, one bit at a time: slow, but only values of 10^18 and
// more divide.
constexpr uint128 operator/(uint128 dividend, uint128 divisor) {
  uint128 quotient;
  uint128 rest;
  for (int place = 127; place >= 0; --place) {
    rest = rest << 1;
    rest.low |= (dividend >> place).low & 1;
    if (rest.high > divisor.high ||
        (rest.high == divisor.high && rest.low >= divisor.low)) {
      const std::uint64_t borrow = rest.low < divisor.low ? 1 : 0;
      rest = {rest.high - divisor.high - borrow, rest.low - divisor.low};
      (place >= 64 ? quotient.high : quotient.low) |= 1ULL << (place % 64);
    }
  }
  return quotient;
}
#endif

constexpr int SIGNIFICANT_DIGITS = 17;

constexpr std::uint64_t POW10[20] = {
    1ULL,
    10ULL,
    100ULL,
    1000ULL,
    10000ULL,
    100000ULL,
    1000000ULL,
    10000000ULL,
    100000000ULL,
    1000000000ULL,
    10000000000ULL,
    100000000000ULL,
    1000000000000ULL,
    10000000000000ULL,
    100000000000000ULL,
    1000000000000000ULL,
    10000000000000000ULL,
    100000000000000000ULL,
    1000000000000000000ULL,
    10000000000000000000ULL,
};

// Powers up to 10^22: the fast path multiplies a 53-bit significand by at
// most 10^22, which still fits in 128 bits.
constexpr int MAX_POW10_WIDE = 22;

struct Pow10Wide {
  uint128 value[MAX_POW10_WIDE + 1];
  constexpr Pow10Wide() : value() {
    value[0] = 1;
    for (int i = 1; i <= MAX_POW10_WIDE; ++i) value[i] = value[i - 1] * 10;
  }
};

constexpr Pow10Wide POW10_WIDE;

// A decimal with `digits` significant digits taken as an integer whose first
// digit has place value 10^exp10.
struct Decimal {
  std::uint64_t digits;
  int exp10;
};

// floor(log10(2^p)) for |p| < 1650, by ryu's fixed-point approximation of
// log10(2). C++20 makes >> on a negative value an arithmetic shift, so this
// floors for negative p as well.
int floor_log10_pow2(int p) { return (p * 78913) >> 18; }

// The value's binary exponent range where floor(value * 10^k) fits in 128
// bits for the k that leaves 18 digits: below 2^-16, k would exceed 22;
// from 2^127 up, the shifted significand would not fit.
constexpr int FAST_MIN_EXP2 = -16;
constexpr int FAST_MAX_EXP2 = 126;

// First 18 digits of m * 2^e, truncated. `m` has its leading bit at 2^52
// and 2^-16 <= m * 2^e < 2^127. The estimate of the decimal exponent from
// the binary one is low by at most one, and scaling by one power too many
// shows as a 19-digit result, so the estimate is settled exactly by the
// integer itself.
Decimal leading_digits_fast(std::uint64_t m, int e) {
  const int exp10 = floor_log10_pow2(e + 52);
  const int k = SIGNIFICANT_DIGITS - exp10;
  uint128 scaled;
  if (e < 0) {
    scaled = (uint128{m} * POW10_WIDE.value[k]) >> -e;
  } else if (k >= 0) {
    scaled = (uint128{m} << e) * POW10_WIDE.value[k];
  } else {
    scaled = (uint128{m} << e) / POW10_WIDE.value[-k];
  }
  const auto n = static_cast<std::uint64_t>(scaled);
  if (n >= POW10[18]) return {n / 10, exp10 + 1};
  return {n, exp10};
}

// First 18 digits of a positive value of any magnitude, truncated. A double
// has at most 767 significant digits, so asking for 768 makes to_chars
// print the exact expansion, which is then cut. It is slow, but only tiny,
// huge and subnormal values come here.
Decimal leading_digits_exact(double magnitude) {
  constexpr int DECIMALS = 767;
  char text[DECIMALS + 16];
  const char* end = std::to_chars(text, text + sizeof text, magnitude,
                                  std::chars_format::scientific, DECIMALS)
                        .ptr;
  // text is "d.ddd...de+XX" with exactly DECIMALS digits after the point.
  std::uint64_t n = static_cast<std::uint64_t>(text[0] - '0');
  for (int i = 2; i < 19; ++i)
    n = n * 10 + static_cast<std::uint64_t>(text[i] - '0');
  const char* sign = text + 2 + DECIMALS + 1;
  int exp10 = 0;
  for (const char* c = sign + 1; c != end; ++c) exp10 = exp10 * 10 + (*c - '0');
  return {n, *sign == '-' ? -exp10 : exp10};
}

// Step 1: 18 truncated digits to 17, the 18th digit alone deciding; the
// digits after it never take part, so ...4999 stays down. A carry out of
// 99999999999999999 moves to the next decade to keep exactly 17 digits.
Decimal round_to_17(Decimal d18) {
  std::uint64_t s = d18.digits / 10;
  if (d18.digits % 10 >= 5) ++s;
  if (s == POW10[SIGNIFICANT_DIGITS])
    return {POW10[SIGNIFICANT_DIGITS - 1], d18.exp10 + 1};
  return {s, d18.exp10};
}

// The value's 17 significant digits after step 1, from the bits of a
// finite, nonzero, positive double.
Decimal significant_17(std::uint64_t bits) {
  const int biased = static_cast<int>(bits >> 52);
  const int exp2 = biased - 1023;
  if (biased != 0 && exp2 >= FAST_MIN_EXP2 && exp2 <= FAST_MAX_EXP2) {
    const std::uint64_t m = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    return round_to_17(leading_digits_fast(m, exp2 - 52));
  }
  return round_to_17(leading_digits_exact(std::bit_cast<double>(bits)));
}

// The printed number as an integer count of units of the last printed
// place: `units` followed by `zeros` zeros.
struct Scaled {
  std::uint64_t units;
  int zeros;
};

// Step 2: round the 17 digits at the last printed place, the first dropped
// digit deciding. `keep` counts the digits at or left of that place; when
// it is 0 the first significant digit is itself the first dropped one.
Scaled round_at_place(Decimal d17, int precision) {
  const int keep = d17.exp10 + precision + 1;
  if (keep >= SIGNIFICANT_DIGITS)
    return {d17.digits, keep - SIGNIFICANT_DIGITS};
  if (keep < 0) return {0, 0};
  const std::uint64_t with_dropped =
      d17.digits / POW10[SIGNIFICANT_DIGITS - 1 - keep];
  return {with_dropped / 10 + (with_dropped % 10 >= 5 ? 1 : 0), 0};
}

// Right-aligns `len` characters of `text` in `width`.
std::size_t write_padded(const char* text, std::size_t len, int width,
                         char* out) {
  const std::size_t field = static_cast<std::size_t>(width);
  const std::size_t pad = field > len ? field - len : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text, len);
  return pad + len;
}

std::size_t write_special(bool negative, bool nan, int width, char* out) {
  const char* text = nan ? "-nan" : "-inf";
  return negative ? write_padded(text, 4, width, out)
                  : write_padded(text + 1, 3, width, out);
}

// "00" to "99": two digits per division halves the chain of dependent
// divisions, which dominates the time of a typical field.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};

constexpr DigitPairs DIGIT_PAIRS;

// Writes the digits of n, without leading zeros, ending just before `end`;
// returns how many. Zero has no digits.
int write_digits_backward(std::uint64_t n, char* end) {
  char* p = end;
  for (; n >= 100; n /= 100) {
    p -= 2;
    std::memcpy(p, DIGIT_PAIRS.text + 2 * (n % 100), 2);
  }
  if (n >= 10) {
    p -= 2;
    std::memcpy(p, DIGIT_PAIRS.text + 2 * n, 2);
  } else if (n != 0) {
    *--p = static_cast<char>('0' + n);
  }
  return static_cast<int>(end - p);
}

std::size_t write_number(bool negative, Scaled s, int width, int precision,
                         char* out) {
  char buffer[20];
  const int count = write_digits_backward(s.units, buffer + sizeof buffer);
  const int total = count + s.zeros;
  const int int_digits = total > precision ? total - precision : 1;
  const int leading_zeros = int_digits + precision - total;
  const int len =
      (negative ? 1 : 0) + int_digits + (precision > 0 ? precision + 1 : 0);
  const int pad = width > len ? width - len : 0;

  char* p = out;
  std::memset(p, ' ', static_cast<std::size_t>(pad));
  p += pad;
  if (negative) *p++ = '-';
  // All digits first, as if there were no point; then the decimals move one
  // place right to make room for it.
  std::memset(p, '0', static_cast<std::size_t>(leading_zeros));
  std::memcpy(p + leading_zeros, buffer + sizeof buffer - count,
              static_cast<std::size_t>(count));
  std::memset(p + leading_zeros + count, '0',
              static_cast<std::size_t>(s.zeros));
  if (precision > 0) {
    std::memmove(p + int_digits + 1, p + int_digits,
                 static_cast<std::size_t>(precision));
    p[int_digits] = '.';
  }
  return static_cast<std::size_t>(pad + len);
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

std::size_t format_fixed(double value, int width, int precision, char* out) {
  // Out-of-range arguments are pulled into range so that `out` can never
  // overrun its FIXED_MAX_CHARS.
  width = clamp(width, 0, FIXED_MAX_WIDTH);
  precision = clamp(precision, 0, FIXED_MAX_PRECISION);

  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t magnitude = bits & ~(1ULL << 63);
  constexpr std::uint64_t EXPONENT_MASK = 0x7FFULL << 52;
  if ((magnitude & EXPONENT_MASK) == EXPONENT_MASK) {
    return write_special(negative, (magnitude & ~EXPONENT_MASK) != 0, width,
                         out);
  }
  Scaled s{0, 0};
  if (magnitude != 0) s = round_at_place(significant_17(magnitude), precision);
  return write_number(negative, s, width, precision, out);
}

}  // namespace orbelm
