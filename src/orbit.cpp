#include "orbit.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "calendar.hpp"
#include "columns.hpp"

namespace orbelm {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double RADIANS_PER_DEGREE = PI / 180.0;

// The number in columns first..last, or none when the field holds no
// number or one that is not finite.
std::optional<double> field_number(std::string_view line, int first,
                                   int last) {
  const std::optional<double> value = read_number(columns(line, first, last));
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

bool is_blank(std::string_view line, int first, int last) {
  const std::string_view field = columns(line, first, last);
  return std::all_of(field.begin(), field.end(), is_white_space);
}

// A slope parameter: its usual value when blank, none when not a number.
std::optional<double> slope_field(std::string_view line, int first, int last,
                                  double blank_value) {
  if (is_blank(line, first, last)) return blank_value;
  return field_number(line, first, last);
}

bool is_packed_in(char c, char last_letter) {
  return (c >= '1' && c <= '9') || (c >= 'A' && c <= last_letter);
}

// The Julian Day (0h TT) of a packed epoch such as "K107N", or none when
// the five characters are not a packed date.
std::optional<double> packed_epoch(std::string_view line) {
  const std::string_view text = columns(line, 21, 25);
  if (text.size() != 5 || (text[0] != 'I' && text[0] != 'J' && text[0] != 'K') ||
      !is_decimal_digit(text[1]) || !is_decimal_digit(text[2]) ||
      !is_packed_in(text[3], 'C') || !is_packed_in(text[4], 'V'))
    return std::nullopt;
  const PackedDate date = decode_packed_epoch(text);
  return julian_day(date.year, date.month, date.day);
}

// The three angles, degrees in columns, radians out; false when one holds
// no number.
bool read_angles(std::string_view line, const int (&first)[3],
                 const int (&last)[3], OrbitElements& elements) {
  double* const out[3] = {&elements.arg_perihelion, &elements.ascending_node,
                          &elements.inclination};
  for (int i = 0; i < 3; ++i) {
    const std::optional<double> degrees = field_number(line, first[i], last[i]);
    if (!degrees) return false;
    *out[i] = *degrees * RADIANS_PER_DEGREE;
  }
  return true;
}

std::optional<SkyRecord> read_minor_planet(std::string_view line) {
  const std::optional<double> h = field_number(line, 9, 13);
  const std::optional<double> g = slope_field(line, 15, 19, DEFAULT_SLOPE_G);
  const std::optional<double> epoch = packed_epoch(line);
  const std::optional<double> anomaly = field_number(line, 27, 35);
  const std::optional<double> e = field_number(line, 71, 79);
  const std::optional<double> motion_degrees = field_number(line, 81, 91);
  const std::optional<double> axis = field_number(line, 93, 103);
  if (!h || !g || !epoch || !anomaly || !e || !motion_degrees || !axis ||
      *e < 0.0 || *e >= 1.0 || *motion_degrees < 0.0 || *axis < 0.0 ||
      (*motion_degrees == 0.0 && *axis == 0.0))
    return std::nullopt;

  SkyRecord record{};
  OrbitElements& elements = record.elements;
  if (!read_angles(line, {38, 49, 60}, {46, 57, 68}, elements))
    return std::nullopt;
  double motion = *motion_degrees * RADIANS_PER_DEGREE;
  double a = *axis;
  if (a == 0.0) a = std::cbrt((GAUSSIAN_K / motion) * (GAUSSIAN_K / motion));
  if (motion == 0.0) motion = GAUSSIAN_K / (a * std::sqrt(a));
  elements.eccentricity = *e;
  elements.perihelion_distance = a * (1.0 - *e);
  elements.perihelion_time =
      *epoch - std::remainder(*anomaly, 360.0) * RADIANS_PER_DEGREE / motion;
  elements.period = 2.0 * PI / motion;
  elements.sqrt_mu = motion * a * std::sqrt(a);
  record.brightness = {RecordKind::MinorPlanet, *h, *g};
  return record;
}

std::optional<SkyRecord> read_comet(std::string_view line) {
  const std::optional<double> year = field_number(line, 15, 18);
  const std::optional<double> month = field_number(line, 20, 21);
  const std::optional<double> day = field_number(line, 23, 29);
  const std::optional<double> q = field_number(line, 31, 39);
  const std::optional<double> e = field_number(line, 41, 49);
  const std::optional<double> h = field_number(line, 92, 95);
  const std::optional<double> k = slope_field(line, 97, 100, DEFAULT_SLOPE_K);
  const int month_number = read_int(columns(line, 20, 21));
  if (!year || !month || !day || !q || !e || !h || !k || *q <= 0.0 ||
      *e < 0.0 || month_number < 1 || month_number > 12)
    return std::nullopt;

  SkyRecord record{};
  OrbitElements& elements = record.elements;
  if (!read_angles(line, {52, 62, 72}, {59, 69, 79}, elements))
    return std::nullopt;
  elements.perihelion_distance = *q;
  elements.eccentricity = *e;
  elements.perihelion_time =
      julian_day(read_int(columns(line, 15, 18)), month_number, *day);
  elements.sqrt_mu = GAUSSIAN_K;
  if (*e < 1.0) {
    const double a = *q / (1.0 - *e);
    elements.period = 2.0 * PI * a * std::sqrt(a) / GAUSSIAN_K;
  }
  record.brightness = {RecordKind::Comet, *h, *k};
  return record;
}

// The Stumpff functions C(z) and S(z).
struct Stumpff {
  double c;
  double s;
};

// 1 / (2k + 2)! and 1 / (2k + 3)!, k = 0, 1, ...: the coefficients of the
// series of C and S.
constexpr int SERIES_TERMS = 11;
struct SeriesCoefficients {
  double c[SERIES_TERMS];
  double s[SERIES_TERMS];
};
constexpr SeriesCoefficients stumpff_series() {
  SeriesCoefficients series{};
  double factorial_c = 1.0;  // (2k + 2)!
  double factorial_s = 1.0;  // (2k + 3)!
  for (int k = 0; k < SERIES_TERMS; ++k) {
    factorial_c *= (2.0 * k + 1.0) * (2.0 * k + 2.0);
    factorial_s *= (2.0 * k + 2.0) * (2.0 * k + 3.0);
    series.c[k] = 1.0 / factorial_c;
    series.s[k] = 1.0 / factorial_s;
  }
  return series;
}
constexpr SeriesCoefficients STUMPFF_SERIES = stumpff_series();

// Beyond |z| = 1 the closed forms lose no digit that matters (1 − cos √z
// is written 2 sin²(√z / 2)); within it the series, whose terms
// (−z)^k / (2k + 2)! and (−z)^k / (2k + 3)! fall below 1e-18 of the sum by
// k = 10.
Stumpff stumpff(double z) {
  if (z > 1.0) {
    const double w = std::sqrt(z);
    const double half_sin = std::sin(0.5 * w);
    const double half_cos = std::cos(0.5 * w);
    return {2.0 * half_sin * half_sin / z,
            (w - 2.0 * half_sin * half_cos) / (z * w)};
  }
  if (z < -1.0) {
    const double w = std::sqrt(-z);
    return {(std::cosh(w) - 1.0) / -z, (std::sinh(w) - w) / (-z * w)};
  }
  double c = 0.0;
  double s = 0.0;
  for (int k = SERIES_TERMS - 1; k >= 0; --k) {  // Horner's rule
    c = STUMPFF_SERIES.c[k] - z * c;
    s = STUMPFF_SERIES.s[k] - z * s;
  }
  return {c, s};
}

// The real root of e x^3 / 6 + q x = m (m >= 0): the universal anomaly of
// a parabola, a good start near e = 1.
double parabolic_anomaly(double q, double e, double m) {
  // x^3 + p x = r with p = 6 q / e, r = 6 m / e (Cardano, one real root).
  const double p = 6.0 * q / e;
  const double r = 6.0 * m / e;
  const double root = std::sqrt(0.25 * r * r + p * p * p / 27.0);
  const double u = std::cbrt(0.5 * r + root);
  return u - p / (3.0 * u);
}

// A first guess of χ for √μ τ = m >= 0, inside [0, high]: Danby's
// E = M + 0.85 e on an ellipse not near a parabola; elsewhere the
// parabola's anomaly, unless that is more than a radian of eccentric (or
// hyperbolic) anomaly, where the hyperbola's asinh(M / e) takes over.
double starting_anomaly(const Orbit& orbit, double m, double high) {
  const OrbitElements& el = orbit.elements;
  const double alpha = orbit.alpha;
  const double e = el.eccentricity;
  const double scale = std::sqrt(std::abs(alpha));
  const double mean_anomaly = m * alpha * scale;  // n τ, or its hyperbolic
  constexpr double NEAR_PARABOLIC = 0.9;
  double start = 0.0;
  if (alpha > 0.0 && e < NEAR_PARABOLIC) {
    start = std::min(PI, mean_anomaly + 0.85 * e) / scale;
  } else {
    if (e > 0.0) start = parabolic_anomaly(el.perihelion_distance, e, m);
    if (alpha * start * start > 1.0)
      start = std::min(PI, mean_anomaly + 0.85 * e) / scale;
    else if (-alpha * start * start > 1.0)
      start = std::asinh(-mean_anomaly / e) / scale;
  }
  return std::clamp(start, 0.0, high);
}

// The universal anomaly χ and its Stumpff functions.
struct Anomaly {
  double chi;
  Stumpff stumpff;
};

// χ for √μ τ = m >= 0: Halley's steps inside the bracket [low, high],
// bisection where a step leaves it. Halley's method converges cubically,
// so once a step is below TOLERANCE of χ, χ itself is that close.
Anomaly universal_anomaly(const Orbit& orbit, double m) {
  const OrbitElements& el = orbit.elements;
  const double q = el.perihelion_distance;
  const double e = el.eccentricity;
  if (m == 0.0) return {0.0, stumpff(0.0)};
  // F(χ) = q χ + e χ^3 S − m rises with χ (F' = r > 0) and F >= q χ − m,
  // so χ <= m / q; on a hyperbola or parabola S >= 1/6 so χ^3 <= 6 m / e;
  // on an ellipse χ <= π √a within half a period.
  double low = 0.0;
  double high = m / q;
  if (orbit.alpha > 0.0)
    high = std::min(high, PI / std::sqrt(orbit.alpha));
  else if (e > 0.0)
    high = std::min(high, std::cbrt(6.0 * m / e));
  double chi = starting_anomaly(orbit, m, high);
  constexpr int MAX_STEPS = 100;
  constexpr double TOLERANCE = 1e-14;
  for (int step = 0; step < MAX_STEPS; ++step) {
    const double z = orbit.alpha * chi * chi;
    const Stumpff st = stumpff(z);
    const double f = q * chi + e * chi * chi * chi * st.s - m;
    if (f == 0.0) return {chi, st};
    if (f > 0.0) high = chi; else low = chi;
    const double f1 = q + e * chi * chi * st.c;
    const double f2 = e * chi * (1.0 - z * st.s);
    const double next = chi - f / (f1 - 0.5 * f * f2 / f1);
    if (std::abs(next - chi) <= TOLERANCE * chi) return {chi, st};
    chi = next > low && next < high ? next : 0.5 * (low + high);
    if (high - low <= TOLERANCE * high) break;
  }
  return {chi, stumpff(orbit.alpha * chi * chi)};
}

}  // namespace

std::optional<SkyRecord> read_sky_record(RecordKind kind,
                                         std::string_view line) {
  return kind == RecordKind::MinorPlanet ? read_minor_planet(line)
                                         : read_comet(line);
}

Orbit make_orbit(const OrbitElements& elements) {
  Orbit orbit{};
  orbit.elements = elements;
  const double q = elements.perihelion_distance;
  const double e = elements.eccentricity;
  orbit.alpha = (1.0 - e) / q;
  orbit.speed_factor = std::sqrt(q * (1.0 + e));
  const double cw = std::cos(elements.arg_perihelion);
  const double sw = std::sin(elements.arg_perihelion);
  const double cn = std::cos(elements.ascending_node);
  const double sn = std::sin(elements.ascending_node);
  const double ci = std::cos(elements.inclination);
  const double si = std::sin(elements.inclination);
  orbit.perihelion_axis = {cw * cn - sw * sn * ci, cw * sn + sw * cn * ci,
                           sw * si};
  orbit.normal_axis = {-sw * cn - cw * sn * ci, -sw * sn + cw * cn * ci,
                       cw * si};
  return orbit;
}

OrbitState orbit_state(const Orbit& orbit, double tt_jd) {
  const OrbitElements& el = orbit.elements;
  double tau = tt_jd - el.perihelion_time;
  if (el.period > 0.0) tau = std::remainder(tau, el.period);
  const double m = el.sqrt_mu * tau;
  const Anomaly anomaly = universal_anomaly(orbit, std::abs(m));
  const double chi = std::copysign(anomaly.chi, m);
  const double z = orbit.alpha * chi * chi;
  const Stumpff& st = anomaly.stumpff;
  const double q = el.perihelion_distance;
  const double r = q + el.eccentricity * chi * chi * st.c;
  const double x = q - chi * chi * st.c;
  const double y = chi * (1.0 - z * st.s) * orbit.speed_factor;
  const double vx = -el.sqrt_mu * chi * (1.0 - z * st.s) / r;
  const double vy = el.sqrt_mu * orbit.speed_factor * (1.0 - z * st.c) / r;
  OrbitState state{};
  state.position = x * orbit.perihelion_axis + y * orbit.normal_axis;
  state.velocity = vx * orbit.perihelion_axis + vy * orbit.normal_axis;
  state.distance = std::isfinite(r) ? r : HUGE_VAL;
  return state;
}

}  // namespace orbelm
