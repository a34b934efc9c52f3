// The scanners, driven through whole scripts: numbers are echoed by the
// commands that read them, errors and end of input end the run.
#include <gtest/gtest.h>

#include "support.h"

namespace {

// Output of command 11 (integer argument) or 1 (real argument) after a run
// header, with the argument text `arg`.
std::string echo_int(const std::string& arg) {
  return run_script("0\n1\n11\n" + arg).out.substr(std::string("\nD: 0\nE: 1\n\nNo: 11 A := A*r;").size());
}
std::string echo_real(const std::string& arg) {
  return run_script("0\n1\n1\n" + arg).out.substr(std::string("\nD: 0\nE: 1\n\nNo: 1 A := r;").size());
}

TEST(ReadInteger, WrapsBeyondSixtyFourBits) {
  // 2^64 + 5 wraps to 5.
  EXPECT_EQ(echo_int("18446744073709551621\n").substr(0, 8), "\nr := 5\n");
}

TEST(ReadReal, HugeExponentsSaturate) {
  EXPECT_EQ(echo_real("1e99999999999\n").substr(0, 10), "\nr := inf\n");
  EXPECT_EQ(echo_real("1e-99999999999\n").substr(0, 8), "\nr := 0\n");
  // zero times an infinite power of ten is not a number (and loads as zero)
  EXPECT_EQ(echo_real("0e99999999999\n").substr(0, 11), "\nr := -nan\n");
}

}  // namespace
