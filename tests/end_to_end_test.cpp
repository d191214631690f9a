// Runs the built program on small inputs in a fresh temporary folder and
// compares its console output, exit status and element files byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "program_run.hpp"
#include "sample_records.hpp"

namespace fs = std::filesystem;

namespace orbelm {
namespace {

using testing::Names;
using testing::read_file;
using testing::Result;
using testing::windows_program;
using testing::write_file;

class EndToEnd : public testing::ProgramRun {};

std::string mixed_input(std::string_view line_end) {
  std::string text;
  for (const std::string& line :
       {std::string("Des'n     H     G   Epoch"), std::string(),
        testing::minor_planet_example(), std::string("----------"),
        testing::comet_example(), std::string()}) {
    text += line;
    text += line_end;
  }
  return text;
}

TEST_F(EndToEnd, WorkedExamplesInAMixedFile) {
  write_file(work_ / "in.txt", mixed_input("\n"));
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(files(), (Names{"0099P.elm", "K05A00A.elm", "in.txt"}));
  EXPECT_EQ(element_file("K05A00A.elm"),
            testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

TEST_F(EndToEnd, SampleInputGivesTheExpectedFiles) {
  // examples/expected holds the console output and element files of the
  // sample run, worked out by the independent model of tests/model.
  const fs::path examples = ORBELM_EXAMPLES;
  const Result r = run(
      std::string("'").append((examples / "sample.txt").string()).append("'"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, read_file(examples / "expected" / "console.txt"));
  for (const auto& entry : fs::directory_iterator(examples / "expected")) {
    const std::string name = entry.path().filename().string();
    if (name != "console.txt") {
      EXPECT_EQ(element_file(name), read_file(entry.path())) << name;
    }
  }
  EXPECT_EQ(files().size(), 17u);
}

TEST_F(EndToEnd, ExistingFilesLongerShorterOrAsLongAreReplacedExactly) {
  // Files are overwritten in place and cut only when they were longer, so
  // a missed cut would leave the old file's tail behind the new line. The
  // same length is the length on disk (on Windows a CR before the LF).
  const fs::path expected = fs::path(ORBELM_EXAMPLES) / "expected";
  const std::size_t carriage_return = windows_program() ? 1 : 0;
  int replaced = 0;
  for (const auto& entry : fs::directory_iterator(expected)) {
    const std::string name = entry.path().filename().string();
    if (name == "console.txt") continue;
    const std::size_t size = read_file(entry.path()).size() + carriage_return;
    std::string same_length(size, 'x');
    same_length.back() = '\n';
    const std::string old_text[] = {std::string(size + 300, 'x'), "x\n",
                                    same_length};
    write_file(work_ / name, old_text[replaced++ % 3]);
  }
  ASSERT_GE(replaced, 3);
  const Result r = run(std::string("'")
                           .append((expected / ".." / "sample.txt").string())
                           .append("'"));
  EXPECT_EQ(r.status, 0);
  for (const auto& entry : fs::directory_iterator(expected)) {
    const std::string name = entry.path().filename().string();
    if (name != "console.txt") {
      EXPECT_EQ(element_file(name), read_file(entry.path())) << name;
    }
  }
}

TEST_F(EndToEnd, CarriageReturnLineEndsReadTheSame) {
  write_file(work_ / "in.txt", mixed_input("\r\n"));
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(element_file("K05A00A.elm"),
            testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

TEST_F(EndToEnd, LastLineWithoutNewline) {
  write_file(work_ / "in.txt", testing::comet_example());
  EXPECT_EQ(run("in.txt").out, "0099P.elm\n");
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

TEST_F(EndToEnd, PromptAsksForTheFileName) {
  write_file(work_ / "in.txt", testing::comet_example() + "\n");
  const Result r = run("", "  in.txt\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "input_file = 0099P.elm\n");
}

TEST_F(EndToEnd, InputEndsBeforeAFileNameIsTyped) {
  const Result r = run("", " \n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "input_file = \n");
  EXPECT_EQ(r.err, "orbelm: no input file name given\n");
  EXPECT_EQ(files(), Names{});
}

TEST_F(EndToEnd, LongInputFileNames) {
  const std::string name(200, 'n');
  write_file(work_ / name, testing::comet_example() + "\n");
  EXPECT_EQ(run(name).out, "0099P.elm\n");
  fs::remove(work_ / "0099P.elm");
  EXPECT_EQ(run("", name + "\n").out, "input_file = 0099P.elm\n");
}

TEST_F(EndToEnd, InputThatCannotBeOpened) {
  const Result missing = run("missing.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "missing.txt  file not open\n");
  fs::create_directory(work_ / "folder");
  const Result folder = run("folder");
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "folder  file not open\n");
  EXPECT_EQ(files(), Names{"folder"});
}

TEST_F(EndToEnd, NothingToConvert) {
  write_file(work_ / "empty.txt", "");
  write_file(work_ / "foreign.txt", "\n\nDes'n  H\n0001C\n    AK18V030\n");
  for (const char* input : {"empty.txt", "foreign.txt"}) {
    const Result r = run(input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(files(), (Names{"empty.txt", "foreign.txt"}));
}

TEST_F(EndToEnd, LaterRecordWithTheSameDesignationWins) {
  std::string later = testing::comet_example();
  testing::put(later, 82, "20100723");
  write_file(work_ / "in.txt", testing::comet_example() + "\n" + later + "\n");
  EXPECT_EQ(run("in.txt").out, "0099P.elm\n0099P.elm\n");
  EXPECT_EQ(element_file("0099P.elm"),
            testing::COMET_EXAMPLE_WITH_EPOCH_ELEMENTS);
}

TEST_F(EndToEnd, DesignationsThatAreNotFileNamesAreReportedAndSkipped) {
  std::string path = testing::minor_planet_example();
  path.replace(0, 7, "K/../..");
  std::string long_name = testing::minor_planet_example();
  long_name.replace(0, 12, "K05A00A00000");  // the token runs on to column 13
  write_file(work_ / "in.txt",
             path + "\n" + long_name + "\n" + testing::comet_example() + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: line 1: designation \"K/../..\" holds \"/\" or \"\\\", "
            "which would name a path; record not converted\n"
            "orbelm: line 2: designation \"K05A00A000004\" is longer than 11 "
            "characters; record not converted\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "in.txt"}));
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

TEST_F(EndToEnd, DiagnosticsEscapeAndShortenDesignations) {
  // A token of 60 characters that starts with an escape sequence; the
  // diagnostic shows its first 40 (K, ESC, "[2J" and 35 nines).
  write_file(work_ / "in.txt", "K\x1b[2J" + std::string(54, '9') + " 3.34\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orbelm: line 1: designation \"K\\x1B[2J" +
                       std::string(35, '9') +
                       "...\" is longer than 11 characters; record not "
                       "converted\n");
}

// "NUL.elm" names the null device on Windows and "C:12345.elm" a file in
// another folder (drive C's current one); the Windows build skips such
// records, while on other systems they are plain file names.
TEST_F(EndToEnd, DesignationsThatWindowsCannotNameAreSkippedOnWindows) {
  std::string device = testing::minor_planet_example();
  device.replace(0, 7, "NUL 1  ");
  std::string drive = testing::minor_planet_example();
  drive.replace(0, 7, "C:12345");
  write_file(work_ / "in.txt",
             device + "\n" + drive + "\n" + testing::comet_example() + "\n");
  const Result r = run("in.txt");
  if (!windows_program()) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "NUL.elm\nC:12345.elm\n0099P.elm\n");
    EXPECT_EQ(files(),
              (Names{"0099P.elm", "C:12345.elm", "NUL.elm", "in.txt"}));
    return;
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: line 1: designation \"NUL\" is a Windows device name; "
            "record not converted\n"
            "orbelm: line 2: designation \"C:12345\" holds a character that a "
            "Windows file name cannot hold; record not converted\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "in.txt"}));
}

TEST_F(EndToEnd, ElementFileThatCannotBeOpenedStopsTheRun) {
  fs::create_directory(work_ / "K05A00A.elm");
  write_file(work_ / "in.txt", testing::comet_example() + "\n" +
                                   testing::minor_planet_example() + "\n" +
                                   testing::comet_example() + "X\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\nK05A00A.elm\nK05A00A.elm  file not open\n");
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

TEST_F(EndToEnd, ElementFileThatCannotBeWrittenIsRemoved) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  fs::create_symlink("/dev/full", work_ / "0099P.elm");
  write_file(work_ / "in.txt", testing::comet_example() + "\n" +
                                   testing::minor_planet_example() + "\n");
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n0099P.elm  file not written\n");
  if (windows_program())
    GTEST_SKIP() << "Wine cannot delete a link to a device, so the removal "
                    "of the partial file cannot be seen here";
  EXPECT_EQ(files(), Names{"in.txt"});
}

TEST_F(EndToEnd, FailedConsoleWriteIsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  write_file(work_ / "in.txt", testing::comet_example() + "\n");
  const std::string command = "cd '" + work_.string() + "' && " +
                              testing::program() +
                              " in.txt >/dev/full 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
}

TEST_F(EndToEnd, HelpAndVersion) {
  for (const char* option : {"-h", "--help"}) {
    const Result r = run(option);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: orbelm [INPUT_FILE]\n", 0), 0u) << r.out;
  }
  const Result version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orbelm " ORBELM_VERSION "\n");
  EXPECT_EQ(files(), Names{});
}

}  // namespace
}  // namespace orbelm
