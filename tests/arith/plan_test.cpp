// The plan of products for a grid of shapes on each kind of unit against
// tests/arith/data/plan.txt, a range of lengths and their method a line, so
// that a change of a threshold shows there. FIXCALC_UPDATE_PLAN=1 rewrites
// it, for a retuning, whose diff is then reviewed.
#include <bit>
#include <fstream>
#include <sstream>
#include <string>

#include "arith/limb_products.h"
#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"
#include "support.h"

namespace {

using longmult::Method;
using longmult::Plan;
using longmult::plan_product;

// "transform of 2^13 entries of 1 cell on two threads", and the like.
std::string describe(const Plan& plan) {
  if (plan.method != Method::transform) return plan.method == Method::gmp ? "gmp" : "columns";
  return std::string("transform of ") + (plan.three ? "3 2^" : "2^") + std::to_string(plan.log) + " entries of " +
         std::to_string(plan.cells) + (plan.cells == 1 ? " cell" : " cells") +
         (plan.halves ? " for each half of Y" : "") + (plan.split > 0 ? ", X's top apart" : "") +
         (plan.pair ? " on two threads" : "");
}

// Shapes of one parameter n: the block pair's lengths and the columns left out.
struct Family {
  const char* name;
  std::int64_t lo, hi;
  std::int64_t (*nx)(std::int64_t), (*ny)(std::int64_t), (*below)(std::int64_t);
};
std::int64_t same(std::int64_t n) { return n; }
std::int64_t none(std::int64_t) { return 0; }
const Family kFamilies[] = {
    {"n x n", 1, 40'000'000, same, same, none},
    {"n x n, high half", 1, 40'000'000, same, same, same},
    {"100000 x n", 1, 100'000, [](std::int64_t) -> std::int64_t { return 100'000; }, same, none},
    {"n x 64", 64, 4'000'000, same, [](std::int64_t) -> std::int64_t { return 64; }, none},
};

// The ranges of n over which the plan stays the same: n steps by 1% and a
// change is placed exactly by bisection.
std::string ranges(Units units, const char* unitName, const Family& f) {
  const auto at = [&](std::int64_t n) { return describe(plan_product(units, f.nx(n), f.ny(n), f.below(n))); };
  std::ostringstream out;
  std::int64_t start = f.lo;
  std::string what = at(start);
  for (std::int64_t n = f.lo; n < f.hi;) {
    std::int64_t next = std::min(f.hi, std::max(n + 1, n + n / 100));
    if (at(next) != what) {
      std::int64_t lo = n, hi = next;  // at(lo) == what != at(hi)
      while (hi - lo > 1) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        (at(mid) == what ? lo : hi) = mid;
      }
      out << unitName << ", " << f.name << ": " << start << " .. " << lo << ": " << what << "\n";
      start = hi;
      what = at(hi);
      next = hi;
    }
    n = next;
  }
  out << unitName << ", " << f.name << ": " << start << " .. " << f.hi << ": " << what << "\n";
  return out.str();
}

// The plan asks the units whether they are vector units, not which.
const longmult::VectorKernels kSomeVectorUnits{};
const std::pair<Units, const char*> kKinds[] = {{Units{}, "plain"}, {Units{&kSomeVectorUnits, 8}, "vector"}};

// The products of the series' binary numbers (arith/limb_products.h), n by n
// and n by n/8 limbs: GMP's or the transforms', whose time the model takes
// from the lanes and whether the processor does an operation in halves.
std::string limb_ranges(int lanes, bool halves, std::int64_t shorter) {
  const LimbProducts lp(Units{&kSomeVectorUnits, lanes, halves}, std::int64_t{1} << 23);
  const std::string name = std::to_string(lanes) + (halves ? " lanes in halves" : " lanes");
  const auto at = [&](std::int64_t n) {
    const std::int64_t L = lp.transform_length(n, std::max<std::int64_t>(1, n / shorter));
    const bool three = L % 3 == 0;
    return L == 0 ? std::string("gmp")
                  : "transform of " + std::string(three ? "3 2^" : "2^") +
                        std::to_string(std::bit_width(static_cast<std::uint64_t>(three ? L / 3 : L)) - 1) + " entries";
  };
  std::ostringstream out;
  constexpr std::int64_t kLast = 4'000'000;
  std::int64_t start = 1, n = 1;
  std::string what = at(1);
  while (n < kLast) {  // steps of 0.5%, a change placed by the n between
    const std::int64_t next = std::min(kLast, n + std::max<std::int64_t>(1, n / 200));
    if (at(next) == what) {
      n = next;
      continue;
    }
    while (at(n + 1) == what) ++n;
    out << name << ", limbs n x n/" << shorter << ": " << start << " .. " << n << ": " << what << "\n";
    start = ++n;
    what = at(n);
  }
  out << name << ", limbs n x n/" << shorter << ": " << start << " .. " << kLast << ": " << what << "\n";
  return out.str();
}

TEST(Plan, GridAsReviewed) {
  std::string got;
  for (const auto& [units, name] : kKinds)
    for (const Family& f : kFamilies) got += ranges(units, name, f);
  for (const auto& [lanes, halves] : {std::pair{4, false}, {4, true}, {8, false}})
    for (const std::int64_t shorter : {1, 8}) got += limb_ranges(lanes, halves, shorter);
  const std::string path = std::string(FIXCALC_TESTS_DIR) + "/arith/data/plan.txt";
  if (const char* update = std::getenv("FIXCALC_UPDATE_PLAN"); update != nullptr && *update == '1') {
    std::ofstream(path) << got;
    GTEST_SKIP() << "rewrote " << path;
  }
  std::ifstream in(path);
  ASSERT_TRUE(in) << "no " << path << " (FIXCALC_UPDATE_PLAN=1 writes it)";
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(got, want.str()) << path << " differs (FIXCALC_UPDATE_PLAN=1 rewrites it)";
}

// The processors that do AVX2 in halves, by cpuid's vendor, family and model: AMD's before Zen 2
// (Excavator, Zen, Zen+) and Hygon's; not Zen 2 or later, nor Intel's.
TEST(Plan, ProcessorsThatDoAVX2InHalves) {
  EXPECT_TRUE(avx_in_halves("AuthenticAMD", 0x15, 0x60));
  EXPECT_TRUE(avx_in_halves("AuthenticAMD", 0x17, 0x01));
  EXPECT_TRUE(avx_in_halves("AuthenticAMD", 0x17, 0x2f));
  EXPECT_FALSE(avx_in_halves("AuthenticAMD", 0x17, 0x30));
  EXPECT_FALSE(avx_in_halves("AuthenticAMD", 0x19, 0x11));
  EXPECT_TRUE(avx_in_halves("HygonGenuine", 0x18, 0x00));
  EXPECT_FALSE(avx_in_halves("GenuineIntel", 0x06, 0x0f));
}

// The kernels' own limits hold whatever the tables say: a transform never
// exceeds 2^26 entries, nor 2^20 with several cells to an entry, each half
// of Y fits, as does the top of X split off, and plain C++ never takes a cell
// to an entry nor halves.
TEST(Plan, WithinTheKernels) {
  for (const auto& [units, name] : kKinds)
    for (std::int64_t nx : {1, 33, 4095, 4096, 100'000, 3'000'000, 9'000'000, 40'000'000})
      for (std::int64_t ny : {1, 32, 33, 64, 4095, 4096, 200'000, 3'000'000, 40'000'000}) {
        const auto p = plan_product(units, nx, ny, 0);
        if (p.method == longmult::Method::transform) {
          EXPECT_LE(p.log, p.cells == 1 ? 26 : 20) << nx << " x " << ny;
          const std::int64_t ys = p.halves ? (ny + 1) / 2 : ny;  // the longer half
          const std::int64_t xs = p.split > 0 ? p.split : nx;    // X's top cells alone
          EXPECT_LT(p.split, nx) << nx << " x " << ny;
          const std::int64_t entries = (xs + p.cells - 1) / p.cells + (ys + p.cells - 1) / p.cells - 1;
          EXPECT_GE((p.three ? 3 : 1) * (std::int64_t{1} << p.log), entries) << nx << " x " << ny;
          EXPECT_TRUE(p.cells > 1 || units.vector != nullptr) << nx << " x " << ny;
          EXPECT_TRUE(!p.three || (p.cells == 1 && !p.halves && p.split == 0 && p.log >= 4)) << nx << " x " << ny;
          EXPECT_TRUE(!p.halves || p.cells == 1) << nx << " x " << ny;
        }
      }
}

}  // namespace
