// Products summed column by column in plain integers: 64-bit row sums for
// short spans, 128-bit column sums for the others.
#include <algorithm>

#include "arith/longmult/products.h"

namespace longmult {

// acc += the columns c >= from of X[bx] * Y[by] for short spans (both below
// kSmallSide), row by row in 64-bit sums: with Y_i = h 10^5 + l (h, l < 10^5)
// the column sums H = sum X_j h and L = sum X_j l stay below m 10^15, and a
// column is H 10^5 + L = floor(H / 10^5) B + (H mod 10^5) 10^5 + L.
void add_product_small(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  if (by.size() > bx.size()) {  // rows along the shorter span
    std::swap(X, Y);
    std::swap(bx, by);
  }
  constexpr u64 kHalf = 100'000;
  u64 H[2 * kSmallSide], L[2 * kSmallSide];
  const std::int64_t c0 = bx.lo + by.lo;
  const std::int64_t ncol = bx.size() + by.size() - 1;
  std::fill_n(H, ncol, 0);
  std::fill_n(L, ncol, 0);
  for (std::int64_t i = by.lo; i <= by.hi; ++i) {
    const u64 y = static_cast<u64>(Y[i]);
    const u64 h = y / kHalf, l = y - h * kHalf;
    const std::int64_t row = i - c0;  // X[j] Y[i] goes to column i + j, entry row + j
    for (std::int64_t j = std::max(bx.lo, from - i); j <= bx.hi; ++j) {
      const u64 x = static_cast<u64>(X[j]);
      H[row + j] += x * h;
      L[row + j] += x * l;
    }
  }
  u64 carry = 0;  // below m B + 2
  std::int64_t c = std::max(from, c0);
  for (const std::int64_t to = bx.hi + by.hi; c <= to; ++c) {
    const u64 hq = H[c - c0] / kHalf;
    const u64 t = (H[c - c0] - hq * kHalf) * kHalf + L[c - c0] + acc[c] + carry;
    const u64 q = t / kB;
    acc[c] = t - q * kB;
    carry = q + hq;
  }
  for (; carry != 0; ++c) {
    const u64 t = acc[c] + carry;
    carry = t / kB;
    acc[c] = t - carry * kB;
  }
}

// acc += the columns c >= from of X[bx] * Y[by], column by column.
void add_product_columns(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
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
