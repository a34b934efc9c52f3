// The fast LONGMULT kernel, for the dispatcher and its tests.
#pragma once

#include <array>
#include <cstdint>

#include "arith/arith.h"
#include "arith/longmult/products.h"

// Z := X * Y with exactly the cells, top and alarms of LONGMULT_reference
// (an alarm ends the run as the reference's would); returns true. Returns
// false where it declines (see Decline), with Z's cells unspecified: the
// caller runs the reference, which rewrites all of Z. Preconditions as for
// LONGMULT: cells in [0, 10^10), zero above top; Z distinct from X and Y.
// With a memo, from the product it keeps where that serves, and keeping this
// one; with yNext, X Y made as Y X (see LONGMULT).
bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z, ProductMemo* memo = nullptr, bool yNext = false);

// Why the fast kernel handed a product to the reference: a run without cells,
// no room for the reference's scratch register (whose allocation then raises
// ALARM("ALLOC") at once), and branches that cannot be taken. Counted for the
// tests, which require the last to stay zero.
enum class Decline { kRun, kMemory, kUnexpected };
inline constexpr std::size_t kDeclineKinds = 3;
extern std::array<std::uint64_t, kDeclineKinds> longmult_declines;
// The cells that the walks settling the truncation correction visited, for
// the tests of their linear bound.
extern std::uint64_t longmult_walk_cells;
// The products that a memo served, for the tests.
extern std::uint64_t longmult_memo_served;

namespace longmult {

// q := floor(x y / B), r := x y mod B, for x, y < B, in 64-bit arithmetic:
// x y / B formed in doubles is within 10^-5 of the exact quotient (three
// roundings of 2^-53 on a value below 10^10), so that its integer part is
// q - 1, q or q + 1, and x y - e B, exact modulo 2^64, lies in [-B, 2B).
inline u64 mul_divmod_base(u64 x, u64 y, u64& r) {
  const auto e = static_cast<u64>(static_cast<std::int64_t>(static_cast<double>(x) * static_cast<double>(y) * 1e-10));
  const auto t = static_cast<std::int64_t>(x * y - e * kB);
  const u64 under = u64{0} - static_cast<u64>(t < 0);
  const u64 over = u64{0} - static_cast<u64>(t >= static_cast<std::int64_t>(kB));
  r = static_cast<u64>(t) + (kB & under) - (kB & over);
  return e + (over & 1) - (under & 1);
}

}  // namespace longmult
