// Constants and functions: square root, exponential, e and pi, each built on
// the register arithmetic. Every routine names its result and its scratch
// registers; a scratch register's former value is lost.
#pragma once

#include "arith/arith.h"

// R := sqrt(v) by the coupled Newton/Heron iteration, one pass per cell.
// S1, S2: scratch; afterwards S1 holds the final reciprocal y, S2 holds v*y.
void SQRT(Reg& R, Reg& S1, Reg& S2, double v);

// R := exp(X) by its Taylor series. S: scratch, left holding the last X*T.
void EXP(const Reg& X, Reg& R, Reg& S);

// The number of terms EXP(X) sums, estimated from X's two highest cells and
// the precision (0 for X = 0), for its progress report.
std::int64_t exp_terms_estimate(const Reg& X);

// R := e = sum of 1/k!. T: the term register, left at zero.
void ETO(Reg& R, Reg& T);

// P := pi = 24 arctan(1/8) + 8 arctan(1/57) + 4 arctan(1/239).
// Q, R: scratch for the 1/57 and 1/239 series, left at zero.
void PITO(Reg& P, Reg& Q, Reg& R);
