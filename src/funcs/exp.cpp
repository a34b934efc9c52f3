// EXP and ETO: Taylor series summed until a term truncates to zero.
#include <algorithm>
#include <cstring>

#include "funcs/funcs.h"
#include "funcs/series_split.h"
#include "interp/progress.h"

namespace {

// dst := src where both are registers: cells above both tops are zero, so only
// the cells up to the higher top are copied.
void copy_significant(const Reg& src, Reg& dst) {
  const std::int64_t hi = std::min<std::int64_t>(std::max(src.top, dst.top), limit) - decimals;
  if (hi >= 0) std::memcpy(dst.cells, src.cells, static_cast<std::size_t>(hi + 1) * sizeof(cell_t));
  dst.top = src.top;
}

void eto_reference(Reg& R, Reg& T) {
  ASSIGN(R, 2);
  ASSIGN(T, 1);
  for (std::int64_t k = 2;; ++k) {
    bool zero = DIV(T, k);
    ADD(T, +1, R);
    if (zero) break;
  }
}

}  // namespace

// Term k is (term k-1 times X, truncated) divided by k, truncated. LONGMULT,
// DIV and the walk of ADD follow T's cells from its top down; the fast form
// limits the copy of X * T into T to the same cells.
void EXP(const Reg& X, Reg& R, Reg& S) {
  Reg T;
  ASSIGN(R, 1);
  COPY(X, T);
  ADD(X, +1, R);
  progress_series(X);
  for (std::int64_t k = 2;; ++k) {
    progress_step(k);
    LONGMULT(X, T, S);
    if (use_reference_kernels) {
      COPY(S, T);
    } else {
      copy_significant(S, T);
    }
    bool zero = DIV(T, k);
    ADD(T, +1, R);
    if (zero) break;
  }
}

void ETO(Reg& R, Reg& T) {
  if (use_reference_kernels || !eto_split(R, T)) eto_reference(R, T);
}
