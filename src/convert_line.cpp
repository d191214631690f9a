#include "convert_line.hpp"

#include <algorithm>

#include "convert.hpp"

namespace orbelm {
namespace {

ElementRecord convert_record(RecordKind kind, std::string_view line,
                             std::string_view designation) {
  switch (kind) {
    case RecordKind::MinorPlanet:
      return convert_minor_planet(line, designation);
    case RecordKind::Comet:
      return convert_comet(line, designation);
  }
  return {};
}

// convert_line, with a selection or (null) without.
LineOutcome convert_selected_line(std::string_view line, ConvertedLine& out,
                                  Selection* selection) {
  const LineClass line_class =
      classify_line(line, selection != nullptr && selection->all_comet_types);
  if (!line_class.is_record) return LineOutcome::Skipped;
  out.kind = line_class.kind;
  out.designation = record_designation(line, line_class, out.fragment);
  if (selection != nullptr &&
      !is_selected(*selection, out.kind, line, out.designation, out.sighting))
    return LineOutcome::Skipped;
  if (!is_safe_designation(out.designation)) return LineOutcome::Rejected;

  constexpr std::string_view EXTENSION = ".elm";
  std::copy(out.designation.begin(), out.designation.end(), out.file_name);
  std::copy(EXTENSION.begin(), EXTENSION.end(),
            out.file_name + out.designation.size());
  out.file_name_size = out.designation.size() + EXTENSION.size();
  out.file_name[out.file_name_size] = '\0';

  ElementRecord record = convert_record(out.kind, line, out.designation);
  build_name_field(record.short_name.view(), out.designation, out.kind,
                   record.name_field);
  out.element_line_size =
      format_element_line(out.kind, record, out.element_line);
  return LineOutcome::Converted;
}

}  // namespace

LineOutcome convert_line(std::string_view line, ConvertedLine& out) {
  return convert_selected_line(line, out, nullptr);
}

LineOutcome convert_line(std::string_view line, ConvertedLine& out,
                         Selection& selection) {
  return convert_selected_line(line, out, &selection);
}

}  // namespace orbelm
