// The Windows side of the platform's element files: writing, checking and
// (not) looking at one file (see platform.hpp).
#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

using detail::element_path;
using detail::PATH_CAPACITY;

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
// Windows keeps no record of file states (see quick_checks_hold): `seen`
// is never filled.
WriteStatus write_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size,
                            FileState* /*seen*/) {
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
    // A name that exists but cannot be opened: a link to a missing file
    // (or a file made meanwhile).
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

bool watch_folder(const OutputFolder& /*folder*/, FolderWatch& /*watch*/) {
  return false;
}
void close_watch(FolderWatch& /*watch*/) {}
WatchNews read_watch(FolderWatch& /*watch*/,
                     void (* /*each*/)(void* context, std::string_view name),
                     void* /*context*/) {
  return WatchNews::Lost;
}

void look_at_text_file(const OutputFolder& /*folder*/, const char* /*name*/,
                       const char* /*data*/, std::size_t /*size*/,
                       bool /*for_writing*/, bool& /*no_access_time*/,
                       const FileState* /*held*/, FileLook& look) {
  look = FileLook{};
}

// Not const: the POSIX side notes in `folder` what its writes learn.
// cppcheck-suppress constParameter
WriteStatus write_looked_at_file(OutputFolder& folder, const char* name,
                                 const char* data, std::size_t size,
                                 bool dry_run, FileLook& look,
                                 FileState* /*seen*/) {
  look = FileLook{};
  return dry_run ? check_text_file(folder, name, data, size)
                 : write_text_file(folder, name, data, size);
}

void forget_look(FileLook& look) { look = FileLook{}; }

// The quick check needs a change time that every write moves and file
// numbers that last; NTFS has both (FILE_ID_INFO, FILE_BASIC_INFO's
// ChangeTime), but only through a handle, which costs an open per file:
// about what reading the small file costs. Windows reads every file.
bool file_state(const OutputFolder& /*folder*/, const char* /*name*/,
                FileState& /*state*/) {
  return false;
}
bool quick_checks_hold(const OutputFolder& /*folder*/, FileState& /*state*/) {
  return false;
}
bool open_folder_file(const OutputFolder& /*folder*/, const char* /*name*/,
                      InputFile& /*file*/) {
  return false;
}
int create_folder_file(const OutputFolder& /*folder*/, const char* /*name*/) {
  return -1;
}
bool write_folder_file(int /*descriptor*/, const char* /*data*/,
                       std::size_t /*size*/) {
  return false;
}
bool close_folder_file(int /*descriptor*/) { return false; }
bool rename_folder_file(const OutputFolder& /*folder*/, const char* /*from*/,
                        const char* /*to*/) {
  return false;
}

}  // namespace orbelm::platform

#endif
