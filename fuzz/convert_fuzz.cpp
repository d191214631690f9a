// libFuzzer target: arbitrary bytes through the whole conversion path of a
// run (the line loop, classification, designation, both converters, the
// element line), with memory in place of the input file and the element
// files. Checks on every piece and every record the properties that the
// program's output must have whatever the input holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "columns.hpp"
#include "convert_line.hpp"
#include "lines.hpp"

namespace {

using orbelm::ConvertedLine;
using orbelm::LineOutcome;
using orbelm::LinePiece;
using orbelm::RecordKind;

void fail(const char* what) {
  std::fprintf(stderr, "convert_fuzz: %s\n", what);
  std::abort();
}

void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

struct Piece {
  std::string text;
  bool ends_line;
  bool operator==(const Piece&) const = default;
};

// The line pieces of `input`, modelled directly on the reading rules: NUL
// reads as a blank, CR right before LF is dropped, a line of 249 or more
// characters before its newline is cut into pieces of 249.
std::vector<Piece> model_pieces(std::string_view input) {
  std::string text;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')
      continue;
    text.push_back(input[i] == '\0' ? ' ' : input[i]);
  }
  std::vector<Piece> pieces;
  constexpr std::size_t limit = orbelm::MAX_LINE_PIECE;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t newline = text.find('\n', at);
    if (newline != std::string::npos && newline - at < limit) {
      pieces.push_back({text.substr(at, newline - at), true});
      at = newline + 1;
    } else if (text.size() - at >= limit) {
      pieces.push_back({text.substr(at, limit), false});
      at += limit;
    } else {
      pieces.push_back({text.substr(at), true});
      at = text.size();
    }
  }
  return pieces;
}

// strchr would also find a NUL byte (the terminator); find does not.
bool is_one_of(char c, std::string_view set) {
  return set.find(c) != std::string_view::npos;
}

bool is_blank(char c) { return is_one_of(c, " \t\n\r\v\f"); }

// What a line is, modelled on the classification table: the kind and the
// designation, or an empty designation for a line that is skipped.
struct ModelRecord {
  RecordKind kind = RecordKind::MinorPlanet;
  std::string designation;
};

std::string model_token(std::string_view line, std::size_t from) {
  std::string token;
  for (std::size_t i = from; i < line.size(); ++i) {
    if (!is_blank(line[i]))
      token.push_back(line[i]);
    else if (!token.empty())
      break;
  }
  return token;
}

// The letters that extend a numbered periodic comet's designation: four
// digits and "P" or "D", blanks, then one or two lower-case letters that
// end in column 12 and are followed by white space or the line's end.
std::string fragment(std::string_view line) {
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  if (line.size() < 12 || (line.size() > 12 && !is_blank(line[12]))) return {};
  for (std::size_t i = 0; i < 4; ++i)
    if (line[i] < '0' || line[i] > '9') return {};
  if (!is_one_of(line[4], "PD")) return {};
  if (!lower(line[11])) return {};
  const std::size_t first = lower(line[10]) ? 10 : 11;
  for (std::size_t i = 5; i < first; ++i)
    if (line[i] != ' ') return {};
  return std::string(line.substr(first, 12 - first));
}

ModelRecord model_record(std::string_view line) {
  const char c1 = line.empty() ? ' ' : line[0];
  const char c5 = line.size() < 5 ? ' ' : line[4];
  const bool d1 = c1 >= '0' && c1 <= '9';
  const bool d5 = c5 >= '0' && c5 <= '9';
  if (line.empty()) return {};
  if (is_one_of(c1, "JK~_") || d5)
    return {RecordKind::MinorPlanet, model_token(line, 0)};
  if (d1) {
    if (c5 == 'P' || c5 == 'D')
      return {RecordKind::Comet, model_token(line, 0) + fragment(line)};
    return {};
  }
  if (c1 == ' ' && (c5 == 'P' || c5 == 'D' || c5 == 'C'))
    return {RecordKind::Comet, model_token(line, 4)};
  return {};
}

// The long name that ends every element line: the name columns of the
// line, as far as the line reaches.
std::string_view long_name(std::string_view line, RecordKind kind) {
  const std::size_t first = kind == RecordKind::MinorPlanet ? 174 : 102;
  if (line.size() <= first) return {};
  return line.substr(first, orbelm::MAX_LONG_NAME);
}

void check_record(std::string_view line, const ConvertedLine& out) {
  const std::string_view designation = out.designation;
  const std::string_view element{out.element_line, out.element_line_size};
  check(!designation.empty() && designation.size() <= orbelm::MAX_DESIGNATION,
        "designation empty or longer than 11 characters");
  check(designation.find_first_of("/\\") == std::string_view::npos,
        "designation holds a path separator");
  check(designation.find('\0') == std::string_view::npos,
        "designation holds a NUL byte");
  check(out.file_name_size == designation.size() + 4 &&
            std::string_view(out.file_name, out.file_name_size) ==
                std::string(designation) + ".elm" &&
            out.file_name[out.file_name_size] == '\0',
        "file name is not the designation plus .elm");

  check(element.size() > orbelm::NAME_FIELD_WIDTH + 1 &&
            element.size() <= orbelm::MAX_ELEMENT_LINE,
        "element line length out of range");
  check(element.find('\n') == element.size() - 1,
        "element line is not one line ending in one newline");
  check(element.find('\0') == std::string_view::npos,
        "element line holds a NUL byte");
  const char flag = out.kind == RecordKind::MinorPlanet ? '0' : '1';
  check(element[20] == flag && element[21] == ' ',
        "name field does not end in the kind flag and a blank");
  check(element.substr(20 - designation.size(), designation.size()) ==
            designation,
        "name field does not end in the designation");
  const std::string_view name = long_name(line, out.kind);
  check(element.substr(0, element.size() - 1).ends_with(name),
        "element line does not end in the long name");
}

// Runs the shared line loop over `input`, handing out at most `chunk`
// bytes per read, and returns the pieces; with `convert`, every piece also
// goes through convert_line and its result is checked.
std::vector<Piece> run_loop(std::string_view input, std::size_t chunk,
                            bool convert) {
  // Default-initialised like the program's reader: no zeroed buffer to hide
  // a read of bytes that were never filled.
  const std::unique_ptr<orbelm::LineReader> reader(new orbelm::LineReader);
  auto converted = std::make_unique<ConvertedLine>();
  std::vector<Piece> pieces;
  std::size_t at = 0;
  const auto read = [&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, chunk, input.size() - at});
    std::memcpy(buffer, input.data() + at, count);
    at += count;
    return static_cast<long>(count);
  };
  const auto take = [&](const LinePiece& piece) {
    pieces.push_back({std::string(piece.text), piece.ends_line});
    if (!convert) return true;
    const ModelRecord model = model_record(piece.text);
    const LineOutcome outcome = orbelm::convert_line(piece.text, *converted);
    check((outcome == LineOutcome::Skipped) == model.designation.empty(),
          "classification differs from the model");
    if (outcome == LineOutcome::Skipped) return true;
    check(converted->kind == model.kind, "record kind differs from the model");
    check(converted->designation == model.designation,
          "designation differs from the model");
    if (outcome == LineOutcome::Rejected) {
      check(!orbelm::is_safe_designation(converted->designation),
            "a safe designation was rejected");
      return true;
    }
    check_record(piece.text, *converted);
    return true;
  };
  check(orbelm::feed_pieces(*reader, read, take) == orbelm::FeedEnd::Finished,
        "line loop did not finish");
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<Piece> expected = model_pieces(input);
  // As the program reads a file: whole blocks.
  check(run_loop(input, orbelm::LineReader::CAPACITY, true) == expected,
        "pieces differ from the model (whole blocks)");
  // Block boundaries anywhere: inside a line, between CR and LF.
  const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 7;
  check(run_loop(input, chunk, false) == expected,
        "pieces differ from the model (small blocks)");
  return 0;
}
