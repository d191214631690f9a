// The look-ahead window with the built program: whatever the workers read
// ahead, the element files end as a run with one thread leaves them. The
// reference is always the same program with --jobs 1.
#include <gtest/gtest.h>

#include <chrono>
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

// 00001.elm is a link to 00002.elm, which holds its own record's line: the
// first record writes through the link, so the second must write again.
TEST_F(LookAhead, WriteThroughALinkDropsTheLooksAhead) {
  if (testing::windows_program()) GTEST_SKIP() << "no looks ahead on Windows";
  write_file(work_ / "in.txt", amid_others(record(1) + record(2)));
  ASSERT_EQ(run("--jobs 1 in.txt").status, 0);
  const std::string second = read_file(work_ / file_of(2));
  fs::remove(work_ / file_of(1));
  fs::create_symlink(file_of(2), work_ / file_of(1));
  const Result r = run("--jobs 8 in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(work_ / file_of(2)), second);
  EXPECT_TRUE(fs::is_symlink(work_ / file_of(1)));
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
