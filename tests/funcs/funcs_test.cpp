// Pi, e, exp and square root: the digits against constants computed by
// another tool, and square roots of values without a finite reciprocal.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "funcs/funcs.h"
#include "support.h"

namespace {

// name -> digits, from tests/funcs/data/constants.txt.
std::map<std::string, std::string> constants() {
  std::map<std::string, std::string> m;
  std::ifstream f(std::string(FIXCALC_TEST_DATA) + "/constants.txt");
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    std::string name, value;
    ss >> name >> value;
    m[name] = value;
  }
  return m;
}

// The number printed by the last "write(A);" of a run, blanks removed.
std::string last_printed(const std::string& out) {
  std::size_t at = out.rfind("write(A);");
  std::string digits;
  for (std::size_t i = out.find('\n', at); i < out.size() && out.compare(i, 4, "\n\nNo") != 0; ++i)
    if (out[i] != ' ' && out[i] != '\n') digits += out[i];
  return digits;
}

// Number of leading characters in which a and b agree.
std::size_t agreement(const std::string& a, const std::string& b) {
  std::size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

struct ConstantCase {
  const char* name;
  const char* script;  // the run, printing A once
  int minDecimals;     // decimals that must agree with the reference
};

class Constants : public testing::TestWithParam<ConstantCase> {};

TEST_P(Constants, AgreeWithReferenceDigitsAtOneThousandDecimals) {
  static const auto ref = constants();
  const ConstantCase& c = GetParam();
  ASSERT_TRUE(ref.count(c.name)) << "missing reference " << c.name;
  RunResult r = run_script(c.script);
  ASSERT_EQ(r.status, 0) << r.out.substr(0, 400);
  std::string got = last_printed(r.out);
  const std::string& want = ref.at(c.name);
  std::size_t point = want.find('.');
  ASSERT_EQ(got.size(), point + 1 + 1000) << got.substr(0, 100);
  EXPECT_GE(agreement(got, want), point + 1 + c.minDecimals)
      << "got  " << got << "\nwant " << want.substr(0, got.size());
}

INSTANTIATE_TEST_SUITE_P(Digits, Constants,
                         testing::Values(ConstantCase{"pi", "1000\n11\n14\n2\n22\n-1\n", 995},
                                         ConstantCase{"e", "1000\n11\n23\n2\n22\n-1\n", 995},
                                         ConstantCase{"sqrt2", "1000\n11\n16\n2\n2\n22\n-1\n", 995},
                                         ConstantCase{"sqrt163", "1000\n20\n16\n163\n2\n22\n-1\n", 995},
                                         // exp multiplies the last-place error of pi*sqrt(163) by
                                         // exp(pi*sqrt(163)) ~ 2.6e17: about 18 more decimals go.
                                         ConstantCase{"exp_pi_sqrt163", "1000\n20\n17\n163\n2\n22\n-1\n", 975}),
                         [](const testing::TestParamInfo<ConstantCase>& i) { return std::string(i.param.name); });

TEST(Exp, LeavesLastProductInScratch) {
  // exp(0.5) at D = 30: the series stops when X*T/k truncates to zero; S then
  // holds that last product X*T, which is below k units of the last cell.
  set_precision(30, 1);
  Reg X, R, S;
  ASSIGN(X, 0.5);
  EXP(X, R, S);
  EXPECT_EQ(cells_of(R)[1], 6487212707);  // exp(0.5) = 1.6487212707 0012820...
  std::vector<cell_t> s = cells_of(S);
  EXPECT_EQ(s[0] + s[1] + s[2], 0);
  EXPECT_GT(s[3], 0);
  EXPECT_LT(s[3], 40);
}

TEST(Sqrt, ZeroNegativeNanGiveZero) {
  set_precision(30, 11);
  for (double v : {0.0, -0.0, -2.0, std::nan("")}) {
    Reg R, S1, S2;
    ASSIGN(S1, 5);
    ASSIGN(S2, 5);
    int status = 0;
    capture([&] { SQRT(R, S1, S2, v); }, &status);
    EXPECT_EQ(status, -1) << v;
    for (const Reg* reg : {&R, &S1, &S2})
      for (cell_t c : cells_of(*reg)) EXPECT_EQ(c, 0) << v;
  }
}

TEST(Sqrt, InfiniteOrTooLargeAlarms) {
  set_precision(10, 1);
  Reg R, S1, S2;
  int status = 0;
  EXPECT_EQ(capture([&] { SQRT(R, S1, S2, INFINITY); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(capture([&] { SQRT(R, S1, S2, 1e10); }, &status), "\nError in: ASSIGN");
  EXPECT_EQ(status, 255);
}

}  // namespace
