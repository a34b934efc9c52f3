// The streams, the way out of a run, and the progress hook (io.h).
#include "io.h"

#include <unistd.h>

#include <cstdlib>

std::FILE* input = stdin;
std::FILE* output = stdout;
bool interactive = false;

void (*exit_hook)() = nullptr;

ProgressHook progress_hook = nullptr;
std::atomic<std::int64_t> progress_done{0};

namespace {
std::span<std::FILE* const> later_inputs;  // the inputs after `input`
thread_local int no_unwind = 0;            // NoUnwind objects alive on this thread
}  // namespace

void set_inputs(std::span<std::FILE* const> inputs) {
  input = inputs.front();
  later_inputs = inputs.subspan(1);
  interactive = isatty(fileno(input)) != 0;
}

bool next_input() {
  if (later_inputs.empty()) return false;
  input = later_inputs.front();
  later_inputs = later_inputs.subspan(1);
  std::clearerr(input);  // standard input named again is read again
  interactive = isatty(fileno(input)) != 0;
  return true;
}

NoUnwind::NoUnwind() { ++no_unwind; }
NoUnwind::~NoUnwind() { --no_unwind; }

void fatal(int status) {
  if (no_unwind == 0) throw Fatal{status};
  std::fflush(output);  // the message first, through the stream that erases the line
  if (exit_hook != nullptr) exit_hook();
  std::fflush(nullptr);
  std::_Exit(status);
}
