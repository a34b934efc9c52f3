// ETO and PITO by splitting the truncated series (series_split.cpp), for
// exp.cpp and pi.cpp. Internal to the functions.
#pragma once

#include <atomic>
#include <cstdint>

#include "arith/arith.h"

// Each leaves exactly the registers of the term-by-term form (the result's
// cells and top, the scratch registers zero with top = decimals) and returns
// true; or returns false having changed nothing, for the term-by-term form to
// run: below the precision where splitting pays, when limit < 0 (where the
// term-by-term form alarms), and when its memory would not fit in what the
// register budget leaves (besides `extra` bytes the caller's own form needs).
bool eto_split(Reg& R, Reg& T);
bool pito_split(Reg& P, Reg& Q, Reg& R, std::int64_t extra);

// From this many cells of the result (decimals / 10) the two parts of the
// split's root are the two calls of a fork/join (arith/forkjoin.h), side by
// side when the thread count is 2 or more; below, and on one thread, the split
// runs as one. The result is the same either way; tests lower it.
extern std::int64_t series_pair_cells;

// The result goes to cells by halves down to parts of this many cells,
// which GMP's conversion makes. The cells are the same either way; tests
// lower it.
extern std::int64_t series_direct_cells;

// Divisions by a long divisor whose quotient estimate was more than two
// short or over, and that GMP's division then settled: none, for the tests.
extern std::atomic<std::uint64_t> long_division_repairs;
