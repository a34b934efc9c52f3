// LONGMULT: Z := X * Y as the sum of the partial products X * Y[i], each shifted
// to the place of Y[i] and truncated below the lowest cell on its own.
#include <algorithm>

#include "arith/arith.h"
#include "arith/longmult_fast.h"

namespace {

// Moves T's cells s places up (s > 0) or down (s < 0); cells moved below the
// lowest cell are dropped. A nonzero cell moved above `limit` is
// ALARM("LONGMULT").
void shift_cells(Reg& T, std::int64_t s) {
  const std::int64_t L = std::int64_t{limit} - decimals;
  if (s > 0) {
    for (std::int64_t l = std::max<std::int64_t>(0, L - s + 1); l <= L; ++l)
      if (T.cells[l] != 0) ALARM("LONGMULT");
    for (std::int64_t m = L; m >= 0; --m) T.cells[m] = m - s >= 0 ? T.cells[m - s] : 0;
  } else if (s < 0) {
    for (std::int64_t m = 0; m <= L + s; ++m) T.cells[m] = T.cells[m - s];
    for (std::int64_t m = std::max<std::int64_t>(0, L + s + 1); m <= L; ++m) T.cells[m] = 0;
  }
}

}  // namespace

// The reference: for each cell of Y from the lowest up to Y's top, copy X,
// MULT by the cell, shift it into place and ADD it into Z. A partial product
// must fit below `limit` before it is shifted, so X * Y[i] can raise
// ALARM("MULT") even where X * Y fits.
void LONGMULT_reference(const Reg& X, const Reg& Y, Reg& Z) {
  Reg T;
  ASSIGN(Z, 0);
  if (Y.top < decimals) return;
  // Cells above limit (runs with limit < 0) are zero and add nothing new.
  const std::int64_t last = std::min<std::int64_t>(std::int64_t{Y.top} - decimals, c39);
  for (std::int64_t i = 0; i <= last; ++i) {
    const std::int64_t s = i + decimals;
    COPY(X, T);
    MULT(T, Y.cells[i]);
    shift_cells(T, s);
    ADD(T.cells, static_cast<std::int32_t>(T.top + s), +1, Z);
  }
}

void LONGMULT(const Reg& X, const Reg& Y, Reg& Z, ProductMemo* memo, bool yNext) {
  if (use_reference_kernels || !LONGMULT_fast(X, Y, Z, memo, yNext)) LONGMULT_reference(X, Y, Z);
}
