#include "platform.hpp"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
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

void close_input(InputFile file) { _close(file.descriptor); }

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
      _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT | _O_NOINHERIT,
            _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return WriteStatus::NotOpened;
  const int written = _write(descriptor, data, static_cast<unsigned>(size));
  const bool complete = written == static_cast<int>(size);
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

void report_broken_pipe_as_error() {}

#else

OpenStatus open_input(const char* path, InputFile& file) {
  file.descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file.descriptor < 0) return OpenStatus::NotFound;
  struct stat info {};
  if (::fstat(file.descriptor, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(file.descriptor);
    file.descriptor = -1;
    return OpenStatus::IsDirectory;
  }
  return OpenStatus::Opened;
}

long read_input(InputFile file, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(file.descriptor, buffer, size);
    if (count >= 0 || errno != EINTR) return static_cast<long>(count);
  }
}

void close_input(InputFile file) { ::close(file.descriptor); }

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

WriteStatus write_text_file(const OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  const int at = folder.descriptor >= 0 ? folder.descriptor : AT_FDCWD;
  const int descriptor =
      ::openat(at, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return WriteStatus::NotOpened;
  const bool complete = write_all(descriptor, data, size);
  if (::close(descriptor) != 0 || !complete) {
    ::unlinkat(at, name, 0);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Written;
}

std::string_view file_name_problem(std::string_view /*name*/) { return {}; }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }

void report_broken_pipe_as_error() { ::signal(SIGPIPE, SIG_IGN); }

#endif

}  // namespace orbelm::platform
