// Fast LONGMULT: the cells, top and alarms of the schoolbook reference from one
// product of the significant cells and a small correction for the truncation
// of each partial product on its own.
//
// With d = -decimals fraction cells, B = 10^10 and X, Y read as integers in
// units of the lowest cell, the reference sums P_i = floor(X Y_i / B^(d-i))
// (exact for i >= d) over the cells Y_i of Y. With V = X Y / B^d and
// f_i = frac(X Y_i / B^(d-i)) for i < d,
//
//     Z = sum P_i = V - sum f_i.
//
// Let Q B^2 + R be the sum of the product's columns from d - 2 up, normalised
// (R its two cells below d), and for i < d with k = d - i let
// a_i = (X_(k-1) B + X_(k-2)) Y_i mod B^2 and L_i = (X mod B^(k-2)) Y_i / B^(k-2),
// the share of the cells below k - 2, in [0, Y_i). The columns below d - 2
// hold exactly the pairs X_j Y_i with j < k - 2, so V B^2 = Q B^2 + R + sum L_i,
// while f_i B^2 = a_i + L_i - B^2 w_i, with w_i = 1 when a_i + L_i >= B^2.
// The L_i cancel:
//
//     Z = Q - J,  J B^2 = sum a_i - R - B^2 sum w_i.
//
// A w_i can be 1 only when a_i > B^2 - Y_i (about once in 10^10 for cells
// without pattern); then a descent over the cells below k - 2 settles it.
//
// When Y is 0.99999... (B^k - E, E short), X Y is formed exactly as
// X B^k - X E instead; then V B^2 = Q B^2 + R + phi with phi in [0, 1), and
// as each L_i lies in [0, Y_i), J B^2 lies in an interval narrower than B^2.
//
// The products themselves are in longmult_products.cpp and, for processors
// with AVX-512 IFMA, longmult_vector.cpp.
#include "longmult_fast.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "longmult_products.h"

namespace {

using namespace longmult;

constexpr i128 kB2 = i128{kBase} * kBase;

// Products of up to this many cells are summed on the stack.
constexpr std::int64_t kLocalCells = 128;

// A second factor whose top cells are 10^10 - 1 for at least this long is
// multiplied as B^k - E (see complement_span).
constexpr std::int64_t kComplementRun = 64;

// Column sums too long for the stack, kept across calls.
thread_local std::vector<u64> sums;

// R's cells up to its top, with the span of its nonzero cells.
Cells cells_of(const Reg& R) {
  const cell_t* c = R.cells;
  std::int64_t hi = std::min<std::int64_t>(std::int64_t{R.top} - decimals, c39);
  while (hi >= 0 && c[hi] == 0) --hi;
  std::int64_t lo = 0;
  while (lo < hi && c[lo] == 0) ++lo;
  return {c, {lo, hi}};
}

// Whether floor((X mod B^q) b / B^q) >= T, for b >= 1. That carry v_q is
// floor((X_(q-1) b + v_(q-1)) / B) with 0 <= v_(q-1) < b, so each cell from
// the top down either settles the question or hands a new threshold to the
// next. Returns -1 when `budget` cells did not settle it.
int carry_ge(const Cells& X, std::int64_t q, u64 b, i128 T, std::int64_t& budget) {
  for (;; --q) {
    if (T <= 0) return 1;
    if (T >= static_cast<i128>(b) || q <= X.s.lo) return 0;  // v_q < b; v_q = 0 below the span
    if (--budget < 0) return -1;
    T = T * kB - static_cast<i128>(static_cast<u128>(X[q - 1]) * b);
  }
}

// Whether every pass of the reference stays clear of ALARM("MULT") and
// ALARM("LONGMULT"): X Y_i < B^(N - max(i - d, 0)) for each nonzero Y_i, N the
// number of cells. As B^hx <= X < B^(hx+1), a bound above B^(hx+1) always
// holds and one below never does; only passes with the bound B^(hx+1) itself
// (i <= d when hx is the top cell, else i = d + N - 1 - hx) need the cells.
bool passes_fit(const Cells& X, const Cells& Y, std::int64_t& budget) {
  const std::int64_t N = ncells();
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t hx = X.s.hi;
  const std::int64_t icrit = d + (N - 1 - hx);
  if (Y.s.hi > icrit) return false;
  u64 b = Y[icrit];
  if (hx == N - 1)
    for (std::int64_t i = Y.s.lo; i <= Y.s.hi; ++i) b = std::max(b, Y[i]);
  if (b == 0) return true;
  const u128 xtop = X[hx];
  if ((xtop + 1) * b <= kB) return true;  // X b < (X_hx + 1) b B^hx <= B^(hx+1)
  if (xtop * b >= kB) return false;
  return carry_ge(X, hx + 1, b, 1, budget) == 0;
}

// The truncated passes i < d: with k = d - i, A_i = (X_(k-1) B + X_(k-2)) Y_i
// and L_i = (X mod B^(k-2)) Y_i / B^(k-2) in [0, Y_i), the share of the cells
// below k - 2, f_i B^2 = a_i + L_i - B^2 w_i with a_i = A_i mod B^2 and w_i = 1
// when a_i + L_i >= B^2. Only a_i > B^2 - Y_i can wrap, and it does when
// floor(L_i) >= B^2 - a_i, which a descent settles.
struct FracParts {
  i128 sumA = 0;          // sum of a_i
  i128 sumY = 0;          // sum of Y_i: sum of L_i is below it
  std::int64_t wraps = 0;  // sum of w_i
};

// The parts of the passes i < d; false when a descent ran out of budget.
bool add_frac_parts(const Cells& X, const Cells& Y, FracParts& f, std::int64_t& budget) {
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t last = std::min(Y.s.hi, d - 1);
  for (std::int64_t i = Y.s.lo; i <= last; ++i) {
    const u64 b = static_cast<u64>(Y.c[i]);
    if (b == 0) continue;
    const std::int64_t k = d - i;
    u64 r1 = 0;
    divmod_base(static_cast<u128>(X[k - 1]) * b, r1);
    i128 a = static_cast<i128>(r1) * kB + static_cast<i128>(static_cast<u128>(X[k - 2]) * b);
    if (a >= kB2) a -= kB2;
    f.sumA += a;
    f.sumY += b;
    if (a + b <= kB2 || k - 2 <= X.s.lo) continue;  // cannot wrap, or L_i = 0
    const int w = carry_ge(X, k - 2, b, kB2 - a, budget);
    if (w < 0) return false;
    f.wraps += w;
  }
  return true;
}

// Y = B^(hy+1) - E with E short, as for 0.99999...: a run of at least
// kComplementRun cells of 10^10 - 1 from Y's top down, and E at most a quarter
// of Y's length. E's cells are B - Y_lo at Y's lowest cell lo and
// B - 1 - Y_i above it, up to the run. Returns E's span, empty when Y is not so.
Span complement_span(const Cells& Y) {
  std::int64_t r = Y.s.hi;
  while (r >= Y.s.lo && Y.c[r] == kBase - 1) --r;
  const Span e{Y.s.lo, std::max(r, Y.s.lo)};
  if (Y.s.hi - r < kComplementRun || 4 * e.size() > Y.s.size()) return {0, -1};
  return e;
}

// X Y from the columns from d - 2 up, for J by the cancellation of the L_i:
// (Q - Z) B^2 = sumA - R - B^2 wraps. Fills acc (n cells from acc.base);
// returns J, or -1 when it cannot be had.
i128 product_high(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, const FracParts& f) {
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t cut = std::max<std::int64_t>(d - 2, 0);
  add_product(acc, X, Y, cut);
  if (d == 0) return 0;
  const i128 R = static_cast<i128>(acc.get(d - 1, n)) * kB + acc.get(d - 2, n);
  const i128 diff = f.sumA - R;
  if (diff % kB2 != 0) return -1;  // cannot happen; leave it to the reference
  return diff / kB2 - f.wraps;
}

// X Y exactly, for J from bounds: with V B^2 = Q B^2 + R + phi, phi in
// [0, 1), J B^2 = sum f_i B^2 - R - phi lies in (lo - R - 1, hi - R], where
// lo = sumA - B^2 wraps and hi = lo + sumY, and that holds one multiple of
// B^2. Returns J, or -1.
i128 product_exact(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, Span e, const FracParts& f) {
  const std::int64_t d = -std::int64_t{decimals};
  if (!product_by_complement(acc, n, X, Y, e)) return -1;
  const i128 R = static_cast<i128>(acc.get(d - 1, n)) * kB + acc.get(d - 2, n);
  const i128 lo = f.sumA - kB2 * f.wraps;
  const i128 hi = lo + f.sumY;
  if (hi - lo + 1 > kB2 || hi < R) return -1;
  return (hi - R) / kB2;
}

// Z := Q - J, Q the cells of acc from column d up, and Z's top as the
// reference's last ADD leaves it. False when Z does not fit (ALARM("ADD")).
bool store_product(Reg& Z, Acc& acc, std::int64_t n, bool inZ, i128 J) {
  const std::int64_t N = ncells();
  const std::int64_t d = -std::int64_t{decimals};
  if (J < 0 || J >= static_cast<i128>(kB)) return false;
  const std::int64_t first = std::max(d, acc.base);  // the lowest column kept in Z
  std::int64_t last = acc.base + n - 1;
  while (last >= first && acc[last] == 0) --last;
  if (!inZ) {
    if (last - d >= N) return false;
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    if (last >= first)
      std::memcpy(Z.cells + (first - d), &acc[first], static_cast<std::size_t>(last - first + 1) * sizeof(u64));
  }
  std::int64_t hz = last >= first ? last - d : -1;
  for (auto borrow = static_cast<cell_t>(J), p = cell_t{0}; borrow != 0; ++p) {
    if (p > hz) return false;  // Q < J cannot happen; leave it to the reference
    cell_t& z = Z.cells[p];
    z -= borrow;
    borrow = z < 0 ? 1 : 0;
    if (z < 0) z += kBase;
  }
  while (hz >= 0 && Z.cells[hz] == 0) --hz;
  Z.top = static_cast<std::int32_t>(decimals + std::max<std::int64_t>(hz, 0));
  return true;
}

}  // namespace

bool longmult_vector_units = true;

bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z) {
  const std::int64_t N = ncells();
  if (N == 0 || limit < 0 || X.top > limit || Y.top > limit) return false;
  // The reference allocates a scratch register first; that may be what fails.
  if (N * static_cast<std::int64_t>(sizeof(cell_t)) > register_budget() - register_bytes_in_use()) return false;
  if (Y.top < decimals) {  // no pass: zero with top 0
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    Z.top = 0;
    return true;
  }
  const Cells x = cells_of(X);
  const Cells y = cells_of(Y);
  if (x.s.empty() || y.s.empty()) {  // passes of zero partial products
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    Z.top = decimals;
    return true;
  }
  std::int64_t budget = 256 + x.s.size() + y.s.size();  // cells the descents may visit
  FracParts f;
  if (!passes_fit(x, y, budget) || !add_frac_parts(x, y, f, budget)) return false;

  const std::int64_t d = -std::int64_t{decimals};
  const Span e = y.s.size() >= kComplementRun ? complement_span(y) : Span{0, -1};
  // X Y < B^(hx+hy+2); two more cells take the last carries of each block pair.
  const std::int64_t base = e.empty() ? std::max(std::max<std::int64_t>(d - 2, 0), x.s.lo + y.s.lo) : x.s.lo + e.lo;
  const std::int64_t n = std::max<std::int64_t>(x.s.hi + y.s.hi + 4 - base, 0);
  u64 local[kLocalCells];
  const bool inZ = e.empty() && base >= d && base - d + n <= N;  // room in Z: no overflow
  Acc acc{inZ                ? reinterpret_cast<u64*>(Z.cells) + (base - d)
          : n <= kLocalCells ? local
                             : zeroed(sums, static_cast<std::size_t>(n)),
          base};
  if (inZ)
    std::memset(Z.cells, 0, N * sizeof(cell_t));
  else if (n <= kLocalCells)
    std::memset(local, 0, static_cast<std::size_t>(n) * sizeof(u64));
  const i128 J = e.empty() ? product_high(acc, n, x, y, f) : product_exact(acc, n, x, y, e, f);
  return store_product(Z, acc, n, inZ, J);
}
