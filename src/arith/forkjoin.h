// Fork/join of two calls: task(0) on a second thread, the partner, while the
// calling thread makes task(1); the call returns when both are done. Any
// kernel may share its work out this way; the long products do.
//
// Thread model.
// - The caller: the one thread that calls Pair::run (for the program's Pair,
//   forkjoin::run_pair). It owns the posted task (Pair::task_) and writes it
//   only while no call is posted; it alone moves the state from idle to
//   posted, takes a posted call back (posted -> idle) and, once the partner
//   is done, returns the state to idle. A second run on the same Pair while
//   one is in progress (from a task, or from another thread) is a fault: the
//   process stops with a message rather than let two calls share the state.
// - The partner: one thread per Pair, started by the first parallel run (a
//   stack of 512 KiB: a task keeps its arrays elsewhere, but GMP, which
//   the series' tasks call, keeps temporaries there), stopped and joined when
//   the Pair is destroyed; the program's Pair is never destroyed. It reads
//   the posted task only after claiming it (posted -> claimed) and writes
//   nothing of the caller's but the task's own results and the state
//   (claimed -> done).
// - The state is the one point of contact: release on every change that
//   hands over data, acquire on every read that takes it.
// - Each thread waits for the other by spinning for a while, a budget in
//   time, then by blocking until the other one changes the state
//   (std::atomic::wait/notify). The caller, waiting for the end of a call
//   the partner has begun, spins for tens of microseconds: the end is near,
//   and a thread woken from a block starts tens of microseconds late. The
//   partner, waiting for the next call, spins for some hundreds of
//   microseconds, yielding the processor as it goes: between products the
//   caller works alone for about as long as a call takes, and a partner that
//   rested would start the next one late.
// - A call the partner has not claimed by the time the caller is done with
//   its own is taken back and made by the caller: a busy or single
//   processor costs no more than the two calls in turn.
// - Nothing here is cached per thread. The tasks' own caches (the products'
//   transform tables and work arrays) belong to the caller and are made
//   ready before the fork; a task writes only its own part of them.
// - A Rider (below) is armed, taken on and finished by the caller alone: the
//   one pointer to it is the caller's own (thread_local); its calls run
//   inside a run's calls and hand over their results as those do.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <type_traits>

namespace forkjoin {

// A non-owning reference to a callable `task(int) noexcept`; the callable
// must outlive every use of the reference.
class Task {
 public:
  template <class F>
  requires(std::is_nothrow_invocable_v<F&, int> &&
           !std::is_same_v<std::remove_cv_t<F>, Task>) explicit Task(F& f) noexcept
      : object_(&f), call_([](const void* o, int t) noexcept { (*static_cast<F*>(const_cast<void*>(o)))(t); }) {}
  void operator()(int t) const noexcept { call_(object_, t); }

 private:
  const void* object_;
  void (*call_)(const void*, int) noexcept;
};

// Points at which a test may stop or delay either thread, to steer a run
// into each of its paths; the program passes none.
struct Hooks {
  virtual void posted() {}      // caller: the call is posted, its own not begun
  virtual void seen() {}        // partner: it saw a posted call and is about to claim it
  virtual void claimed() {}     // partner: it claimed the call and is about to make it
  virtual void taken_back() {}  // caller: it took the call back and is about to make it
  virtual void waiting() {}     // caller: its spin is spent and it blocks until the partner is done
  virtual void resting() {}     // partner: its spin is spent and it blocks until a call is posted

 protected:
  ~Hooks() = default;
};

// How often each path was taken (by a Pair that was not re-entered).
struct Counts {
  std::int64_t claimed = 0;     // calls the partner made
  std::int64_t taken_back = 0;  // calls posted but made by the caller
  std::int64_t waited = 0;      // times the caller blocked for the partner
  std::int64_t rested = 0;      // times the partner blocked for a call
};

// The spin budgets: of the partner for a call before it rests, of the
// caller for the partner's end before it blocks. On command 17 to 10^5
// decimals (73,000 pairs of calls of 8 to 130 us, the caller's work between
// products about as long, a wake-up 10 to 30 us late on a virtual machine)
// two threads took, of the one-thread wall time and processor time, 0.79 and
// 1.18 with the partner spinning 5 us, 0.74 and 1.29 with 50 us, 0.68 and
// 1.24 with 300 us (medians of 3 interleaved runs): what the partner does not
// spend spinning, the caller spends waiting for its late start. Smaller runs
// and the other functions took as long with either (within 2%).
inline constexpr std::chrono::nanoseconds kRestSpin = std::chrono::microseconds(300);
inline constexpr std::chrono::nanoseconds kJoinSpin = std::chrono::microseconds(50);

class Pair {
 public:
  explicit Pair(std::chrono::nanoseconds rest_spin = kRestSpin, std::chrono::nanoseconds join_spin = kJoinSpin,
                Hooks* hooks = nullptr) noexcept
      : rest_spin_(rest_spin), join_spin_(join_spin), hooks_(hooks) {}
  Pair(const Pair&) = delete;
  Pair& operator=(const Pair&) = delete;
  ~Pair();

  // task(0) and task(1), the first on the partner if it claims it in time.
  // Without a partner (none could be started) both here, in that order.
  void run(Task task) noexcept;
  // Whether the partner thread is running.
  bool started() const noexcept { return started_.load(std::memory_order_acquire); }
  Counts counts() const noexcept;

 private:
  enum : int { kIdle, kPosted, kClaimed, kDone, kStop };
  bool start() noexcept;
  void serve() noexcept;
  static void* serve_thread(void* self) noexcept;

  std::atomic<int> state_{kIdle};
  const Task* task_ = nullptr;  // the posted call: written by the caller before kPosted
  const std::chrono::nanoseconds rest_spin_, join_spin_;
  Hooks* const hooks_;
  std::atomic<bool> running_{false};  // a run in progress, to catch re-entry
  std::atomic<bool> started_{false};
  bool tried_ = false;  // the caller's: whether it tried to start the partner
  std::uintptr_t thread_ = 0;
  std::atomic<std::int64_t> claimed_{0}, taken_back_{0}, waited_{0}, rested_{0};
};

// The number of threads the products may use, set once before the first
// product: 1 for none but the caller (no partner is ever started), 2 or more
// for the partner as well (more than 2 change nothing today: the work is
// shared out in two). 0, the default, takes 2 where the process may run on
// two processors or more, else 1.
void set_threads(int n) noexcept;
int threads() noexcept;

// The program's Pair: task(0) and task(1), side by side when `parallel` and
// threads() >= 2, else one after the other here. The results must not depend
// on which thread makes which call.
void run_task(Task task, bool parallel) noexcept;

// Work of two calls that need not have a fork of their own: the next parallel
// run_task of this thread takes them on, rider(0) after task(0) and rider(1)
// after task(1), as a product's first fork takes the truncated passes of the
// same product. finish() makes them if no fork has, in a run_task of their own;
// the owner calls it before it reads what they make. One Rider at a time, on
// the thread that calls run_task (a second armed while one is is a fault, as a
// re-entered run is); destroyed unfinished (an error left the product), it is
// dropped.
class Rider {
 public:
  template <class F>
  explicit Rider(F& f) noexcept : task_(f) {
    arm();
  }
  Rider(const Rider&) = delete;
  Rider& operator=(const Rider&) = delete;
  ~Rider() { disarm(); }
  void finish(bool parallel) noexcept;
  bool taken() const noexcept { return taken_; }  // whether a fork took it on

 private:
  friend void run_task(Task task, bool parallel) noexcept;
  void arm() noexcept;
  void disarm() noexcept;
  Task task_;
  bool taken_ = false, done_ = false;
};

// The same for a callable, as forkjoin::run_pair([&](int t) noexcept { ... }, parallel).
template <class F>
void run_pair(F&& task, bool parallel) noexcept {
  static_assert(std::is_nothrow_invocable_v<F&, int>, "a task is called as task(0) and task(1) and must be noexcept");
  run_task(Task(task), parallel);
}

}  // namespace forkjoin
