// ADD: dst := dst + f * src for f = +1 or -1, and the recomputation of dst's top.
#include <algorithm>

#include "arith/arith.h"

namespace {

// The walk runs from the lowest cell up; past the source's top it goes on only
// while a carry or borrow is left. A carry out of the cell at `limit` is an
// overflow for f = +1 and a negative result for f = -1: both ALARM("ADD").
// Returns the highest absolute index written.
std::int64_t add_walk(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  cell_t carry = 0;
  std::int64_t n = decimals;
  for (; n <= limit; ++n) {
    std::int64_t i = n - decimals;
    cell_t t = f * src[i] + dst.cells[i] + carry;
    carry = 0;
    if (t < 0) {
      cell_t k = (-t + kBase - 1) / kBase;
      t += k * kBase;
      carry = -k;
    }
    dst.cells[i] = t % kBase;
    carry += t / kBase;
    if (n >= srcTop && carry == 0) break;
  }
  if (carry != 0) ALARM("ADD");
  return std::min<std::int64_t>(n, limit);
}

// add_walk for cells in [0, kBase), as every kernel leaves them: the carry or
// borrow is then 0 or 1, taken without a division or a branch (the carries of
// random cells would defeat branch prediction).
std::int64_t add_walk_cells(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  cell_t* d = dst.cells;
  const std::int64_t top = std::int64_t{srcTop} - decimals;
  const std::int64_t L = c39;
  cell_t carry = 0;
  std::int64_t i = 0;
  if (f > 0) {
    for (; i <= L; ++i) {
      const cell_t t = d[i] + src[i] + carry;
      carry = static_cast<cell_t>(t >= kBase);
      d[i] = t - (-carry & kBase);
      if (i >= top && carry == 0) break;
    }
  } else {
    for (; i <= L; ++i) {
      const cell_t t = d[i] - src[i] - carry;
      carry = static_cast<cell_t>(static_cast<std::uint64_t>(t) >> 63);
      d[i] = t + (-carry & kBase);
      if (i >= top && carry == 0) break;
    }
  }
  if (carry != 0) ALARM("ADD");
  return std::min(i, L) + decimals;
}

// The highest index from `from` down to decimals + 1 whose cell is nonzero, or
// decimals when there is none.
std::int32_t top_below(const Reg& R, std::int64_t from) {
  for (std::int64_t i = from - decimals; i >= 1; --i)
    if (R.cells[i] != 0) return static_cast<std::int32_t>(i + decimals);
  return decimals;
}

}  // namespace

// Top: `limit` when the cell at `limit` is nonzero or the register has one
// cell at most; otherwise the highest nonzero cell below `limit`, and decimals
// when no cell above the lowest is nonzero. Cells above both dst's former top
// and the walk are zero, so the fast scan starts at the higher of the two.
void ADD(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  const std::int32_t oldTop = dst.top;
  const std::int64_t reached =
      use_reference_kernels ? add_walk(src, srcTop, f, dst) : add_walk_cells(src, srcTop, f, dst);
  if (decimals >= limit || dst.cells[c39] != 0) {
    dst.top = limit;
  } else if (use_reference_kernels) {
    dst.top = top_below(dst, std::int64_t{limit} - 1);
  } else {
    dst.top = top_below(
        dst, std::clamp<std::int64_t>(std::max<std::int64_t>(oldTop, reached), decimals, std::int64_t{limit} - 1));
  }
}
