// MULT and DIV: a register times or divided by a machine integer, in place.
// Cell products and dividends are formed exactly in 128-bit arithmetic.
#include "arith.h"

using wide_t = __int128;

// R := R * m for m >= 0. The walk runs from the lowest cell up to top, and on
// past it (raising top) while the product carries; a carry out of the cell at
// `limit` is ALARM("MULT"). A negative factor would leave negative cells, so it
// is refused the same way.
void MULT(Reg& R, std::int64_t m) {
  if (m < 0) ALARM("MULT");
  const std::int64_t L = std::int64_t{limit} - decimals;
  wide_t carry = 0;
  for (std::int64_t n = 0; n <= L; ++n) {
    wide_t p = static_cast<wide_t>(R.cells[n]) * m + carry;
    carry = p / kBase;
    R.cells[n] = static_cast<cell_t>(p % kBase);
    if (n == std::int64_t{R.top} - decimals) {
      if (carry == 0) return;
      if (n >= L) ALARM("MULT");
      ++R.top;
    }
  }
  if (carry != 0) ALARM("MULT");  // only a top above `limit` gets here
}

// R := floor(R / m) for m > 0, from the top cell (as on entry) down to the
// lowest; top drops past leading zero quotient cells. The remainder is lost.
// Returns true when every quotient cell was zero. A divisor of zero or below
// has no place in the arithmetic of non-negative numbers: ALARM("DIV").
bool DIV(Reg& R, std::int64_t m) {
  if (m <= 0) ALARM("DIV");
  if (R.top < decimals) return true;
  wide_t rem = 0;
  bool leading = true;
  for (std::int64_t n = R.top; n >= decimals; --n) {
    std::int64_t i = n - decimals;
    cell_t c = n <= limit ? R.cells[i] : 0;  // no cells above limit in runs with limit < 0
    wide_t t = rem * kBase + c;
    auto q = static_cast<cell_t>(t / m);
    rem = t % m;
    if (n <= limit) R.cells[i] = q;
    if (leading && q <= 0) {
      if (R.top > decimals) --R.top;
    } else {
      leading = false;
    }
  }
  return leading;
}
