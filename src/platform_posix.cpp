// The POSIX side of the platform (see platform.hpp).
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::make_folders;

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
    if (!file.regular && ::poll(&ready, 1, -1) < 0 && errno != EINTR) return -1;
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
  orbelm::platform::detail::noted_interruption.store(number,
                                                     std::memory_order_relaxed);
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

}  // namespace orbelm::platform

#endif
