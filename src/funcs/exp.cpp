// EXP and ETO: Taylor series summed until a term truncates to zero.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "funcs/funcs.h"
#include "funcs/series_split.h"
#include "io.h"

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

// Term k of exp(x) is x^k/k!; the series ends at the first term below the
// last kept decimal, the first k past x with k ln x - ln k! < ln 10^(10 decimals).
// x is read from X's two highest cells.
std::int64_t exp_terms_estimate(const Reg& X) {
  const std::int64_t top = std::int64_t{X.top} - decimals;
  double x = 0;
  if (top >= 0 && top < ncells()) {
    x = static_cast<double>(X.cells[top]) * std::pow(1e10, X.top);
    if (top > 0) x += static_cast<double>(X.cells[top - 1]) * std::pow(1e10, X.top - 1);
  }
  if (!(x > 0) || !std::isfinite(x)) return 0;
  const double bound = 10.0 * decimals * std::log(10.0);
  auto below = [&](double k) { return k * std::log(x) - std::lgamma(k + 1) < bound; };
  double lo = std::max(1.0, std::floor(x));
  double hi = lo;
  while (!below(hi) && hi < 1e15) hi *= 2;
  while (hi - lo > 1) {
    double mid = std::floor((lo + hi) / 2);
    (below(mid) ? hi : lo) = mid;
  }
  return static_cast<std::int64_t>(hi);
}

// Term k is (term k-1 times X, truncated) divided by k, truncated. LONGMULT,
// DIV and the walk of ADD follow T's cells from its top down; the fast form
// limits the copy of X * T into T to the same cells.
void EXP(const Reg& X, Reg& R, Reg& S) {
  Reg T;
  ASSIGN(R, 1);
  COPY(X, T);
  ADD(X, +1, R);
  if (progress_heard()) progress_stage("exp term", exp_terms_estimate(X), true);
  for (std::int64_t k = 2;; ++k) {
    progress_step(k);
    LONGMULT(X, T, S);
    bool zero = false;
    if (use_reference_kernels) {
      COPY(S, T);
    } else if (DIV_ADD_fast(S, T, k, R, zero)) {
      if (zero) break;
      continue;
    } else {
      copy_significant(S, T);
    }
    zero = DIV(T, k);
    ADD(T, +1, R);
    if (zero) break;
  }
}

void ETO(Reg& R, Reg& T) {
  if (use_reference_kernels || !eto_split(R, T)) eto_reference(R, T);
}
