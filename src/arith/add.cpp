// ADD: dst := dst + f * src for f = +1 or -1, and the recomputation of dst's top.
#include <algorithm>

#include "arith/arith.h"
#include "arith/forkjoin.h"
#include "arith/walks.h"

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

// From this many cells of the source the walk of normalised cells runs in
// two halves side by side, the lower half's carry or borrow taken up after
// the join: sqrt(2) to 10^7 decimals spent 28 to 36 ms in 2 - xy, against 44
// to 52, and 46 to 60 ms in (x + vy) / 2, against 80 to 84 (three runs each).
// Registers that fit the caches near a core lose by it (their halves sit in
// the other core's cache): command 17 to 10^5 decimals took 3.53 s with the
// halves from 10^4 cells, 3.42 s without.
constexpr std::int64_t kAddPairCells = std::int64_t{1} << 16;

// add_walk_cells in two halves side by side, for a long source.
std::int64_t add_walk_halves(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  const std::int64_t top = std::min<std::int64_t>(std::int64_t{srcTop} - decimals, c39), mid = (top + 1) / 2;
  cell_t carry[2] = {};
  forkjoin::run_pair(
      [&](int h) noexcept {
        const std::int64_t lo = h == 0 ? 0 : mid, hi = h == 0 ? mid - 1 : top;
        carry[h] = f > 0 ? add_range<1>(dst.cells, src, lo, hi) : add_range<-1>(dst.cells, src, lo, hi);
      },
      true);
  return take_up_halves(dst.cells, f, mid, top, carry) + decimals;
}

// The highest index from `from` down to decimals + 1 whose cell is nonzero, or
// decimals when there is none.
std::int32_t top_below(const Reg& R, std::int64_t from) {
  for (std::int64_t i = from - decimals; i >= 1; --i)
    if (R.cells[i] != 0) return static_cast<std::int32_t>(i + decimals);
  return decimals;
}

}  // namespace

std::int64_t take_up_halves(cell_t* d, int f, std::int64_t mid, std::int64_t top, const cell_t (&carry)[2]) {
  std::int64_t reached = top;
  if (carry[1] != 0) reached = take_up(d, f, top + 1, c39);
  if (carry[0] != 0) reached = std::max(reached, take_up(d, f, mid, c39));
  if (reached > c39) ALARM("ADD");
  return reached;
}

void set_top_after_add(Reg& dst, std::int32_t oldTop, std::int64_t reached) {
  if (decimals >= limit || dst.cells[c39] != 0) {
    dst.top = limit;
  } else {
    dst.top = top_below(
        dst, std::clamp<std::int64_t>(std::max<std::int64_t>(oldTop, reached), decimals, std::int64_t{limit} - 1));
  }
}

// Top: `limit` when the cell at `limit` is nonzero or the register has one
// cell at most; otherwise the highest nonzero cell below `limit`, and decimals
// when no cell above the lowest is nonzero. Cells above both dst's former top
// and the walk are zero, so the fast scan starts at the higher of the two.
void ADD(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  const std::int32_t oldTop = dst.top;
  const std::int64_t reached = use_reference_kernels ? add_walk(src, srcTop, f, dst)
                               : std::int64_t{srcTop} - decimals + 1 >= kAddPairCells && forkjoin::threads() >= 2
                                   ? add_walk_halves(src, srcTop, f, dst)
                                   : add_walk_cells(src, srcTop, f, dst);
  if (!use_reference_kernels) return set_top_after_add(dst, oldTop, reached);
  dst.top = decimals >= limit || dst.cells[c39] != 0 ? limit : top_below(dst, std::int64_t{limit} - 1);
}
