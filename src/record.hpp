// The record and its element line: what an input line is (a minor planet,
// a comet or a line to skip), its designation and whether that can name a
// file, the values of an element line and the two layouts that print them.
//
// Everything here is a pure function over one line or one record: it does
// not throw, allocate or touch a file.
#ifndef ORBELM_RECORD_HPP
#define ORBELM_RECORD_HPP

#include <cstddef>
#include <string_view>

#include "columns.hpp"

namespace orbelm {

// The two kinds of record. The kind picks the converter, the flag that ends
// the name field ("0" or "1") and the layout of the element line.
enum class RecordKind { MinorPlanet, Comet };

// What classify_line decides about a line: skip it, or a record of `kind`
// whose designation is scanned from column `designation_column` (1 or 5).
struct LineClass {
  bool is_record;
  RecordKind kind;
  int designation_column;
};

// Longest designation that names an element file.
inline constexpr std::size_t MAX_DESIGNATION = 11;
// Width of the name field: 20 name positions and the kind flag.
inline constexpr std::size_t NAME_FIELD_WIDTH = 21;
// Widest short name that the converters cut.
inline constexpr std::size_t MAX_SHORT_NAME = 10;
// Widest long name.
inline constexpr std::size_t MAX_LONG_NAME = 25;
// The equinox of every element line.
inline constexpr std::string_view EQUINOX_TEXT = "2000.0";

// The values of one element line, in output order. Text fields are copies
// of their input columns, so a record does not depend on the line buffer
// after it is filled.
struct ElementRecord {
  char name_field[NAME_FIELD_WIDTH];   // filled by build_name_field
  double perihelion_time;              // Julian Day
  double perihelion_distance;          // AU; minor planets
  FieldText perihelion_distance_text;  // input text; comets
  FieldText eccentricity_text;         // input text
  double inclination;                  // radians
  double arg_perihelion;               // radians
  double ascending_node;               // radians
  double magnitude_code;               // slope · 10000 + absolute magnitude
  double epoch;                        // Julian Day
  FieldText short_name;                // at most MAX_SHORT_NAME characters
  FieldText long_name;                 // at most MAX_LONG_NAME characters
};

// The characters of a whole record as published, without its line end:
// every minor-planet line has 202, a comet line at least 160 (162, 168 or
// 172 in the published files).
inline constexpr std::size_t whole_record_size(RecordKind kind) {
  return kind == RecordKind::MinorPlanet ? 202 : 160;
}

// classify_line: what a line is, from its columns 1 and 5 (c1, c5; a
// column past the end reads as a blank). `line` is the text without its
// line end. Tested in this order:
//   1. an empty line: skipped;
//   2. c1 "J" or "K": minor planet, designation from column 1;
//   3. c1 "~" or "_" (numbers from 620000 on, extended provisional
//      designations): minor planet, designation from column 1;
//   4. c5 a digit: minor planet, designation from column 1;
//   5. c1 a digit: comet from column 1 if c5 is "P" or "D", else skipped;
//   6. c1 a blank and c5 "P", "D" or "C": comet, designation from column 5;
//   7. anything else: skipped.
// Examples: "K05A00A ..." and "00433 ..." are minor planets; "0001P ..." is
// a comet from column 1, "    CJ95O010 ..." one from column 5; "0001C" and
// "0001I" are skipped.
// With `all_comet_types`, two lines that rules 5 and 7 skip are comets
// too: c1 a digit and c5 "I" (a numbered interstellar object, "0003I"),
// designation from column 1; c1 a blank and c5 "A" (an asteroid on a
// cometary orbit, "    AK17U010"), designation from column 5. A blank c1
// with "I" in c5 stays skipped: interstellar objects carry a "C" or "A"
// designation until they are numbered.
LineClass classify_line(std::string_view line, bool all_comet_types = false);

// The first white-space-delimited token of `line` from column `column` on:
// leading blanks, tabs, carriage returns, vertical tabs and form feeds are
// skipped and the token ends at the next such character or at the end of
// the line. Example: designation_token("    CJ95O010  1997", 5) is
// "CJ95O010".
std::string_view designation_token(std::string_view line, int column);

// The letters of a fragment of a numbered periodic comet, which extend its
// designation: "b" for "0073P      b", "ab" for "0073P     ab". The line
// must hold four digits and "P" or "D" in columns 1-5 (a comet token from
// column 1), blanks from column 6, then one or two lower-case letters
// ending in column 12, and white space or the line's end in column 13.
// Anything else gives "": the comet's own line ("0073P         2022"),
// digits, upper case, three letters or a letter in column 11 only.
std::string_view fragment_letters(std::string_view line);

// The designation of a record: the token from
// `line_class.designation_column`, followed directly by the fragment
// letters of a comet from column 1 ("0073P" and "b" give "0073Pb"). A view
// of the line, or of `out`, which then holds the token and the letters.
std::string_view record_designation(std::string_view line, LineClass line_class,
                                    char (&out)[MAX_DESIGNATION]);

// Whether a designation may name an element file: at most MAX_DESIGNATION
// characters and no "/" or "\", so that the file lands in the current
// folder whatever the input holds; and a name that this platform takes as
// a plain file (on Windows: no control character, none of < > : " | ? *,
// and not a device name such as NUL or COM1).
bool is_safe_designation(std::string_view designation);

// Why a designation cannot name an element file, for a diagnostic, or ""
// when it can (is_safe_designation): "is longer than 11 characters", a
// path, or what this platform's file names cannot be.
std::string_view designation_problem(std::string_view designation);

// build_name_field: the 21-character name field. Starts as 20 blanks and
// the kind flag ("0" minor planet, "1" comet); the short name is written
// from position 1, then the designation right-aligned to end at position 20
// (where the two overlap, the designation wins). Requires a short name of
// at most 10 and a designation of at most 11 characters.
// Example: "Xy", "K05A00A", minor planet give "Xy", 11 blanks, "K05A00A",
// "0".
void build_name_field(std::string_view short_name, std::string_view designation,
                      RecordKind kind, char (&name_field)[NAME_FIELD_WIDTH]);

// Room for any element line: the text fields, seven numbers of at most
// FIXED_MAX_CHARS characters and the separators.
inline constexpr std::size_t MAX_ELEMENT_LINE = 2816;

// The element line of `record` in the layout of `kind`, ending in "\n",
// written to `out`; returns its length. The layouts, as printf formats:
//   minor planet "%s %14.6f %12.8f %s %9.7f %9.7f %9.7f %8.1f %s %13.5f %s\n"
//   comet        "%s %13.5f %s %s %9.7f %9.7f %9.7f %8.1f %s %13.5f %s\n"
// with the fields name_field, perihelion_time, perihelion distance (number
// or text), eccentricity_text, inclination, arg_perihelion, ascending_node,
// magnitude_code, "2000.0", epoch and long_name; each number is rendered by
// format_fixed.
std::size_t format_element_line(RecordKind kind, const ElementRecord& record,
                                char (&out)[MAX_ELEMENT_LINE]);

}  // namespace orbelm

#endif
