// The observing list's lines: rounding and order by the printed magnitude,
// which entry of a designation stays, the comet's name columns; values
// worked by hand. The header, the quoting and the minor planets' names are
// checked end to end (EndToEnd.ApparentMagnitudeSelectsAndReports...).
#include "report.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_records.hpp"

namespace orbelm {
namespace {

ReportEntry entry(const char* designation, RecordKind kind, double magnitude) {
  // JD 2461390.25 is 2026-12-15 18:00 UTC (2461385.5 is 2026-12-11 0h).
  return {designation, "x", kind, {magnitude, 2461390.25, 120.04, 1.2, 0.3}};
}

// The lines after the header, each without its common tail.
std::string lines(std::vector<ReportEntry> entries) {
  std::string text = report_text(entries).substr(REPORT_HEADER.size());
  const std::string tail = ",2026-12-15T18:00:00Z,120.0,1.200000,0.300000";
  for (std::size_t at; (at = text.find(tail)) != std::string::npos;)
    text.erase(at, tail.size());
  return text;
}

TEST(ReportText, SortedByPrintedMagnitudeThenDesignation) {
  EXPECT_EQ(lines({entry("K26B00B", RecordKind::MinorPlanet, 9.999),
                   entry("0099P", RecordKind::Comet, -0.049),
                   entry("K26A00A", RecordKind::MinorPlanet, 10.004),
                   entry("00433", RecordKind::MinorPlanet, 11.2349)}),
            "0099P,x,comet,-0.05\n"
            "K26A00A,x,minor planet,10.00\n"  // ties with 9.999 as printed
            "K26B00B,x,minor planet,10.00\n"
            "00433,x,minor planet,11.23\n");
}

// As the element file holds the line of a designation's last record.
TEST(ReportText, LastEntryOfADesignationStays) {
  EXPECT_EQ(lines({entry("00433", RecordKind::MinorPlanet, 9.0),
                   entry("00001", RecordKind::MinorPlanet, 7.0),
                   entry("00433", RecordKind::MinorPlanet, 12.0),
                   entry("00433", RecordKind::MinorPlanet, 11.0)}),
            "00001,x,minor planet,7.00\n00433,x,minor planet,11.00\n");
}

TEST(ObjectName, CometNameColumnsWithoutBlanks) {
  std::string comet = testing::comet_example();
  EXPECT_EQ(object_name(RecordKind::Comet, comet), "99P/Testcomet");
  testing::put(comet, 103, "  C/1995 O1 (Hale-Bopp)" + std::string(40, ' '));
  testing::put(comet, 159, "MPC106342");  // the reference, not the name
  EXPECT_EQ(object_name(RecordKind::Comet, comet), "C/1995 O1 (Hale-Bopp)");
  EXPECT_EQ(object_name(RecordKind::MinorPlanet, "K05A00A  3.34"), "");
}

}  // namespace
}  // namespace orbelm
