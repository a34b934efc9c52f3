// The register, the precision of a run, ASSIGN, COPY and ALARM.
#include <gmp.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "arith/arith.h"
#include "io.h"

std::int32_t decimals = 0;
std::int32_t limit = 0;
std::int32_t c39 = 0;
bool use_reference_kernels = false;

namespace {
std::int64_t bytes_in_use = 0;

// Registers may take half of the machine's memory: beyond that an allocation
// fails cleanly instead of drawing the system into swapping or the OOM killer.
std::int64_t half_of_memory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return std::int64_t{4} << 30;
  return std::int64_t{pages} * size / 2;
}
std::int64_t budget = half_of_memory();
}  // namespace

void set_precision(std::int32_t D, std::int32_t E) {
  decimals = D > 0 ? -((D - 1) / 10 + 1) : 0;
  limit = static_cast<std::int32_t>((std::int64_t{E} - 1) / 10);  // no overflow at INT32_MIN
  c39 = limit - decimals;
}

std::int64_t register_bytes_in_use() { return bytes_in_use; }
std::int64_t register_budget() { return budget; }
void set_register_budget(std::int64_t bytes) { budget = bytes; }

Reg::Reg() {
  std::int64_t n = ncells();
  if (n == 0) return;
  const std::int64_t want = (n + 2 * kGuardCells) * static_cast<std::int64_t>(sizeof(cell_t));
  if (want > budget - bytes_in_use) ALARM("ALLOC");
  auto* all = static_cast<cell_t*>(std::calloc(static_cast<std::size_t>(n + 2 * kGuardCells), sizeof(cell_t)));
  if (all == nullptr) ALARM("ALLOC");
  cells = all + kGuardCells;
  bytes = want;
  bytes_in_use += bytes;
}

Reg::~Reg() {
  if (cells == nullptr) return;
  std::free(cells - kGuardCells);
  bytes_in_use -= bytes;
}

void ALARM(const char* name) {
  std::fprintf(output, "\nError in: %s", name);
  fatal(255);
}

void COPY(const Reg& src, Reg& dst) {
  if (ncells() > 0) std::memcpy(dst.cells, src.cells, ncells() * sizeof(cell_t));
  dst.top = src.top;
}

namespace {

// The nearest double to log10(e)/10, as a literal: computing it at run time
// changes the top cell chosen at exact powers of 10^10.
constexpr double K = 0.04342944819032518;

// Top and second cell of x / 10^(10p) computed exactly from the double's
// binary value; used where pow(1e10, p) would be subnormal (p <= -31).
void exact_cells(double x, std::int32_t p, cell_t& hi, cell_t& lo) {
  int exp2 = 0;
  double frac = std::frexp(x, &exp2);  // x = frac * 2^exp2, frac in [0.5, 1)
  auto mant = static_cast<unsigned long>(std::ldexp(frac, 53));
  exp2 -= 53;  // x = mant * 2^exp2, exp2 < 0 here
  mpz_t q, pow10;
  mpz_inits(q, pow10, nullptr);
  mpz_ui_pow_ui(pow10, 10, static_cast<unsigned long>(10 * (1 - std::int64_t{p})));
  mpz_mul_ui(q, pow10, mant);
  mpz_fdiv_q_2exp(q, q, static_cast<mp_bitcnt_t>(-exp2));  // floor(x * 10^(10(1-p)))
  mpz_fdiv_qr_ui(q, pow10, q, static_cast<unsigned long>(kBase));
  lo = static_cast<cell_t>(mpz_get_ui(pow10));
  hi = static_cast<cell_t>(mpz_get_ui(q));
  mpz_clears(q, pow10, nullptr);
}

}  // namespace

void ASSIGN(Reg& R, double x, bool fresh) {
  if (ncells() > 0 && !fresh) std::memset(R.cells, 0, ncells() * sizeof(cell_t));
  x = std::fabs(x);
  if (x == 0 || std::isnan(x)) {
    R.top = 0;
    return;
  }
  if (std::isinf(x)) ALARM("ASSIGN");
  auto p = static_cast<std::int32_t>(std::floor(std::log(x) * K));
  R.top = p;
  if (p > limit) ALARM("ASSIGN");
  cell_t hi = 0;
  cell_t lo = 0;
  if (p >= -30) {
    x = x / std::pow(1e10, p);
    hi = static_cast<cell_t>(std::floor(x));
    lo = static_cast<cell_t>(std::floor((x - static_cast<double>(hi)) * 1e10));
  } else {
    exact_cells(x, p, hi, lo);
  }
  if (lo >= kBase) {  // (x - hi) * 1e10 rounded up to a whole cell
    lo -= kBase;
    hi += 1;
  }
  if (hi >= kBase) {  // p came out one too low: the value starts a cell higher
    lo = hi % kBase;
    hi /= kBase;
    R.top = ++p;
    if (p > limit) ALARM("ASSIGN");
  }
  std::int64_t j = std::int64_t{p} - decimals;
  if (j >= 1) {
    R.cells[j] = hi;
    R.cells[j - 1] = lo;
  } else if (j == 0) {
    R.cells[0] = hi;
  }
}
