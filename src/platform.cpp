#include "platform.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orbelm::platform {
namespace {

#ifdef _WIN32
constexpr bool WINDOWS = true;
#else
constexpr bool WINDOWS = false;
#endif

bool is_separator(char c) { return c == '/' || (WINDOWS && c == '\\'); }

// Creates each folder on `path` that is missing, parents first, with
// `make_folder` (mkdir's contract). Returns why the path could not be made:
// the errno of the first failed creation that no later one made up for,
// or 0. A creation that fails because the folder exists is no failure;
// that it is a folder is checked afterwards.
template <class MakeFolder>
int make_folders(std::string_view path, MakeFolder make_folder) {
  int error = 0;
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && !is_separator(path[at])) continue;
    if (is_separator(path[at - 1])) continue;  // "a//b", "a/"
    const std::string part(path.substr(0, at));
    if (make_folder(part.c_str()) == 0 || errno == EEXIST)
      error = 0;
    else if (error == 0)
      error = errno;
  }
  return error;
}

}  // namespace

namespace {

// The interruption noted by the handler, 0 while there is none: the one
// piece of mutable global state of the program, since a signal handler (or,
// on Windows, the console's handler thread) can reach nothing else. A
// lock-free atomic may be stored from a signal handler as well as from
// another thread.
std::atomic<int> noted_interruption{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

int interruption() {
  return noted_interruption.load(std::memory_order_relaxed);
}

#ifdef _WIN32

OpenStatus open_input(const char* path, InputFile& file) {
  struct _stat64 info;
  if (_stat64(path, &info) == 0 && (info.st_mode & _S_IFDIR) != 0)
    return OpenStatus::IsDirectory;
  file.descriptor = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  return file.descriptor < 0 ? OpenStatus::NotFound : OpenStatus::Opened;
}

long read_input(InputFile file, char* buffer, std::size_t size) {
  const unsigned chunk =
      size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
  return _read(file.descriptor, buffer, chunk);
}

InputFile standard_input() {
  _setmode(_fileno(stdin), _O_BINARY);
  return {_fileno(stdin), false};
}

std::uint64_t input_size(InputFile file) {
  struct _stat64 info;
  if (_fstat64(file.descriptor, &info) != 0 ||
      (info.st_mode & _S_IFMT) != _S_IFREG || info.st_size < 0)
    return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

void close_input(InputFile file) {
  if (file.owned) _close(file.descriptor);
}

namespace {

// Room for the path of an element file: its folder's prefix and its name.
// Longer paths than this do not open on Windows anyway (MAX_PATH is 260).
constexpr std::size_t PATH_CAPACITY = 1024;
constexpr std::size_t MAX_FILE_NAME = 32;

}  // namespace

bool open_output_folder(const char* path, OutputFolder& folder) {
  std::string_view name(path);
  const int error =
      make_folders(name, [](const char* part) { return _mkdir(part); });
  // The C library's stat does not find a folder named with a separator at
  // its end; a root ("/", "C:\\") keeps its one.
  while (name.size() > 1 && is_separator(name.back()) &&
         name[name.size() - 2] != ':')
    name.remove_suffix(1);
  const std::string checked(name);
  struct _stat64 info;
  if (_stat64(checked.c_str(), &info) != 0) {
    errno = error != 0 ? error : ENOENT;
    return false;
  }
  if ((info.st_mode & _S_IFDIR) == 0) {
    errno = ENOTDIR;
    return false;
  }
  folder.prefix = checked;
  if (!is_separator(checked.back()) && checked.back() != ':')
    folder.prefix += '\\';
  if (folder.prefix.size() + MAX_FILE_NAME > PATH_CAPACITY) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

void close_output_folder(OutputFolder& folder) { folder.prefix.clear(); }

// Text mode turns each LF into CR LF, and _write counts the bytes it was
// given, so the length on disk is the position after the write.
WriteStatus write_text_file(const OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  char path[PATH_CAPACITY];
  if (!folder.prefix.empty()) {
    const std::string_view file(name);
    if (file.size() >= MAX_FILE_NAME) return WriteStatus::NotOpened;
    std::copy(folder.prefix.begin(), folder.prefix.end(), path);
    std::copy(file.begin(), file.end(), path + folder.prefix.size());
    path[folder.prefix.size() + file.size()] = '\0';
    name = path;
  }
  const int descriptor =
      _open(name, _O_WRONLY | _O_CREAT | _O_TEXT | _O_NOINHERIT,
            _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return WriteStatus::NotOpened;
  struct _stat64 info;
  const bool known = _fstat64(descriptor, &info) == 0;
  const int written = _write(descriptor, data, static_cast<unsigned>(size));
  const __int64 length = _telli64(descriptor);
  const bool complete =
      written == static_cast<int>(size) && length >= 0 &&
      ((known && info.st_size <= length) || _chsize_s(descriptor, length) == 0);
  if (_close(descriptor) != 0 || !complete) {
    _unlink(name);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Written;
}

namespace {

char upper_ascii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows reads these names as devices whatever extension follows.
bool is_device_name(std::string_view name) {
  char upper[8] = {};
  if (name.size() >= sizeof upper) return false;
  std::transform(name.begin(), name.end(), upper, upper_ascii);
  const std::string_view word(upper, name.size());
  constexpr std::string_view DEVICES[] = {"CON", "PRN",    "AUX",
                                          "NUL", "CONIN$", "CONOUT$"};
  if (std::find(std::begin(DEVICES), std::end(DEVICES), word) !=
      std::end(DEVICES))
    return true;
  return word.size() == 4 &&
         (word.starts_with("COM") || word.starts_with("LPT")) &&
         word[3] >= '0' && word[3] <= '9';
}

bool has_reserved_byte(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 ||
           std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
  });
}

}  // namespace

std::string_view file_name_problem(std::string_view name) {
  if (has_reserved_byte(name))
    return "holds a character that a Windows file name cannot hold";
  if (is_device_name(name)) return "is a Windows device name";
  return {};
}

bool stdout_is_terminal() { return _isatty(1) != 0; }

bool stderr_is_terminal() { return _isatty(2) != 0; }

void report_broken_pipe_as_error() {}

namespace {

// How long the handler keeps the process alive after the console was
// closed: Windows ends it about 5 s after the close anyway, and the driver
// ends it as soon as the record in progress is finished.
constexpr DWORD CLOSE_WAIT_MS = 10000;

// Runs on a thread of its own. Returning TRUE for Ctrl-C and Ctrl-Break
// lets the process go on; after a close the process ends when the handler
// returns, so the handler waits for the driver's end instead.
BOOL WINAPI note_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT &&
      event != CTRL_CLOSE_EVENT)
    return FALSE;
  noted_interruption.store(static_cast<int>(event) + 1);
  if (event == CTRL_CLOSE_EVENT) Sleep(CLOSE_WAIT_MS);
  return TRUE;
}

}  // namespace

void begin_interruptible_run() {
  SetConsoleCtrlHandler(note_console_event, TRUE);
}

std::string_view interruption_name(int interruption) {
  switch (interruption - 1) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "closing the console";
    default:
      return "an interruption";
  }
}

// Windows has no signal to raise again; a process that Ctrl-C ends exits
// with this status, which cmd.exe and PowerShell show as an interruption.
void end_by_interruption(int /*interruption*/) {
  constexpr UINT STATUS_CONTROL_C_EXIT_CODE = 0xC000013A;
  ExitProcess(STATUS_CONTROL_C_EXIT_CODE);
}

#else

OpenStatus open_input(const char* path, InputFile& file) {
  file.descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file.descriptor < 0) return OpenStatus::NotFound;
  struct stat info {};
  const bool known = ::fstat(file.descriptor, &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    ::close(file.descriptor);
    file.descriptor = -1;
    return OpenStatus::IsDirectory;
  }
  file.regular = known && S_ISREG(info.st_mode);
  return OpenStatus::Opened;
}

// The handlers restart interrupted calls (see begin_interruptible_run), so
// a read that waits on a slow pipe would go on waiting after an
// interruption. poll is never restarted: the wait happens there and ends
// with EINTR. A regular file never waits and is read without it, one
// system call per block instead of two. (A signal that comes
// after the check below and before poll waits is seen when input arrives.)
long read_input(InputFile file, char* buffer, std::size_t size) {
  for (;;) {
    pollfd ready{file.descriptor, POLLIN, 0};
    if (!file.regular && ::poll(&ready, 1, -1) < 0 && errno != EINTR)
      return -1;
    if (interruption() != 0) {
      errno = EINTR;
      return -1;
    }
    const ssize_t count = ::read(file.descriptor, buffer, size);
    if (count >= 0 || errno != EINTR) return static_cast<long>(count);
  }
}

InputFile standard_input() { return {STDIN_FILENO, false}; }

std::uint64_t input_size(InputFile file) {
  struct stat info {};
  if (::fstat(file.descriptor, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size < 0)
    return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

void close_input(InputFile file) {
  if (file.owned) ::close(file.descriptor);
}

namespace {

// write(2) may take fewer bytes than asked (a signal, a nearly full disk);
// the rest is written by further calls, and a call that takes nothing is a
// failure.
bool write_all(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(descriptor, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

bool open_output_folder(const char* path, OutputFolder& folder) {
  const int error =
      make_folders(path, [](const char* part) { return ::mkdir(part, 0777); });
  folder.descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.descriptor >= 0) return true;
  if (error != 0 && errno != ENOTDIR) errno = error;
  return false;
}

void close_output_folder(OutputFolder& folder) {
  if (folder.descriptor >= 0) ::close(folder.descriptor);
  folder.descriptor = -1;
}

// The cut is made also when fstat fails, so that the file never keeps a
// tail of its old line.
WriteStatus write_text_file(const OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  const int at = folder.descriptor >= 0 ? folder.descriptor : AT_FDCWD;
  const int descriptor =
      ::openat(at, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return WriteStatus::NotOpened;
  struct stat info {};
  const auto length = static_cast<off_t>(size);
  const bool longer = ::fstat(descriptor, &info) != 0 || info.st_size > length;
  const bool complete = write_all(descriptor, data, size) &&
                        (!longer || ::ftruncate(descriptor, length) == 0);
  if (::close(descriptor) != 0 || !complete) {
    ::unlinkat(at, name, 0);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Written;
}

std::string_view file_name_problem(std::string_view /*name*/) { return {}; }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

void report_broken_pipe_as_error() { ::signal(SIGPIPE, SIG_IGN); }

namespace {

constexpr int INTERRUPTIONS[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

}  // namespace orbelm::platform

// Only notes the signal: the driver finishes the record in progress and
// then ends the process by the same signal.
extern "C" void orbelm_note_signal(int number) {
  orbelm::platform::noted_interruption.store(number, std::memory_order_relaxed);
}

namespace orbelm::platform {

// SA_RESTART: a console write interrupted before it wrote a byte would
// otherwise fail, and the C library would drop the block it was writing.
void begin_interruptible_run() {
  struct sigaction action {};
  action.sa_handler = orbelm_note_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : INTERRUPTIONS) {
    struct sigaction previous {};
    if (::sigaction(number, nullptr, &previous) == 0 &&
        previous.sa_handler != SIG_IGN)
      ::sigaction(number, &action, nullptr);
  }
}

std::string_view interruption_name(int interruption) {
  switch (interruption) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

void end_by_interruption(int interruption) {
  ::signal(interruption, SIG_DFL);
  sigset_t only{};
  sigemptyset(&only);
  sigaddset(&only, interruption);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(interruption);
  // Not reached, since the signal ends the process; cppcheck takes raise for
  // a function that never returns, the compiler does not.
  // cppcheck-suppress unreachableCode
  ::_exit(128 + interruption);
}

#endif

}  // namespace orbelm::platform
