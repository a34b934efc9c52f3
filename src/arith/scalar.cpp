// MULT and DIV: a register times or divided by a machine integer, in place.
// The reference kernels form cell products and dividends in 128-bit signed
// arithmetic; the fast kernels give the same cells, tops and alarms with 64-bit
// products where they fit and multiplication by reciprocals (divisor.h).
#include <algorithm>

#include "arith/arith.h"
#include "arith/cpu.h"
#include "arith/divisor.h"
#include "arith/forkjoin.h"
#include "arith/walks.h"

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
// in two halves side by side (div_halves).
constexpr std::int64_t kDivPairCells = 2048;

// A long division's chain from cell to cell takes some ten cycles a cell. Cut
// into four quarters whose states are known first, four chains run side by
// side. The remainders (states, times kBase) of the quarters of c[lo .. hi],
// each as if nothing were above it: q cells each, the lowest quarter also the
// cells left over.
struct Quarters {
  std::int64_t lo, hi, q;
  u64 remB[4] = {};
};
Quarters quarter_remainders(const cell_t* c, std::int64_t lo, std::int64_t hi, const ShortStep& step) {
  const std::int64_t q = (hi - lo + 1) / 4;
  u64 r0 = 0, r1 = 0, r2 = 0, r3 = 0;
  for (std::int64_t k = hi; k > hi - q; --k) {
    step.step(r0, static_cast<u64>(c[k])), step.step(r1, static_cast<u64>(c[k - q]));
    step.step(r2, static_cast<u64>(c[k - 2 * q])), step.step(r3, static_cast<u64>(c[k - 3 * q]));
  }
  for (std::int64_t k = hi - 4 * q; k >= lo; --k) step.step(r3, static_cast<u64>(c[k]));
  return {lo, hi, q, {r0, r1, r2, r3}};
}

// x mod d for x < 2^63, by the step's reciprocal.
u64 mod(u64 x, const ShortStep& step) { return x - step.sd.quot(x) * step.sd.d; }

// kBase^e mod d.
u64 base_power(std::int64_t e, const ShortStep& step) {
  u64 r = mod(1, step);
  for (u64 b = mod(kBase, step); e > 0; e >>= 1, b = mod(b * b, step))  // below d^2 < 2^60
    if (e & 1) r = mod(r * b, step);
  return r;
}

// The quarters' remainders become the states they start from, the state
// above them being `above`; returns the state below them.
u64 quarter_starts(Quarters& Q, u64 above, const ShortStep& step) {
  const u64 bq = base_power(Q.q, step);
  const u64 bLast = base_power(Q.hi - Q.lo + 1 - 3 * Q.q, step);
  u64 r = above / kBase;
  for (int j = 0; j < 4; ++j) {
    const u64 own = Q.remB[j] / kBase;
    Q.remB[j] = r * kBase;
    r = mod(r * (j < 3 ? bq : bLast) + own, step);
  }
  return r * kBase;
}

// t[lo .. hi] := the quotients of c[lo .. hi], the quarters from their
// states, four chains side by side (t may be c). The quotients of a series'
// term go to cells that both threads read in the product before: each chain
// asks for its cells' lines 64 cells ahead, where the processor takes the
// hint. On two cores a line's round trip apart of 320 ns, command 17's
// divisions at 10^5 decimals took 1.0 to 1.4 s so, 1.75 to 1.86 s without.
void divide_quarters(const cell_t* c, cell_t* t, const Quarters& Q, const ShortStep& by) {
  const ShortStep step = by;  // kept in registers: the stores into t may alias `by`
  u64 r0 = Q.remB[0], r1 = Q.remB[1], r2 = Q.remB[2], r3 = Q.remB[3];  // apart from t, which may alias them
  const std::int64_t q = Q.q, ahead = 64, hi = Q.hi;
  const bool hint = prefetch_for_write_ok();
  for (std::int64_t k = hi; k > hi - q; --k) {
    if (hint && (k & 7) == 0 && k - 3 * q >= ahead) {
      cell_t* at = t + k - ahead;
      prefetch_for_write(at), prefetch_for_write(at - q), prefetch_for_write(at - 2 * q),
          prefetch_for_write(at - 3 * q);
    }
    const u64 q0 = step.step(r0, static_cast<u64>(c[k])), q1 = step.step(r1, static_cast<u64>(c[k - q]));
    const u64 q2 = step.step(r2, static_cast<u64>(c[k - 2 * q])), q3 = step.step(r3, static_cast<u64>(c[k - 3 * q]));
    t[k] = static_cast<cell_t>(q0), t[k - q] = static_cast<cell_t>(q1);
    t[k - 2 * q] = static_cast<cell_t>(q2), t[k - 3 * q] = static_cast<cell_t>(q3);
  }
  for (std::int64_t k = Q.hi - 4 * q; k >= Q.lo; --k) t[k] = static_cast<cell_t>(step.step(r3, static_cast<u64>(c[k])));
}

// t[0 .. top] := floor(c[0 .. top] / d) (t may be c) in two halves side by
// side, the lower on the partner: the quarters' remainders of each half, then
// their states from the top down, then the quotients, after which each half
// calls then(lo, hi) for its cells. Two forks: a task never waits for the
// other, which runs after it on one thread.
template <class Then>
void div_halves(const cell_t* c, cell_t* t, std::int64_t top, const ShortStep& step, const Then& then) {
  const std::int64_t mid = (top + 1) / 2;
  Quarters half[2];
  forkjoin::run_pair(
      [&](int h) noexcept { half[h] = quarter_remainders(c, h == 0 ? 0 : mid, h == 0 ? mid - 1 : top, step); }, true);
  quarter_starts(half[0], quarter_starts(half[1], 0, step), step);
  forkjoin::run_pair(
      [&](int h) noexcept {
        divide_quarters(c, t, half[h], step);
        then(half[h].lo, half[h].hi);
      },
      true);
}

// From this many cells the quarters' chains pay for finding their states
// (two passes over the cells instead of one).
constexpr std::int64_t kQuarterCells = 64;

// t[0 .. top] := floor(c[0 .. top] / d) on this thread (t may be c).
void div_alone(const cell_t* c, cell_t* t, std::int64_t top, const ShortStep& step) {
  if (top + 1 < kQuarterCells) {
    u64 remB = 0;
    for (std::int64_t i = top; i >= 0; --i) t[i] = static_cast<cell_t>(step.step(remB, static_cast<u64>(c[i])));
    return;
  }
  Quarters Q = quarter_remainders(c, 0, top, step);
  quarter_starts(Q, 0, step);
  divide_quarters(c, t, Q, step);
}

bool long_division(std::int64_t top) { return top + 1 >= kDivPairCells && forkjoin::threads() >= 2; }

// div_walk by a divisor of the base, whose quotient cells each need only
// their cell and the one above: from 2^16 cells on two threads in halves
// side by side, the cell above the lower half read before either is written
// (with the halves of ADD, sqrt(2) to 10^7 decimals spent 46 to 60 ms in
// (x + vy) / 2 against 80 to 84; the threshold is ADD's).
constexpr std::int64_t kDivBasePairCells = std::int64_t{1} << 16;
bool div_base(Reg& R, u64 d) {
  const BaseDivisorStep step(d);
  const std::int64_t top = std::int64_t{R.top} - decimals;
  if (top + 1 < kDivBasePairCells || forkjoin::threads() < 2) return div_walk(R, step);
  cell_t* c = R.cells;
  const std::int64_t mid = (top + 1) / 2;
  const u64 above = static_cast<u64>(c[mid]) - step.sd.quot(static_cast<u64>(c[mid])) * d;  // c[mid] mod d
  forkjoin::run_pair(
      [&](int h) noexcept {
        u64 rem = h == 0 ? above : 0;
        for (std::int64_t i = h == 0 ? mid - 1 : top; i >= (h == 0 ? 0 : mid); --i)
          c[i] = static_cast<cell_t>(step.step(rem, static_cast<u64>(c[i])));
      },
      true);
  std::int64_t i = top;
  while (i >= 0 && c[i] == 0) --i;
  R.top = static_cast<std::int32_t>((i < 0 ? 0 : i) + decimals);
  return i < 0;
}

// div_walk with a short divisor d, in four chains, in two halves side by side
// for a long register.
bool div_short(Reg& R, u64 d) {
  const ShortStep step(d);
  const std::int64_t top = std::int64_t{R.top} - decimals;
  cell_t* c = R.cells;
  if (long_division(top)) {
    div_halves(c, c, top, step, [](std::int64_t, std::int64_t) {});
  } else {
    div_alone(c, c, top, step);
  }
  std::int64_t i = top;
  while (i >= 0 && c[i] == 0) --i;
  R.top = static_cast<std::int32_t>((i < 0 ? 0 : i) + decimals);
  return i < 0;
}

}  // namespace

// One step of a series in one pass over the cells; for a long S in halves
// side by side (div_halves), each thread adding the quotients it made to R,
// a carry out of a half running on after the join.
bool DIV_ADD_fast(const Reg& S, Reg& T, std::int64_t m, Reg& R, bool& zero) {
  const std::int64_t top = std::int64_t{S.top} - decimals;
  if (decimals >= limit || S.top < decimals || S.top > limit || m < 2 || static_cast<u64>(m) > kShortDivisorMax ||
      kBase % m == 0)
    return false;
  cell_t *t = T.cells, *r = R.cells;
  for (std::int64_t i = top + 1; i <= std::int64_t{T.top} - decimals; ++i) t[i] = 0;  // T's cells above S's top
  cell_t carry[2] = {};  // out of the lower half and the upper one
  const ShortStep step(static_cast<u64>(m));
  if (long_division(top)) {
    div_halves(S.cells, t, top, step,
               [&](std::int64_t lo, std::int64_t hi) { carry[lo == 0 ? 0 : 1] = add_range<1>(r, t, lo, hi); });
  } else {
    div_alone(S.cells, t, top, step);
    carry[1] = add_range<1>(r, t, 0, top);
  }
  const std::int32_t oldTop = R.top;
  const std::int64_t reached = take_up_halves(r, 1, (top + 1) / 2, top, carry);
  std::int64_t i = top;
  while (i >= 0 && t[i] == 0) --i;
  T.top = static_cast<std::int32_t>((i < 0 ? 0 : i) + decimals);
  zero = i < 0;
  set_top_after_add(R, oldTop, reached + decimals);
  return true;
}

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
  if (kBase % d == 0) return div_base(R, d);
  if (d <= kShortDivisorMax) return div_short(R, d);  // dividends below d kBase < 2^63
  return div_walk(R, WideStep(d));
}
