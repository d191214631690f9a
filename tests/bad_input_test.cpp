// Damaged and crafted inputs run through the built program: whatever the
// input holds, the program neither crashes nor writes outside its folder,
// every good record beside the damage still gets its element file, and the
// exit status tells whether everything was converted.
//
// Expected element lines are the worked examples of sample_records.hpp,
// changed by hand where the damage reaches a field.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "program_run.hpp"
#include "sample_records.hpp"

namespace fs = std::filesystem;

namespace orbelm {
namespace {

using testing::comet_example;
using testing::minor_planet_example;
using testing::Names;
using testing::Result;
using testing::write_file;

const std::string MINOR_PLANET_LINE(testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
const std::string COMET_LINE(testing::COMET_EXAMPLE_ELEMENTS);

// `line` with its first `old_text` replaced by `new_text`.
std::string replaced(std::string line, std::string_view old_text,
                     std::string_view new_text) {
  const std::size_t at = line.find(old_text);
  EXPECT_NE(at, std::string::npos) << old_text;
  return line.replace(at, old_text.size(), new_text);
}

// An element line with another long name (the text before the newline).
std::string with_long_name(const std::string& element_line,
                           std::string_view old_name,
                           std::string_view new_name) {
  return replaced(element_line, std::string(old_name) + "\n",
                  std::string(new_name) + "\n");
}

// The message for a record whose designation (as printed) holds a path
// separator, on input line `line`.
std::string path_rejected(int line, std::string_view designation) {
  return "orbelm: in.txt: line " + std::to_string(line) + ": designation \"" +
         std::string(designation) +
         "\" holds \"/\" or \"\\\", which would name a path; record "
         "not converted\n";
}

class BadInput : public testing::ProgramRun {
 protected:
  // The properties of any run that converted records: every console line
  // names an element file that holds one line ending in the kind flag's
  // name field; standard error holds only rejected records; the status is 1
  // exactly when a record was rejected; nothing lies outside the folder.
  void expect_sound_run(const Result& r) {
    std::istringstream console(r.out);
    for (std::string name; std::getline(console, name);) {
      ASSERT_TRUE(name.ends_with(".elm")) << name;
      EXPECT_EQ(name.find_first_of(std::string("/\\\r\0", 4)),
                std::string::npos);
      const std::string text = element_file(name);
      EXPECT_EQ(text.find('\n'), text.size() - 1) << name;
      ASSERT_GT(text.size(), 21u) << name;
      EXPECT_TRUE(text[20] == '0' || text[20] == '1') << name;
    }
    std::istringstream errors(r.err);
    for (std::string line; std::getline(errors, line);) {
      EXPECT_TRUE(line.starts_with("orbelm: in.txt: line ")) << line;
      EXPECT_TRUE(line.ends_with("; record not converted")) << line;
    }
    EXPECT_EQ(r.status, r.err.empty() ? 0 : 1);
    EXPECT_EQ(outside_work(), Names{});
  }

  // The prefix that runs the program without the power to ignore file
  // permissions: "" when the tests already run without it, else setpriv to
  // the user nobody. Empty optional when running as root and nobody cannot
  // run the program here (no setpriv, no such user, or a build folder that
  // nobody may enter).
  static std::optional<std::string> unprivileged() {
    if (::geteuid() != 0) return "";
    const std::string prefix =
        "setpriv --reuid=nobody --regid=$(id -g nobody) --clear-groups ";
    const std::string probe =
        prefix + testing::program() + " --version >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) return std::nullopt;
    return prefix;
  }
};

TEST_F(BadInput, BinaryGarbageAroundGoodRecords) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string garbage(1 << 20, ' ');
  for (char& c : garbage) c = static_cast<char>(byte(random));
  write_file(work_ / "in.txt", minor_planet_example() + "\n" + garbage + "\n" +
                                   comet_example() + "\n");
  const Result r = run("in.txt");
  EXPECT_TRUE(r.out.starts_with("K05A00A.elm\n")) << r.out.substr(0, 80);
  EXPECT_TRUE(r.out.ends_with("\n0099P.elm\n"));
  expect_sound_run(r);
  EXPECT_EQ(element_file("K05A00A.elm"), MINOR_PLANET_LINE);
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
}

TEST_F(BadInput, NulBytesReadAsBlanks) {
  // In a blank column, in the name columns, right after the name and
  // inside the designation (which it ends, as a blank would).
  std::string blank_column = minor_planet_example();
  blank_column[8 - 1] = '\0';
  blank_column[178 - 1] = '\0';
  std::string after_name = comet_example() + std::string(1, '\0');
  std::string in_designation = minor_planet_example();
  in_designation[4 - 1] = '\0';
  write_file(work_ / "in.txt",
             blank_column + "\n" + after_name + "\n" + in_designation + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\nK05.elm\n");
  expect_sound_run(r);
  EXPECT_EQ(element_file("K05A00A.elm"), MINOR_PLANET_LINE);
  EXPECT_EQ(element_file("0099P.elm"),
            with_long_name(COMET_LINE, "99P/Testcomet", "99P/Testcomet "));
  EXPECT_EQ(element_file("K05.elm"),
            "(9)              K050" + MINOR_PLANET_LINE.substr(21));
}

TEST_F(BadInput, TenMegabyteLineArrivesInPiecesAndCountsAsOneLine) {
  // Only its first piece is a record; the rest are pieces of "x".
  std::string huge = minor_planet_example();
  huge.resize(10 << 20, 'x');
  std::string path = minor_planet_example();
  path.replace(0, 10, "K/../../x ");
  write_file(work_ / "in.txt",
             huge + "\n" + comet_example() + "\n" + path + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err, path_rejected(3, "K/../../x"));
  expect_sound_run(r);
  EXPECT_EQ(element_file("K05A00A.elm"),
            with_long_name(MINOR_PLANET_LINE, "(9) Testname",
                           "(9) Testnamexxxxxxxxxxxxx"));
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
}

TEST_F(BadInput, TabsAndVerticalTabsInFields) {
  // White space before a number is skipped; text fields keep it.
  std::string minor = minor_planet_example();
  testing::put(minor, 8, "\t");
  testing::put(minor, 27, "\v200.0000");
  testing::put(minor, 71, "\t.1000000");
  std::string comet = comet_example();
  testing::put(comet, 31, "\t1.234567");
  testing::put(comet, 52, "\v45.0000");
  write_file(work_ / "in.txt", minor + "\n" + comet + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  expect_sound_run(r);
  EXPECT_EQ(element_file("K05A00A.elm"),
            replaced(MINOR_PLANET_LINE, " 0.1000000 ", " \t.1000000 "));
  EXPECT_EQ(element_file("0099P.elm"),
            replaced(COMET_LINE, "  1.234567 ", " \t1.234567 "));
}

TEST_F(BadInput, BytesAbove127InDesignationsAndNames) {
  std::string minor = minor_planet_example();
  minor.replace(0, 8,
                "K05\xE9"
                "A00A");
  testing::put(minor, 175, "(9) T\xE9stname\xFF");
  std::string rejected = comet_example();
  rejected.replace(0, 10,
                   "0\xFF\x80"
                   "1P/x   ");
  write_file(work_ / "in.txt", minor + "\n" + rejected + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.out,
            "K05\xE9"
            "A00A.elm\n");
  // Standard error shows the bytes escaped, so they cannot drive a
  // terminal.
  EXPECT_EQ(r.err, path_rejected(2, "0\\xFF\\x801P/x"));
  expect_sound_run(r);
  const std::string expected =
      "(9)         K05\xE9"
      "A00A0" +
      with_long_name(MINOR_PLANET_LINE, "(9) Testname", "(9) T\xE9stname\xFF")
          .substr(21);
  EXPECT_EQ(element_file("K05\xE9"
                         "A00A.elm"),
            expected);
}

TEST_F(BadInput, CarriageReturnsAloneDoNotEndLines) {
  // The whole file is one line; with every record padded to 248
  // characters and its CR in column 249, each piece is one record.
  std::string minor = minor_planet_example();
  minor.resize(248, ' ');
  std::string comet = comet_example();
  comet.resize(248, ' ');
  std::string path = comet_example();
  path.replace(0, 11, "    P/../x ");
  path.resize(248, ' ');
  write_file(work_ / "in.txt", minor + "\r" + path + "\r" + comet + "\r");
  const Result r = run("in.txt");
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err, path_rejected(1, "P/../x"));
  expect_sound_run(r);
  EXPECT_EQ(element_file("K05A00A.elm"),
            with_long_name(MINOR_PLANET_LINE, "(9) Testname",
                           "(9) Testname             "));
  EXPECT_EQ(
      element_file("0099P.elm"),
      with_long_name(COMET_LINE, "99P/Testcomet", "99P/Testcomet            "));
}

// A download cut inside the last record: the lines before it are
// converted, the cut record is not (its missing columns would read as
// blanks), later inputs are not read and nothing is pruned. A minor planet
// cut after column 60 in a file; a comet one character short on standard
// input.
TEST_F(BadInput, InputThatEndsInsideARecordStopsTheRunUnpruned) {
  write_file(work_ / "stale.elm", "old\n");
  write_file(work_ / "in.txt",
             comet_example() + "\n" + minor_planet_example().substr(0, 60));
  write_file(work_ / "later.txt", minor_planet_example() + "\n");
  const Result file = run("--prune in.txt later.txt");
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.out, "0099P.elm\n");
  EXPECT_EQ(file.err,
            "orbelm: in.txt: line 2: the input ends inside a record (60 of 202 "
            "characters); the file may be cut short\n");
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
  EXPECT_EQ(files(), (Names{"0099P.elm", "in.txt", "later.txt", "stale.elm"}));

  std::string comet = comet_example();
  const Result piped =
      run("--prune -", minor_planet_example() + "\r\n" +
                           comet.append(159 - comet.size(), ' '));
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.out, "K05A00A.elm\n");
  EXPECT_EQ(piped.err,
            "orbelm: standard input: line 2: the input ends inside a record "
            "(159 of 160 characters); the file may be cut short\n");
  EXPECT_EQ(element_file("K05A00A.elm"), MINOR_PLANET_LINE);
  EXPECT_TRUE(fs::exists(work_ / "stale.elm"));
}

// A cut within the first four characters of the last line leaves too
// little to tell a record from other text ("0001" begins the numbered
// minor planet 00001 and the comet 0001P): the run stops as for a cut
// record. A minor-planet file and a comet one (whose lines may start with
// four blanks), each cut after 1 and after 4 characters.
TEST_F(BadInput, LastLineTooShortToTellItsKindStopsTheRunUnpruned) {
  const std::string minor = minor_planet_example() + "\n";
  const std::string comet = comet_example() + "\n";
  std::string later = minor_planet_example();
  testing::put(later, 1, "K05A00B");
  const struct {
    std::string input;
    const char* out;
    const char* characters;
  } cases[] = {
      {minor + "0", "K05A00A.elm\n", "1 character"},
      {minor + "0001", "K05A00A.elm\n", "4 characters"},
      {comet + " ", "0099P.elm\n", "1 character"},
      {comet + "    ", "0099P.elm\n", "4 characters"},
  };
  for (const auto& [input, out, characters] : cases) {
    write_file(work_ / "stale.elm", "old\n");
    write_file(work_ / "in.txt", input);
    write_file(work_ / "later.txt", later + "\n");
    const Result r = run("--prune in.txt later.txt");
    EXPECT_EQ(r.status, 1) << characters;
    EXPECT_EQ(r.out, out) << characters;
    EXPECT_EQ(r.err, "orbelm: in.txt: line 2: the input ends inside a line (" +
                         std::string(characters) +
                         ", too few to tell its kind); the file may be cut "
                         "short\n");
    EXPECT_TRUE(fs::exists(work_ / "stale.elm")) << characters;
    EXPECT_FALSE(fs::exists(work_ / "K05A00B.elm")) << characters;
  }
}

// Five characters tell a foreign line, and a final CR ends a line (the
// first half of a CR LF): such last lines are skipped, as with a line end.
TEST_F(BadInput, ShortForeignLastLinesWithoutALineEndAreSkipped) {
  for (const char* last : {"-----", "0001\r", "\r"}) {
    write_file(work_ / "in.txt", comet_example() + "\n" + last);
    const Result r = run("in.txt");
    EXPECT_EQ(r.status, 0) << last;
    EXPECT_EQ(r.out, "0099P.elm\n") << last;
    EXPECT_EQ(r.err, "") << last;
  }
}

TEST_F(BadInput, DesignationsThatArePathsNeverLeaveTheFolder) {
  // The folders exist, so each path would resolve if it were opened.
  fs::create_directory(work_ / "K");
  fs::create_directory(work_ / "P");
  std::string up = minor_planet_example();
  up.replace(0, 10, "K/../../x ");
  std::string down = comet_example();
  down.replace(0, 11, "    P/../x ");
  std::string backslash = comet_example();
  backslash.replace(0, 11, "0001P\\..\\x ");
  write_file(work_ / "in.txt", up + "\n" + comet_example() + "\n" + down +
                                   "\n" + backslash + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n");
  EXPECT_EQ(r.err, path_rejected(1, "K/../../x") + path_rejected(3, "P/../x") +
                       path_rejected(4, "0001P\\..\\x"));
  expect_sound_run(r);
  EXPECT_EQ(files(), (Names{"0099P.elm", "K", "P", "in.txt"}));
  EXPECT_EQ(entries(work_ / "K"), Names{});
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
}

TEST_F(BadInput, UnreadableInputFile) {
  const std::optional<std::string> as_user = unprivileged();
  if (!as_user) GTEST_SKIP() << "root, and the program cannot run as nobody";
  write_file(work_ / "in.txt", comet_example() + "\n");
  fs::permissions(work_ / "in.txt", fs::perms::none);
  const Result r = run("in.txt", "", *as_user);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "in.txt  file not open\n");
  EXPECT_EQ(files(), Names{"in.txt"});
}

// Standard input closed (0<&-): said so, not read as whatever the run opened
// first under its number (the folder: "Is a directory").
TEST_F(BadInput, ClosedStandardInput) {
  write_file(work_ / "in.txt", comet_example() + "\n");
  const Result r = run("in.txt -", "", "sh -c 'exec \"$0\" \"$@\" 0<&-' ");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n");
  EXPECT_EQ(r.err, "orbelm: cannot read standard input: it is closed\n");
}

TEST_F(BadInput, ReadOnlyOutputFolder) {
  const std::optional<std::string> as_user = unprivileged();
  if (!as_user) GTEST_SKIP() << "root, and the program cannot run as nobody";
  write_file(work_ / "in.txt",
             comet_example() + "\n" + minor_planet_example() + "\n");
  fs::permissions(work_, fs::perms::owner_read | fs::perms::owner_exec |
                             fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  const Result r = run("in.txt", "", *as_user);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n0099P.elm  file not open\n");
  EXPECT_EQ(files(), Names{"in.txt"});
}

// A file that holds its line needs no writing, so no write access: left
// as it is by every run, whatever its threads; the one that differs is not.
TEST_F(BadInput, FileHoldingItsLineInReadOnlyFolder) {
  const std::optional<std::string> as_user = unprivileged();
  if (!as_user) GTEST_SKIP() << "root, and the program cannot run as nobody";
  write_file(work_ / "in.txt",
             comet_example() + "\n" + minor_planet_example() + "\n");
  ASSERT_EQ(run("in.txt").status, 0);
  write_file(work_ / "K05A00A.elm", "old\n");
  fs::permissions(
      work_,
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
      fs::perm_options::remove);
  for (const char* jobs : {"--jobs 1 ", "--jobs 4 "}) {
    const Result r = run(std::string(jobs) + "in.txt", "", *as_user);
    EXPECT_EQ(r.status, 1) << jobs;
    EXPECT_EQ(r.out, "0099P.elm\nK05A00A.elm\nK05A00A.elm  file not open\n")
        << jobs;
  }
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
  EXPECT_EQ(element_file("K05A00A.elm"), "old\n");
}

// Files may hold the comet's line (130 bytes), not the minor planet's (133).
TEST_F(BadInput, DiskFullAfterAGoodRecord) {
  const std::string limit = testing::file_size_limit(130);
  if (limit.empty()) GTEST_SKIP() << "no prlimit here";
  write_file(work_ / "in.txt", comet_example() + "\n" + minor_planet_example() +
                                   "\n" + comet_example() + "X\n");
  const Result r = run("in.txt", "", limit);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\nK05A00A.elm\nK05A00A.elm  file not written\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "in.txt"}));
  EXPECT_EQ(element_file("0099P.elm"), COMET_LINE);
}

}  // namespace
}  // namespace orbelm
