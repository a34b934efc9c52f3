// Division by invariant integers: floor(t / d) and t mod d for many dividends t
// and one divisor d, by multiplication with a precomputed reciprocal instead of
// a division instruction or a 128-bit library call; and the steps of a long
// division over cells built on them, shared by DIV and the series.
#pragma once

#include <cstdint>

#include "arith/arith.h"

using u64 = std::uint64_t;
using u128 = unsigned __int128;

// Dividends t < 2^63, divisor d >= 2 (Granlund and Montgomery). With
// l = ceil(log2 d) and m = floor(2^(63+l) / d) + 1 we have m < 2^64 and
// 2^(63+l) < m*d <= 2^(63+l) + 2^l, hence floor(t/d) = floor(t*m / 2^(63+l)).
struct ShortDivisor {
  u64 d = 2;
  u64 m = 0;
  unsigned shift = 0;  // l - 1

  ShortDivisor() = default;
  explicit constexpr ShortDivisor(u64 divisor) : d(divisor) {
    const auto l = static_cast<unsigned>(64 - __builtin_clzll(divisor - 1));  // ceil(log2 d)
    m = static_cast<u64>((u128{1} << (63 + l)) / divisor) + 1;
    shift = l - 1;
  }
  u64 quot(u64 t) const { return static_cast<u64>((static_cast<u128>(t) * m) >> 64) >> shift; }
};

// Any divisor d >= 1, dividends t < d * 2^64, that is quotients below 2^64
// (Moller and Granlund, "Improved division by invariant integers", Alg. 4).
// The divisor is shifted to have its top bit set; v = floor((2^128 - 1) / dn)
// - 2^64 is the reciprocal of the shifted divisor dn.
struct WideDivisor {
  u64 d = 1;
  u64 dn = 0;
  u64 v = 0;
  unsigned shift = 0;

  WideDivisor() = default;
  explicit constexpr WideDivisor(u64 divisor) : d(divisor) {
    shift = static_cast<unsigned>(__builtin_clzll(divisor));
    dn = divisor << shift;
    v = static_cast<u64>(~u128{0} / dn - (u128{1} << 64));
  }

  // floor(t / d), with t mod d into r.
  u64 quotient(u128 t, u64& r) const {
    u64 q = 0;
    divrem(t, q, r);
    return q;
  }

  // q = floor(t / d), r = t mod d.
  void divrem(u128 t, u64& q, u64& r) const {
    const u128 u = t << shift;  // < dn * 2^64, so u1 < dn
    const u64 u1 = static_cast<u64>(u >> 64);
    const u64 u0 = static_cast<u64>(u);
    const u128 p = static_cast<u128>(v) * u1 + ((static_cast<u128>(u1) + 1) << 64) + u0;
    u64 q1 = static_cast<u64>(p >> 64);
    const u64 q0 = static_cast<u64>(p);
    u64 rn = u0 - q1 * dn;
    // The first correction is taken about as often as not: masks, no branch.
    const u64 m = u64{0} - static_cast<u64>(rn > q0);
    q1 += m;
    rn += dn & m;
    if (rn >= dn) {
      ++q1;
      rn -= dn;
    }
    q = q1;
    r = rn >> shift;
  }
};

// Largest divisor for which (d - 1) * kBase + a cell stays below 2^63, so that
// a ShortDivisor serves a long division by d over normalised cells.
inline constexpr u64 kShortDivisorMax = (u64{1} << 63) / kBase - 1;

// Largest factor m for which cell * m + carry (carry < m) stays below 2^64.
inline constexpr u64 kShortFactorMax = ~u64{0} / kBase;

// Steps of a long division from the top cell down: step(state, c) divides
// (remainder so far) * kBase + c by d and returns the quotient; `state`
// starts at zero and carries the remainder, in a form of the step's own. The
// cells c may exceed kBase - 1 while the dividends stay in the stated range.

// d = 1.
struct UnitStep {
  u64 step(u64&, u64 c) const { return c; }
};

// 2 <= d, dividends below 2^63. The carried state is rem * kBase rather than
// rem: the next one is t * kBase - q * (d * kBase), exact modulo 2^64, which
// keeps one multiplication off the chain from cell to cell.
struct ShortStep {
  ShortDivisor sd;
  u64 dB = 0;  // d * kBase
  ShortStep() = default;
  explicit constexpr ShortStep(u64 d) : sd(d), dB(d * kBase) {}
  u64 step(u64& remB, u64 c) const {
    u64 t = remB + c;
    u64 q = sd.quot(t);
    remB = t * kBase - q * dB;
    return q;
  }
};

// A divisor d >= 2 of kBase, cells below 2^63: (rem * kBase + c) / d is
// rem * (kBase / d) + floor(c / d), and the remainder c mod d, of the cell c
// alone: no chain runs from cell to cell.
struct BaseDivisorStep {
  ShortDivisor sd;
  u64 f = 0;  // kBase / d
  explicit constexpr BaseDivisorStep(u64 d) : sd(d), f(kBase / d) {}
  u64 step(u64& rem, u64 c) const {
    const u64 q = sd.quot(c), out = q + rem * f;
    rem = c - q * sd.d;
    return out;
  }
};

// Any d >= 1, quotients below 2^64.
struct WideStep {
  WideDivisor wd;
  WideStep() = default;
  explicit WideStep(u64 d) : wd(d) {}
  u64 step(u64& rem, u64 c) const { return wd.quotient(static_cast<u128>(rem) * kBase + c, rem); }
};
