// The workers of the look-ahead window: threads that look at the element
// files of the records ahead of the run's thread, their sleep and wake-up,
// their priority, their rests and their end.
#include <cstdint>
#include <system_error>
#include <thread>

#include "look_ahead.hpp"
#include "look_ahead_detail.hpp"

namespace orbelm {

using namespace look_ahead_detail;

namespace {

// How often a worker without a record gives up its core before it sleeps.
constexpr unsigned IDLE_YIELDS = 32;

// The records a rest of the window lasts (see count_looks in
// look_ahead.cpp).
constexpr std::uint64_t RESTING = 16384;

// Waits until a record may be ready for a look and this worker is wanted
// for it (looks wait on the disk, or no other worker is awake), or the
// workers are to end. The run's thread never waits for a lock that a
// worker holds: a worker at the lowest priority beside busy programs may
// keep it for a long time.
void sleep_until_ready(LookAheadWindow& window) {
  window.sleeping.fetch_add(1);
  for (;;) {
    const std::uint32_t seen = window.wake.load();
    if (leaving(window) ||
        (window.next_claim.load() < window.ready.load() &&
         (on_disk(window) || awake(window) == 0)))
      break;
    window.wake.wait(seen);
  }
  window.sleeping.fetch_sub(1);
}

// A worker begins at the run's priority and lowers it for good once most
// of its last READS_JUDGED looks read their file instead of asking its
// state. A read of a file not in memory costs 30-50 µs of processor time
// here, and workers that read at the run's priority take the cores from
// the run's thread (a first refresh of 300,000 files with the page cache
// dropped: 6.2-8.0 s, against 5.3-5.8 s at the lowest priority). Asking a
// file's state costs little, and a worker at the lowest priority in the
// middle of it holds the name in the kernel: the run's thread that asks
// the same name after giving up on the worker's look waits until the
// worker gets a core again (beside busy programs: 7.2-7.6 s, against
// 5.5 s with one thread).
constexpr unsigned READS_JUDGED = 64;

void work(LookAheadWindow& window) {
  bool no_access_time = window.folder.no_access_time;
  unsigned idle = 0;
  unsigned looks = 0;
  unsigned reads = 0;
  bool lowered = false;
  while (!leaving(window)) {
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
    reads += record.known.held ? 0U : 1U;
    look(window, record, no_access_time);
    if (!lowered && ++looks == READS_JUDGED) {
      lowered = reads > READS_JUDGED / 2;
      if (lowered) platform::yield_priority();
      looks = reads = 0;
    }
    if (!on_disk(window) && awake(window) > window.fast_workers)
      sleep_until_ready(window);
  }
  window.running.fetch_sub(1);
}

}  // namespace

namespace look_ahead_detail {

bool leaving(const LookAheadWindow& window) {
  return window.stopping.load(std::memory_order_relaxed) ||
         window.resting.load(std::memory_order_relaxed);
}

// No lock: a worker that was about to sleep sees the bump and does not.
void wake_workers(LookAheadWindow& window, std::uint32_t count) {
  window.wake.fetch_add(1);
  if (count == 1) {
    window.wake.notify_one();
  } else {
    window.wake.notify_all();
  }
}

// The workers begin as if the looks waited on the disk, all of them awake,
// so that the files of the records right ahead are read ahead of them; a
// few hundred quick looks send all but one to sleep (see work()).
void start_workers(LookAheadWindow& window) {
  window.workers_started = true;
  // A look made ahead is used only once the watch tells that its file did
  // not change since: without one, no looks are made ahead.
  if (!platform::watching(window.watch) &&
      !platform::watch_folder(window.folder, window.watch))
    return;
  window.slow_score.store(SLOW_SCORE_CAP);
  window.workers.reserve(window.jobs - 1);
  // The workers start with the interruptions held, and keep them so.
  platform::hold_interruptions(true);
  // A thread that cannot be started leaves the run with fewer workers.
  try {
    for (unsigned i = 1; i < window.jobs; ++i) {
      window.running.fetch_add(1);
      window.workers.emplace_back(work, std::ref(window));
    }
  } catch (const std::system_error&) {
    window.running.fetch_sub(1);
  }
  platform::hold_interruptions(false);
}

// Sends the workers away while the window rests; they end once they get a
// core, and the run's thread does not wait for them.
void rest(LookAheadWindow& window) {
  window.resting_until = window.finished_alone + RESTING;
  window.resting.store(true);
  wake_workers(window, UINT32_MAX);
}

// After a rest, new workers in place of the ones that ended; while one of
// them has not ended yet, the window rests on.
void end_rest(LookAheadWindow& window) {
  if (window.running.load() != 0) {
    window.resting_until = window.finished_alone + RESTING;
    return;
  }
  for (std::thread& worker : window.workers) worker.join();
  window.workers.clear();
  window.resting.store(false);
  start_workers(window);
}

}  // namespace look_ahead_detail

void stop_look_ahead(LookAheadWindow& window) {
  if (window.capacity == 0) return;
  window.stopping.store(true);
  wake_workers(window, UINT32_MAX);
  for (std::thread& worker : window.workers) worker.join();
  window.workers.clear();
  for (std::size_t i = 0; i < window.capacity + window.jobs; ++i) {
    platform::forget_look(window.records[i].look);
    platform::forget_look(window.records[i].own_look);
  }
  platform::close_watch(window.watch);
}

}  // namespace orbelm
