// The few operating-system calls the driver makes, behind one small
// interface with a POSIX and a Windows side, so that nothing else in the
// program depends on the platform.
#ifndef ORBELM_PLATFORM_HPP
#define ORBELM_PLATFORM_HPP

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbelm::platform {

enum class OpenStatus { Opened, NotFound, IsDirectory };

// An input file open for reading as bytes (line ends are handled by the
// line reader, the same way on every platform).
struct InputFile {
  int descriptor = -1;
  bool owned = true;  // closed by close_input (standard input is not)
};

OpenStatus open_input(const char* path, InputFile& file);

// Standard input as an input file, switched to binary mode on Windows.
InputFile standard_input();

// The size in bytes of a regular file, or 0 when it has none (a pipe, a
// terminal) or it cannot be told.
std::uint64_t input_size(InputFile file);

// Reads up to `size` bytes; returns the count, 0 at the end of the input,
// or -1 after a read error (errno tells which).
long read_input(InputFile file, char* buffer, std::size_t size);

void close_input(InputFile file);

enum class WriteStatus { Written, NotOpened, NotWritten };

// Creates or truncates the file `name` in text mode (the platform's line
// end), writes `size` bytes with one write and closes it. When the write or
// the close fails, the partial file is removed and NotWritten returned.
WriteStatus write_text_file(const char* name, const char* data,
                            std::size_t size);

// Why `name` (without its ".elm") cannot name a plain file in the current
// folder on this platform, or "" when it can. On Windows: a control
// character or one of < > : " | ? * (a drive, a stream, a wildcard), or a
// device name such as NUL or COM1 in any letter case, which would swallow
// or misdirect the element line. Elsewhere every name without "/" can.
std::string_view file_name_problem(std::string_view name);

// Whether standard output is a terminal (then it is flushed per line).
bool stdout_is_terminal();

// Whether standard error is a terminal (then a long run shows progress).
bool stderr_is_terminal();

// Makes a write to a closed pipe fail with an error instead of ending the
// process by a signal, so that the exit status reports it.
void report_broken_pipe_as_error();

}  // namespace orbelm::platform

#endif
