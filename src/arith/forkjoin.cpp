// The fork/join of two calls: the partner's loop, the caller's side, and the
// program's Pair with its thread count.
#include "arith/forkjoin.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "arith/cpu.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace forkjoin {
namespace {

using Clock = std::chrono::steady_clock;

// One step of a spin: the processor told that this is a wait loop.
inline void relax() noexcept {
#if defined(__x86_64__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// The partner's stack: the tasks keep their arrays on the heap, so that a
// small one leaves the address space to the data when a limit keeps it tight.
// GMP, which the series run on it, takes its temporaries of up to 32,512
// bytes from the stack (alloca), nested in its recursions: the partner's
// deepest was 157 KB for pi to 10^6 and 10^7 decimals, 111 KB for e, with
// room for a few times that here. ThreadSanitizer's instrumentation needs
// more.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kStack = std::size_t{1} << 21;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr std::size_t kStack = std::size_t{1} << 21;
#else
constexpr std::size_t kStack = std::size_t{1} << 19;
#endif
#else
constexpr std::size_t kStack = std::size_t{1} << 19;
#endif

}  // namespace

void* Pair::serve_thread(void* self) noexcept {
  static_cast<Pair*>(self)->serve();
  return nullptr;
}

bool Pair::start() noexcept {
  if (tried_) return started_.load(std::memory_order_relaxed);
  tried_ = true;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_t thread;
  // Not below the system's least, which is 128 KiB on 64-bit ARM.
  const long least = sysconf(_SC_THREAD_STACK_MIN);
  const std::size_t stack = std::max(kStack, least > 0 ? static_cast<std::size_t>(least) : std::size_t{0});
  const bool made =
      pthread_attr_setstacksize(&attr, stack) == 0 && pthread_create(&thread, &attr, serve_thread, this) == 0;
  pthread_attr_destroy(&attr);
  if (!made) return false;                        // no thread to be had: both calls here
  pthread_setname_np(thread, "fixcalc-partner");  // as top -H and /proc show it
  thread_ = static_cast<std::uintptr_t>(thread);
  started_.store(true, std::memory_order_release);
  return true;
}

Pair::~Pair() {
  if (!started_.load(std::memory_order_acquire)) return;
  state_.store(kStop, std::memory_order_release);
  state_.notify_all();
  pthread_join(static_cast<pthread_t>(thread_), nullptr);
}

Counts Pair::counts() const noexcept {
  return {claimed_.load(std::memory_order_relaxed), taken_back_.load(std::memory_order_relaxed),
          waited_.load(std::memory_order_relaxed), rested_.load(std::memory_order_relaxed)};
}

// The partner: spins for a posted call up to its budget from the end of its
// last one, then blocks until the state changes; claims a posted call, makes
// it and says so. It spins yielding the processor, so that with more threads
// than processors (two runs at once on two) its spin costs the others little:
// two runs of command 17 to 3 10^4 decimals at once took 0.62 s against 0.65
// with the processor's pause (medians of 4), one run as long.
void Pair::serve() noexcept {
  auto until = Clock::now() + rest_spin_;
  int s = state_.load(std::memory_order_acquire);
  for (;;) {
    if (s == kStop) return;
    if (s == kPosted) {
      if (hooks_ != nullptr) hooks_->seen();
      if (state_.compare_exchange_strong(s, kClaimed, std::memory_order_acquire)) {
        if (hooks_ != nullptr) hooks_->claimed();
        claimed_.fetch_add(1, std::memory_order_relaxed);
        (*task_)(0);
        state_.store(kDone, std::memory_order_release);
        state_.notify_one();
      }
      until = Clock::now() + rest_spin_;
      s = state_.load(std::memory_order_acquire);
      continue;
    }
    // Idle, or done and not yet seen by the caller: nothing to claim.
    if (Clock::now() >= until) {
      if (hooks_ != nullptr) hooks_->resting();
      rested_.fetch_add(1, std::memory_order_relaxed);
      state_.wait(s, std::memory_order_acquire);  // until the state is other than s
    } else {
      std::this_thread::yield();  // the processor to another thread that has work, if any
    }
    s = state_.load(std::memory_order_acquire);
  }
}

namespace {

[[noreturn]] void reentered() noexcept {
  std::fputs("fixcalc: internal error: a fork/join re-entered\n", stderr);
  std::abort();
}

}  // namespace

void Pair::run(Task task) noexcept {
  if (running_.exchange(true, std::memory_order_acquire)) reentered();
  if (!start()) {
    task(0);
    task(1);
    running_.store(false, std::memory_order_release);
    return;
  }
  task_ = &task;
  state_.store(kPosted, std::memory_order_release);
  state_.notify_one();  // a system call only when the partner rests
  if (hooks_ != nullptr) hooks_->posted();
  task(1);
  int s = kPosted;
  if (state_.compare_exchange_strong(s, kIdle, std::memory_order_acquire)) {
    if (hooks_ != nullptr) hooks_->taken_back();
    taken_back_.fetch_add(1, std::memory_order_relaxed);
    task(0);  // not claimed: made here
  } else {
    const auto until = Clock::now() + join_spin_;
    while ((s = state_.load(std::memory_order_acquire)) != kDone) {
      if (Clock::now() < until) {
        relax();
        continue;
      }
      if (hooks_ != nullptr) hooks_->waiting();
      waited_.fetch_add(1, std::memory_order_relaxed);
      state_.wait(s, std::memory_order_acquire);
    }
    state_.store(kIdle, std::memory_order_relaxed);
  }
  running_.store(false, std::memory_order_release);
}

namespace {

std::atomic<int> thread_count{0};

// Every call is checked for re-entry, in turn or not, so that a nested call
// fails whatever the thread count.
std::atomic<bool> in_run{false};

Pair& program_pair() noexcept {
  // Made at the first parallel call and never destroyed: the partner may
  // rest in its wait while the process exits.
  static Pair* const pair = new Pair;
  return *pair;
}

// The Rider that the next parallel run of this thread takes on.
thread_local Rider* riding = nullptr;

}  // namespace

void set_threads(int n) noexcept { thread_count.store(n, std::memory_order_relaxed); }

int threads() noexcept {
  const int n = thread_count.load(std::memory_order_relaxed);
  return n > 0 ? n : processors() >= 2 ? 2 : 1;
}

void Rider::arm() noexcept {
  if (riding != nullptr) reentered();
  riding = this;
}

void Rider::disarm() noexcept {
  if (riding == this) riding = nullptr;
}

void Rider::finish(bool parallel) noexcept {
  if (done_) return;
  disarm();
  done_ = true;
  run_task(task_, parallel);
}

void run_task(Task task, bool parallel) noexcept {
  if (in_run.exchange(true, std::memory_order_acquire)) reentered();
  if (parallel && threads() >= 2) {
    Rider* const rider = riding;
    if (rider == nullptr) {
      program_pair().run(task);
    } else {
      riding = nullptr;
      rider->taken_ = rider->done_ = true;
      auto both = [&](int t) noexcept { task(t), rider->task_(t); };
      program_pair().run(Task(both));
    }
  } else {
    task(0);
    task(1);
  }
  in_run.store(false, std::memory_order_release);
}

}  // namespace forkjoin
