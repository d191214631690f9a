// Splitting the input byte stream into lines, the way the records are read.
//
// The input arrives in large blocks; the reader hands out one line at a
// time as a view into its buffer, with these rules:
//  - A carriage return right before a newline is dropped, also when the two
//    arrive in different blocks, so CR LF files read like LF files.
//  - A NUL byte reads as a blank wherever it stands.
//  - A line of more than MAX_LINE_PIECE characters, its newline counted,
//    arrives in pieces of MAX_LINE_PIECE characters, each a line of its own;
//    a line of exactly MAX_LINE_PIECE characters before its newline is
//    followed by an empty line.
//  - A last line without a newline is a line; is_cut_record tells whether
//    it is a record (or a line too short to tell) that the end of the
//    input cut short.
// Nothing here reads a file: the caller fills the space that input_space
// offers and calls commit_input, then finish_input at the end of the input.
#ifndef ORBELM_LINES_HPP
#define ORBELM_LINES_HPP

#include <cstddef>
#include <span>
#include <string_view>

#include "record.hpp"

namespace orbelm {

// Characters of one read, its newline included.
inline constexpr std::size_t MAX_LINE_PIECE = 249;

// One line as read: its text without the newline, and whether a newline (or
// the end of the input) ended it rather than the piece limit; and whether
// it is the input's last line and the input ended without its line end. A
// final CR counts as a line end there: it is the first half of a CR LF.
struct LinePiece {
  std::string_view text;
  bool ends_line;
  bool unterminated = false;
};

struct LineReader {
  static constexpr std::size_t CAPACITY = 1 << 16;
  char data[CAPACITY];
  std::size_t begin = 0;  // first byte not yet handed out
  std::size_t end = 0;    // end of the normalised bytes
  bool held_carriage_return =
      false;  // data[end] is a '\r' that may precede '\n'
  bool finished = false;
};

// Free space at the end of the buffer for the next block of input; moves
// the bytes not yet handed out to the front first. Invalidates the views of
// earlier pieces. Never empty while a piece can still be taken.
std::span<char> input_space(LineReader& reader);

// Takes `size` bytes that the caller has put at the start of input_space.
void commit_input(LineReader& reader, std::size_t size);

// Marks the end of the input.
void finish_input(LineReader& reader);

// The next line into `piece`; false when the buffer holds no whole piece
// yet (more input is needed) or, after finish_input, when the input is done.
bool next_piece(LineReader& reader, LinePiece& piece);

// A last line that the end of the input cut: its characters, and those of
// a whole record of its kind; `whole` is 0 for a line too short to tell
// its kind.
struct CutRecord {
  std::size_t size;
  std::size_t whole;
  bool operator==(const CutRecord&) const = default;
};

// The characters classify_line needs to tell a line's kind: it reads
// columns 1 and 5.
inline constexpr std::size_t CLASSIFIED_SIZE = 5;

// Whether `piece` is a record that the end of the input cut short, as an
// interrupted download leaves it; `cut` is set only then. The run does not
// convert it. A cut piece is unterminated and either
//  - taken by classify_line for a record of any comet type (a cut line
//    that only --all-comet-types converts shows the cut too) and shorter
//    than whole_record_size of its kind, or
//  - shorter than CLASSIFIED_SIZE, so that its kind cannot be told: "0001"
//    may be the start of a minor-planet record or of a comet one. The
//    published files end every line, so such an ending is no proof of a
//    whole file.
// Any other piece costs one test of a flag. Examples: the first 158
// characters of a minor-planet record at the end of the input give
// {158, 202}, "0001" gives {4, 0}; with a newline after them, false. An
// unterminated piece never ends in a CR (next_piece), so "0001\r" at the
// end of the input is a whole line, and skipped.
inline bool is_cut_record(const LinePiece& piece, CutRecord& cut) {
  if (!piece.unterminated) return false;
  const LineClass line_class = classify_line(piece.text, true);
  if (!line_class.is_record) {
    if (piece.text.size() >= CLASSIFIED_SIZE) return false;
    cut = {piece.text.size(), 0};
    return true;
  }
  const std::size_t whole = whole_record_size(line_class.kind);
  if (piece.text.size() >= whole) return false;
  cut = {piece.text.size(), whole};
  return true;
}

// How feed_pieces ended.
enum class FeedEnd { Finished, ReadFailed, Stopped };

// The line loop of a run, shared by the program and the fuzzers so that
// both see exactly the same pieces. `read(char* buffer, std::size_t size)`
// fills at most `size` bytes and returns the count, 0 at the end of the
// input or a negative value after an error; `take(const LinePiece&)` gets
// every piece in order and returns false to stop the loop.
template <class Read, class Take>
FeedEnd feed_pieces(LineReader& reader, Read&& read, Take&& take) {
  LinePiece piece{};
  while (!reader.finished) {
    const std::span<char> space = input_space(reader);
    const long count = read(space.data(), space.size());
    if (count < 0) return FeedEnd::ReadFailed;
    if (count == 0)
      finish_input(reader);
    else
      commit_input(reader, static_cast<std::size_t>(count));
    while (next_piece(reader, piece))
      if (!take(piece)) return FeedEnd::Stopped;
  }
  return FeedEnd::Finished;
}

}  // namespace orbelm

#endif
