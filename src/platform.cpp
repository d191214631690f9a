#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#ifdef _WIN32
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

WriteStatus write_text_file(const char* name, const char* data,
                            std::size_t size) {
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

bool stderr_is_terminal() { return _isatty(2) != 0; }

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

WriteStatus write_text_file(const char* name, const char* data,
                            std::size_t size) {
  const int descriptor =
      ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return WriteStatus::NotOpened;
  const bool complete = write_all(descriptor, data, size);
  if (::close(descriptor) != 0 || !complete) {
    ::unlink(name);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Written;
}

std::string_view file_name_problem(std::string_view /*name*/) { return {}; }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

void report_broken_pipe_as_error() { ::signal(SIGPIPE, SIG_IGN); }

#endif

}  // namespace orbelm::platform
