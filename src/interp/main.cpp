// fixcalc: a calculator for non-negative fixed-point decimal numbers.
// Without arguments it runs the calculator on standard input; --help and
// --version answer on standard output; anything else is a usage error, the
// only text the program ever writes to standard error.
#include <cstdio>
#include <cstring>

#include "interp.h"

#ifndef FIXCALC_VERSION
#error "FIXCALC_VERSION must be defined by the build"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: fixcalc [--help | --version] < script\n"
    "\n"
    "Computes with non-negative fixed-point decimal numbers of a chosen precision.\n"
    "Reads from standard input a precision pair, D decimals and E integer digits,\n"
    "then command codes with their arguments, all as decimal numbers separated by\n"
    "newlines, commas or semicolons (blanks do not separate numbers). Writes an\n"
    "echo of every command and argument, and the results, to standard output.\n"
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
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "See fixcalc(1) for the full description.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return run(stdin, stdout);
  bool help = std::strcmp(argv[1], "--help") == 0;
  bool version = std::strcmp(argv[1], "--version") == 0;
  if (argc == 2 && help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && version) {
    std::puts("fixcalc " FIXCALC_VERSION);
    return 0;
  }
  const char* bad = help || version ? argv[2] : argv[1];  // the first one not understood
  std::fprintf(stderr, "fixcalc: unexpected argument '%s'; usage: fixcalc [--help | --version] < script\n",
               bad);
  return 2;
}
