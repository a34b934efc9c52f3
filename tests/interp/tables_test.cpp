// Tables whose size comes from the input: they must end by their alarms, not
// by exhausting memory or time.
#include <gtest/gtest.h>

#include "support.h"

namespace {

TEST(IsomerTable, HugeCountEndsWhenTheCountsOutgrowTheRegisters) {
  RunResult r = run_script("0\n40\n21\n1000000000\n");
  EXPECT_EQ(r.status, 255);
  std::size_t err = r.out.rfind("\nError in: ");
  ASSERT_NE(err, std::string::npos);
  std::string routine = r.out.substr(err + 11);
  EXPECT_TRUE(routine == "MULT" || routine == "LONGMULT" || routine == "ADD") << routine;
  // The counts of 40 digits run out after some tens of carbons.
  EXPECT_NE(r.out.find("\nN: 40\n"), std::string::npos);
  EXPECT_EQ(r.out.find("\nN: 200\n"), std::string::npos);
  EXPECT_EQ(register_bytes_in_use(), 0);
}

TEST(FactorialTable, RowsAfterAZeroProductAreSkippedNotComputed) {
  // From N = 0 the product is zero; 10^6 rows apart over a range of 10^7
  // multiplications: eleven rows of zero. (E = 10^8 lets the check pass.)
  RunResult r = run_script("0\n100000000\n18\n0\n1000000\n10000000\n22\n-1\n");
  EXPECT_EQ(r.status, 0);
  std::size_t rows = 0;
  for (std::size_t at = r.out.find("FAC(N)"); at != std::string::npos; at = r.out.find("FAC(N)", at + 1))
    ++rows;
  EXPECT_EQ(rows, 11u);
  EXPECT_NE(r.out.find("\nN: 10000000, FAC(N): \n            \n"), std::string::npos);
}

}  // namespace
