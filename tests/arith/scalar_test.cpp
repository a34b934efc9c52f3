// MULT and DIV at the limits of a 64-bit factor or divisor, the zero flag, and
// the refusal of negative factors and of runs without a units cell.
#include <gtest/gtest.h>

#include <limits>

#include "support.h"

namespace {

TEST(Mult, LargestFactorIsExact) {
  // (10^10 - 1) * (2^63 - 1) = 92233720358 53775807 * 10^10 - (2^63 - 1).
  set_run(0, 40);
  Reg A;
  set_cells(A, {kBase - 1});
  MULT(A, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 922337203, 5932438603, 3145224193}));
  EXPECT_EQ(A.top, 2);
}

TEST(Mult, NegativeFactorAlarms) {
  set_run(0, 20);
  Reg A;
  ASSIGN(A, 3);
  int status = 0;
  EXPECT_EQ(capture([&] { MULT(A, -1); }, &status), "\nError in: MULT");
  EXPECT_EQ(status, 255);
}

TEST(Div, HugeDivisorAndRemainderAcrossCells) {
  // (10^20 + 5) / (2^63 - 1) = 10 remainder 7766279631452241925 + 5.
  set_run(0, 30);
  Reg A;
  set_cells(A, {1, 0, 5});
  EXPECT_FALSE(DIV(A, std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 0, 10}));
  EXPECT_EQ(A.top, 0);
}

TEST(Div, ZeroRegisterReportsZero) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 1e-30);
  EXPECT_TRUE(DIV(A, 7));
  EXPECT_EQ(A.top, -3);
}

TEST(Div, TopAboveLimitInRunWithoutUnitsCell) {
  set_run(30, -9);  // cells -3..-1; a zero load leaves top 0
  Reg A;
  ASSIGN(A, 0);
  EXPECT_TRUE(DIV(A, 3));
  EXPECT_EQ(A.top, decimals);
}

}  // namespace
