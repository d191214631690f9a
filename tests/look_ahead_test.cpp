// The look-ahead window with the built program: whatever the workers read
// ahead, the element files end as a run with one thread leaves them. The
// reference is always the same program with --jobs 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "program_run.hpp"
#include "sample_records.hpp"

namespace orbelm {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::Result;
using testing::write_file;

// The minor-planet example as object `number` ("00007"), with a long name
// that tells records of one designation apart.
std::string record(int number, const std::string& name = "(9) Testname") {
  std::string line = testing::minor_planet_example();
  testing::put(line, 1, std::to_string(100000 + number).substr(1) + "  ");
  return testing::put(line, 175, name) + "\n";
}

std::string file_of(int number) {
  return std::to_string(100000 + number).substr(1) + ".elm";
}

// Records of other objects, 101 to 400: the workers start once the first
// few hundred records show that their files hold their lines.
std::string others_before() {
  std::string input;
  for (int number = 101; number <= 400; ++number) input += record(number);
  return input;
}

// `middle` among records of other objects, 300 before and 200 after, so
// that the workers have looked at the middle's files long before their
// turn comes.
std::string amid_others(const std::string& middle) {
  std::string input = others_before() + middle;
  for (int number = 401; number <= 600; ++number) input += record(number);
  return input;
}

class LookAhead : public testing::ProgramRun {};

// Two records of one designation in the window, the file holding the
// later one's line (from a first run): a look made before the first is
// written finds the later line there, but the file must end with it
// written again. The other objects' files exist too, so that looks are
// made.
TEST_F(LookAhead, LaterRecordOfADesignationWinsWithinTheWindow) {
  write_file(work_ / "in.txt",
             amid_others(record(1, "(9) First") + record(1, "(9) Second")));
  ASSERT_EQ(run("--jobs 1 in.txt").status, 0);
  const std::string second = read_file(work_ / file_of(1));
  const Result r = run("--jobs 8 in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(work_ / file_of(1)), second);
}

// Links named like element files, each to be written: 00001.elm to
// 00002.elm (whose own record comes next), 00003.elm to a file outside the
// folder, 00004.elm to a missing file. Each becomes a regular file holding
// its line; nothing is written or made where the links lead.
TEST_F(LookAhead, SymbolicLinksAreReplacedNeverFollowed) {
  if (testing::windows_program()) GTEST_SKIP() << "links need privileges";
  write_file(work_ / "in.txt",
             amid_others(record(1) + record(2) + record(3) + record(4)));
  const Result first = run("--jobs 1 in.txt");
  ASSERT_EQ(first.status, 0);
  std::string lines[5];
  for (int number = 1; number <= 4; ++number)
    lines[number] = read_file(work_ / file_of(number));
  write_file(dir_ / "outside", "outside\n");
  for (const auto& [number, target] :
       {std::pair{1, "00002.elm"}, {3, "../outside"}, {4, "../missing"}}) {
    fs::remove(work_ / file_of(number));
    fs::create_symlink(target, work_ / file_of(number));
  }
  const Result r = run("--jobs 8 in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, first.out);
  for (int number = 1; number <= 4; ++number) {
    EXPECT_FALSE(fs::is_symlink(work_ / file_of(number))) << number;
    EXPECT_EQ(read_file(work_ / file_of(number)), lines[number]) << number;
  }
  EXPECT_EQ(read_file(dir_ / "outside"), "outside\n");
  EXPECT_EQ(outside_work(), testing::Names{"outside"});
}

// A file that cannot be opened stops the run in the middle of the window:
// no later file changes, though the workers have read them all.
TEST_F(LookAhead, FailureInTheWindowLeavesEveryLaterFileUntouched) {
  write_file(work_ / "in.txt", others_before());
  const Result first = run("--jobs 1 in.txt");
  ASSERT_EQ(first.status, 0);
  std::string input = others_before();
  for (int number = 1; number <= 40; ++number) input += record(number);
  write_file(work_ / "in.txt", input);
  const auto long_ago =
      fs::file_time_type::clock::now() - std::chrono::hours(1000);
  for (const char* jobs : {"4", "256"}) {
    SCOPED_TRACE(jobs);
    for (int number = 4; number <= 40; ++number) {
      write_file(work_ / file_of(number), "old\n");
      fs::last_write_time(work_ / file_of(number), long_ago);
    }
    fs::remove(work_ / file_of(3));
    fs::create_directory(work_ / file_of(3));
    const Result r = run(std::string("--jobs ") + jobs + " in.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, first.out +
                         "00001.elm\n00002.elm\n00003.elm\n00003.elm  "
                         "file not open\n");
    for (int number = 4; number <= 40; ++number) {
      ASSERT_EQ(read_file(work_ / file_of(number)), "old\n") << number;
      ASSERT_EQ(fs::last_write_time(work_ / file_of(number)), long_ago);
    }
    fs::remove(work_ / file_of(3));
  }
}

#ifdef __linux__
// The names of the files read in `folder` (inotify IN_ACCESS), until every
// one of `wanted` was, or none more was for two seconds.
std::set<std::string> files_read(
    int watch, const std::map<std::string, std::string>& wanted) {
  std::set<std::string> read;
  alignas(inotify_event) char events[4096];
  pollfd ready{watch, POLLIN, 0};
  while (read.size() < wanted.size() && ::poll(&ready, 1, 2000) > 0) {
    const ssize_t size = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      if (event->len > 0 && wanted.count(event->name)) read.insert(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return read;
}
#endif

// Another program changes files after the workers read them and before the
// run's thread comes to them: overwrites them in place (a line of another
// length where the look kept the file open), renames a file over them or
// removes them. Each must end holding its line, as with --jobs 1. The run's
// thread is held by a full standard output (a small pipe that the test
// does not read yet) at its first 64 KiB block, about record 6,550; the
// workers read the files of the records after it, up to the input's end,
// meanwhile.
TEST_F(LookAhead, FileChangedAfterItsLookEndsHoldingItsLine) {
#ifndef __linux__
  GTEST_SKIP() << "inotify tells when the workers read a file";
#else
  if (testing::windows_program()) GTEST_SKIP() << "no looks ahead on Windows";
  std::string input;
  for (int number = 1; number <= 7000; ++number) input += record(number);
  write_file(work_ / "in.txt", input);
  const Result first = run("--jobs 1 in.txt");
  ASSERT_EQ(first.status, 0);
  std::map<std::string, std::string> lines;  // of the records 6801-6860
  for (int number = 6801; number <= 6860; ++number) {
    lines[file_of(number)] = read_file(work_ / file_of(number));
    if (number % 4 == 0) write_file(work_ / file_of(number), "old\n");
  }
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, work_.c_str(), IN_ACCESS), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_GT(::fcntl(out[1], F_SETPIPE_SZ, 4096), 0);  // under a 64 KiB block
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(work_.c_str()) != 0 || ::dup2(out[1], 1) < 0) ::_exit(126);
#ifdef ORBELM_EMULATOR
    ::execl(ORBELM_EMULATOR, ORBELM_EMULATOR, ORBELM_PROGRAM, "--jobs", "256",
            "in.txt", nullptr);
#endif
    ::execl(ORBELM_PROGRAM, ORBELM_PROGRAM, "--jobs", "256", "in.txt", nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  const std::set<std::string> looked = files_read(watch, lines);
  ::close(watch);
  ASSERT_FALSE(looked.empty()) << "no file of the records ahead was read";
  int kind = 0;
  for (const std::string& name : looked) {
    const fs::path path = work_ / name;
    const std::string other(
        read_file(path) == "old\n" ? 300 : lines.at(name).size(), 'x');
    if (++kind % 3 == 0) {
      fs::remove(path);
    } else if (kind % 3 == 1) {
      write_file(path, other);  // the same file, cut and written
    } else {
      write_file(dir_ / "other", other);
      fs::rename(dir_ / "other", path);
    }
  }
  std::string printed;
  char block[4096];
  for (ssize_t size; (size = ::read(out[0], block, sizeof block)) > 0;)
    printed.append(block, static_cast<std::size_t>(size));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(printed, first.out);
  for (const auto& [name, line] : lines)
    EXPECT_EQ(read_file(work_ / name), line) << name;
#endif
}

TEST_F(LookAhead, JobsOutOfRangeIsAUsageError) {
  for (const char* jobs : {"0", "257", "x", "-1"}) {
    const Result r = run(std::string("--jobs ") + jobs + " in.txt");
    EXPECT_EQ(r.status, 2) << jobs;
    EXPECT_EQ(r.err, std::string("orbelm: invalid argument '") + jobs +
                         "' for '--jobs'\nUsage: orbelm [OPTIONS] "
                         "[INPUT_FILE...]\nTry 'orbelm --help' for more "
                         "information.\n");
  }
}

}  // namespace
}  // namespace orbelm
