#include "visibility.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>

#include "calendar.hpp"

namespace orbelm {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double INFINITE = std::numeric_limits<double>::infinity();
constexpr double SECONDS_PER_DAY = 86400.0;

// The H,G phase law's constants (Bowell et al. 1989).
constexpr double A1 = 3.33, B1 = 0.63, A2 = 1.87, B2 = 1.22;

// The search: a span whose bound cannot beat the best magnitude by more
// than MAGNITUDE_TOLERANCE is dropped; spans are halved down to a
// half-width of MIN_HALF_WIDTH days (2^-17, 0.66 s). A window of W days
// then halves at most log2(W / MIN_HALF_WIDTH) times, so the stack of
// pending spans (one per halving, and one) holds any window below 2^45 days.
constexpr double MAGNITUDE_TOLERANCE = 0.01;
constexpr double MIN_HALF_WIDTH = 1.0 / 131072.0;
constexpr int MAX_PENDING = 64;

constexpr double EARTH_STEP = 1.0;  // days between the Earth's samples

// Φ1 and Φ2 of tan(α/2).
double phi1(double tan_half) { return std::exp(-A1 * std::pow(tan_half, B1)); }
double phi2(double tan_half) { return std::exp(-A2 * std::pow(tan_half, B2)); }

// log10 that keeps 0 as −infinity without a pole error's flag mattering.
double log10_or_minus_infinity(double x) {
  return x > 0.0 ? std::log10(x) : -INFINITE;
}

// Everything about one instant that the search uses.
struct Sample {
  double tt;
  Vector3 position;   // object from the Sun
  Vector3 velocity;
  Vector3 earth;      // Earth from the Sun
  Vector3 earth_velocity;
  Vector3 offset;     // object from the Earth
  Vector3 offset_rate;
  double sun_distance;
  double earth_distance;
  double phase;       // radians
  double elongation;  // radians, or −1 when not asked for
  double magnitude;
};

// What the search keeps about one record.
struct Target {
  const SkyWindow* window;
  Orbit orbit;
  Brightness brightness;
  double mu;             // AU^3 / day^2
  double max_speed;      // at perihelion, AU per day
  double aphelion;       // Q, AU, or infinity
};

double magnitude_of(const Brightness& b, double r, double delta,
                    double phase) {
  return b.kind == RecordKind::MinorPlanet
             ? minor_planet_magnitude(b.absolute_magnitude, b.slope, r, delta,
                                      phase)
             : comet_magnitude(b.absolute_magnitude, b.slope, r, delta);
}

double elongation_of(const Sample& s) {
  return angle_between(-1.0 * s.earth, s.offset);
}

Sample sample_at(const Target& target, double tt, bool with_elongation) {
  Sample s{};
  s.tt = tt;
  const OrbitState state = orbit_state(target.orbit, tt);
  const EarthState earth = window_earth(*target.window, tt);
  s.position = state.position;
  s.velocity = state.velocity;
  s.sun_distance = state.distance;
  s.earth = earth.position;
  s.earth_velocity = earth.velocity;
  s.offset = state.position - earth.position;
  s.offset_rate = state.velocity - earth.velocity;
  s.earth_distance = norm(s.offset);
  if (!std::isfinite(s.sun_distance) || !std::isfinite(s.earth_distance)) {
    s.magnitude = INFINITE;
    s.elongation = -1.0;
    return s;
  }
  s.phase = angle_between(s.position, s.offset);
  s.magnitude = magnitude_of(target.brightness, s.sun_distance,
                             s.earth_distance, s.phase);
  s.elongation = with_elongation ? elongation_of(s) : -1.0;
  return s;
}

// The least and greatest |a + b s| over |s| <= h.
double least_along(const Vector3& a, const Vector3& b, double h) {
  const double bb = dot(b, b);
  const double s = bb > 0.0 ? std::clamp(-dot(a, b) / bb, -h, h) : 0.0;
  return norm(a + s * b);
}
double greatest_along(const Vector3& a, const Vector3& b, double h) {
  return std::max(norm(a + h * b), norm(a - h * b));
}

// Bounds over a span, from its middle's sample.
struct SpanBounds {
  double magnitude;   // no instant of the span is brighter
  double elongation;  // none is farther from the Sun, radians
};

// The upper bound of the phase law over phase angles [low, high]: each
// weight times Φi at the end that makes the product largest (Φi falls
// as the angle grows).
double phase_law_bound(double g, double low, double high) {
  const double w1 = 1.0 - g;
  const double w2 = g;
  const double t_low = std::tan(0.5 * low);
  const double t_high = std::tan(0.5 * high);
  return w1 * phi1(w1 >= 0.0 ? t_low : t_high) +
         w2 * phi2(w2 >= 0.0 ? t_low : t_high);
}

SpanBounds span_bounds(const Target& target, const Sample& s, double h) {
  const OrbitElements& el = target.orbit.elements;
  // Least distance from the Sun, then the largest pulls over the span.
  const double r_floor = std::max(el.perihelion_distance,
                                  s.sun_distance - target.max_speed * h);
  const double object_pull = target.mu / (r_floor * r_floor);
  const double pull = object_pull + EARTH_ACCELERATION_MAX;
  const double object_rest = 0.5 * object_pull * h * h;
  const double r_low = std::max(
      r_floor, least_along(s.position, s.velocity, h) - object_rest);
  const double r_high =
      std::min(target.aphelion,
               greatest_along(s.position, s.velocity, h) + object_rest);
  const double delta_low =
      least_along(s.offset, s.offset_rate, h) - 0.5 * pull * h * h;
  if (!(delta_low > 0.0)) return {-INFINITE, PI};

  // Turning rates of the directions Earth-object, Sun-object and
  // Earth-Sun, from the largest speeds over the span.
  const double object_speed =
      std::min(norm(s.velocity) + object_pull * h, target.max_speed);
  const double offset_turn = (norm(s.offset_rate) + pull * h) / delta_low;
  const double sun_turn =
      (norm(s.earth_velocity) + EARTH_ACCELERATION_MAX * h) /
      EARTH_SUN_DISTANCE_MIN;
  const double position_turn = object_speed / r_low;

  SpanBounds bounds{};
  bounds.elongation =
      s.elongation < 0.0 ? PI
                         : std::min(PI, s.elongation + (offset_turn + sun_turn) * h);
  const Brightness& b = target.brightness;
  if (b.kind == RecordKind::Comet) {
    bounds.magnitude = b.absolute_magnitude + 5.0 * std::log10(delta_low) +
                       2.5 * b.slope *
                           log10_or_minus_infinity(b.slope >= 0.0 ? r_low : r_high);
    return bounds;
  }
  const double swing = (position_turn + offset_turn) * h;
  const double law = phase_law_bound(b.slope, std::max(0.0, s.phase - swing),
                                     std::min(PI, s.phase + swing));
  bounds.magnitude = law > 0.0 ? b.absolute_magnitude +
                                     5.0 * std::log10(r_low * delta_low) -
                                     2.5 * std::log10(law)
                               : INFINITE;
  return bounds;
}

// The cheap test: a lower bound of the magnitude anywhere on the orbit,
// from q and the gap between the orbit's and the Earth's distances from
// the Sun (the phase law at most its largest weight sum, at α = 0).
bool may_reach(const SkyRecord& record, double max_magnitude) {
  const OrbitElements& el = record.elements;
  const double q = el.perihelion_distance;
  const double e = el.eccentricity;
  const double aphelion = e < 1.0 ? q * (1.0 + e) / (1.0 - e) : INFINITE;
  const double delta_low = std::max(
      {0.0, q - EARTH_SUN_DISTANCE_MAX, EARTH_SUN_DISTANCE_MIN - aphelion});
  const Brightness& b = record.brightness;
  double bound = 0.0;
  if (b.kind == RecordKind::Comet) {
    bound = b.absolute_magnitude + 5.0 * log10_or_minus_infinity(delta_low) +
            2.5 * b.slope *
                log10_or_minus_infinity(b.slope >= 0.0 ? q : aphelion);
  } else {
    const double law = std::max(1.0 - b.slope, 0.0) + std::max(b.slope, 0.0);
    bound = b.absolute_magnitude + 5.0 * log10_or_minus_infinity(q * delta_low) -
            2.5 * std::log10(law);
  }
  return !(bound > max_magnitude);
}

Target make_target(const SkyWindow& window, const SkyRecord& record) {
  Target target{};
  target.window = &window;
  target.orbit = make_orbit(record.elements);
  target.brightness = record.brightness;
  const OrbitElements& el = record.elements;
  target.mu = el.sqrt_mu * el.sqrt_mu;
  target.max_speed =
      el.sqrt_mu * target.orbit.speed_factor / el.perihelion_distance;
  target.aphelion = el.eccentricity < 1.0
                        ? el.perihelion_distance * (1.0 + el.eccentricity) /
                              (1.0 - el.eccentricity)
                        : INFINITE;
  return target;
}

// A span of the search, with the sample at its middle.
struct Span {
  double half_width;
  Sample middle;
};

// The branch and bound of brightest_sighting's notes; the best sample
// that meets the elongation, or none. The halves of a span are sampled
// when it is split, and the brighter one is searched first, so that a good
// best is found early and prunes the rest.
std::optional<Sample> search(const Target& target) {
  const SkyWindow& window = *target.window;
  const bool constrained = window.min_elongation > 0.0;
  Span pending[MAX_PENDING];
  int count = 0;
  pending[count++] = {0.5 * (window.end_tt - window.start_tt),
                      sample_at(target, 0.5 * (window.start_tt + window.end_tt),
                                constrained)};
  std::optional<Sample> best;
  double best_magnitude = INFINITE;
  while (count > 0) {
    const Span span = pending[--count];
    const Sample& s = span.middle;
    const bool far_enough = !constrained || s.elongation >= window.min_elongation;
    if (far_enough && s.magnitude < best_magnitude) {
      best = s;
      best_magnitude = s.magnitude;
    }
    if (span.half_width < MIN_HALF_WIDTH || count + 2 > MAX_PENDING) continue;
    const SpanBounds bounds = span_bounds(target, s, span.half_width);
    if (bounds.magnitude > window.max_magnitude ||
        bounds.magnitude > best_magnitude - MAGNITUDE_TOLERANCE ||
        (constrained && bounds.elongation < window.min_elongation))
      continue;
    const double quarter = 0.5 * span.half_width;
    Span later{quarter, sample_at(target, s.tt - quarter, constrained)};
    Span first{quarter, sample_at(target, s.tt + quarter, constrained)};
    if (later.middle.magnitude < first.middle.magnitude) std::swap(later, first);
    pending[count++] = later;
    pending[count++] = first;
  }
  return best;
}

double utc_of(double tt_jd) {
  double utc = tt_jd - tt_minus_utc(tt_jd) / SECONDS_PER_DAY;
  return tt_jd - tt_minus_utc(utc) / SECONDS_PER_DAY;
}

}  // namespace

double minor_planet_magnitude(double h, double g, double r, double delta,
                              double phase) {
  const double tan_half = std::tan(0.5 * phase);
  const double law = (1.0 - g) * phi1(tan_half) + g * phi2(tan_half);
  if (!(law > 0.0)) return INFINITE;
  return h + 5.0 * std::log10(r * delta) - 2.5 * std::log10(law);
}

double comet_magnitude(double h, double k, double r, double delta) {
  return h + 5.0 * std::log10(delta) + 2.5 * k * std::log10(r);
}

SkyWindow make_sky_window(double start_utc_jd, double days,
                          double max_magnitude, double min_elongation_degrees) {
  days = std::max(days, MIN_WINDOW_DAYS);
  SkyWindow window{};
  window.start_tt = start_utc_jd + tt_minus_utc(start_utc_jd) / SECONDS_PER_DAY;
  const double end_utc = start_utc_jd + days;
  window.end_tt = end_utc + tt_minus_utc(end_utc) / SECONDS_PER_DAY;
  window.max_magnitude = max_magnitude;
  window.min_elongation = min_elongation_degrees * (PI / 180.0);
  window.earth_step = EARTH_STEP;
  const auto steps = static_cast<std::size_t>(
      std::ceil((window.end_tt - window.start_tt) / EARTH_STEP));
  window.earth.reserve(steps + 1);
  for (std::size_t i = 0; i <= steps; ++i)
    window.earth.push_back(
        earth_state(window.start_tt + static_cast<double>(i) * EARTH_STEP));
  return window;
}

EarthState window_earth(const SkyWindow& window, double tt_jd) {
  const double h = window.earth_step;
  const double x = (tt_jd - window.start_tt) / h;
  const std::size_t last = window.earth.size() - 2;
  const std::size_t i = std::min(
      static_cast<std::size_t>(std::max(0.0, std::floor(x))), last);
  const double s = std::clamp(x - static_cast<double>(i), 0.0, 1.0);
  const EarthState& a = window.earth[i];
  const EarthState& b = window.earth[i + 1];
  // Cubic Hermite basis on [0, 1] and its derivatives.
  const double s2 = s * s;
  const double s3 = s2 * s;
  const double h00 = 2 * s3 - 3 * s2 + 1;
  const double h10 = s3 - 2 * s2 + s;
  const double h01 = -2 * s3 + 3 * s2;
  const double h11 = s3 - s2;
  const double d00 = 6 * s2 - 6 * s;
  const double d10 = 3 * s2 - 4 * s + 1;
  const double d01 = -6 * s2 + 6 * s;
  const double d11 = 3 * s2 - 2 * s;
  EarthState e{};
  e.position = h00 * a.position + (h10 * h) * a.velocity + h01 * b.position +
               (h11 * h) * b.velocity;
  e.velocity = (d00 / h) * a.position + d10 * a.velocity +
               (d01 / h) * b.position + d11 * b.velocity;
  return e;
}

Visibility brightest_sighting(const SkyWindow& window, RecordKind kind,
                              std::string_view line, Sighting& sighting) {
  const std::optional<SkyRecord> record = read_sky_record(kind, line);
  if (!record) return Visibility::NotComputable;
  return brightest_sighting(window, *record, sighting);
}

Visibility brightest_sighting(const SkyWindow& window, const SkyRecord& record,
                              Sighting& sighting) {
  if (!may_reach(record, window.max_magnitude)) return Visibility::TooFaint;
  const Target target = make_target(window, record);
  const std::optional<Sample> best = search(target);
  if (!best || best->magnitude > window.max_magnitude)
    return Visibility::TooFaint;
  sighting.magnitude = best->magnitude;
  sighting.utc_jd = utc_of(best->tt);
  sighting.elongation = elongation_of(*best) * (180.0 / PI);
  sighting.sun_distance = best->sun_distance;
  sighting.earth_distance = best->earth_distance;
  return Visibility::Visible;
}

}  // namespace orbelm
