#include "earth.hpp"

#include <cmath>
#include <cstddef>

namespace orbelm {
namespace {

// One term A cos(B + C T): amplitude (rad or AU), phase (rad), frequency
// (rad per Julian millennium).
struct Term {
  double amplitude;
  double phase;
  double frequency;
};

// The terms of VSOP87B for the Earth (file VSOP87B.ear) whose amplitude A
// of the series of T^k has A · 0.1^k >= 1e-6; the numbers are those of the
// complete series as printed in libnova 0.16, src/earth.c (Debian source
// package libnova 0.16-5), which carries all 2,564 terms of the file in its
// order. The series of T^2 to T^5 keep no term, the others these. A term
// whose frequency is 0 is a constant, or with T a secular rate (the first
// of L1 is the Earth's mean motion, 6283.0758 rad per millennium).
// L0: 33 of 623 terms
constexpr Term L0[] = {
    {1.75347045673, 0.00000000000, 0.00000000000},
    {0.03341656453, 4.66925680415, 6283.07584999140},
    {0.00034894275, 4.62610242189, 12566.15169998280},
    {0.00003417572, 2.82886579754, 3.52311834900},
    {0.00003497056, 2.74411783405, 5753.38488489680},
    {0.00003135899, 3.62767041756, 77713.77146812050},
    {0.00002676218, 4.41808345438, 7860.41939243920},
    {0.00002342691, 6.13516214446, 3930.20969621960},
    {0.00001273165, 2.03709657878, 529.69096509460},
    {0.00001324294, 0.74246341673, 11506.76976979360},
    {0.00000901854, 2.04505446477, 26.29831979980},
    {0.00001199167, 1.10962946234, 1577.34354244780},
    {0.00000857223, 3.50849152283, 398.14900340820},
    {0.00000779786, 1.17882681962, 5223.69391980220},
    {0.00000990250, 5.23268072088, 5884.92684658320},
    {0.00000753141, 2.53339052847, 5507.55323866740},
    {0.00000505267, 4.58292599973, 18849.22754997420},
    {0.00000492392, 4.20505711826, 775.52261132400},
    {0.00000356672, 2.91954114478, 0.06731030280},
    {0.00000284125, 1.89869240932, 796.29800681640},
    {0.00000242879, 0.34481445893, 5486.77784317500},
    {0.00000317087, 5.84901948512, 11790.62908865880},
    {0.00000271112, 0.31486255375, 10977.07880469900},
    {0.00000206217, 4.80646631478, 2544.31441988340},
    {0.00000205478, 1.86953770281, 5573.14280143310},
    {0.00000202318, 2.45767790232, 6069.77675455340},
    {0.00000126225, 1.08295459501, 20.77539549240},
    {0.00000155516, 0.83306084617, 213.29909543800},
    {0.00000115132, 0.64544911683, 0.98032106820},
    {0.00000102851, 0.63599845579, 4694.00295470760},
    {0.00000101724, 4.26679801980, 7.11354700080},
    {0.00000132212, 3.41118292683, 2942.46342329160},
    {0.00000101895, 0.97569280312, 15720.83878487840},
};
// L1: 3 of 379 terms
constexpr Term L1[] = {
    {6283.07584999140, 0.00000000000, 0.00000000000},
    {0.00206058863, 2.67823455808, 6283.07584999140},
    {0.00004303419, 2.63512233481, 12566.15169998280},
};
// B0: 2 of 184 terms
constexpr Term B0[] = {
    {0.00000279620, 3.19870156017, 84334.66158130829},
    {0.00000101643, 5.42248619256, 5507.55323866740},
};
// B1: 3 of 134 terms
constexpr Term B1[] = {
    {0.00227777722, 3.41376620530, 6283.07584999140},
    {0.00003805678, 3.37063423795, 12566.15169998280},
    {0.00003619589, 0.00000000000, 0.00000000000},
};
// R0: 17 of 523 terms
constexpr Term R0[] = {
    {1.00013988784, 0.00000000000, 0.00000000000},
    {0.01670699632, 3.09846350258, 6283.07584999140},
    {0.00013956024, 3.05524609456, 12566.15169998280},
    {0.00003083720, 5.19846674381, 77713.77146812050},
    {0.00001628463, 1.17387558054, 5753.38488489680},
    {0.00001575572, 2.84685214877, 7860.41939243920},
    {0.00000924799, 5.45292236722, 11506.76976979360},
    {0.00000542439, 4.56409151453, 3930.20969621960},
    {0.00000472110, 3.66100022149, 5884.92684658320},
    {0.00000328780, 5.89983686142, 5223.69391980220},
    {0.00000345969, 0.96368627272, 5507.55323866740},
    {0.00000306784, 0.29867139512, 5573.14280143310},
    {0.00000174844, 3.01193636733, 18849.22754997420},
    {0.00000243181, 4.27349530790, 11790.62908865880},
    {0.00000211836, 5.84714461348, 1577.34354244780},
    {0.00000185740, 5.02199710705, 10977.07880469900},
    {0.00000109835, 5.05510635860, 5486.77784317500},
};
// R1: 2 of 290 terms
constexpr Term R1[] = {
    {0.00103018607, 1.10748968172, 6283.07584999140},
    {0.00001721238, 1.06442300386, 12566.15169998280},
};

constexpr double J2000 = 2451545.0;               // JD of J2000.0, TT
constexpr double DAYS_PER_MILLENNIUM = 365250.0;  // Julian millennium

// The value and the derivative (per millennium) of one power's series.
struct SeriesValue {
  double value;
  double rate;
};

template <std::size_t N>
SeriesValue series(const Term (&terms)[N], double t) {
  SeriesValue sum{0.0, 0.0};
  for (const Term& term : terms) {
    const double argument = term.phase + term.frequency * t;
    sum.value += term.amplitude * std::cos(argument);
    sum.rate -= term.amplitude * term.frequency * std::sin(argument);
  }
  return sum;
}

// S0 + S1 T and its derivative.
SeriesValue variable(SeriesValue s0, SeriesValue s1, double t) {
  return {s0.value + s1.value * t, s0.rate + s1.rate * t + s1.value};
}

}  // namespace

EarthState earth_state(double tt_jd) {
  const double t = (tt_jd - J2000) / DAYS_PER_MILLENNIUM;
  const SeriesValue l = variable(series(L0, t), series(L1, t), t);
  const SeriesValue b = variable(series(B0, t), series(B1, t), t);
  const SeriesValue r = variable(series(R0, t), series(R1, t), t);

  const double cos_l = std::cos(l.value);
  const double sin_l = std::sin(l.value);
  const double cos_b = std::cos(b.value);
  const double sin_b = std::sin(b.value);
  EarthState state{};
  state.position = {r.value * cos_b * cos_l, r.value * cos_b * sin_l,
                    r.value * sin_b};
  // d/dt of R (cos B cos L, cos B sin L, sin B), per millennium, then per
  // day.
  const Vector3 along_r{cos_b * cos_l, cos_b * sin_l, sin_b};
  const Vector3 along_l{-cos_b * sin_l, cos_b * cos_l, 0.0};
  const Vector3 along_b{-sin_b * cos_l, -sin_b * sin_l, cos_b};
  const Vector3 per_millennium =
      r.rate * along_r + (r.value * l.rate) * along_l +
      (r.value * b.rate) * along_b;
  state.velocity = (1.0 / DAYS_PER_MILLENNIUM) * per_millennium;
  return state;
}

}  // namespace orbelm
