// Walks over a register's normalised cells shared by ADD and the step of a
// series (DIV_ADD_fast): a range added with its carry, the carries out of two
// halves taken up, and the top an addition leaves.
#pragma once

#include <cstdint>

#include "arith/arith.h"

// d[lo .. hi] += F src[lo .. hi], without a division or a branch; returns the
// carry (F = 1) or borrow (F = -1) out of d[hi].
template <int F>
cell_t add_range(cell_t* d, const cell_t* src, std::int64_t lo, std::int64_t hi) {
  cell_t carry = 0;
  for (std::int64_t i = lo; i <= hi; ++i) {
    const cell_t t = F > 0 ? d[i] + src[i] + carry : d[i] - src[i] - carry;
    carry = F > 0 ? static_cast<cell_t>(t >= kBase) : static_cast<cell_t>(static_cast<std::uint64_t>(t) >> 63);
    d[i] = F > 0 ? t - (-carry & kBase) : t + (-carry & kBase);
  }
  return carry;
}

// The carries (f = 1) or borrows (f = -1) out of the lower half d[0 .. mid)
// and the upper half d[mid .. top] of a sum made in halves, taken up as far as
// they go; ALARM("ADD") when one leaves the register. Returns the highest
// index written.
std::int64_t take_up_halves(cell_t* d, int f, std::int64_t mid, std::int64_t top, const cell_t (&carry)[2]);

// dst's top after a fast addition whose walk wrote cells up to the absolute
// index `reached`, oldTop its top before (see ADD).
void set_top_after_add(Reg& dst, std::int32_t oldTop, std::int64_t reached);
