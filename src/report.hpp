// The observing list of a run that selects by apparent magnitude: one CSV
// line for each record it selected, with the brightest moment that the
// window holds for it, brightest first. The driver collects the entries
// while it converts and writes the text at the end of the run; the list
// grows with the records selected, not with the input.
#ifndef ORBELM_REPORT_HPP
#define ORBELM_REPORT_HPP

#include <string>
#include <string_view>
#include <vector>

#include "record.hpp"
#include "visibility.hpp"

namespace orbelm {

struct ReportEntry {
  std::string designation;
  std::string name;
  RecordKind kind;
  Sighting sighting;
};

// The object's readable name on its record line, without the blanks around
// it: columns 167-194 of a minor planet (its number in parentheses and its
// name, or its provisional designation: "(433) Eros", "2024 AB12"), 103-158
// of a comet ("C/1995 O1 (Hale-Bopp)"); "" where the line holds none.
std::string_view object_name(RecordKind kind, std::string_view line);

// The entry of a selected record: its designation, the name on `line`, its
// kind and its brightest moment.
ReportEntry report_entry(RecordKind kind, std::string_view line,
                         std::string_view designation,
                         const Sighting& sighting);

// The header line of the report.
inline constexpr std::string_view REPORT_HEADER =
    "designation,name,kind,magnitude,time_utc,elongation_deg,r_au,"
    "delta_au\n";

// report_text: the whole report for `entries` (in the order they were
// selected), which it reorders.
//
// Returned: REPORT_HEADER, then a line per designation, for the last entry
// of each (as the element file holds the last record's line), sorted by
// the magnitude as printed, then by designation. A line holds the
// designation, the name, "minor planet" or "comet", the magnitude with 2
// decimals, the instant as ISO 8601 UTC to the second
// ("2026-12-14T03:25:41Z"), the elongation in degrees with 1 decimal, and
// r and Δ in AU with 6 decimals (numbers rounded half away from zero), each
// line ending in "\n". A text field holding a comma, a double quote, a CR
// or an LF is quoted, its double quotes doubled (RFC 4180).
// Example: 00433, "(433) Eros", a minor planet at magnitude 11.2349 on JD
// 2461390.25 (UTC), 120.04 degrees from the Sun, r 1.2, Δ 0.3 give the line
// (here in two pieces)
//   00433,(433) Eros,minor planet,11.23,2026-12-15T18:00:00Z,
//   120.0,1.200000,0.300000
std::string report_text(std::vector<ReportEntry>& entries);

}  // namespace orbelm

#endif
