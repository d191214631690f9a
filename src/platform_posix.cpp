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
#ifdef __linux__
#include <sys/vfs.h>
#elif defined(__APPLE__)
#include <sys/mount.h>
#include <sys/param.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::folder_at;
using detail::make_folders;

namespace {

constexpr int INTERRUPTIONS[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

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

bool write_whole_file(const char* path, std::string_view text) {
  const int descriptor =
      ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return false;
  while (!text.empty()) {
    const ssize_t count = ::write(descriptor, text.data(), text.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      const int error = count < 0 ? errno : EIO;
      ::close(descriptor);
      errno = error;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(count));
  }
  return ::close(descriptor) == 0;
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

// open gives the lowest free descriptor: taken in order, each closed one
// gets its own number.
bool guard_standard_streams() {
  bool input_closed = false;
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
    input_closed = input_closed || descriptor == STDIN_FILENO;
    ::open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
  }
  return input_closed;
}

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

// The entries of `folder` from the first, through a descriptor of their
// own (fdopendir takes the one it is given over, and a copied descriptor
// shares its position); null, with errno, when it cannot be read.
DIR* open_listing(const OutputFolder& folder) {
  const int descriptor = folder.descriptor >= 0
                             ? ::fcntl(folder.descriptor, F_DUPFD_CLOEXEC, 0)
                             : ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
  if (listing != nullptr) {
    ::rewinddir(listing);
  } else if (descriptor >= 0) {
    const int error = errno;
    ::close(descriptor);
    errno = error;
  }
  return listing;
}

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

bool list_element_files(const OutputFolder& folder, bool fold_case,
                        void (*each)(void* context, std::string_view name),
                        void* context) {
  if (folder.missing) return true;
  DIR* listing = open_listing(folder);
  if (listing == nullptr) return false;
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name(entry->d_name);
    if (detail::has_element_extension(name, fold_case) &&
        is_file_or_link(::dirfd(listing), entry))
      each(context, name.substr(0, name.size() - 4));
    errno = 0;
  }
  const int error = errno;
  ::closedir(listing);
  errno = error;
  return error == 0;
}

// The case rule of an output folder, found out by looking one of its
// entries up under another spelling (see folder_ignores_case).
namespace {

enum class CaseRule { Sensitive, Insensitive, Unknown };

char other_case(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

bool has_letter(std::string_view name) {
  return std::any_of(name.begin(), name.end(),
                     [](char c) { return other_case(c) != c; });
}

// 1 when the folder of `listing` holds an entry spelled exactly `name`, 0
// when not, -1 when it cannot be read to its end.
int lists_name(DIR* listing, const std::string& name) {
  ::rewinddir(listing);
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (name == entry->d_name) return 1;
    errno = 0;
  }
  return errno == 0 ? 0 : -1;
}

// What the entry `name` of the folder of `listing` shows, looked up (never
// through a symbolic link) under the other case of its letters. Example:
// "K14Ua5S.elm" is looked up as "k14uA5s.ELM".
CaseRule case_rule_shown_by(DIR* listing, const std::string& name) {
  const int folder = ::dirfd(listing);
  std::string other = name;
  std::transform(other.begin(), other.end(), other.begin(), other_case);
  struct stat entry {};
  struct stat looked_up {};
  if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
    return CaseRule::Unknown;
  if (::fstatat(folder, other.c_str(), &looked_up, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? CaseRule::Sensitive : CaseRule::Unknown;
  // A file of one name found under both spellings: they name one entry.
  if (looked_up.st_dev == entry.st_dev && looked_up.st_ino == entry.st_ino &&
      entry.st_nlink == 1)
    return CaseRule::Insensitive;
  // A second name of the file (a hard link), another file, or a file
  // system that numbers inodes by the name looked up (FUSE without
  // use_ino): whether the folder lists the other spelling tells.
  switch (lists_name(listing, other)) {
    case 1:
      return CaseRule::Sensitive;
    case 0:
      return CaseRule::Insensitive;
    default:
      return CaseRule::Unknown;
  }
}

// The rule shown by the first entry that is no folder (a folder has
// several names) and whose name has a letter.
CaseRule case_rule_of_listing(DIR* listing) {
  errno = 0;
  while (const dirent* entry = ::readdir(listing))
    if (entry->d_type != DT_DIR && has_letter(entry->d_name))
      return case_rule_shown_by(listing, entry->d_name);
  return CaseRule::Unknown;
}

}  // namespace

bool folder_ignores_case(const OutputFolder& folder, bool may_write) {
  if (folder.missing) return false;
  DIR* listing = open_listing(folder);
  if (listing == nullptr) return false;
  CaseRule rule = case_rule_of_listing(listing);
  if (rule == CaseRule::Unknown && may_write) {
    const int at = ::dirfd(listing);
    const int probe = ::openat(at, REPLACEMENT_NAME,
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (probe >= 0) {
      ::close(probe);
      rule = case_rule_shown_by(listing, REPLACEMENT_NAME);
      ::unlinkat(at, REPLACEMENT_NAME, 0);
    }
  }
  ::closedir(listing);
  return rule == CaseRule::Insensitive;
}

bool remove_file(const OutputFolder& folder, const char* name) {
  return ::unlinkat(folder_at(folder), name, 0) == 0 || errno == ENOENT;
}

namespace {

// The file systems whose change times, inode numbers and attributes the
// quick check may rely on (see quick_checks_hold), by statfs's f_type on
// Linux (the kernel's magic numbers, include/uapi/linux/magic.h) and
// f_fstypename on macOS.
bool keeps_change_times(int folder) {
#ifdef __linux__
  struct statfs info {};
  if (::fstatfs(folder, &info) != 0) return false;
  switch (static_cast<std::uint64_t>(info.f_type) & 0xFFFFFFFFU) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // XFS
    case 0x9123683E:  // Btrfs
    case 0xF2F52010:  // F2FS
    case 0xCA451A4E:  // bcachefs
    case 0x2FC12FC1:  // ZFS
    case 0x01021994:  // tmpfs
      return true;
    default:
      return false;
  }
#elif defined(__APPLE__)
  struct statfs info {};
  if (::fstatfs(folder, &info) != 0) return false;
  const std::string_view type = info.f_fstypename;
  return type == "apfs" || type == "hfs";
#else
  (void)folder;
  return false;
#endif
}

}  // namespace

bool quick_checks_hold(const OutputFolder& folder, FileState& state) {
  if (folder.missing) return false;
  const int descriptor =
      folder.descriptor >= 0 ? folder.descriptor
                             : ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat info {};
  const bool holds =
      ::fstat(descriptor, &info) == 0 && keeps_change_times(descriptor);
  if (descriptor != folder.descriptor) ::close(descriptor);
  state.device = static_cast<std::uint64_t>(info.st_dev);
  state.inode = static_cast<std::uint64_t>(info.st_ino);
  return holds;
}

bool open_folder_file(const OutputFolder& folder, const char* name,
                      InputFile& file) {
  file.descriptor = ::openat(folder_at(folder), name,
                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (file.descriptor < 0) return false;
  struct stat info {};
  if (::fstat(file.descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(file.descriptor);
    file.descriptor = -1;
    return false;
  }
  file.regular = true;
  return true;
}

int create_folder_file(const OutputFolder& folder, const char* name) {
  const int at = folder_at(folder);
  constexpr int NEW = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int descriptor = ::openat(at, name, NEW, 0666);
  if (descriptor < 0 && errno == EEXIST && ::unlinkat(at, name, 0) == 0)
    descriptor = ::openat(at, name, NEW, 0666);
  return descriptor;
}

bool write_folder_file(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(descriptor, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

bool close_folder_file(int descriptor) { return ::close(descriptor) == 0; }

bool rename_folder_file(const OutputFolder& folder, const char* from,
                        const char* to) {
  const int at = folder_at(folder);
  return ::renameat(at, from, at, to) == 0;
}

void hold_interruptions(bool hold) {
  sigset_t signals{};
  sigemptyset(&signals);
  for (const int number : INTERRUPTIONS) sigaddset(&signals, number);
  ::pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

// On Linux, setpriority with PRIO_PROCESS and 0 sets the calling thread's
// nice value alone; a process may always lower its own priority.
void yield_priority() {
#ifdef __linux__
  ::setpriority(PRIO_PROCESS, 0, 19);
#endif
}

std::string_view file_name_problem(std::string_view /*name*/) { return {}; }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

void report_broken_pipe_as_error() { ::signal(SIGPIPE, SIG_IGN); }

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
