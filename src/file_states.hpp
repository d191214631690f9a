// The record of file states: what a run learned of its element files, kept
// beside them (STATES_NAME) for the next run's quick check. A file found
// holding its line is recorded with its inode's state (inode number, size,
// change and modification time) and a hash of the line; the next run that
// has the same line for it takes the file as holding it when lstat shows the
// same state, without reading it. Any write to the file, and any setting of
// its times, moves its change time, which no program can set back.
//
// The record is a cache: a record that is missing, damaged (each block has
// a checksum), of another version, or made for another folder (its device
// and inode numbers; a copy of the folder has others) is not used, and the
// run reads every file as it would without one. It is written anew by each
// run that goes through every input (not by a dry run) under TEMPORARY_NAME
// and renamed over the old one at the end, so it is whole at every moment;
// a run that stops early leaves the old one, whose entries can only have
// become stale, never wrong.
//
// Trusted only what is settled: a file whose change or modification time
// is less than UNSETTLED before the moment its state was asked is not
// recorded, since a write in that same tick of the file system's clock
// could leave the state as it was (git's "racy" entries). A file that the
// run wrote is thus read once more by the next run.
//
// Memory: entries are read in the order of the last run's records, which
// is nearly the input's order, through a window of WINDOW entries, so a
// run of 1.5 million records holds about 1.3 MiB however large the record.
#ifndef ORBELM_FILE_STATES_HPP
#define ORBELM_FILE_STATES_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform.hpp"

namespace orbelm {

// The record's file name in the output folder, and the name it is written
// under first. Neither ends in ".elm": neither --prune nor a later run
// takes them for element files.
inline constexpr const char* STATES_NAME = ".orbelm-states";
inline constexpr const char* TEMPORARY_NAME = ".orbelm-states.tmp";

// A change within this many nanoseconds of the moment a file's state was
// asked may share that state's times: ext4 keeps nanoseconds but takes
// them from a clock that moves a tick (up to 10 ms) at a time, and ext2,
// ext3, and ext4 with small inodes, keep whole seconds.
inline constexpr std::int64_t UNSETTLED = 2'000'000'000;

// One entry: the file `name_hash` names was found holding the line whose
// hash is `line_hash`, in `state` (inode, size, change and modification
// time; its device is the folder's).
struct StateEntry {
  std::uint64_t name_hash = 0;
  std::uint64_t line_hash = 0;
  platform::FileState state;
  std::uint8_t age = 0;  // runs it was carried through unused
};

// The entry's form in the record: 48 bytes, little-endian.
inline constexpr std::size_t ENTRY_SIZE = 48;
void encode_entry(const StateEntry& entry, char* out);
StateEntry decode_entry(const char* in);

// Entries unused by this many runs in a row are dropped (files removed, or
// objects the catalogue no longer lists); a folder refreshed from several
// inputs in separate runs keeps the others' entries meanwhile.
inline constexpr std::uint8_t MAX_AGE = 4;

// The record read in blocks, as written: a header (magic, version, the
// folder's device and inode), then blocks of up to BLOCK_ENTRIES entries,
// each with its count and a checksum. `read` (read_input's contract) gives
// the record's bytes; a block that ends early or fails its checksum ends
// the record there.
struct StateSource {
  long (*read)(void* context, char* buffer, std::size_t size) = nullptr;
  void* context = nullptr;
};
struct StateSink {
  bool (*write)(void* context, const char* data, std::size_t size) = nullptr;
  void* context = nullptr;
};
inline constexpr std::size_t BLOCK_ENTRIES = 1024;
inline constexpr std::size_t WINDOW = 16384;

// The run's record of file states: the last run's, read alongside the
// records in their order, and this run's, written as it goes.
struct FileStates {
  bool reading = false;    // entries of the last run are looked up
  bool recording = false;  // this run's entries are written
  platform::FileState folder;  // the folder's device and inode
  StateSource source;
  StateSink sink;
  bool sink_failed = false;
  // The last run's entries read so far and not yet used or carried: a ring
  // of WINDOW entries in the record's order, by position `first` to `next`.
  std::unique_ptr<StateEntry[]> ring;
  std::unique_ptr<bool[]> used;
  std::unique_ptr<std::uint32_t[]> slots;  // by name hash: ring index + 1
  std::uint64_t first = 0;
  std::uint64_t next = 0;
  std::uint64_t last_found = 0;  // position of the latest entry found
  bool source_ended = true;
  std::vector<char> in_block;  // the block being read, and where
  std::size_t in_at = 0;
  std::size_t in_count = 0;
  std::uint64_t in_number = 0;
  std::vector<char> out_block;  // the block being written
  std::size_t out_count = 0;
  std::uint64_t recorded = 0;  // entries written into this run's record
  std::uint64_t out_number = 0;
};

// Starts reading the record `source` for the folder `folder` (device and
// inode) and writing into `sink` (either may be empty: then nothing is
// read, or nothing written). A record of another version or folder, or
// without a whole header, is not read. Allocates the window once.
void start_file_states(FileStates& states, const platform::FileState& folder,
                       StateSource source, StateSink sink);

// The hash that names the file `name` (as named in the folder,
// "K05A00A.elm") in the record.
std::uint64_t file_name_hash(std::string_view name);

// The last run's entry for the file whose name has `name_hash`, taken out
// of the record; false when it has none near the place the record has
// reached. Entries passed over meanwhile stay in the
// window for records that come later (the input's order changed a little);
// those more than a window behind are carried into this run's record.
bool take_file_state(FileStates& states, std::uint64_t name_hash,
                     StateEntry& entry);

// What the record says of one record's file before its turn: `entry`
// holds the file name's and the line's hashes, and, when `held`, the state
// in which the file was last found holding this very line.
struct KnownState {
  StateEntry entry;
  bool held = false;
};

// Takes the last run's entry of the file `name` for the line `line`
// (`size` bytes); the hashes are made only while states are read or
// recorded.
KnownState known_state(FileStates& states, std::string_view name,
                       const char* line, std::size_t size);

// Whether `state`, asked when the file was found holding the line with
// hash `line_hash` and `line_size` bytes, may be recorded: a regular file
// in the folder's file system, of that size, whose times are settled.
// Example: a file changed at second 100 (change time 100e9 ns) and asked
// at 101.5e9 is not settled; asked at 102.1e9 it is.
bool settled(const platform::FileState& state, const platform::FileState& folder,
             std::size_t line_size);

// Writes `entry` into this run's record (a no-op when none is written).
void record_file_state(FileStates& states, const StateEntry& entry);

// Ends this run's record: with `complete`, the last run's entries not used
// are carried over (each a run older), the last block written, and true
// returned when every write succeeded; otherwise false. The sink is not
// closed here. A record without entries is of no use: `recorded` tells.
bool end_file_states(FileStates& states, bool complete);

// The record's header: magic, version, entry size, folder device, inode.
inline constexpr std::size_t HEADER_SIZE = 32;
inline constexpr std::uint32_t STATES_VERSION = 1;

}  // namespace orbelm

#endif
