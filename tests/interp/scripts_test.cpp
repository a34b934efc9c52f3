// Whole scripts through the fuzz harness's checks: every case and example and
// random scripts at the full register budget; the fuzz corpus and its
// regressions, which must lie within the harness's bounds, at its budget.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "harness.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

std::string check(const std::string& script, std::int64_t budget) {
  return fuzz::check_input(reinterpret_cast<const std::uint8_t*>(script.data()), script.size(), budget);
}

TEST(Scripts, EveryCaseAndFuzzInput) {
  std::size_t n = 0;
  for (const char* dir : {FIXCALC_CASES_DIR, FIXCALC_EXAMPLES_DIR, FIXCALC_CONFORMANCE_DIR, FIXCALC_FUZZ_DIR "/corpus",
                          FIXCALC_FUZZ_DIR "/regressions"}) {
    const bool fuzzed = std::string(dir).starts_with(FIXCALC_FUZZ_DIR);
    std::vector<fs::path> files;
    if (fs::exists(dir))
      for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && (fuzzed || e.path().extension() == ".in")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
      // Giants, cases under a memory limit and of more than 5,000 decimals
      // (tens of seconds for the reference kernels) are the case driver's.
      if (fs::file_size(p) > 100'000 || fs::exists(fs::path(p).replace_extension(".ulimit"))) continue;
      std::ifstream f(p, std::ios::binary);
      const std::string bytes(std::istreambuf_iterator<char>(f), {});
      if (!fuzzed && std::atol(bytes.c_str()) > 5000) continue;
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
      if (fuzzed && !fuzz::within_bounds(data, bytes.size())) ADD_FAILURE() << p << " asks too much of a fuzz case";
      EXPECT_EQ(check(bytes, fuzzed ? fuzz::kRegisterBudget : register_budget()), "") << p;
      ++n;
    }
  }
  EXPECT_GT(n, 1000u);
}

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
        s << ops.below(5) << '\n' << 1 + ops.below(3) << '\n' << ops.below(30) << '\n' << ops.below(40) << '\n';
        break;
      case 21: s << ops.below(14) << '\n'; break;
      default: break;
    }
  }
  s << "2\n22\n-1\n";
  return s.str();
}

TEST(Scripts, RandomScripts) {
  Operands ops("Scripts");
  for (int round = 0; round < 400; ++round) {
    const std::string script = random_script(ops);
    ASSERT_EQ(check(script, register_budget()), "") << "script:\n" << script;
  }
}

}  // namespace
