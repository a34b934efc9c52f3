// The progress line of the --progress option: while one command has run for
// more than a second, a line on standard error, below the output, names the
// command and says how far it is and for how long it has run. The command
// loop says which command runs; the long loops (series terms, square root
// passes, table rows) say how far they are, each with one call that costs a
// flag test when the line is off. A thread of this module draws the line a
// few times a second, so that commands without such a loop still show their
// time.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "arith/arith.h"

// True from progress_start to progress_stop: standard error is a terminal
// and the option was given. Nothing is written to standard error otherwise.
extern bool progress_enabled;
extern std::atomic<std::int64_t> progress_done;

// Starts the line's thread. Returns the stream the calculator's output is to
// go to: `out` itself, or, when `out` is the terminal of standard error, a
// stream to the same terminal that clears the line before it writes.
std::FILE* progress_start(std::FILE* out);
// Erases the line, ends the thread and closes the stream progress_start made.
void progress_stop();

// The command loop: a command starts (`text` is its echo text); it waits for
// an argument; the argument has been read; the command has ended.
void progress_command(int code, const char* text);
void progress_pause();
void progress_resume();
void progress_idle();

void progress_set_stage(const char* what, std::int64_t total);
void progress_set_series(const Reg& X);

// The long loops. A stage names what is counted and how many are expected
// (0: not known); each step says how many are done.
inline void progress_stage(const char* what, std::int64_t total) {
  if (progress_enabled) progress_set_stage(what, total);
}
// The terms of exp(X): their number is estimated from X and the precision.
inline void progress_series(const Reg& X) {
  if (progress_enabled) progress_set_series(X);
}
inline void progress_step(std::int64_t done) {
  if (progress_enabled) progress_done.store(done, std::memory_order_relaxed);
}
