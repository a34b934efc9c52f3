// LONGMULT alarms that the whole-program cases do not reach: a shifted partial
// product above `limit`, and a sum of fitting partial products that does not
// fit. Each case runs through the dispatching kernel and through the reference.
#include <gtest/gtest.h>

#include "support.h"

namespace {

class LongMult : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { use_reference_kernels = GetParam(); }
  void TearDown() override { use_reference_kernels = false; }
};

TEST_P(LongMult, ShiftAboveLimitAlarms) {
  // 10^10 (top cell 1) times 10^10 at limit 1: the partial product fits, its
  // shift by one cell does not.
  set_run(0, 20);
  Reg A, B, C;
  set_cells(A, {1, 0});
  set_cells(B, {1, 0});
  EXPECT_EQ(capture([&] { LONGMULT(A, B, C); }), "\nError in: LONGMULT");
}

TEST_P(LongMult, SumAboveLimitAlarms) {
  set_run(0, 10);
  Reg A, B, C;
  set_cells(A, {kBase - 1});
  set_cells(B, {1});
  LONGMULT(A, B, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{kBase - 1}));
  // Two partial products that fit but whose sum does not: limit 1, X = 10^10 - 1,
  // Y = 10^10 + 1 (cells 1, 1): X + X*10^10 = 10^20 - 1 fits; X*(10^10+2) does not.
  set_run(0, 20);
  Reg X, Y, Z;
  set_cells(X, {0, kBase - 1});
  set_cells(Y, {1, 2});
  EXPECT_EQ(capture([&] { LONGMULT(X, Y, Z); }), "\nError in: ADD");
}

INSTANTIATE_TEST_SUITE_P(Kernels, LongMult, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) {
                           return i.param ? "reference" : "dispatch";
                         });

}  // namespace
