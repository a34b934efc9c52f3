// PRINT in runs whose registers have no units cell.
#include <gtest/gtest.h>

#include "print/print.h"
#include "support.h"

namespace {

std::string printed(const Reg& R) {
  return capture([&] { PRINT(R); });
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
