// The few operating-system calls the driver makes, behind one small
// interface with a POSIX and a Windows side, so that nothing else in the
// program depends on the platform.
#ifndef ORBELM_PLATFORM_HPP
#define ORBELM_PLATFORM_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbelm::platform {

enum class OpenStatus { Opened, NotFound, IsDirectory };

// An input file open for reading as bytes (line ends are handled by the
// line reader, the same way on every platform).
struct InputFile {
  int descriptor = -1;
  bool owned = true;  // closed by close_input (standard input is not)
  // A regular file never makes a read wait, so read_input need not watch
  // for an interruption while it waits (a pipe or a terminal can wait).
  bool regular = false;
};

OpenStatus open_input(const char* path, InputFile& file);

// Standard input as an input file, switched to binary mode on Windows.
InputFile standard_input();

// The size in bytes of a regular file, or 0 when it has none (a pipe, a
// terminal) or it cannot be told.
std::uint64_t input_size(InputFile file);

// Reads up to `size` bytes; returns the count, 0 at the end of the input,
// or -1 after a read error (errno tells which). A wait for input (a slow
// pipe) that an interruption breaks returns -1 with errno EINTR; see
// interruption().
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

// Makes the file `name` in `folder` hold exactly `data` (`size` bytes, in text
// mode: the platform's line end), replacing it in place: opened for writing,
// created when missing but never truncated on opening, `data` written from
// the start, the file cut to the written length only when it was longer
// before (one fstat tells), then closed.
//
// Returned: NotOpened when the file cannot be opened (nothing changed);
// NotWritten when the write, the cut or the close fails, after the file is
// removed, since a file rewritten only in part would hold a mix of the old
// and the new line.
// Notes: ext4 writes a file that was opened with truncation back to disk at
// its close; written in place it is not, which makes replacing 300,000
// files about ten times faster. A process killed mid-file leaves the old or
// the new line, except when the old line was longer and the cut had not
// happened yet (the new line followed by the old one's tail).
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

// Whether standard error is a terminal (then a long run shows progress).
bool stderr_is_terminal();

// Makes a write to a closed pipe fail with an error instead of ending the
// process by a signal, so that the exit status reports it.
void report_broken_pipe_as_error();

// Interruptions of a run: SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C,
// Ctrl-Break and closing the console) are noted instead of ending the
// process, so that the driver can finish the record in progress first.
//
// begin_interruptible_run installs the handlers; until then an
// interruption ends the process at once. A signal that the process was
// started ignoring (nohup, a background job) stays ignored. Interrupted
// system calls are restarted (a console write never fails for it); only a
// wait in read_input for more input gives up.
void begin_interruptible_run();

// The interruption noted since begin_interruptible_run (the signal number;
// on Windows a code of its own), or 0 when there was none.
int interruption();

// The interruption's name for a message: "SIGINT", "SIGTERM", "SIGHUP";
// on Windows "Ctrl-C", "Ctrl-Break", "closing the console".
std::string_view interruption_name(int interruption);

// Ends the process the way the interruption would have without a handler:
// the default action restored and the signal raised again (unblocked), so
// that a shell sees status 128 + N. On Windows the process exits with
// STATUS_CONTROL_C_EXIT (0xC000013A), the status of a Ctrl-C. Flushes
// nothing: standard output must be flushed before.
[[noreturn]] void end_by_interruption(int interruption);

}  // namespace orbelm::platform

#endif
