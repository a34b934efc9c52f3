// Helpers shared by the unit tests: running whole scripts in-process, setting
// the precision of a run, and building registers from cells.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "arith/arith.h"

struct RunResult {
  std::string out;
  int status;
};

// Runs the interpreter on `script` as its whole input.
RunResult run_script(const std::string& script);

// Sets decimals, limit and c39 as a run with D decimals and E integer digits.
void set_run(int D, int E);

// Sets R to the given cells, highest index first, ending at the lowest cell;
// top is the index of the highest nonzero cell (decimals when all are zero).
void set_cells(Reg& R, std::initializer_list<cell_t> highFirst);

// The cells of R, highest index first.
std::vector<cell_t> cells_of(const Reg& R);

// What `fn` printed to the output stream; `status` gets the Fatal status, or
// -1 when `fn` returned normally.
template <class Fn>
std::string capture(Fn fn, int* status = nullptr);

#include "support_impl.h"
