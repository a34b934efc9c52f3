// Walks over a register's normalised cells shared by ADD and the step of a
// series (DIV_ADD_fast): a range added with its carry, the carries out of two
// halves taken up, and the top an addition leaves.
#pragma once

#include <cstdint>

#include "arith/arith.h"

// A carry (f = 1) or borrow (f = -1) into d[i], taken up as far as it goes
// within d[.. last]; returns the last index written, past `last` when it
// leaves them.
inline std::int64_t take_up(cell_t* d, int f, std::int64_t i, std::int64_t last) {
  const cell_t wraps = f > 0 ? kBase - 1 : 0;
  for (; i <= last && d[i] == wraps; ++i) d[i] = kBase - 1 - wraps;
  if (i <= last) d[i] += f;
  return i;
}

// d[lo .. hi] += F src[lo .. hi], without a division or a branch; returns the
// carry (F = 1) or borrow (F = -1) out of d[hi].
template <int F>
cell_t add_range(cell_t* d, const cell_t* src, std::int64_t lo, std::int64_t hi) {
  const auto step = [d, src](std::int64_t i, cell_t& carry) {
    const cell_t t = F > 0 ? d[i] + src[i] + carry : d[i] - src[i] - carry;
    carry = F > 0 ? static_cast<cell_t>(t >= kBase) : static_cast<cell_t>(static_cast<std::uint64_t>(t) >> 63);
    d[i] = F > 0 ? t - (-carry & kBase) : t + (-carry & kBase);
  };
  // The lower and the upper half side by side, two chains from cell to cell; then the lower's
  // carry taken up in the upper (where it runs on, the upper had none to give).
  const std::int64_t h = (hi - lo + 1) / 2, mid = lo + h;
  cell_t low = 0, high = 0;
  for (std::int64_t i = lo; i < mid; ++i) step(i, low), step(i + h, high);
  if (mid + h <= hi) step(hi, high);  // an odd count: the upper half's last cell
  return low != 0 && take_up(d, F, mid, hi) > hi ? 1 : high;
}

// The carries (f = 1) or borrows (f = -1) out of the lower half d[0 .. mid)
// and the upper half d[mid .. top] of a sum made in halves, taken up as far as
// they go; ALARM("ADD") when one leaves the register. Returns the highest
// index written.
std::int64_t take_up_halves(cell_t* d, int f, std::int64_t mid, std::int64_t top, const cell_t (&carry)[2]);

// dst's top after a fast addition whose walk wrote cells up to the absolute
// index `reached`, oldTop its top before (see ADD).
void set_top_after_add(Reg& dst, std::int32_t oldTop, std::int64_t reached);
