// MULT and DIV: the fast kernels against the reference kernels on random
// registers and factors, alarms included.
#include <gtest/gtest.h>

#include "arith/divisor.h"
#include "random_operands.h"

namespace {

// MULT or DIV of A (a copy in B for the reference) by m; DIV's flag compared too.
testing::AssertionResult scalar_agrees(bool divide, Reg (&A)[1], Reg (&B)[1], std::int64_t m) {
  std::ostringstream what;
  what << describe_run() << ", " << (divide ? "DIV" : "MULT") << " by " << m << " of "
       << describe(A[0]);
  bool flag[2] = {false, false};
  testing::AssertionResult same = agree_with_reference(what.str(), A, B, [&](Reg* R) {
    if (divide) {
      flag[use_reference_kernels] = DIV(R[0], m);
    } else {
      MULT(R[0], m);
    }
  });
  if (same && flag[0] != flag[1])
    return testing::AssertionFailure() << what.str() << "\nwant flag " << flag[1];
  return same;
}

TEST(ScalarFast, MatchesReference) {
  Operands ops("ScalarMatchesReference");
  for (int round = 0; round < 8000; ++round) {
    auto [D, E] = ops.shape(250);
    set_run(D, E);
    Reg A[1], B[1];
    ops.fill(A[0]);
    COPY(A[0], B[0]);
    ASSERT_TRUE(scalar_agrees(round % 2 == 1, A, B, ops.factor()));
  }
}

// Products and quotients that use every path on long registers: large factors
// on values with room above them, divisors around the path boundaries.
TEST(ScalarFast, LongRegistersAtPathBoundaries) {
  Operands ops("LongRegistersAtPathBoundaries");
  const std::int64_t kFactors[] = {1844674407, 1844674408, 922337203, 922337204,
                                   std::int64_t{1} << 62, std::numeric_limits<std::int64_t>::max()};
  for (int round = 0; round < 200; ++round) {
    set_run(static_cast<int>(ops.below(3000)), 250);
    for (std::int64_t m : kFactors) {
      for (bool divide : {false, true}) {
        Reg A[1], B[1];
        ops.fill(A[0], limit - 3);
        COPY(A[0], B[0]);
        ASSERT_TRUE(scalar_agrees(divide, A, B, m));
      }
    }
  }
}

// The two reciprocal divisions against native 128-bit division.
TEST(Divisors, AgreeWithNativeDivision) {
  Operands ops("DivisorsAgreeWithNativeDivision");
  for (int round = 0; round < 20000; ++round) {
    std::uint64_t d = static_cast<std::uint64_t>(ops.factor());
    if (static_cast<std::int64_t>(d) <= 0) d = 1 + ops.below(1000);
    // WideDivisor: any t < d * 2^64.
    const WideDivisor wd(d);
    const u128 tw = (static_cast<u128>(ops.below(d)) << 64) | ops.below(~std::uint64_t{0});
    for (u128 t : {tw, u128{0}, static_cast<u128>(d) * (u128{1} << 64) - 1, static_cast<u128>(d)}) {
      u64 q = 0;
      u64 r = 0;
      wd.divrem(t, q, r);
      ASSERT_EQ(q, static_cast<u64>(t / d)) << "d " << d;
      ASSERT_EQ(r, static_cast<u64>(t % d)) << "d " << d;
    }
    // ShortDivisor: d >= 2 and t < 2^63.
    if (d < 2 || d >= (std::uint64_t{1} << 63)) continue;
    const ShortDivisor sd(d);
    const u64 ts = ops.below(std::uint64_t{1} << 63);
    for (u64 t : {ts, u64{0}, (u64{1} << 63) - 1, d - 1, d, ts - ts % d, ts - ts % d - 1}) {
      if (t >= (u64{1} << 63)) continue;
      ASSERT_EQ(sd.quot(t), t / d) << "t " << t << " d " << d;
    }
  }
}

}  // namespace
