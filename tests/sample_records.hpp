// Record lines shared by the tests: the two worked examples of the element
// line, built column by column, and the element lines they must produce
// (worked out by hand from the column values).
#ifndef ORBELM_TESTS_SAMPLE_RECORDS_HPP
#define ORBELM_TESTS_SAMPLE_RECORDS_HPP

#include <string>
#include <string_view>

namespace orbelm::testing {

// A line of blanks with `text` placed from column `column` (1-based).
inline std::string& put(std::string& line, int column, std::string_view text) {
  const auto at = static_cast<std::size_t>(column - 1);
  if (line.size() < at + text.size()) line.resize(at + text.size(), ' ');
  line.replace(at, text.size(), text);
  return line;
}

// Minor planet K05A00A: H 3.34, G 0.12, epoch K107N (2010 July 23), M 200,
// peri 90, node 180, incl 10, e 0.1, n 0.2, a 2.7, name "(9) Testname".
inline std::string minor_planet_example() {
  std::string line;
  put(line, 1, "K05A00A");
  put(line, 9, " 3.34");
  put(line, 15, " 0.12");
  put(line, 21, "K107N");
  put(line, 27, "200.00000");
  put(line, 38, " 90.00000");
  put(line, 49, "180.00000");
  put(line, 60, " 10.00000");
  put(line, 71, "0.1000000");
  put(line, 81, " 0.20000000");
  put(line, 93, "  2.7000000");
  put(line, 175, "(9) Testname");
  return line;
}

inline constexpr std::string_view MINOR_PLANET_EXAMPLE_ELEMENTS =
    "(9)          K05A00A0 2456200.500000   2.43000000 0.1000000 0.1745329 "
    "1.5707963 3.1415927   1203.3 2000.0 2455400.50000 (9) Testname\n";

// Comet 0099P: perihelion 2005 11 19.25, q 1.234567, e 0.654321, peri 45,
// node 120, incl 30, no epoch, H 10.5, K 4.0, name "99P/Testcomet".
inline std::string comet_example() {
  std::string line;
  put(line, 1, "0099P");
  put(line, 15, "2005");
  put(line, 20, "11");
  put(line, 23, "19.2500");
  put(line, 31, " 1.234567");
  put(line, 41, " 0.654321");
  put(line, 52, " 45.0000");
  put(line, 62, "120.0000");
  put(line, 72, " 30.0000");
  put(line, 92, "10.5");
  put(line, 97, " 4.0");
  put(line, 103, "99P/Testcomet");
  return line;
}

inline constexpr std::string_view COMET_EXAMPLE_ELEMENTS =
    "99P/Testco     0099P1 2453693.75000  1.234567  0.654321 0.5235988 "
    "0.7853982 2.0943951 100010.5 2000.0 2453693.75000 99P/Testcomet\n";

// The comet example with the epoch 2010 07 23 (2455400.5) in columns 82-89.
inline constexpr std::string_view COMET_EXAMPLE_WITH_EPOCH_ELEMENTS =
    "99P/Testco     0099P1 2453693.75000  1.234567  0.654321 0.5235988 "
    "0.7853982 2.0943951 100010.5 2000.0 2455400.50000 99P/Testcomet\n";

}  // namespace orbelm::testing

#endif
