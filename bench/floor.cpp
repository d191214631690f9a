// The floor of a whole run: what writing the element files costs and
// nothing more. For every non-empty input line it takes the first word as
// the designation, prints "DESIGNATION.elm" and makes that file hold one
// line of an element line's length: the input line's first 145 characters
// and a newline (146 bytes, as long as a minor-planet element line), so
// that the file changes whenever a field of those columns changes, as
// orbelm's element file does. By default it replaces every file in place,
// the fastest correct way to rewrite it: open (created when missing, not
// truncated), fstat, one write from the start, a cut only when the old
// file was longer, close. There is no classification and no conversion, so
// orbelm's time beyond this program's is its own work.
//
// With --truncate it opens each file with truncation instead (open, write,
// close), the usual way that makes ext4 write every replaced file back to
// disk at its close.
//
// With --compare it writes only the files whose content differs: open for
// reading and writing without updating the access time (O_NOATIME, dropped
// for the rest of the run once a file refuses it, as a file that is not
// the caller's does), read up to one byte more than the line, close the
// file untouched when it holds exactly the line, else write the line from
// the start and cut the file when it was longer; a missing file is created
// (O_CREAT | O_EXCL) and written. The floor of a refresh from a catalogue
// in which few records changed.
//
// Usage: orbelm_floor [--truncate | --compare] INPUT_FILE [ALSO_READ]
//        (element files land in the current folder)
// ALSO_READ, when given, is read to its end first and dropped: with the
// records that a selection keeps as INPUT_FILE and the whole input as
// ALSO_READ, the floor of a selecting run is one read of the input and the
// writing of the selected files.
//
// The input is read in 64 KiB blocks and the names are printed through a
// 64 KiB buffer, the same block sizes orbelm uses, so the two programs make
// the same system calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// A minor-planet element line is 146 characters with its newline.
constexpr std::size_t LINE_SIZE = 146;

constexpr std::size_t BLOCK = 1 << 16;
constexpr std::size_t MAX_NAME = 64;

enum class Mode { InPlace, Truncate, Compare };

bool write_file(const char* name, const char* line, Mode mode) {
  const int descriptor = ::open(
      name,
      O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Truncate ? O_TRUNC : 0),
      0666);
  if (descriptor < 0) return false;
  struct stat info {};
  const bool longer =
      mode != Mode::Truncate && (::fstat(descriptor, &info) != 0 ||
                                 info.st_size > static_cast<off_t>(LINE_SIZE));
  const bool written =
      ::write(descriptor, line, LINE_SIZE) == static_cast<ssize_t>(LINE_SIZE) &&
      (!longer || ::ftruncate(descriptor, static_cast<off_t>(LINE_SIZE)) == 0);
  return ::close(descriptor) == 0 && written;
}

// O_NOATIME until a file refuses it (EPERM: the file is not the caller's
// and the caller may not override that); then none for the rest of the run.
int no_access_time = O_NOATIME;

// Leaves the file untouched when it holds exactly the line.
bool compare_file(const char* name, const char* line) {
  int descriptor = ::open(name, O_RDWR | O_CLOEXEC | no_access_time);
  if (descriptor < 0 && errno == EPERM && no_access_time != 0) {
    no_access_time = 0;
    descriptor = ::open(name, O_RDWR | O_CLOEXEC);
  }
  if (descriptor < 0) {
    if (errno != ENOENT) return false;
    descriptor = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return false;
    const bool written =
        ::write(descriptor, line, LINE_SIZE) == static_cast<ssize_t>(LINE_SIZE);
    return ::close(descriptor) == 0 && written;
  }
  // A regular file returns fewer bytes than asked for only at its end.
  char old[LINE_SIZE + 1];
  const ssize_t count = ::read(descriptor, old, sizeof old);
  bool written = count >= 0;
  if (count != static_cast<ssize_t>(LINE_SIZE) ||
      std::memcmp(old, line, LINE_SIZE) != 0)
    written = written &&
              ::pwrite(descriptor, line, LINE_SIZE, 0) ==
                  static_cast<ssize_t>(LINE_SIZE) &&
              (count <= static_cast<ssize_t>(LINE_SIZE) ||
               ::ftruncate(descriptor, static_cast<off_t>(LINE_SIZE)) == 0);
  return ::close(descriptor) == 0 && written;
}

// Prints the name and writes the file of one line; false on failure.
bool process_line(std::string_view record, Mode mode) {
  const std::size_t end = record.find_first_of(" \r");
  const std::string_view word = record.substr(0, end);
  if (word.empty() || word.size() + 5 > MAX_NAME) return true;
  char name[MAX_NAME];
  std::memcpy(name, word.data(), word.size());
  std::memcpy(name + word.size(), ".elm", 5);
  // The record's first 145 characters (a shorter record padded with
  // blanks) and a newline.
  char line[LINE_SIZE];
  const std::size_t kept = std::min(record.size(), LINE_SIZE - 1);
  std::memcpy(line, record.data(), kept);
  std::memset(line + kept, ' ', LINE_SIZE - 1 - kept);
  line[LINE_SIZE - 1] = '\n';
  if (std::fwrite(name, 1, word.size() + 4, stdout) != word.size() + 4 ||
      std::fputc('\n', stdout) == EOF)
    return false;
  return mode == Mode::Compare ? compare_file(name, line)
                               : write_file(name, line, mode);
}

int convert(int input, Mode mode) {
  static char buffer[BLOCK];
  std::size_t kept = 0;
  for (;;) {
    const ssize_t count = ::read(input, buffer + kept, BLOCK - kept);
    if (count < 0) return 1;
    const std::size_t size = kept + static_cast<std::size_t>(count);
    std::size_t begin = 0;
    for (;;) {
      const void* newline = std::memchr(buffer + begin, '\n', size - begin);
      if (newline == nullptr) break;
      const auto end =
          static_cast<std::size_t>(static_cast<const char*>(newline) - buffer);
      if (!process_line({buffer + begin, end - begin}, mode)) return 1;
      begin = end + 1;
    }
    kept = size - begin;
    if (count == 0)
      return kept > 0 && !process_line({buffer, kept}, mode) ? 1 : 0;
    if (kept == BLOCK) return 1;  // a line longer than a block: not records
    std::memmove(buffer, buffer + begin, kept);
  }
}

bool read_through(const char* path) {
  const int input = ::open(path, O_RDONLY | O_CLOEXEC);
  if (input < 0) return false;
  static char buffer[BLOCK];
  ssize_t count = 0;
  while ((count = ::read(input, buffer, sizeof buffer)) > 0) {
  }
  ::close(input);
  return count == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view option = argc >= 2 ? argv[1] : "";
  const Mode mode = option == "--truncate"  ? Mode::Truncate
                    : option == "--compare" ? Mode::Compare
                                            : Mode::InPlace;
  const int first = mode == Mode::InPlace ? 1 : 2;
  if (argc < first + 1) {
    std::fputs(
        "usage: orbelm_floor [--truncate | --compare] INPUT_FILE [ALSO_READ]\n",
        stderr);
    return 2;
  }
  if (argc > first + 1 && !read_through(argv[first + 1])) {
    std::fprintf(stderr, "orbelm_floor: cannot read %s\n", argv[first + 1]);
    return 1;
  }
  const char* path = argv[first];
  const int input = ::open(path, O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    std::fprintf(stderr, "orbelm_floor: cannot open %s\n", path);
    return 1;
  }
  static char console[BLOCK];
  std::setvbuf(stdout, console, _IOFBF, sizeof console);
  const int status = convert(input, mode);
  ::close(input);
  return std::fflush(stdout) == 0 && status == 0 ? status : 1;
}
