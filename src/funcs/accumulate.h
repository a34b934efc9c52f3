// Sums held cell by cell: a register whose cells are signed 64-bit running
// sums, not yet carried, is brought to normal form once at the end; and the
// choice of long-division steps for the fused series kernels. Internal to the
// functions.
#pragma once

#include <cassert>

#include "../arith/arith.h"
#include "../arith/divisor.h"

// R's cells, read as sum of cells[i] * kBase^i with cells of any sign, become
// the normal cells of that value, which must be non-negative and fit below
// `limit` (the callers' sums do).
inline void carry_cells(Reg& R) {
  cell_t carry = 0;
  for (std::int64_t i = 0; i < ncells(); ++i) {
    cell_t v = R.cells[i] + carry;
    carry = v / kBase;
    v -= carry * kBase;
    if (v < 0) {
      v += kBase;
      --carry;
    }
    R.cells[i] = v;
  }
  assert(carry == 0);
}

// The top that ADD leaves in a register with these cells: `limit` when the cell
// at `limit` is nonzero or the register has one cell at most, otherwise the
// highest nonzero cell, and decimals when no cell above the lowest is nonzero.
inline void set_top_as_add(Reg& R) {
  if (decimals >= limit || R.cells[c39] != 0) {
    R.top = limit;
    return;
  }
  R.top = decimals;
  for (std::int64_t i = c39 - 1; i >= 1; --i) {
    if (R.cells[i] != 0) {
      R.top = static_cast<std::int32_t>(i + decimals);
      return;
    }
  }
}

// The highest nonzero cell at or below array position `from`, as DIV leaves
// top: decimals when there is none. Returns whether there is none.
inline bool lower_top(Reg& R, std::int64_t from) {
  for (std::int64_t i = from; i >= 0; --i) {
    if (R.cells[i] != 0) {
      R.top = static_cast<std::int32_t>(i + decimals);
      return false;
    }
  }
  R.top = decimals;
  return true;
}

// Calls fn(steps) with steps[j] dividing by d0 + j * stride for j < J, where
// every dividend stays below (d + extra) * kBase: ShortSteps while that is
// below 2^63, WideSteps beyond.
template <int J, class Fn>
void with_steps(u64 d0, u64 stride, u64 extra, Fn fn) {
  if (d0 + (J - 1) * stride + extra <= kShortDivisorMax) {
    ShortStep steps[J];
    for (int j = 0; j < J; ++j) steps[j] = ShortStep(d0 + j * stride);
    fn(steps);
  } else {
    WideStep steps[J];
    for (int j = 0; j < J; ++j) steps[j] = WideStep(d0 + j * stride);
    fn(steps);
  }
}

// Running sums of up to kSumTerms terms of cells below 4 kBase stay far below
// 2^63; a longer series carries its sums in between.
inline constexpr std::int64_t kSumTerms = std::int64_t{1} << 26;
