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
#include <fstream>
#include <csignal>
#include <map>
#include <optional>
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

class LookAhead : public testing::ProgramRun {
 protected:
  // Records 1 to 7,000 in in.txt, converted once with one thread.
  Result first_of_seven_thousand() {
    std::string input;
    for (int number = 1; number <= 7000; ++number) input += record(number);
    write_file(work_ / "in.txt", input);
    return run("--jobs 1 in.txt");
  }
};

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
// The names of the files opened (`mask` IN_OPEN) or read (IN_ACCESS) in the
// folder that `watch` watches, until every one of `wanted` was, or none
// more was for two seconds.
std::set<std::string> files_seen(
    int watch, const std::map<std::string, std::string>& wanted,
    std::uint32_t mask) {
  std::set<std::string> seen;
  alignas(inotify_event) char events[4096];
  pollfd ready{watch, POLLIN, 0};
  while (seen.size() < wanted.size() && ::poll(&ready, 1, 2000) > 0) {
    const ssize_t size = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      if (event->len > 0 && (event->mask & mask) != 0 &&
          wanted.count(event->name))
        seen.insert(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return seen;
}

// A run with 256 threads in `folder` whose standard output is a small pipe
// that nobody reads until finish(): the run's thread is held at its first
// 64 KiB block of names, about record 6,550 of 7,000, while the workers
// look at the files of the records after it, up to the input's end.
class HeldRun {
 public:
  explicit HeldRun(const fs::path& folder) {
    if (::pipe(out_) != 0) return;
    ::fcntl(out_[1], F_SETPIPE_SZ, 4096);  // under a 64 KiB block
    child_ = ::fork();
    if (child_ == 0) {
      if (::chdir(folder.c_str()) != 0 || ::dup2(out_[1], 1) < 0) ::_exit(126);
#ifdef ORBELM_EMULATOR
      ::execl(ORBELM_EMULATOR, ORBELM_EMULATOR, ORBELM_PROGRAM, "--jobs",
              "256", "in.txt", nullptr);
#endif
      ::execl(ORBELM_PROGRAM, ORBELM_PROGRAM, "--jobs", "256", "in.txt",
              nullptr);
      ::_exit(127);
    }
    ::close(out_[1]);
  }
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;
  // A test that fails early must not leave the run waiting on its pipe
  // (ctest would wait for it).
  ~HeldRun() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    if (out_[0] >= 0) ::close(out_[0]);
  }

  // Reads what the run prints to its end; its exit status in `status`.
  std::string finish(int* status = nullptr) {
    std::string printed;
    char block[4096];
    for (ssize_t size; (size = ::read(out_[0], block, sizeof block)) > 0;)
      printed.append(block, static_cast<std::size_t>(size));
    ::waitpid(child_, status, 0);
    child_ = -1;
    return printed;
  }

 private:
  int out_[2] = {-1, -1};
  pid_t child_ = -1;
};

// Workers that get little of the cores (the machine busy with other
// programs) leave the looks to the run's thread, and a test of looks made
// ahead has nothing to test: it tries again, then skips.
constexpr int ATTEMPTS = 3;
constexpr const char* TOO_BUSY =
    "the workers looked at no file ahead, three times: the machine is busy";

int watch_folder(const fs::path& folder) {
  const int watch = ::inotify_init1(IN_CLOEXEC);
  if (watch >= 0 &&
      ::inotify_add_watch(watch, folder.c_str(), IN_ACCESS | IN_OPEN) < 0) {
    ::close(watch);
    return -1;
  }
  return watch;
}

// Starts `held` in `folder`, after `prepare()`, until its workers have
// looked (`mask`: opened or read) at some of the files of `lines`, at most
// ATTEMPTS times; the names of those files, none when they never did.
template <class Prepare>
std::set<std::string> looked_at_while_held(
    std::optional<HeldRun>& held, const fs::path& folder,
    const std::map<std::string, std::string>& lines, std::uint32_t mask,
    Prepare prepare) {
  std::set<std::string> looked;
  for (int attempt = 0; attempt < ATTEMPTS && looked.empty(); ++attempt) {
    if (held) held->finish();  // its workers looked at nothing ahead
    prepare();
    const int watch = watch_folder(folder);
    if (watch < 0) return looked;
    held.emplace(folder);
    looked = files_seen(watch, lines, mask);
    ::close(watch);
  }
  return looked;
}
#endif

// Another program changes files after the workers read them and before the
// run's thread comes to them: overwrites them in place (a line of another
// length where the look kept the file open), renames a file over them or
// removes them. Each must end holding its line, as with --jobs 1.
TEST_F(LookAhead, FileChangedAfterItsLookEndsHoldingItsLine) {
#ifndef __linux__
  GTEST_SKIP() << "inotify tells when the workers read a file";
#else
  if (testing::windows_program()) GTEST_SKIP() << "no looks ahead on Windows";
  const Result first = first_of_seven_thousand();
  ASSERT_EQ(first.status, 0);
  std::map<std::string, std::string> lines;  // of the records 6801-6860
  for (int number = 6801; number <= 6860; ++number)
    lines[file_of(number)] = read_file(work_ / file_of(number));
  std::optional<HeldRun> held;
  const std::set<std::string> looked =
      looked_at_while_held(held, work_, lines, IN_ACCESS, [this] {
        for (int number = 6804; number <= 6860; number += 4)
          write_file(work_ / file_of(number), "old\n");
      });
  if (looked.empty()) GTEST_SKIP() << TOO_BUSY;
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
  int status = 0;
  EXPECT_EQ(held->finish(&status), first.out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const auto& [name, line] : lines)
    EXPECT_EQ(read_file(work_ / name), line) << name;
#endif
}

// The folder's files have other names in a snapshot made with cp -al, and
// another program writes through those names, which the folder's watch
// cannot see, into files the workers have looked at and the run's thread
// has not reached. Each must end holding its line, as with --jobs 1; the
// snapshot keeps what was written into it.
TEST_F(LookAhead, WritesThroughASnapshotsNamesAfterTheLookAreUndone) {
#ifndef __linux__
  GTEST_SKIP() << "inotify tells when the workers open a file";
#else
  if (testing::windows_program()) GTEST_SKIP() << "no looks ahead on Windows";
  const Result first = first_of_seven_thousand();
  ASSERT_EQ(first.status, 0);
  const fs::path snapshot = dir_ / "snapshot";
  fs::create_directory(snapshot);
  std::map<std::string, std::string> lines;  // of the records 6801-6860
  for (int number = 1; number <= 7000; ++number) {
    fs::create_hard_link(work_ / file_of(number), snapshot / file_of(number));
    if (number > 6800 && number <= 6860)
      lines[file_of(number)] = read_file(work_ / file_of(number));
  }
  std::optional<HeldRun> held;
  if (looked_at_while_held(held, work_, lines, IN_OPEN, [] {}).empty())
    GTEST_SKIP() << TOO_BUSY;
  const std::string garbage(lines.begin()->second.size() - 1, 'g');
  for (const auto& [name, line] : lines) {
    std::ofstream through(snapshot / name, std::ios::in | std::ios::out);
    through << garbage << '\n';
  }
  int status = 0;
  EXPECT_EQ(held->finish(&status), first.out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const auto& [name, line] : lines) {
    EXPECT_EQ(read_file(work_ / name), line) << name;
    EXPECT_EQ(read_file(snapshot / name), garbage + "\n") << name;
  }
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
