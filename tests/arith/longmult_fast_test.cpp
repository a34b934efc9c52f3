// The fast LONGMULT against the schoolbook reference: the same cells, top,
// alarm message and status on random operands biased toward the hard cases
// (cells of 0 and 10^10 - 1, repeating cells as in 1/3 and 1/7, carries that
// run through many cells, tops at limit and below decimals, one-cell registers,
// squaring). The seed is printed with every failure; FIXCALC_TEST_SEED=<n>
// replays a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

#include "arith/longmult/fast.h"
#include "support.h"

namespace {

std::uint64_t test_seed() {
  const char* s = std::getenv("FIXCALC_TEST_SEED");
  const std::uint64_t seed = s != nullptr ? std::strtoull(s, nullptr, 10) : 20'240'611;
  std::printf("seed %llu (FIXCALC_TEST_SEED=%llu replays it)\n", static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(seed));
  return seed;
}

// Cells highest first from the top, with the top, for failure messages.
std::string describe(const Reg& R) {
  std::ostringstream o;
  o << "top " << R.top << ", cells from " << std::min<std::int64_t>(R.top, limit) << " down:";
  for (std::int64_t i = std::min<std::int64_t>(std::int64_t{R.top} - decimals, c39); i >= 0; --i)
    o << ' ' << R.cells[i];
  return o.str();
}

struct Outcome {
  std::string out;
  int status = -1;
  std::vector<cell_t> cells;
  std::int32_t top = 0;
  bool operator==(const Outcome&) const = default;
};

std::string describe(const Outcome& o) {
  std::ostringstream s;
  s << "output \"" << o.out << "\" status " << o.status << " top " << o.top << " cells (high first):";
  for (cell_t c : o.cells) s << ' ' << c;
  return s.str();
}

// Z := X * Y by the reference or through the dispatcher, from a Z holding
// stale cells. The cells are compared only when no alarm ended the product.
Outcome multiply(bool reference, const Reg& X, const Reg& Y, Reg& Z, std::mt19937_64& rng) {
  for (std::int64_t i = 0; i < ncells(); ++i) Z.cells[i] = static_cast<cell_t>(rng() % kBase);
  Z.top = limit;
  use_reference_kernels = false;
  Outcome o;
  o.out = capture(
      [&] {
        if (reference)
          LONGMULT_reference(X, Y, Z);
        else
          LONGMULT(X, Y, Z);
      },
      &o.status);
  if (o.status == -1) {
    o.cells = cells_of(Z);
    o.top = Z.top;
  }
  return o;
}

// Fills R's cells at positions lo .. hi from a mix of patterns, then picks a
// top: usually the highest nonzero cell, sometimes above it (a top naming a
// zero cell) and sometimes below decimals (a zero register).
class Operands {
 public:
  explicit Operands(std::mt19937_64& rng) : rng_(rng) {}

  void fill(Reg& R, std::int64_t lo, std::int64_t hi) {
    for (std::int64_t i = 0; i < ncells(); ++i) R.cells[i] = 0;
    std::int64_t p = lo;
    while (p <= hi) {
      std::int64_t run = 1 + static_cast<std::int64_t>(pick(hi - p + 1));
      if (pick(3) == 0) run = hi - p + 1;
      fill_run(R, p, std::min(hi, p + run - 1));
      p += run;
    }
    std::int64_t h = hi;
    while (h >= 0 && R.cells[h] == 0) --h;
    R.top = static_cast<std::int32_t>(std::max<std::int64_t>(h, 0) + decimals);
    if (pick(8) == 0 && R.top < limit) R.top += 1 + static_cast<std::int32_t>(pick(limit - R.top));
    if (h < 0 && pick(2) == 0) R.top = decimals - 1 - static_cast<std::int32_t>(pick(3));
    if (h < 0 && limit < 0 && pick(2) == 0) R.top = 0;  // zero loaded by ASSIGN, above limit
  }

  std::uint64_t pick(std::int64_t n) { return n <= 0 ? 0 : rng_() % static_cast<std::uint64_t>(n); }

 private:
  void fill_run(Reg& R, std::int64_t a, std::int64_t b) {
    static const cell_t sevenths[] = {1'428'571'428, 5'714'285'714, 2'857'142'857};
    const cell_t one = static_cast<cell_t>(1 + pick(kBase - 1));
    switch (pick(15)) {
      case 0:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = 0;
        break;
      case 1:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = kBase - 1;
        break;
      case 2:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = 3'333'333'333;
        break;
      case 3:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = sevenths[(b - i) % 3];
        break;
      case 4:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = 6'666'666'666;
        break;
      case 5:  // one cell value repeated
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = one;
        break;
      case 6:  // sparse
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = pick(6) == 0 ? static_cast<cell_t>(pick(kBase)) : 0;
        break;
      case 7:  // small cells
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = static_cast<cell_t>(pick(4));
        break;
      case 8:  // near the edges of a cell
        for (std::int64_t i = a; i <= b; ++i)
          R.cells[i] = pick(2) == 0 ? static_cast<cell_t>(pick(3)) : kBase - 1 - static_cast<cell_t>(pick(3));
        break;
      case 9:  // the round cells of short decimal fractions (0.5, 0.25, 0.2, ...)
        for (std::int64_t i = a; i <= b; ++i) {
          static const cell_t round[] = {5'000'000'000, 2'500'000'000, 2'000'000'000, 7'500'000'000, 1'000'000'000};
          R.cells[i] = pick(2) == 0 ? round[pick(5)] : static_cast<cell_t>(1 + pick(9));
        }
        break;
      case 10:  // 1/11, 2/11, ...
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = (b - i) % 2 == 0 ? 909'090'909 : 9'090'909'090;
        break;
      case 11:  // distinct multiples of 3, as in the cells of a second factor against 1/3
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = 3 * static_cast<cell_t>(pick(kBase / 3));
        break;
      case 12: {  // the base-10^10 digits of t/u, u < 10^10: what a correction walk follows
        const std::uint64_t u = 2 + pick(pick(2) == 0 ? 100 : kBase - 2);
        unsigned __int128 t = 1 + pick(static_cast<std::int64_t>(u) - 1);
        for (std::int64_t i = b; i >= a; --i) {
          t *= static_cast<std::uint64_t>(kBase);
          R.cells[i] = static_cast<cell_t>(t / u);
          t %= u;
        }
        break;
      }
      default:
        for (std::int64_t i = a; i <= b; ++i) R.cells[i] = static_cast<cell_t>(pick(kBase));
        break;
    }
  }

  std::mt19937_64& rng_;
};

// Z := X * Y by the fast kernel alone: in a run with cells it settles every
// product or raises its alarm itself, and the walks of its correction visit
// at most about three cells per cell of the operands.
std::optional<Outcome> multiply_fast(const Reg& X, const Reg& Y, Reg& Z) {
  const auto declines = longmult_declines;
  const std::uint64_t walked = longmult_walk_cells;
  Outcome o;
  bool settled = false;
  o.out = capture([&] { settled = LONGMULT_fast(X, Y, Z); }, &o.status);
  EXPECT_LE(longmult_walk_cells - walked, static_cast<std::uint64_t>(3 * ncells() + 6));
  EXPECT_EQ(longmult_declines, declines) << "decimals " << decimals << " limit " << limit << "\n  X: " << describe(X)
                                         << "\n  Y: " << describe(Y);
  if (!settled && o.status == -1) return std::nullopt;
  if (o.status == -1) {
    o.cells = cells_of(Z);
    o.top = Z.top;
  }
  return o;
}

// One random product: precision, operands and their shapes. Returns false
// after reporting a mismatch.
bool compare_once(std::mt19937_64& rng, std::int64_t maxCells, std::uint64_t seed, int round) {
  Operands gen(rng);
  const int fracCells = static_cast<int>(gen.pick(maxCells + 1));
  const int D = fracCells == 0 ? 0 : 10 * fracCells - static_cast<int>(gen.pick(10));
  int E = 0;
  switch (gen.pick(6)) {
    case 0: E = 1 + static_cast<int>(gen.pick(10)); break;  // limit 0
    case 1: E = -9 - static_cast<int>(gen.pick(20)); break;  // limit below 0
    default: E = 1 + static_cast<int>(gen.pick(10 * (maxCells + 2))); break;
  }
  set_run(D, E);
  auto X = std::make_unique<Reg>();
  auto Y = std::make_unique<Reg>();
  Reg Z;
  const std::int64_t N = ncells();
  const bool square = gen.pick(6) == 0;
  auto shape = [&](Reg& R) {
    if (N == 0) return;
    std::int64_t hi = static_cast<std::int64_t>(gen.pick(N));
    if (gen.pick(4) == 0) hi = N - 1;  // top at limit
    std::int64_t lo = gen.pick(3) == 0 ? static_cast<std::int64_t>(gen.pick(hi + 1)) : 0;
    gen.fill(R, lo, hi);
  };
  shape(*X);
  if (!square) shape(*Y);
  const Reg& y = square ? *X : *Y;
  const Outcome want = multiply(true, *X, y, Z, rng);
  Outcome got = multiply(false, *X, y, Z, rng);
  if (want == got && N > 0)
    if (std::optional<Outcome> fast = multiply_fast(*X, y, Z)) got = *fast;
  if (want == got) return true;
  ADD_FAILURE() << "seed " << seed << " round " << round << ": D " << D << " E " << E
                << (square ? " (X = Y)" : "") << "\n  X: " << describe(*X) << "\n  Y: " << describe(y)
                << "\n  want: " << describe(want) << "\n  got:  " << describe(got);
  return false;
}

TEST(LongMultFast, MatchesReferenceOnSmallRegisters) {
  const std::uint64_t seed = test_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 40'000; ++round)
    if (!compare_once(rng, 4, seed, round)) return;
}

// The products of more than a few cells run once with each of the vector
// units the processor has (AVX-512 IFMA, AVX2) and once without, so that all
// ways of multiplying meet the reference.
class LongMultFastPaths : public testing::TestWithParam<Units> {
 protected:
  void SetUp() override {
    if (cpu_units() < GetParam()) GTEST_SKIP() << "the processor (or this build) lacks these vector units";
    longmult_units = GetParam();
  }
  void TearDown() override { longmult_units = Units::ifma; }
};

INSTANTIATE_TEST_SUITE_P(Units, LongMultFastPaths, testing::Values(Units::ifma, Units::avx2, Units::plain),
                         [](const testing::TestParamInfo<Units>& i) {
                           return i.param == Units::ifma ? "ifma" : i.param == Units::avx2 ? "avx2" : "scalar";
                         });

TEST_P(LongMultFastPaths, MatchesReferenceOnRegistersOfManyCells) {
  const std::uint64_t seed = test_seed() + 1;
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 2'000; ++round)
    if (!compare_once(rng, 40, seed, round)) return;
  for (int round = 0; round < 60; ++round)
    if (!compare_once(rng, 400, seed, 2'000 + round)) return;
}

// Integers at D = 0 as the isomer table multiplies them, and one-cell runs.
TEST(LongMultFast, MatchesReferenceOnIntegers) {
  const std::uint64_t seed = test_seed() + 2;
  std::mt19937_64 rng(seed);
  Operands gen(rng);
  for (int round = 0; round < 20'000; ++round) {
    const int E = 1 + static_cast<int>(gen.pick(round % 2 == 0 ? 10 : 300));
    set_run(0, E);
    Reg X, Y, Z;
    gen.fill(X, 0, static_cast<std::int64_t>(gen.pick(ncells())));
    gen.fill(Y, 0, static_cast<std::int64_t>(gen.pick(ncells())));
    const Outcome want = multiply(true, X, Y, Z, rng);
    const Outcome got = multiply(false, X, Y, Z, rng);
    ASSERT_EQ(want, got) << "seed " << seed << " round " << round << ": E " << E << "\n  X: " << describe(X)
                         << "\n  Y: " << describe(Y) << "\n  want: " << describe(want)
                         << "\n  got:  " << describe(got);
  }
}

// Long operands of random cells with a few edge cells sprinkled in: the GMP
// product at several field widths, squaring, blocks split at long runs of
// zeros, and products whose low columns are left out, and the same shapes
// with patterned cells. The fast kernel must settle them itself.
TEST_P(LongMultFastPaths, MatchesReferenceOnLongShapes) {
  const std::uint64_t seed = test_seed() + 3;
  std::mt19937_64 rng(seed);
  Operands gen(rng);
  auto random_cells = [&](Reg& R, std::int64_t lo, std::int64_t hi) {
    for (std::int64_t i = 0; i < ncells(); ++i) R.cells[i] = 0;
    for (std::int64_t i = lo; i <= hi; ++i) {
      const std::uint64_t r = rng();
      R.cells[i] = r % 64 == 0 ? kBase - 1 : r % 64 == 1 ? 0 : static_cast<cell_t>(r % kBase);
    }
    R.cells[hi] = 1 + static_cast<cell_t>(rng() % (kBase - 1));
    R.top = static_cast<std::int32_t>(hi + decimals);
  };
  struct Shape { std::int64_t xlo, xhi, ylo, yhi; };
  for (int D : {600, 1'300, 2'700, 6'500, 12'000}) {
    set_run(D, 40);
    const std::int64_t d = -decimals;
    for (Shape s : {Shape{0, d + 1, 0, d + 1},        // both full
                    Shape{0, d + 2, 0, d / 3},        // a short fraction times a long number
                    Shape{0, d / 2, 0, d + 2},        // and the other way round
                    Shape{0, d + 1, d - d / 4, d},    // a long number times a short one
                    Shape{d - 5, d + 2, 0, d},        // few cells times many
                    Shape{0, d, 0, d},                // squaring (below)
                    Shape{d / 2, d + 1, d / 3, d + 1}}) {
      Reg X, Y, Z;
      const bool square = s.xlo == 0 && s.xhi == d;
      for (int variant = 0; variant < 5; ++variant) {
        if (variant == 2) {  // patterned cells
          gen.fill(X, s.xlo, s.xhi);
          gen.fill(Y, s.ylo, s.yhi);
        } else {
          random_cells(X, s.xlo, s.xhi);
          random_cells(Y, s.ylo, s.yhi);
        }
        if (variant == 1 && square) {  // a run of zeros: X split in two, squared block by block
          for (std::int64_t i = d / 2 - d / 8; i <= d / 2 + d / 8; ++i) X.cells[i] = 0;
        } else if (variant == 1) {  // Y = 1 + a few low cells: split at the run of zeros
          for (std::int64_t i = s.ylo + 20; i <= s.yhi; ++i) Y.cells[i] = 0;
          Y.cells[d] = 1;
          Y.top = decimals + static_cast<std::int32_t>(d);
        }
        if (variant >= 3) {  // Y = 0.99999... with a few other low cells, or all nines
          const std::int64_t top = std::min(s.yhi, d - 1);
          for (std::int64_t i = variant == 3 ? s.ylo + 20 : s.ylo; i <= top; ++i) Y.cells[i] = kBase - 1;
          for (std::int64_t i = top + 1; i <= s.yhi; ++i) Y.cells[i] = 0;
          Y.top = decimals + static_cast<std::int32_t>(top);
        }
        const Reg& y = square ? X : Y;
        const std::string where = "seed " + std::to_string(seed) + " D " + std::to_string(D) + " shape " +
                                  std::to_string(s.xlo) + ".." + std::to_string(s.xhi) + " x " +
                                  std::to_string(s.ylo) + ".." + std::to_string(s.yhi) + " variant " +
                                  std::to_string(variant);
        const Outcome want = multiply(true, X, y, Z, rng);
        std::optional<Outcome> got = multiply_fast(X, y, Z);
        ASSERT_TRUE(got.has_value()) << where;
        EXPECT_EQ(want, *got) << where;
      }
    }
  }
}

// Factors of four thousand cells: transforms of 16384 entries, or GMP.
TEST_P(LongMultFastPaths, MatchesReferenceOnLongFactors) {
  const std::uint64_t seed = test_seed() + 5;
  std::mt19937_64 rng(seed);
  set_run(42'000, 20);
  Reg X, Y, Z;
  for (Reg* R : {&X, &Y}) {
    for (std::int64_t i = 0; i < ncells(); ++i) R->cells[i] = i < -decimals ? static_cast<cell_t>(rng() % kBase) : 0;
    R->cells[-decimals] = 1;
    R->top = 0;
  }
  const Outcome want = multiply(true, X, Y, Z, rng);
  std::optional<Outcome> got = multiply_fast(X, Y, Z);
  ASSERT_TRUE(got.has_value()) << "seed " << seed;
  EXPECT_EQ(want, *got) << "seed " << seed;
}

// The terms of a series as EXP forms them: one long X times Y's whose lengths
// straddle each change of method (column sums, GMP, the transforms) and each
// doubling of the transform's length. Each product runs three times, the last
// after a change of one cell of X among those that reach the result, so that
// a transform of X kept from before must be seen to be stale.
TEST_P(LongMultFastPaths, SeriesTermsTimesOneFactor) {
  const std::uint64_t seed = test_seed() + 7;
  std::mt19937_64 rng(seed);
  set_run(12'000, 20);
  const std::int64_t d = -decimals;
  Reg X, Y, Z;
  // Random cells, then cells of 10^10 - 1, whose columns come closest to
  // the bound that sizes the fields and the primes.
  for (bool nines : {false, true}) {
    const auto cell = [&] { return nines ? kBase - 1 : static_cast<cell_t>(rng() % kBase); };
    for (std::int64_t i = 0; i < ncells(); ++i) X.cells[i] = i < d ? cell() : 0;
    X.cells[d] = 40;
    X.top = 0;
    for (std::int64_t t : {200, 346, 347, 445, 446, 630, 640, 1022, 1023, 1024, 1150}) {
      for (std::int64_t i = 0; i < ncells(); ++i) Y.cells[i] = i < t ? cell() : 0;
      Y.cells[t - 1] = nines ? kBase - 2 : 1 + static_cast<cell_t>(rng() % (kBase - 1));  // not 0.999...
      Y.top = static_cast<std::int32_t>(decimals + t - 1);
      for (int round = 0; round < 3; ++round) {
        if (round == 2) X.cells[d - 1 - static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(t))] ^= 1;
        const Outcome want = multiply(true, X, Y, Z, rng);
        std::optional<Outcome> got = multiply_fast(X, Y, Z);
        ASSERT_TRUE(got.has_value()) << "seed " << seed << " length " << t;
        EXPECT_EQ(want, *got) << "seed " << seed << " length " << t << " round " << round << " nines " << nines;
      }
    }
  }
}

// A long integer with a run of zeros squared: the blocks on either side of the
// run, and each block against the other, are products of their own.
TEST_P(LongMultFastPaths, SquaresAcrossARunOfZeros) {
  const std::uint64_t seed = test_seed() + 6;
  std::mt19937_64 rng(seed);
  set_run(0, 24'100);
  Reg X, Z;
  for (std::int64_t i = 0; i < ncells(); ++i)
    X.cells[i] = i <= 1200 && (i < 450 || i > 750) ? static_cast<cell_t>(1 + rng() % (kBase - 1)) : 0;
  X.top = 1200;
  const Outcome want = multiply(true, X, X, Z, rng);
  std::optional<Outcome> got = multiply_fast(X, X, Z);
  ASSERT_TRUE(got.has_value()) << "seed " << seed;
  EXPECT_EQ(want, *got) << "seed " << seed;
}

// The fast kernel itself settles ordinary products (random cells, room to
// spare) rather than handing them to the reference.
TEST_P(LongMultFastPaths, SettlesOrdinaryProductsItself) {
  const std::uint64_t seed = test_seed() + 4;
  std::mt19937_64 rng(seed);
  for (int D : {0, 10, 200, 3000}) {
    set_run(D, 60);
    Reg X, Y, Z, W;
    const std::int64_t N = ncells();
    for (int round = 0; round < 20; ++round) {
      for (Reg* R : {&X, &Y}) {
        for (std::int64_t i = 0; i < N; ++i) R->cells[i] = i < N - 3 ? static_cast<cell_t>(rng() % kBase) : 0;
        R->top = limit - 3;
      }
      ASSERT_TRUE(LONGMULT_fast(X, Y, Z)) << "seed " << seed << " D " << D;
      LONGMULT_reference(X, Y, W);
      ASSERT_EQ(cells_of(Z), cells_of(W)) << "seed " << seed << " D " << D;
      ASSERT_EQ(Z.top, W.top);
    }
  }
}

// The reference allocates one scratch register before anything else: with no
// room left for it both raise ALARM("ALLOC").
TEST(LongMultFast, NoRoomForTheScratchRegister) {
  set_run(20, 20);
  Reg A, B, C;
  ASSIGN(A, 2.5);
  ASSIGN(B, 4);
  const std::int64_t saved = register_budget();
  set_register_budget(register_bytes_in_use() + ncells() * static_cast<std::int64_t>(sizeof(cell_t)) - 1);
  for (bool reference : {true, false}) {
    use_reference_kernels = reference;
    int status = 0;
    EXPECT_EQ(capture([&] { LONGMULT(A, B, C); }, &status), "\nError in: ALLOC") << reference;
    EXPECT_EQ(status, 255);
  }
  use_reference_kernels = false;
  set_register_budget(saved);
  LONGMULT(A, B, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{0, 10, 0, 0}));
}

}  // namespace
