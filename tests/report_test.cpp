// The observing list's text: its lines, their order, which entry of a
// designation stays, and the quoting of names; values worked by hand.
#include "report.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_records.hpp"

namespace orbelm {
namespace {

ReportEntry entry(const char* designation, const char* name, RecordKind kind,
                  double magnitude) {
  // JD 2461390.25 is 2026-12-15 18:00 UTC (2461385.5 is 2026-12-11 0h).
  return {designation, name, kind, {magnitude, 2461390.25, 120.04, 1.2, 0.3}};
}

TEST(ReportText, LinesByPrintedMagnitudeThenDesignation) {
  std::vector<ReportEntry> entries = {
      entry("K26B00B", "b", RecordKind::MinorPlanet, 9.999),
      entry("0099P", "99P/Test, \"x\"", RecordKind::Comet, -0.049),
      entry("K26A00A", "a", RecordKind::MinorPlanet, 10.004),  // ties 9.999
      entry("00433", "(433) Eros", RecordKind::MinorPlanet, 11.2349),
  };
  EXPECT_EQ(report_text(entries),
            "designation,name,kind,magnitude,time_utc,elongation_deg,r_au,"
            "delta_au\n"
            "0099P,\"99P/Test, \"\"x\"\"\",comet,-0.05,2026-12-15T18:00:00Z,"
            "120.0,1.200000,0.300000\n"
            "K26A00A,a,minor planet,10.00,2026-12-15T18:00:00Z,120.0,1.200000,"
            "0.300000\n"
            "K26B00B,b,minor planet,10.00,2026-12-15T18:00:00Z,120.0,1.200000,"
            "0.300000\n"
            "00433,(433) Eros,minor planet,11.23,2026-12-15T18:00:00Z,120.0,"
            "1.200000,0.300000\n");
}

// As the element file holds the line of a designation's last record.
TEST(ReportText, LastEntryOfADesignationStays) {
  std::vector<ReportEntry> entries = {
      entry("00433", "first", RecordKind::MinorPlanet, 9.0),
      entry("00001", "(1) Ceres", RecordKind::MinorPlanet, 7.0),
      entry("00433", "second", RecordKind::MinorPlanet, 12.0),
      entry("00433", "third", RecordKind::MinorPlanet, 11.0),
  };
  const std::string text = report_text(entries);
  EXPECT_EQ(text.substr(REPORT_HEADER.size()),
            "00001,(1) Ceres,minor planet,7.00,2026-12-15T18:00:00Z,120.0,"
            "1.200000,0.300000\n"
            "00433,third,minor planet,11.00,2026-12-15T18:00:00Z,120.0,"
            "1.200000,0.300000\n");
}

TEST(ObjectName, ReadableNameWithoutBlanks) {
  std::string minor_planet = testing::minor_planet_example();
  EXPECT_EQ(object_name(RecordKind::MinorPlanet, minor_planet), "(9) Testname");
  testing::put(minor_planet, 167, "    (433) Eros               2019");
  EXPECT_EQ(object_name(RecordKind::MinorPlanet, minor_planet), "(433) Eros");
  EXPECT_EQ(object_name(RecordKind::Comet, testing::comet_example()),
            "99P/Testcomet");
  EXPECT_EQ(object_name(RecordKind::MinorPlanet, "K05A00A  3.34"), "");
}

}  // namespace
}  // namespace orbelm
