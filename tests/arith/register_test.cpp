// Precision of a run, ASSIGN at the edges of a double's range, allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support.h"

namespace {

TEST(Precision, FromDigits) {
  struct Row { int D, E, decimals, limit; };
  for (Row r : {Row{0, 1, 0, 0}, Row{1, 10, -1, 0}, Row{10, 11, -1, 1}, Row{11, 20, -2, 1},
                Row{100, 21, -10, 2}, Row{20, -8, -2, 0}, Row{20, -9, -2, -1},
                Row{20, -18, -2, -1}, Row{20, -19, -2, -2},
                Row{2147483647, -2147483647 - 1, -214748365, -214748364}}) {
    set_run(r.D, r.E);
    EXPECT_EQ(decimals, r.decimals) << r.D;
    EXPECT_EQ(limit, r.limit) << r.E;
    EXPECT_EQ(c39, r.limit - r.decimals);
  }
}

TEST(Assign, TooLargeOrInfiniteAlarms) {
  set_run(10, 10);
  Reg R;
  int status = 0;
  EXPECT_EQ(capture([&] { ASSIGN(R, 1e10); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(status, 255);
  EXPECT_EQ(capture([&] { ASSIGN(R, std::nextafter(1e10, 0)); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(capture([&] { ASSIGN(R, -INFINITY); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(status, 255);
}

TEST(Assign, ValueStartingACellHigherThanTheLogarithmSaysIsRenormalised) {
  // ln(1e150) * K falls just short of 15, so 1e150 / 10^140 comes out at 10^10.
  set_run(0, 160);
  Reg R;
  ASSIGN(R, 1e150);
  EXPECT_EQ(R.top, 15);
  for (std::int64_t i = 0; i < ncells(); ++i) {
    EXPECT_GE(R.cells[i], 0);
    EXPECT_LT(R.cells[i], kBase);
  }
  EXPECT_EQ(R.cells[15], 1);
  EXPECT_EQ(R.cells[14], 0);
}

TEST(Assign, SubnormalRangeGivesExactCells) {
  // 2^-1074 = 4.94065645841246544...e-324 = 4940656.4584124654... * 10^-330:
  // top cell 4940656 at index -33, then the next ten digits.
  set_run(340, 1);
  Reg R;
  ASSIGN(R, std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(R.top, -33);
  EXPECT_EQ(R.at(-33), 4'940'656);
  EXPECT_EQ(R.at(-34), 4'584'124'654);
  // The double nearest 1e-305 is 9.99999999999999996...e-306, that is
  // 99999.9999999999996... * 10^-310: truncated, not rounded up to 10^5.
  ASSIGN(R, 1e-305);
  EXPECT_EQ(R.top, -31);
  EXPECT_EQ(R.at(-31), 99'999);
  EXPECT_EQ(R.at(-32), 9'999'999'999);
}

TEST(Assign, NegativeLimitRuns) {
  set_run(0, -9);  // no cells at all
  ASSERT_EQ(ncells(), 0);
  Reg R;
  ASSIGN(R, 0);
  EXPECT_EQ(R.top, 0);
  int status = 0;
  capture([&] { ASSIGN(R, 1); }, &status);
  EXPECT_EQ(status, 255);
  ASSIGN(R, 1e-30);  // fits nowhere, but is not too large
  EXPECT_EQ(R.top, -3);

  set_run(30, -9);  // cells -3..-1
  Reg S;
  ASSIGN(S, 0.25);
  EXPECT_EQ(cells_of(S), (std::vector<cell_t>{2'500'000'000, 0, 0}));
}

TEST(Alloc, BudgetRefusesHugeRegisters) {
  set_run(1000000, 1);
  set_register_budget(1 << 19);
  int status = 0;
  std::string out = capture([] { Reg R; }, &status);
  set_register_budget(std::int64_t{1} << 40);
  EXPECT_EQ(out, "\nError in: ALLOC");
  EXPECT_EQ(status, 255);
  EXPECT_EQ(register_bytes_in_use(), 0);
}

}  // namespace
