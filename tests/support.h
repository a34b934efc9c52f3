// Helpers shared by the unit tests: registers built from cells, the switch
// between fast and reference kernels, and random operands biased toward the
// cases where fast paths go wrong, from FIXCALC_TEST_SEED or a printed seed.
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

// Sets R's cells, highest first, and top to the highest nonzero (or decimals).
void set_cells(Reg& R, std::initializer_list<cell_t> highFirst);
std::vector<cell_t> cells_of(const Reg& R);  // highest first

// What `fn` printed; `status` gets the Fatal status, or -1 on a normal return.
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

// The fast kernels with at most the given units, or the reference ones. Each
// test starts with the fast ones on the best units and the full budget.
void use_kernels(bool reference, Units units = cpu_units());

// A register's top and cells, and the run's precision, for failure messages.
std::string describe(const Reg& R);
std::string describe_run();

class Operands {
 public:
  // Each test gets its own stream from the seed and its name.
  explicit Operands(const std::string& name);

  std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : rng() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }

  // (D, E) with D <= maxD, favouring D = 0, one cell, limit 0 and limit < 0.
  std::pair<int, int> shape(int maxD);
  // A cell: 0, kBase - 1, a repeating cell, a small value or any value.
  cell_t cell();
  // A value with top at or below `maxTop` over a random span, or a zero.
  void fill(Reg& R, std::int64_t maxTop = std::numeric_limits<std::int32_t>::max());
  // Cells lo .. hi from runs of patterns (repeated cells, 0 and 9 runs, 1/3,
  // 1/7, 1/11, sparse, small, edge and round cells, the digits of t/u that a
  // correction walk follows, any cells); top usually the highest nonzero
  // cell, sometimes above it, and for zeros sometimes below decimals.
  void fill(Reg& R, std::int64_t lo, std::int64_t hi, std::int64_t maxTop = std::numeric_limits<std::int32_t>::max());
  // For MULT and DIV: 0, 1, small, powers of two, the edges of the 64-bit
  // paths and of kBase, up to 2^63 - 1, or negative.
  std::int64_t factor();
  // For ASSIGN and SQRT: small integers, fractions, random values.
  double real();

  std::mt19937_64 rng;
};

// Death tests in the "threadsafe" style run the test binary again, which a
// user-mode emulator cannot: they skip there, visibly.
#ifdef FIXCALC_EMULATED
#define SKIP_IF_EMULATED() GTEST_SKIP() << "death tests cannot run the test binary again under an emulator"
#else
#define SKIP_IF_EMULATED() static_cast<void>(0)
#endif
