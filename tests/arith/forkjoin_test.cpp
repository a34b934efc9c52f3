// The fork/join of two calls, path by path (the partner claims the call, or
// the caller takes it back, or blocks for a slow partner, or wakes a resting
// one), each forced by hooks that hold one thread until the other gets
// somewhere, so that no outcome depends on the machine's speed. Then many
// calls with every path mixed, the thread count, and re-entry.
#include "arith/forkjoin.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using forkjoin::Pair;
using forkjoin::Task;

// A flag one thread raises and another awaits (a minute at most: the bound
// only turns a hang into a failure).
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
  int want(int i) const { return round * 7 + i / 1000 * 3 + i % 1000; }
  void operator()(int t) noexcept {
    by[t] = std::this_thread::get_id();
    for (int i = t * 1000; i < t * 1000 + 1000; ++i) out[static_cast<std::size_t>(i)] = want(i);
  }
  // Both halves filled, the second call the caller's, the first the partner's
  // or the caller's.
  void expect_made(bool byPartner) const {
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], want(i)) << "round " << round;
    EXPECT_EQ(by[0] != std::this_thread::get_id(), byPartner);
    EXPECT_EQ(by[1], std::this_thread::get_id());
  }
};

void expect_counts(const Pair& pair, std::int64_t claimed, std::int64_t taken_back) {
  const forkjoin::Counts c = pair.counts();
  EXPECT_EQ(c.claimed, claimed);
  EXPECT_EQ(c.taken_back, taken_back);
}

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
    expect_counts(pair, 1, 0);
  }
  h.expect_made(true);
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
  h.expect_made(false);
  expect_counts(pair, 0, 1);
  round = h.round = 1;
  pair.run(Task(h));
  h.expect_made(true);
  expect_counts(pair, 1, 1);
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
  h.expect_made(true);  // the partner's half, seen by the caller after its wait
  expect_counts(pair, 1, 0);
  EXPECT_EQ(pair.counts().waited, 1);
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
  EXPECT_GE(pair.counts().rested, 1);
  h.round = 1;
  pair.run(Task(h));
  h.expect_made(true);
  expect_counts(pair, 2, 0);
}

// Many runs, every path mixed: no spin (the partner rests and the caller
// blocks every time) or the default, with random delays on either side.
// Every call is made once and its results are there when the run returns.
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
    long sums[2] = {0, 0};
    constexpr int kRuns = 2000;
    for (int r = 0; r < kRuns; ++r) {
      int made[2] = {0, 0};
      const auto task = [&](int t) noexcept {
        ++made[t];
        sums[t] += r;
      };
      pair.run(Task(task));
      ASSERT_TRUE(made[0] == 1 && made[1] == 1) << "run " << r << ": calls made " << made[0] << " and " << made[1];
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
// set once): with one thread both calls are the caller's and no second thread
// starts; with more the partner starts, and calls not parallel stay the caller's.
// A Rider goes with the first parallel run there is (none with one thread),
// each of its calls once, after the run's call on the same thread; else its
// finish makes them; one dropped unfinished goes with no run.
void run_program_pairs(int threads) {
  forkjoin::set_threads(threads);
  const std::thread::id me = std::this_thread::get_id();
  bool mine = true;
  for (const bool parallel : {false, true})
    for (int r = 0; r < 200; ++r) {
      std::thread::id by[2];
      forkjoin::run_pair([&](int t) noexcept { by[t] = std::this_thread::get_id(); }, parallel);
      if (!parallel || threads == 1) mine = mine && by[0] == me && by[1] == me;
    }
  bool rides = true;
  for (int r = 0; r < 50; ++r) {
    std::thread::id by[2], rode[2];
    int made[2] = {}, after[2] = {};
    auto ride = [&](int t) noexcept {
      rode[t] = std::this_thread::get_id(), ++made[t], after[t] = by[t] != std::thread::id{};
    };
    { forkjoin::Rider dropped(ride); }
    forkjoin::Rider rider(ride);
    forkjoin::run_pair([&](int t) noexcept { by[t] = std::this_thread::get_id(); }, false);
    rides = rides && !rider.taken() && made[0] + made[1] == 0;
    by[0] = by[1] = {};
    forkjoin::run_pair([&](int t) noexcept { by[t] = std::this_thread::get_id(); }, true);
    rides = rides && rider.taken() == (threads > 1);
    rider.finish(true);
    rider.finish(true);
    rides = rides && made[0] == 1 && made[1] == 1;
    if (threads > 1) rides = rides && rode[0] == by[0] && rode[1] == by[1] && after[0] && after[1];
  }
  std::exit(mine && rides && partners_now() == (threads == 1 ? 0 : 1) ? 0 : 1);
}

// Where no thread can be had (here: no address space left for its stack),
// both calls run on the caller, in order; in a process of its own, which
// keeps no stack of an earlier thread to reuse. The sanitizers' allocators
// need address space of their own, and an emulator need not apply the limit.
TEST(ForkJoin, WithoutAPartnerTheCallerMakesBoth) {
  SKIP_IF_EMULATED();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "sanitizer";
#endif
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit tight{};
        getrlimit(RLIMIT_AS, &tight);
        tight.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 16);
        Halves h;
        Pair pair;
        setrlimit(RLIMIT_AS, &tight);
        pair.run(Task(h));
        bool made = h.by[0] == std::this_thread::get_id() && h.by[1] == std::this_thread::get_id();
        for (int i = 0; i < 2000; ++i) made = made && h.out[static_cast<std::size_t>(i)] == h.want(i);
        std::_Exit(made && !pair.started() && pair.counts().claimed == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ForkJoin, ThreadCountOfTheProgram) {
  SKIP_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int threads : {1, 2, 3})
    EXPECT_EXIT(run_program_pairs(threads), testing::ExitedWithCode(0), "") << threads;
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
