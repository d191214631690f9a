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

// Room for the path of an element file: its folder's prefix and its name.
// Longer paths than this do not open on Windows anyway (MAX_PATH is 260).
constexpr std::size_t PATH_CAPACITY = 1024;
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

namespace {

// The path of `name` in `folder`, in `path`; null when it is too long.
const char* element_path(const OutputFolder& folder, const char* name,
                         char (&path)[PATH_CAPACITY]) {
  if (folder.prefix.empty()) return name;
  const std::string_view file(name);
  if (file.size() >= MAX_FILE_NAME) return nullptr;
  std::copy(folder.prefix.begin(), folder.prefix.end(), path);
  std::copy(file.begin(), file.end(), path + folder.prefix.size());
  path[folder.prefix.size() + file.size()] = '\0';
  return path;
}

bool has_element_extension(std::string_view name) {
  constexpr std::string_view EXTENSION = ".ELM";
  if (name.size() <= EXTENSION.size()) return false;
  const std::string_view end = name.substr(name.size() - EXTENSION.size());
  return std::equal(end.begin(), end.end(), EXTENSION.begin(),
                    [](char c, char upper) { return upper_ascii(c) == upper; });
}

}  // namespace

bool list_element_files(const OutputFolder& folder,
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
        has_element_extension(name))
      each(context, name.substr(0, name.size() - 4));
  } while (FindNextFileA(listing, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(listing);
  if (!complete) errno = EIO;
  return complete;
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

namespace {

// Room for the line as it lies on disk (each LF as CR LF) and for the old
// content with the byte that tells a longer file.
constexpr std::size_t TEXT_CAPACITY = 8192;

// `data` as text mode writes it, each LF as CR LF, in `text`; its length,
// or 0 when it does not fit.
std::size_t as_text(const char* data, std::size_t size,
                    char (&text)[TEXT_CAPACITY]) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (length + 2 > TEXT_CAPACITY) return 0;
    if (data[i] == '\n') text[length++] = '\r';
    text[length++] = data[i];
  }
  return length;
}

// What the open file holds against `text`: Unchanged when exactly it,
// otherwise Changed, with `longer` set when it holds more or could not be
// read.
WriteStatus compare_start(int descriptor, const char* text, std::size_t size,
                          bool& longer) {
  char old[TEXT_CAPACITY];
  longer = true;
  if (size >= TEXT_CAPACITY) return WriteStatus::Changed;
  // A regular file's read is short only at its end.
  const int count = _read(descriptor, old, static_cast<unsigned>(size + 1));
  if (count < 0) return WriteStatus::Changed;
  const auto got = static_cast<std::size_t>(count);
  longer = got > size;
  return got == size && std::memcmp(old, text, size) == 0
             ? WriteStatus::Unchanged
             : WriteStatus::Changed;
}

// An element file's path and its line as it lies on disk.
struct OnDisk {
  char path[PATH_CAPACITY];
  char text[TEXT_CAPACITY];
  const char* file;    // null when the path is too long
  std::size_t length;  // 0 when the line does not fit
};

void place(const OutputFolder& folder, const char* name, const char* data,
           std::size_t size, OnDisk& out) {
  out.file = element_path(folder, name, out.path);
  out.length = as_text(data, size, out.text);
}

}  // namespace

namespace {

// Writes `text` into REPLACEMENT_NAME and moves that over `file`, which
// thus holds its old file or the whole new one at every moment; a link's
// target and a file's other names are not touched.
WriteStatus replace_file(const OutputFolder& folder, const char* file,
                         const char* text, std::size_t length) {
  char path[PATH_CAPACITY];
  const char* replacement = element_path(folder, REPLACEMENT_NAME, path);
  if (replacement == nullptr) return WriteStatus::NotOpened;
  constexpr int NEW = _O_WRONLY | _O_BINARY | _O_NOINHERIT | _O_CREAT | _O_EXCL;
  int descriptor = _open(replacement, NEW, _S_IREAD | _S_IWRITE);
  if (descriptor < 0 && errno == EEXIST && _unlink(replacement) == 0)
    descriptor = _open(replacement, NEW, _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return WriteStatus::NotOpened;
  const bool written =
      _write(descriptor, text, static_cast<unsigned>(length)) ==
      static_cast<int>(length);
  if (_close(descriptor) != 0 || !written ||
      !MoveFileExA(replacement, file, MOVEFILE_REPLACE_EXISTING)) {
    _unlink(replacement);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Changed;
}

// Whether the open file `descriptor`, named `file`, may be written in
// place: it has one name, and the name is no symbolic link (a reparse
// point). The C library's fstat says one link for every file; Windows
// itself tells the true count.
bool writable_in_place(int descriptor, const char* file) {
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  const DWORD attributes = GetFileAttributesA(file);
  return GetFileInformationByHandle(handle, &info) &&
         info.nNumberOfLinks == 1 && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

// The line is written in binary mode as text mode would write it, so that
// the file can be compared byte for byte first. Opening follows a symbolic
// link: one whose target holds the line is left as it is.
WriteStatus write_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  OnDisk line;
  place(folder, name, data, size, line);
  const char* file = line.file;
  const char* text = line.text;
  const std::size_t length = line.length;
  if (file == nullptr || length == 0) return WriteStatus::NotOpened;
  constexpr int FLAGS = _O_RDWR | _O_BINARY | _O_NOINHERIT;
  WriteStatus status = WriteStatus::Changed;
  int descriptor = _open(file, FLAGS);
  if (descriptor < 0 && errno == ENOENT) {
    status = WriteStatus::Created;
    descriptor = _open(file, FLAGS | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    // A name that exists but cannot be opened: a link to a missing file.
    if (descriptor < 0 && errno == EEXIST)
      return replace_file(folder, file, text, length);
  }
  bool longer = false;
  if (descriptor < 0 && errno == EACCES) {
    // May be written but not read: written unread, and always cut.
    descriptor = _open(file, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    longer = true;
  }
  if (descriptor < 0) return WriteStatus::NotOpened;
  if (status == WriteStatus::Changed && !longer &&
      compare_start(descriptor, text, length, longer) ==
          WriteStatus::Unchanged) {
    _close(descriptor);
    return WriteStatus::Unchanged;
  }
  if (status == WriteStatus::Changed && !writable_in_place(descriptor, file)) {
    _close(descriptor);
    return replace_file(folder, file, text, length);
  }
  const bool complete =
      _lseeki64(descriptor, 0, SEEK_SET) == 0 &&
      _write(descriptor, text, static_cast<unsigned>(length)) ==
          static_cast<int>(length) &&
      (!longer || _chsize_s(descriptor, static_cast<__int64>(length)) == 0);
  if (_close(descriptor) != 0 || !complete) {
    _unlink(file);
    return WriteStatus::NotWritten;
  }
  return status;
}

// Not const: the POSIX side notes in `folder` what its opens learn.
// cppcheck-suppress constParameter
WriteStatus check_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  if (folder.missing) return WriteStatus::Created;
  OnDisk line;
  place(folder, name, data, size, line);
  if (line.file == nullptr || line.length == 0) return WriteStatus::Changed;
  const int descriptor = _open(line.file, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (descriptor < 0)
    return errno == ENOENT ? WriteStatus::Created : WriteStatus::Changed;
  bool longer = false;
  const WriteStatus status =
      compare_start(descriptor, line.text, line.length, longer);
  _close(descriptor);
  return status;
}

void remove_replacement(const OutputFolder& folder) {
  char path[PATH_CAPACITY];
  if (const char* file = element_path(folder, REPLACEMENT_NAME, path))
    _unlink(file);
}

// Windows has no O_NOFOLLOW, and its C library reports one link for every
// file: a look could not tell that a file has a single name, so the write
// does all, as in a run without looks.
const bool LOOKS_AHEAD = false;

void look_at_text_file(const OutputFolder& /*folder*/, const char* /*name*/,
                       const char* /*data*/, std::size_t /*size*/,
                       bool /*for_writing*/, bool& /*no_access_time*/,
                       FileLook& look) {
  look = FileLook{};
}

// Not const: the POSIX side notes in `folder` what its writes learn.
// cppcheck-suppress constParameter
WriteStatus write_looked_at_file(OutputFolder& folder, const char* name,
                                 const char* data, std::size_t size,
                                 bool dry_run, FileLook& look) {
  look = FileLook{};
  return (dry_run ? check_text_file : write_text_file)(folder, name, data,
                                                       size);
}

void forget_look(FileLook& look) { look = FileLook{}; }

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
