// SQRT: each pass improves the reciprocal y by Newton's step y(2 - xy) and the
// root x by Heron's step (x + vy)/2, so no long division is needed.
#include <algorithm>
#include <cmath>

#include "funcs.h"

void SQRT(Reg& R, Reg& S1, Reg& S2, double v) {
  Reg M;
  Reg Y;
  ASSIGN(M, v);
  ASSIGN(R, std::sqrt(v));
  // sqrt(0) has no finite reciprocal: start y at zero, so every pass keeps
  // the root at zero, as for the roots of negative values (NaN loads as zero).
  ASSIGN(Y, v == 0 ? 0.0 : 1 / std::sqrt(v));
  const std::int64_t passes = std::int64_t{std::max(R.top, Y.top)} - decimals + 1;
  for (std::int64_t k = 0; k < passes; ++k) {
    LONGMULT(R, Y, S1);  // x*y
    ASSIGN(S2, 2);
    ADD(S1, -1, S2);     // 2 - x*y
    LONGMULT(Y, S2, S1); // new y
    LONGMULT(S1, M, S2); // v * new y
    COPY(S1, Y);
    ADD(S2, +1, R);
    DIV(R, 2);
  }
}
