#include "look_ahead.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <system_error>

#include "hash.hpp"
#include "look_ahead_detail.hpp"

namespace orbelm {

using namespace look_ahead_detail;

namespace {

// Of the last 64 records finished, this many or more created their file:
// the files ahead are not looked at until fewer do. In a fresh folder a
// look finds nothing, and creating the files is all the run does.
constexpr int MOSTLY_CREATED = 32;

// While the files are in memory, looks pay only where nearly nothing is
// written: with a tenth of 300,000 files changed, reads beside the writes
// doubled the system time (3.2-3.8 s against 1.4-1.8 s) and the run took
// 1.2 times as long; with every file changed, 3.8-5.6 s against 3.7-4.8 s.
// So with more than FEW_WRITTEN of the last 64 records written (changed
// or created) and looks quick, records are finished without the window,
// and every PROBE-th one's file is looked at first, to notice when the
// files are no longer in memory: then reads made ahead pay however many
// files change, since a write of part of a block waits for its read.
constexpr int FEW_WRITTEN = 3;
constexpr std::uint64_t PROBE = 64;

// The records waiting for a look that wake a sleeping worker.
constexpr std::uint64_t WAKE_BACKLOG = 8;

// The watch is read before a look made ahead is used once the run's output
// (its names, its files) may have reached anyone since the last read, and
// at least every READ_EVERY records: a look is then confirmed as of a
// moment after all the run's output so far, which is all that another
// program can have acted upon; reading it for every record made a warm
// refresh a tenth slower (0.97 s against 0.87 s for 300,000 files).
constexpr std::uint64_t READ_EVERY = 16;

// How far past the oldest record the run's thread searches for a look to
// make itself while it waits for the oldest one's.
constexpr std::size_t HELP_REACH = 64;

// How long the run's thread waits for a worker's look of the oldest record
// once it has no other look to make: about what a look of a file in memory
// takes. A worker that takes longer waits on the disk, where the run's
// thread's own look waits for the same read, or has no core (beside busy
// programs): then the run's thread goes on alone.
constexpr auto PATIENCE = std::chrono::microseconds(20);

void timed_look(LookAheadWindow& window, const ConvertedLine& line,
                const KnownState& known, bool& no_access_time,
                platform::FileLook& look) {
  const auto start = std::chrono::steady_clock::now();
  platform::look_at_text_file(
      window.folder, line.file_name, line.element_line, line.element_line_size,
      !window.dry_run, no_access_time,
      known.held ? &known.entry.state : nullptr, look);
  note_look_time(window, std::chrono::steady_clock::now() - start > SLOW_LOOK);
}

// Moves the next claim past the record at `index` when no worker has
// reached it: workers that had to step over records without a look would
// never find themselves idle, and one of them would spin through every
// record of a run whose files are mostly written (a core's worth of system
// time, and the run 5-10 % slower than with one thread).
void pass_over(LookAheadWindow& window, std::uint64_t index) {
  window.next_claim.compare_exchange_strong(index, index + 1,
                                            std::memory_order_relaxed);
}

// Whether a write changed an existing file (or tried to).
bool changed(platform::WriteStatus status) {
  return status == platform::WriteStatus::Changed ||
         status == platform::WriteStatus::NotWritten;
}

// A look the run's thread makes while it waits for the oldest record's;
// false when none is left to make.
bool help(LookAheadWindow& window) {
  const std::uint64_t end =
      std::min(window.published, window.retired + 1 + HELP_REACH);
  for (std::uint64_t index = window.retired + 1; index < end; ++index) {
    PendingRecord& record = record_at(window, index);
    if (claim(record)) {
      record.own = true;
      look(window, record, window.no_access_time);
      return true;
    }
  }
  return false;
}

}  // namespace

namespace look_ahead_detail {

// Makes the look of a record that this thread claimed; a look abandoned
// meanwhile is closed and its place freed.
void look(LookAheadWindow& window, PendingRecord& record,
          bool& no_access_time) {
  timed_look(window, record.converted, record.known, no_access_time,
             record.look);
  int expected = LOOKING;
  if (record.state.compare_exchange_strong(expected, DONE,
                                           std::memory_order_acq_rel))
    return;
  platform::forget_look(record.look);
  record.state.store(FREE, std::memory_order_release);
}

}  // namespace look_ahead_detail

void start_look_ahead(LookAheadWindow& window,
                      const platform::OutputFolder& folder, bool dry_run,
                      unsigned jobs) {
  if (jobs <= 1 || !platform::LOOKS_AHEAD) return;
  window.capacity = std::max<std::size_t>(64, std::size_t{8} * jobs);
  const std::size_t places = window.capacity + jobs;
  window.records = std::make_unique<PendingRecord[]>(places);
  window.order =
      std::make_unique<std::atomic<std::uint32_t>[]>(window.capacity);
  window.free_places.reserve(places);
  window.held_places.reserve(jobs);
  for (std::size_t place = places; place-- > 0;)
    window.free_places.push_back(static_cast<std::uint32_t>(place));
  // Names that share a count are not looked at either: with 4 counts a
  // record a sixth of the records of a refresh went to the run's thread
  // unlooked (50,000 of 300,000), with 32 about one in forty.
  const std::size_t table = std::bit_ceil(32 * window.capacity);
  window.in_window = std::make_unique<std::uint16_t[]>(table);
  window.in_window_mask = table - 1;
  window.dry_run = dry_run;
  window.folder = folder;
  window.folder.lock_handle = nullptr;  // the copy locks nothing
  window.no_access_time = folder.no_access_time;
  window.fast_workers = std::max(1U, std::thread::hardware_concurrency() - 1);
  window.jobs = jobs;
}

namespace {

// Whether files are being looked at, ahead or now and then.
bool looks_pay(const LookAheadWindow& window) {
  return window.capacity > 0 && !window.folder.missing &&
         std::popcount(window.recent_creations) < MOSTLY_CREATED;
}

// Once FIRST_STRETCH records are finished without the window, the workers
// start as soon as the looks wait on the disk, or when at most
// QUIET_WRITES of a stretch of QUIET_STRETCH records wrote their file.
// Until then the run is the process of one thread: in a fresh folder, or
// with many files changing in memory, workers only cost (with them idle
// beside it, a refresh of 300,000 files with a tenth of them changed took
// 1.09 times as long as with one thread, with every line changed 1.07).
// With a tenth of the files changed, a stretch of 256 holds 4 written or
// fewer once in 17 million; with 1 in 50 changed, 2 stretches in 5 do.
constexpr std::uint64_t FIRST_STRETCH = 64;
constexpr std::uint64_t QUIET_STRETCH = 256;
constexpr std::uint64_t QUIET_WRITES = 4;

void consider_starting(LookAheadWindow& window, bool wrote) {
  const std::uint64_t finished = window.finished_alone;
  window.stretch_writes += wrote ? 1U : 0U;
  const bool quiet =
      finished % QUIET_STRETCH == 0 && window.stretch_writes <= QUIET_WRITES;
  if (finished % QUIET_STRETCH == 0) window.stretch_writes = 0;
  if (finished >= FIRST_STRETCH && looks_pay(window) &&
      (quiet || on_disk(window)))
    start_workers(window);
}

}  // namespace

bool looking_ahead(const LookAheadWindow& window) {
  return !window.workers.empty() && platform::watching(window.watch) &&
         looks_pay(window) && !window.resting.load(std::memory_order_relaxed) &&
         (std::popcount(window.recent_writes) <= FEW_WRITTEN ||
          on_disk(window));
}

void look_now(LookAheadWindow& window, const ConvertedLine& line,
              const KnownState& known, platform::FileLook& look) {
  const std::uint64_t count = ++window.finished_alone;
  if (window.resting.load(std::memory_order_relaxed) &&
      count >= window.resting_until)
    end_rest(window);
  if (looks_pay(window) && (count <= FIRST_STRETCH || count % PROBE == 0))
    timed_look(window, line, known, window.no_access_time, look);
}

namespace {

// Marks the records in the window whose file name is `name` (from the
// folder's watch; "K05A00A.elm") as outdated; a name that shares a hash
// with a record's marks it too, which only costs that record its look.
void mark_name(void* context, std::string_view name) {
  auto& window = *static_cast<LookAheadWindow*>(context);
  constexpr std::string_view SUFFIX = ".elm";
  if (name.size() <= SUFFIX.size()) return;
  const std::string_view stem = name.substr(0, name.size() - SUFFIX.size());
  for (std::size_t i = 0; i < SUFFIX.size(); ++i)
    if (upper_ascii(name[stem.size() + i]) != upper_ascii(SUFFIX[i])) return;
  const std::uint64_t key = name_hash(stem, true);
  if (window.in_window[static_cast<std::size_t>(key & window.in_window_mask)] ==
      0)
    return;
  for (std::uint64_t index = window.retired; index < window.published; ++index)
    if (PendingRecord& record = record_at(window, index);
        record.name_key == key)
      record.outdated = true;
}

// Reads the watch: every record in the window whose file changed since
// the last read is outdated, or all of them when changes were missed.
void mark_outdated(LookAheadWindow& window) {
  if (platform::read_watch(window.watch, mark_name, &window) ==
      platform::WatchNews::Names)
    return;
  for (std::uint64_t index = window.retired; index < window.published; ++index)
    record_at(window, index).outdated = true;
}

}  // namespace

namespace {

// Every JUDGED records of the window with a look, whether the workers made
// enough of the looks to pay for the window: when the run's thread made
// more than OWN_AT_MOST of them itself, the workers get little of the
// cores (beside busy programs) and the window only costs the run's thread
// its own work on it. The run then goes on as with one thread for RESTING
// records (look_ahead_workers.cpp), and tries the window again.
constexpr std::uint64_t JUDGED = 512;
constexpr std::uint64_t OWN_AT_MOST = JUDGED * 7 / 8;

void count_looks(LookAheadWindow& window, const PendingRecord& record) {
  if (!record.to_look) return;
  ++(record.own ? window.own_looks : window.worker_looks);
  if (window.own_looks + window.worker_looks < JUDGED) return;
  if (window.own_looks > OWN_AT_MOST) rest(window);
  window.own_looks = window.worker_looks = 0;
}

}  // namespace

void note_finished(LookAheadWindow& window, platform::WriteStatus status) {
  const bool created = status == platform::WriteStatus::Created;
  const bool wrote = created || changed(status);
  window.wrote_since_read = window.wrote_since_read || wrote;
  window.recent_writes = window.recent_writes << 1U | (wrote ? 1U : 0U);
  window.recent_creations = window.recent_creations << 1U | (created ? 1U : 0U);
  if (window.workers_started) return;
  consider_starting(window, wrote);
}

namespace {

// A free place for the next record. One always is: the window holds fewer
// than capacity records, and each worker at most one abandoned record.
std::uint32_t free_place(LookAheadWindow& window) {
  if (window.free_places.empty()) {
    std::vector<std::uint32_t>& held = window.held_places;
    for (std::size_t i = 0; i < held.size();) {
      if (window.records[held[i]].state.load(std::memory_order_acquire) ==
          FREE) {
        window.free_places.push_back(held[i]);
        held[i] = held.back();
        held.pop_back();
      } else {
        ++i;
      }
    }
  }
  const std::uint32_t place = window.free_places.back();
  window.free_places.pop_back();
  return place;
}

}  // namespace

ConvertedLine& next_record(LookAheadWindow& window) {
  if (window.next_place == UINT32_MAX) {
    window.next_place = free_place(window);
    window.order[static_cast<std::size_t>(window.published % window.capacity)]
        .store(window.next_place, std::memory_order_release);
  }
  return window.records[window.next_place].converted;
}

void publish_record(LookAheadWindow& window, const KnownState& known) {
  PendingRecord& record = record_at(window, window.published);
  record.known = known;
  ConvertedLine& line = record.converted;
  // The line it came from is gone once the next is read.
  line.designation = {line.file_name, line.file_name_size - 4};
  record.name_key = name_hash(line.designation, true);
  std::uint16_t& count = window.in_window[static_cast<std::size_t>(
      record.name_key & window.in_window_mask)];
  const bool looks = count == 0 && looking_ahead(window);
  ++count;
  record.look = platform::FileLook{};
  record.outdated = false;
  record.looked_now = false;
  record.abandoned = false;
  record.own = false;
  record.to_look = looks;
  record.state.store(looks ? READY : DONE, std::memory_order_release);
  if (!looks) pass_over(window, window.published);
  window.next_place = UINT32_MAX;
  ++window.published;
  window.ready.store(window.published);
  // A sleeping worker is woken only for a backlog that the workers awake
  // do not keep down: while they do (the files are in memory), waking one
  // costs more than its look. Waiting on the disk, they do not, and all
  // wake.
  const unsigned sleeping = window.sleeping.load();
  const unsigned up = awake(window);
  if (looks && sleeping > 0 && (on_disk(window) || up == 0) &&
      window.published - window.next_claim.load() >=
          WAKE_BACKLOG * (up + std::uint64_t{1}))
    wake_workers(window, 1);
}

PendingRecord& oldest_record(LookAheadWindow& window) {
  PendingRecord& record = record_at(window, window.retired);
  auto deadline = std::chrono::steady_clock::time_point::max();
  for (;;) {
    // Looked at just before its write: nothing to confirm.
    if (claim(record)) {
      record.own = true;
      look(window, record, window.no_access_time);
      record.looked_now = true;
      return record;
    }
    int state = record.state.load(std::memory_order_acquire);
    if (state == DONE) return record;
    if (help(window)) continue;
    const auto now = std::chrono::steady_clock::now();
    if (deadline == std::chrono::steady_clock::time_point::max())
      deadline = now + PATIENCE;
    if (now < deadline) continue;
    if (record.state.compare_exchange_strong(state, ABANDONED,
                                             std::memory_order_acq_rel)) {
      record.abandoned = true;
      record.own = true;
      record.looked_now = true;
      timed_look(window, record.converted, record.known,
                 window.no_access_time, record.own_look);
      return record;
    }
  }
}

void confirm_look(LookAheadWindow& window, PendingRecord& record,
                  std::uint64_t names_written) {
  if (record.looked_now || record.look.found == platform::FileLook::Found::None)
    return;
  if (names_written != window.names_at_read || window.wrote_since_read ||
      window.retired - window.retired_at_read >= READ_EVERY) {
    mark_outdated(window);
    window.names_at_read = names_written;
    window.wrote_since_read = false;
    window.retired_at_read = window.retired;
  }
  if (record.outdated) platform::forget_look(record.look);
}

void retire_oldest(LookAheadWindow& window, platform::WriteStatus status) {
  PendingRecord& record = record_at(window, window.retired);
  note_finished(window, status);
  count_looks(window, record);
  --window.in_window[static_cast<std::size_t>(record.name_key &
                                              window.in_window_mask)];
  platform::forget_look(look_of(record));
  // An abandoned record's place is freed by its worker.
  const std::uint32_t place =
      window.order[static_cast<std::size_t>(window.retired % window.capacity)]
          .load(std::memory_order_relaxed);
  if (record.abandoned) {
    window.held_places.push_back(place);
  } else {
    record.state.store(FREE, std::memory_order_relaxed);
    window.free_places.push_back(place);
  }
  pass_over(window, window.retired);  // finished before a worker came
  ++window.retired;
}

}  // namespace orbelm
