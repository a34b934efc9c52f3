// The fork/join of two calls, path by path: the partner claims the call; it
// does not, and the caller takes it back; the partner is slow and the caller
// blocks for it; the partner rests and a posted call wakes it. Each path is
// forced by hooks that hold one thread until the other gets somewhere (and by
// delays that make a blocking wait all but certain), so that no outcome
// depends on how fast or busy the machine is. Then many calls with every path
// mixed, the thread count, and re-entry.
#include "arith/forkjoin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using forkjoin::Pair;
using forkjoin::Task;

// A flag one thread raises and another awaits. The bound of a minute only
// turns a hang into a failure: every wait ends as soon as the other thread
// gets to its raise().
class Flag {
 public:
  void raise() {
    std::lock_guard lock(m_);
    up_ = true;
    cv_.notify_all();
  }
  void lower() {
    std::lock_guard lock(m_);
    up_ = false;
  }
  bool await() {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, 1min, [&] { return up_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool up_ = false;
};

// Hooks as functions, set before the Pair starts and only called after.
struct Scripted : forkjoin::Hooks {
  std::function<void()> on_posted, on_seen, on_claimed, on_taken_back, on_waiting, on_resting;
  void posted() override { call(on_posted); }
  void seen() override { call(on_seen); }
  void claimed() override { call(on_claimed); }
  void taken_back() override { call(on_taken_back); }
  void waiting() override { call(on_waiting); }
  void resting() override { call(on_resting); }
  static void call(const std::function<void()>& f) {
    if (f) f();
  }
};

// The two calls of a run: each fills its half of `out` and notes its thread.
struct Halves {
  std::vector<int> out = std::vector<int>(2000, 0);
  std::thread::id by[2];
  int round = 0;
  void operator()(int t) noexcept {
    by[t] = std::this_thread::get_id();
    for (std::size_t i = 0; i < 1000; ++i) out[t * 1000 + i] = round * 7 + t * 3 + static_cast<int>(i);
  }
  bool filled() const {
    for (int t = 0; t < 2; ++t)
      for (std::size_t i = 0; i < 1000; ++i)
        if (out[t * 1000 + i] != round * 7 + t * 3 + static_cast<int>(i)) return false;
    return true;
  }
};

TEST(ForkJoin, PartnerClaimsTheCall) {
  Flag claimed;
  Scripted hooks;
  hooks.on_claimed = [&] { claimed.raise(); };
  hooks.on_posted = [&] { ASSERT_TRUE(claimed.await()); };  // the caller's own call waits for the claim
  Halves h;
  {
    Pair pair(forkjoin::kRestSpin, forkjoin::kJoinSpin, &hooks);
    EXPECT_FALSE(pair.started());  // no thread until the first run
    pair.run(Task(h));
    EXPECT_TRUE(pair.started());
    const forkjoin::Counts c = pair.counts();
    EXPECT_EQ(c.claimed, 1);
    EXPECT_EQ(c.taken_back, 0);
  }
  EXPECT_TRUE(h.filled());
  EXPECT_NE(h.by[0], std::this_thread::get_id());
  EXPECT_EQ(h.by[1], std::this_thread::get_id());
}

TEST(ForkJoin, CallerTakesBackAnUnclaimedCall) {
  // The partner sees the first call posted but is held before it claims it,
  // until the caller, done with its own, has taken it back; the second call
  // it claims, after its failed claim.
  Flag seen, taken, claimed;
  std::atomic<int> round{0};
  Scripted hooks;
  hooks.on_seen = [&] {
    if (round.load() != 0) return;
    seen.raise();
    ASSERT_TRUE(taken.await());
  };
  hooks.on_taken_back = [&] { taken.raise(); };
  hooks.on_claimed = [&] { claimed.raise(); };
  hooks.on_posted = [&] { ASSERT_TRUE(round.load() == 0 ? seen.await() : claimed.await()); };
  Halves h;
  Pair pair(forkjoin::kRestSpin, forkjoin::kJoinSpin, &hooks);
  pair.run(Task(h));
  EXPECT_TRUE(h.filled());
  EXPECT_EQ(h.by[0], std::this_thread::get_id());
  EXPECT_EQ(h.by[1], std::this_thread::get_id());
  forkjoin::Counts c = pair.counts();
  EXPECT_EQ(c.claimed, 0);
  EXPECT_EQ(c.taken_back, 1);

  round = 1;
  h.round = 1;
  pair.run(Task(h));
  EXPECT_TRUE(h.filled());
  EXPECT_NE(h.by[0], std::this_thread::get_id());
  c = pair.counts();
  EXPECT_EQ(c.claimed, 1);
  EXPECT_EQ(c.taken_back, 1);
}

TEST(ForkJoin, CallerBlocksForASlowPartner) {
  // No spin at all: the caller, done first, blocks at once; the partner holds
  // its call until then and a little longer, so that the caller is asleep in
  // its wait when the partner's end wakes it.
  Flag claimed, waiting;
  Scripted hooks;
  hooks.on_claimed = [&] {
    claimed.raise();
    ASSERT_TRUE(waiting.await());
    std::this_thread::sleep_for(20ms);
  };
  hooks.on_waiting = [&] { waiting.raise(); };
  hooks.on_posted = [&] { ASSERT_TRUE(claimed.await()); };
  Halves h;
  Pair pair(0ns, 0ns, &hooks);
  pair.run(Task(h));
  EXPECT_TRUE(h.filled());  // the partner's half, seen by the caller after its wait
  EXPECT_NE(h.by[0], std::this_thread::get_id());
  const forkjoin::Counts c = pair.counts();
  EXPECT_EQ(c.claimed, 1);
  EXPECT_EQ(c.waited, 1);
}

TEST(ForkJoin, RestingPartnerIsWoken) {
  // After its first call the partner spins for no time and rests; the
  // second call, posted well after it went to rest, must wake it, since the
  // caller waits for the claim before it makes its own call.
  Flag claimed, rested;
  Scripted hooks;
  hooks.on_claimed = [&] {
    rested.lower();
    claimed.raise();
  };
  hooks.on_resting = [&] { rested.raise(); };
  hooks.on_posted = [&] {
    ASSERT_TRUE(claimed.await());
    claimed.lower();
  };
  Halves h;
  Pair pair(0ns, 0ns, &hooks);
  pair.run(Task(h));
  ASSERT_TRUE(rested.await());
  std::this_thread::sleep_for(20ms);
  const std::int64_t rests = pair.counts().rested;
  EXPECT_GE(rests, 1);
  h.round = 1;
  pair.run(Task(h));
  EXPECT_TRUE(h.filled());
  EXPECT_NE(h.by[0], std::this_thread::get_id());
  EXPECT_EQ(pair.counts().claimed, 2);
}

// Many runs, every path mixed: no spin (the partner rests and is woken every
// time, and the caller blocks) or the default, with delays injected at random
// on either side. Every call is made once, by one thread or the other, and
// its results are there when the run returns.
TEST(ForkJoin, ManyRunsMakeEveryCallOnce) {
  for (const auto spin : {std::chrono::nanoseconds(0), forkjoin::kJoinSpin}) {
    std::atomic<unsigned> seed{12345};
    const auto maybe_pause = [&] {
      const unsigned r = seed.fetch_add(2654435761u) >> 27;  // 0 to 31
      if (r < 4) std::this_thread::sleep_for(std::chrono::microseconds(50 * r));
    };
    Scripted hooks;
    hooks.on_posted = maybe_pause;
    hooks.on_seen = maybe_pause;
    hooks.on_claimed = maybe_pause;
    Pair pair(spin, spin, &hooks);
    std::vector<long> sums(2);
    constexpr int kRuns = 2000;
    for (int r = 0; r < kRuns; ++r) {
      int made[2] = {0, 0};
      long* s = sums.data();
      const auto task = [&](int t) noexcept {
        ++made[t];
        s[t] += r;
      };
      pair.run(Task(task));
      ASSERT_EQ(made[0], 1) << "run " << r;
      ASSERT_EQ(made[1], 1) << "run " << r;
    }
    const long want = long{kRuns} * (kRuns - 1) / 2;
    EXPECT_EQ(sums[0], want);
    EXPECT_EQ(sums[1], want);
    const forkjoin::Counts c = pair.counts();
    EXPECT_EQ(c.claimed + c.taken_back, kRuns);
  }
}

// The number of partner threads of this process, by their name in /proc.
int partners_now() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    n += std::getline(comm, name) && name == "fixcalc-partner";
  }
  return n;
}

// The program's pair, in a process of its own each time (the thread count is
// set once, before the first product): with one thread no second thread is
// ever started and both calls are the caller's; with two the partner is
// there after the first parallel call, and calls not marked parallel stay
// with the caller.
void run_program_pairs(int threads) {
  forkjoin::set_threads(threads);
  const std::thread::id me = std::this_thread::get_id();
  bool mine = true;
  for (int r = 0; r < 200; ++r) {
    std::thread::id by[2];
    forkjoin::run_pair([&](int t) noexcept { by[t] = std::this_thread::get_id(); }, false);
    mine = mine && by[0] == me && by[1] == me;
  }
  for (int r = 0; r < 200; ++r) {
    std::thread::id by[2];
    forkjoin::run_pair([&](int t) noexcept { by[t] = std::this_thread::get_id(); }, true);
    if (threads == 1) mine = mine && by[0] == me && by[1] == me;
  }
  std::exit(mine && partners_now() == (threads == 1 ? 0 : 1) ? 0 : 1);
}

TEST(ForkJoin, ThreadCountOfTheProgram) {
  SKIP_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_program_pairs(1), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run_program_pairs(2), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run_program_pairs(3), testing::ExitedWithCode(0), "");
}

TEST(ForkJoin, ReentryStopsTheProcess) {
  SKIP_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // From a call of the same pair, on either thread.
  EXPECT_DEATH(
      {
        Pair pair;
        const auto inner = [](int) noexcept {};
        const auto outer = [&](int) noexcept { pair.run(Task(inner)); };
        pair.run(Task(outer));
      },
      "re-entered");
  // The program's, whatever the thread count and whether parallel or not.
  for (const int threads : {1, 2}) {
    EXPECT_DEATH(
        {
          forkjoin::set_threads(threads);
          forkjoin::run_pair([](int) noexcept { forkjoin::run_pair([](int) noexcept {}, false); }, true);
        },
        "re-entered");
  }
}

}  // namespace
