// The whole conversion of one input line: classify it, scan and check its
// designation, pass it through the run's selection, convert the record and
// format its element line. The driver, the tests and the fuzzer all take
// this one path.
#ifndef ORBELM_CONVERT_LINE_HPP
#define ORBELM_CONVERT_LINE_HPP

#include <cstddef>
#include <string_view>

#include "record.hpp"
#include "selection.hpp"

namespace orbelm {

// The outcome of one line of input.
enum class LineOutcome {
  Skipped,    // not a record, or a record the selection leaves out
  Converted,  // `file_name` and `element_line` are filled
  Rejected,   // a record whose designation cannot name a file
};

// Everything the driver needs to finish one record.
struct ConvertedLine {
  RecordKind kind;
  std::string_view designation;         // into the line, or `fragment`
  char fragment[MAX_DESIGNATION];       // a fragment's designation
  char file_name[MAX_DESIGNATION + 5];  // designation + ".elm", terminated
  std::size_t file_name_size;
  char element_line[MAX_ELEMENT_LINE];
  std::size_t element_line_size;
  Sighting sighting;  // its brightest moment, when selected by the sky
};

// The whole conversion of one line (text without its line end): classify,
// scan the designation, check it, convert, build the name field and format
// the element line. Does not allocate.
// Example: the line of K05A00A gives Converted, the file name
// "K05A00A.elm" and its element line; "K/../x ..." gives Rejected;
// a header line gives Skipped.
LineOutcome convert_line(std::string_view line, ConvertedLine& out);

// convert_line for a run that converts only the records `selection`
// selects: one it does not select is Skipped, right after its designation
// is scanned (`out.kind` and `out.designation` are filled), so it is
// neither checked nor converted. A record that `selection.sky` selects
// gets its brightest moment in `out.sighting`. With
// `selection.all_comet_types` the lines of interstellar objects and of
// asteroids on cometary orbits are comet records.
LineOutcome convert_line(std::string_view line, ConvertedLine& out,
                         Selection& selection);

}  // namespace orbelm

#endif
