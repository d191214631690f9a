// The few operating-system calls the driver makes, behind one small
// interface with a POSIX and a Windows side, so that nothing else in the
// program depends on the platform.
#ifndef ORBELM_PLATFORM_HPP
#define ORBELM_PLATFORM_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace orbelm::platform {

enum class OpenStatus { Opened, NotFound, IsDirectory };

// An input file open for reading as bytes (line ends are handled by the
// line reader, the same way on every platform).
struct InputFile {
  int descriptor = -1;
};

OpenStatus open_input(const char* path, InputFile& file);

// Reads up to `size` bytes; returns the count, 0 at the end of the input,
// or -1 after a read error (errno tells which).
long read_input(InputFile file, char* buffer, std::size_t size);

void close_input(InputFile file);

// The folder that element files are written into; as it stands, the
// current folder.
struct OutputFolder {
  int descriptor = -1;  // POSIX: the open folder; -1 for the current one
  std::string prefix;   // Windows: the folder's path and a separator
};

// Creates the folder `path` and its missing parents, and opens it into
// `folder`. False, with errno telling why, when it cannot be created or
// opened, or is not a folder (ENOTDIR).
bool open_output_folder(const char* path, OutputFolder& folder);

void close_output_folder(OutputFolder& folder);

enum class WriteStatus { Written, NotOpened, NotWritten };

// Creates or truncates the file `name` in `folder` in text mode (the
// platform's line end), writes `size` bytes with one write and closes it.
// When the write or the close fails, the partial file is removed and
// NotWritten returned.
WriteStatus write_text_file(const OutputFolder& folder, const char* name,
                            const char* data, std::size_t size);

// Why `name` (without its ".elm") cannot name a plain file in the current
// folder on this platform, or "" when it can. On Windows: a control
// character or one of < > : " | ? * (a drive, a stream, a wildcard), or a
// device name such as NUL or COM1 in any letter case, which would swallow
// or misdirect the element line. Elsewhere every name without "/" can.
std::string_view file_name_problem(std::string_view name);

// Whether standard output is a terminal (then it is flushed per line).
bool stdout_is_terminal();

// Makes a write to a closed pipe fail with an error instead of ending the
// process by a signal, so that the exit status reports it.
void report_broken_pipe_as_error();

}  // namespace orbelm::platform

#endif
