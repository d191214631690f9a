// The record of file states: what one run writes, the next finds, in the
// order of its records, whatever changed in between.
#include "file_states.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace orbelm {
namespace {

using Names = std::vector<std::string>;

struct Bytes {
  std::string text;
  std::size_t at = 0;
};

long read_bytes(void* context, char* buffer, std::size_t size) {
  auto& bytes = *static_cast<Bytes*>(context);
  const std::size_t count = std::min(size, bytes.text.size() - bytes.at);
  std::memcpy(buffer, bytes.text.data() + bytes.at, count);
  bytes.at += count;
  return static_cast<long>(count);
}

bool write_bytes(void* context, const char* data, std::size_t size) {
  static_cast<std::string*>(context)->append(data, size);
  return true;
}

platform::FileState folder_of(std::uint64_t inode) {
  platform::FileState folder;
  folder.device = 7;
  folder.inode = inode;
  return folder;
}

// The entry a run records for the file `name`: its inode tells the files
// apart, the line hash stands for the line of `version`.
StateEntry entry_of(const std::string& name, int version = 0) {
  StateEntry entry;
  entry.name_hash = file_name_hash(name);
  entry.line_hash = 1000 + static_cast<std::uint64_t>(version);
  entry.state.inode = entry.name_hash >> 8U;
  entry.state.size = 146;
  entry.state.change_time = 1'700'000'000'000'000'000;
  entry.state.modify_time = entry.state.change_time;
  return entry;
}

struct RunResult {
  std::string record;  // this run's
  Names found;         // the names whose entry the last run's record had
};

// A run over `names` in that order, reading `last` (none when empty) and
// recording every file as found holding its line; `complete` as at its end.
RunResult run(const std::string& last, const Names& names, std::uint64_t folder = 1,
        bool complete = true) {
  Bytes source{last};
  RunResult result;
  FileStates states;
  start_file_states(states, folder_of(folder),
                    last.empty() ? StateSource{}
                                 : StateSource{read_bytes, &source},
                    StateSink{write_bytes, &result.record});
  for (const std::string& name : names) {
    StateEntry found;
    if (take_file_state(states, file_name_hash(name), found)) {
      EXPECT_EQ(found.state.inode, entry_of(name).state.inode) << name;
      result.found.push_back(name);
    }
    record_file_state(states, entry_of(name));
  }
  EXPECT_EQ(end_file_states(states, complete), complete);
  return result;
}

Names numbered(int from, int to) {
  Names names;
  for (int number = from; number <= to; ++number)
    names.push_back(std::to_string(number) + ".elm");
  return names;
}

Names joined(Names a, const Names& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FileStates, TheNextRunFindsEveryEntryOfItsRecords) {
  const Names names = numbered(1, 5000);  // several blocks
  const RunResult first = run("", names);
  EXPECT_TRUE(first.found.empty());
  EXPECT_EQ(run(first.record, names).found, names);
}

// The catalogue's next issue: objects added and removed here and there, a
// few moved a little; each record still finds its entry.
TEST(FileStates, RecordsFindTheirEntriesAfterAdditionsRemovalsAndMoves) {
  const Names last = numbered(1, 40000);
  Names next = joined(numbered(1, 999), numbered(50001, 53000));  // new
  const Names rest = numbered(1500, 40000);  // 1000-1499 removed
  next.insert(next.end(), rest.begin(), rest.end());
  std::swap(next[10], next[900]);  // moved within the window
  std::swap(next[20000], next[20100]);
  const RunResult second = run(run("", last).record, next);
  Names expected = numbered(1, 999);
  expected.insert(expected.end(), rest.begin(), rest.end());
  std::swap(expected[10], expected[900]);
  std::swap(expected[17000], expected[17100]);
  EXPECT_EQ(second.found, expected);
}

// A folder refreshed from two inputs in separate runs, the small one
// after the large one: once each has run, each finds its own entries, the
// other's carried over meanwhile, until they age out.
TEST(FileStates, RunsOfOtherInputsCarryEntriesOverUntilTheyAgeOut) {
  const Names planets = numbered(1, 30000);
  const Names comets = numbered(900001, 900300);
  RunResult run_of = run("", planets);
  run_of = run(run_of.record, comets);
  EXPECT_TRUE(run_of.found.empty());  // behind 30,000 others: not reached
  run_of = run(run_of.record, planets);
  EXPECT_EQ(run_of.found, planets);
  run_of = run(run_of.record, comets);
  EXPECT_EQ(run_of.found, comets);
  run_of = run(run_of.record, planets);
  EXPECT_EQ(run_of.found, planets);
  // Unused by MAX_AGE runs in a row, an entry is gone.
  for (int i = 0; i < MAX_AGE; ++i) run_of = run(run_of.record, planets);
  EXPECT_TRUE(run(run_of.record, comets).found.empty());
}

TEST(FileStates, ARecordOfAnotherFolderOrVersionOrCutOrDamagedIsNotTrusted) {
  const Names names = numbered(1, 3000);  // blocks of 1024 entries
  const std::string record = run("", names).record;
  // Another folder (a copy of the folder has another inode).
  EXPECT_TRUE(run(record, names, 2).found.empty());
  std::string other = record;
  other[8] = 2;  // the version
  EXPECT_TRUE(run(other, names).found.empty());
  // A byte changed in the second block: the first block still counts, the
  // record ends at the damage.
  constexpr std::size_t BLOCK = 8 + BLOCK_ENTRIES * ENTRY_SIZE + 8;
  std::string damaged = record;
  damaged[HEADER_SIZE + BLOCK + 100] ^= 1;
  EXPECT_EQ(run(damaged, names).found, numbered(1, 1024));
  // Cut in its last block.
  EXPECT_EQ(run(record.substr(0, record.size() - 20), names).found,
            numbered(1, 2048));
}

// An interrupted or failed run writes no usable record: the last one stays.
TEST(FileStates, AnIncompleteRunReportsItsRecordUnusable) {
  const RunResult first = run("", numbered(1, 10));
  const RunResult stopped = run(first.record, numbered(1, 5), 1, false);
  EXPECT_EQ(stopped.found, numbered(1, 5));
}

// Times in nanoseconds since 1970; a file changed at second 100.
TEST(FileStates, OnlyStatesSettledTwoSecondsBeforeTheyWereAskedAreRecorded) {
  const platform::FileState folder = folder_of(1);
  platform::FileState state;
  state.device = 7;
  state.regular = true;
  state.size = 146;
  state.change_time = 100'000'000'000;
  state.modify_time = 99'000'000'000;
  state.seen_at = 101'500'000'000;
  EXPECT_FALSE(settled(state, folder, 146));  // 1.5 s
  state.seen_at = 102'000'000'000;
  EXPECT_FALSE(settled(state, folder, 146));  // exactly 2 s
  state.seen_at = 102'000'000'001;
  EXPECT_TRUE(settled(state, folder, 146));
  EXPECT_FALSE(settled(state, folder, 147));  // not the line's size
  state.modify_time = 101'000'000'000;        // set to the future
  EXPECT_FALSE(settled(state, folder, 146));
  state.modify_time = 99'000'000'000;
  state.device = 8;  // another file system mounted over the name
  EXPECT_FALSE(settled(state, folder, 146));
  state.device = 7;
  state.regular = false;
  EXPECT_FALSE(settled(state, folder, 146));
}

}  // namespace
}  // namespace orbelm
