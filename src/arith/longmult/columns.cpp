// Products summed column by column: on the vector units as dot products in
// doubles, else in 128-bit sums.
#include <algorithm>

#include "arith/longmult/products.h"

namespace longmult {

// acc += the columns c >= from of X[bx] * Y[by], column by column.
void add_product_columns(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  constexpr u64 kHalf = 100'000;
  const std::int64_t c0 = bx.lo + by.lo, lo = std::max(from, c0), to = bx.hi + by.hi;
  // The vector kernel's sums of x_j h stay below 2^64 for columns of fewer
  // than 18,000 pairs.
  if (const VectorKernels* v = longmult_units.vector; v != nullptr && std::min(bx.size(), by.size()) < 18'000) {
    thread_local std::vector<double> xr, yh, yl;
    thread_local std::vector<u64> hs, ls;
    xr.resize(static_cast<std::size_t>(bx.size()));
    yh.resize(static_cast<std::size_t>(by.size()));
    yl.resize(yh.size());
    hs.resize(static_cast<std::size_t>(to - lo + 1));
    ls.resize(hs.size());
    for (std::int64_t j = bx.lo; j <= bx.hi; ++j) xr[static_cast<std::size_t>(bx.hi - j)] = static_cast<double>(X[j]);
    for (std::int64_t i = by.lo; i <= by.hi; ++i) {
      yh[static_cast<std::size_t>(i - by.lo)] = static_cast<double>(static_cast<u64>(Y[i]) / kHalf);
      yl[static_cast<std::size_t>(i - by.lo)] = static_cast<double>(static_cast<u64>(Y[i]) % kHalf);
    }
    v->column_sums(xr.data(), bx.size(), yh.data(), yl.data(), by.size(), lo - c0, to - c0, hs.data(), ls.data());
    // The column H 10^5 + L is (floor(H / 10^5) + floor(t / B)) B + t mod B
    // with t = (H mod 10^5) 10^5 + L, below 2^64 for fewer than 18,000 pairs.
    return add_split_columns(acc, lo, to, [&](std::int64_t c, u64& l, u64& b, u64& a) {
      const u64 H = hs[static_cast<std::size_t>(c - lo)], t = H % kHalf * kHalf + ls[static_cast<std::size_t>(c - lo)];
      const u64 q = H / kHalf + t / kB;
      l = t % kB;
      b = q % kB;
      a = q / kB;
    });
  }
  add_columns(acc, from, bx.hi + by.hi, [&](std::int64_t c) {
    const std::int64_t i0 = std::max(by.lo, c - bx.hi);
    const std::int64_t n = std::min(by.hi, c - bx.lo) - i0 + 1;
    const cell_t* x = X + (c - i0);  // x[-t] Y[i0 + t]
    const cell_t* y = Y + i0;
    const auto mul = [&](std::int64_t t) {
      return static_cast<u128>(static_cast<u64>(x[-t])) * static_cast<u64>(y[t]);
    };
    u128 s0 = 0, s1 = 0;  // two sums, so that the additions overlap
    std::int64_t t = 0;
    for (; t + 1 < n; t += 2) {
      s0 += mul(t);
      s1 += mul(t + 1);
    }
    if (t < n) s0 += mul(t);
    return s0 + s1;
  });
}

}  // namespace longmult
