// The thresholds of the plan of a product (plan.cpp), one table for each kind
// of unit: the numbers that a retuning changes, and nothing else. Lengths are
// in cells, pairs are pairs of cells X_j Y_i, entries those of a transform.
#pragma once

#include <cstdint>

namespace longmult {

struct Tuning {
  std::int64_t pairs_per_step;  // transforms from this many pairs an entry and stage
  std::int64_t gmp_side;        // GMP's product from this shorter side
  std::int64_t gmp_pairs;       // and this many pairs; else columns
  int max_log;                  // the longest transform has 2^max_log entries
  std::int64_t pair_entries;    // transforms of this many entries on two threads
  std::int64_t pair_columns;    // remainders of this many columns on two threads
  std::int64_t pair_passes;     // runs of this many truncated passes in two halves
  std::int64_t halves_entries;  // products in halves of Y from this many entries; 0: never
  int split_band;               // X's top split off (plan.cpp) with Y's lengths in bands of 2^-split_band; 0: never
  bool thirds;                  // transforms of 3 2^k entries too, where they fit
};

// Transforms in plain C++, of two or three cells to an entry.
inline constexpr Tuning kPlainTuning{3, 64, 60'000, 20, 256, 300, 500, 0, 0, false};
// Transforms of a cell to an entry on the vector units: two threads from 2^11 entries and 1,000
// columns (command 17 at 10^4 decimals: -7 to -17% against 2^13 and 4,000), Y in halves from 2^22
// (sqrt(2) at 10^8 -12%; 10^7, 2^16: +3%). The passes go a vector at a time, and in halves from
// 8,192 (sqrt(2) at 10^7: -4% against 500 in runs of 2^12; command 17 at 10^5 alike; 4,096, 16,384
// too). X's top split off in bands of 2^(k-6) (command 17 at 10^5 -9%, sqrt(2) at 10^5 -16%;
// 2^(k-5): 1 to 2% slower; in plain C++, with 2 or 3 cells to an entry: +1 to 4%).
inline constexpr Tuning kVectorTuning{3, 64, 60'000, 26, 2048, 1000, 8192, 4'194'304, 6, true};

}  // namespace longmult
