// Runs the built program on small inputs in a fresh temporary folder and
// compares its console output, exit status and element files byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <util.h>  // openpty, forkpty
#else
#include <pty.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "calendar.hpp"
#include "gzip_data.hpp"
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

// `text` with a CR before every LF.
std::string with_crlf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

class EndToEnd : public testing::ProgramRun {
 protected:
  // The files of the work folder by name, with their contents; removes
  // them, so that the next run starts in an empty folder again.
  std::map<std::string, std::string> take_files() {
    std::map<std::string, std::string> taken;
    for (const std::string& name : files()) {
      taken[name] = read_file(work_ / name);
      fs::remove(work_ / name);
    }
    return taken;
  }

  // Why no pseudo-terminal can be opened here (a container or chroot
  // without /dev/pts), or "" when one can.
  static std::string no_pseudo_terminal() {
    int controller = -1;
    int terminal = -1;
    if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0)
      return std::strerror(errno);
    close(controller);
    close(terminal);
    return {};
  }

  // Runs the program with standard error on a pseudo-terminal, and
  // standard output on it too or in ../stdout; returns what the terminal
  // received.
  std::string run_on_terminal(const std::string& arguments,
                              bool stdout_on_terminal) {
    const std::string command = "cd '" + work_.string() + "' && " +
                                testing::program() + " " + arguments +
                                (stdout_on_terminal ? "" : " >../stdout");
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
      ADD_FAILURE() << "forkpty: " << std::strerror(errno);
      return {};
    }
    if (child == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    std::string shown;
    char buffer[4096];
    ssize_t count;
    while ((count = read(terminal, buffer, sizeof buffer)) > 0)
      shown.append(buffer, static_cast<std::size_t>(count));
    int status = -1;
    waitpid(child, &status, 0);
    close(terminal);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    return shown;
  }
};

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

// The sample with CR LF line ends and no newline after its last line,
// stored plain under a ".gz" name, compressed under a ".txt" name, as two
// gzip members split between a CR and its LF, and on standard input plain
// and compressed: every run is the plain file's run.
TEST_F(EndToEnd, GzipAndStandardInputReadAsThePlainFile) {
  std::string text =
      with_crlf(read_file(fs::path(ORBELM_EXAMPLES) / "sample.txt"));
  text.resize(text.size() - 2);
  const std::size_t split = text.find("\r\n", text.size() / 2) + 1;
  const std::string packed = testing::gzip(text);
  write_file(dir_ / "plain.gz", text);
  write_file(dir_ / "packed.txt", packed);
  write_file(dir_ / "members.txt", testing::gzip(text.substr(0, split)) +
                                       testing::gzip(text.substr(split)));

  const Result plain = run("../plain.gz");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(plain.out,
            read_file(fs::path(ORBELM_EXAMPLES) / "expected" / "console.txt"));
  const auto plain_files = take_files();
  EXPECT_EQ(plain_files.size(), 17u);
  const std::pair<std::string, std::string> runs[] = {{"../packed.txt", ""},
                                                      {"../members.txt", ""},
                                                      {"-", text},
                                                      {"-", packed}};
  for (const auto& [arguments, input] : runs) {
    const Result r = run(arguments, input);
    EXPECT_EQ(r.status, plain.status) << arguments;
    EXPECT_EQ(r.out, plain.out) << arguments;
    EXPECT_EQ(r.err, plain.err) << arguments;
    EXPECT_EQ(take_files(), plain_files) << arguments;
  }
}

// Six lines with two records, then a record that the damage cuts: exactly
// the six lines are converted. The damage is a stored block cut after 100
// of its bytes, or a stored block's header turned into an invalid block
// type; a wrong checksum is found after the whole text.
TEST_F(EndToEnd, DamagedGzipConvertsTheWholeLinesBeforeTheDamage) {
  const std::string lines = mixed_input("\n");
  const std::string cut = testing::minor_planet_example() + "\n";
  std::size_t at = 0;
  const std::string data = testing::gzip(lines, cut, &at);
  ASSERT_EQ(data.substr(at + 5, cut.size()), cut);
  std::string invalid = data;
  invalid[at] = static_cast<char>(invalid[at] | 0x06);
  std::string checksum = data;
  checksum[data.size() - 8] = static_cast<char>(~checksum[data.size() - 8]);
  write_file(work_ / "cut.gz", data.substr(0, at + 5 + 100));
  write_file(work_ / "invalid.gz", invalid);
  write_file(work_ / "checksum.gz", checksum);

  const struct {
    const char* input;
    const char* console;
    const char* error;
  } cases[] = {
      {"cut.gz", "K05A00A.elm\n0099P.elm\n",
       "orbelm: cut.gz: compressed data ends early; lines after line 6 not "
       "converted\n"},
      {"invalid.gz", "K05A00A.elm\n0099P.elm\n",
       "orbelm: invalid.gz: compressed data is damaged (invalid block type); "
       "lines after line 6 not converted\n"},
      {"checksum.gz", "K05A00A.elm\n0099P.elm\nK05A00A.elm\n",
       "orbelm: checksum.gz: compressed data is damaged (incorrect data "
       "check); lines after line 7 not converted\n"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.input);
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_EQ(r.out, c.console) << c.input;
    EXPECT_EQ(r.err, c.error) << c.input;
    EXPECT_EQ(element_file("K05A00A.elm"),
              testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
    EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
  }
}

// Line numbers count in each input; the later input's record wins; an
// input that cannot be opened stops the run before the inputs after it.
TEST_F(EndToEnd, SeveralInputsConvertInOrderAsOneRun) {
  std::string path = testing::comet_example();
  path.replace(0, 7, "0099P/x");
  std::string later = testing::comet_example();
  testing::put(later, 82, "20100723");
  write_file(work_ / "a.txt", testing::comet_example() + "\n" + path + "\n");
  write_file(work_ / "b.txt", path + "\n" + later + "\n");
  const std::string rejected =
      ": designation \"0099P/x\" holds \"/\" or \"\\\", which would name a "
      "path; record not converted\n";

  const Result both = run("a.txt b.txt");
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.out, "0099P.elm\n0099P.elm\n");
  EXPECT_EQ(both.err, "orbelm: a.txt: line 2" + rejected +
                          "orbelm: b.txt: line 1" + rejected);
  EXPECT_EQ(element_file("0099P.elm"),
            testing::COMET_EXAMPLE_WITH_EPOCH_ELEMENTS);

  const Result missing = run("b.txt missing.txt a.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "0099P.elm\nmissing.txt  file not open\n");
  EXPECT_EQ(element_file("0099P.elm"),
            testing::COMET_EXAMPLE_WITH_EPOCH_ELEMENTS);
}

TEST_F(EndToEnd, ProgressShowsOnlyWhenStandardErrorAloneIsATerminal) {
  if (windows_program())
    GTEST_SKIP() << "a Windows program under Wine sees no Linux terminal";
  if (const std::string why = no_pseudo_terminal(); !why.empty())
    GTEST_SKIP() << "no pseudo-terminal can be opened here (" << why
                 << "): is /dev/pts mounted?";
  const std::string sample =
      std::string("'")
          .append(fs::path(ORBELM_EXAMPLES) / "sample.txt")
          .append("'");
  const std::string console =
      read_file(fs::path(ORBELM_EXAMPLES) / "expected" / "console.txt");

  const std::string shown = run_on_terminal(sample, false);
  EXPECT_NE(shown.find("orbelm: 100% read, 17 element files (17 new, 0 "
                       "changed, 0 unchanged), "),
            std::string::npos)
      << shown;
  EXPECT_TRUE(shown.ends_with(" s\r\n")) << shown;
  EXPECT_EQ(read_file(dir_ / "stdout"), console);

  // The terminal ends lines in CR LF.
  EXPECT_EQ(run_on_terminal(sample, true), with_crlf(console));
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

// A whole comet record is 160 characters or more; cut shorter, see
// BadInput.InputThatEndsInsideARecordStopsTheRunUnpruned.
TEST_F(EndToEnd, WholeLastRecordWithoutNewlineIsConverted) {
  std::string whole = testing::comet_example();
  write_file(work_ / "in.txt", whole.append(160 - whole.size(), ' '));
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0099P.elm\n");
  EXPECT_EQ(r.err, "");
  // The long name "99P/Testcomet" now has the blanks to column 127.
  std::string expected(testing::COMET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(element_file("0099P.elm"),
            expected.insert(expected.size() - 1, 12, ' '));
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
  EXPECT_EQ(
      r.err,
      "orbelm: in.txt: line 1: designation \"K/../..\" holds \"/\" or \"\\\", "
      "which would name a path; record not converted\n"
      "orbelm: in.txt: line 2: designation \"K05A00A000004\" is longer than 11 "
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
  EXPECT_EQ(r.err, "orbelm: in.txt: line 1: designation \"K\\x1B[2J" +
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
  EXPECT_EQ(
      r.err,
      "orbelm: in.txt: line 1: designation \"NUL\" is a Windows device name; "
      "record not converted\n"
      "orbelm: in.txt: line 2: designation \"C:12345\" holds a character that "
      "a "
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

// The comet's line (130 bytes) is written in part: the file is removed.
TEST_F(EndToEnd, ElementFileThatCannotBeWrittenIsRemoved) {
  const std::string limit = testing::file_size_limit(100);
  if (limit.empty() || windows_program())
    GTEST_SKIP() << "no prlimit, or a limit would hold Wine's own files";
  write_file(work_ / "0099P.elm", "old\n");
  write_file(work_ / "in.txt", testing::comet_example() + "\n" +
                                   testing::minor_planet_example() + "\n");
  const Result r = run("in.txt", "", limit);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0099P.elm\n0099P.elm  file not written\n");
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
  write_file(work_ / "-x", testing::comet_example() + "\n");
  EXPECT_EQ(run("-o out -- -x").out, "0099P.elm\n");
}

// The line of examples/sample.txt that starts with `start` (which appears
// nowhere before it), with `text` put in from `column`.
std::string sample_line(std::string_view start, int column = 1,
                        std::string_view text = "") {
  const std::string sample =
      read_file(fs::path(ORBELM_EXAMPLES) / "sample.txt");
  const std::size_t at = sample.find(start);
  std::string line = sample.substr(at, sample.find('\n', at) - at);
  return testing::put(line, column, text) + "\n";
}

// The published line of the fragment 51P-A, then the same line as the
// comet's own and with letters in forms that make no fragment. Its element
// line was checked by hand against its columns: perihelion 2022 10 3.9475
// = 2459856.4475, epoch 2021 10 16 = 2459503.5, i 5.4259, w 269.2603, node
// 83.6762 degrees, (8.0 * 2.5) * 10000 + 10.0.
TEST_F(EndToEnd, FragmentsOfANumberedCometGetFilesOfTheirOwn) {
  std::string input = sample_line("0051P      a");
  for (const char* columns :
       {"        ", "      A ", "    abc ", "     a  ", "     1a ", "      ab"})
    input += sample_line("0051P      a", 6, columns);
  write_file(work_ / "in.txt", input);
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "0051Pa.elm\n0051P.elm\n0051P.elm\n0051P.elm\n0051P.elm\n"
            "0051P.elm\n0051P.elm\n");
  const std::string rest =
      " 2459856.44750  1.692760  0.543479 0.0946998 4.6994788 1.4604252 "
      "200010.0 2000.0 2459503.50000 51P-A/Harrington         \n";
  EXPECT_EQ(element_file("0051Pa.elm"), "51P-A/Harr    0051Pa1" + rest);
  EXPECT_EQ(element_file("0051P.elm"), "51P-A/Harr     0051P1" + rest);
  write_file(work_ / "list.txt", "0051Pa\n");
  EXPECT_EQ(run("--designations list.txt in.txt").out, "0051Pa.elm\n");
}

// The published line of A/2018 V3, an asteroid on a cometary orbit, then
// the same record as the interstellar object 0003I, and with a blank and
// "I" or a digit and "A" in columns 1 and 5, which no option makes records.
// Hand-checked: perihelion 2019 09 8.7340 = 2458735.2340, epoch 2021 10 16,
// i 164.9772, w 3.5552, node 308.6594 degrees, (2.0 * 2.5) * 10000 + 15.7.
TEST_F(EndToEnd, InterstellarAndAsteroidalOrbitObjectsOnlyOnRequest) {
  const std::string asteroid = "    AK18V030";
  write_file(work_ / "in.txt", sample_line(asteroid) +
                                   sample_line(asteroid, 1, "0003I       ") +
                                   sample_line(asteroid, 5, "I") +
                                   sample_line(asteroid, 1, "0003A") +
                                   testing::comet_example() + "\n");
  EXPECT_EQ(run("in.txt").out, "0099P.elm\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "in.txt"}));

  const Result r = run("--all-comet-types in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "AK18V030.elm\n0003I.elm\n0099P.elm\n");
  const std::string rest =
      " 2458735.23400  1.341293  0.989180 2.8793953 0.0620499 5.3871228  "
      "50015.7 2000.0 2459503.50000 A/2018 V3                \n";
  EXPECT_EQ(element_file("AK18V030.elm"), "A/2018 V3   AK18V0301" + rest);
  EXPECT_EQ(element_file("0003I.elm"), "A/2018 V3      0003I1" + rest);
  EXPECT_EQ(run("--all-comet-types --comets in.txt").out, r.out);
  EXPECT_EQ(run("--all-comet-types --minor-planets in.txt").out, "");
}

// The fields of one CSV line (RFC 4180 quoting).
std::vector<std::string> csv_fields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (quoted && line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"')
      fields.back() += line[i++];
    else if (line[i] == '"')
      quoted = !quoted;
    else if (line[i] == ',' && !quoted)
      fields.emplace_back();
    else
      fields.back() += line[i];
  }
  return fields;
}

// "2026-12-11T05:37:30Z" as a Julian Day.
double iso_instant(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  EXPECT_EQ(std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%dZ", &year, &month, &day,
                        &hour, &minute, &second),
            6)
      << text;
  return julian_day(year, month,
                    day + (hour * 3600 + minute * 60 + second) / 86400.0);
}

// What an independent computation finds of a record over a window.
struct Seen {
  const char* designation;
  double magnitude;
  const char* instant;
  double elongation;  // degrees
  double r;           // AU
  double delta;       // AU
};

// The published records of tests/data and a copy of (4) Vesta's line under
// the designation K26V04A with a name that CSV must quote, over the 30 days
// from 2026-12-11 at V 14 or brighter, 40 degrees or more from the Sun.
// Expected: `tests/model/sky_reference.py --list 2026-12-11 30 14 40
// tests/data/*.txt` (ERFA's Earth, classical anomalies, the window sampled
// every 0.02 day and refined): these ten, the next brightest at 14.89
// (Eros). The copy ties with 00004 and follows it. Tolerances: 0.05 mag;
// the instant within 0.25 day and the elongation within 0.5 degree, r and Δ
// within 0.005 AU (the magnitude of a main-belt object changes by 0.01 mag
// in hours, so the search's instant may lie that far from the reference's).
TEST_F(EndToEnd, ApparentMagnitudeSelectsAndReportsWhatTheReferenceSees) {
  const fs::path data = fs::path(ORBELM_EXAMPLES) / ".." / "tests" / "data";
  const std::string minor_planets =
      read_file(data / "minor-planets-sample.txt");
  const std::size_t vesta = minor_planets.find("\n00004 ") + 1;
  std::string copy = minor_planets.substr(vesta, 202);
  testing::put(copy, 1, "K26V04A");
  testing::put(copy, 167, "    Vesta, \"copy\"           ");
  write_file(work_ / "in.txt", minor_planets + copy + "\n" +
                                   read_file(data / "comets-sample.txt"));
  const Result r =
      run("--max-apparent-magnitude 14 --date 2026-12-11 --days 30 "
          "--min-elongation 40 --report seen.csv -o out in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "00001.elm\n00002.elm\n00003.elm\n00004.elm\n00005.elm\n"
            "00006.elm\n00007.elm\n00008.elm\n00009.elm\n00010.elm\n"
            "K26V04A.elm\n");
  EXPECT_EQ(entries(work_ / "out").size(), 11u);

  const Seen expected[] = {
      {"00001", 6.7763, "2027-01-07T15:10:48Z", 172.34, 2.605830, 1.627924},
      {"00004", 7.7246, "2026-12-11T00:00:00Z", 114.02, 2.511843, 1.944367},
      {"K26V04A", 7.7246, "2026-12-11T00:00:00Z", 114.02, 2.511843, 1.944367},
      {"00002", 9.0176, "2026-12-11T00:00:00Z", 103.34, 2.649643, 2.243033},
      {"00006", 9.8827, "2027-01-10T00:00:00Z", 132.72, 2.606704, 1.837435},
      {"00003", 10.2922, "2027-01-06T22:56:56Z", 40.00, 2.353326, 3.020148},
      {"00010", 10.9090, "2027-01-10T00:00:00Z", 119.25, 3.060651, 2.457393},
      {"00009", 10.9969, "2026-12-11T00:00:00Z", 80.11, 2.258716, 2.208955},
      {"00008", 11.0888, "2027-01-09T22:59:31Z", 40.00, 1.944387, 2.592112},
      {"00007", 11.5257, "2027-01-10T00:00:00Z", 53.16, 2.932153, 3.414269},
      {"00005", 12.7156, "2026-12-11T00:00:00Z", 75.79, 2.952651, 3.035849},
  };
  const std::string report = with_lf_line_ends(read_file(work_ / "seen.csv"));
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < report.size();) {
    const std::size_t end = report.find('\n', at);
    lines.push_back(report.substr(at, end - at));
    at = end == std::string::npos ? report.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), std::size(expected) + 1) << report;
  EXPECT_EQ(lines[0],
            "designation,name,kind,magnitude,time_utc,elongation_deg,r_au,"
            "delta_au");
  EXPECT_TRUE(lines[3].starts_with("K26V04A,\"Vesta, \"\"copy\"\"\",minor"))
      << lines[3];
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Seen& e = expected[i];
    const std::vector<std::string> f = csv_fields(lines[i + 1]);
    ASSERT_EQ(f.size(), 8u) << lines[i + 1];
    EXPECT_EQ(f[0], e.designation);
    EXPECT_EQ(f[2], "minor planet") << e.designation;
    EXPECT_NEAR(std::stod(f[3]), e.magnitude, 0.05) << e.designation;
    EXPECT_NEAR(iso_instant(f[4]), iso_instant(e.instant), 0.25)
        << e.designation;
    EXPECT_NEAR(std::stod(f[5]), e.elongation, 0.5) << e.designation;
    EXPECT_NEAR(std::stod(f[6]), e.r, 0.005) << e.designation;
    EXPECT_NEAR(std::stod(f[7]), e.delta, 0.005) << e.designation;
  }
  EXPECT_EQ(csv_fields(lines[3])[1], "Vesta, \"copy\"");
  EXPECT_EQ(csv_fields(lines[1])[1], "(1) Ceres");
}

// (1) Ceres is never fainter than V 9.3, (7066) Nessus, a centaur of H 9.6
// some 20 AU away, never brighter than about V 22: with V 12 or brighter
// Nessus's file is stale. A dry run names it and writes the report
// (it is not the element folder); the run removes it.
TEST_F(EndToEnd, RecordsNotSeenAreStaleForPrune) {
  write_file(work_ / "in.txt", sample_line("00001 ") + sample_line("07066 "));
  ASSERT_EQ(run("in.txt").status, 0);
  const std::string seen =
      "--max-apparent-magnitude 12 --date 2026-12-11 --prune --report r.csv "
      "in.txt";
  const Result dry = run("--dry-run " + seen);
  EXPECT_EQ(dry.status, 0);
  EXPECT_EQ(dry.out, "00001.elm\n");
  EXPECT_EQ(dry.err,
            "orbelm: would remove 07066.elm\n"
            "orbelm: dry run, nothing written: 0 element files would be "
            "created, 0 changed, 1 left unchanged, 1 removed\n");
  EXPECT_EQ(files(), (Names{"00001.elm", "07066.elm", "in.txt", "r.csv"}));
  const std::string report = with_lf_line_ends(read_file(work_ / "r.csv"));
  EXPECT_TRUE(report.starts_with(
      "designation,name,kind,magnitude,time_utc,elongation_deg,r_au,"
      "delta_au\n00001,(1) Ceres,minor planet,"))
      << report;

  const Result pruned = run(seen);
  EXPECT_EQ(pruned.status, 0);
  EXPECT_EQ(pruned.out, "00001.elm\n");
  EXPECT_EQ(pruned.err,
            "orbelm: removed 1 element file that this run did not write\n");
  EXPECT_EQ(files(), (Names{"00001.elm", "in.txt", "r.csv"}));

  fs::create_directory(work_ / "folder");
  const Result unwritable = run(
      "--max-apparent-magnitude 12 --date 2026-12-11 --report folder in.txt");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.out, "00001.elm\n");
  EXPECT_EQ(unwritable.err.rfind("orbelm: cannot write report folder: ", 0), 0u)
      << unwritable.err;
}

// Messages as GNU tools give them, then the usage line and the pointer to
// the help.
TEST_F(EndToEnd, WrongCommandLinesConvertNothing) {
  write_file(work_ / "in.txt", mixed_input("\n"));
  const std::string usage =
      "Usage: orbelm [OPTIONS] [INPUT_FILE...]\n"
      "Try 'orbelm --help' for more information.\n";
  const std::pair<const char*, const char*> cases[] = {
      {"--colour in.txt", "unrecognized option '--colour'"},
      {"in.txt -x", "invalid option -- 'x'"},
      {"in.txt -o", "option requires an argument -- 'o'"},
      {"in.txt --designations", "option '--designations' requires an argument"},
      {"--max-magnitude abc in.txt",
       "invalid argument 'abc' for '--max-magnitude'"},
      {"--max-magnitude 12x in.txt",
       "invalid argument '12x' for '--max-magnitude'"},
      {"--max-magnitude nan in.txt",
       "invalid argument 'nan' for '--max-magnitude'"},
      {"-o a --output-dir=b in.txt",
       "option '--output-dir' given more than once"},
      // Flags take no value, not even one that says "no".
      {"--dry-run=no in.txt", "option '--dry-run' doesn't allow an argument"},
      {"--prune=1 in.txt", "option '--prune' doesn't allow an argument"},
      {"--comets=yes in.txt", "option '--comets' doesn't allow an argument"},
      {"--help=x", "option '--help' doesn't allow an argument"},
      {"--version=x", "option '--version' doesn't allow an argument"},
      {"--dry-run in.txt --dry-run", "option '--dry-run' given more than once"},
      {"--prune --prune in.txt", "option '--prune' given more than once"},
      {"--max-delete 3 in.txt", "option '--max-delete' requires '--prune'"},
      {"---x in.txt", "unrecognized option '---x'"},
      {"-jx in.txt", "invalid argument 'x' for '--jobs'"},
      {"--max-apparent-magnitude bright in.txt",
       "invalid argument 'bright' for '--max-apparent-magnitude'"},
      {"--max-apparent-magnitude 12 --date 2026-02-30 in.txt",
       "invalid argument '2026-02-30' for '--date'"},
      {"--max-apparent-magnitude 12 --date tomorrow in.txt",
       "invalid argument 'tomorrow' for '--date'"},
      {"--max-apparent-magnitude 12 --date 1899-12-31 in.txt",
       "invalid argument '1899-12-31' for '--date'"},
      {"--max-apparent-magnitude 12 --days 0 in.txt",
       "invalid argument '0' for '--days'"},
      {"--max-apparent-magnitude 12 --days -1 in.txt",
       "invalid argument '-1' for '--days'"},
      {"--max-apparent-magnitude 12 --min-elongation 180.5 in.txt",
       "invalid argument '180.5' for '--min-elongation'"},
      {"--max-apparent-magnitude 12 --report - in.txt",
       "invalid argument '-' for '--report'"},
      {"--date 2026-12-11 in.txt",
       "option '--date' requires '--max-apparent-magnitude'"},
      {"--days 2 in.txt",
       "option '--days' requires '--max-apparent-magnitude'"},
      {"--min-elongation 40 in.txt",
       "option '--min-elongation' requires '--max-apparent-magnitude'"},
      {"--report r.csv in.txt",
       "option '--report' requires '--max-apparent-magnitude'"},
      // The arguments are read in order: an error before --help wins.
      {"--bogus --help", "unrecognized option '--bogus'"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result r = run(arguments);
    EXPECT_EQ(r.status, 2) << arguments;
    EXPECT_EQ(r.out, "") << arguments;
    EXPECT_EQ(r.err, "orbelm: " + std::string(message) + "\n" + usage)
        << arguments;
  }
  EXPECT_EQ(files(), Names{"in.txt"});
}

}  // namespace
}  // namespace orbelm
