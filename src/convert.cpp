#include "convert.hpp"

#include <cmath>

#include "calendar.hpp"
#include "columns.hpp"

namespace orbelm {
namespace {

constexpr double FULL_CIRCLE = 360.0;              // degrees
constexpr double HALF_CIRCLE = 180.0;              // degrees
constexpr double TWO_THIRDS = 0.6666666666666666;  // Kepler's third law
constexpr double MAGNITUDE_FACTOR = 10000.0;  // packs slope above magnitude
constexpr double COMET_SLOPE_FACTOR = 2.5;    // comet K to the packed slope
constexpr std::string_view NO_EPOCH_YEAR = "    ";

double number(std::string_view line, int first, int last) {
  return read_double(columns(line, first, last));
}

double angle(std::string_view line, int first, int last) {
  return number(line, first, last) * DEG_TO_RAD;
}

// A name text: the columns up to the line's end, so a short line never
// carries blanks or text that are not its own.
FieldText name_text(std::string_view line, int first, int last) {
  FieldText name = padded_columns(line, first, last);
  name.size = columns(line, first, last).size();
  return name;
}

// A minor planet's short name ends right after its first ")", so that
// "(433) Eros" names the object by its number.
FieldText cut_after_parenthesis(FieldText name) {
  const std::size_t close = name.view().find(')');
  if (close != std::string_view::npos) name.size = close + 1;
  return name;
}

double minor_planet_perihelion_time(double mean_anomaly, double motion,
                                    double epoch) {
  if (mean_anomaly < 0.0) mean_anomaly += FULL_CIRCLE;
  if (mean_anomaly > HALF_CIRCLE)
    return (FULL_CIRCLE - mean_anomaly) / motion + epoch;
  return epoch - mean_anomaly / motion;
}

double minor_planet_perihelion_distance(double axis, double eccentricity,
                                        double motion) {
  if (axis == 0.0)
    return (1.0 - eccentricity) * std::pow(MEAN_MOTION_K / motion, TWO_THIRDS);
  return axis * (1.0 - eccentricity);
}

// Four blank epoch-year columns (a short line's missing columns count as
// blanks) mean the record gives no epoch; anything else is a date.
double comet_epoch(std::string_view line, double perihelion_time) {
  if (padded_columns(line, 82, 85).view() == NO_EPOCH_YEAR)
    return perihelion_time;
  return julian_day(read_int(columns(line, 82, 85)),
                    read_int(columns(line, 86, 87)), number(line, 88, 89));
}

}  // namespace

ElementRecord convert_minor_planet(std::string_view line,
                                   std::string_view /*designation*/) {
  ElementRecord record{};
  const PackedDate date = decode_packed_epoch(columns(line, 21, 25));
  record.epoch = julian_day(date.year, date.month, date.day);

  const double motion = number(line, 81, 91);
  const double eccentricity = number(line, 71, 79);
  record.perihelion_time =
      minor_planet_perihelion_time(number(line, 27, 35), motion, record.epoch);
  record.perihelion_distance = minor_planet_perihelion_distance(
      number(line, 93, 103), eccentricity, motion);
  record.eccentricity_text = padded_columns(line, 71, 79);

  record.arg_perihelion = angle(line, 38, 46);
  record.ascending_node = angle(line, 49, 57);
  record.inclination = angle(line, 60, 68);
  record.magnitude_code =
      number(line, 15, 19) * MAGNITUDE_FACTOR + number(line, 9, 13);

  record.short_name = cut_after_parenthesis(name_text(line, 175, 184));
  record.long_name = name_text(line, 175, 199);
  return record;
}

ElementRecord convert_comet(std::string_view line,
                            std::string_view /*designation*/) {
  ElementRecord record{};
  record.perihelion_time =
      julian_day(read_int(columns(line, 15, 18)),
                 read_int(columns(line, 20, 21)), number(line, 23, 29));
  record.perihelion_distance_text = padded_columns(line, 31, 39);
  record.eccentricity_text = padded_columns(line, 41, 49);

  record.arg_perihelion = angle(line, 52, 59);
  record.ascending_node = angle(line, 62, 69);
  record.inclination = angle(line, 72, 79);
  record.epoch = comet_epoch(line, record.perihelion_time);
  record.magnitude_code =
      (number(line, 97, 100) * COMET_SLOPE_FACTOR) * MAGNITUDE_FACTOR +
      number(line, 92, 95);

  record.short_name = name_text(line, 103, 112);
  record.long_name = name_text(line, 103, 127);
  return record;
}

}  // namespace orbelm
