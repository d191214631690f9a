// Which records a run converts: a brightness limit, the record kinds, a
// list of designations and what can be seen in a window of dates, all
// optional; a record must pass every one given.
// Interstellar objects and asteroids on cometary orbits count as comet
// records only on request.
//
// The run decides per record after it has classified the line and scanned
// the designation, before it checks the designation and converts, so a
// record left out costs no conversion and no word. Deciding does not
// allocate. The tests run cheapest first: the list (whose lookups also
// mark what was found), the kind, the absolute magnitude, and last the
// sky, which propagates an orbit.
#ifndef ORBELM_SELECTION_HPP
#define ORBELM_SELECTION_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record.hpp"
#include "visibility.hpp"

namespace orbelm {

// The absolute magnitude H of a record: columns 9-13 of a minor planet,
// 92-95 of a comet, read as the conversion reads them for the magnitude
// code (the number at the start of the field), or none when the field
// holds no number: blank, past the end of the line, or not starting with
// one. Examples: a minor planet with " 3.34" in columns 9-13 has 3.34;
// with "     " or "abc" none; a comet with "10.5" in 92-95 has 10.5.
std::optional<double> record_magnitude(RecordKind kind, std::string_view line);

// The designations of a list, sorted for lookup, each with its place in
// the list (for reporting in the list's order) and whether a record with
// it was seen. Most records of a run are not listed; a bit per hash value
// (`hash_bits`, 32 bits or more per entry) turns nearly all of them away
// before the sorted entries are searched.
struct DesignationList {
  struct Entry {
    std::string designation;
    std::size_t order;
    bool found;
  };
  std::vector<Entry> entries;            // sorted by designation, each once
  std::vector<std::uint64_t> hash_bits;  // a power of two of words, or none
};

// The list in `text`: one designation per line; the line end may be LF or
// CR LF; white space around a designation is dropped; lines that are then
// empty or start with "#" are not designations. A designation listed twice
// is kept once, at its first place.
// Example: "# watch\n 00433 \r\n\nK05A00A\n00433\n" lists 00433 and K05A00A.
DesignationList parse_designation_list(std::string_view text);

// Whether `designation` is listed; marks it found when it is.
bool find_designation(DesignationList& list, std::string_view designation);

// The listed designations that no record had, in the list's order.
std::vector<std::string_view> designations_not_found(
    const DesignationList& list);

struct Selection {
  std::optional<double> max_magnitude;
  bool minor_planets = true;
  bool comets = true;
  std::optional<DesignationList> designations;
  // Interstellar objects and asteroids on cometary orbits are comet
  // records too (classify_line's all_comet_types); the others still pass
  // the tests above.
  bool all_comet_types = false;
  // Only records that brightest_sighting finds Visible in this window.
  std::optional<SkyWindow> sky;
};

// Whether the record of `kind` on `line`, with `designation`, passes every
// test of `selection`. A listed designation is marked found whenever a
// record has it, also when another test leaves that record out: it was in
// the input. With `selection.sky`, a record selected gets its brightest
// moment in `sighting` (left as it was otherwise).
bool is_selected(Selection& selection, RecordKind kind, std::string_view line,
                 std::string_view designation, Sighting& sighting);

}  // namespace orbelm

#endif
