// A test fixture that runs the built program in a fresh temporary folder
// and collects its exit status, console output and files.
//
// ORBELM_TEST_PROGRAM, when set, is the command that runs the program (for
// example a Windows build under an emulator); otherwise the program built
// with the tests runs (under ORBELM_EMULATOR when the build defines it).
// ORBELM_TEST_PLATFORM=windows says that the program is a Windows build, whose
// lines end in CR LF on the console and in the element files (text mode).
#ifndef ORBELM_TESTS_PROGRAM_RUN_HPP
#define ORBELM_TESTS_PROGRAM_RUN_HPP

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace orbelm::testing {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline bool windows_program() {
  const char* platform = std::getenv("ORBELM_TEST_PLATFORM");
  return platform != nullptr && std::string_view(platform) == "windows";
}

// The program's output with LF line ends, so that one set of expectations
// serves both builds. From a Windows build every LF must follow a CR; only
// that CR is dropped, so a doubled or stray CR still fails the comparison.
inline std::string with_lf_line_ends(std::string text) {
  if (!windows_program()) return text;
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool crlf =
        text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
      ADD_FAILURE() << "a line ends in a bare LF: "
                    << ::testing::PrintToString(text);
    if (!crlf) lf += text[i];
  }
  return lf;
}

// The built program as shell words: in a cross build, under the emulator
// that runs the tests (qemu-user), since the system may run no program of
// the target by itself.
#ifdef ORBELM_EMULATOR
#define ORBELM_PROGRAM_WORDS "'" ORBELM_EMULATOR "' '" ORBELM_PROGRAM "'"
#else
#define ORBELM_PROGRAM_WORDS "'" ORBELM_PROGRAM "'"
#endif

inline std::string program() {
  const char* command = std::getenv("ORBELM_TEST_PROGRAM");
  return command != nullptr ? command : ORBELM_PROGRAM_WORDS;
}

// A prefix for ProgramRun::run under which the program may write no file
// past `bytes` (a write there fails with EFBIG, as on a full disk); empty
// where prlimit (util-linux) is missing.
inline std::string file_size_limit(int bytes) {
  if (std::system("prlimit --version >/dev/null 2>&1") != 0) return "";
  return "trap '' XFSZ; prlimit --fsize=" + std::to_string(bytes) + " ";
}

struct Result {
  int status;
  std::string out;
  std::string err;
};

using Names = std::vector<std::string>;

// A fresh, empty work folder per test, inside a folder of its own that
// holds nothing else but the console files; both are removed afterwards.
class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("orbelm-") + test->test_suite_name() + "-" +
            test->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work");
    work_ = dir_ / "work";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(work_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  // Runs the program in the work folder with `arguments` (shell words) and
  // `input` on standard input; `prefix` (shell words) comes before the
  // program, for example to run it as another user.
  Result run(const std::string& arguments, const std::string& input = "",
             const std::string& prefix = "") {
    write_file(dir_ / "stdin", input);
    const std::string command = "cd '" + work_.string() + "' && " + prefix +
                                program() + " " + arguments +
                                " <'../stdin' >'../stdout' 2>'../stderr'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            with_lf_line_ends(read_file(dir_ / "stdout")),
            with_lf_line_ends(read_file(dir_ / "stderr"))};
  }

  // The names of the entries of `folder`, sorted.
  static Names entries(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The names of the files in the work folder, sorted.
  Names files() const { return entries(work_); }

  // Whatever a run left beside the work folder: it writes nowhere else.
  Names outside_work() const {
    Names names;
    for (const std::string& name : entries(dir_))
      if (name != "work" && name != "stdin" && name != "stdout" &&
          name != "stderr")
        names.push_back(name);
    return names;
  }

  std::string element_file(const std::string& name) const {
    return with_lf_line_ends(read_file(work_ / name));
  }

  fs::path dir_;
  fs::path work_;
};

}  // namespace orbelm::testing

#endif
