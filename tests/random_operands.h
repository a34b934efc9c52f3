// Random operands for comparing the fast kernels with the reference kernels:
// run shapes, registers and machine integers biased toward the cases where
// fast paths go wrong (cells of 0 and kBase - 1, repeating cells as in 1/3 and
// 1/7, top at limit, top naming a zero cell, top below decimals, one-cell
// registers, limit 0 and below). The seed is FIXCALC_TEST_SEED when set, else
// drawn; it is printed, so that any failure can be replayed.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

inline std::uint64_t test_seed() {
  static const std::uint64_t seed = [] {
    const char* env = std::getenv("FIXCALC_TEST_SEED");
    std::uint64_t s = env != nullptr ? std::strtoull(env, nullptr, 10) : std::random_device{}();
    std::printf("random operands: FIXCALC_TEST_SEED=%llu\n", static_cast<unsigned long long>(s));
    return s;
  }();
  return seed;
}

// The cells (highest first) and top of a register, for failure messages.
inline std::string describe(const Reg& R) {
  std::ostringstream s;
  s << "top " << R.top << " cells";
  for (cell_t c : cells_of(R)) s << ' ' << c;
  return s.str();
}

inline std::string describe_run() {
  std::ostringstream s;
  s << "decimals " << decimals << " limit " << limit;
  return s.str();
}

class Operands {
 public:
  // Each test gets its own stream from the seed and its name.
  explicit Operands(const std::string& name)
      : rng_(test_seed() ^ std::hash<std::string>{}(name)) {}

  std::uint64_t below(std::uint64_t n) { return rng_() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }

  // A precision pair (D, E) with D <= maxD, favouring D = 0, one-cell
  // registers, limit 0 and runs with limit < 0.
  std::pair<int, int> shape(int maxD) {
    static const int kD[] = {0, 1, 10, 11, 20, 21, 30};
    static const int kE[] = {1, 10, 11, 20, 21, 31, 60, -9, -12};
    int D = chance(40) ? kD[below(7)] : static_cast<int>(below(static_cast<std::uint64_t>(maxD) + 1));
    int E = chance(70) ? kE[below(9)] : static_cast<int>(below(200));
    return {std::min(D, maxD), E};
  }

  // A cell: 0, kBase - 1, a repeating cell, a small value or any value.
  cell_t cell() {
    static const cell_t kCells[] = {0,          kBase - 1,  3333333333, 6666666666, 1428571428,
                                    5714285714, 2857142857, 1,          kBase / 2,  kBase / 2 - 1};
    switch (below(4)) {
      case 0: return kCells[below(10)];
      case 1: return static_cast<cell_t>(below(100));
      default: return static_cast<cell_t>(below(static_cast<std::uint64_t>(kBase)));
    }
  }

  // Fills R (of the current run) with a value whose top lies at or below
  // `maxTop`: a run of one pattern or mixed cells, sometimes sparse, and a top
  // that names the highest nonzero cell, a zero cell, or lies below decimals.
  void fill(Reg& R, std::int64_t maxTop = std::numeric_limits<std::int32_t>::max()) {
    const std::int64_t n = ncells();
    for (std::int64_t i = 0; i < n; ++i) R.cells[i] = 0;
    R.top = chance(50) ? decimals : 0;
    if (n == 0 || chance(5)) return;  // zero, top decimals or 0
    if (chance(4)) {                  // zero loaded from a tiny value
      R.top = decimals - 1 - static_cast<std::int32_t>(below(3));
      return;
    }
    const std::int64_t hiPos = std::min<std::int64_t>(n - 1, maxTop - decimals);
    if (hiPos < 0) return;
    const std::int64_t topPos = chance(35) ? hiPos : static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hiPos) + 1));
    const int kind = static_cast<int>(below(5));
    const cell_t same = cell();
    for (std::int64_t i = 0; i <= topPos; ++i) {
      switch (kind) {
        case 0: R.cells[i] = same; break;                                     // one repeating cell
        case 1: R.cells[i] = chance(50) ? 0 : kBase - 1; break;               // runs of 0 and 9
        case 2: R.cells[i] = chance(85) ? 0 : cell(); break;                  // sparse
        case 3: R.cells[i] = std::vector<cell_t>{1428571428, 5714285714, 2857142857}[i % 3]; break;
        default: R.cells[i] = cell(); break;
      }
    }
    if (R.cells[topPos] == 0 && !chance(20)) R.cells[topPos] = 1 + static_cast<cell_t>(below(kBase - 1));
    R.top = static_cast<std::int32_t>(topPos + decimals);
  }

  // A machine integer for MULT and DIV: 0, 1, small, powers of two, near the
  // boundaries of the 64-bit paths, near kBase, up to 2^63 - 1, or negative.
  std::int64_t factor() {
    static const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    static const std::int64_t kF[] = {0,           1,          2,          3,          6,
                                      7,           10,         64,         171,        1434,
                                      3249,        57121,      kBase - 1,  kBase,      kBase + 1,
                                      922337202,   922337203,  922337204,  1844674407, 1844674408,
                                      1 << 30,     int64_t{1} << 31,       int64_t{1} << 62,
                                      kMax / kBase, kMax - 1,  kMax,       -1,         -kBase};
    switch (below(5)) {
      case 0: return kF[below(sizeof kF / sizeof kF[0])];
      case 1: return static_cast<std::int64_t>(below(1000));
      case 2: return static_cast<std::int64_t>(below(std::uint64_t{4} << 30));
      case 3: return static_cast<std::int64_t>(rng_() >> (1 + below(63)));
      default: return static_cast<std::int64_t>(rng_() >> 1);
    }
  }

  double real() {
    static const double kV[] = {2, 3, 7, 163, 1000003, 0.5, 0.25, 4, 100, 1e-5, 12345.678,
                                1.0 / 3, 0.999999999999, 99999.99999, 1e9, 1e15};
    if (chance(60)) return kV[below(sizeof kV / sizeof kV[0])];
    return std::ldexp(static_cast<double>(rng_() >> 11), -53) * std::pow(10.0, static_cast<double>(below(12)) - 4);
  }

 private:
  std::mt19937_64 rng_;
};

// Runs `op` on the registers `fast` with the fast kernels and on `ref` with the
// reference kernels; fails (with the inputs, want and got) when the outputs,
// the statuses or, after a normal return, any register's cells or top differ.
// `what` names the inputs.
template <int N, class Op>
testing::AssertionResult agree_with_reference(const std::string& what, Reg (&fast)[N],
                                              Reg (&ref)[N], Op op) {
  int fastStatus = 0;
  int refStatus = 0;
  std::string fastOut = capture([&] { op(fast); }, &fastStatus);
  use_reference_kernels = true;
  std::string refOut = capture([&] { op(ref); }, &refStatus);
  use_reference_kernels = false;
  if (fastOut != refOut || fastStatus != refStatus)
    return testing::AssertionFailure() << what << "\nwant output \"" << refOut << "\" status "
                                       << refStatus << "\ngot  output \"" << fastOut
                                       << "\" status " << fastStatus;
  if (refStatus != -1) return testing::AssertionSuccess();
  for (int k = 0; k < N; ++k)
    if (cells_of(fast[k]) != cells_of(ref[k]) || fast[k].top != ref[k].top)
      return testing::AssertionFailure() << what << ", register " << k << "\nwant "
                                         << describe(ref[k]) << "\ngot  " << describe(fast[k]);
  return testing::AssertionSuccess();
}
