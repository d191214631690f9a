// The system calls of a run, traced with strace: each element file costs
// exactly one open (never with truncation) and one close; an existing file
// one read, and a write only when it held another line (after an fstat that
// tells a file with other names), a cut only when it was longer; a new file
// one write; the input and the console move in large
// blocks, whatever the number of records. These are the properties that
// keep a whole run at the cost of writing what changed.
//
// The run is traced with one thread (--jobs 1): look-ahead workers make
// the same calls from other threads, and the run's thread reads the
// folder's watch now and then.
//
// The test runs the program built with the tests (a command given in
// ORBELM_TEST_PROGRAM may be another program altogether) and is skipped
// where strace is missing or cannot trace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "sample_records.hpp"

namespace fs = std::filesystem;

namespace orbelm {
namespace {

// The block size of input reads and console writes.
constexpr std::size_t BLOCK = 1 << 16;
// Enough records that the console output (10 or 12 characters a name)
// fills more than one block.
constexpr int RECORDS = 7000;
// Records whose element files exist before the run: up to LONGER with a
// longer old file, up to SHORTER with a shorter one, up to EXISTING with
// the line that the run writes. The others are new.
constexpr int LONGER = 100;
constexpr int SHORTER = 200;
constexpr int EXISTING = 300;

// One traced call: "openat(AT_FDCWD, \"x.elm\", ...) = 3" and the like,
// each line perhaps after a process id.
struct Call {
  std::string name;
  std::string arguments;  // the text between the parentheses
  long result = -1;
};

bool parse_call(std::string line, Call& call) {
  // strace pads the process id with blanks to a fixed width, so a short
  // id is followed by more than one blank.
  if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
    line.erase(0, line.find_first_not_of(' ', line.find(' ')));
  // strace pads short calls with blanks before the " = ".
  const std::size_t open = line.find('(');
  const std::size_t equals = line.rfind(" = ");
  if (open == std::string::npos || equals == std::string::npos) return false;
  const std::size_t close = line.rfind(')', equals);
  if (close == std::string::npos || close < open) return false;
  call.name = line.substr(0, open);
  call.arguments = line.substr(open + 1, close - open - 1);
  call.result = std::strtol(line.c_str() + equals + 3, nullptr, 10);
  return true;
}

long first_argument(const Call& call) {
  return std::strtol(call.arguments.c_str(), nullptr, 10);
}

// What the trace shows, per element file and for the console and input.
struct Counts {
  std::map<std::string, int> opens, stats, reads, writes, cuts,
      closes;  // by file
  int truncating_opens = 0;
  int failed_opens = 0;
  int console_writes = 0;
  long console_bytes = 0;
  int input_reads = 0;
};

Counts count_calls(std::istream& trace) {
  Counts counts;
  std::map<long, std::string> open_files;  // descriptor to element file
  long input = -1;
  std::string line;
  Call call;
  while (std::getline(trace, line)) {
    if (!parse_call(line, call)) continue;
    const long descriptor = first_argument(call);
    if (call.name == "openat" &&
        call.arguments.find("input.txt\"") != std::string::npos) {
      input = call.result;
    } else if (call.name == "openat" &&
               call.arguments.find(".elm\"") != std::string::npos) {
      const std::size_t quote = call.arguments.find('"');
      const std::string file = call.arguments.substr(
          quote + 1, call.arguments.find('"', quote + 1) - quote - 1);
      if (call.arguments.find("O_TRUNC") != std::string::npos)
        ++counts.truncating_opens;
      if (call.result < 0) {
        ++counts.failed_opens;
        continue;
      }
      ++counts.opens[file];
      open_files[call.result] = file;
    } else if (call.name == "write" && descriptor == 1) {
      ++counts.console_writes;
      counts.console_bytes += call.result;
    } else if ((call.name == "write" || call.name == "pwrite64") &&
               open_files.count(descriptor)) {
      ++counts.writes[open_files[descriptor]];
    } else if ((call.name == "fstat" || call.name == "newfstatat") &&
               open_files.count(descriptor)) {
      ++counts.stats[open_files[descriptor]];
    } else if (call.name == "ftruncate" && open_files.count(descriptor)) {
      ++counts.cuts[open_files[descriptor]];
    } else if (call.name == "close" && open_files.count(descriptor)) {
      ++counts.closes[open_files.at(descriptor)];
      open_files.erase(descriptor);
    } else if (call.name == "read" && descriptor == input) {
      ++counts.input_reads;
    } else if (call.name == "read" && open_files.count(descriptor)) {
      ++counts.reads[open_files[descriptor]];
    }
  }
  return counts;
}

std::string numbered_record(int number) {
  std::string line = testing::minor_planet_example();
  char designation[8];
  std::snprintf(designation, sizeof designation, "%05d  ", number);
  return testing::put(line, 1, designation) + "\n";
}

class SystemCalls : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef ORBELM_EMULATOR
    GTEST_SKIP() << "the program runs under an emulator, whose calls differ";
#endif
    if (std::system("strace -V >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "strace is not installed";
    dir_ = fs::temp_directory_path() /
           ("orbelm-syscalls-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path dir_;
};

TEST_F(SystemCalls, OneOpenAndClosePerFileWritesOnlyWhatChanged) {
  std::size_t input_size = 0;
  {
    std::ofstream input(dir_ / "input.txt", std::ios::binary);
    std::ofstream existing(dir_ / "existing.txt", std::ios::binary);
    for (int number = 1; number <= RECORDS; ++number) {
      const std::string record = numbered_record(number);
      input << record;
      input_size += record.size();
      if (number <= EXISTING) existing << record;
    }
  }
  // A first run makes the existing files; then some of them are changed.
  const std::string work = "cd '" + (dir_ / "work").string() + "' && ";
  ASSERT_EQ(
      std::system(
          (work + "'" ORBELM_PROGRAM "' ../existing.txt >/dev/null").c_str()),
      0);
  for (int number = 1; number <= SHORTER; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.elm", number);
    std::ofstream(dir_ / "work" / name)
        << std::string(number <= LONGER ? 1000 : 10, 'x');
  }
  const std::string command =
      work +
      "strace -f -qq -o ../trace.txt -e "
      "trace=openat,fstat,newfstatat,read,write,pwrite64,ftruncate,close '" +
      ORBELM_PROGRAM "' --jobs 1 ../input.txt >../console.txt 2>../stderr.txt";
  if (std::system(command.c_str()) != 0) {
    std::ifstream err(dir_ / "stderr.txt");
    std::ostringstream text;
    text << err.rdbuf();
    if (text.str().find("ptrace") != std::string::npos)
      GTEST_SKIP() << "strace cannot trace here: " << text.str();
    FAIL() << "the traced run failed: " << text.str();
  }
  std::ifstream trace(dir_ / "trace.txt");
  const Counts counts = count_calls(trace);

  const auto count = [](const std::map<std::string, int>& calls,
                        const std::string& file) {
    return calls.count(file) ? calls.at(file) : 0;
  };
  ASSERT_EQ(counts.opens.size(), static_cast<std::size_t>(RECORDS));
  EXPECT_EQ(counts.truncating_opens, 0);
  // The first new file is first tried as an existing one; the later ones
  // are created at once.
  EXPECT_LE(counts.failed_opens, 1);
  for (const auto& [file, opens] : counts.opens) {
    const int number = std::stoi(file);
    ASSERT_EQ(opens, 1) << file;
    // An existing file's state is asked before it is read: a changed one
    // needs it for the write, an unchanged one is recorded with it.
    ASSERT_EQ(count(counts.stats, file), number <= EXISTING ? 1 : 0) << file;
    ASSERT_EQ(count(counts.reads, file), number <= EXISTING ? 1 : 0) << file;
    ASSERT_EQ(count(counts.writes, file),
              number <= SHORTER || number > EXISTING ? 1 : 0)
        << file;
    ASSERT_EQ(count(counts.cuts, file), number <= LONGER ? 1 : 0) << file;
    ASSERT_EQ(count(counts.closes, file), 1) << file;
  }

  EXPECT_EQ(counts.console_bytes, RECORDS * 10);  // "NNNNN.elm\n"
  const long console_blocks =
      (counts.console_bytes + static_cast<long>(BLOCK) - 1) /
      static_cast<long>(BLOCK);
  EXPECT_LE(counts.console_writes, console_blocks)
      << "console output of " << counts.console_bytes << " bytes";

  // Each read fills the block but for the unfinished line kept from the
  // last one (under 250 characters); the last read returns 0.
  const std::size_t most_reads = input_size / (BLOCK - 250) + 2;
  EXPECT_GE(counts.input_reads, 2);
  EXPECT_LE(static_cast<std::size_t>(counts.input_reads), most_reads)
      << "input of " << input_size << " bytes";
}

}  // namespace
}  // namespace orbelm
