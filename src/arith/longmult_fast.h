// The fast LONGMULT kernel, for the dispatcher and its tests.
#pragma once

#include <array>
#include <cstdint>

#include "arith.h"

// Z := X * Y with exactly the cells and top that LONGMULT_reference leaves,
// when no alarm can occur; returns true then. Returns false otherwise, with Z's cells unspecified: the
// caller runs the reference, which rewrites all of Z. Preconditions as for
// LONGMULT: cells in [0, 10^10), zero above top; Z distinct from X and Y.
bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z);

// Test-only switch: when false the fast kernel leaves the vector units
// (AVX-512 IFMA) alone, so that both of its ways of multiplying can be
// compared on one machine.
extern bool longmult_vector_units;

// Why the fast kernel handed a product to the reference: a run it does not
// serve (no cells, or limit < 0), no room for the reference's scratch register
// (its ALARM("ALLOC")), a product that raises an alarm (or comes within the
// correction of ALARM("ADD")), and branches that cannot be taken. Counted for
// the tests, which require the last to stay zero.
enum class Decline { kRun, kMemory, kAlarm, kUnexpected };
inline constexpr std::size_t kDeclineKinds = 4;
extern std::array<std::uint64_t, kDeclineKinds> longmult_declines;
// The cells that the walks settling the truncation correction visited, for
// the tests of their linear bound.
extern std::uint64_t longmult_walk_cells;
