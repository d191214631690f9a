// The floor of a whole run: what writing the element files costs and
// nothing more. For every non-empty input line it takes the first word as
// the designation, prints "DESIGNATION.elm" and makes that file hold one
// line of an element line's length, the fastest correct way and the way
// orbelm does it: open (created when missing, not truncated), fstat, one
// write from the start, a cut only when the old file was longer, close.
// There is no classification and no conversion, so orbelm's time beyond
// this program's is its own work.
//
// With --truncate it opens each file with truncation instead (open, write,
// close), the usual way that makes ext4 write every replaced file back to
// disk at its close: the second reference line of a refresh.
//
// Usage: orbelm_floor [--truncate] INPUT_FILE [ALSO_READ]
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

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// A minor-planet element line is 146 characters with its newline; the
// content does not matter to the file system, only the length.
constexpr char ELEMENT_LINE[] =
    " Ceres         000010 2461600.033724   2.54642314 0.0794013 0.1847920 "
    "1.2788626 1.4006653   1503.3 2000.0 2460800.50000  Ceres              "
    "20241\n";

constexpr std::size_t BLOCK = 1 << 16;
constexpr std::size_t MAX_NAME = 64;

bool write_file(const char* name, bool truncate) {
  const int descriptor = ::open(
      name, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
  if (descriptor < 0) return false;
  const std::size_t size = sizeof ELEMENT_LINE - 1;
  struct stat info {};
  const bool longer = !truncate && (::fstat(descriptor, &info) != 0 ||
                                    info.st_size > static_cast<off_t>(size));
  const bool written =
      ::write(descriptor, ELEMENT_LINE, size) == static_cast<ssize_t>(size) &&
      (!longer || ::ftruncate(descriptor, static_cast<off_t>(size)) == 0);
  return ::close(descriptor) == 0 && written;
}

// Prints the name and writes the file of one line; false on failure.
bool process_line(std::string_view line, bool truncate) {
  const std::size_t end = line.find_first_of(" \r");
  const std::string_view word = line.substr(0, end);
  if (word.empty() || word.size() + 5 > MAX_NAME) return true;
  char name[MAX_NAME];
  std::memcpy(name, word.data(), word.size());
  std::memcpy(name + word.size(), ".elm", 5);
  return std::fwrite(name, 1, word.size() + 4, stdout) == word.size() + 4 &&
         std::fputc('\n', stdout) != EOF && write_file(name, truncate);
}

int convert(int input, bool truncate) {
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
      if (!process_line({buffer + begin, end - begin}, truncate)) return 1;
      begin = end + 1;
    }
    kept = size - begin;
    if (count == 0)
      return kept > 0 && !process_line({buffer, kept}, truncate) ? 1 : 0;
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
  const bool truncate = argc >= 2 && std::string_view(argv[1]) == "--truncate";
  const int first = truncate ? 2 : 1;
  if (argc < first + 1) {
    std::fputs("usage: orbelm_floor [--truncate] INPUT_FILE [ALSO_READ]\n",
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
  const int status = convert(input, truncate);
  ::close(input);
  return std::fflush(stdout) == 0 && status == 0 ? status : 1;
}
