// The Windows side of the platform (see platform.hpp).
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

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::is_separator;
using detail::make_folders;

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
  detail::noted_interruption.store(static_cast<int>(event) + 1);
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

}  // namespace orbelm::platform

#endif
