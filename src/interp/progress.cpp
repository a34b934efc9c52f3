// The progress line. It is drawn on the terminal row below the cursor, and the
// cursor is put back where it was, so the output goes on where it stopped:
// ESC D, ESC M (down and up, scrolling once if the cursor is on the last
// row, so that there is a row below), ESC 7 (save the cursor), ESC D, the
// line, ESC 8 (restore the cursor). When the output goes to the same
// terminal it passes through a stream of this module that erases the line
// before it writes, so the output never lands on top of it.
#include "interp/progress.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <thread>

#include "io.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedraw = std::chrono::milliseconds(250);  // at most four lines a second

bool enabled = false;                             // from progress_start to progress_stop
Clock::duration quiet = std::chrono::seconds(1);  // no line for shorter commands

// Written by the calculator, read by the thread.
std::atomic<const char*> stage{nullptr};
std::atomic<std::int64_t> total{0};
std::atomic<bool> estimated{false};    // total is an estimate
std::atomic<std::int64_t> started{0};  // the clock when the command began; 0: none runs
std::atomic<int> code{0};
std::atomic<const char*> text{""};

std::mutex drawing;  // the line on the terminal, and the writes of the output
bool shown = false;
std::FILE* terminal_output = nullptr;
std::condition_variable_any tick;
std::jthread drawer;

std::int64_t now() { return Clock::now().time_since_epoch().count(); }
bool due(std::int64_t since) { return since != 0 && Clock::duration(now() - since) >= quiet; }

void put(int fd, const char* s, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, s, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    s += w;
    n -= static_cast<std::size_t>(w);
  }
}

void put(const char* s) { put(STDERR_FILENO, s, std::strlen(s)); }

void erase_locked() {
  if (!shown) return;
  put("\0337\033D\r\033[K\0338");
  shown = false;
}

// "No: 17 A := exp(PI*sqrt(r));  exp term 1200 of ~25000 (4%)  12 s", cut to
// the terminal's width so that it stays on one row.
void draw_locked(std::int64_t since) {
  char line[256];
  int n = std::snprintf(line, sizeof line, "No: %d%s", code.load(), text.load());
  auto add = [&](auto... args) {
    if (n >= 0 && n < static_cast<int>(sizeof line)) n += std::snprintf(line + n, sizeof line - n, args...);
  };
  if (const char* what = stage.load()) {
    std::int64_t done = progress_done.load(std::memory_order_relaxed);
    std::int64_t all = total.load();
    add("  %s %lld", what, static_cast<long long>(done));
    if (all > 0 && done >= 0 && done <= all) {
      add(" of %s%lld (%d%%)", estimated.load() ? "~" : "", static_cast<long long>(all),
          static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(all)));
    }
  }
  add("  %lld s",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::duration(now() - since)).count()));
  n = std::clamp(n, 0, static_cast<int>(sizeof line) - 1);
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) n = std::min(n, ws.ws_col - 1);
  line[n] = '\0';
  put("\033D\033M\0337\033D\r");
  put(line);
  put("\033[K\0338");
  shown = true;
}

void draw_while_running(std::stop_token stop) {
  std::unique_lock<std::mutex> hold(drawing);
  while (!tick.wait_for(hold, stop, kRedraw, [] { return false; }) && !stop.stop_requested()) {
    std::int64_t since = started.load();
    if (due(since)) draw_locked(since);
  }
}

// The output stream to the terminal: erases the line, then writes.
ssize_t write_output(void*, const char* buf, std::size_t n) {
  std::lock_guard<std::mutex> hold(drawing);
  erase_locked();
  put(STDOUT_FILENO, buf, n);
  return static_cast<ssize_t>(n);
}

// A new stage shows at once when the line is due, not at the next redraw.
void on_stage(const char* what, std::int64_t all, bool guess) {
  estimated = guess;
  total = all;
  progress_done = 0;
  stage = what;
  std::int64_t since = started.load();
  if (!due(since)) return;
  std::lock_guard<std::mutex> hold(drawing);
  draw_locked(since);
}

// SIGINT and SIGTERM, unless ignored, are blocked in every thread and taken
// here, in a thread of their own: it takes the lock, so that it never cuts a
// drawing or a write of the output short, erases the line, keeps the lock, so
// that nothing is written after, and dies of the signal as the program would
// have without this, for the shell to see 130 or 143. A writer stuck at a
// stopped terminal (^S) holds the lock; the line then stays.
void die_of_signals(sigset_t set) {
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  // 200 ms in steps of try_lock, which ThreadSanitizer follows (it missed the
  // lock that try_lock_for took, and reported a race with the writers).
  for (int ms = 0; ms < 200; ++ms) {
    if (drawing.try_lock()) {
      erase_locked();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::signal(sig, SIG_DFL);
  raise(sig);  // pending here until unblocked
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  std::_Exit(128 + sig);  // not reached: the default action ends the process
}

void watch_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaddset(&set, sig);
  }
  if (sigisemptyset(&set)) return;
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started later
  std::thread(die_of_signals, set).detach();
}

// FIXCALC_PROGRESS_DELAY: the milliseconds before the line appears, where a
// second is too long (the tests draw it at once).
void read_delay() {
  const char* ms = std::getenv("FIXCALC_PROGRESS_DELAY");
  if (ms == nullptr || *ms == '\0') return;
  char* end = nullptr;
  long v = std::strtol(ms, &end, 10);
  if (*end == '\0' && v >= 0) quiet = std::chrono::milliseconds(v);
}

bool same_terminal(int a, int b) {
  struct stat sa, sb;
  return isatty(a) && isatty(b) && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

}  // namespace

std::FILE* progress_start(std::FILE* out) {
  if (!isatty(STDERR_FILENO)) return out;
  if (out == stdout && same_terminal(STDOUT_FILENO, STDERR_FILENO)) {
    cookie_io_functions_t io{nullptr, write_output, nullptr, nullptr};
    terminal_output = fopencookie(nullptr, "w", io);
    if (terminal_output == nullptr) return out;
    std::setvbuf(terminal_output, nullptr, _IOLBF, BUFSIZ);  // as stdout on a terminal
    out = terminal_output;
  }
  read_delay();
  enabled = true;
  watch_signals();
  drawer = std::jthread(draw_while_running);
  progress_hook = on_stage;
  exit_hook = progress_stop;
  return out;
}

void progress_stop() {
  if (!enabled) return;
  progress_hook = nullptr;
  exit_hook = nullptr;
  drawer.request_stop();
  drawer.join();
  enabled = false;
  if (terminal_output != nullptr) std::fclose(terminal_output);  // flushes first
  std::lock_guard<std::mutex> hold(drawing);
  erase_locked();
}

void progress_command(int c, const char* t) {
  if (!enabled) return;
  std::fflush(output);
  std::lock_guard<std::mutex> hold(drawing);
  erase_locked();
  code = c;
  text = t;
  stage = nullptr;
  total = 0;
  progress_done = 0;
  started = now();
}

void progress_pause() {
  if (!enabled) return;
  std::lock_guard<std::mutex> hold(drawing);
  erase_locked();
  started = 0;
}

void progress_resume() {
  if (!enabled) return;
  std::fflush(output);
  started = now();
}

void progress_idle() { progress_pause(); }
