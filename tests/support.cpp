#include "support.h"

#include <cmath>
#include <sstream>

#include "arith/longmult/products.h"
#include "arith/longmult_fast.h"

void set_cells(Reg& R, std::initializer_list<cell_t> highFirst) {
  std::int64_t i = static_cast<std::int64_t>(highFirst.size());
  std::fill(R.cells, R.cells + ncells(), 0);
  R.top = decimals;
  for (cell_t v : highFirst)
    if ((R.cells[--i] = v) != 0 && R.top == decimals) R.top = static_cast<std::int32_t>(i + decimals);
}

std::vector<cell_t> cells_of(const Reg& R) {
  std::vector<cell_t> v;
  for (std::int64_t i = ncells() - 1; i >= 0; --i) v.push_back(R.cells[i]);
  return v;
}

void use_kernels(bool reference, Units units) {
  use_reference_kernels = reference;
  longmult_units = units;
}

namespace {

// Puts the kernels and the register budget back after every test.
class RestoreKernels : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { budget_ = register_budget(); }
  void OnTestEnd(const testing::TestInfo&) override {
    use_kernels(false);
    set_register_budget(budget_);
  }
  std::int64_t budget_ = 0;
};

const bool kRestoring = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new RestoreKernels);
  return true;
}();

}  // namespace

static std::uint64_t test_seed() {  // printed once, so that any failure can be replayed
  static const std::uint64_t seed = [] {
    const char* env = std::getenv("FIXCALC_TEST_SEED");
    std::uint64_t s = env != nullptr ? std::strtoull(env, nullptr, 10) : std::random_device{}();
    std::printf("random operands: FIXCALC_TEST_SEED=%llu\n", static_cast<unsigned long long>(s));
    return s;
  }();
  return seed;
}

std::string describe(const Reg& R) {
  std::ostringstream s;
  s << "top " << R.top << " cells";
  for (cell_t c : cells_of(R)) s << ' ' << c;
  return s.str();
}

std::string describe_run() { return "decimals " + std::to_string(decimals) + " limit " + std::to_string(limit); }

Operands::Operands(const std::string& name) : rng(test_seed() ^ std::hash<std::string>{}(name)) {}

std::pair<int, int> Operands::shape(int maxD) {
  static const int kD[] = {0, 1, 10, 11, 20, 21, 30};
  static const int kE[] = {1, 10, 11, 20, 21, 31, 60, -9, -12};
  int D = chance(40) ? kD[below(7)] : static_cast<int>(below(static_cast<std::uint64_t>(maxD) + 1));
  int E = chance(70) ? kE[below(9)] : static_cast<int>(below(200));
  return {std::min(D, maxD), E};
}

cell_t Operands::cell() {
  static const cell_t kCells[] = {0,          kBase - 1,  3333333333, 6666666666, 1428571428,
                                  5714285714, 2857142857, 1,          kBase / 2,  kBase / 2 - 1};
  switch (below(4)) {
    case 0: return kCells[below(10)];
    case 1: return static_cast<cell_t>(below(100));
    default: return static_cast<cell_t>(below(kBase));
  }
}

void Operands::fill(Reg& R, std::int64_t maxTop) {
  const std::int64_t hiPos = std::min<std::int64_t>(ncells() - 1, maxTop - decimals);
  if (hiPos < 0 || chance(5)) return fill(R, 0, -1, maxTop);
  const auto hi = chance(35) ? hiPos : static_cast<std::int64_t>(below(hiPos + 1));
  fill(R, chance(30) ? static_cast<std::int64_t>(below(hi + 1)) : 0, hi, maxTop);
}

void Operands::fill(Reg& R, std::int64_t lo, std::int64_t hi, std::int64_t maxTop) {
  static const cell_t kSevenths[] = {1'428'571'428, 5'714'285'714, 2'857'142'857};
  static const cell_t kRound[] = {5'000'000'000, 2'500'000'000, 2'000'000'000, 7'500'000'000, 1'000'000'000};
  std::fill(R.cells, R.cells + ncells(), 0);
  for (std::int64_t a = lo; a <= hi;) {
    const std::int64_t b = chance(33) ? hi : std::min(hi, a + static_cast<std::int64_t>(below(hi - a + 1)));
    const cell_t same = 1 + static_cast<cell_t>(below(kBase - 1));
    const std::uint64_t u = 2 + below(chance(50) ? 100 : kBase - 2);
    unsigned __int128 t = 1 + below(u - 1);
    const int kind = static_cast<int>(below(15));
    for (std::int64_t i = b; i >= a; --i) {
      cell_t& c = R.cells[i];
      switch (kind) {
        case 0: c = 0; break;
        case 1: c = kBase - 1; break;
        case 2: c = 3'333'333'333; break;
        case 3: c = kSevenths[(b - i) % 3]; break;
        case 4: c = 6'666'666'666; break;
        case 5: c = same; break;
        case 6: c = chance(17) ? static_cast<cell_t>(below(kBase)) : 0; break;  // sparse
        case 7: c = static_cast<cell_t>(below(4)); break;
        case 8: c = chance(50) ? static_cast<cell_t>(below(3)) : kBase - 1 - static_cast<cell_t>(below(3)); break;
        case 9:  // the cells of short decimal fractions: 0.5, 0.25, 0.2, ...
          c = chance(50) ? kRound[below(5)] : static_cast<cell_t>(1 + below(9));
          break;
        case 10: c = (b - i) % 2 == 0 ? 909'090'909 : 9'090'909'090; break;  // 1/11
        case 11: c = 3 * static_cast<cell_t>(below(kBase / 3)); break;       // against 1/3
        case 12:  // the digits of t/u, u < 10^10: what a correction walk follows
          t *= static_cast<std::uint64_t>(kBase);
          c = static_cast<cell_t>(t / u);
          t %= u;
          break;
        case 13: c = cell(); break;
        default: c = static_cast<cell_t>(below(kBase)); break;
      }
    }
    a = b + 1;
  }
  std::int64_t h = hi;
  while (h >= 0 && R.cells[h] == 0) --h;
  R.top = static_cast<std::int32_t>(std::max<std::int64_t>(h, 0) + decimals);
  const std::int64_t room = std::min<std::int64_t>(limit, maxTop) - R.top;
  if (chance(12) && room > 0) R.top += 1 + static_cast<std::int32_t>(below(room));      // top names a zero cell
  if (h < 0 && chance(50)) R.top = decimals - 1 - static_cast<std::int32_t>(below(3));  // a tiny value loaded
  if (h < 0 && limit < 0 && chance(50)) R.top = 0;                                      // zero loaded above limit
}

std::int64_t Operands::factor() {
  static const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  // 2^30, 2^31, 2^62, and the edges of the 64-bit paths and of a cell; some
  // divisors of a cell's base
  // clang-format off
  static const std::int64_t kF[] = {0, 1, 2, 3, 6, 7, 10, 64, 171, 1434, 3249, 57121, kBase - 1, kBase, kBase + 1,
                                    922337202, 922337203, 922337204, 1844674407, 1844674408, 1073741824, 2147483648,
                                    4611686018427387904, kMax / kBase, kMax - 1, kMax, -1, -kBase,
                                    1000000000, 1250000000, 9765625};
  // clang-format on
  switch (below(5)) {
    case 0: return kF[below(sizeof kF / sizeof kF[0])];
    case 1: return static_cast<std::int64_t>(below(1000));
    case 2: return static_cast<std::int64_t>(below(std::uint64_t{4} << 30));
    case 3: return static_cast<std::int64_t>(rng() >> (1 + below(63)));
    default: return static_cast<std::int64_t>(rng() >> 1);
  }
}

double Operands::real() {
  static const double kV[] = {2,   3,    7,         163,     1000003,        0.5,         0.25, 4,
                              100, 1e-5, 12345.678, 1.0 / 3, 0.999999999999, 99999.99999, 1e9,  1e15};
  if (chance(60)) return kV[below(sizeof kV / sizeof kV[0])];
  return std::ldexp(static_cast<double>(rng() >> 11), -53) * std::pow(10.0, static_cast<double>(below(12)) - 4);
}
