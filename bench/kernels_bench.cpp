// Microbenchmarks of the arithmetic kernels ADD, MULT, DIV and LONGMULT on
// registers of 10 to 10^4 cells, fast and reference forms, and of the fast
// LONGMULT of 100 to 30,000 cells and of the transforms behind it on plain
// units and on each vector target of the build that the processor has. Cells (or butterflies) per second
// are reported as items. Also the products of binary numbers of the series
// (arith/limb_products.h) against GMP's, whose times fit the model there.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <random>

#include "arith/arith.h"
#include "arith/limb_products.h"
#include "arith/longmult/ntt.h"
#include "arith/longmult_fast.h"

namespace {

// The units of argument u, an index into units_names(); none where the
// processor lacks them.
std::optional<Units> units_of(const benchmark::State& state) {
  std::string why;
  return units_named(units_names()[static_cast<std::size_t>(state.range(1))], why);
}

// A run whose registers have n cells: two integer cells, n - 2 fraction cells.
void set_cells(std::int64_t n) { set_precision(static_cast<std::int32_t>(10 * (n - 2)), 20); }

// Random cells below the units cell: values in [0, 1), room above them.
void fill(Reg& R, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (std::int64_t i = 0; i < ncells(); ++i) R.cells[i] = 0;
  for (std::int64_t i = 0; i < -decimals; ++i) R.cells[i] = static_cast<cell_t>(rng() % kBase);
  R.top = -1;
}

struct Reference {
  explicit Reference(const benchmark::State& state) { use_reference_kernels = state.range(1) != 0; }
  ~Reference() { use_reference_kernels = false; }
};

void BM_ADD(benchmark::State& state) {
  set_cells(state.range(0));
  Reference ref(state);
  Reg A, B;
  fill(A, 1);
  fill(B, 2);
  int f = +1;
  for (auto _ : state) {
    ADD(B, f, A);  // A + B, then back to A
    f = -f;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// COPY of the operand, then MULT or DIV by m: repeated products would
// overflow, repeated quotients vanish.
template <bool divide>
void BM_SCALAR(benchmark::State& state) {
  set_cells(state.range(0));
  Reference ref(state);
  Reg A, B;
  fill(A, 1);
  const std::int64_t m = state.range(2);
  for (auto _ : state) {
    COPY(A, B);
    if (divide) {
      benchmark::DoNotOptimize(DIV(B, m));
    } else {
      MULT(B, m);
    }
    benchmark::DoNotOptimize(B.cells);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void BM_MULT(benchmark::State& state) { BM_SCALAR<false>(state); }
void BM_DIV(benchmark::State& state) { BM_SCALAR<true>(state); }

void BM_LONGMULT(benchmark::State& state) {
  set_cells(state.range(0));
  Reference ref(state);
  Reg A, B, C;
  fill(A, 1);
  fill(B, 2);
  for (auto _ : state) LONGMULT(A, B, C);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The fast LONGMULT on each of the units (0 plain, then the vector targets
// as units_names() lists them), for their ratios in one run. The first
// factor stays the same, as in a series.
void BM_LONGMULT_units(benchmark::State& state) {
  set_cells(state.range(0));
  const auto units = units_of(state);
  if (!units) return state.SkipWithError("the processor lacks these units");
  const Units saved = longmult_units;
  longmult_units = *units;
  Reg A, B, C;
  fill(A, 1);
  fill(B, 2);
  for (auto _ : state) LONGMULT(A, B, C);
  longmult_units = saved;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A transform, the entries' squares and the inverse of 2^k entries modulo the
// first prime, on each kind of unit the processor has; the butterflies
// (k 2^(k-1) to a transform) per second are reported as items.
void BM_transforms(benchmark::State& state) {
  using namespace longmult::ntt;
  const std::int64_t L = std::int64_t{1} << state.range(0);
  const auto units = units_of(state);
  if (!units) return state.SkipWithError("the processor lacks these units");
  const Prime& P = kPrimes[0];
  const Tables& T = tables_for(0, P, L, units->vector != nullptr);
  Array<longmult::u64> a(static_cast<std::size_t>(L));
  std::mt19937_64 rng(1);
  for (auto& x : a) x = rng() % P.p;
  for (auto _ : state) {
    if (const longmult::VectorKernels* v = units->vector) {
      v->transform(a.data(), a.data(), L, P, T.fwd.data(), L, 1);
      v->inverse_transform(a.data(), a.data(), 1, L, P, T.ivd.data());
    } else {
      transform_scalar(a.data(), L, P, T);
      multiply_entries_scalar(a.data(), a.data(), L, P, 1);
      inverse_transform_scalar(a.data(), L, P, T);
    }
    benchmark::DoNotOptimize(a.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * L);
}

// n by n / r limbs: by GMP's mpz_mul for units 0 (plain), else by the
// transforms on those units.
void BM_limb_products(benchmark::State& state) {
  const std::int64_t n = state.range(0), m = std::max<std::int64_t>(1, n / state.range(1));
  std::string why;
  const auto units = units_named(units_names()[static_cast<std::size_t>(state.range(2))], why);
  if (!units) return state.SkipWithError("the processor lacks these units");
  gmp_randstate_t rs;
  gmp_randinit_default(rs);
  mpz_t a, b, r;
  mpz_inits(a, b, r, nullptr);
  mpz_urandomb(a, rs, static_cast<mp_bitcnt_t>(64 * n));
  mpz_urandomb(b, rs, static_cast<mp_bitcnt_t>(64 * m));
  const auto na = static_cast<std::int64_t>(mpz_size(a)), nb = static_cast<std::int64_t>(mpz_size(b));
  std::vector<std::uint64_t> out(static_cast<std::size_t>(na + nb));
  limb_products_forced_from = 1;  // the transforms whatever the model says
  LimbProducts lp(*units, na + nb);
  for (auto _ : state) {
    if (units->vector == nullptr) {
      mpz_mul(r, a, b);
    } else {
      lp.multiply(out.data(), reinterpret_cast<const std::uint64_t*>(mpz_limbs_read(a)), na,
                  reinterpret_cast<const std::uint64_t*>(mpz_limbs_read(b)), nb);
    }
    benchmark::DoNotOptimize(out.data());
  }
  limb_products_forced_from = 0;
  mpz_clears(a, b, r, nullptr);
  gmp_randclear(rs);
}

// Arguments: cells, reference (0 or 1)[, factor or divisor].
void Sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t ref : {0, 1})
    for (std::int64_t n : {10, 100, 1000, 10000}) b->Args({n, ref});
}
void ScalarSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t m : {std::int64_t{7}, std::int64_t{123456789012}})
    for (std::int64_t ref : {0, 1})
      for (std::int64_t n : {10, 100, 1000, 10000}) b->Args({n, ref, m});
}
void LongSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t ref : {0, 1})
    for (std::int64_t n : {10, 100, 1000, 10000})
      if (ref == 0 || n <= 1000) b->Args({n, ref});  // the reference takes seconds at 10^4
}

void UnitSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t n : {100, 300, 1000, 3000, 10000, 30000})
    for (std::size_t u = 0; u < units_names().size(); ++u) b->Args({n, static_cast<std::int64_t>(u)});
}

void LimbSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t r : {1, 8})
    for (std::int64_t n : {300, 700, 1900, 2000, 3800, 4000, 10000, 40000, 160000})  // 1,900 and 3,800: 3 * 2^k entries
      for (std::size_t u = 0; u < units_names().size(); ++u) b->Args({n, r, static_cast<std::int64_t>(u)});
}

void TransformSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t k : {10, 13, 15, 17, 19, 21})
    for (std::size_t u = 0; u < units_names().size(); ++u) b->Args({k, static_cast<std::int64_t>(u)});
}

}  // namespace

BENCHMARK(BM_ADD)->Apply(Sizes)->ArgNames({"cells", "ref"});
BENCHMARK(BM_MULT)->Apply(ScalarSizes)->ArgNames({"cells", "ref", "m"});
BENCHMARK(BM_DIV)->Apply(ScalarSizes)->ArgNames({"cells", "ref", "m"});
BENCHMARK(BM_LONGMULT)->Apply(LongSizes)->ArgNames({"cells", "ref"})->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_LONGMULT_units)->Apply(UnitSizes)->ArgNames({"cells", "units"})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_transforms)->Apply(TransformSizes)->ArgNames({"log2_entries", "units"});
BENCHMARK(BM_limb_products)->Apply(LimbSizes)->ArgNames({"limbs", "ratio", "units"})->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
