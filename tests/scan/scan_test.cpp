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

TEST(ReadInteger, SignsBlanksAndSeparators) {
  EXPECT_EQ(echo_int("42\n").substr(0, 9), "\nr := 42\n");
  EXPECT_EQ(echo_int("-0;").substr(0, 8), "\nr := 0\n");
  EXPECT_EQ(echo_int("+7,").substr(0, 8), "\nr := 7\n");
  EXPECT_EQ(echo_int("1 2\n").substr(0, 9), "\nr := 12\n");
  EXPECT_EQ(echo_int("20 \n1\n").substr(0, 10), "\nr := 201\n");
  EXPECT_EQ(echo_int("x y 7\n").substr(0, 8), "\nr := 7\n");
  EXPECT_EQ(echo_int("e7\n").substr(0, 8), "\nr := 7\n");
}

TEST(ReadInteger, LowBitsEchoedFullValueUsed) {
  // 2^33 + 1 echoes as 1 and multiplies by 2^33 + 1.
  RunResult r = run_script("0\n40\n1\n1\n11\n8589934593\n2\n");
  EXPECT_NE(r.out.find("\nr := 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n85899 34593 "), std::string::npos);
}

TEST(ReadInteger, WrapsBeyondSixtyFourBits) {
  // 2^64 + 5 wraps to 5.
  EXPECT_EQ(echo_int("18446744073709551621\n").substr(0, 8), "\nr := 5\n");
}

TEST(ReadInteger, MalformedNumbers) {
  RunResult r = run_script("0\n1\n11\n12.5\n");
  EXPECT_EQ(r.out, "\nD: 0\nE: 1\n\nNo: 11 A := A*r;Error in integer number: 12.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(run_script("--5\n").out, "Error in integer number: --\n");
  EXPECT_EQ(run_script("5e\n").out, "Error in integer number: 5e\n");
}

TEST(ReadInteger, KeepsAtMostNinetyNineCharacters) {
  std::string junk(150, 'x');
  RunResult r = run_script(junk + "+.");
  EXPECT_EQ(r.out, "Error in integer number: " + junk.substr(0, 99) + "\n");
}

TEST(ReadInteger, EndOfInputAnywhere) {
  EXPECT_EQ(run_script("").out, "\nEOF met\n");
  EXPECT_EQ(run_script("-1").out, "\nEOF met\n");
  EXPECT_EQ(run_script("-1\n").out, "\n");
  EXPECT_EQ(run_script("4294967295\n").out, "\n");  // low 32 bits negative
}

TEST(ReadReal, Forms) {
  EXPECT_EQ(echo_real("2.5\n").substr(0, 10), "\nr := 2.5\n");
  EXPECT_EQ(echo_real("1.5e2\n").substr(0, 10), "\nr := 150\n");
  EXPECT_EQ(echo_real("3'-2\n").substr(0, 11), "\nr := 0.03\n");
  EXPECT_EQ(echo_real("-2.5\n").substr(0, 11), "\nr := -2.5\n");
  EXPECT_EQ(echo_real(".\n").substr(0, 8), "\nr := 0\n");
  EXPECT_EQ(echo_real("-.5\n").substr(0, 9), "\nr := -0\n");
  EXPECT_EQ(echo_real("e7\n").substr(0, 8), "\nr := 0\n");
  EXPECT_EQ(echo_real("1.5 2\n").substr(0, 11), "\nr := 15.2\n");
  EXPECT_EQ(echo_real("7.\n").substr(0, 8), "\nr := 7\n");
}

TEST(ReadReal, HugeExponentsSaturate) {
  EXPECT_EQ(echo_real("1e99999999999\n").substr(0, 10), "\nr := inf\n");
  EXPECT_EQ(echo_real("1e-99999999999\n").substr(0, 8), "\nr := 0\n");
  // zero times an infinite power of ten is not a number (and loads as zero)
  EXPECT_EQ(echo_real("0e99999999999\n").substr(0, 11), "\nr := -nan\n");
}

TEST(ReadReal, Malformed) {
  RunResult r = run_script("0\n1\n1\n1.2.3\n");
  EXPECT_EQ(r.out, "\nD: 0\nE: 1\n\nNo: 1 A := r;Error in real number: 1.2.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(run_script("0\n1\n1\n+-1\n").out.find(";Error in real number: +-\n"), std::string::npos);
}

}  // namespace
