// The plan of a product: which method multiplies a pair of blocks of cells, from the units the
// product may use and the lengths of its factors. Every choice of method is made here, from the
// numbers of tuning.h; the kernels do what the plan says and hand nothing on to another.
#pragma once

#include <cstdint>

#include "arith/cpu.h"
#include "arith/longmult/tuning.h"

namespace longmult {

enum class Method { columns, gmp, transform };

struct Plan {
  Method method = Method::columns;
  int cells = 0;                  // transform: cells to an entry, 1 on the vector units, 2 or 3 in plain C++
  int log = 0;                    // transform: 2^log entries, or 3 2^log if `three`
  bool three = false;             // transform: of 3 2^log entries (a cell to an entry only)
  bool pair = false;              // transform: its residues on two threads
  std::int64_t pair_columns = 0;  // transform: its remainders on two threads from this many columns
  bool halves = false;            // transform: of X by each half of Y, X's transform kept between them
  std::int64_t split = 0;         // transform: of X's top `split` cells by Y, the rest of X apart
};

// The plan for the columns from `from` up of a block pair of nx by ny cells trimmed to those that
// reach it, `below` of its columns left out (below `from`; they hold 1, 2, ... pairs).
Plan plan_product(Units units, std::int64_t nx, std::int64_t ny, std::int64_t below);

const Tuning& tuning(Units units);  // the table of the units

}  // namespace longmult
