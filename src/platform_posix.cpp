// The POSIX side of the platform (see platform.hpp).
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

bool open_output_folder(const char* path, bool make, OutputFolder& folder) {
  const int error =
      make ? make_folders(path,
                          [](const char* part) { return ::mkdir(part, 0777); })
           : 0;
  folder.descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.descriptor >= 0) return true;
  if (!make && errno == ENOENT) {
    folder.missing = true;
    return true;
  }
  if (error != 0 && errno != ENOTDIR) errno = error;
  return false;
}

void close_output_folder(OutputFolder& folder) {
  for (int* descriptor : {&folder.descriptor, &folder.lock_descriptor}) {
    if (*descriptor >= 0) ::close(*descriptor);
    *descriptor = -1;
  }
}

LockStatus lock_output_folder(OutputFolder& folder, bool wait) {
  if (folder.missing) return LockStatus::Unsupported;
  if (folder.lock_descriptor < 0)
    folder.lock_descriptor =
        folder.descriptor >= 0
            ? ::fcntl(folder.descriptor, F_DUPFD_CLOEXEC, 0)
            : ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.lock_descriptor < 0) return LockStatus::Unsupported;
  const int operation = LOCK_EX | (wait ? 0 : LOCK_NB);
  int result = 0;
  while ((result = ::flock(folder.lock_descriptor, operation)) != 0 &&
         errno == EINTR) {
  }
  if (result == 0) return LockStatus::Locked;
  return errno == EWOULDBLOCK ? LockStatus::Busy : LockStatus::Unsupported;
}

namespace {

int folder_at(const OutputFolder& folder) {
  return folder.descriptor >= 0 ? folder.descriptor : AT_FDCWD;
}

constexpr std::string_view ELEMENT_EXTENSION = ".elm";

// A regular file or a symbolic link (not followed), from the entry's type
// where the file system gives it, else from lstat.
bool is_file_or_link(int folder, const dirent* entry) {
  if (entry->d_type == DT_REG || entry->d_type == DT_LNK) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  struct stat info {};
  return ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode));
}

}  // namespace

bool list_element_files(const OutputFolder& folder,
                        void (*each)(void* context, std::string_view name),
                        void* context) {
  if (folder.missing) return true;
  // fdopendir takes the descriptor over: it gets a copy of its own.
  const int descriptor = folder.descriptor >= 0
                             ? ::fcntl(folder.descriptor, F_DUPFD_CLOEXEC, 0)
                             : ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
  if (listing == nullptr) {
    if (descriptor >= 0) ::close(descriptor);
    return false;
  }
  ::rewinddir(listing);  // a copied descriptor shares its position
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name(entry->d_name);
    if (name.size() > ELEMENT_EXTENSION.size() &&
        name.ends_with(ELEMENT_EXTENSION) &&
        is_file_or_link(::dirfd(listing), entry))
      each(context, name.substr(0, name.size() - ELEMENT_EXTENSION.size()));
    errno = 0;
  }
  const int error = errno;
  ::closedir(listing);
  errno = error;
  return error == 0;
}

bool remove_file(const OutputFolder& folder, const char* name) {
  return ::unlinkat(folder_at(folder), name, 0) == 0 || errno == ENOENT;
}

namespace {

// Room for the old content of an element file: the longest line and the
// byte that tells a longer file.
constexpr std::size_t OLD_CAPACITY = 4096;

// Reads up to `size` bytes from the start of the open file in one call:
// a regular file's read is short only at its end. Returns the count or -1.
long read_start(int descriptor, char* buffer, std::size_t size) {
  ssize_t count = 0;
  while ((count = ::read(descriptor, buffer, size)) < 0 && errno == EINTR) {
  }
  return static_cast<long>(count);
}

// What the open file holds against the line `data`: Unchanged when
// exactly the line, otherwise Changed, with `longer` set when it holds more
// or could not be read (then the cut after a write is needed).
WriteStatus compare_start(int descriptor, const char* data, std::size_t size,
                          bool& longer) {
  char old[OLD_CAPACITY];
  longer = true;
  if (size >= OLD_CAPACITY) return WriteStatus::Changed;
  const long count = read_start(descriptor, old, size + 1);
  if (count < 0) return WriteStatus::Changed;
  const auto held = static_cast<std::size_t>(count);
  longer = held > size;
  return held == size && std::memcmp(old, data, size) == 0
             ? WriteStatus::Unchanged
             : WriteStatus::Changed;
}

// O_NONBLOCK: a FIFO under an element file's name must not make the
// run wait for a writer; regular files ignore it.
constexpr int READ_WRITE = O_RDWR | O_CLOEXEC | O_NONBLOCK;

// Opens an existing file with `flags`, without updating its access time
// while the process may ask so. -1 with errno when it cannot.
int open_existing(OutputFolder& folder, const char* name, int flags) {
  if (folder.no_access_time) {
    const int descriptor = ::openat(folder_at(folder), name, flags | O_NOATIME);
    if (descriptor >= 0 || errno != EPERM) return descriptor;
    folder.no_access_time = false;  // not the files' owner: ask no more
  }
  return ::openat(folder_at(folder), name, flags);
}

// Opens the element file for reading and writing, creating it when it is
// missing; sets `created` accordingly. -1 with errno when it cannot.
int open_element_file(OutputFolder& folder, const char* name, bool& created) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    created = folder.expect_new;
    const int descriptor = created
                               ? ::openat(folder_at(folder), name,
                                          READ_WRITE | O_CREAT | O_EXCL, 0666)
                               : open_existing(folder, name, READ_WRITE);
    if (descriptor >= 0 || errno != (created ? EEXIST : ENOENT))
      return descriptor;
    folder.expect_new = !created;
  }
  // Neither there nor creatable as new: a symbolic link to a missing
  // file, which is created where it points, as any program writing the
  // name would.
  created = true;
  return ::openat(folder_at(folder), name, READ_WRITE | O_CREAT, 0666);
}

// write(2) may take fewer bytes than asked (a signal, a nearly full disk);
// the rest is written by further calls, and a call that takes nothing is a
// failure.
bool write_all_at_start(int descriptor, const char* data, std::size_t size) {
  off_t at = 0;
  while (size > 0) {
    const ssize_t count = ::pwrite(descriptor, data, size, at);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    at += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

// Writes the line from the start, cuts the file to its length when
// `longer`, closes it; removes the file when any of that fails.
WriteStatus finish_write(const OutputFolder& folder, const char* name,
                         int descriptor, const char* data, std::size_t size,
                         bool longer, WriteStatus status) {
  const bool complete =
      write_all_at_start(descriptor, data, size) &&
      (!longer || ::ftruncate(descriptor, static_cast<off_t>(size)) == 0);
  if (::close(descriptor) != 0 || !complete) {
    ::unlinkat(folder_at(folder), name, 0);
    return WriteStatus::NotWritten;
  }
  return status;
}

// A file that may be written but not read: fstat tells whether it was
// longer (when fstat fails, it is cut all the same).
WriteStatus write_unread(const OutputFolder& folder, const char* name,
                         const char* data, std::size_t size) {
  const int descriptor =
      ::openat(folder_at(folder), name, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return WriteStatus::NotOpened;
  struct stat info {};
  const bool longer = ::fstat(descriptor, &info) != 0 ||
                      info.st_size > static_cast<off_t>(size);
  return finish_write(folder, name, descriptor, data, size, longer,
                      WriteStatus::Changed);
}

}  // namespace

WriteStatus write_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  bool created = false;
  const int descriptor = open_element_file(folder, name, created);
  if (descriptor < 0)
    return errno == EACCES ? write_unread(folder, name, data, size)
                           : WriteStatus::NotOpened;
  if (created)
    return finish_write(folder, name, descriptor, data, size, false,
                        WriteStatus::Created);
  bool longer = true;
  if (compare_start(descriptor, data, size, longer) == WriteStatus::Unchanged) {
    ::close(descriptor);  // only read: nothing to lose
    return WriteStatus::Unchanged;
  }
  return finish_write(folder, name, descriptor, data, size, longer,
                      WriteStatus::Changed);
}

WriteStatus check_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  if (folder.missing) return WriteStatus::Created;
  const int descriptor =
      open_existing(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0)
    return errno == ENOENT ? WriteStatus::Created : WriteStatus::Changed;
  bool longer = true;
  const WriteStatus status = compare_start(descriptor, data, size, longer);
  ::close(descriptor);
  return status;
}

const bool LOOKS_AHEAD = true;

void hold_interruptions(bool hold) {
  sigset_t signals{};
  sigemptyset(&signals);
  for (const int number : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&signals, number);
  ::pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

// On Linux, setpriority with PRIO_PROCESS and 0 sets the calling thread's
// nice value alone; a process may always lower its own priority.
void yield_priority() {
#ifdef __linux__
  ::setpriority(PRIO_PROCESS, 0, 19);
#endif
}

void look_at_text_file(const OutputFolder& folder, const char* name,
                       const char* data, std::size_t size, bool for_writing,
                       bool& no_access_time, FileLook& look) {
  const int flags =
      (for_writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  int descriptor = -1;
  if (no_access_time) {
    descriptor = ::openat(folder_at(folder), name, flags | O_NOATIME);
    if (descriptor < 0 && errno == EPERM) no_access_time = false;
  }
  if (!no_access_time) descriptor = ::openat(folder_at(folder), name, flags);
  look = FileLook{};
  if (descriptor < 0) {
    look.found =
        errno == ENOENT ? FileLook::Found::Missing : FileLook::Found::Other;
    return;
  }
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_nlink != 1) {
    ::close(descriptor);
    look.found = FileLook::Found::Other;
    return;
  }
  if (compare_start(descriptor, data, size, look.longer) ==
      WriteStatus::Unchanged) {
    ::close(descriptor);
    look.found = FileLook::Found::Same;
    return;
  }
  look.found = FileLook::Found::Different;
  if (for_writing) {
    look.descriptor = descriptor;
  } else {
    ::close(descriptor);
  }
}

WriteStatus write_looked_at_file(OutputFolder& folder, const char* name,
                                 const char* data, std::size_t size,
                                 bool dry_run, FileLook& look) {
  const FileLook taken = look;
  look = FileLook{};
  switch (taken.found) {
    case FileLook::Found::Same:
      folder.expect_new = false;
      return WriteStatus::Unchanged;
    case FileLook::Found::Different:
      folder.expect_new = false;
      if (dry_run) return WriteStatus::Changed;
      if (taken.descriptor < 0) break;  // looked at for reading only
      return finish_write(folder, name, taken.descriptor, data, size,
                          taken.longer, WriteStatus::Changed);
    case FileLook::Found::Missing:
      if (dry_run) return WriteStatus::Created;
      break;
    case FileLook::Found::None:
    case FileLook::Found::Other:
      break;
  }
  return (dry_run ? check_text_file : write_text_file)(folder, name, data,
                                                       size);
}

void forget_look(FileLook& look) {
  if (look.descriptor >= 0) ::close(look.descriptor);
  look = FileLook{};
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
