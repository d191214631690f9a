// The POSIX side of the platform's element files: writing, checking and
// looking at one file (see platform.hpp).
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::folder_at;

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
// run wait for a writer; regular files ignore it. O_NOFOLLOW: a symbolic
// link fails to open (ELOOP) and is replaced instead.
constexpr int READ_WRITE = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;

// Linux's flag for a read that leaves the access time; other systems have
// none, and their reads update it as the file system's mount says.
#ifdef O_NOATIME
constexpr int NO_ACCESS_TIME = O_NOATIME;
#else
constexpr int NO_ACCESS_TIME = 0;
#endif

// Opens an existing file with `flags`, without updating its access time
// while `no_access_time` says the process may ask so (cleared when it may
// not). -1 with errno when it cannot.
int open_quietly(const OutputFolder& folder, const char* name, int flags,
                 bool& no_access_time) {
  if (no_access_time) {
    const int descriptor =
        // cppcheck-suppress badBitmaskCheck ; 0 where the system has none
        ::openat(folder_at(folder), name, flags | NO_ACCESS_TIME);
    if (descriptor >= 0 || errno != EPERM) return descriptor;
    no_access_time = false;  // not the files' owner: ask no more
  }
  return ::openat(folder_at(folder), name, flags);
}

// open_quietly with what the folder's writes have learned.
int open_existing(OutputFolder& folder, const char* name, int flags) {
  return open_quietly(folder, name, flags, folder.no_access_time);
}

// Opens the element file for reading and writing, creating it when it is
// missing; sets `created` accordingly. -1 with errno when it cannot (ELOOP:
// a symbolic link). A file that another program removes or makes between
// two opens is tried again.
int open_element_file(OutputFolder& folder, const char* name, bool& created) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    created = folder.expect_new;
    const int descriptor = created
                               ? ::openat(folder_at(folder), name,
                                          READ_WRITE | O_CREAT | O_EXCL, 0666)
                               : open_existing(folder, name, READ_WRITE);
    if (descriptor >= 0 || errno != (created ? EEXIST : ENOENT))
      return descriptor;
    folder.expect_new = !created;
  }
  return -1;
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

// Writes the line into REPLACEMENT_NAME and renames that over `name`, which
// thus holds its old file or the whole new one at every moment; a link's
// target and a file's other names are not touched. A replacement that
// cannot be made leaves the old file as it was.
WriteStatus replace_file(const OutputFolder& folder, const char* name,
                         const char* data, std::size_t size) {
  const int at = folder_at(folder);
  constexpr int NEW = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int descriptor = ::openat(at, REPLACEMENT_NAME, NEW, 0666);
  if (descriptor < 0 && errno == EEXIST &&
      ::unlinkat(at, REPLACEMENT_NAME, 0) == 0)
    descriptor = ::openat(at, REPLACEMENT_NAME, NEW, 0666);
  if (descriptor < 0) return WriteStatus::NotOpened;
  const bool written = write_all_at_start(descriptor, data, size);
  if (::close(descriptor) != 0 || !written ||
      ::renameat(at, REPLACEMENT_NAME, at, name) != 0) {
    ::unlinkat(at, REPLACEMENT_NAME, 0);
    return WriteStatus::NotWritten;
  }
  return WriteStatus::Changed;
}

// Whether the open file may be written in place: a regular file with no
// other name. Told by the fstat in `info`.
bool writable_in_place(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_nlink == 1;
}

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 +
         static_cast<std::int64_t>(time.tv_nsec);
}

std::int64_t clock_now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The state that `info` tells, asked at `seen_at`.
FileState state_of(const struct stat& info, std::int64_t seen_at) {
  FileState state;
  state.device = static_cast<std::uint64_t>(info.st_dev);
  state.inode = static_cast<std::uint64_t>(info.st_ino);
#ifdef __APPLE__
  state.change_time = nanoseconds(info.st_ctimespec);
  state.modify_time = nanoseconds(info.st_mtimespec);
#else
  state.change_time = nanoseconds(info.st_ctim);
  state.modify_time = nanoseconds(info.st_mtim);
#endif
  state.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  state.seen_at = seen_at;
  state.links = static_cast<std::uint32_t>(info.st_nlink);
  state.regular = S_ISREG(info.st_mode);
  return state;
}

// fstat of the open file into `info`, and its state into `state` when
// given; the clock is read first (see write_text_file's `seen`).
bool stat_open_file(int descriptor, struct stat& info, FileState* state) {
  const std::int64_t seen_at = state != nullptr ? clock_now() : 0;
  if (::fstat(descriptor, &info) != 0) return false;
  if (state != nullptr) *state = state_of(info, seen_at);
  return true;
}

// Writes the line over the open file `descriptor`, which holds something
// else (more than the line when `longer`, or when `info`, its fstat, says
// so): in place, or where it may not be written so (see writable_in_place),
// by a replacement. `info` null: the fstat is made here.
WriteStatus write_over(const OutputFolder& folder, const char* name,
                       int descriptor, const char* data, std::size_t size,
                       bool longer, const struct stat* info) {
  struct stat own {};
  if (info == nullptr && stat_open_file(descriptor, own, nullptr)) info = &own;
  if (info == nullptr || !writable_in_place(*info)) {
    ::close(descriptor);
    return replace_file(folder, name, data, size);
  }
  return finish_write(folder, name, descriptor, data, size,
                      longer || info->st_size > static_cast<off_t>(size),
                      WriteStatus::Changed);
}

// A file that may be written but not read.
WriteStatus write_unread(const OutputFolder& folder, const char* name,
                         const char* data, std::size_t size) {
  const int descriptor = ::openat(
      folder_at(folder), name, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (descriptor < 0) return WriteStatus::NotOpened;
  return write_over(folder, name, descriptor, data, size, false, nullptr);
}

// A file that could not be opened for reading and writing (`error`): one
// that holds the line and may not be written (no write permission, a
// read-only file system) is Unchanged, as a look ahead finds it; one that
// may be written but not read is written.
WriteStatus write_unopened(OutputFolder& folder, const char* name,
                           const char* data, std::size_t size, int error) {
  if (error != EACCES && error != EPERM && error != EROFS)
    return WriteStatus::NotOpened;
  if (check_text_file(folder, name, data, size) == WriteStatus::Unchanged)
    return WriteStatus::Unchanged;
  return error == EACCES ? write_unread(folder, name, data, size)
                         : WriteStatus::NotOpened;
}

}  // namespace

WriteStatus write_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size,
                            FileState* seen) {
  bool created = false;
  const int descriptor = open_element_file(folder, name, created);
  if (descriptor < 0) {
    if (errno == ELOOP) return replace_file(folder, name, data, size);
    return write_unopened(folder, name, data, size, errno);
  }
  if (created)
    return finish_write(folder, name, descriptor, data, size, false,
                        WriteStatus::Created);
  // The state before the read: the write over a changed file needs the
  // fstat anyway, and an unchanged one is recorded with it.
  FileState state;
  struct stat info {};
  const bool stated =
      stat_open_file(descriptor, info, seen != nullptr ? &state : nullptr);
  bool longer = true;
  if (compare_start(descriptor, data, size, longer) == WriteStatus::Unchanged) {
    ::close(descriptor);  // only read: nothing to lose
    if (seen != nullptr && stated) *seen = state;
    return WriteStatus::Unchanged;
  }
  return write_over(folder, name, descriptor, data, size, longer,
                    stated ? &info : nullptr);
}

WriteStatus check_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size) {
  if (folder.missing) return WriteStatus::Created;
  const int descriptor = open_existing(
      folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (descriptor < 0)
    return errno == ENOENT ? WriteStatus::Created : WriteStatus::Changed;
  bool longer = true;
  const WriteStatus status = compare_start(descriptor, data, size, longer);
  ::close(descriptor);
  return status;
}

void remove_replacement(const OutputFolder& folder) {
  ::unlinkat(folder_at(folder), REPLACEMENT_NAME, 0);
}

const bool LOOKS_AHEAD = true;

#ifdef __linux__

// Every change that can outdate a look: writes and cuts (IN_MODIFY),
// attributes and link counts (IN_ATTRIB), names made, renamed in or out,
// and removed. Not IN_CLOSE_WRITE: a look at a file to be written holds it
// open for writing and may close it unwritten; writes tell IN_MODIFY.
constexpr std::uint32_t WATCHED = IN_MODIFY | IN_ATTRIB | IN_CREATE |
                                  IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_ONLYDIR;

bool watch_folder(const OutputFolder& folder, FolderWatch& watch) {
  const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (descriptor < 0) return false;
  // The folder as this run opened it, whatever its path has become since.
  char path[32] = ".";
  if (folder.descriptor >= 0)
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", folder.descriptor);
  if (::inotify_add_watch(descriptor, path, WATCHED) < 0) {
    ::close(descriptor);
    return false;
  }
  watch.descriptor = descriptor;
  return true;
}

void close_watch(FolderWatch& watch) {
  if (watch.descriptor >= 0) ::close(watch.descriptor);
  watch.descriptor = -1;
}

WatchNews read_watch(FolderWatch& watch,
                     void (*each)(void* context, std::string_view name),
                     void* context) {
  if (watch.descriptor < 0) return WatchNews::Lost;
  WatchNews news = WatchNews::Names;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(watch.descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) return news;
    if (count <= 0) break;
    bool ended = false;
    for (ssize_t at = 0; at < count;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      ended = ended || (event->mask & IN_IGNORED) != 0;
      if ((event->mask & IN_Q_OVERFLOW) != 0) news = WatchNews::Lost;
      if (event->len > 0) each(context, event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    if (ended) break;
  }
  // The watch ended, or cannot be read: nothing more will be told.
  close_watch(watch);
  return WatchNews::Lost;
}

#else

// kqueue tells of a file's changes only through a descriptor of its own.
bool watch_folder(const OutputFolder&, FolderWatch&) { return false; }
void close_watch(FolderWatch&) {}
WatchNews read_watch(FolderWatch&, void (*)(void*, std::string_view), void*) {
  return WatchNews::Lost;
}

#endif

bool file_state(const OutputFolder& folder, const char* name,
                FileState& state) {
  const std::int64_t seen_at = clock_now();
  struct stat info {};
  if (::fstatat(folder_at(folder), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  state = state_of(info, seen_at);
  return true;
}

namespace {

// A look by the file's state alone (see look_at_text_file's `held`):
// Same, Other for a file with other names (whose writes the folder's watch
// cannot see), None when the state tells nothing and the file is to be
// read.
FileLook::Found look_at_state(const OutputFolder& folder, const char* name,
                              const FileState& held) {
  FileState now;
  if (!file_state(folder, name, now)) return FileLook::Found::None;
  if (now.links > 1) return FileLook::Found::Other;
  return now.regular && same_file_state(now, held) ? FileLook::Found::Same
                                                   : FileLook::Found::None;
}

}  // namespace

void look_at_text_file(const OutputFolder& folder, const char* name,
                       const char* data, std::size_t size, bool for_writing,
                       bool& no_access_time, const FileState* held,
                       FileLook& look) {
  look = FileLook{};
  if (held != nullptr) {
    look.found = look_at_state(folder, name, *held);
    look.quick = look.found == FileLook::Found::Same;
    if (look.found != FileLook::Found::None) return;
  }
  // Read-only: most looks find the line, and a read-only open, read and
  // close cost less than read-write ones (4.5 against 4.8 microseconds, the
  // file in memory: no write access to take and give back). A file to be
  // written is opened again for writing.
  constexpr int READ_ONLY = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  int descriptor = open_quietly(folder, name, READ_ONLY, no_access_time);
  if (descriptor < 0) {
    look.found =
        errno == ENOENT ? FileLook::Found::Missing : FileLook::Found::Other;
    return;
  }
  // Only a regular file with one name is judged ahead (O_NONBLOCK keeps a
  // FIFO from waiting): the write of anything else, and the check of a file
  // with other names, is left to the record's turn.
  struct stat info {};
  if (!stat_open_file(descriptor, info, &look.state) ||
      !writable_in_place(info)) {
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
  ::close(descriptor);
  if (!for_writing) return;
  descriptor = open_quietly(folder, name, READ_WRITE, no_access_time);
  if (descriptor < 0 || ::fstat(descriptor, &info) != 0 ||
      !writable_in_place(info)) {
    if (descriptor >= 0) ::close(descriptor);
    look.found = FileLook::Found::Other;
    return;
  }
  look.descriptor = descriptor;
}

WriteStatus write_looked_at_file(OutputFolder& folder, const char* name,
                                 const char* data, std::size_t size,
                                 bool dry_run, FileLook& look,
                                 FileState* seen) {
  FileLook taken = look;
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
      folder.expect_new = true;  // created at once, not first opened
      break;
    case FileLook::Found::None:
    case FileLook::Found::Other:
      break;
  }
  forget_look(taken);
  return dry_run ? check_text_file(folder, name, data, size)
                 : write_text_file(folder, name, data, size, seen);
}

void forget_look(FileLook& look) {
  if (look.descriptor >= 0) ::close(look.descriptor);
  look = FileLook{};
}

}  // namespace orbelm::platform

#endif
