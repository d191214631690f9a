#include "look_ahead.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <system_error>

#include "hash.hpp"

namespace orbelm {
namespace {

// A record's way through the window. FREE: not in it; READY: published,
// its file not yet looked at; LOOKING: a worker (or the run's thread) is
// looking; DONE: looked at, or published without a look. Only the thread
// that moved a record from READY to LOOKING touches it until DONE.
constexpr int FREE = 0;
constexpr int READY = 1;
constexpr int LOOKING = 2;
constexpr int DONE = 3;

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

// How often a worker without a record gives up its core before it sleeps.
constexpr unsigned IDLE_YIELDS = 32;

// The records waiting for a look that wake a sleeping worker.
constexpr std::uint64_t WAKE_BACKLOG = 8;

// A look that takes longer than this waited for the disk; a quicker one
// found its file in memory. While looks are quick, more workers than the
// cores beside the run's own only take turns on them, and the run's thread
// makes looks itself instead of waiting.
constexpr auto SLOW_LOOK = std::chrono::microseconds(40);

// Whether looks wait on the disk is judged by a score that each slow look
// raises by SLOW_WEIGHT and each quick one lowers by 1, between 0 and
// SLOW_SCORE_CAP; above SLOW_SCORE_LIMIT they do. Once more than about one
// look in nine is slow the score climbs, and a few quick looks among slow
// ones do not make every worker sleep and wake again (right after a
// rewrite, quick and slow looks alternate).
constexpr int SLOW_WEIGHT = 8;
constexpr int SLOW_SCORE_CAP = 256;
constexpr int SLOW_SCORE_LIMIT = 64;

bool on_disk(const LookAheadWindow& window) {
  return window.slow_score.load(std::memory_order_relaxed) > SLOW_SCORE_LIMIT;
}

void note_look_time(LookAheadWindow& window, bool slow) {
  std::atomic<int>& score = window.slow_score;
  const int now = score.load(std::memory_order_relaxed);
  if (slow && now < SLOW_SCORE_CAP) {
    score.fetch_add(SLOW_WEIGHT, std::memory_order_relaxed);
  } else if (!slow && now > 0) {
    score.fetch_sub(1, std::memory_order_relaxed);
  }
}

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

unsigned awake(const LookAheadWindow& window) {
  return static_cast<unsigned>(window.workers.size()) - window.sleeping.load();
}

PendingRecord& record_at(const LookAheadWindow& window, std::uint64_t index) {
  return window.records[static_cast<std::size_t>(index % window.capacity)];
}

void timed_look(LookAheadWindow& window, const ConvertedLine& line,
                bool& no_access_time, platform::FileLook& look) {
  const auto start = std::chrono::steady_clock::now();
  platform::look_at_text_file(window.folder, line.file_name, line.element_line,
                              line.element_line_size, !window.dry_run,
                              no_access_time, look);
  note_look_time(window, std::chrono::steady_clock::now() - start > SLOW_LOOK);
}

void look(LookAheadWindow& window, PendingRecord& record,
          bool& no_access_time) {
  timed_look(window, record.converted, no_access_time, record.look);
  record.state.store(DONE, std::memory_order_release);
  record.state.notify_one();
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

bool claim(PendingRecord& record) {
  int expected = READY;
  return record.state.compare_exchange_strong(expected, LOOKING,
                                              std::memory_order_acquire);
}

// Waits until a record may be ready for a look and this worker is wanted
// for it (looks wait on the disk, or no other worker is awake), or the
// window stops.
void sleep_until_ready(LookAheadWindow& window) {
  std::unique_lock<std::mutex> lock(window.sleep_mutex);
  window.sleeping.fetch_add(1);
  const auto wanted = [&window] {
    return window.next_claim.load() < window.ready.load() &&
           (on_disk(window) || awake(window) == 0);
  };
  while (!window.stopping.load() && !wanted()) window.wake.wait(lock);
  window.sleeping.fetch_sub(1);
}

void work(LookAheadWindow& window) {
  platform::yield_priority();
  bool no_access_time = window.folder.no_access_time;
  unsigned idle = 0;
  while (!window.stopping.load(std::memory_order_relaxed)) {
    std::uint64_t index = window.next_claim.load(std::memory_order_relaxed);
    if (index >= window.ready.load(std::memory_order_acquire)) {
      // With the files in memory the next record is usually a few
      // microseconds away: a thread that gives its core up a few times
      // before it sleeps saves the wake-up. Waiting on the disk, the other
      // workers want the core (a cold refresh of 300,000 files made 230,000
      // yields, and 100,000 more switches between threads, without gain).
      if (++idle < IDLE_YIELDS && !on_disk(window)) {
        std::this_thread::yield();
      } else {
        sleep_until_ready(window);
        idle = 0;
      }
      continue;
    }
    idle = 0;
    if (!window.next_claim.compare_exchange_weak(index, index + 1,
                                                 std::memory_order_relaxed))
      continue;
    PendingRecord& record = record_at(window, index);
    if (!claim(record)) continue;
    look(window, record, no_access_time);
    if (!on_disk(window) && awake(window) > window.fast_workers)
      sleep_until_ready(window);
  }
}

// A look the run's thread makes while it waits for the oldest record's;
// false when none is left to make.
bool help(LookAheadWindow& window) {
  const std::uint64_t end =
      std::min(window.published, window.retired + 1 + HELP_REACH);
  for (std::uint64_t index = window.retired + 1; index < end; ++index) {
    PendingRecord& record = record_at(window, index);
    if (claim(record)) {
      look(window, record, window.no_access_time);
      return true;
    }
  }
  return false;
}

}  // namespace

void start_look_ahead(LookAheadWindow& window,
                      const platform::OutputFolder& folder, bool dry_run,
                      unsigned jobs) {
  if (jobs <= 1 || !platform::LOOKS_AHEAD) return;
  window.capacity = std::max<std::size_t>(64, std::size_t{8} * jobs);
  window.records = std::make_unique<PendingRecord[]>(window.capacity);
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

void stop_look_ahead(LookAheadWindow& window) {
  if (window.capacity == 0) return;
  {
    const std::lock_guard<std::mutex> lock(window.sleep_mutex);
    window.stopping.store(true);
  }
  window.wake.notify_all();
  for (std::thread& worker : window.workers) worker.join();
  window.workers.clear();
  for (std::size_t i = 0; i < window.capacity; ++i)
    platform::forget_look(window.records[i].look);
  platform::close_watch(window.watch);
}

namespace {

// Whether files are being looked at, ahead or now and then.
bool looks_pay(const LookAheadWindow& window) {
  return window.capacity > 0 && !window.folder.missing &&
         std::popcount(window.recent_creations) < MOSTLY_CREATED;
}

// The workers begin as if the looks waited on the disk, all of them awake,
// so that the files of the records right ahead are read ahead of them; a
// few hundred quick looks send all but one to sleep (see work()).
void start_workers(LookAheadWindow& window) {
  window.workers_started = true;
  // A look made ahead is used only once the watch tells that its file did
  // not change since: without one, no looks are made ahead.
  if (!platform::watch_folder(window.folder, window.watch)) return;
  window.slow_score.store(SLOW_SCORE_CAP);
  window.workers.reserve(window.jobs - 1);
  // The workers start with the interruptions held, and keep them so.
  platform::hold_interruptions(true);
  // A thread that cannot be started leaves the run with fewer workers.
  try {
    for (unsigned i = 1; i < window.jobs; ++i)
      window.workers.emplace_back(work, std::ref(window));
  } catch (const std::system_error&) {
  }
  platform::hold_interruptions(false);
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
         looks_pay(window) &&
         (std::popcount(window.recent_writes) <= FEW_WRITTEN ||
          on_disk(window));
}

void look_now(LookAheadWindow& window, const ConvertedLine& line,
              platform::FileLook& look) {
  const std::uint64_t count = ++window.finished_alone;
  if (looks_pay(window) && (count <= FIRST_STRETCH || count % PROBE == 0))
    timed_look(window, line, window.no_access_time, look);
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

void note_finished(LookAheadWindow& window, platform::WriteStatus status) {
  const bool created = status == platform::WriteStatus::Created;
  const bool wrote = created || changed(status);
  window.wrote_since_read = window.wrote_since_read || wrote;
  window.recent_writes = window.recent_writes << 1U | (wrote ? 1U : 0U);
  window.recent_creations = window.recent_creations << 1U | (created ? 1U : 0U);
  if (window.workers_started) return;
  consider_starting(window, wrote);
}

// Not const: the record it returns is the window's, to be filled.
// cppcheck-suppress constParameter
ConvertedLine& next_record(LookAheadWindow& window) {
  return record_at(window, window.published).converted;
}

void publish_record(LookAheadWindow& window) {
  PendingRecord& record = record_at(window, window.published);
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
  record.state.store(looks ? READY : DONE, std::memory_order_release);
  if (!looks) pass_over(window, window.published);
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
          WAKE_BACKLOG * (up + std::uint64_t{1})) {
    const std::lock_guard<std::mutex> lock(window.sleep_mutex);
    window.wake.notify_one();
  }
}

PendingRecord& oldest_record(LookAheadWindow& window) {
  PendingRecord& record = record_at(window, window.retired);
  if (claim(record)) {
    look(window, record, window.no_access_time);
    record.looked_now = true;  // just before its write: nothing to confirm
    return record;
  }
  int state = record.state.load(std::memory_order_acquire);
  while (state != DONE) {
    // Files in memory: a look made here costs what waiting would.
    if (on_disk(window) || !help(window))
      record.state.wait(state, std::memory_order_acquire);
    state = record.state.load(std::memory_order_acquire);
  }
  return record;
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
  --window.in_window[static_cast<std::size_t>(record.name_key &
                                              window.in_window_mask)];
  platform::forget_look(record.look);
  record.state.store(FREE, std::memory_order_relaxed);
  pass_over(window, window.retired);  // finished before a worker came
  ++window.retired;
}

}  // namespace orbelm
