// PITO: Stormer's formula with the three arctangent series advanced together.
// Term k is (-1)^k/(2k+1) * (3/64^k + (8/57)/3249^k + (4/239)/57121^k).
#include "funcs.h"

void PITO(Reg& P, Reg& Q, Reg& R) {
  Reg S1;  // the 1/8 series
  Reg S2;  // the sum of the current terms
  ASSIGN(P, 0);
  ASSIGN(S1, 3.0);
  ASSIGN(Q, 24.0);
  bool qDone = DIV(Q, 171);
  ASSIGN(R, 24.0);
  bool rDone = DIV(R, 1434);
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
