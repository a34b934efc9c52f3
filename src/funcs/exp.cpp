// EXP and ETO: Taylor series summed until a term truncates to zero.
#include "funcs.h"

// Term k is (term k-1 times X, truncated) divided by k, truncated.
void EXP(const Reg& X, Reg& R, Reg& S) {
  Reg T;
  ASSIGN(R, 1);
  COPY(X, T);
  ADD(X, +1, R);
  for (std::int64_t k = 2;; ++k) {
    LONGMULT(X, T, S);
    COPY(S, T);
    bool zero = DIV(T, k);
    ADD(T, +1, R);
    if (zero) break;
  }
}

void ETO(Reg& R, Reg& T) {
  ASSIGN(R, 2);
  ASSIGN(T, 1);
  for (std::int64_t k = 2;; ++k) {
    bool zero = DIV(T, k);
    ADD(T, +1, R);
    if (zero) break;
  }
}
