// Refreshing a folder with the built program: unchanged files are left
// untouched, --prune removes exactly the stale element files and only after
// a complete run, also where the folder ignores letter case, --dry-run
// changes nothing, and a second run into a folder waits for the first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "element_files.hpp"
#include "program_run.hpp"
#include "sample_records.hpp"

namespace orbelm {
namespace {

namespace fs = std::filesystem;
using testing::Names;
using testing::read_file;
using testing::Result;
using testing::write_file;

std::string two_records() {
  return testing::minor_planet_example() + "\n" + testing::comet_example() +
         "\n";
}

class Refresh : public testing::ProgramRun {
 protected:
  // Every file of the work folder with its content and modification time.
  std::map<std::string, std::pair<std::string, fs::file_time_type>> state()
      const {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> held;
    for (const std::string& name : files())
      if (fs::is_regular_file(work_ / name))
        held[name] = {read_file(work_ / name),
                      fs::last_write_time(work_ / name)};
    return held;
  }
};

TEST_F(Refresh, UnchangedFilesKeepTheirTimeChangedOnesGetTheNewLine) {
  write_file(work_ / "in.txt", two_records());
  ASSERT_EQ(run("in.txt").status, 0);
  const auto long_ago =
      fs::file_time_type::clock::now() - std::chrono::hours(1000);
  write_file(work_ / "0099P.elm", "x\n");
  for (const char* name : {"K05A00A.elm", "0099P.elm"})
    fs::last_write_time(work_ / name, long_ago);
  const Result r = run("in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(element_file("K05A00A.elm"),
            testing::MINOR_PLANET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(fs::last_write_time(work_ / "K05A00A.elm"), long_ago);
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
  EXPECT_NE(fs::last_write_time(work_ / "0099P.elm"), long_ago);
}

// Stale: two element files and a symbolic link (removed, its target kept).
// Kept: other names, a folder named like an element file, a file in a
// subfolder.
TEST_F(Refresh, PruneRemovesOnlyStaleElementFilesAfterACompleteRun) {
  write_file(work_ / "in.txt", two_records());
  for (const char* name : {"K05A00B.elm", "stale.elm", "notes.txt", "x.elmo"})
    write_file(work_ / name, "old\n");
  fs::create_directories(work_ / "old.elm");
  fs::create_directories(work_ / "sub");
  write_file(work_ / "sub" / "K05A00C.elm", "old\n");
  write_file(dir_ / "target", "old\n");
  // Wine, unlike Windows, removes what a Linux symbolic link points to.
  if (testing::windows_program())
    write_file(work_ / "link.elm", "old\n");
  else
    fs::create_symlink("../target", work_ / "link.elm");
  const Names everything = {"K05A00B.elm", "in.txt",    "link.elm", "notes.txt",
                            "old.elm",     "stale.elm", "sub",      "x.elmo"};
  ASSERT_EQ(files(), everything);

  // Stopped by an input that cannot be opened, by a console that cannot be
  // written (Wine reports a full /dev/full only at a later flush).
  EXPECT_EQ(run("--prune in.txt missing.txt").status, 1);
  const std::string full = "cd '" + work_.string() + "' && " +
                           testing::program() +
                           " --prune in.txt >/dev/full 2>/dev/null";
  if (!testing::windows_program()) {
    EXPECT_NE(std::system(full.c_str()), 0);
  }
  Names with_new = everything;
  with_new.insert(with_new.begin(), {"0099P.elm", "K05A00A.elm"});
  std::sort(with_new.begin(), with_new.end());
  EXPECT_EQ(files(), with_new);

  const Result r = run("--prune in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: removed 3 element files that this run did not write\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "K05A00A.elm", "in.txt", "notes.txt",
                            "old.elm", "sub", "x.elmo"}));
  EXPECT_TRUE(fs::exists(work_ / "sub" / "K05A00C.elm"));
  EXPECT_EQ(read_file(dir_ / "target"), "old\n");
}

TEST_F(Refresh, DryRunWritesNothingAndNamesWhatWouldBeRemoved) {
  write_file(work_ / "in.txt", two_records());
  ASSERT_EQ(run("in.txt").status, 0);
  write_file(work_ / "0099P.elm", "x\n");
  write_file(work_ / "stale.elm", "old\n");
  const auto before = state();
  const Result r = run("--dry-run --prune in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: would remove stale.elm\n"
            "orbelm: dry run, nothing written: 0 element files would be "
            "created, 1 changed, 1 left unchanged, 1 removed\n");
  EXPECT_EQ(state(), before);

  const Result fresh = run("--dry-run -o new/folder in.txt");
  EXPECT_EQ(fresh.status, 0);
  EXPECT_EQ(fresh.err,
            "orbelm: dry run, nothing written: 2 element files would be "
            "created, 0 changed, 0 left unchanged\n");
  EXPECT_FALSE(fs::exists(work_ / "new"));
}

TEST(PruneLimit, ATenthRoundedUpOfAFolderOfTwentyOrMore) {
  ElementFiles files;
  const auto limit_of = [&files](std::size_t held) {
    files.listed.count = held;
    return prune_limit(files);
  };
  EXPECT_EQ(limit_of(19), UINT64_MAX);
  EXPECT_EQ(limit_of(20), 2u);
  EXPECT_EQ(limit_of(21), 3u);
  files.max_delete = 0;
  EXPECT_EQ(limit_of(19), 0u);
}

// 18 stale files of 20 (a tenth is 2): refused, in a dry run too, until
// --max-delete allows them.
TEST_F(Refresh, PruneLimitRefusesReportsAndRemovesNothing) {
  write_file(work_ / "in.txt", two_records());
  ASSERT_EQ(run("in.txt").status, 0);
  for (int i = 10; i < 28; ++i)
    write_file(work_ / (std::to_string(i) + ".elm"), "old\n");
  const auto before = state();
  const std::string refused =
      "orbelm: pruning would remove 18 of the 20 element files in the "
      "current folder, more than ";
  const std::string allow =
      "; nothing removed (--max-delete 18 or --max-delete all allows it)\n";

  const Result r = run("--prune in.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err, refused + "a tenth (2)" + allow);
  const Result dry = run("--prune --dry-run in.txt");
  EXPECT_EQ(dry.status, 1);
  EXPECT_EQ(dry.err, refused + "a tenth (2)" + allow +
                         "orbelm: dry run, nothing written: 0 element files "
                         "would be created, 0 changed, 2 left unchanged, 0 "
                         "removed\n");
  const Result given = run("--prune --max-delete 17 in.txt");
  EXPECT_EQ(given.status, 1);
  EXPECT_EQ(given.err, refused + "--max-delete 17" + allow);
  EXPECT_EQ(state(), before);

  const Result allowed = run("--prune --max-delete=18 in.txt");
  EXPECT_EQ(allowed.status, 0);
  EXPECT_EQ(allowed.err,
            "orbelm: removed 18 element files that this run did not write\n");
  EXPECT_EQ(files(), (Names{"0099P.elm", "K05A00A.elm", "in.txt"}));
}

// A snapshot made with hard links (cp -al) keeps what it holds: a file with
// another name is replaced by a new file where its line changed, and stays
// shared where it held its line. A replacement left by a killed run is
// removed, not taken for an element file.
TEST_F(Refresh, FilesWithOtherNamesAreReplacedNotWrittenThrough) {
  write_file(work_ / "in.txt", two_records());
  ASSERT_EQ(run("in.txt").status, 0);
  write_file(work_ / "0099P.elm", "x\n");
  fs::create_directory(dir_ / "snapshot");
  for (const char* name : {"K05A00A.elm", "0099P.elm"})
    fs::create_hard_link(work_ / name, dir_ / "snapshot" / name);
  write_file(work_ / ".orbelm-replacement.tmp", "left\n");
  const Result r = run("--prune in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: removed 0 element files that this run did not write\n");
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
  EXPECT_EQ(read_file(dir_ / "snapshot" / "0099P.elm"), "x\n");
  EXPECT_EQ(fs::hard_link_count(work_ / "K05A00A.elm"), 2U);
  EXPECT_EQ(files(), (Names{"0099P.elm", "K05A00A.elm", "in.txt"}));
}

// The minor-planet example under another designation of 7 characters, and
// its element line: the designation stands in the name field too.
std::string record_of(const std::string& designation) {
  return testing::minor_planet_example().replace(0, 7, designation) + "\n";
}
std::string elements_of(const std::string& designation) {
  return std::string(testing::MINOR_PLANET_EXAMPLE_ELEMENTS)
      .replace(13, 7, designation);
}

// A FAT file system in an image file, mounted with fusefat at `point` while
// the object lives: a folder that ignores letter case, as on a USB stick.
// fusefat runs in the foreground as a child that is killed when the test
// program ends, however it ends, and its mount goes with it (auto_unmount).
class FatMount {
 public:
  // Why no such folder can be made here, or "".
  static std::string missing() {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
      return "needs root and /dev/fuse";
    if (std::system("{ command -v fusefat && command -v mkfs.fat && "
                    "command -v fusermount; } >/dev/null") != 0)
      return "needs fusefat, mkfs.fat (dosfstools) and fusermount";
    return "";
  }

  // `options` for fusefat: "use_ino" numbers the inodes by the file, not
  // by the name looked up.
  FatMount(const fs::path& image, fs::path point, const std::string& options)
      : point_(std::move(point)) {
    fs::create_directories(point_);
    write_file(image, "");
    fs::resize_file(image, 8 << 20);
    if (std::system(("mkfs.fat '" + image.string() + "' >/dev/null").c_str()))
      return;
    const std::string all = "rw+,auto_unmount,attr_timeout=0,entry_timeout=0" +
                            (options.empty() ? "" : "," + options);
    const pid_t parent = ::getpid();
    daemon_ = ::fork();
    if (daemon_ == 0) {
#ifdef __linux__
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
      if (::getppid() != parent) ::_exit(1);
      const int quiet = ::open("/dev/null", O_WRONLY);  // its debug lines
      ::dup2(quiet, STDOUT_FILENO);
      ::dup2(quiet, STDERR_FILENO);
      ::execlp("fusefat", "fusefat", "-f", "-o", all.c_str(), image.c_str(),
               point_.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; daemon_ > 0 && i < 500 && !mounted(); ++i) {
      if (::waitpid(daemon_, nullptr, WNOHANG) != 0) {
        daemon_ = -1;  // it ended: nothing mounted, nothing to wait for
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  FatMount(const FatMount&) = delete;
  FatMount& operator=(const FatMount&) = delete;
  ~FatMount() {
    if (daemon_ <= 0) return;
    if (std::system(("fusermount -u '" + point_.string() + "'").c_str()) != 0)
      ::kill(daemon_, SIGKILL);
    ::waitpid(daemon_, nullptr, 0);
  }

  // Whether another file system is mounted at the point.
  bool mounted() const {
    struct stat here {};
    struct stat above {};
    return ::stat(point_.c_str(), &here) == 0 &&
           ::stat(point_.parent_path().c_str(), &above) == 0 &&
           here.st_dev != above.st_dev;
  }

 private:
  fs::path point_;
  pid_t daemon_ = -1;
};

// The reproduction: last month's catalogue held K14Ua5S, this
// month's holds K14UA5S, another object. On a folder that ignores case its
// file is the one of the other spelling, and --prune keeps it. fusefat
// numbers inodes by the name looked up, with use_ino by the file: the run
// finds out either way. Wine ignores case in every folder, and the Windows
// program reads and writes a file through one descriptor, which fusefat
// gets wrong (the write lands after what was read): it runs in the test's
// own folder.
TEST_F(Refresh, PruneKeepsTheFileOfAnotherSpellingWhereTheFolderIgnoresCase) {
  const bool wine = testing::windows_program();
  if (const std::string missing = FatMount::missing(); !wine && !missing.empty())
    GTEST_SKIP() << "no folder that ignores letter case: a FAT file system "
                    "mounted with FUSE "
                 << missing;
  write_file(work_ / "new.txt", record_of("K14UA5S"));
  write_file(work_ / "both.txt", record_of("K14UA5S") + record_of("K14Ua5S"));
  const fs::path card = dir_ / "card";
  const std::string kept =
      "orbelm: removed 0 element files that this run did not write\n";
  for (const char* options : {"", "use_ino"}) {
    SCOPED_TRACE(options);
    std::optional<FatMount> mount;
    if (!wine) mount.emplace(dir_ / "card.img", card, options);
    fs::create_directories(card);
    ASSERT_TRUE(wine || mount->mounted());
    write_file(card / "K14Ua5S.elm", "old\n");
    const Result r = run("--prune -o ../card new.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "K14UA5S.elm\n");
    EXPECT_EQ(r.err, kept);
    EXPECT_EQ(entries(card), Names{"K14Ua5S.elm"});
    EXPECT_EQ(element_file("../card/K14Ua5S.elm"), elements_of("K14UA5S"));
    // Both spellings in one input share the file: the later line wins.
    for (int again = 0; again < 2; ++again) {
      const Result both = run("--prune -o ../card both.txt");
      EXPECT_EQ(both.out, "K14UA5S.elm\nK14Ua5S.elm\n");
      EXPECT_EQ(both.err, kept);
    }
    EXPECT_EQ(entries(card), Names{"K14Ua5S.elm"});
    EXPECT_EQ(element_file("../card/K14Ua5S.elm"), elements_of("K14Ua5S"));
    if (wine) fs::remove_all(card);
  }
}

// Two names that differ only in case can be one file in a folder that
// tells case apart: hard links. Only "K14Ua5S.elm" is an element file
// there, and the run keeps it.
TEST_F(Refresh, HardLinksOfBothSpellingsDoNotMakeAFolderIgnoreCase) {
  if (testing::windows_program())
    GTEST_SKIP() << "Wine ignores letter case in every folder";
  write_file(work_ / "in.txt", record_of("K14Ua5S"));
  const fs::path folder = work_ / "elements";
  fs::create_directory(folder);
  write_file(folder / "K14Ua5S.elm", elements_of("K14Ua5S"));
  fs::create_hard_link(folder / "K14Ua5S.elm", folder / "k14uA5s.ELM");
  const Result r = run("--prune -o elements in.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "K14Ua5S.elm\n");
  EXPECT_EQ(r.err,
            "orbelm: removed 0 element files that this run did not write\n");
  EXPECT_EQ(entries(folder), (Names{"K14Ua5S.elm", "k14uA5s.ELM"}));
}

// Makes the file `path` hold `text` (as long as what it holds) while its
// size and modification time stay as they were, as a quick check sees
// them; only its change time moves, as no program can keep it.
void edit_unseen(const fs::path& path, char with) {
  const fs::file_time_type before = fs::last_write_time(path);
  write_file(path, std::string(read_file(path).size() - 1, with) + "\n");
  fs::last_write_time(path, before);
}

// A file's change time as stat gives it, to the nanosecond.
struct timespec change_time(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
#ifdef __APPLE__
  return info.st_ctimespec;
#else
  return info.st_ctim;
#endif
}

// A run reads a file again, however it was made to hold something else of
// the same size and modification time since the last run recorded it: in
// place, or as a copy renamed over it; after the record was damaged or
// removed; in a copy of the folder, whose record was made for the original.
TEST_F(Refresh, NoWayOfKeepingAFilesLookFoolsTheQuickCheck) {
  std::string input;
  Names names;
  for (const char* designation : {"K05A01A", "K05A02A", "K05A03A", "K05A04A"}) {
    input += record_of(designation);
    names.push_back(std::string(designation) + ".elm");
  }
  write_file(work_ / "in.txt", input);
  const fs::path elements = work_ / "elements";
  ASSERT_EQ(run("-o elements in.txt").status, 0);
  // Files changed within two seconds before a run looks are not recorded.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_EQ(run("-o elements in.txt").status, 0);
  const auto all_right = [&](const fs::path& folder) {
    for (const std::string& name : names)
      EXPECT_EQ(testing::with_lf_line_ends(read_file(folder / name)),
                elements_of(name.substr(0, 7)))
          << folder / name;
  };
  edit_unseen(elements / names[0], 'x');
  write_file(dir_ / "copy", read_file(elements / names[1]));
  edit_unseen(dir_ / "copy", 'y');
  fs::rename(dir_ / "copy", elements / names[1]);
  ASSERT_EQ(run("-o elements in.txt").status, 0);
  all_right(elements);
  std::string record = read_file(elements / ".orbelm-states");
  if (!record.empty()) {
    record[record.size() / 2] ^= 0x10;
    write_file(elements / ".orbelm-states", record);
  }
  edit_unseen(elements / names[2], 'z');
  ASSERT_EQ(run("-o elements in.txt").status, 0);
  all_right(elements);
  fs::remove(elements / ".orbelm-states");
  edit_unseen(elements / names[3], 'w');
  ASSERT_EQ(run("-o elements in.txt").status, 0);
  all_right(elements);
  fs::copy(elements, work_ / "copied",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  edit_unseen(work_ / "copied" / names[0], 'v');
  ASSERT_EQ(run("-o copied in.txt").status, 0);
  all_right(work_ / "copied");
}

// An ext4 file system in an image file with whole-second times (128-byte
// inodes), mounted at `point` while the object lives.
class CoarseExt4Mount {
 public:
  static std::string missing() {
    if (::geteuid() != 0) return "needs root to mount a file system";
    if (std::system("command -v mkfs.ext4 >/dev/null") != 0)
      return "needs mkfs.ext4";
    return "";
  }
  CoarseExt4Mount(const fs::path& image, fs::path point)
      : point_(std::move(point)) {
    fs::create_directories(point_);
    mounted_ =
        std::system(("mkfs.ext4 -q -F -I 128 '" + image.string() +
                     "' 8M >/dev/null 2>&1 && mount -o loop '" + image.string() +
                     "' '" + point_.string() + "' 2>/dev/null")
                        .c_str()) == 0;
  }
  CoarseExt4Mount(const CoarseExt4Mount&) = delete;
  CoarseExt4Mount& operator=(const CoarseExt4Mount&) = delete;
  ~CoarseExt4Mount() {
    if (mounted_) std::system(("umount '" + point_.string() + "'").c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path point_;
  bool mounted_ = false;
};

// A file that a run found holding its line in the same second as it was
// written, then edited in that second: its times and size are those the
// run saw, on a file system that keeps whole seconds. The next run must
// read it: a state that recent is never trusted.
TEST_F(Refresh, AnEditInTheSecondOfTheLastLookIsCaught) {
  if (testing::windows_program()) GTEST_SKIP() << "no quick check on Windows";
  if (const std::string why = CoarseExt4Mount::missing(); !why.empty())
    GTEST_SKIP() << why;
  const CoarseExt4Mount mount(dir_ / "ext4.img", work_ / "coarse");
  if (!mount.mounted()) GTEST_SKIP() << "the image cannot be mounted here";
  write_file(work_ / "in.txt", record_of("K05A01A"));
  const fs::path file = work_ / "coarse" / "K05A01A.elm";
  const std::string line = elements_of("K05A01A");
  bool same_second = false;
  for (int attempt = 0; attempt < 10 && !same_second; ++attempt) {
    // Just after a second begins, so that all happens within it.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::this_thread::sleep_for(std::chrono::seconds(1) -
                                (now % std::chrono::seconds(1)) +
                                std::chrono::milliseconds(20));
    write_file(file, line);
    ASSERT_EQ(run("-o coarse in.txt").status, 0);
    const struct timespec looked = change_time(file);
    edit_unseen(file, 'x');
    const struct timespec edited = change_time(file);
    same_second = edited.tv_sec == looked.tv_sec &&
                  edited.tv_nsec == looked.tv_nsec;
  }
  if (!same_second) GTEST_SKIP() << "this machine is too slow for the second";
  ASSERT_EQ(run("-o coarse in.txt").status, 0);
  EXPECT_EQ(read_file(file), line);
}

// The test holds the folder's lock as a first run would.
TEST_F(Refresh, SecondRunWaitsForTheFirst) {
  if (testing::windows_program())
    GTEST_SKIP() << "the Windows program locks with a Windows mutex";
  write_file(work_ / "in.txt", two_records());
  const int folder = ::open(work_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  std::thread second([this] { run("in.txt"); });
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (read_file(dir_ / "stderr").empty() &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(
      read_file(dir_ / "stderr"),
      "orbelm: waiting for another run of orbelm in the current folder\n");
  EXPECT_EQ(read_file(dir_ / "stdout"), "");
  EXPECT_EQ(files(), Names{"in.txt"});
  ::close(folder);  // lets the second run go on
  second.join();
  EXPECT_EQ(read_file(dir_ / "stdout"), "K05A00A.elm\n0099P.elm\n");
  EXPECT_EQ(element_file("0099P.elm"), testing::COMET_EXAMPLE_ELEMENTS);
}

}  // namespace
}  // namespace orbelm
