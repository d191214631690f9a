// A test tool, not a test: prints what brightest_sighting says of each
// record read from standard input, for tests/model/sky_reference.py.
//
//   visibility_probe START_UTC_JD DAYS MAX_MAGNITUDE MIN_ELONGATION < records
//
// One line per record: its line number, then "not-computable",
// "too-faint", or "visible MAGNITUDE UTC_JD ELONGATION R DELTA".
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "visibility.hpp"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: visibility_probe START_UTC_JD DAYS "
                         "MAX_MAGNITUDE MIN_ELONGATION < records\n");
    return 2;
  }
  const orbelm::SkyWindow window = orbelm::make_sky_window(
      std::atof(argv[1]), std::atof(argv[2]), std::atof(argv[3]),
      std::atof(argv[4]));
  std::string line;
  for (long number = 1; std::getline(std::cin, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const orbelm::LineClass c = orbelm::classify_line(line, true);
    if (!c.is_record) continue;
    orbelm::Sighting s{};
    switch (orbelm::brightest_sighting(window, c.kind, line, s)) {
      case orbelm::Visibility::NotComputable:
        std::printf("%ld not-computable\n", number);
        break;
      case orbelm::Visibility::TooFaint:
        std::printf("%ld too-faint\n", number);
        break;
      case orbelm::Visibility::Visible:
        std::printf("%ld visible %.6f %.8f %.6f %.9f %.9f\n", number,
                    s.magnitude, s.utc_jd, s.elongation, s.sun_distance,
                    s.earth_distance);
        break;
    }
  }
  return 0;
}
