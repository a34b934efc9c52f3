// fixcalc: a calculator for non-negative fixed-point decimal numbers.
// Without arguments it runs the calculator on standard input. FILE arguments
// are read one after the other as one input ("-" is standard input), all of
// them opened before the calculator starts; --progress shows a progress line
// on standard error; --threads N (or FIXCALC_THREADS) sets how many threads
// the long products and the series of pi and e use; --help and --version
// answer on standard output. The only other text on standard error is a
// usage error, a file that cannot be opened or units in FIXCALC_UNITS that
// cannot be used, all with status 2.
#include <sys/stat.h>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/resource.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "arith/cpu.h"
#include "arith/forkjoin.h"
#include "interp/interp.h"
#include "interp/progress.h"

#if !defined(FIXCALC_VERSION) || !defined(FIXCALC_COPYRIGHT)
#error "FIXCALC_VERSION and FIXCALC_COPYRIGHT must be defined by the build"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: fixcalc [--progress] [--threads N] [FILE ...]\n"
    "       fixcalc --help | --version\n"
    "\n"
    "Computes with non-negative fixed-point decimal numbers of a chosen precision.\n"
    "Reads a script from the FILEs, one after the other as if they were one file,\n"
    "or from standard input when there is none (a FILE - is standard input):\n"
    "a precision pair, D decimals and E integer digits, then command codes with\n"
    "their arguments, all as decimal numbers separated by newlines, commas or\n"
    "semicolons (blanks do not separate numbers). Writes an echo of every command\n"
    "and argument, and the results, to standard output.\n"
    "Ends at end of input or a negative D (status 0), or at the first error.\n"
    "\n"
    "Commands (registers A, B, C; r is an argument):\n"
    "   1 A := r         9 A := A + B     17 A := exp(PI*sqrt(r))\n"
    "   2 write(A)      10 A := A - B     18 factorial table(first, step, last)\n"
    "   3 B := A        11 A := A*r       19 power table a^N(first, step, last, a)\n"
    "   4 C := A        12 A := A/r       20 power table N^b(first, step, last, b)\n"
    "   5 A := B        13 C := A*B       21 isomer table(n)\n"
    "   6 C := B        14 A := PI        22 stop: next precision pair\n"
    "   7 A := C        15 A := exp(B)    23 A := e\n"
    "   8 B := C        16 A := sqrt(r)\n"
    "\n"
    "Example, pi to 100 decimals:  printf '100\\n1\\n14\\n2\\n' | fixcalc\n"
    "\n"
    "Options:\n"
    "  --progress  while a command runs for more than a second, show on standard\n"
    "              error (when it is a terminal) what it is doing and how far it is\n"
    "  --threads N use up to N threads: 1 runs all on one thread, 2 or more let\n"
    "              long products and the series of pi and e share their work with\n"
    "              a second one (more than 2 help no further); by default\n"
    "              FIXCALC_THREADS where set, else 2 where the process may run on\n"
    "              two processors, else 1. The output is the same for every N\n"
    "  --          the arguments that follow are FILEs, even if they begin with -\n"
    "  --help      print this text and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "See fixcalc(1) for the full description.\n";

// `what` names the argument with %s.
[[nodiscard]] int usage_error(const char* what, const char* arg) {
  std::fputs("fixcalc: ", stderr);
  std::fprintf(stderr, what, arg);
  std::fputs("; usage: fixcalc [--progress] [--threads N] [FILE ...]\n", stderr);
  return 2;
}

// Opens the named inputs, all before any is read: "-" is standard input, and
// a directory is refused here rather than when it is read. Reports each one
// that cannot be opened on standard error and returns an empty list then.
std::vector<std::FILE*> open_inputs(const std::vector<const char*>& names) {
  std::vector<std::FILE*> files;
  bool failed = false;
  for (const char* name : names) {
    std::FILE* f = std::strcmp(name, "-") == 0 ? stdin : std::fopen(name, "r");
    int error = f == nullptr ? errno : 0;
    struct stat st;
    if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
    if (error == 0) {
      files.push_back(f);
      continue;
    }
    std::fprintf(stderr, "fixcalc: %s: %s\n", name, std::strerror(error));
    if (f != nullptr && f != stdin) std::fclose(f);
    failed = true;
  }
  if (!failed) return files;
  for (std::FILE* f : files) {
    if (f != stdin) std::fclose(f);
  }
  return {};
}

// A thread count, 1 to kMostThreads in decimal digits; 0 for anything else.
constexpr int kMostThreads = 1024;
int thread_count(const char* text) {
  int n = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    n = 10 * n + (*c - '0');
    if (n > kMostThreads) return 0;
  }
  return n;
}

// Sets the thread count from the option's value, or else from FIXCALC_THREADS
// where it is set and not empty. Returns 0, or 2 after a usage error.
int set_threads(const char* option) {
  const char* env = std::getenv("FIXCALC_THREADS");
  const char* text = option != nullptr ? option : env != nullptr && *env != '\0' ? env : nullptr;
  if (text == nullptr) return 0;
  const int n = thread_count(text);
  if (n == 0)
    return usage_error(option != nullptr ? "invalid number of threads '%s'" : "invalid FIXCALC_THREADS '%s'", text);
  forkjoin::set_threads(n);
  return 0;
}

}  // namespace

// Options come before "--"; "-" alone and every other argument is a FILE.
// --help and --version stand alone.
int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Under a limit of the address space, one pool of memory for every thread.
  // A thread's first allocation would otherwise reserve a pool of its own,
  // 64 MiB of address space, and the numbers of the series that the partner
  // thread allocates would come from it: e to 10^6 decimals on two threads
  // ran out of 38 MB that way, and completes in 22 MB with one pool, as on
  // one thread.
  // Without a limit each thread keeps its own pool: with one, pi to 10^6
  // decimals on two threads took 0.89 s against 0.74 (medians of 5), the
  // threads taking turns at its lock.
  rlimit space{};
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) mallopt(M_ARENA_MAX, 1);
  // Blocks of 1 MiB or more are mapped on their own and go back to the system
  // when freed. Otherwise the threshold rises with the blocks freed, and the
  // buffers that a long run outgrows stay behind as holes in the heap: sqrt(2)
  // to 10^7 decimals peaked at 120 MB that way, and at 113 MB so (e to 10^7
  // and pi to 10^6 decimals took 1% longer).
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  if (const char* refusal = units_refusal()) {
    std::fprintf(stderr, "fixcalc: %s\n", refusal);
    return 2;
  }
  if (argc == 1) return set_threads(nullptr) != 0 ? 2 : run(stdin, stdout);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("fixcalc %s\nCopyright (c) %s\n", FIXCALC_VERSION, FIXCALC_COPYRIGHT);
    std::fputs(
        "MIT licence: free to use, copy, modify and distribute, provided that the\n"
        "copyright and permission notice is included in all copies; no warranty.\n",
        stdout);
    return 0;
  }
  bool progress = false;
  const char* threads = nullptr;  // the option's value, which wins over FIXCALC_THREADS
  bool options = true;
  std::vector<const char*> names;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        options = false;
      } else if (std::strcmp(arg, "--progress") == 0) {
        progress = true;
      } else if (std::strcmp(arg, "--threads") == 0) {
        if (i + 1 == argc) return usage_error("'%s' needs a number of threads", arg);
        threads = argv[++i];
      } else if (std::strncmp(arg, "--threads=", 10) == 0) {
        threads = arg + 10;
      } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "--version") == 0) {
        return usage_error("'%s' takes no other argument", arg);
      } else {
        return usage_error("unknown option '%s'", arg);
      }
      continue;
    }
    names.push_back(arg);
  }
  if (set_threads(threads) != 0) return 2;
  if (names.empty()) names.push_back("-");
  std::vector<std::FILE*> inputs = open_inputs(names);
  if (inputs.empty()) return 2;
  std::FILE* out = progress ? progress_start(stdout) : stdout;
  int status = run(inputs, out);
  progress_stop();
  for (std::FILE* f : inputs) {
    if (f != stdin) std::fclose(f);
  }
  return status;
}
