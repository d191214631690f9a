#include "record.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fixed.hpp"
#include "platform.hpp"

namespace orbelm {
namespace {

char kind_flag(RecordKind kind) {
  return kind == RecordKind::MinorPlanet ? '0' : '1';
}

// The NaN that an element line shows for every NaN: the one that an invalid
// operation (0 / 0) gives on x86-64, sign bit set, printed "-nan". ARM's
// has the sign bit clear; the files must not depend on the machine.
constexpr double ELEMENT_NAN = std::bit_cast<double>(0xFFF8000000000000ULL);

// Appends the fields of an element line to a fixed buffer that holds the
// longest line (see MAX_ELEMENT_LINE).
struct LineBuilder {
  char* out;
  std::size_t size = 0;

  void text(std::string_view value) {
    std::memcpy(out + size, value.data(), value.size());
    size += value.size();
  }
  void blank() { out[size++] = ' '; }
  void number(double value, int width, int precision) {
    if (std::isnan(value)) value = ELEMENT_NAN;
    size += format_fixed(value, width, precision, out + size);
  }
};

}  // namespace

LineClass classify_line(std::string_view line, bool all_comet_types) {
  constexpr LineClass SKIP{false, RecordKind::MinorPlanet, 0};
  if (line.empty()) return SKIP;
  const char c1 = column_char(line, 1);
  const char c5 = column_char(line, 5);
  if (c1 == 'J' || c1 == 'K') return {true, RecordKind::MinorPlanet, 1};
  if (c1 == '~' || c1 == '_') return {true, RecordKind::MinorPlanet, 1};
  if (is_decimal_digit(c5)) return {true, RecordKind::MinorPlanet, 1};
  if (is_decimal_digit(c1)) {
    if (c5 == 'P' || c5 == 'D' || (all_comet_types && c5 == 'I'))
      return {true, RecordKind::Comet, 1};
    return SKIP;
  }
  if (c1 == ' ' &&
      (c5 == 'P' || c5 == 'D' || c5 == 'C' || (all_comet_types && c5 == 'A')))
    return {true, RecordKind::Comet, 5};
  return SKIP;
}

std::string_view designation_token(std::string_view line, int column) {
  std::size_t begin = static_cast<std::size_t>(column - 1);
  if (begin >= line.size()) return {};
  while (begin < line.size() && is_white_space(line[begin])) ++begin;
  std::size_t end = begin;
  while (end < line.size() && !is_white_space(line[end])) ++end;
  return line.substr(begin, end - begin);
}

std::string_view fragment_letters(std::string_view line) {
  constexpr int LAST = 12;  // the column the letters end in
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  for (int column = 1; column <= 4; ++column)
    if (!is_decimal_digit(column_char(line, column))) return {};
  const char type = column_char(line, 5);
  if ((type != 'P' && type != 'D') || !lower(column_char(line, LAST)) ||
      !is_white_space(column_char(line, LAST + 1)))
    return {};
  const int first = lower(column_char(line, LAST - 1)) ? LAST - 1 : LAST;
  for (int column = 6; column < first; ++column)
    if (column_char(line, column) != ' ') return {};
  return columns(line, first, LAST);
}

std::string_view record_designation(std::string_view line, LineClass line_class,
                                    char (&out)[MAX_DESIGNATION]) {
  const std::string_view token =
      designation_token(line, line_class.designation_column);
  if (line_class.kind != RecordKind::Comet ||
      line_class.designation_column != 1)
    return token;
  const std::string_view letters = fragment_letters(line);
  if (letters.empty()) return token;
  // The token is the five characters of columns 1-5 here.
  std::copy(token.begin(), token.end(), out);
  std::copy(letters.begin(), letters.end(), out + token.size());
  return {out, token.size() + letters.size()};
}

// A path is refused on every platform; the platform adds what its file
// names cannot be.
std::string_view designation_problem(std::string_view designation) {
  if (designation.size() > MAX_DESIGNATION)
    return "is longer than 11 characters";
  if (std::any_of(designation.begin(), designation.end(),
                  [](char c) { return c == '/' || c == '\\' || c == '\0'; }))
    return "holds \"/\" or \"\\\", which would name a path";
  return platform::file_name_problem(designation);
}

bool is_safe_designation(std::string_view designation) {
  return designation_problem(designation).empty();
}

void build_name_field(std::string_view short_name, std::string_view designation,
                      RecordKind kind, char (&name_field)[NAME_FIELD_WIDTH]) {
  constexpr std::size_t NAME_POSITIONS = NAME_FIELD_WIDTH - 1;
  std::fill_n(name_field, NAME_POSITIONS, ' ');
  name_field[NAME_POSITIONS] = kind_flag(kind);
  short_name = short_name.substr(0, NAME_POSITIONS);
  std::copy(short_name.begin(), short_name.end(), name_field);
  designation = designation.substr(0, NAME_POSITIONS);
  std::copy(designation.begin(), designation.end(),
            name_field + (NAME_POSITIONS - designation.size()));
}

std::size_t format_element_line(RecordKind kind, const ElementRecord& record,
                                char (&out)[MAX_ELEMENT_LINE]) {
  const bool minor_planet = kind == RecordKind::MinorPlanet;
  LineBuilder line{out};
  line.text({record.name_field, NAME_FIELD_WIDTH});
  line.blank();
  line.number(record.perihelion_time, minor_planet ? 14 : 13,
              minor_planet ? 6 : 5);
  line.blank();
  if (minor_planet)
    line.number(record.perihelion_distance, 12, 8);
  else
    line.text(record.perihelion_distance_text.view());
  line.blank();
  line.text(record.eccentricity_text.view());
  for (const double angle :
       {record.inclination, record.arg_perihelion, record.ascending_node}) {
    line.blank();
    line.number(angle, 9, 7);
  }
  line.blank();
  line.number(record.magnitude_code, 8, 1);
  line.blank();
  line.text(EQUINOX_TEXT);
  line.blank();
  line.number(record.epoch, 13, 5);
  line.blank();
  line.text(record.long_name.view());
  line.text("\n");
  return line.size;
}

}  // namespace orbelm
