// ADD: dst := dst + f * src for f = +1 or -1, and the recomputation of dst's top.
#include "arith.h"

// The walk runs from the lowest cell up; past the source's top it goes on only
// while a carry or borrow is left. A carry out of the cell at `limit` is an
// overflow for f = +1 and a negative result for f = -1: both ALARM("ADD").
void ADD(const cell_t* src, std::int32_t srcTop, int f, Reg& dst) {
  cell_t carry = 0;
  for (std::int64_t n = decimals; n <= limit; ++n) {
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

  if (decimals >= limit || dst.cells[c39] != 0) {
    dst.top = limit;
    return;
  }
  dst.top = decimals;
  for (std::int64_t i = c39 - 1; i >= 1; --i) {
    if (dst.cells[i] != 0) {
      dst.top = static_cast<std::int32_t>(i + decimals);
      break;
    }
  }
}
