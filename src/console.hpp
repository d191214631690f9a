// The run's console: standard output's buffering and flushing, diagnostic
// lines on standard error, and the status line of a long run.
//
// Only the driver's modules use it; nothing here decides an exit status.
#ifndef ORBELM_CONSOLE_HPP
#define ORBELM_CONSOLE_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "progress.hpp"
#include "text.hpp"

namespace orbelm {

// Standard output is flushed per line on a terminal and in 64 KiB blocks
// otherwise; a write to a closed pipe fails instead of ending the process.
// Must be called before the first output. Returns the block's size, or 0
// when every line may reach the reader at once (a terminal, or the C
// library's own buffering).
std::size_t set_up_console();

// Writes `text` to standard output; false when it could not be written.
bool write_stdout(std::string_view text);

// The names of a run on standard output, counted out: with a block, the
// block is written out only when the next name would not fit, so that the
// run knows when the names reached their reader.
struct NameOutput {
  std::size_t block = 0;      // set_up_console's; 0: each name goes at once
  std::size_t held = 0;       // bytes of names in the block
  std::uint64_t written = 0;  // times names went out (or may have)
};

// Writes the name line `text` to standard output; false when it could not
// be written (or the block before it could not be written out).
bool write_name(NameOutput& output, std::string_view text);

// Flushes standard output; whether all of its output so far was written.
// Says nothing (flush_stdout reports the failure at the end).
bool console_written();

// Flushes standard output; false, after the message "orbelm: cannot write
// to standard output: REASON" on standard error, when any of its output
// could not be written.
bool flush_stdout();

// A diagnostic line built in a fixed buffer and written whole with one call
// (standard error is unbuffered). Text past the buffer is dropped.
struct Diagnostic {
  char buffer[1280];
  TextBuilder line{buffer, sizeof buffer};

  void append(std::string_view part) { line.text(part); }
  void append_number(std::uint64_t value) { line.number(value); }
  // An input or file name, cut after 512 characters with "...".
  void append_name(std::string_view name);
  // A designation from the input, or a file name: printable ASCII as it
  // is, other bytes as \xHH, so that a crafted record cannot drive the
  // terminal; cut after `limit` characters with "..." (a runaway line can
  // make a token of 249). Example: "K\x1b[2J" shows as "K\x1B[2J".
  void append_escaped(std::string_view part, std::size_t limit = 40);
  void write() const;
};

using Clock = std::chrono::steady_clock;

// The status line of a long run, shown on standard error when it is a
// terminal and standard output is not (see progress.hpp for its text).
struct Progress {
  bool enabled = false;
  Clock::time_point start;
  Clock::time_point shown_at;
  std::size_t shown_size = 0;  // characters of the line on the screen
  ProgressFacts facts{};
};

// Called once per input block; redraws at most four times a second.
void tick_progress(Progress& progress);

// Blanks the status line so that a diagnostic starts at the line's start;
// the next tick draws it again below.
void clear_progress(Progress& progress);

// The status line with the final count and time, and its newline.
void end_progress(Progress& progress);

}  // namespace orbelm

#endif
