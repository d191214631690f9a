#include "report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "calendar.hpp"
#include "columns.hpp"
#include "fixed.hpp"

namespace orbelm {
namespace {

// The magnitude in hundredths, rounded half away from zero: what the
// report prints and sorts by.
std::int64_t hundredths(double magnitude) {
  return static_cast<std::int64_t>(std::llround(magnitude * 100.0));
}

void append_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void append_fixed(std::string& out, double value, int precision) {
  char text[FIXED_MAX_CHARS];
  out.append(text, format_fixed(value, 0, precision, text));
}

// `value` as at least `digits` decimal digits.
void append_digits(std::string& out, std::int64_t value, int digits) {
  const std::string number = std::to_string(value);
  if (static_cast<int>(number.size()) < digits)
    out.append(static_cast<std::size_t>(digits) - number.size(), '0');
  out.append(number);
}

void append_magnitude(std::string& out, double magnitude) {
  const std::int64_t value = hundredths(magnitude);
  if (value < 0) out.push_back('-');
  const std::int64_t size = value < 0 ? -value : value;
  out.append(std::to_string(size / 100)).push_back('.');
  append_digits(out, size % 100, 2);
}

// "2026-12-14T03:25:41Z".
void append_instant(std::string& out, double utc_jd) {
  const CalendarInstant t = calendar_instant(utc_jd);
  const struct {
    int value;
    int digits;
    char after;
  } parts[] = {{t.year, 4, '-'}, {t.month, 2, '-'},  {t.day, 2, 'T'},
               {t.hour, 2, ':'}, {t.minute, 2, ':'}, {t.second, 2, 'Z'}};
  for (const auto& part : parts) {
    append_digits(out, part.value, part.digits);
    out.push_back(part.after);
  }
}

void append_line(std::string& out, const ReportEntry& entry) {
  append_field(out, entry.designation);
  out.push_back(',');
  append_field(out, entry.name);
  out.append(entry.kind == RecordKind::MinorPlanet ? ",minor planet,"
                                                   : ",comet,");
  append_magnitude(out, entry.sighting.magnitude);
  out.push_back(',');
  append_instant(out, entry.sighting.utc_jd);
  out.push_back(',');
  append_fixed(out, entry.sighting.elongation, 1);
  out.push_back(',');
  append_fixed(out, entry.sighting.sun_distance, 6);
  out.push_back(',');
  append_fixed(out, entry.sighting.earth_distance, 6);
  out.push_back('\n');
}

// Keeps the last entry of each designation, in no particular order.
void keep_last_of_each(std::vector<ReportEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ReportEntry& a, const ReportEntry& b) {
                     return a.designation < b.designation;
                   });
  auto kept = entries.begin();
  for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
    const auto next = entry + 1;
    if (next != entries.end() && next->designation == entry->designation)
      continue;
    if (kept != entry) *kept = std::move(*entry);
    ++kept;
  }
  entries.erase(kept, entries.end());
}

}  // namespace

std::string_view object_name(RecordKind kind, std::string_view line) {
  return trimmed(kind == RecordKind::MinorPlanet ? columns(line, 167, 194)
                                                 : columns(line, 103, 158));
}

ReportEntry report_entry(RecordKind kind, std::string_view line,
                         std::string_view designation,
                         const Sighting& sighting) {
  return {std::string(designation), std::string(object_name(kind, line)), kind,
          sighting};
}

std::string report_text(std::vector<ReportEntry>& entries) {
  keep_last_of_each(entries);
  std::sort(entries.begin(), entries.end(),
            [](const ReportEntry& a, const ReportEntry& b) {
              const std::int64_t x = hundredths(a.sighting.magnitude);
              const std::int64_t y = hundredths(b.sighting.magnitude);
              return x != y ? x < y : a.designation < b.designation;
            });
  std::string text(REPORT_HEADER);
  for (const ReportEntry& entry : entries) append_line(text, entry);
  return text;
}

}  // namespace orbelm
