// Shared plumbing of the calculator: the streams it reads and writes, the one
// way a fatal condition ends a run, and the hook through which the long loops
// report how far they are. Every subsystem includes this; it owns nothing of
// the arithmetic, and it knows nothing of who shows the progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <span>

// The input the scanners read and the output every routine writes. `run`
// (interp) sets them; they default to standard input and output.
extern std::FILE* input;
extern std::FILE* output;

// True when the input is a terminal: the scanners then flush the output before
// each character they wait for, so that a person sees every echo at once.
extern bool interactive;

// Makes the first of `inputs` (at least one) the input and keeps the others
// for next_input.
void set_inputs(std::span<std::FILE* const> inputs);

// At the end of `input`: moves `input` (and `interactive`) on to the next of
// the run's inputs and returns true, or returns false after the last one.
bool next_input();

// ---------------------------------------------------------------- the end
//
// A fatal condition writes its message to `output`, then calls fatal(status).
// That is the only way out: fatal throws Fatal, which `run` catches and
// returns as the exit status, the registers freed on the way. Where no
// exception may pass (inside the memory functions GMP calls, which cannot
// report a failure and whose C frames an exception must not cross), a
// NoUnwind lives on the stack, and fatal ends the process itself instead:
// it flushes the output, calls the exit hook (which erases the progress
// line), and ends the process with `status` by _Exit: no unwinding, and no
// static destructors either, while the frames of GMP and of the routines
// that called it are still live.

struct Fatal {
  int status;
};

[[noreturn]] void fatal(int status);

// While one lives, fatal called on its thread ends the process instead of
// throwing.
struct NoUnwind {
  NoUnwind();
  ~NoUnwind();
  NoUnwind(const NoUnwind&) = delete;
  NoUnwind& operator=(const NoUnwind&) = delete;
};

// Called by fatal before it ends the process (never when it throws): the
// caller of `run` installs it, and undoes itself what it set up when `run`
// returns. nullptr: none.
extern void (*exit_hook)();

// ---------------------------------------------------------------- progress
//
// The long loops (series terms, square root passes, table rows) report here:
// a stage names what is counted and how many are expected, each step says how
// many are done. Whoever shows it installs `progress_hook`, which hears of
// each stage (`total` 0: not known; `estimated`: total is an estimate) and
// reads `progress_done` when it likes. With no hook installed a report costs
// one test of a pointer.

using ProgressHook = void (*)(const char* what, std::int64_t total, bool estimated);
extern ProgressHook progress_hook;
extern std::atomic<std::int64_t> progress_done;

// True when a report would be heard: work done only for the report (such as
// an estimate of the total) is skipped otherwise.
inline bool progress_heard() { return progress_hook != nullptr; }

inline void progress_stage(const char* what, std::int64_t total, bool estimated = false) {
  if (progress_hook != nullptr) progress_hook(what, total, estimated);
}
inline void progress_step(std::int64_t done) {
  if (progress_hook != nullptr) progress_done.store(done, std::memory_order_relaxed);
}
