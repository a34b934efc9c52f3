// Products summed column by column in 64-bit integers: with each cell of Y split as y_i = h 10^5 +
// l (h, l < 10^5), a product x_j h or x_j l is below 10^15, and the sums H of x_j h and L of x_j l
// over the pairs of a column stay below 2^64 for columns of fewer than 18,000 pairs, as the plan
// keeps them (plan.cpp). On the vector units the blocks of 16 cells a side or more go as dot
// products in doubles (simd.cpp), the others row by row.
#include <algorithm>

#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"

namespace longmult {
namespace {

constexpr u64 kHalf = 100'000;
constexpr std::int64_t kRows = 1 << 13;  // a longer side goes in blocks: its scratch is that short

thread_local std::vector<double> xr, yh, yl;
thread_local std::vector<u64> hs, ls;

}  // namespace

void add_product_columns(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  if (by.size() > bx.size()) std::swap(X, Y), std::swap(bx, by);  // rows along the longer span
  // One cell y with x y below 2^64 for every cell x: b B + l, carried as a column's parts; on the
  // vector units each thread's parts go a chunk at a time into arrays on its stack, and settle a
  // vector at a time.
  if (const u64 y = static_cast<u64>(Y[by.lo]); by.size() == 1 && y <= kShortFactorMax) {
    const std::int64_t lo = std::max(from, bx.lo + by.lo), to = bx.hi + by.hi;
    const auto split = [&](std::int64_t c, u64& l, u64& b, u64& a) {
      l = X[c - by.lo] * y, b = l / kB, l -= b * kB, a = 0;
    };
    const VectorKernels* v = longmult_units.vector;
    return add_split_columns(
        acc, lo, to, to - lo >= tuning(longmult_units).pair_columns, split, [](std::int64_t, std::int64_t) {},
        [&](std::int64_t c, std::int64_t last, Carry& r) {
          if (v == nullptr) return c;
          constexpr std::int64_t kChunk = 256;
          u64 l[kChunk], b[kChunk], a = 0;
          for (std::int64_t k = c; k <= last; k += kChunk) {
            const std::int64_t n = std::min(kChunk, last - k + 1);
            for (std::int64_t i = 0; i < n; ++i) split(k + i, l[i], b[i], a);
            v->settle_columns(&acc[k], l, b, n, r.data());
          }
          return last + 1;
        });
  }
  for (; bx.size() > kRows; bx.lo += kRows) add_product_columns(acc, X, {bx.lo, bx.lo + kRows - 1}, Y, by, from);
  const std::int64_t nx = bx.size(), ny = by.size(), c0 = bx.lo + by.lo;
  const std::int64_t lo = std::max(from, c0), to = bx.hi + by.hi;
  u64 *H = sized(hs, to - lo + 1), *L = sized(ls, to - lo + 1);
  if (const VectorKernels* v = longmult_units.vector; v != nullptr && ny >= 16) {
    double *x = sized(xr, nx), *h = sized(yh, ny), *l = sized(yl, ny);
    for (std::int64_t j = 0; j < nx; ++j) x[nx - 1 - j] = static_cast<double>(X[bx.lo + j]);
    for (std::int64_t i = 0; i < ny; ++i) {
      h[i] = static_cast<double>(static_cast<u64>(Y[by.lo + i]) / kHalf);
      l[i] = static_cast<double>(static_cast<u64>(Y[by.lo + i]) % kHalf);
    }
    v->column_sums(x, nx, h, l, ny, lo - c0, to - c0, H, L);
  } else {
    std::fill_n(H, to - lo + 1, u64{0}), std::fill_n(L, to - lo + 1, u64{0});
    for (std::int64_t i = by.lo; i <= by.hi; ++i) {
      const u64 y = static_cast<u64>(Y[i]), h = y / kHalf, l = y % kHalf;
      for (std::int64_t j = std::max(bx.lo, lo - i); j <= bx.hi; ++j) {
        H[i + j - lo] += static_cast<u64>(X[j]) * h;
        L[i + j - lo] += static_cast<u64>(X[j]) * l;
      }
    }
  }
  // The column H 10^5 + L is floor(H / 10^5) B + t with t = (H mod 10^5) 10^5 + L; t with the cell
  // and the carry stays below 2^64 for fewer than 18,000 pairs, and the carry below 2^48.
  u64 carry = 0;
  std::int64_t c = lo;
  for (; c <= to; ++c) {
    const u64 hq = H[c - lo] / kHalf, t = (H[c - lo] - hq * kHalf) * kHalf + L[c - lo] + acc[c] + carry;
    acc[c] = t % kB, carry = t / kB + hq;
  }
  for (; carry != 0; ++c) acc[c] += carry, carry = acc[c] / kB, acc[c] %= kB;
}

}  // namespace longmult
