// What the two sources of the look-ahead window share: the ways of a
// record through it, how a look is timed and made, where a record lies,
// and the workers' side that the run's side starts, rests and stops
// (look_ahead_workers.cpp). Internal to the module.
#ifndef ORBELM_LOOK_AHEAD_DETAIL_HPP
#define ORBELM_LOOK_AHEAD_DETAIL_HPP

#include <atomic>
#include <chrono>
#include <cstdint>

#include "look_ahead.hpp"

namespace orbelm::look_ahead_detail {

// A record's way through the window. FREE: not in it; READY: published,
// its file not yet looked at; LOOKING: a worker (or the run's thread) is
// looking; DONE: looked at, or published without a look; ABANDONED: the
// run's thread gave up waiting for the worker's look, and the worker frees
// the place once its look is over. Only the thread that moved a record
// from READY to LOOKING touches its look until DONE or FREE.
inline constexpr int FREE = 0;
inline constexpr int READY = 1;
inline constexpr int LOOKING = 2;
inline constexpr int DONE = 3;
inline constexpr int ABANDONED = 4;

// A look that takes longer than this waited for the disk; a quicker one
// found its file in memory. While looks are quick, more workers than the
// cores beside the run's own only take turns on them, and the run's thread
// makes looks itself instead of waiting.
inline constexpr auto SLOW_LOOK = std::chrono::microseconds(40);

// Whether looks wait on the disk is judged by a score that each slow look
// raises by SLOW_WEIGHT and each quick one lowers by 1, between 0 and
// SLOW_SCORE_CAP; above SLOW_SCORE_LIMIT they do. Once more than about one
// look in nine is slow the score climbs, and a few quick looks among slow
// ones do not make every worker sleep and wake again (right after a
// rewrite, quick and slow looks alternate).
inline constexpr int SLOW_WEIGHT = 8;
inline constexpr int SLOW_SCORE_CAP = 256;
inline constexpr int SLOW_SCORE_LIMIT = 64;

inline bool on_disk(const LookAheadWindow& window) {
  return window.slow_score.load(std::memory_order_relaxed) > SLOW_SCORE_LIMIT;
}

inline void note_look_time(LookAheadWindow& window, bool slow) {
  std::atomic<int>& score = window.slow_score;
  const int now = score.load(std::memory_order_relaxed);
  if (slow && now < SLOW_SCORE_CAP) {
    score.fetch_add(SLOW_WEIGHT, std::memory_order_relaxed);
  } else if (!slow && now > 0) {
    score.fetch_sub(1, std::memory_order_relaxed);
  }
}

inline unsigned awake(const LookAheadWindow& window) {
  return static_cast<unsigned>(window.workers.size()) - window.sleeping.load();
}

inline PendingRecord& record_at(const LookAheadWindow& window, std::uint64_t index) {
  return window.records[window.order[static_cast<std::size_t>(
                                         index % window.capacity)]
                            .load(std::memory_order_acquire)];
}

// Takes a published record for a look; false when another thread has.
inline bool claim(PendingRecord& record) {
  int expected = READY;
  return record.state.compare_exchange_strong(expected, LOOKING,
                                              std::memory_order_acquire);
}

// Makes the look of a record that this thread claimed; a look abandoned
// meanwhile is closed and its place freed (look_ahead.cpp).
void look(LookAheadWindow& window, PendingRecord& record, bool& no_access_time);

// The workers' side (look_ahead_workers.cpp): whether they are to end;
// waking `count` of the sleeping ones (all: UINT32_MAX); starting them;
// sending them away for a rest of the window, and new ones after it.
bool leaving(const LookAheadWindow& window);
void wake_workers(LookAheadWindow& window, std::uint32_t count);
void start_workers(LookAheadWindow& window);
void rest(LookAheadWindow& window);
void end_rest(LookAheadWindow& window);

}  // namespace orbelm::look_ahead_detail

#endif
