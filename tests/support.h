// Helpers shared by the unit tests: registers built from cells, the one switch between fast and reference kernels, and
// random operands biased toward the cases where fast paths go wrong. The seed
// is FIXCALC_TEST_SEED when set, else drawn; it is printed, so that any
// failure can be replayed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "arith/arith.h"
#include "arith/cpu.h"
#include "io.h"

// Sets R to the given cells, highest index first, ending at the lowest cell;
// top is the index of the highest nonzero cell (decimals when all are zero).
void set_cells(Reg& R, std::initializer_list<cell_t> highFirst);

// The cells of R, highest index first.
std::vector<cell_t> cells_of(const Reg& R);

// What `fn` printed to the output stream; `status` gets the Fatal status, or
// -1 when `fn` returned normally.
template <class Fn>
std::string capture(Fn fn, int* status = nullptr) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* mem = open_memstream(&buf, &len);
  std::FILE* saved = output;
  output = mem;
  int st = -1;
  try {
    fn();
  } catch (const Fatal& f) {
    st = f.status;
  }
  output = saved;
  std::fclose(mem);
  std::string s(buf, len);
  std::free(buf);
  if (status != nullptr) *status = st;
  return s;
}

// The kernels the arithmetic runs: the fast ones with at most the given
// vector units, or the reference ones. Every test starts with the fast
// kernels on the processor's best units and the full register budget, and
// gets them back when it ends.
void use_kernels(bool reference, Units units = cpu_units());

// The cells (highest first) and top of a register, and the precision of the
// run, for failure messages.
std::string describe(const Reg& R);
std::string describe_run();

class Operands {
 public:
  // Each test gets its own stream from the seed and its name.
  explicit Operands(const std::string& name);

  std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : rng() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }

  // A precision pair (D, E) with D <= maxD, favouring D = 0, one-cell
  // registers, limit 0 and runs with limit < 0.
  std::pair<int, int> shape(int maxD);

  // A cell: 0, kBase - 1, a repeating cell, a small value or any value.
  cell_t cell();

  // R holds a value whose top lies at or below `maxTop`, as fill(R, lo, hi)
  // makes it over a random span, or a zero register with any of its tops.
  void fill(Reg& R, std::int64_t maxTop = std::numeric_limits<std::int32_t>::max());

  // R's cells at positions lo .. hi from runs of patterns (one repeated cell,
  // 0 and 9 runs, 1/3, 1/7, 1/11, sparse, small, edge and round cells, the
  // base-10^10 digits of t/u that a correction walk follows, any cells); top
  // usually names the highest nonzero cell, sometimes a zero cell above it,
  // and lies below decimals (or at 0 when limit < 0) for some zero registers.
  void fill(Reg& R, std::int64_t lo, std::int64_t hi, std::int64_t maxTop = std::numeric_limits<std::int32_t>::max());

  // A machine integer for MULT and DIV: 0, 1, small, powers of two, near the
  // boundaries of the 64-bit paths, near kBase, up to 2^63 - 1, or negative.
  std::int64_t factor();

  // A double for ASSIGN and SQRT: small integers, fractions, random values.
  double real();

  std::mt19937_64 rng;
};

// Death tests in the "threadsafe" style run the test binary again, which a
// user-mode emulator cannot (qemu-aarch64 without the system's help): such a
// test skips there, visibly.
#ifdef FIXCALC_EMULATED
#define SKIP_IF_EMULATED() GTEST_SKIP() << "death tests cannot run the test binary again under an emulator"
#else
#define SKIP_IF_EMULATED() static_cast<void>(0)
#endif
