// PRINT: the fast digit formatting against the reference on random registers,
// leading blanks, the point, line breaks and runs without a units cell.
#include <gtest/gtest.h>

#include "print/print.h"
#include "random_operands.h"

namespace {

TEST(PrintFast, MatchesReference) {
  Operands ops("PrintMatchesReference");
  for (int round = 0; round < 3000; ++round) {
    auto [D, E] = ops.shape(300);
    set_run(D, E);
    Reg A[1], B[1];
    ops.fill(A[0]);
    COPY(A[0], B[0]);
    ASSERT_TRUE(agree_with_reference(describe_run() + ", PRINT of " + describe(A[0]), A, B,
                                     [](Reg* R) { PRINT(R[0]); }));
  }
}

}  // namespace
