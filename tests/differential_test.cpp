// Every kernel with a fast path against its reference: the same output,
// status, and cells and top of every register it leaves. Each row of the
// table is a kernel and a way of drawing its operands; the rows of long
// products run once for each vector unit the processor has.
#include <array>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include "arith/divisor.h"
#include "arith/forkjoin.h"
#include "arith/limb_products.h"
#include "arith/longmult/ntt.h"
#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"
#include "arith/longmult_fast.h"
#include "funcs/funcs.h"
#include "funcs/series_split.h"
#include "print/print.h"
#include "support.h"

namespace {

// Runs `op` on N registers made by `fill` with the fast kernels and on copies
// with the reference kernels: the same output, status and registers.
template <int N, class Fill, class Op>
testing::AssertionResult compare(const std::string& name, Fill fill, Op op) {
  Reg fast[N], ref[N];
  fill(fast);
  std::ostringstream what;
  what << name << " at " << describe_run();
  for (int k = 0; k < N; ++k) {
    COPY(fast[k], ref[k]);
    what << "\n  r" << k << ": " << describe(fast[k]);
  }
  int fastStatus = 0, refStatus = 0;
  const std::string fastOut = capture([&] { op(fast); }, &fastStatus);
  use_reference_kernels = true;
  const std::string refOut = capture([&] { op(ref); }, &refStatus);
  use_reference_kernels = false;
  if (fastOut != refOut || fastStatus != refStatus)
    return testing::AssertionFailure() << what.str() << "\nwant output \"" << refOut << "\" status " << refStatus
                                       << "\ngot  output \"" << fastOut << "\" status " << fastStatus;
  for (int k = 0; k < N && refStatus == -1; ++k)
    if (cells_of(fast[k]) != cells_of(ref[k]) || fast[k].top != ref[k].top)
      return testing::AssertionFailure() << what.str() << "\nregister " << k << " want " << describe(ref[k])
                                         << "\ngot  " << describe(fast[k]);
  return testing::AssertionSuccess();
}

// r[2] := r[0] * r[1] (or r[0] squared). The fast kernel settles every
// product with cells itself, and its walks visit at most some three cells per cell.
void longmult(Reg* r, bool square, ProductMemo* memo = nullptr, bool yNext = false) {
  struct SettledItself {
    std::array<std::uint64_t, kDeclineKinds> declines = longmult_declines;
    std::uint64_t walked = longmult_walk_cells;
    ~SettledItself() {
      if (use_reference_kernels) return;
      EXPECT_LE(longmult_walk_cells - walked, static_cast<std::uint64_t>(3 * ncells() + 6)) << describe_run();
      if (ncells() > 0) {
        EXPECT_EQ(longmult_declines, declines) << describe_run();
      }
    }
  } check;
  LONGMULT(r[0], square ? r[0] : r[1], r[2], memo, yNext);
}

// With yNext, made as Y X.
testing::AssertionResult longmult_of(const std::string& name, bool square, std::function<void(Reg*)> fill,
                                     bool yNext = false) {
  return compare<3>(name + (yNext ? ", Y next" : ""), fill, [=](Reg* r) { longmult(r, square, nullptr, yNext); });
}

// Random products with up to maxCells fraction cells (limit 0, below 0, or
// room above), a sixth of them squares, or integers at D = 0 as the isomer
// table multiplies them.
testing::AssertionResult random_product(Operands& ops, int round, int maxCells, bool integers) {
  if (integers) {
    set_precision(0, 1 + static_cast<int>(ops.below(round % 2 == 0 ? 10 : 300)));
  } else {
    const int frac = static_cast<int>(ops.below(maxCells + 1));
    const int D = frac == 0 ? 0 : 10 * frac - static_cast<int>(ops.below(10));
    switch (ops.below(6)) {
      case 0: set_precision(D, 1 + static_cast<int>(ops.below(10))); break;
      case 1: set_precision(D, -9 - static_cast<int>(ops.below(20))); break;
      default: set_precision(D, 1 + static_cast<int>(ops.below(10 * (maxCells + 2))));
    }
  }
  const bool square = ops.chance(16);
  return longmult_of(
      "LONGMULT", square,
      [&](Reg* r) {
        for (int k = 0; k < 3; ++k) ops.fill(r[k]);
      },
      ops.chance(20));
}

// R's cells lo .. hi: random with a few edge cells, or patterned.
void long_operand(Operands& ops, Reg& R, std::int64_t lo, std::int64_t hi, bool patterned) {
  if (patterned) return ops.fill(R, lo, hi);
  for (std::int64_t i = 0; i < ncells(); ++i) R.cells[i] = 0;
  for (std::int64_t i = lo; i <= hi; ++i)
    R.cells[i] = ops.chance(2) ? kBase - 1 : ops.chance(2) ? 0 : static_cast<cell_t>(ops.below(kBase));
  R.cells[hi] = 1 + static_cast<cell_t>(ops.below(kBase - 1));
  R.top = static_cast<std::int32_t>(hi + decimals);
}

// Long shapes: both full, short times long and the other way round, few
// cells times many, squares; X split by runs of zeros, Y = 1 + a few low
// cells, Y = 0.999... with or without other low cells.
testing::AssertionResult long_shape(Operands& ops, int round) {
  static const int kD[] = {600, 1'300, 2'700, 6'500, 12'000};
  set_precision(kD[round % 5], 40);
  const std::int64_t d = -decimals;
  struct Shape {
    std::int64_t xlo, xhi, ylo, yhi;
  };
  const Shape shapes[] = {
      {0, d + 1, 0, d + 1}, {0, d + 2, 0, d / 3},         {0, d / 2, 0, d + 2}, {0, d + 1, d - d / 4, d},
      {d - 5, d + 2, 0, d}, {d / 2, d + 1, d / 3, d + 1}, {0, d, 0, d}};
  const Shape s = shapes[(round / 5) % 7];
  const bool square = (round / 5) % 7 == 6;
  const int variant = static_cast<int>(ops.below(5));
  return longmult_of(
      "long LONGMULT variant " + std::to_string(variant), square,
      [&](Reg* r) {
        long_operand(ops, r[0], s.xlo, s.xhi, variant == 2);
        long_operand(ops, r[1], s.ylo, s.yhi, variant == 2);
        ops.fill(r[2]);
        Reg& X = r[0];
        Reg& Y = r[1];
        if (variant == 1) {  // X split into blocks by up to five runs of zeros, of which the longest count
          for (int k = 1 + static_cast<int>(ops.below(5)); k > 0; --k) {
            const std::int64_t at = s.xlo + 1 + static_cast<std::int64_t>(ops.below(s.xhi - s.xlo));
            const std::int64_t end = std::min(s.xhi - 1, at + 32 + static_cast<std::int64_t>(ops.below(d / 6)));
            for (std::int64_t i = at; i < end; ++i) X.cells[i] = 0;
          }
        }
        if (variant == 1 && !square) {  // Y = 1 + a few low cells
          for (std::int64_t i = s.ylo + 20; i <= s.yhi; ++i) Y.cells[i] = 0;
          Y.cells[d] = 1;
          Y.top = decimals + static_cast<std::int32_t>(d);
        } else if (variant >= 3) {  // 0.999..., from the lowest cell or above a few others
          const std::int64_t top = std::min(s.yhi, d - 1);
          for (std::int64_t i = variant == 3 ? s.ylo + 20 : s.ylo; i <= top; ++i) Y.cells[i] = kBase - 1;
          for (std::int64_t i = top + 1; i <= s.yhi; ++i) Y.cells[i] = 0;
          Y.top = decimals + static_cast<std::int32_t>(top);
        }
      },
      ops.chance(30));
}

// The terms of a series as EXP forms them: one long X times Y's whose lengths
// straddle each change of method and of the transform's length, of random
// cells and of 10^10 - 1 (the columns nearest the bound that sizes fields and
// primes). Each product runs three times, the last after a change of a cell
// of X: a transform of X kept from before is then stale.
testing::AssertionResult series_terms(Operands& ops, int round) {
  static const std::int64_t kLengths[] = {108, 109, 127, 128, 129, 163, 164,  200,  346,  347,  384, 385,
                                          512, 513, 630, 640, 768, 769, 1022, 1023, 1024, 1025, 1150};
  constexpr int n = static_cast<int>(std::size(kLengths));
  set_precision(12'000, 20);
  const std::int64_t d = -decimals;
  const bool nines = round >= n;
  const std::int64_t t = kLengths[round % n];
  static std::vector<cell_t> x;  // X's cells, the same for the rounds of one kind of cells
  auto cell = [&] { return nines ? kBase - 1 : static_cast<cell_t>(ops.below(kBase)); };
  if (round % n == 0) {
    x.assign(static_cast<std::size_t>(ncells()), 0);
    for (std::int64_t i = 0; i < d; ++i) x[static_cast<std::size_t>(i)] = cell();
    x[static_cast<std::size_t>(d)] = 40;
  }
  std::vector<cell_t> y(static_cast<std::size_t>(ncells()), 0);
  for (std::int64_t i = 0; i < t; ++i) y[static_cast<std::size_t>(i)] = cell();
  y[static_cast<std::size_t>(t - 1)] =
      nines ? kBase - 2 : 1 + static_cast<cell_t>(ops.below(kBase - 1));  // not 0.999...
  for (int again = 0; again < 3; ++again) {
    if (again == 2) x[static_cast<std::size_t>(d - 1) - ops.below(static_cast<std::uint64_t>(t))] ^= 1;
    auto same = longmult_of("series term of length " + std::to_string(t), false, [&](Reg* r) {
      std::copy(x.begin(), x.end(), r[0].cells);
      r[0].top = 0;
      std::copy(y.begin(), y.end(), r[1].cells);
      r[1].top = static_cast<std::int32_t>(decimals + t - 1);
    });
    if (!same) return same;
  }
  return testing::AssertionSuccess();
}

// The longest products: factors of 4,200 cells, and a long integer with a run
// of zeros squared (the blocks and each against the other are products of their own);
// then 16,900 cells by 40, by one cell, and by the largest cell whose products fit 64 bits.
testing::AssertionResult longest(Operands& ops, int round) {
  if (round == 0) {
    set_precision(42'000, 20);
    return longmult_of("factors of 4200 cells", false, [&](Reg* r) {
      for (int k = 0; k < 2; ++k) long_operand(ops, r[k], 0, -decimals, false);
    });
  }
  if (round >= 2) {  // integers: the column kernel takes the long factor in blocks
    set_precision(0, 170'000);
    const std::int64_t ny = round == 3 ? 40 : 1;
    return longmult_of("16,900 cells by " + std::to_string(ny), false, [&](Reg* r) {
      long_operand(ops, r[round % 2], 0, 16'900, false);
      long_operand(ops, r[1 - round % 2], 0, ny - 1, false);
      if (round == 4) r[1].cells[0] = static_cast<cell_t>(kShortFactorMax);
    });
  }
  set_precision(0, 24'100);
  return longmult_of("square across a run of zeros", true, [&](Reg* r) {
    long_operand(ops, r[0], 0, 1200, false);
    for (std::int64_t i = 450; i <= 750; ++i) r[0].cells[i] = 0;
  });
}

// Every 25th round a source of 2^16 cells and more, added in halves side by
// side, with a run that a carry or borrow out of the lower half takes up.
testing::AssertionResult add(Operands& ops, int round) {
  auto [D, E] = ops.shape(200);
  if (ops.chance(25)) E = 400 + static_cast<int>(ops.below(400));  // tables: mostly zero cells
  const bool halves = round % 25 == 7;
  if (halves) D = 655'360 + static_cast<int>(ops.below(100'000)), E = static_cast<int>(ops.below(30));
  set_precision(D, E);
  const int f = ops.chance(50) ? +1 : -1;
  const bool same = ops.chance(20);  // a zero difference
  const auto fill = [&](Reg* r) {
    halves ? ops.fill(r[0], 0, 65'535 + static_cast<std::int64_t>(ops.below(static_cast<std::uint64_t>(c39 - 65'534))))
           : ops.fill(r[0]);
    same ? COPY(r[0], r[1]) : ops.fill(r[1]);
    if (halves && ops.chance(50)) {  // 9s or 0s from below the source's middle up
      const std::int64_t top = std::int64_t{r[0].top} - decimals, from = std::max<std::int64_t>(top / 2 - 2, 0);
      const std::int64_t to = ops.chance(50) ? c39 : std::min<std::int64_t>(top + 2, c39);
      std::fill(r[1].cells + from, r[1].cells + to + 1, f > 0 ? kBase - 1 : 0);
      if (f > 0) r[1].top = std::max(r[1].top, static_cast<std::int32_t>(to + decimals));
    }
  };
  return compare<2>("ADD " + std::to_string(f), fill, [f](Reg* r) { ADD(r[0], f, r[1]); });
}

// MULT and DIV (and its zero flag): random registers and factors, and every
// tenth round a long register with room above against the paths' boundaries.
testing::AssertionResult scalar(Operands& ops, int round) {
  static const std::int64_t kLong[] = {
      1844674407, 1844674408, 922337203, 922337204, std::int64_t{1} << 62, std::numeric_limits<std::int64_t>::max()};
  const bool divide = round % 2 == 1;
  const bool longer = round % 10 < 2;
  const bool halves = round % 40 == 9;  // a division of at least 2,048 cells, in two parts side by side
  std::int64_t m = 0;
  if (halves && ops.chance(25)) {  // by a divisor of the base: from 2^16 cells
    static const std::int64_t kOfBase[] = {2, 5, 1024, 390'625, kBase};
    set_precision(655'360 + static_cast<int>(ops.below(100'000)), 20);
    m = kOfBase[ops.below(5)];
  } else if (halves) {
    set_precision(20'480 + static_cast<int>(ops.below(20'000)), 20);
    m = ops.chance(20) ? static_cast<std::int64_t>(kShortDivisorMax)
                       : 2 + static_cast<std::int64_t>(ops.below(100'000));
  } else if (longer) {
    set_precision(static_cast<int>(ops.below(3000)), 250);
    m = kLong[ops.below(6)];
  } else {
    auto [D, E] = ops.shape(250);
    set_precision(D, E);
    m = ops.factor();
  }
  bool flag[2] = {false, false};
  auto same = compare<1>((divide ? "DIV by " : "MULT by ") + std::to_string(m),
                         [&](Reg* r) {
                           ops.fill(r[0], longer ? limit - 3 : limit);
                           // The upper part zero (its quotient too), or a top cell below m and zeros.
                           if (halves && ops.chance(30)) {
                             const std::int64_t top = std::int64_t{r[0].top} - decimals, keep = top / 2 - 64;
                             for (std::int64_t i = std::max<std::int64_t>(keep, 0); i < top; ++i) r[0].cells[i] = 0;
                             if (top >= 0)
                               r[0].cells[top] =
                                   ops.chance(50) ? 0 : static_cast<cell_t>(ops.below(static_cast<std::uint64_t>(m)));
                           }
                         },
                         [&](Reg* r) { divide ? void(flag[use_reference_kernels] = DIV(r[0], m)) : MULT(r[0], m); });
  if (same && flag[0] != flag[1]) return testing::AssertionFailure() << "DIV by " << m << ": want flag " << flag[1];
  return same;
}

testing::AssertionResult print(Operands& ops, int) {
  auto [D, E] = ops.shape(300);
  set_precision(D, E);
  return compare<1>(
      "PRINT", [&](Reg* r) { ops.fill(r[0]); }, [](Reg* r) { PRINT(r[0]); });
}

// Pi and e at every D up to 400, then at random D up to 8000 (the split
// serves from 300 decimals for e and 500 for pi), at random E (-9: limit < 0,
// an alarm), from junk registers, on one thread and on two, where the split's
// root forks at every size. Every tenth round the budget leaves room for so
// many bytes: the term-by-term forms run, or both end in the same alarm. In
// every other round the transforms take every product of the split whose
// factors have a few limbs or more, and the result goes to cells by halves
// down to parts of a few cells.
testing::AssertionResult series(Operands& ops, int round) {
  struct Paired {
    std::int64_t cells = series_pair_cells, direct = series_direct_cells;
    Paired(std::int64_t limbs, std::int64_t parts) {
      series_pair_cells = 0;
      limb_products_forced_from = limbs;
      series_direct_cells = parts;
    }
    ~Paired() {
      series_pair_cells = cells;
      limb_products_forced_from = 0;
      series_direct_cells = direct;
      forkjoin::set_threads(0);
    }
  } paired(round % 2 == 0 ? static_cast<std::int64_t>(1 + ops.below(8)) : 0,
           round % 2 == 0 ? static_cast<std::int64_t>(1 + ops.below(40)) : series_direct_cells);
  static const int kE[] = {1, 10, 11, 20, 45, -9};
  set_precision(round <= 400 ? round : static_cast<int>(ops.below(8000)), kE[ops.below(6)]);
  const std::int64_t reg = (ncells() + 2 * kGuardCells) * std::int64_t{sizeof(cell_t)};
  const std::int64_t rooms[] = {0, reg, 2 * reg - 1, 2 * reg, 2 * reg + 4096, register_budget() / 2};
  const std::int64_t room = round % 10 == 0 ? rooms[ops.below(6)] : -1;
  const std::int64_t budget = register_budget();
  auto within = [room](auto fn) {
    if (room >= 0) set_register_budget(register_bytes_in_use() + room);
    fn();
  };
  auto junk = [&](Reg* r) {
    ops.fill(r[0]);
    COPY(r[0], r[1]);
    COPY(r[0], r[2]);
  };
  auto same = testing::AssertionSuccess();
  for (const int threads : {1, 2}) {
    forkjoin::set_threads(threads);
    const std::string how = (room < 0 ? "" : " with room for " + std::to_string(room) + " bytes") + " on " +
                            std::to_string(threads) + " thread(s)";
    if (same) same = compare<3>("PITO" + how, junk, [&](Reg* r) { within([r] { PITO(r[0], r[1], r[2]); }); });
    if (same) same = compare<3>("ETO" + how, junk, [&](Reg* r) { within([r] { ETO(r[0], r[1]); }); });
  }
  set_register_budget(budget);
  if (same && long_division_repairs != 0) return testing::AssertionFailure() << "long divisions repaired";
  return same;
}

// X that converge at E = 11 or 20 and larger ones that alarm; X of any cells below 50.
testing::AssertionResult exp(Operands& ops, int) {
  static const int kE[] = {1, 11, 20, 20, 30};
  static const double kX[] = {0, 1, 0.5, 2.5, 10, 40.1091, 1e-12};
  set_precision(static_cast<int>(ops.below(300)), kE[ops.below(5)]);
  const double x = ops.chance(50) ? kX[ops.below(7)] : ops.real();
  const bool assigned = ops.chance(70);
  const auto fill = [&](Reg* r) {
    if (assigned) return ASSIGN(r[0], x < 45 ? x : 3.25);
    ops.fill(r[0], 0);
    r[0].cells[limit - decimals] = 0;
    if (ops.chance(70) && -decimals < ncells()) r[0].cells[-decimals] %= 50;
  };
  return compare<3>("EXP", fill, [](Reg* r) { EXP(r[0], r[1], r[2]); });
}

// Square roots: first D and v whose passes end in cycles of periods 1 (237,
// 0.3; exact roots), 2, 5, 6, 8, 10, 14, 16 and 22, and perfect squares whose
// passes rewrite every cell, each also ten decimals on; then roots at limit
// 0, where the partial products need room above the factors; then random ones.
testing::AssertionResult sqrt(Operands& ops, int round) {
  struct Row {
    int D, E;
    double v;
  };
  static const Row kCycles[] = {{237, 11, 0.3},      {1000, 11, 4},       {100, 11, 2},    {200, 20, 0.3},
                                {1014, 11, 10},      {237, 20, 7},        {1051, 11, 13},  {1273, 20, 163},
                                {1014, 20, 1000003}, {1000, 20, 1000003}, {0, 20, 2},      {10, 11, 0.25},
                                {1000, 11, 9},       {733, 11, 144},      {1000, 11, 2.25}};
  static const double kAtZero[] = {2.0, 4.0, 0.5, 0.25, 3.0, 0.9};
  static const int kE[] = {1, 10, 11, 20, 21, 40};
  static const double kV[] = {0, -0.0, -2, NAN, INFINITY, 1e10, 1e-30, 2, 163};
  double v = 0;
  if (round < 30) {
    const Row& r = kCycles[round / 2];
    set_precision(r.D + 10 * (round % 2), r.E);
    v = r.v;
  } else if (round < 30 + 6 * 23) {
    set_precision(1 + 2 * ((round - 30) % 23), 10);
    v = kAtZero[(round - 30) / 23];
  } else {
    set_precision(static_cast<int>(ops.below(round % 10 == 0 ? 2000 : 700)), kE[ops.below(6)]);
    v = ops.chance(15) ? kV[ops.below(9)] : ops.real();
  }
  std::ostringstream name;
  name << "SQRT of " << v;
  return compare<3>(
      name.str(), [](Reg*) {}, [v](Reg* r) { SQRT(r[0], r[1], r[2], v); });
}

// The walks keep what they learn for the next product with the same X. In
// 1/3 times 1/3 every third pass may wrap and walks to X's last cell; with
// that cell one more the walks end the other way, and a cell one more in the
// middle turns those from above it. With Y's lower cells 1 all passes that
// may wrap are in the upper half of the plain passes. The last round goes
// back to the first X.
testing::AssertionResult walks_forget(Operands&, int round) {
  set_precision(6000, 5);
  const cell_t last = round % 4 < 2 ? 3333333333 : 3333333334, low = round % 2 == 0 ? 3333333333 : 1;
  return longmult_of(
      "1/3 times 1/3, X's last cell " + std::to_string(last) + ", Y's lower cells " + std::to_string(low), false,
      [&](Reg* r) {
        for (int k = 0; k < 3; ++k) {
          for (std::int64_t i = 0; i < ncells(); ++i) r[k].cells[i] = k < 2 && i < -decimals ? 3333333333 : 0;
          r[k].top = -1;
        }
        r[0].cells[0] = last;
        r[0].cells[ncells() / 2] = 3333333334;
        for (std::int64_t i = 0; i < -decimals / 2; ++i) r[1].cells[i] = low;
      });
}

// Products with a memo, as a square root's passes make them: each round
// changes the last round's operands below cell k (none, one, up to past the
// share the memo serves) to random cells, zeros or 10^10 - 1, sometimes
// squares, sometimes with another top cell; a new precision every 40 rounds.
// At three, x is two low cells and y has 25 integer cells: then the changes
// of y reach above all of x (y is the first operand at one of them).
testing::AssertionResult memo_products(Operands& ops, int round) {
  static ProductMemo memo;
  static std::vector<cell_t> x, y;
  static std::size_t low = 0;
  static bool tiny = false, swapped = false;
  static std::uint64_t served = 0;
  if (round == 0) served = longmult_memo_served;
  if (round % 40 == 0) {
    tiny = round / 40 % 4 == 1;             // the precisions of rounds 40, 200 and 360
    swapped = tiny && round / 40 % 8 == 5;  // of round 200
    set_precision(10 * static_cast<int>(16 + ops.below(round < 200 ? 300 : 1200)), tiny ? 300 : 20);
    x.assign(static_cast<std::size_t>(ncells()), 0);
    y = x;
    // At some, x = 1.000...ddd and y = 0.x999...ddd: a carry of a change runs to the top.
    low = ops.chance(40) && !tiny ? 3 : static_cast<std::size_t>(-decimals);
    for (std::size_t i = 0; i < static_cast<std::size_t>(-decimals); ++i)
      x[i] = i < low && (!tiny || i < 2) ? ops.cell() : 0, y[i] = i < low ? ops.cell() : kBase - 1;
    for (std::size_t i = static_cast<std::size_t>(-decimals); tiny && i <= static_cast<std::size_t>(25 - decimals); ++i)
      y[i] = 1 + static_cast<cell_t>(ops.below(kBase - 1));
  }
  const auto d = static_cast<std::size_t>(-decimals);
  if (round % 40 != 0) {
    const std::uint64_t n = tiny ? 32 : std::min(d, low) + 5;
    const std::uint64_t k = ops.chance(10) ? 0 : ops.chance(80) ? 1 + ops.below(n / 8) : ops.below(n);
    const int kind = static_cast<int>(ops.below(3));
    for (std::vector<cell_t>* v : {&x, &y})
      for (std::size_t i = 0; i < k && i < d && ops.chance(80) && (v == &y || !tiny || i < 2); ++i)
        (*v)[i] = kind == 0 ? ops.cell() : kind == 1 ? 0 : kBase - 1;
  }
  if (!tiny && (round % 40 == 0 || ops.chance(5))) {  // x = 1.41..., 2.41... or 0.41..., y = 0.7...
    x[d] = static_cast<cell_t>(ops.below(3));
    y[d - 1] = 1 + static_cast<cell_t>(ops.below(kBase - 1));
  }
  const bool square = ops.chance(10), yNext = ops.chance(50);
  auto same = compare<3>(
      yNext ? "product with a memo, Y next" : "product with a memo",
      [&](Reg* r) {
        for (int k = 0; k < 2; ++k) {
          const bool isX = (k == 0) != swapped;
          std::copy((isX ? x : y).begin(), (isX ? x : y).end(), r[k].cells);
          r[k].top = static_cast<std::int32_t>(decimals + (isX ? d : tiny ? d + 25 : d - 1));
        }
      },
      [square, yNext](Reg* r) { longmult(r, square, &memo, yNext); });
  // It serves about 250 of the 400 (193 to 296 over 62 seeds): 150 is far
  // below what any seed gives, and far above a memo that stopped serving;
  // more than 400 would be a count gone wrong.
  if (const std::uint64_t n = longmult_memo_served - served; same && round == 399 && (n < 150 || n > 400))
    return testing::AssertionFailure() << "the memo served " << n << " of 400 products";
  return same;
}

// A series' step from the product S: T := S, T := floor(T / m), R := R + T,
// in one pass (DIV_ADD_fast) against COPY, DIV and ADD. S of up to 2,047
// cells and longer ones (in halves), over a T with cells above S's top; R with a run of 10^10 - 1
// from its lowest cell, through which carries run across the halves, past
// S's top and out of the register (ALARM); S with only its lowest cells
// nonzero below a long top; divisors up to the largest short one, a tenth of
// them divisors of the base, which the step declines.
testing::AssertionResult div_add(Operands& ops, int) {
  static const std::int64_t kOfBase[] = {2, 4, 5, 16, 1024, 390'625};
  set_precision(20'480 + static_cast<int>(ops.below(20'000)), 1 + static_cast<int>(ops.below(20)));
  const std::int64_t m = ops.chance(10)   ? kOfBase[ops.below(6)]
                         : ops.chance(10) ? static_cast<std::int64_t>(kShortDivisorMax)
                                          : 3 + static_cast<std::int64_t>(ops.below(100'000));
  const std::int64_t top =
      ops.chance(30) ? static_cast<std::int64_t>(ops.below(2047))
                     : 2047 + static_cast<std::int64_t>(ops.below(static_cast<std::uint64_t>(ncells() - 2047)));
  // ended: the fast run returned (no alarm); cells: S's, from its top down.
  bool flag[2] = {false, false}, fused = false, ended = false;
  std::int64_t cells = 0;
  auto same = compare<3>(
      "DIV_ADD by " + std::to_string(m),
      [&](Reg* r) {
        ops.fill(r[0], 0, top, limit);
        if (top >= 2 && ops.chance(10)) {  // only the lowest cells: a quotient of one cell, or zero
          std::fill(r[0].cells + 2, r[0].cells + top + 1, 0);
          r[0].top = static_cast<std::int32_t>(top + decimals);
        }
        ops.fill(r[1]);
        ops.fill(r[2]);
        if (ops.chance(40)) {  // a run of 10^10 - 1 up to the middle, past S's top, or to the end
          const std::int64_t ends[] = {(top + 1) / 2 + 3, top + 2, c39};
          const std::int64_t end = std::min<std::int64_t>(ends[ops.below(3)], c39);
          std::fill(r[2].cells, r[2].cells + end + 1, kBase - 1);
          r[2].top = std::max(r[2].top, static_cast<std::int32_t>(end + decimals));
        }
      },
      [&](Reg* r) {
        bool zero = false;
        cells = std::int64_t{r[0].top} - decimals + 1;
        if (use_reference_kernels || !(fused = DIV_ADD_fast(r[0], r[1], m, r[2], zero))) {
          COPY(r[0], r[1]);
          zero = DIV(r[1], m);
          ADD(r[1], +1, r[2]);
        }
        flag[use_reference_kernels] = zero;
        ended |= !use_reference_kernels;
      });
  if (same && flag[0] != flag[1]) return testing::AssertionFailure() << "DIV_ADD by " << m << ": want flag " << flag[1];
  // It takes every S by any divisor but those of the base.
  if (same && ended && fused != (kBase % m != 0 && cells >= 1))
    return testing::AssertionFailure() << "DIV_ADD by " << m << " of " << cells << " cells"
                                       << (fused ? " fused" : " declined");
  return same;
}

struct Row {
  const char* name;
  int rounds;
  std::function<testing::AssertionResult(Operands&, int)> round;
};

const Row kKernels[] = {
    {"ADD", 6000, add},
    {"MULT_DIV", 8000, scalar},
    {"PRINT", 3000, print},
    {"LONGMULT", 40'000, [](Operands& ops, int round) { return random_product(ops, round, 4, round % 3 == 0); }},
    {"PITO_ETO", 460, series},
    {"EXP", 80, exp},
    {"DIV_ADD", 300, div_add},
    {"SQRT", 320, sqrt},
};

const Row kProducts[] = {
    {"LONGMULT_many_cells", 2060,
     [](Operands& ops, int round) { return random_product(ops, round, round < 2000 ? 40 : 400, false); }},
    {"LONGMULT_long_shapes", 70, long_shape},
    {"LONGMULT_series_terms", 46, series_terms},
    {"LONGMULT_longest", 5, longest},
    {"LONGMULT_walks_forget", 5, walks_forget},
    {"LONGMULT_memo", 400, memo_products},
};

// The kernels' rows on the best units, the products' rows on each units.
struct Case {
  const Row* row;
  std::string units;  // empty: the processor's best
};
const std::vector<Case> kCases = [] {
  std::vector<Case> v;
  for (const Row& r : kKernels) v.push_back({&r, ""});
  for (const std::string& u : units_names())
    for (const Row& r : kProducts) v.push_back({&r, u});
  return v;
}();

class Differential : public testing::TestWithParam<std::size_t> {};

TEST_P(Differential, SameAsReference) {
  const Case& c = kCases[GetParam()];
  if (!c.units.empty()) {
    std::string why;
    const auto units = units_named(c.units, why);
    if (!units) GTEST_SKIP() << c.units << ": " << why;
    use_kernels(false, *units);
  }
  Operands ops(c.row->name);
  for (int round = 0; round < c.row->rounds; ++round) ASSERT_TRUE(c.row->round(ops, round)) << "round " << round;
}

std::string case_name(const testing::TestParamInfo<std::size_t>& i) {
  const Case& c = kCases[i.param];
  return std::string(c.row->name) + (c.units.empty() ? "" : "_" + c.units);
}

INSTANTIATE_TEST_SUITE_P(Kernels, Differential, testing::Range<std::size_t>(0, kCases.size()), case_name);

// With no room for the reference's scratch register both raise ALARM("ALLOC").
TEST(KernelEdges, NoRoomForTheProductsScratchRegister) {
  set_precision(20, 20);
  Reg A, B, C;
  ASSIGN(A, 2.5);
  ASSIGN(B, 4);
  set_register_budget(register_bytes_in_use() +
                      (ncells() + 2 * kGuardCells) * static_cast<std::int64_t>(sizeof(cell_t)) - 1);
  for (bool reference : {true, false}) {
    use_kernels(reference);
    int status = 0;
    EXPECT_EQ(capture([&] { LONGMULT(A, B, C); }, &status), "\nError in: ALLOC") << reference;
    EXPECT_EQ(status, 255);
  }
}

// A product by 0.999... goes through X a chunk at a time, and a chunk may
// begin or end inside a run of zeros of X: runs of 100 to 700 zero cells at
// every place, so that some cross or touch each boundary of the chunks.
TEST(KernelEdges, ZeroRunsAcrossTheChunksOfAProductByNines) {
  Operands ops("zero runs");
  for (const int D : {12'000, 20'000}) {
    set_precision(D, 20);
    const std::int64_t d = -decimals;
    for (std::int64_t at = 0; at < d; at += 97) {
      const std::int64_t run = 100 + 150 * (at % 5);
      auto same = longmult_of("X with zeros from " + std::to_string(at), false, [&](Reg* r) {
        long_operand(ops, r[0], 0, d - 1, false);
        for (std::int64_t i = at; i < std::min(at + run, d); ++i) r[0].cells[i] = 0;
        std::fill(r[1].cells, r[1].cells + d, kBase - 1);
        r[1].top = decimals + static_cast<std::int32_t>(d - 1);
      });
      ASSERT_TRUE(same);
    }
  }
}

// The reciprocal divisions against native 128-bit division.
TEST(KernelEdges, DivisorsAgreeWithNativeDivision) {
  Operands ops("Divisors");
  for (int round = 0; round < 20000; ++round) {
    std::uint64_t d = static_cast<std::uint64_t>(ops.factor());
    if (static_cast<std::int64_t>(d) <= 0) d = 1 + ops.below(1000);
    const WideDivisor wd(d);  // any t < d * 2^64
    const u128 tw = (static_cast<u128>(ops.below(d)) << 64) | ops.below(~std::uint64_t{0});
    for (u128 t : {tw, u128{0}, static_cast<u128>(d) * (u128{1} << 64) - 1, static_cast<u128>(d)}) {
      u64 q = 0, r = 0;
      wd.divrem(t, q, r);
      ASSERT_EQ(q, static_cast<u64>(t / d)) << "d " << d;
      ASSERT_EQ(r, static_cast<u64>(t % d)) << "d " << d;
    }
    // Products of two cells split at the base (quotient estimated in doubles:
    // one short for a multiple of the base, one over just below one).
    using longmult::kB;
    const u64 x = ops.below(kB), y = ops.below(kB);
    for (auto [a, b] : {std::pair{x, y},
                        {kB - 1, kB - 1},
                        {x, u64{0}},
                        {u64{6973125000}, u64{5363520000}},
                        {u64{8111360611}, u64{7327459509}},
                        {u64{2}, kB / 2}}) {
      u64 r = 0;
      const u64 q = longmult::mul_divmod_base(a, b, r);
      ASSERT_EQ(static_cast<u128>(q) * kB + r, static_cast<u128>(a) * b) << a << " " << b;
      ASSERT_LT(r, kB) << a << " " << b;
    }
    if (d < 2 || d >= (std::uint64_t{1} << 63)) continue;
    const ShortDivisor sd(d);  // d >= 2 and t < 2^63
    const u64 ts = ops.below(std::uint64_t{1} << 63);
    for (u64 t : {ts, u64{0}, (u64{1} << 63) - 1, d - 1, d, ts - ts % d, ts - ts % d - 1}) {
      if (t >= (u64{1} << 63)) continue;
      ASSERT_EQ(sd.quot(t), t / d) << "t " << t << " d " << d;
    }
  }
}

// GMP's products of cells packed into wide fields, at shapes the plan gives
// them on every units: some 1,000 cells by 64 at the top, random, and all
// 10^10 - 1 (Y's top cell one less, or it goes as 1 - E), whose columns
// fill the fields.
TEST(KernelEdges, ProductsByGMP) {
  set_precision(12'000, 20);
  const std::int64_t d = -decimals;
  for (const std::string& name : units_names()) {
    std::string why;
    const auto units = units_named(name, why);
    if (!units) continue;
    use_kernels(false, *units);
    Operands ops("GMP's products");
    for (const std::int64_t nx : {1000, 1050})
      EXPECT_TRUE(longmult_of(std::to_string(nx) + " cells times 64", false, [&](Reg* r) {
        long_operand(ops, r[0], d - nx + 1, d, false);
        long_operand(ops, r[1], d - 63, d, false);
        if (nx == 1050) std::fill(r[0].cells + d - nx + 1, r[0].cells + d + 1, kBase - 1);
        if (nx == 1050) std::fill(r[1].cells + d - 63, r[1].cells + d, kBase - 1), r[1].cells[d] = kBase - 2;
      })) << name;
  }
}

// A kept transform of X serves only products of its form (200 x 257 cells:
// 2^8 entries of two cells, 200 x 385: of three, on the portable path) and
// only the units that made it: the same product follows on each in turn. Nor
// does it serve X squared, as the vector units keep it divided by its length.
TEST(KernelEdges, KeptTransformServesItsOwnForm) {
  set_precision(0, 6000);
  for (const std::int64_t sy : {257, 385})
    for (const std::string& name : units_names()) {
      std::string why;
      const auto units = units_named(name, why);
      if (!units) continue;
      use_kernels(false, *units);
      EXPECT_TRUE(longmult_of("200 cells times " + std::to_string(sy), false, [&](Reg* r) {
        Operands same("Kept form X");
        long_operand(same, r[0], 0, 199, false);
        Operands other("Kept form Y");
        long_operand(other, r[1], 0, sy - 1, false);
      })) << name;
      EXPECT_TRUE(longmult_of("200 cells squared", true, [&](Reg* r) {
        Operands same("Kept form X");
        long_operand(same, r[0], 0, 199, false);
      })) << name;
    }
}

// The vector kernels of each target the processor has, against sums in
// integers.
class VectorTargets : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::string why;
    const auto named = units_named(GetParam(), why);
    if (!named) GTEST_SKIP() << GetParam() << ": " << why;
    units = *named;
  }
  Units units;  // the target's, where the processor has it
};

// The truncated passes, with products whose quotient estimate falls short or
// over planted as X's first and second cell of a pass; the passes that may
// wrap reported, also when every pass may.
TEST_P(VectorTargets, TruncatedPassSums) {
  const auto frac_sums = units.vector->frac_sums;
  const std::int64_t lanes = units.lanes;
  using longmult::kB;
  Operands ops("Passes");
  const std::int64_t n = 128;
  std::vector<cell_t> xs(n + 1), ys(n);
  for (auto& c : xs) c = static_cast<cell_t>(ops.below(kB));
  for (auto& c : ys) c = static_cast<cell_t>(ops.below(kB));
  const cell_t* x = xs.data() + n;  // pass j reads x[-j] and x[-j - 1]
  const auto plant = [&](std::int64_t j, std::int64_t cell, cell_t xv, cell_t b) {
    xs[static_cast<std::size_t>(n - j - cell)] = xv;
    ys[static_cast<std::size_t>(j)] = b;
  };
  plant(0, 1, 6973125000, 5363520000);   // x2 b / B estimated one short
  plant(5, 0, 6973125000, 5363520000);   // x1 b likewise
  plant(10, 1, 8111360611, 7327459509);  // estimated one over
  plant(15, 0, 8111360611, 7327459509);
  ys[20] = 0;
  // In pass 29, x1 = x2 = B - 2 and b = B - 1: x1 b mod B = 2, x2 b = (B - 3) B + 2,
  // so h = B - 1 and x2 b mod B + b = B + 1.
  plant(29, 0, static_cast<cell_t>(kB - 2), static_cast<cell_t>(kB - 1));
  xs[static_cast<std::size_t>(n - 30)] = static_cast<cell_t>(kB - 2);
  u64 want[3] = {};
  for (std::int64_t j = 0; j < n; ++j) {
    const auto b = static_cast<u64>(ys[static_cast<std::size_t>(j)]);
    const auto x1b = static_cast<longmult::u128>(x[-j]) * b, x2b = static_cast<longmult::u128>(x[-j - 1]) * b;
    want[0] += static_cast<u64>((x1b % kB + x2b / kB) % kB);
    want[1] += static_cast<u64>(x2b % kB);
    want[2] += b;
  }
  u64 got[3] = {};
  std::vector<std::int64_t> may(n);
  std::int64_t nmay = 0;
  ASSERT_EQ(frac_sums(x, ys.data(), n, got, may.data(), nmay), n);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(got[k], want[k]) << k;
  ASSERT_EQ(nmay, 1);
  EXPECT_EQ(may[0], 29);
  // Every pass may wrap; the passes short of a whole vector are left.
  std::fill(xs.begin(), xs.end(), static_cast<cell_t>(kB - 2));
  std::fill(ys.begin(), ys.end(), static_cast<cell_t>(kB - 1));
  nmay = 0;
  const std::int64_t done = frac_sums(x, ys.data(), n - 1, got, may.data(), nmay);
  ASSERT_EQ(done, n - lanes);
  ASSERT_EQ(nmay, done);
  for (std::int64_t k = 0; k < nmay; ++k) ASSERT_EQ(may[static_cast<std::size_t>(k)], k);
}

// Columns settled a vector at a time, against the loop that settles them one
// by one, from a carry in and on into spare zero columns: random parts; the
// largest; and sums B q + r with q of 0 or 1 and r mostly B - 1 or B - 2, so
// that a one carried runs from lane to lane, into a vector and out of it.
// Each length up to three vectors past the first two columns, and a long one.
TEST_P(VectorTargets, SettledColumns) {
  using longmult::Carry;
  using longmult::kB;
  using longmult::kHighAt;
  Operands ops("Settled columns");
  const u64 m = 999'999'999;  // the most pairs a column may have
  const std::int64_t spare = 4;
  const auto at = [](std::int64_t i) { return static_cast<std::size_t>(i); };
  for (const int kind : {0, 1, 2})
    for (std::int64_t n = 1; n <= 3 * units.lanes + 4; ++n) {
      const std::int64_t len = n == 3 * units.lanes + 4 ? 1000 : n;
      const auto part = [&](u64 below) { return kind == 1 ? below - 1 : ops.below(below); };
      std::vector<u64> acc(at(len + spare)), l(acc.size()), bp(acc.size());
      Carry in{kind == 1 ? 3 : ops.below(4), part(kB), part(m + 1), part(m + 1)};
      for (std::int64_t i = 0; i < len; ++i) {
        if (kind == 2) {  // B q + r: acc B - 1, l r and a of the column two below 1; or acc r
          const u64 q = ops.below(2), pick = ops.below(4), r = pick < 2 ? kB - 1 - pick : ops.below(kB);
          acc[at(i)] = q != 0 ? kB - 1 : r;
          l[at(i)] = q != 0 ? r : 0;
          (i >= 2 ? bp[at(i - 2)] : in[i == 0 ? 3 : 2]) = q << kHighAt;
          if (i == 0) in[1] = 0;
          continue;
        }
        acc[at(i)] = part(kB);
        l[at(i)] = part(kB);
        bp[at(i)] = part(kB) | part(m + 1) << kHighAt;
      }
      std::vector<u64> want = acc;
      longmult::Acc a{want.data(), 0};
      longmult::add_split_columns(
          a, 0, len - 1, false,
          [&](std::int64_t c, u64& lc, u64& bc, u64& ac) {
            lc = l[at(c)], bc = bp[at(c)] & ((u64{1} << kHighAt) - 1), ac = bp[at(c)] >> kHighAt;
          },
          [](std::int64_t, std::int64_t) {}, [&](std::int64_t c, std::int64_t, Carry& r) { return r = in, c; });
      std::vector<u64> got = acc;
      Carry carry = in;
      units.vector->settle_columns(got.data(), l.data(), bp.data(), len, carry.data());
      units.vector->settle_columns(got.data() + len, l.data() + len, bp.data() + len, spare, carry.data());
      ASSERT_EQ(got, want) << "kind " << kind << ", " << len << " columns";
      EXPECT_EQ(carry, Carry{}) << len;
    }
}

// Column sums: every column of short products of lengths not a multiple of
// the lanes, and one of 17,999 pairs of the largest cells (nearest 2^64).
TEST_P(VectorTargets, ColumnSums) {
  using longmult::kB;
  Operands ops("Columns");
  const auto check = [&](const std::vector<u64>& x, const std::vector<u64>& y, std::int64_t from, std::int64_t to) {
    const auto nx = static_cast<std::int64_t>(x.size()), ny = static_cast<std::int64_t>(y.size());
    std::vector<double> xr(x.size()), yh(y.size()), yl(y.size());
    for (std::size_t j = 0; j < x.size(); ++j) xr[x.size() - 1 - j] = static_cast<double>(x[j]);
    for (std::size_t i = 0; i < y.size(); ++i) {
      yh[i] = static_cast<double>(y[i] / 100'000);
      yl[i] = static_cast<double>(y[i] % 100'000);
    }
    std::vector<u64> hs(static_cast<std::size_t>(to - from + 1)), ls(hs.size());
    units.vector->column_sums(xr.data(), nx, yh.data(), yl.data(), ny, from, to, hs.data(), ls.data());
    for (std::int64_t c = from; c <= to; ++c) {
      u64 h = 0, l = 0;
      for (std::int64_t i = std::max<std::int64_t>(0, c - nx + 1); i <= std::min(c, ny - 1); ++i) {
        h += x[static_cast<std::size_t>(c - i)] * (y[static_cast<std::size_t>(i)] / 100'000);
        l += x[static_cast<std::size_t>(c - i)] * (y[static_cast<std::size_t>(i)] % 100'000);
      }
      ASSERT_EQ(hs[static_cast<std::size_t>(c - from)], h) << nx << " x " << ny << " column " << c;
      ASSERT_EQ(ls[static_cast<std::size_t>(c - from)], l) << nx << " x " << ny << " column " << c;
    }
  };
  for (const auto& [nx, ny] : {std::pair<std::size_t, std::size_t>{1, 1}, {37, 13}, {13, 37}, {64, 64}, {71, 5}}) {
    std::vector<u64> x(nx), y(ny);
    for (auto& c : x) c = ops.below(kB);
    for (auto& c : y) c = ops.below(kB);
    y.back() = kB - 1;
    check(x, y, 0, static_cast<std::int64_t>(nx + ny) - 2);
  }
  const std::vector<u64> top(17'999, kB - 1);
  check(top, top, 17'998, 17'998);
}

// Products past the cache blocks (2^15 entries) and past 2^20 entries: X
// with a nonzero cell every twentieth place times Y, the columns from `cut`
// on (the upper half of a square product: X's top cells in 2^16 entries,
// the rest apart; and the whole square in 2^17), and a product of 2^22
// entries made in halves of Y, twice: the second, of another X as long,
// must not take the first's transform (the longer ones too long for an
// emulator); nor must a product of the same length whose X is the last X's
// lower part. First a transform of 2^20 entries (on an emulator too), whose
// long stages go two to a pass, and one of 2^22, whose quarters do so again,
// times the transform of 1 and back; the same for 3 2^k entries, whose thirds
// are within a vector's stages, past the twiddles' runs, and past 2^20.
TEST_P(VectorTargets, LongTransforms) {
  using longmult::kB;
  Operands ops("Long transforms");
  for (const auto& [log, three] : {std::pair{20, false}, {22, false}, {4, true}, {14, true}, {20, true}}) {
#ifdef FIXCALC_EMULATED
    if (log > 20 || (three && log > 14)) continue;
#endif
    using namespace longmult::ntt;
    using longmult::u64;
    const std::int64_t L = (three ? 3 : 1) * (std::int64_t{1} << log);
    const Prime& P = kPrimes[1];
    const Tables& T = tables_for(1, P, L, true);
    Array<u64> a(L), one(L);
    for (auto& x : a) x = ops.below(P.p);
    for (auto& x : one) x = ops.below(P.p);  // all but the first taken as zero, whatever they hold
    const Array<u64> want = a;
    one[0] = 1;
    const u64 byL = P.p - (P.p - 1) / static_cast<u64>(L);
    const auto& v = *units.vector;
    if (three) {
      const std::int64_t N = L / 3;
      v.transform3(a.data(), a.data(), N, P, T.fwd.data(), radix3(T, N, false), L, 1);
      v.transform3(one.data(), one.data(), N, P, T.fwd.data(), radix3(T, N, false), 1, 1);
      v.inverse_transform3(a.data(), one.data(), byL, N, P, T.ivd.data(), radix3(T, N, true));
    } else {
      v.transform(a.data(), a.data(), L, P, T.fwd.data(), L, 1);
      v.transform(one.data(), one.data(), L, P, T.fwd.data(), 1, 1);
      v.inverse_transform(a.data(), one.data(), byL, L, P, T.ivd.data());  // times 1 / L
    }
    ASSERT_TRUE(a == want) << "round trip of " << (three ? "3 " : "") << "2^" << log << " entries";
  }
  struct Row {
    std::int64_t nx, ny, cut;
    int log;
    bool three, halves, part;  // part: X is the last row's first nx cells
  };
  std::vector<cell_t> last;
  for (const Row& r :
       {Row{3500, 3500, 0, 13, false, false, false}, Row{3001, 3500, 0, 13, false, false, true},
        Row{3000, 3000, 0, 11, true, false, false}, Row{12'000, 12'000, 12'000, 13, true, false, false},
        Row{20'000, 1000, 0, 14, false, false, false}, Row{40'000, 40'000, 40'000, 16, false, false, false},
        Row{40'000, 40'000, 0, 15, true, false, false}, Row{60'000, 60'000, 0, 17, false, false, false},
        Row{3'100'000, 4000, 0, 20, true, false, false}, Row{2'095'000, 4000, 0, 21, false, true, false},
        Row{2'095'000, 4000, 0, 21, false, true, false}}) {
#ifdef FIXCALC_EMULATED
    if (r.log > 15) continue;
#endif
    std::vector<cell_t> x(static_cast<std::size_t>(r.nx)), y(static_cast<std::size_t>(r.ny));
    for (std::size_t j = 0; j < x.size(); j += 20) x[j] = static_cast<cell_t>(1 + ops.below(kB - 1));
    x.front() = x.back() = y.front() = y.back() = static_cast<cell_t>(kB - 1);
    if (r.part) std::copy_n(last.begin(), r.nx, x.begin());  // cell 2500 too is nonzero, as operands end
    last = x;
    for (std::size_t i = 1; i + 1 < y.size(); ++i) y[i] = static_cast<cell_t>(ops.below(kB));
    const std::int64_t lx = std::max<std::int64_t>(0, r.cut - (r.ny - 1)),
                       ly = std::max<std::int64_t>(0, r.cut - (r.nx - 1));
    const longmult::Plan plan = longmult::plan_product(units, r.nx - lx, r.ny - ly, std::max(r.cut, lx + ly) - lx - ly);
    ASSERT_EQ(plan.log, r.log) << r.nx << " x " << r.ny;
    ASSERT_EQ(plan.three, r.three) << r.nx << " x " << r.ny;
    ASSERT_EQ(plan.halves, r.halves);
    std::vector<u64> got(static_cast<std::size_t>(r.nx + r.ny + 2)), want(got.size());
    const Units saved = longmult_units;
    longmult_units = units;
    longmult::Acc acc{got.data(), 0};
    longmult::add_product(acc, {x.data(), {0, r.nx - 1}}, {y.data(), {0, r.ny - 1}}, r.cut);
    longmult_units = saved;
    std::vector<longmult::u128> columns(want.size());
    for (std::size_t j = 0; j < x.size(); ++j)
      if (x[j] != 0)
        for (std::size_t i = 0; i < y.size(); ++i) columns[i + j] += static_cast<longmult::u128>(x[j]) * y[i];
    longmult::u128 carry = 0;
    for (auto c = static_cast<std::size_t>(r.cut); c < want.size(); ++c) {
      carry += columns[c];
      want[c] = static_cast<u64>(carry % kB);
      carry /= kB;
    }
    for (std::size_t c = 0; c < want.size(); ++c) ASSERT_EQ(got[c], want[c]) << "2^" << r.log << ", cell " << c;
  }
}

// Products of limbs by the transforms against schoolbook products: random
// shapes, squares, factors of all ones (the largest columns), and the
// shapes whose digits just fill a transform's length, or pass it by one.
TEST_P(VectorTargets, LimbProducts) {
  using u64 = std::uint64_t;
  using u128 = longmult::u128;
  Operands ops("Limb products");
  struct Forced {
    Forced() { limb_products_forced_from = 1; }
    ~Forced() { limb_products_forced_from = 0; }
  } forced;
  LimbProducts lp(units, 1 << 14);
  const auto schoolbook = [](const std::vector<u64>& a, const std::vector<u64>& b) {
    std::vector<u64> p(a.size() + b.size());
    for (std::size_t j = 0; j < a.size(); ++j) {
      u128 carry = 0;
      for (std::size_t i = 0; i < b.size(); ++i) {
        carry += static_cast<u128>(a[j]) * b[i] + p[i + j];
        p[i + j] = static_cast<u64>(carry);
        carry >>= 64;
      }
      p[j + b.size()] = static_cast<u64>(carry);
    }
    return p;
  };
  const auto check = [&](std::int64_t na, std::int64_t nb, bool ones, bool square) {
    std::vector<u64> a(static_cast<std::size_t>(na)), b(static_cast<std::size_t>(nb));
    for (auto& l : a) l = ones ? ~u64{0} : ops.below(~u64{0}) + ops.below(2);
    for (auto& l : b) l = ones ? ~u64{0} : ops.below(~u64{0}) + ops.below(2);
    if (square) b = a;
    const std::vector<u64> want = schoolbook(a, b);
    std::vector<u64> got(want.size(), 1);
    const std::string what = std::to_string(na) + " x " + std::to_string(nb) + (ones ? ", all ones" : "");
    if (!lp.takes(na, nb)) return testing::AssertionFailure() << what << " not taken";
    lp.multiply(got.data(), a.data(), na, square ? a.data() : b.data(), nb);
    for (std::size_t i = 0; i < want.size(); ++i)
      if (got[i] != want[i]) return testing::AssertionFailure() << what << ": limb " << i << " of " << want.size();
    return testing::AssertionSuccess();
  };
  for (int round = 0; round < 60; ++round) {
    const auto na = static_cast<std::int64_t>(1 + ops.below(round < 40 ? 40 : 900));
    ASSERT_TRUE(check(na, 1 + static_cast<std::int64_t>(ops.below(900)), false, false));
    ASSERT_TRUE(check(na, na, round % 3 == 0, round % 2 == 0));
  }
  // 2^k and 3 2^(k-2) entries take digits of min(40, (97 - k) / 2) bits: n by
  // n limbs fill L entries where 2 ceil(64 n / bits) - 1 reaches L. Squares of all
  // ones, whose columns are the largest, (2^64n - 1)^2 = 2^128n - 2^(64n+1) + 1,
  // up to 2^20 entries (2^15 under an emulator), where the digits are narrower.
#ifdef FIXCALC_EMULATED
  constexpr int kLongest = 15;
#else
  constexpr int kLongest = 20;
#endif
  LimbProducts longest(units, std::int64_t{1} << kLongest);
  for (int k = 5; k <= kLongest; ++k) {
    const std::int64_t bits = std::min(40, (97 - k) / 2), L = std::int64_t{1} << k;
    for (const std::int64_t m : {L / 2 * bits / 64 - 1, L / 2 * bits / 64, L / 2 * bits / 64 + 1,
                                 3 * L / 8 * bits / 64 - 1, 3 * L / 8 * bits / 64, 3 * L / 8 * bits / 64 + 1}) {
      if (m < 1) continue;
      const std::vector<u64> ones(static_cast<std::size_t>(m), ~u64{0});
      std::vector<u64> got(2 * ones.size());
      ASSERT_TRUE(longest.takes(m, m)) << m;
      longest.multiply(got.data(), ones.data(), m, ones.data(), m);
      for (std::size_t i = 0; i < got.size(); ++i) {
        const u64 want = i == 0 ? 1 : i < ones.size() ? 0 : i == ones.size() ? ~u64{1} : ~u64{0};
        ASSERT_EQ(got[i], want) << m << " limbs squared, limb " << i;
      }
    }
  }
  // Wrapped products modulo 2^(64 m) - 1, b's transforms kept for two
  // products in a row; all ones (the largest columns) times all ones is 0.
  for (int round = 0; round < 40; ++round) {
    LimbProducts::Kept kept;
    const std::int64_t n = 1 + static_cast<std::int64_t>(ops.below(round < 30 ? 300 : 3000));
    const std::int64_t m = lp.wrapped_limbs(n);
    ASSERT_GE(m, n);
    std::vector<u64> a(static_cast<std::size_t>(1 + ops.below(n))), b(static_cast<std::size_t>(n));
    for (auto& l : b) l = ops.below(~u64{0}) + ops.below(2);
    for (int again = 0; again < 2; ++again) {
      for (auto& l : a) l = ops.below(~u64{0}) + ops.below(2);
      std::vector<u64> want(static_cast<std::size_t>(m)), got(want.size());
      const std::vector<u64> p = schoolbook(a, b);  // its limb i added at i mod m, carries going round
      u128 c = 0;
      for (std::size_t i = 0; i < p.size() || c != 0; ++i) {
        c += static_cast<u128>(want[i % want.size()]) + (i < p.size() ? p[i] : 0);
        want[i % want.size()] = static_cast<u64>(c);
        c >>= 64;
      }
      lp.multiply_wrapped(got.data(), m, a.data(), std::ssize(a), b.data(), n, &kept);
      const bool allOnes = std::all_of(got.begin(), got.end(), [](u64 l) { return l == ~u64{0}; });
      if (allOnes) std::fill(got.begin(), got.end(), 0);  // 2^(64 m) - 1 is 0
      ASSERT_EQ(got, want) << a.size() << " x " << n << " limbs modulo 2^64^" << m << " - 1, product " << again;
    }
  }
  // 2^2561 - 1 = 8191 b is 2 2^2560 - 1 = 1 modulo 2^2560 - 1 (m = 40): the
  // carry past the top comes in at the bottom and passes the top again.
  {
    ASSERT_EQ(lp.wrapped_limbs(40), 40);
    std::vector<u64> b(41, ~u64{0}), got(40);
    b[40] = 1;
    u128 rest = 0;
    for (std::size_t i = b.size(); i-- > 0;) {
      rest = rest << 64 | b[i];
      b[i] = static_cast<u64>(rest / 8191);
      rest %= 8191;
    }
    ASSERT_TRUE(rest == 0 && b[40] == 0);
    const u64 a = 8191;
    lp.multiply_wrapped(got.data(), 40, &a, 1, b.data(), 40);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i == 0 ? 1 : 0) << "limb " << i;
  }
  for (int k = 6; k <= kLongest; ++k) {
    const std::int64_t m = longest.wrapped_limbs(std::min(40, (96 - k) / 2) * (std::int64_t{1} << k) / 64);
    const std::vector<u64> ones(static_cast<std::size_t>(m), ~u64{0});
    std::vector<u64> got(ones.size());
    longest.multiply_wrapped(got.data(), m, ones.data(), m, ones.data(), m);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], got[0]) << m << " limbs, limb " << i;
    ASSERT_TRUE(got[0] == 0 || got[0] == ~u64{0}) << m << " limbs";
  }
  // Units without vector kernels take none.
  EXPECT_FALSE(LimbProducts(Units{}, 1 << 14).takes(1000, 1000));
}

INSTANTIATE_TEST_SUITE_P(Kernels, VectorTargets, testing::ValuesIn([] {
                           std::vector<std::string> names = units_names();
                           names.erase(names.begin());  // plain
                           return names;
                         }()),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace
