// MULT and DIV: a register times or divided by a machine integer, in place.
// The reference kernels form cell products and dividends in 128-bit signed
// arithmetic; the fast kernels give the same cells, tops and alarms with 64-bit
// products where they fit and multiplication by reciprocals (divisor.h).
#include "arith/arith.h"
#include "arith/divisor.h"
#include "arith/forkjoin.h"

namespace {

using wide_t = __int128;

// R := R * m for m >= 0. The walk runs from the lowest cell up to top, and on
// past it (raising top) while the product carries; a carry out of the cell at
// `limit` is ALARM("MULT").
void mult_reference(Reg& R, std::int64_t m) {
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

// The walk of mult_reference for decimals <= top <= limit, with `step`
// mapping (cell, carry) to the new cell and the carry.
template <class Step>
void mult_walk(Reg& R, Step step) {
  const std::int64_t L = std::int64_t{limit} - decimals;
  cell_t* c = R.cells;
  std::int64_t n = 0;
  u64 carry = 0;
  for (const std::int64_t t = std::int64_t{R.top} - decimals; n <= t; ++n) carry = step(c[n], carry);
  for (; carry != 0; ++n) {  // the product carries past top: raise it
    if (n > L) ALARM("MULT");
    ++R.top;
    carry = step(c[n], carry);
  }
}

// R := floor(R / m) for m > 0, from the top cell (as on entry) down to the
// lowest; top drops past leading zero quotient cells. Returns true when every
// quotient cell was zero.
bool div_reference(Reg& R, std::int64_t m) {
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

// The walk of div_reference for decimals <= top <= limit, each cell divided by
// `step` (divisor.h). Top ends at the highest nonzero quotient cell, or at
// decimals when there is none.
template <class Step>
bool div_walk(Reg& R, const Step& step) {
  cell_t* c = R.cells;
  std::int64_t i = std::int64_t{R.top} - decimals;
  u64 state = 0;
  for (; i >= 0; --i) {
    c[i] = static_cast<cell_t>(step.step(state, static_cast<u64>(c[i])));
    if (c[i] != 0) break;
  }
  if (i < 0) {
    R.top = decimals;
    return true;
  }
  R.top = static_cast<std::int32_t>(i + decimals);
  for (--i; i >= 0; --i) c[i] = static_cast<cell_t>(step.step(state, static_cast<u64>(c[i])));
  return false;
}

const WideDivisor kBaseDivisor(kBase);

// Registers of this many cells from top down are divided by a short divisor
// in two parts side by side, each in place: the lower part starts from the
// remainder of the upper one, which four interleaved chains, one for each
// quarter of it, make first, in about a quarter of the time that the upper
// part's quotient takes.
constexpr std::int64_t kDivPairCells = 2048;

// The number formed by the cells c[lo .. hi] (a multiple of 4 of them) modulo d.
u64 remainder_of(const cell_t* c, std::int64_t lo, std::int64_t hi, const ShortStep& step) {
  const std::int64_t q = (hi - lo + 1) / 4;
  u64 remB[4] = {};  // of each quarter, the highest first, times kBase
  for (std::int64_t i = 0; i < q; ++i)
    for (std::int64_t j = 0; j < 4; ++j) step.step(remB[j], static_cast<u64>(c[hi - j * q - i]));
  const u64 d = step.sd.d;
  u64 bq = 1;  // kBase^q mod d
  for (u64 e = static_cast<u64>(q), b = kBase % d; e > 0; e >>= 1, b = static_cast<u64>(static_cast<u128>(b) * b % d))
    if (e & 1) bq = static_cast<u64>(static_cast<u128>(bq) * b % d);
  u64 r = 0;
  for (const u64 x : remB) r = static_cast<u64>((static_cast<u128>(r) * bq + x / kBase) % d);
  return r;
}

// div_walk with a short divisor d, in two parts side by side for a long register.
bool div_short(Reg& R, u64 d) {
  const ShortStep step(d);
  const std::int64_t top = std::int64_t{R.top} - decimals;
  if (top + 1 < kDivPairCells || forkjoin::threads() < 2) return div_walk(R, step);
  cell_t* c = R.cells;
  const std::int64_t n = (top + 1) / 8 * 4, mid = top + 1 - n;  // the upper part c[mid .. top]
  const u64 upperRem = remainder_of(c, mid, top, step);
  forkjoin::run_pair(
      [&](int t) noexcept {
        u64 remB = t == 0 ? 0 : upperRem * kBase;
        for (std::int64_t i = t == 0 ? top : mid - 1; i >= (t == 0 ? mid : 0); --i)
          c[i] = static_cast<cell_t>(step.step(remB, static_cast<u64>(c[i])));
      },
      true);
  std::int64_t i = top;
  while (i >= 0 && c[i] == 0) --i;
  R.top = static_cast<std::int32_t>((i < 0 ? 0 : i) + decimals);
  return i < 0;
}

}  // namespace

// Negative factors would leave negative cells: refused with ALARM("MULT").
void MULT(Reg& R, std::int64_t m) {
  if (m < 0) ALARM("MULT");
  if (use_reference_kernels || R.top < decimals || R.top > limit) return mult_reference(R, m);
  const u64 f = static_cast<u64>(m);
  if (f <= kShortFactorMax) {  // cell * m + carry < m * kBase <= 2^64
    mult_walk(R, [f](cell_t& cell, u64 carry) {
      u64 p = static_cast<u64>(cell) * f + carry;
      u64 q = p / kBase;
      cell = static_cast<cell_t>(p - q * kBase);
      return q;
    });
  } else {  // carry < m < 2^63: the quotient by kBase fits 64 bits
    mult_walk(R, [f](cell_t& cell, u64 carry) {
      u64 r = 0;
      const u64 q = kBaseDivisor.quotient(static_cast<u128>(static_cast<u64>(cell)) * f + carry, r);
      cell = static_cast<cell_t>(r);
      return q;
    });
  }
}

// A divisor of zero or below has no place in the arithmetic of non-negative
// numbers: ALARM("DIV").
bool DIV(Reg& R, std::int64_t m) {
  if (m <= 0) ALARM("DIV");
  if (R.top < decimals) return true;
  if (use_reference_kernels || R.top > limit) return div_reference(R, m);
  const u64 d = static_cast<u64>(m);
  if (d == 1) return div_walk(R, UnitStep{});  // cells stay; top drops past zero cells
  if (kBase % d == 0) return div_walk(R, BaseDivisorStep(d));
  if (d <= kShortDivisorMax) return div_short(R, d);  // dividends below d kBase < 2^63
  return div_walk(R, WideStep(d));
}
