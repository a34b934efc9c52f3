// The fast LONGMULT kernel, for the dispatcher and its tests.
#pragma once

#include "arith.h"

// Z := X * Y with exactly the cells and top that LONGMULT_reference leaves,
// when no alarm can occur and the truncation correction is settled cheaply;
// returns true then. Returns false otherwise, with Z's cells unspecified: the
// caller runs the reference, which rewrites all of Z. Preconditions as for
// LONGMULT: cells in [0, 10^10), zero above top; Z distinct from X and Y.
bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z);

// Test-only switch: when false the fast kernel leaves the vector units
// (AVX-512 IFMA) alone, so that both of its ways of multiplying can be
// compared on one machine.
extern bool longmult_vector_units;
