// The one place where a product's method is chosen (plan.h).
#include "arith/longmult/plan.h"

#include <algorithm>
#include <bit>

#include "arith/longmult/products.h"

namespace longmult {
namespace {

// What the kernels can take: the primes' roots of unity serve transforms of up to 2^26 entries, the
// bounds of the wide primes hold the column sums of up to 2^20 entries (ntt.h), and the column
// kernel's 64-bit sums those of fewer than 18,000 pairs (columns.cpp). A block pair that is not
// GMP's is shorter than gmp_side a side, or has fewer than gmp_pairs pairs, and then fewer than
// 18,000 cells a side: it has at least side (side - 1) / 2.
constexpr bool within_kernels(const Tuning& t, int max_log) {
  return t.max_log <= max_log && t.gmp_side <= 18'000 && 2 * t.gmp_pairs <= 17'999 * 17'998;
}
static_assert(within_kernels(kPlainTuning, 20) && within_kernels(kVectorTuning, 26));

// The shortest transforms the kernels take: 2^4 entries, and 2^5 for two
// cells to an entry, whose transform splits into halves of 2^4.
constexpr int kLeastLog = 4;

// The log of the length of the transforms of C cells to an entry for a
// product of nx by ny cells: its entry columns must all fit.
int log_length(std::int64_t nx, std::int64_t ny, int C, int least) {
  const std::int64_t n = (nx + C - 1) / C + (ny + C - 1) / C - 1;
  return std::max(least, static_cast<int>(std::bit_width(static_cast<std::uint64_t>(n - 1))));
}

// A product whose low columns are left out (as a series' terms times one factor) in transforms of
// 2^(k-1) entries, not 2^k: X's top cells that fill them with Y (their number, returned; else 0),
// and X's rest by the cells of Y it reaches in 2^(k-2) at most. Y's length is taken up to a
// multiple of 2^(k - band), so that X's top, and its transform, serve a run of such products.
std::int64_t split_of(std::int64_t nx, std::int64_t ny, std::int64_t below, int k, int band) {
  const std::int64_t step = std::int64_t{1} << std::max(0, k - band),
                     top = (std::int64_t{1} << (k - 1)) + 1 - (ny + step - 1) / step * step;
  const std::int64_t rest = nx - top, reached = ny - std::max<std::int64_t>(0, below - rest + 1);
  if (band == 0 || k - 2 < kLeastLog || top <= 0 || rest <= 0) return 0;
  return reached <= 0 || log_length(rest, reached, 1, kLeastLog) <= k - 2 ? top : 0;
}

}  // namespace

const Tuning& tuning(Units units) { return units.vector != nullptr ? kVectorTuning : kPlainTuning; }

Plan plan_product(Units units, std::int64_t nx, std::int64_t ny, std::int64_t below) {
  const Tuning& t = tuning(units);
  const std::int64_t side = std::min(nx, ny);
  below = std::min(below, side);
  const std::int64_t pairs = nx * ny - below * (below + 1) / 2;
  const int k1 = log_length(nx, ny, 1, kLeastLog);
  if (pairs >= t.pairs_per_step * k1 * (std::int64_t{1} << k1)) {
    // Vector units: Y in halves where each needs half the length (5 in place of 3).
    const bool halves = t.halves_entries > 0 && (std::int64_t{1} << k1) >= t.halves_entries &&
                        log_length(nx, (ny + 1) / 2, 1, kLeastLog) < k1;
    const int kv = halves ? k1 - 1 : k1;
    if (units.vector != nullptr && kv <= t.max_log) {
      const std::int64_t split = halves ? 0 : split_of(nx, ny, below, kv, t.split_band);
      // Else three quarters of the length where the entry columns fit, a radix-3 stage first.
      const bool three = t.thirds && !halves && split == 0 && kv - 2 >= kLeastLog && nx + ny - 1 <= 3 << (kv - 2);
      const int kt = split > 0 ? kv - 1 : three ? kv - 2 : kv;
      const bool pair = (std::int64_t{1} << (three ? kv : kt)) >= t.pair_entries;  // three: as the length it saves
      return {Method::transform, 1, kt, three, pair, t.pair_columns, halves, split};
    }
    // In plain C++, or too long for a cell to an entry: the form whose work for each thread is
    // shorter, one and a half transforms of 2^k2 entries or two of 2^k3.
    const int k2 = log_length(nx, ny, 2, kLeastLog + 1), k3 = log_length(nx, ny, 3, kLeastLog);
    const bool three = 4 * k3 * (std::int64_t{1} << k3) < 3 * k2 * (std::int64_t{1} << k2);
    const int k = three ? k3 : k2;
    const Tuning& p = kPlainTuning;
    if (k <= p.max_log)
      return {Method::transform, three ? 3 : 2, k, false, (std::int64_t{1} << k) >= p.pair_entries, p.pair_columns};
    return {Method::gmp};  // too long for every transform
  }
  if (side >= t.gmp_side && pairs >= t.gmp_pairs) return {Method::gmp};
  return {Method::columns};
}

}  // namespace longmult
