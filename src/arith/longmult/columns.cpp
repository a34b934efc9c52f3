// Products summed column by column in 128-bit sums.
#include <algorithm>

#include "arith/longmult/products.h"

namespace longmult {

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
