#include "console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.hpp"

namespace orbelm {

// The block buffer is passed explicitly: given no buffer, glibc ignores the
// size and allocates one of the file system's block size (4 KiB). Standard
// output uses it until the process ends, after the run returns, so it is
// allocated once and never freed. Without memory for it the C library's
// own buffering stays.
std::size_t set_up_console() {
  platform::report_broken_pipe_as_error();
  constexpr std::size_t CONSOLE_BLOCK = 1 << 16;
  if (platform::stdout_is_terminal()) {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  } else if (char* block = static_cast<char*>(std::malloc(CONSOLE_BLOCK))) {
    if (std::setvbuf(stdout, block, _IOFBF, CONSOLE_BLOCK) == 0)
      return CONSOLE_BLOCK;
  }
  return 0;
}

bool write_stdout(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

bool write_name(NameOutput& output, std::string_view text) {
  if (output.block == 0) {
    ++output.written;
  } else if (output.held + text.size() > output.block) {
    ++output.written;
    output.held = 0;
    if (std::fflush(stdout) != 0) return false;
  }
  output.held += text.size();
  return write_stdout(text);
}

bool console_written() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

bool flush_stdout() {
  if (console_written()) return true;
  std::fprintf(stderr, "orbelm: cannot write to standard output: %s\n",
               std::strerror(errno));
  return false;
}

namespace {

constexpr std::size_t MAX_SHOWN_NAME = 512;

}  // namespace

void Diagnostic::append_name(std::string_view name) {
  append(name.substr(0, MAX_SHOWN_NAME));
  if (name.size() > MAX_SHOWN_NAME) append("...");
}

void Diagnostic::append_escaped(std::string_view part, std::size_t limit) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  for (const char c : part.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      append({&c, 1});
    } else {
      const char escaped[] = {'\\', 'x', HEX[byte >> 4], HEX[byte & 0xF]};
      append({escaped, sizeof escaped});
    }
  }
  if (part.size() > limit) append("...");
}

void Diagnostic::write() const { std::fwrite(buffer, 1, line.size, stderr); }

namespace {

// Rewrites the status line in place: a carriage return, the line, and
// blanks over the rest of a longer earlier line.
void draw_progress(Progress& progress, Clock::time_point now) {
  progress.facts.elapsed_seconds =
      std::chrono::duration<double>(now - progress.start).count();
  char text[MAX_PROGRESS_LINE] = {};
  const std::size_t size = format_progress(progress.facts, text);
  char line[1 + 2 * MAX_PROGRESS_LINE];
  line[0] = '\r';
  std::memcpy(line + 1, text, size);
  const std::size_t blanks =
      progress.shown_size > size ? progress.shown_size - size : 0;
  std::memset(line + 1 + size, ' ', blanks);
  std::fwrite(line, 1, 1 + size + blanks, stderr);
  progress.shown_size = size;
  progress.shown_at = now;
}

}  // namespace

void tick_progress(Progress& progress) {
  if (!progress.enabled) return;
  const Clock::time_point now = Clock::now();
  if (progress.shown_size == 0 ||
      now - progress.shown_at >= std::chrono::milliseconds(250))
    draw_progress(progress, now);
}

void clear_progress(Progress& progress) {
  if (progress.shown_size == 0) return;
  char line[2 + MAX_PROGRESS_LINE];
  line[0] = '\r';
  std::memset(line + 1, ' ', progress.shown_size);
  line[1 + progress.shown_size] = '\r';
  std::fwrite(line, 1, 2 + progress.shown_size, stderr);
  progress.shown_size = 0;
}

void end_progress(Progress& progress) {
  if (!progress.enabled) return;
  progress.facts.final_line = true;
  draw_progress(progress, Clock::now());
  std::fputc('\n', stderr);
}

}  // namespace orbelm
