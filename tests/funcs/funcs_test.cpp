// Exp and square root: the registers they leave, and the values that have
// no square root or alarm.
#include <cmath>

#include "funcs/funcs.h"
#include "support.h"

namespace {

TEST(Exp, LeavesLastProductInScratch) {
  // exp(0.5) at D = 30: the series stops when X*T/k truncates to zero; S then
  // holds that last product X*T, which is below k units of the last cell.
  set_precision(30, 1);
  Reg X, R, S;
  ASSIGN(X, 0.5);
  EXP(X, R, S);
  EXPECT_EQ(cells_of(R)[1], 6487212707);  // exp(0.5) = 1.6487212707 0012820...
  std::vector<cell_t> s = cells_of(S);
  EXPECT_EQ(s[0] + s[1] + s[2], 0);
  EXPECT_GT(s[3], 0);
  EXPECT_LT(s[3], 40);
}

TEST(Sqrt, ZeroNegativeNanGiveZero) {
  set_precision(30, 11);
  for (double v : {0.0, -0.0, -2.0, std::nan("")}) {
    Reg R, S1, S2;
    ASSIGN(S1, 5);
    ASSIGN(S2, 5);
    int status = 0;
    capture([&] { SQRT(R, S1, S2, v); }, &status);
    EXPECT_EQ(status, -1) << v;
    for (const Reg* reg : {&R, &S1, &S2})
      for (cell_t c : cells_of(*reg)) EXPECT_EQ(c, 0) << v;
  }
}

TEST(Sqrt, InfiniteOrTooLargeAlarms) {
  set_precision(10, 1);
  Reg R, S1, S2;
  int status = 0;
  EXPECT_EQ(capture([&] { SQRT(R, S1, S2, INFINITY); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(capture([&] { SQRT(R, S1, S2, 1e10); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(status, 255);
}

}  // namespace
