// Tests of the two-step fixed-point rendering. Hand-checked rows pin the
// rule down; the reference tests compare against an exact big-integer
// model of the rule over millions of doubles.
#include "fixed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using orbelm::format_fixed;

std::string Fixed(double value, int width, int precision) {
  char out[orbelm::FIXED_MAX_CHARS];
  return std::string(out, format_fixed(value, width, precision, out));
}

std::string Describe(double value, int width, int precision) {
  char text[96];
  std::snprintf(text, sizeof text, "%.17g (%a) at %%%d.%df", value, value,
                width, precision);
  return text;
}

void ExpectFixed(double value, int width, int precision,
                 std::string_view expected) {
  EXPECT_EQ(Fixed(value, width, precision), expected)
      << Describe(value, width, precision);
}

// Expected values below were checked by hand against the exact decimal
// expansions, which the comments quote where they matter.

TEST(FixedRounding, RoundsTiesUpNotToEven) {
  ExpectFixed(1203.25, 8, 1, "  1203.3");
  ExpectFixed(100010.25, 8, 1, "100010.3");
  ExpectFixed(2.5, 0, 0, "3");
  ExpectFixed(0.125, 0, 2, "0.13");
  ExpectFixed(-0.125, 0, 2, "-0.13");
  ExpectFixed(2455400.75, 0, 1, "2455400.8");
}

TEST(FixedRounding, EighteenthDigitDecidesStepOne) {
  // 1514.04999999999995452...: step 1 gives 1514.0500000000000.
  ExpectFixed(1514.05, 8, 1, "  1514.1");
  // 1 + 2^-17 = 1.00000762939453125, an exact tie at the 18th digit.
  ExpectFixed(1.0 + 0x1p-17, 0, 16, "1.0000076293945313");
  // 6.07001832130957374999979...: the 4 truncates, the nines after it
  // count for nothing.
  ExpectFixed(6.070018321309574, 0, 16, "6.0700183213095737");
  // 4.99999999999999999409...e-15: step 1 makes it 5.0e-15, which then
  // rounds the last printed place up.
  ExpectFixed(5e-15, 0, 14, "0.00000000000001");
  // 5e-8 is 4.9999999999999997737...e-8: step 1 leaves ...998, below the tie.
  ExpectFixed(5e-8, 9, 7, "0.0000000");
  // 0.1000000000000000055511...: 17 digits are 0.10000000000000001, and
  // the decimals past them print as zeros.
  ExpectFixed(0.1, 0, 20, "0.10000000000000001000");
}

TEST(FixedRounding, IntegerDigitsPastSeventeenPrintZeros) {
  ExpectFixed(1e20, 4, 1, "100000000000000000000.0");
  ExpectFixed(0x1p64, 0, 0, "18446744073709552000");  // 18446744073709551616
  ExpectFixed(1e23, 0, 0,
              "99999999999999992000000");  // 99999999999999991611392
  const double max = std::numeric_limits<double>::max();
  ExpectFixed(max, 0, 0, std::string("17976931348623157").append(292, '0'));
  EXPECT_EQ(Fixed(-max, 0, orbelm::FIXED_MAX_PRECISION).size(),
            orbelm::FIXED_MAX_CHARS);
}

TEST(FixedRounding, CarryWidensTheField) {
  ExpectFixed(999.95, 5, 1, "1000.0");  // 999.950000000000045...
  ExpectFixed(9.96, 3, 1, "10.0");
  ExpectFixed(-99.5, 3, 0, "-100");
  // 9.99999999999999997690...e97: the carry runs through all 17 digits.
  ExpectFixed(1e98, 0, 0, std::string("1").append(98, '0'));
}

TEST(FixedRounding, NegativeRoundingToZeroKeepsSign) {
  ExpectFixed(-0.00000001, 9, 7, "-0.0000000");
  ExpectFixed(-0.0, 0, 7, "-0.0000000");
  ExpectFixed(-0.4, 0, 0, "-0");
  ExpectFixed(0.0, 9, 7, "0.0000000");
}

TEST(FixedRounding, SubnormalsPrintAsZeros) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  ExpectFixed(tiny, 0, 20, "0.00000000000000000000");
  ExpectFixed(-tiny, 0, 3, "-0.000");
  ExpectFixed(-0x1.fffffffffffffp-1023, 8, 1, "    -0.0");
}

TEST(FixedLayout, RightAlignsAndNeverTruncates) {
  ExpectFixed(3.5, 6, 1, "   3.5");
  ExpectFixed(-2.25, 8, 2, "   -2.25");
  ExpectFixed(1234.5, 3, 1, "1234.5");
  ExpectFixed(1234.5, 0, 1, "1234.5");
  ExpectFixed(0.75, 4, 0, "   1");
}

TEST(FixedLayout, ElementLineValues) {
  ExpectFixed(2456200.5, 14, 6, "2456200.500000");
  ExpectFixed(2.7 * (1 - 0.1), 12, 8, "  2.43000000");
  ExpectFixed(10 * 0.017453292519943295, 9, 7, "0.1745329");
  ExpectFixed(90 * 0.017453292519943295, 9, 7, "1.5707963");
  ExpectFixed(180 * 0.017453292519943295, 9, 7, "3.1415927");
  ExpectFixed(2455400.5, 13, 5, "2455400.50000");
  ExpectFixed(0.12 * 10000.0 + 3.34, 8, 1, "  1203.3");
}

TEST(FixedSpecialValues, InfinityAndNaN) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ExpectFixed(inf, 9, 7, "      inf");
  ExpectFixed(-inf, 9, 7, "     -inf");
  ExpectFixed(std::copysign(nan, 1.0), 0, 3, "nan");
  ExpectFixed(std::copysign(nan, -1.0), 6, 3, "  -nan");
}

// ---------------------------------------------------------------------------
// Exact reference. A finite double is m * 2^e; its exact value is the
// integer m * 2^e when e >= 0 and the integer m * 5^-e scaled by 10^e
// otherwise. Big integers in base 10^9 give the leading decimal digits,
// and the two steps are then done on digit strings, place by place.

using Limbs = std::vector<std::uint32_t>;  // base 10^9, least significant first
constexpr std::uint64_t kBase = 1000000000;

Limbs PowerTimes(const Limbs& previous, std::uint32_t factor) {
  Limbs out;
  std::uint64_t carry = 0;
  for (std::uint32_t limb : previous) {
    const std::uint64_t t = limb * std::uint64_t{factor} + carry;
    out.push_back(static_cast<std::uint32_t>(t % kBase));
    carry = t / kBase;
  }
  if (carry != 0) out.push_back(static_cast<std::uint32_t>(carry));
  return out;
}

// base^0 .. base^count, built once.
std::vector<Limbs> Powers(std::uint32_t base, int count) {
  std::vector<Limbs> powers{Limbs{1}};
  for (int i = 1; i <= count; ++i)
    powers.push_back(PowerTimes(powers.back(), base));
  return powers;
}

Limbs TimesSignificand(const Limbs& a, std::uint64_t m) {
  Limbs out(a.size() + 3, 0);
  const std::uint64_t parts[2] = {m % kBase, m / kBase};
  for (std::size_t j = 0; j < 2; ++j) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < a.size() || carry != 0; ++i) {
      const std::uint64_t product = i < a.size() ? a[i] * parts[j] : 0;
      const std::uint64_t t = out[i + j] + product + carry;
      out[i + j] = static_cast<std::uint32_t>(t % kBase);
      carry = t / kBase;
    }
  }
  while (out.size() > 1 && out.back() == 0) out.pop_back();
  return out;
}

// The first kLeadDigits significant digits of |value|, truncated and padded
// with zeros, and the place of the first one. `lead` is empty for zero.
constexpr int kLeadDigits = 27;
struct Exact {
  std::string lead;
  int exp10;
};

Exact ExactLeading(double value) {
  static const std::vector<Limbs> pow2 = Powers(2, 971);
  static const std::vector<Limbs> pow5 = Powers(5, 1074);
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  const int e = biased == 0 ? -1074 : biased - 1075;
  if (biased != 0) m |= std::uint64_t{1} << 52;
  if (m == 0) return {"", 0};
  const Limbs n = TimesSignificand(e >= 0 ? pow2[static_cast<std::size_t>(e)]
                                          : pow5[static_cast<std::size_t>(-e)],
                                   m);
  std::string lead = std::to_string(n.back());
  const int digit_count = static_cast<int>(lead.size() + 9 * (n.size() - 1));
  for (std::size_t i = n.size() - 1; i-- > 0 && lead.size() < kLeadDigits;) {
    const std::string limb = std::to_string(n[i]);
    lead += std::string(9 - limb.size(), '0') + limb;
  }
  lead.resize(kLeadDigits, '0');
  return {lead, digit_count - 1 + std::min(e, 0)};
}

// Adds one at the last digit; false when the carry runs off the front
// (the digits are then all zeros).
bool Increment(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return true;
    }
    *it = '0';
  }
  return false;
}

std::string ReferenceFixed(double value, const Exact& exact, int width,
                           int precision) {
  std::string s17 = exact.lead.substr(0, 17);
  int exp10 = exact.exp10;
  if (!exact.lead.empty() && exact.lead[17] >= '5' && !Increment(s17)) {
    s17 = std::string("1").append(16, '0');
    ++exp10;
  }
  const auto digit_at = [&](int place) {
    const int i = exp10 - place;
    return i >= 0 && i < static_cast<int>(s17.size())
               ? s17[static_cast<std::size_t>(i)]
               : '0';
  };
  std::string kept;
  for (int place = std::max(exp10, 0); place >= -precision; --place)
    kept += digit_at(place);
  if (digit_at(-precision - 1) >= '5' && !Increment(kept)) kept = '1' + kept;

  const std::size_t int_digits =
      kept.size() - static_cast<std::size_t>(precision);
  std::string text = std::signbit(value) ? "-" : "";
  text += kept.substr(0, int_digits);
  if (precision > 0) text.append(".").append(kept, int_digits);
  const auto field = static_cast<std::size_t>(width);
  return text.size() < field ? std::string(field - text.size(), ' ') + text
                             : text;
}

// Compares with the reference, reporting only the first few mismatches.
class ReferenceCheck {
 public:
  void Check(double value, const Exact& exact, int width, int precision) {
    ++checked_;
    const std::string got = Fixed(value, width, precision);
    const std::string want = ReferenceFixed(value, exact, width, precision);
    if (got != want && ++failures_ <= 10) {
      ADD_FAILURE() << Describe(value, width, precision) << "\n  got  \"" << got
                    << "\"\n  want \"" << want << "\"";
    }
  }
  void CheckAllPrecisions(double value) {
    const Exact exact = ExactLeading(value);
    for (int p = 0; p <= orbelm::FIXED_MAX_PRECISION; ++p) {
      Check(value, exact, p % 3 == 0 ? 0 : 14, p);
      Check(-value, exact, 9, p);
    }
  }
  ~ReferenceCheck() {
    EXPECT_EQ(failures_, 0) << "of " << checked_ << " checked";
    std::printf("[ compared ] %ld formats\n", checked_);
  }

 private:
  long checked_ = 0;
  long failures_ = 0;
};

long RandomCount() {
  const char* text = std::getenv("ORBELM_FIXED_RANDOM_COUNT");
  return text != nullptr ? std::atol(text) : 1000000;
}

constexpr int kWidths[] = {0, 1, 5, 8, 9, 12, 13, 14, 20, 64};

TEST(FixedReference, ReferenceAgreesWithHandCheckedRows) {
  const auto ref = [](double v, int w, int p) {
    return ReferenceFixed(v, ExactLeading(v), w, p);
  };
  EXPECT_EQ(ref(1514.05, 8, 1), "  1514.1");
  EXPECT_EQ(ref(1.0 + 0x1p-17, 0, 16), "1.0000076293945313");
  EXPECT_EQ(ref(6.070018321309574, 0, 16), "6.0700183213095737");
  EXPECT_EQ(ref(1e98, 0, 0), std::string("1").append(98, '0'));
  EXPECT_EQ(ref(-std::numeric_limits<double>::denorm_min(), 0, 2), "-0.00");
  EXPECT_EQ(ref(0.1, 0, 20), "0.10000000000000001000");
}

TEST(FixedReference, RandomBitPatternsOfAllMagnitudes) {
  std::mt19937_64 rng(20240611);
  ReferenceCheck check;
  for (long i = 0; i < RandomCount();) {
    const double value = std::bit_cast<double>(rng());
    if (!std::isfinite(value)) continue;
    ++i;
    const Exact exact = ExactLeading(value);
    check.Check(value, exact, kWidths[rng() % 10],
                static_cast<int>(rng() % 18));
    check.Check(value, exact, kWidths[rng() % 10],
                static_cast<int>(rng() % 21));
  }
}

// Magnitudes where the digits show: log-uniform from 1e-21 up to 1e40,
// covering both sides of every switch between ways of finding the digits.
TEST(FixedReference, RandomValuesWithVisibleDigits) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> exponent(-21.0, 40.0);
  ReferenceCheck check;
  for (long i = 0; i < RandomCount() / 4; ++i) {
    const double value = std::pow(10.0, exponent(rng)) * (rng() % 2 ? 1 : -1);
    const Exact exact = ExactLeading(value);
    check.Check(value, exact, kWidths[rng() % 10],
                static_cast<int>(rng() % 21));
  }
}

// Element-line magnitudes and precisions: uniform values, and decimals that
// end in a 5 one place past the last printed one, where step 1 matters.
TEST(FixedReference, RealisticValuesAndDecimalTies) {
  constexpr int kPrecisions[] = {1, 5, 6, 7, 8};
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> uniform(0.0, 1e7);
  ReferenceCheck check;
  for (long i = 0; i < RandomCount(); ++i) {
    const int precision = kPrecisions[rng() % 5];
    const double value = uniform(rng) * (rng() % 2 ? 1 : -1);
    check.Check(value, ExactLeading(value), kWidths[rng() % 10], precision);

    std::string text = std::to_string(rng() % 10000000) + ".";
    for (int d = 0; d < precision; ++d)
      text += static_cast<char>('0' + rng() % 10);
    text += '5';
    const double tie = std::strtod(text.c_str(), nullptr);
    for (double v :
         {std::nextafter(tie, 0.0), tie, std::nextafter(tie, 1e300)}) {
      check.Check(v, ExactLeading(v), 13, precision);
    }
  }
}

// Doubles whose exact expansion has exactly 18 significant digits, the last
// a 5: m * 2^-n with m odd and m * 5^n between 10^17 and 10^18.
TEST(FixedReference, ExactEighteenDigitTies) {
  std::mt19937_64 rng(5);
  ReferenceCheck check;
  for (int n = 2; n <= 25; ++n) {
    const double pow5 = std::pow(5.0, n);
    const auto lo = static_cast<std::uint64_t>(std::ceil(1e17 / pow5));
    const auto hi = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(1e18 / pow5), 1ULL << 53);
    for (int i = 0; i < 2000 && lo < hi; ++i) {
      const std::uint64_t m = (lo + rng() % (hi - lo)) | 1;
      const double value = std::ldexp(static_cast<double>(m), -n);
      const Exact exact = ExactLeading(value);
      if (exact.lead.find_first_not_of('0', 18) != std::string::npos ||
          exact.lead[17] != '5') {
        continue;  // the bounds are approximate at the ends
      }
      check.CheckAllPrecisions(value);
    }
  }
}

// Doubles whose 18th digit is a 4 followed by at least two 9s, where a
// rounding that looked past the 18th digit would go up.
TEST(FixedReference, FourFollowedByNinesTruncates) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> exponent(-8.0, 16.0);
  ReferenceCheck check;
  int found = 0;
  for (long tries = 0; found < 500 && tries < 5000000; ++tries) {
    const double value = std::pow(10.0, exponent(rng));
    if (ExactLeading(value).lead.compare(17, 3, "499") != 0) continue;
    ++found;
    check.CheckAllPrecisions(value);
  }
  EXPECT_EQ(found, 500);
}

// Around each power of ten, where step 1 can carry into the next decade.
TEST(FixedReference, NeighboursOfPowersOfTen) {
  ReferenceCheck check;
  int carries = 0;
  for (int k = -323; k <= 308; ++k) {
    const std::string text = "1e" + std::to_string(k);
    const double value = std::strtod(text.c_str(), nullptr);
    double below = std::nextafter(value, 0.0);
    for (double v : {std::nextafter(below, 0.0), below, value,
                     std::nextafter(value, 1e300)}) {
      if (v == 0 || std::isinf(v)) continue;
      const std::string lead = ExactLeading(v).lead;
      carries +=
          lead.compare(0, 17, std::string(17, '9')) == 0 && lead[17] >= '5';
      check.CheckAllPrecisions(v);
    }
  }
  EXPECT_GT(carries, 10);
}

// Dyadic values with few decimals: exact ties for the second step.
TEST(FixedReference, ShortDyadicTies) {
  std::mt19937_64 rng(3);
  ReferenceCheck check;
  for (int n = 1; n <= 12; ++n) {
    for (int i = 0; i < 5000; ++i) {
      const double value =
          std::ldexp(static_cast<double>(rng() % (10000000ULL << n)), -n);
      const Exact exact = ExactLeading(value);
      check.Check(value, exact, 0, n - 1);
      check.Check(-value, exact, 12, n - 1);
    }
  }
}

}  // namespace
