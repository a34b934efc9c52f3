// ADD: the fast top recomputation against the reference on random registers,
// mostly zero ones at large E included, with overflow and negative results.
#include <gtest/gtest.h>

#include "random_operands.h"

namespace {

TEST(AddFast, MatchesReference) {
  Operands ops("AddMatchesReference");
  for (int round = 0; round < 6000; ++round) {
    auto [D, E] = ops.shape(200);
    if (ops.chance(25)) E = 400 + static_cast<int>(ops.below(400));  // tables: mostly zero cells
    set_run(D, E);
    Reg src, A[1], B[1];
    ops.fill(src);
    ops.fill(A[0]);
    if (ops.chance(20)) COPY(src, A[0]);  // equal operands: zero difference
    COPY(A[0], B[0]);
    const int f = ops.chance(50) ? +1 : -1;
    std::ostringstream what;
    what << describe_run() << ", ADD f=" << f << " of " << describe(src) << " into " << describe(A[0]);
    ASSERT_TRUE(agree_with_reference(what.str(), A, B, [&](Reg* R) { ADD(src, f, R[0]); }));
  }
}

}  // namespace
