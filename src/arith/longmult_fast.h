// The fast LONGMULT kernel, for the dispatcher and its tests.
#pragma once

#include <array>
#include <cstdint>

#include "arith/arith.h"

// Z := X * Y with exactly the cells, top and alarms of LONGMULT_reference
// (an alarm ends the run as the reference's would); returns true. Returns
// false where it declines (see Decline), with Z's cells unspecified: the
// caller runs the reference, which rewrites all of Z. Preconditions as for
// LONGMULT: cells in [0, 10^10), zero above top; Z distinct from X and Y.
bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z);

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
