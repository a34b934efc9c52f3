// MULT and DIV by machine integers: cells, top bookkeeping, alarms.
#include <gtest/gtest.h>

#include <limits>

#include "support.h"

namespace {

TEST(Mult, ByIntegers) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 2.5);
  MULT(A, 4);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{10, 0}));
  EXPECT_EQ(A.top, 0);
  // 1 * (10^10 + 1) at D = 0, E = 20 spreads over two cells and raises top.
  set_run(0, 20);
  Reg B;
  ASSIGN(B, 1);
  MULT(B, kBase + 1);
  EXPECT_EQ(cells_of(B), (std::vector<cell_t>{1, 1}));
  EXPECT_EQ(B.top, 1);
}

TEST(Mult, LargestFactorIsExact) {
  // (10^10 - 1) * (2^63 - 1) = 92233720358 53775807 * 10^10 - (2^63 - 1).
  set_run(0, 40);
  Reg A;
  set_cells(A, {kBase - 1});
  MULT(A, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 922337203, 5932438603, 3145224193}));
  EXPECT_EQ(A.top, 2);
}

TEST(Mult, ByZeroKeepsTop) {
  set_run(10, 21);
  Reg A;
  set_cells(A, {5, 3, 1});
  MULT(A, 0);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 0, 0, 0}));
  EXPECT_EQ(A.top, 1);
}

TEST(Mult, ZeroFromTinyLoadWalksAndStaysZero) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 1e-30);
  MULT(A, 12345);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 0}));
  EXPECT_EQ(A.top, -3);
}

TEST(Mult, CarryOutOfTopCellAlarms) {
  set_run(0, 20);
  Reg A;
  set_cells(A, {5'000'000'000, 0});
  int status = 0;
  EXPECT_EQ(capture([&] { MULT(A, 2); }, &status), "\nError in: MULT");
  EXPECT_EQ(status, 255);
}

TEST(Mult, NegativeFactorAlarms) {
  set_run(0, 20);
  Reg A;
  ASSIGN(A, 3);
  int status = 0;
  EXPECT_EQ(capture([&] { MULT(A, -1); }, &status), "\nError in: MULT");
  EXPECT_EQ(status, 255);
}

TEST(Div, TruncatesAndLowersTop) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 2.5);
  EXPECT_FALSE(DIV(A, 4));
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 6'250'000'000}));
  EXPECT_EQ(A.top, -1);
  ASSIGN(A, 1);
  DIV(A, 3);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 3'333'333'333}));
  // 1 / 10^10 is the last cell's unit; halving it gives zero with top at decimals.
  ASSIGN(A, 1);
  EXPECT_FALSE(DIV(A, kBase));
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 1}));
  EXPECT_TRUE(DIV(A, 2));
  EXPECT_EQ(A.top, decimals);
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

TEST(Div, ZeroOrNegativeDivisorAlarms) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 1);
  int status = 0;
  EXPECT_EQ(capture([&] { DIV(A, 0); }, &status), "\nError in: DIV");
  EXPECT_EQ(status, 255);
  EXPECT_EQ(capture([&] { DIV(A, -2); }, &status), "\nError in: DIV");
}

TEST(Div, TopAboveLimitInRunWithoutUnitsCell) {
  set_run(30, -9);  // cells -3..-1; a zero load leaves top 0
  Reg A;
  ASSIGN(A, 0);
  EXPECT_TRUE(DIV(A, 3));
  EXPECT_EQ(A.top, decimals);
}

}  // namespace
