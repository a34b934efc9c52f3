// readinteger and readreal: one character at a time through the state tables,
// keeping what they consume in `cbuf` for the malformed-number message.
#include "scan/scan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io.h"

namespace {

char cbuf[100];
std::int32_t cpnt = 0;
std::int32_t CHAR = 0;
std::int32_t ctype = 0;
std::int32_t cstate = 0;

// Reads the next character into CHAR and keeps it (99 at most); at end of
// the last input prints "EOF met" and ends the run with status 0. Returns its
// class.
int next_class() {
  do {
    if (interactive) std::fflush(output);
    CHAR = getc_unlocked(input);
  } while (CHAR == EOF && next_input());
  if (cpnt <= 98) cbuf[cpnt++] = static_cast<char>(CHAR);
  if (CHAR == EOF) {
    std::fputs("\nEOF met\n", output);
    fatal(0);
  }
  ctype = char_class(CHAR);
  return ctype;
}

[[noreturn]] void malformed(const char* what) {
  cbuf[cpnt] = '\0';
  std::fprintf(output, "Error in %s number: %s\n", what, cbuf);
  fatal(0);
}

}  // namespace

std::int64_t readinteger() {
  cstate = 0;
  cpnt = 0;
  std::uint64_t value = 0;  // wraps modulo 2^64, as a machine register would
  bool negative = false;
  for (;;) {
    int k = next_class();
    int action = kIntAction[cstate][k];
    cstate = kIntNext[cstate][k];
    switch (action) {
      case 1: negative = CHAR == '-'; break;
      case 2: value = value * 10 + static_cast<std::uint64_t>(CHAR - '0'); break;
      case 3: return static_cast<std::int64_t>(negative ? 0 - value : value);
      case 4: malformed("integer");
      default: break;
    }
  }
}

double readreal() {
  cstate = 0;
  cpnt = 0;
  double m = 0;
  bool negative = false;
  bool expNegative = false;
  std::int64_t e = 0;  // saturates far beyond any finite power of ten
  std::int64_t f = 0;  // fraction digits counted
  constexpr std::int64_t kExpCap = std::numeric_limits<std::int32_t>::max();
  for (;;) {
    int k = next_class();
    int action = kRealAction[cstate][k];
    cstate = kRealNext[cstate][k];
    switch (action) {
      case 1: negative = CHAR == '-'; break;
      case 3: ++f; [[fallthrough]];
      case 2: m = std::fma(10.0, m, static_cast<double>(CHAR)) - 48.0; break;
      case 4: expNegative = CHAR == '-'; break;
      case 5: e = std::min(kExpCap, e * 10 + (CHAR - '0')); break;
      case 6: {
        std::int64_t x = (expNegative ? -e : e) - f;
        x = std::clamp<std::int64_t>(x, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max());
        double r = std::pow(10.0, static_cast<double>(x)) * m;
        // Zero times a power of ten beyond range, or a mantissa beyond range
        // times one that underflows, is not a number, whose sign the echo
        // shows ("-nan"). The processor chooses it: x86-64 sets it, ARM does
        // not. The sign is set here, so that every processor echoes the same.
        if (std::isnan(r)) r = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
        return negative ? -r : r;
      }
      case 7: malformed("real");
      default: break;
    }
  }
}
