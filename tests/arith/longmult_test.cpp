// LONGMULT: partial products truncated one by one, top, and the alarms of
// partial products that need room above the factors. Each case runs through
// the dispatching kernel and through the reference.
#include <gtest/gtest.h>

#include "support.h"

namespace {

class LongMult : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { use_reference_kernels = GetParam(); }
  void TearDown() override { use_reference_kernels = false; }
};

TEST_P(LongMult, SimpleProducts) {
  set_run(10, 1);
  Reg A, B, C;
  ASSIGN(A, 2.5);
  ASSIGN(B, 4);
  LONGMULT(A, B, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{10, 0}));
  EXPECT_EQ(C.top, 0);
  ASSIGN(A, 0.5);
  LONGMULT(A, A, C);  // squaring: X and Y the same register
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{0, 2'500'000'000}));
  EXPECT_EQ(C.top, -1);
}

TEST_P(LongMult, EachPartialProductTruncatedOnItsOwn) {
  // 1/3 * 1/3 at D = 20: ...1109 rather than the truncated product ...1110.
  set_run(20, 1);
  Reg A, B, C;
  ASSIGN(A, 1);
  DIV(A, 3);
  COPY(A, B);
  LONGMULT(A, B, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{0, 1'111'111'111, 1'111'111'109}));
  // (10^10 - 0.5) * (10^-20 + 10^-30) at D = 30.
  set_run(30, 1);
  Reg X, Y, Z;
  set_cells(X, {9'999'999'999, 5'000'000'000, 0, 0});
  set_cells(Y, {0, 0, 1, 1});
  LONGMULT(X, Y, Z);
  EXPECT_EQ(cells_of(Z), (std::vector<cell_t>{0, 1, 0, 4'999'999'999}));
  EXPECT_EQ(Z.top, -1);
}

TEST_P(LongMult, PartialProductNeedsRoomBeforeItIsShifted) {
  set_run(10, 10);
  Reg A, B, C;
  ASSIGN(A, 2);
  ASSIGN(B, 0.5);
  int status = 0;
  EXPECT_EQ(capture([&] { LONGMULT(A, B, C); }, &status), "\nError in: MULT");
  EXPECT_EQ(status, 255);
  set_run(10, 11);
  Reg A2, B2, C2;
  ASSIGN(A2, 2);
  ASSIGN(B2, 0.5);
  LONGMULT(A2, B2, C2);
  EXPECT_EQ(cells_of(C2), (std::vector<cell_t>{0, 1, 0}));
  // 10^5 * 10^5 at limit 0 overflows in the units cell's partial product.
  set_run(10, 10);
  Reg A3, B3, C3;
  ASSIGN(A3, 1e5);
  ASSIGN(B3, 1e5);
  EXPECT_EQ(capture([&] { LONGMULT(A3, B3, C3); }), "\nError in: MULT");
}

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

TEST_P(LongMult, ZeroSecondFactor) {
  set_run(20, 1);
  Reg A, B, C;
  ASSIGN(A, 3);
  set_cells(B, {0, 0, 0});  // zero with top at decimals: one pass
  LONGMULT(A, B, C);
  EXPECT_EQ(C.top, decimals);
  ASSIGN(B, 1e-40);  // top below decimals: no pass, top 0
  LONGMULT(A, B, C);
  EXPECT_EQ(C.top, 0);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{0, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Kernels, LongMult, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) {
                           return i.param ? "reference" : "dispatch";
                         });

}  // namespace
