// ADD: carries and borrows across the register, the walk's early stop, and
// top in one-cell and cell-less runs.
#include <gtest/gtest.h>

#include "support.h"

namespace {

constexpr cell_t kMax = kBase - 1;

TEST(Add, CarryAndBorrowRunThroughWholeRegister) {
  set_run(30, 21);  // cells 2..-3
  Reg A, B;
  set_cells(A, {0, kMax, kMax, kMax, kMax, kMax});
  set_cells(B, {0, 0, 0, 0, 0, 1});
  ADD(B, +1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(A.top, 2);
  ADD(B, -1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, kMax, kMax, kMax, kMax, kMax}));
  EXPECT_EQ(A.top, 1);
}

TEST(Add, TopIsLimitWhenOneCellOrTopCellSet) {
  set_run(0, 1);  // a single cell: decimals == limit
  Reg A, B;
  ASSIGN(B, 0);
  ASSIGN(A, 0);
  ADD(B, +1, A);
  EXPECT_EQ(A.top, limit);
  set_run(10, 11);
  Reg C, D;
  set_cells(C, {1, 0, 0});
  ADD(D, +1, C);
  EXPECT_EQ(C.top, 1);
}

TEST(Add, WalkStopsAfterSourceTopOnceNoCarryIsLeft) {
  // Cells above the source's top are not touched: a deliberately invalid
  // destination cell above it survives the walk.
  set_run(20, 11);
  Reg A, B;
  set_cells(A, {kBase + 7, 0, 1, 2});
  set_cells(B, {0, 0, 0, 5});
  ADD(B, +1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{kBase + 7, 0, 1, 7}));
  // A source zero from a tiny load (top below decimals) processes one cell.
  Reg Z;
  ASSIGN(Z, 1e-40);
  ASSERT_LT(Z.top, decimals);
  set_cells(A, {0, 4, 1, 7});
  ADD(Z, +1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 4, 1, 7}));
  EXPECT_EQ(A.top, 0);
}

TEST(Add, NoCellsAtAll) {
  set_run(0, -9);
  Reg A, B;
  ADD(B, +1, A);
  EXPECT_EQ(A.top, limit);
}

}  // namespace
