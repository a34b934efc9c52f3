// The progress line of the --progress option: while one command has run for
// more than a second, a line on standard error, below the output, names the
// command and says how far it is and for how long it has run. The command
// loop says which command runs; the long loops report their stages and steps
// through the hook of io.h, which progress_start installs. A thread of this
// module draws the line a few times a second, so that commands without such a
// loop still show their time. Interrupted (SIGINT, SIGTERM) while the line
// shows, the program erases it before it dies of the signal.
#pragma once

#include <cstdio>

// Starts the line's thread and installs the progress hook and the exit hook,
// when standard error is a terminal; otherwise does nothing. Returns the
// stream the calculator's output is to go to: `out` itself, or, when `out` is
// the terminal of standard error, a stream to the same terminal that clears
// the line before it writes. FIXCALC_PROGRESS_DELAY, a number of
// milliseconds, replaces the second before the line appears.
std::FILE* progress_start(std::FILE* out);
// Erases the line, ends the thread and closes the stream progress_start made.
void progress_stop();

// The command loop: a command starts (`text` is its echo text); it waits for
// an argument; the argument has been read; the command has ended.
void progress_command(int code, const char* text);
void progress_pause();
void progress_resume();
void progress_idle();
