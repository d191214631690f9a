// The status line of a long run: how much of the input has been read, how
// many element files have been written and how long the run has taken.
// Only the text is made here; the driver decides when it is shown.
#ifndef ORBELM_PROGRESS_HPP
#define ORBELM_PROGRESS_HPP

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbelm {

// How the element files of a run came about. Removed counts only for a
// run that prunes.
struct ElementFileCounts {
  std::uint64_t created;    // did not exist
  std::uint64_t changed;    // held another line
  std::uint64_t unchanged;  // held the line already: not written
  std::uint64_t removed;    // stale files removed (or, in a dry run, to be)
  std::uint64_t total() const { return created + changed + unchanged; }
};

struct ProgressFacts {
  std::size_t input_number;     // 1 for the first input
  std::size_t input_count;      // inputs of the run
  std::string_view input_name;  // as the diagnostics name it
  std::uint64_t bytes_read;     // of the input as stored (compressed or not)
  std::uint64_t input_size;     // bytes of the input as stored; 0: unknown
  ElementFileCounts files;      // element files of the whole run so far
  double elapsed_seconds;
  bool final_line = false;    // the last line: the files' counts in full
  bool with_removed = false;  // a pruning run: the last line has "removed"
};

// Longest status line; a long input name is cut to its last
// MAX_PROGRESS_NAME characters so that the line fits a terminal of 80
// while it is redrawn (the last line, with the counts, may be longer).
inline constexpr std::size_t MAX_PROGRESS_LINE = 192;
inline constexpr std::size_t MAX_PROGRESS_NAME = 20;

// The status line for `facts`, without a line end; returns its length.
// The part read is a percentage of the size, rounded down and at most 100,
// where the size is known, else a count of megabytes (10^6 bytes) to one
// decimal, rounded down. The input is named only in runs of several.
// Examples:
//   "orbelm: 45% read, 1234 element files, 12.3 s"
//   "orbelm: 2/3 CometEls.txt: 61.2 MB read, 80 element files, 0.4 s"
std::size_t format_progress(const ProgressFacts& facts,
                            char (&out)[MAX_PROGRESS_LINE]);

}  // namespace orbelm

#endif
