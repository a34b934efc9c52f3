// PITO: Stormer's formula with the three arctangent series advanced together,
// by splitting (series_split.cpp) above a few cells.
// Term k is (-1)^k/(2k+1) * (3/64^k + (8/57)/3249^k + (4/239)/57121^k).
#include "funcs/funcs.h"
#include "funcs/series_split.h"

namespace {

// P = 0 and the first terms of the series: S1 = 3, Q = 24/171, R = 24/1434.
// qDone, rDone: whether Q and R are finished (zero) already.
void start_series(Reg& P, Reg& S1, Reg& Q, Reg& R, bool& qDone, bool& rDone) {
  ASSIGN(P, 0);
  ASSIGN(S1, 3.0);
  ASSIGN(Q, 24.0);
  qDone = DIV(Q, 171);
  ASSIGN(R, 24.0);
  rDone = DIV(R, 1434);
}

// The straightforward form: per term, S2 := S1 + Q + R by ADD, S2 := S2 / d
// and P := P +- S2, then each series divided by its ratio.
void pito_reference(Reg& P, Reg& Q, Reg& R) {
  Reg S1;  // the 1/8 series
  Reg S2;  // the sum of the current terms
  bool qDone = false;
  bool rDone = false;
  start_series(P, S1, Q, R, qDone, rDone);
  int sign = -1;
  for (std::int64_t d = 1;; d += 2) {
    ASSIGN(S2, 0);
    ADD(S1, +1, S2);
    if (!qDone) ADD(Q, +1, S2);
    if (!rDone) ADD(R, +1, S2);
    DIV(S2, d);
    sign = -sign;
    ADD(S2, sign, P);
    bool s1Done = DIV(S1, 64);
    if (!qDone) qDone = DIV(Q, 3249);
    if (!rDone) rDone = DIV(R, 57121);
    if (s1Done) break;
  }
}

}  // namespace

// The reference form allocates two registers: the split must leave room for
// them, so that both run out of memory alike.
void PITO(Reg& P, Reg& Q, Reg& R) {
  if (use_reference_kernels || !pito_split(P, Q, R, 2 * ncells() * std::int64_t{sizeof(cell_t)}))
    pito_reference(P, Q, R);
}
