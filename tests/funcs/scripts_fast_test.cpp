// Whole scripts of random commands give the same bytes and status with the
// fast kernels as with the reference kernels.
#include <gtest/gtest.h>

#include "random_operands.h"

namespace {

std::string random_script(Operands& ops) {
  std::ostringstream s;
  const bool tables = ops.chance(20);
  const int D = static_cast<int>(ops.below(tables ? 40 : ops.chance(10) ? 1500 : 300));
  const int E = tables ? 150 + static_cast<int>(ops.below(200)) : 1 + static_cast<int>(ops.below(45));
  s << D << '\n' << E << '\n';
  const int commands = 3 + static_cast<int>(ops.below(12));
  for (int c = 0; c < commands; ++c) {
    static const int kCodes[] = {1, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 23};
    int code = kCodes[ops.below(sizeof kCodes / sizeof kCodes[0])];
    if (tables && ops.chance(50)) code = 18 + static_cast<int>(ops.below(4));
    s << code << '\n';
    switch (code) {
      case 1: s << ops.real() << '\n'; break;
      case 11:
      case 12: s << (ops.chance(50) ? ops.factor() : static_cast<std::int64_t>(ops.below(100000))) << '\n'; break;
      case 16: s << (ops.chance(80) ? ops.real() : -ops.real()) << '\n'; break;
      case 17: s << std::vector<int>{2, 3, 163, 5, 0, 1}[ops.below(6)] << '\n'; break;
      case 18: s << ops.below(5) << '\n' << 1 + ops.below(3) << '\n' << ops.below(60) << '\n'; break;
      case 19:
      case 20:
        s << ops.below(5) << '\n' << 1 + ops.below(3) << '\n' << ops.below(30) << '\n'
          << ops.below(40) << '\n';
        break;
      case 21: s << ops.below(14) << '\n'; break;
      default: break;
    }
  }
  s << "2\n22\n-1\n";
  return s.str();
}

TEST(ScriptsFast, SameBytesAsReference) {
  Operands ops("ScriptsSameBytesAsReference");
  for (int round = 0; round < 400; ++round) {
    const std::string script = random_script(ops);
    use_reference_kernels = false;
    RunResult fast = run_script(script);
    use_reference_kernels = true;
    RunResult ref = run_script(script);
    use_reference_kernels = false;
    ASSERT_EQ(fast.status, ref.status) << "script:\n" << script;
    ASSERT_EQ(fast.out, ref.out) << "script:\n" << script;
  }
}

}  // namespace
