// Runs the built program on small inputs in a fresh temporary folder and
// compares its console output, exit status and element files byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
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
using testing::with_lf_line_ends;
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
    EXPECT_EQ(r.out.rfind("Usage: orbelm [OPTIONS] [INPUT_FILE...]\n", 0), 0u)
        << r.out;
  }
  const Result version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orbelm " ORBELM_VERSION "\n");
  EXPECT_EQ(files(), Names{});
}

// The minor-planet example under another designation of 7 characters and
// another magnitude field.
std::string minor_planet(std::string_view designation, std::string_view h) {
  std::string line = testing::minor_planet_example();
  testing::put(line, 1, designation);
  return testing::put(line, 9, h) + "\n";
}

// Minor planets of magnitude 3.34, none, 15.00 and 12.0d0, and the comet
// example of magnitude 10.5.
std::string magnitudes_input() {
  return minor_planet("K05A00A", " 3.34") + minor_planet("K05A00B", "     ") +
         minor_planet("K05A00C", "15.00") + minor_planet("K05A00D", "12.d0") +
         testing::comet_example() + "\n";
}

TEST_F(EndToEnd, OutputFolderIsMadeWithItsParents) {
  write_file(work_ / "in.txt", mixed_input("\n"));
  const Result r = run("-o out/elements in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(files(), (Names{"in.txt", "out"}));
  EXPECT_EQ(with_lf_line_ends(read_file(work_ / "out/elements/0099P.elm")),
            testing::COMET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(run("--output-dir=out/elements in.txt").out, r.out);

  const Result file = run("-o in.txt/x in.txt");
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.out, "");
  EXPECT_EQ(file.err.rfind("orbelm: cannot use output folder in.txt/x: ", 0),
            0u)
      << file.err;
  EXPECT_EQ(files(), (Names{"in.txt", "out"}));
}

TEST_F(EndToEnd, MaxMagnitudeLeavesOutFainterAndUnknown) {
  write_file(work_ / "in.txt", magnitudes_input());
  const Result r = run("--max-magnitude 12 in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\nK05A00D.elm\n0099P.elm\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(element_file("K05A00A.elm"),
            testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(run("--max-magnitude 10.5 in.txt").out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(run("--max-magnitude=-1 in.txt").out, "");
}

// A record left out is not checked: its designation, which names no file,
// gives no diagnostic.
TEST_F(EndToEnd, KindsLeaveOutTheOtherKindWithoutAWord) {
  std::string path = testing::minor_planet_example();
  path.replace(0, 7, "K/../..");
  write_file(work_ / "in.txt", mixed_input("\n") + path + "\n");
  const Result comets = run("--comets in.txt");
  EXPECT_EQ(comets.status, 0);
  EXPECT_EQ(comets.out, "0099P.elm\n");
  EXPECT_EQ(comets.err, "");
  EXPECT_EQ(run("--minor-planets in.txt").out, "K05A00A.elm\n");
  EXPECT_EQ(run("--comets --minor-planets in.txt").out,
            "K05A00A.elm\n0099P.elm\n");
}

TEST_F(EndToEnd, DesignationListChoosesRecordsAndNamesTheMissing) {
  write_file(work_ / "in.txt", magnitudes_input());
  std::string list = "# watch list\r\n\r\n  0099P \r\nK05A00C\n#K05A00A\n";
  for (int i = 30; i >= 10; --i) list += "K05A0" + std::to_string(i) + "\n";
  write_file(work_ / "list.txt", list + "K05A00C\n");
  const Result r = run("--designations list.txt in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00C.elm\n0099P.elm\n");
  std::string missing;
  for (int i = 30; i > 10; --i)
    missing += "orbelm: listed designation \"K05A0" + std::to_string(i) +
               "\" not found\n";
  EXPECT_EQ(r.err, missing + "orbelm: 21 listed designations not found\n");

  const Result unreadable = run("--designations nothing.txt in.txt");
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.out, "");
  EXPECT_EQ(unreadable.err.rfind(
                "orbelm: cannot read designation list nothing.txt: ", 0),
            0u)
      << unreadable.err;
  EXPECT_EQ(files(), (Names{"0099P.elm", "K05A00C.elm", "in.txt", "list.txt"}));
}

TEST_F(EndToEnd, SelectionsCombineAndOptionsMayFollowTheInput) {
  write_file(work_ / "in.txt", magnitudes_input());
  write_file(work_ / "list.txt", "K05A00A\nK05A00C\nK05A00D\n0099P\n");
  const Result r =
      run("in.txt --minor-planets --designations list.txt --max-magnitude 12.5 "
          "-o out");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\nK05A00D.elm\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(entries(work_ / "out"), (Names{"K05A00A.elm", "K05A00D.elm"}));
  // Options without an input name: the prompt asks for it.
  EXPECT_EQ(run("--comets -o out", "in.txt\n").out, "input_file = 0099P.elm\n");
  // After "--" every argument is an input name.
  write_file(work_ / "-x", testing::comet_example());
  EXPECT_EQ(run("-o out -- -x").out, "0099P.elm\n");
}

TEST_F(EndToEnd, WrongCommandLinesConvertNothing) {
  write_file(work_ / "in.txt", mixed_input("\n"));
  const std::string usage = "Usage: orbelm [OPTIONS] [INPUT_FILE...]\n";
  for (const char* arguments :
       {"--colour in.txt", "in.txt -o", "--max-magnitude abc in.txt",
        "--max-magnitude 12x in.txt", "--max-magnitude nan in.txt",
        "-o a -o b in.txt"}) {
    const Result r = run(arguments);
    EXPECT_EQ(r.status, 2) << arguments;
    EXPECT_EQ(r.out, "") << arguments;
    EXPECT_EQ(r.err.rfind("orbelm: ", 0), 0u) << arguments << r.err;
    EXPECT_TRUE(r.err.ends_with(usage)) << arguments << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
  }
  EXPECT_EQ(files(), Names{"in.txt"});
}

}  // namespace
}  // namespace orbelm
