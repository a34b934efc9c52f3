// EXP and ETO: Taylor series summed until a term truncates to zero.
#include <algorithm>
#include <cstring>

#include "../interp/progress.h"
#include "accumulate.h"
#include "funcs.h"

namespace {

// dst := src where both are registers: cells above both tops are zero, so only
// the cells up to the higher top are copied.
void copy_significant(const Reg& src, Reg& dst) {
  const std::int64_t hi =
      std::min<std::int64_t>(std::max(src.top, dst.top), limit) - decimals;
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

// The fused form: one sweep from T's top down divides T by J successive k,
// each division with its own remainder taking the cells the one before has
// just produced, and adds every quotient cell into R's cells, held as running
// sums and carried once at the end (R stays below 3, so nothing overflows).
// Dividing a zero T again leaves it zero, so a sweep may run past the term
// that made T zero.
template <int J, class Step>
void divide_and_sum(Reg& T, Reg& R, const Step* steps) {
  u64 rem[J] = {};
  cell_t* const t = T.cells;
  cell_t* const r = R.cells;
  for (std::int64_t i = std::int64_t{T.top} - decimals; i >= 0; --i) {
    u64 c = static_cast<u64>(t[i]);
    u64 sum = 0;
    for (int j = 0; j < J; ++j) {
      c = steps[j].step(rem[j], c);
      sum += c;
    }
    t[i] = static_cast<cell_t>(c);
    r[i] += static_cast<cell_t>(sum);
  }
}

void eto_fused(Reg& R, Reg& T) {
  ASSIGN(R, 2);
  ASSIGN(T, 1);
  constexpr int J = 6;  // independent division chains in flight
  std::int64_t sinceCarry = 0;
  for (std::int64_t k = 2;; k += J) {
    const std::int64_t top = std::int64_t{T.top} - decimals;
    with_steps<J>(static_cast<u64>(k), 1, 0,
                  [&](const auto* steps) { divide_and_sum<J>(T, R, steps); });
    if (lower_top(T, top)) break;
    if ((sinceCarry += J) >= kSumTerms) {
      carry_cells(R);
      sinceCarry = 0;
    }
  }
  carry_cells(R);
  set_top_as_add(R);
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
  if (use_reference_kernels) return eto_reference(R, T);
  eto_fused(R, T);
}
