// Two calls side by side: the residues of a product modulo its two primes.
// A second thread, started at the first long product, waits for work; the
// calling thread posts a call, makes the other, and then takes the posted
// one back if the second thread has not claimed it yet.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>

#include "arith/longmult/ntt.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define FIXCALC_PAUSE() _mm_pause()
#else
#define FIXCALC_PAUSE() ((void)0)
#endif

namespace longmult::ntt {
namespace {

enum : int { kIdle, kPosted, kClaimed, kDone, kWake };

struct Pair {
  std::atomic<int> state{kIdle};
  void (*fn)(const void*, int) = nullptr;  // the posted call, written before kPosted
  const void* ctx = nullptr;
};
Pair pair;

// Rounds of spinning (about half a millisecond) before a thread sleeps: in a
// series the products follow one another within less, and a thread woken from
// sleep starts late (command 17 at 30,000 decimals took 1.36 to 1.53 s with
// 20,000 rounds, 1.42 to 1.66 s with 2,000).
constexpr int kSpins = 20'000;

// When the second thread did not claim a posted call, or was slow to make it
// (its processor busy with other work, or the thread asleep or just started),
// the next pairs run in turn: one after a first miss, twice as many after
// each further one in a row, up to kMostInTurn; a pair made side by side in
// time ends the run of misses. For a longer pause the second thread sleeps
// rather than spin, so as not to take time from this one where the two share
// a processor, and is woken kWakeAhead pairs before the next is posted.
constexpr int kMostInTurn = 32;
constexpr int kWakeAhead = 4;
int in_turn = 0;  // pairs still to run in turn
int pause = 0;    // the length of the last pause, 0 after a pair made side by side
std::atomic<bool> resting{false};

void pause_pairs() {
  pause = pause == 0 ? 1 : std::min(2 * pause, kMostInTurn);
  in_turn = pause;
  if (pause > kWakeAhead) resting.store(true, std::memory_order_relaxed);
}

void* serve(void*) {
  for (;;) {
    int s = pair.state.load(std::memory_order_acquire);
    for (int i = 0; s != kPosted && i < kSpins && !resting.load(std::memory_order_relaxed); ++i) {
      FIXCALC_PAUSE();
      s = pair.state.load(std::memory_order_acquire);
    }
    if (s != kPosted) {
      pair.state.wait(s, std::memory_order_acquire);
      continue;
    }
    if (!pair.state.compare_exchange_strong(s, kClaimed, std::memory_order_acquire)) continue;
    pair.fn(pair.ctx, 0);
    pair.state.store(kDone, std::memory_order_release);
    pair.state.notify_one();
  }
}

// Whether the second thread runs; started once, by the calling thread, with
// a small stack (the transforms keep their arrays elsewhere), so that it takes
// little of an address space that a limit may keep tight.
bool started() {
  static const bool ok = [] {
    if (processors() < 2) return false;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_t thread;
    const bool made = pthread_attr_setstacksize(&attr, std::size_t{1} << 16) == 0 &&
                      pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
                      pthread_create(&thread, &attr, serve, nullptr) == 0;
    pthread_attr_destroy(&attr);
    return made;  // else no thread to be had: both calls here
  }();
  return ok;
}

}  // namespace

void run_pair(void (*fn)(const void*, int), const void* ctx, bool parallel) {
  if (!parallel || in_turn > 0 || !started()) {
    if (parallel && in_turn > 0 && --in_turn == kWakeAhead && started()) {
      resting.store(false, std::memory_order_relaxed);
      pair.state.store(kWake, std::memory_order_release);  // a change of state, to end its wait
      pair.state.notify_one();
    }
    fn(ctx, 0);
    fn(ctx, 1);
    return;
  }
  pair.fn = fn;
  pair.ctx = ctx;
  pair.state.store(kPosted, std::memory_order_release);
  pair.state.notify_one();
  const auto start = std::chrono::steady_clock::now();
  fn(ctx, 1);
  int s = kPosted;
  if (pair.state.compare_exchange_strong(s, kIdle, std::memory_order_acquire)) {
    fn(ctx, 0);  // not claimed: made here
    pause_pairs();
    return;
  }
  const auto made = std::chrono::steady_clock::now();
  for (int i = 0; (s = pair.state.load(std::memory_order_acquire)) != kDone; ++i) {
    if (i < kSpins)
      FIXCALC_PAUSE();
    else
      pair.state.wait(s, std::memory_order_acquire);
  }
  pair.state.store(kIdle, std::memory_order_relaxed);
  // A second thread that took more than twice as long as this one shares its
  // processor with other work: the next pairs run in turn.
  if (std::chrono::steady_clock::now() - made > made - start)
    pause_pairs();
  else
    pause = 0;
}

}  // namespace longmult::ntt
