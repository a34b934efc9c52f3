// Shared plumbing of the calculator: the streams it reads and writes, and the
// one way a fatal condition ends a run. Every subsystem includes this; it owns
// nothing of the arithmetic.
#pragma once

#include <cstdio>

// The input the scanners read and the output every routine writes. `run`
// (interp) sets them; they default to standard input and output.
extern std::FILE* input;
extern std::FILE* output;

// At the end of `input`: moves `input` (and `interactive`) on to the next of
// the run's inputs and returns true, or returns false after the last one.
bool next_input();

// True when the input is a terminal: the scanners then flush the output before
// each character they wait for, so that a person sees every echo at once.
extern bool interactive;

// Thrown once the message of a fatal condition has been written; `run` catches
// it and returns `status` as the exit status of the program.
struct Fatal {
  int status;
};

// Flushes nothing and prints nothing: the caller has written the message.
[[noreturn]] inline void fatal(int status) { throw Fatal{status}; }
