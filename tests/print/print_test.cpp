// PRINT: the twelve-character cells, blanks, point and line breaks.
#include <gtest/gtest.h>

#include "print/print.h"
#include "support.h"

namespace {

std::string printed(const Reg& R) {
  return capture([&] { PRINT(R); });
}

TEST(Print, LeadingBlanksAndPoint) {
  set_run(10, 1);
  Reg A;
  ASSIGN(A, 2.5);
  EXPECT_EQ(printed(A), "\n          2.50000 00000 ");
  set_cells(A, {0, 0});
  EXPECT_EQ(printed(A), "\n           .00000 00000 ");
  set_cells(A, {0, 5});  // zeros after the point print as '0'
  EXPECT_EQ(printed(A), "\n           .00000 00005 ");
}

TEST(Print, NoPointWithoutFraction) {
  set_run(0, 20);
  Reg A;
  ASSIGN(A, 7);
  EXPECT_EQ(printed(A), "\n          7 ");
  set_cells(A, {1, 1});
  EXPECT_EQ(printed(A), "\n          1 00000 00001 ");
  set_cells(A, {0, 0});
  EXPECT_EQ(printed(A), "\n            ");
}

TEST(Print, SixCellsToALine) {
  set_run(60, 1);
  Reg A;
  ASSIGN(A, 1);
  DIV(A, 3);
  std::string third(" 33333 33333 ");
  std::string want = "\n           ." + third.substr(1);
  for (int i = 0; i < 4; ++i) want += third.substr(1);
  want += "\n" + third.substr(1);
  EXPECT_EQ(printed(A), want);
  set_run(50, 1);  // exactly six cells: no newline after the sixth
  Reg B;
  ASSIGN(B, 1);
  EXPECT_EQ(printed(B).find('\n', 1), std::string::npos);
}

TEST(Print, StartsAtTopAboveUnits) {
  set_run(10, 21);
  Reg A;
  set_cells(A, {0, 12, 0, 0});
  EXPECT_EQ(printed(A), "\n         12 00000 00000.00000 00000 ");
}

TEST(Print, RunWithoutUnitsCellShowsAZeroUnitsCell) {
  set_run(20, -9);  // cells -2..-1
  Reg A;
  ASSIGN(A, 0.5);
  EXPECT_EQ(printed(A), "\n           .50000 00000 00000 00000 ");
  set_run(0, -9);  // no cells
  Reg B;
  EXPECT_EQ(printed(B), "\n            ");
}

}  // namespace
