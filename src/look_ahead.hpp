// The look-ahead window of a run: records converted ahead of their turn,
// whose element files worker threads look at meanwhile (by their state
// where the record of file states tells, else by reading them), so that
// the lookups of many files wait on the disk together. Everything else stays with
// the run's own thread and in input order: the names printed, every write,
// cut and creation, every failure.
//
// The run converts a record into next_record(), hands it over with
// publish_record(), and once the window is full takes the oldest with
// oldest_record(), finishes it (prints its name, writes its file with the
// look) and gives it back with retire_oldest(). A record whose file name
// (in any letter case) is already in the window is not looked at, since
// the write of the earlier record would outdate the look; a look whose file
// another program changed after the look began, as a watch on the folder
// tells at the record's turn, is not used: the run's thread finishes that
// record as a run with one thread does. The run's thread never waits for a
// worker: a look that a worker has begun and not finished when its record's
// turn comes is abandoned, and the run's thread makes its own.
#ifndef ORBELM_LOOK_AHEAD_HPP
#define ORBELM_LOOK_AHEAD_HPP

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "convert_line.hpp"
#include "file_states.hpp"
#include "platform.hpp"

namespace orbelm {

// One record in the window.
struct PendingRecord {
  ConvertedLine converted;
  KnownState known;            // what the last run's record knows of it
  platform::FileLook look;     // the worker's, or the run's thread's
  platform::FileLook own_look;  // the run's thread's, when it abandoned
                                // a worker's look
  std::atomic<int> state{0};   // see look_ahead.cpp
  std::uint64_t name_key = 0;  // its file name's hash, case folded
  bool outdated = false;       // its file changed after its look began
  bool looked_now = false;     // looked at by the run's thread at its turn
  bool abandoned = false;      // the worker's look is not used
  bool own = false;            // looked at by the run's thread
  bool to_look = false;        // published for a look
};

// The look of a record at its turn (after oldest_record). Not const: the
// look it returns is the record's, to be used up.
// cppcheck-suppress constParameter
inline platform::FileLook& look_of(PendingRecord& record) {
  return record.abandoned ? record.own_look : record.look;
}

struct LookAheadWindow {
  // The places of records: `capacity` for the window, and one more for
  // each worker, which may hold an abandoned one a while after its turn.
  std::unique_ptr<PendingRecord[]> records;
  // The place of each record in the window, by its number modulo capacity
  // (the workers read it to find a record to look at).
  std::unique_ptr<std::atomic<std::uint32_t>[]> order;
  std::vector<std::uint32_t> free_places;  // the run's thread's
  std::vector<std::uint32_t> held_places;  // abandoned, until freed
  std::uint32_t next_place = UINT32_MAX;   // chosen for the next record
  std::size_t capacity = 0;  // records in the window at most
  std::uint64_t published = 0;
  std::uint64_t retired = 0;
  // Written by the run's thread only.
  std::uint64_t recent_writes = 0;     // a bit per record, the newest last
  std::uint64_t recent_creations = 0;  // the same of the files created
  std::unique_ptr<std::uint16_t[]> in_window;  // counts by name_key
  std::size_t in_window_mask = 0;
  std::uint64_t finished_alone = 0;  // records finished without the window
  // Of the records of the window retired lately, those whose look the
  // workers made and those the run's thread made itself, and the record
  // until which the window rests when the workers made too few.
  std::uint64_t worker_looks = 0;
  std::uint64_t own_looks = 0;
  std::uint64_t resting_until = 0;
  std::uint64_t stretch_writes = 0;  // files written in the current stretch
  unsigned jobs = 1;                 // the workers' number, the run's thread
  bool workers_started = false;      // (or tried to start)
  bool dry_run = false;
  bool no_access_time = true;         // the run's thread's own copy
  platform::FolderWatch watch;        // what changed since the looks
  std::uint64_t names_at_read = 0;    // names written out at its last read
  std::uint64_t retired_at_read = 0;  // records finished then
  bool wrote_since_read = false;      // a file was written since
  platform::OutputFolder folder;      // the workers' copy
  // Shared with the workers.
  std::atomic<std::uint64_t> ready{0};  // records published for looks
  std::atomic<std::uint64_t> next_claim{0};
  std::atomic<unsigned> sleeping{0};
  std::atomic<std::uint32_t> wake{0};  // bumped to wake sleeping workers
  std::atomic<bool> stopping{false};
  std::atomic<bool> resting{false};    // the workers are sent away
  std::atomic<unsigned> running{0};    // workers that have not ended
  // How much the recent looks waited for the disk (see look_ahead.cpp).
  std::atomic<int> slow_score{0};
  unsigned fast_workers = 1;  // workers awake at most while looks are quick
  std::vector<std::thread> workers;
};

// Sets the window up for `jobs` - 1 workers over `folder` (at least one);
// `dry_run` looks without keeping files open. The workers start only once
// the records finished without the window show that looks ahead pay: the
// files are not in memory, or nearly none of them are written (see
// note_finished()); until then the run is that of one thread. With jobs 1,
// or on a platform whose looks find nothing, the window is never used.
void start_look_ahead(LookAheadWindow& window,
                      const platform::OutputFolder& folder, bool dry_run,
                      unsigned jobs);

// Stops and joins the workers and closes what unused looks hold open;
// the records still in the window are dropped.
void stop_look_ahead(LookAheadWindow& window);

inline bool window_full(const LookAheadWindow& window) {
  return window.published - window.retired == window.capacity;
}
inline bool window_empty(const LookAheadWindow& window) {
  return window.published == window.retired;
}
// Whether the files of the records ahead are to be looked at: not without
// workers or without the folder, nor where most files are being created,
// nor where the files are in memory and more than a few are written. A
// record that comes while they are not is finished at once, without the
// window, as a run with one thread finishes it (see look_now()).
bool looking_ahead(const LookAheadWindow& window);

// For a record finished without the window: now and then (each of the
// first 64 records, then every 64th, unless most are created) looks at its
// file into `look` (by its state alone where `known` holds one) and times
// the look, so that the run notices when the files are not in memory;
// otherwise leaves `look` as it is. Then note_finished() with how its file
// was written, which starts the workers when the records so far show that
// looks ahead pay.
void look_now(LookAheadWindow& window, const ConvertedLine& line,
              const KnownState& known, platform::FileLook& look);
void note_finished(LookAheadWindow& window, platform::WriteStatus status);

// The record to convert into next; the window must not be full.
ConvertedLine& next_record(LookAheadWindow& window);

// Hands the record of next_record() over to the window and its workers,
// with what the last run's record knows of its file.
void publish_record(LookAheadWindow& window, const KnownState& known);

// The oldest record, once it has a look (see look_of()): the worker's when
// done, else the run's thread's own. While a worker's look is under way the
// run's thread makes later looks itself, and waits for it no longer than a
// look in memory takes. The window must not be empty.
PendingRecord& oldest_record(LookAheadWindow& window);

// Before the oldest record's file is written, after its name: clears its
// look when its file changed since the look began, as the folder's watch
// tells; then the write finds out what the file holds, as a run with one
// thread does. `names_written` counts the times the run's names went out
// to standard output (NameOutput::written): the watch is read when they
// did, or a file was written, since its last read, and every few records.
void confirm_look(LookAheadWindow& window, PendingRecord& record,
                  std::uint64_t names_written);

// Gives the oldest record back after its file was written (`status`).
void retire_oldest(LookAheadWindow& window, platform::WriteStatus status);

}  // namespace orbelm

#endif
