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
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "hash.hpp"
#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::element_path;
using detail::is_separator;
using detail::make_folders;
using detail::PATH_CAPACITY;

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

bool write_whole_file(const char* path, std::string_view text) {
  const int descriptor =
      _open(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT | _O_CREAT | _O_TRUNC,
            _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return false;
  // Written as text mode writes it, a block at a time: each LF as CR LF.
  char block[8192];
  std::size_t at = 0;
  bool written = true;
  while (written && at < text.size()) {
    std::size_t length = 0;
    for (; at < text.size() && length + 2 <= sizeof block; ++at) {
      if (text[at] == '\n') block[length++] = '\r';
      block[length++] = text[at];
    }
    written = _write(descriptor, block, static_cast<unsigned>(length)) ==
              static_cast<int>(length);
  }
  const int error = errno;
  if (_close(descriptor) != 0 || !written) {
    if (!written) errno = error;
    return false;
  }
  return true;
}

InputFile standard_input() {
  _setmode(_fileno(stdin), _O_BINARY);
  return {_fileno(stdin), false};
}

// The C library keeps descriptors 0 to 2 for the standard streams; one
// without a handle gives -1 or -2.
bool guard_standard_streams() { return _get_osfhandle(0) < 0; }

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

// Element file names are shorter (11 characters and ".elm").
constexpr std::size_t MAX_FILE_NAME = 32;

}  // namespace

bool open_output_folder(const char* path, bool make, OutputFolder& folder) {
  std::string_view name(path);
  const int error =
      make ? make_folders(name, [](const char* part) { return _mkdir(part); })
           : 0;
  // The C library's stat does not find a folder named with a separator at
  // its end; a root ("/", "C:\\") keeps its one.
  while (name.size() > 1 && is_separator(name.back()) &&
         name[name.size() - 2] != ':')
    name.remove_suffix(1);
  const std::string checked(name);
  folder.prefix = checked;
  if (!is_separator(checked.back()) && checked.back() != ':')
    folder.prefix += '\\';
  struct _stat64 info;
  if (_stat64(checked.c_str(), &info) != 0) {
    if (!make && errno == ENOENT) return folder.missing = true;
    errno = error != 0 ? error : ENOENT;
    return false;
  }
  if ((info.st_mode & _S_IFDIR) == 0) {
    errno = ENOTDIR;
    return false;
  }
  if (folder.prefix.size() + MAX_FILE_NAME > PATH_CAPACITY) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

void close_output_folder(OutputFolder& folder) {
  folder.prefix.clear();
  if (folder.lock_handle != nullptr) CloseHandle(folder.lock_handle);
  folder.lock_handle = nullptr;
}

namespace {

// The hash of the folder's full path in any letter case names its mutex:
// another run into the same folder by any spelling of its path meets the
// same one.
std::string folder_mutex_name(const OutputFolder& folder,
                              std::string_view space) {
  char full[PATH_CAPACITY];
  const std::string relative = folder.prefix.empty() ? "." : folder.prefix;
  const DWORD size =
      GetFullPathNameA(relative.c_str(), sizeof full, full, nullptr);
  if (size == 0 || size >= sizeof full) return {};
  const std::uint64_t hash = name_hash({full, size}, true);
  char name[64];
  std::snprintf(name, sizeof name, "%.*sorbelm-folder-%016llx",
                static_cast<int>(space.size()), space.data(),
                static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

// Global\ reaches runs of other sessions (a scheduled task); where it may
// not be made, Local\ still keeps the runs of one session apart.
LockStatus lock_output_folder(OutputFolder& folder, bool wait) {
  if (folder.missing) return LockStatus::Unsupported;
  for (const std::string_view space : {"Global\\", "Local\\"}) {
    if (folder.lock_handle != nullptr) break;
    const std::string name = folder_mutex_name(folder, space);
    if (!name.empty())
      folder.lock_handle = CreateMutexA(nullptr, FALSE, name.c_str());
  }
  if (folder.lock_handle == nullptr) return LockStatus::Unsupported;
  switch (WaitForSingleObject(folder.lock_handle, wait ? INFINITE : 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without letting go
      return LockStatus::Locked;
    case WAIT_TIMEOUT:
      return LockStatus::Busy;
    default:
      return LockStatus::Unsupported;
  }
}

const char* detail::element_path(const OutputFolder& folder, const char* name,
                                 char (&path)[PATH_CAPACITY]) {
  if (folder.prefix.empty()) return name;
  const std::string_view file(name);
  if (file.size() >= MAX_FILE_NAME) return nullptr;
  std::copy(folder.prefix.begin(), folder.prefix.end(), path);
  std::copy(file.begin(), file.end(), path + folder.prefix.size());
  path[folder.prefix.size() + file.size()] = '\0';
  return path;
}

bool list_element_files(const OutputFolder& folder, bool fold_case,
                        void (*each)(void* context, std::string_view name),
                        void* context) {
  if (folder.missing) return true;
  const std::string pattern = folder.prefix + "*";
  WIN32_FIND_DATAA entry;
  const HANDLE listing = FindFirstFileA(pattern.c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : EIO;
    return errno == 0;
  }
  do {
    const std::string_view name(entry.cFileName);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        detail::has_element_extension(name, fold_case))
      each(context, name.substr(0, name.size() - 4));
  } while (FindNextFileA(listing, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(listing);
  if (!complete) errno = EIO;
  return complete;
}

// The case rule of an output folder: its flag, which Windows 10 (1803) and
// later keep on NTFS folders (fsutil file setCaseSensitiveInfo).
namespace {

// The value of FileCaseSensitiveInfo in Windows' FILE_INFO_BY_HANDLE_CLASS
// and its one flag, from the Windows SDK (minwinbase.h, winnt.h):
// MinGW-w64 numbers the class by the _WIN32_WINNT it is built for, and
// lacks the flag.
constexpr auto CASE_SENSITIVE_INFO = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
constexpr ULONG CASE_SENSITIVE_DIR = 0x1;

struct CaseSensitiveInfo {
  ULONG flags;
};

}  // namespace

bool folder_ignores_case(const OutputFolder& folder, bool /*may_write*/) {
  if (folder.missing) return true;
  // "DIR\." opens DIR itself, also the root of a drive ("C:\.").
  const std::string path = folder.prefix + ".";
  const HANDLE handle = CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return true;
  CaseSensitiveInfo info{};
  const bool known = GetFileInformationByHandleEx(handle, CASE_SENSITIVE_INFO,
                                                  &info, sizeof info) != 0;
  CloseHandle(handle);
  return !known || (info.flags & CASE_SENSITIVE_DIR) == 0;
}

bool remove_file(const OutputFolder& folder, const char* name) {
  char path[PATH_CAPACITY];
  const char* file = element_path(folder, name, path);
  if (file == nullptr) {
    errno = ENAMETOOLONG;
    return false;
  }
  return _unlink(file) == 0 || errno == ENOENT;
}

// No thread looks ahead on Windows (LOOKS_AHEAD).
void yield_priority() {}
void hold_interruptions(bool /*hold*/) {}

namespace {

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
