// The products of the fast LONGMULT that need no vector units: 64-bit row
// sums for short spans, 128-bit column sums, GMP by Kronecker substitution
// for long spans; and the splitting of operands into blocks at long runs of
// zero cells, with the choice of kernel for each block pair.
#include <gmp.h>

#include <algorithm>
#include <bit>

#include "fast.h"
#include "products.h"

namespace longmult {
namespace {

// Spans up to this many cells each are multiplied row by row in 64-bit sums.
constexpr std::int64_t kSmallSide = 32;
// Block pairs of at least kTransformPairs pairs of cells go to the
// transforms (on the vector units or not), and so do those too long for them
// to GMP. Below that, with the vector units the rows kernel takes them (its
// sums hold sides up to kRowsAtOnce); without, those with at least
// kKroneckerPairs pairs and sides of at least kKroneckerSide go to GMP and
// the others are summed column by column.
constexpr std::int64_t kKroneckerPairs = 60'000;
constexpr std::int64_t kKroneckerSide = 64;
constexpr std::int64_t kTransformPairs = 200'000;
constexpr std::int64_t kRowsAtOnce = 4095;

// Runs of at least kGap zero cells split an operand into at most kMaxBlocks
// blocks, multiplied pair by pair (as for 1 + 10^-k times a long number).
constexpr std::int64_t kGap = 32;
constexpr int kMaxBlocks = 4;
constexpr std::int64_t kSplitSize = 2 * kGap + 2;  // shorter spans stay whole

// Scratch kept across calls, so that the kernels allocate only when they meet
// a larger size than before.
struct Scratch {
  std::vector<u64> aux;
  std::vector<cell_t> e;
  std::vector<mp_limb_t> x, y, p;
};
thread_local Scratch scratch;

// acc += the columns c >= from of X[bx] * Y[by] for short spans (both below
// kSmallSide), row by row in 64-bit sums: with Y_i = h 10^5 + l (h, l < 10^5)
// the column sums H = sum X_j h and L = sum X_j l stay below m 10^15, and a
// column is H 10^5 + L = floor(H / 10^5) B + (H mod 10^5) 10^5 + L.
void add_product_small(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  if (by.size() > bx.size()) {  // rows along the shorter span
    std::swap(X, Y);
    std::swap(bx, by);
  }
  constexpr u64 kHalf = 100'000;
  u64 H[2 * kSmallSide], L[2 * kSmallSide];
  const std::int64_t c0 = bx.lo + by.lo;
  const std::int64_t ncol = bx.size() + by.size() - 1;
  std::fill_n(H, ncol, 0);
  std::fill_n(L, ncol, 0);
  for (std::int64_t i = by.lo; i <= by.hi; ++i) {
    const u64 y = static_cast<u64>(Y[i]);
    const u64 h = y / kHalf, l = y - h * kHalf;
    const std::int64_t row = i - c0;  // X[j] Y[i] goes to column i + j, entry row + j
    for (std::int64_t j = std::max(bx.lo, from - i); j <= bx.hi; ++j) {
      const u64 x = static_cast<u64>(X[j]);
      H[row + j] += x * h;
      L[row + j] += x * l;
    }
  }
  u64 carry = 0;  // below m B + 2
  std::int64_t c = std::max(from, c0);
  for (const std::int64_t to = bx.hi + by.hi; c <= to; ++c) {
    const u64 hq = H[c - c0] / kHalf;
    const u64 t = (H[c - c0] - hq * kHalf) * kHalf + L[c - c0] + acc[c] + carry;
    const u64 q = t / kB;
    acc[c] = t - q * kB;
    carry = q + hq;
  }
  for (; carry != 0; ++c) {
    const u64 t = acc[c] + carry;
    carry = t / kB;
    acc[c] = t - carry * kB;
  }
}

// acc += the columns c >= from of X[bx] * Y[by], column by column.
void add_product_columns(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  add_columns(acc, from, bx.hi + by.hi, [&](std::int64_t c) {
    const std::int64_t i0 = std::max(by.lo, c - bx.hi);
    const std::int64_t n = std::min(by.hi, c - bx.lo) - i0 + 1;
    const cell_t* x = X + (c - i0);  // x[-t] Y[i0 + t]
    const cell_t* y = Y + i0;
    const auto mul = [&](std::int64_t t) { return static_cast<u128>(static_cast<u64>(x[-t])) * static_cast<u64>(y[t]); };
    u128 s0 = 0, s1 = 0;  // two sums, so that the additions overlap
    std::int64_t t = 0;
    for (; t + 1 < n; t += 2) {
      s0 += mul(t);
      s1 += mul(t + 1);
    }
    if (t < n) s0 += mul(t);
    return s0 + s1;
  });
}

// Cells c[s.lo .. s.hi] as w-bit fields of a binary number (w >= 34), into n
// zeroed limbs.
mp_limb_t* pack_fields(std::vector<mp_limb_t>& v, std::size_t n, const cell_t* c, Span s, unsigned w) {
  if (v.size() < n) v.resize(n);
  mp_limb_t* l = v.data();
  std::memset(l, 0, n * sizeof(mp_limb_t));
  for (std::int64_t j = 0; j < s.size(); ++j) {
    const u64 off = static_cast<u64>(j) * w;
    const unsigned sh = off & 63;
    const u64 x = static_cast<u64>(c[s.lo + j]);
    l[off >> 6] |= x << sh;
    if (sh > 30) l[(off >> 6) + 1] |= x >> (64 - sh);  // a cell has 34 bits
  }
  return l;
}

// The w-bit field (w <= 128) at bit `off`; two limbs of zeros follow the number.
u128 field(const mp_limb_t* l, u64 off, unsigned w) {
  const mp_limb_t* p = l + (off >> 6);
  const unsigned sh = off & 63;
  u128 v = (static_cast<u128>(p[1]) << 64 | p[0]) >> sh;
  if (sh != 0) v |= static_cast<u128>(p[2]) << (128 - sh);
  return w < 128 ? v & ((static_cast<u128>(1) << w) - 1) : v;
}

// acc += the columns c >= from of X[bx] * Y[by], by Kronecker substitution:
// each cell in a field wide enough for any column sum, one GMP product.
void add_product_kronecker(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  const std::int64_t m = std::min(bx.size(), by.size());
  const unsigned w = 67 + std::bit_width(static_cast<u64>(m));  // m (B-1)^2 < 2^w
  const auto limbs = [w](Span s) { return static_cast<std::size_t>((static_cast<u64>(s.size()) * w + 63) / 64); };
  const std::size_t nx = limbs(bx), ny = limbs(by);
  const mp_limb_t* px = pack_fields(scratch.x, nx + 1, X, bx, w);
  const std::size_t np = nx + ny + 2;
  if (scratch.p.size() < np) scratch.p.resize(np);
  mp_limb_t* pp = scratch.p.data();
  if (X == Y && bx.lo == by.lo && bx.hi == by.hi) {
    mpn_sqr(pp, px, static_cast<mp_size_t>(nx));
  } else {
    const mp_limb_t* py = pack_fields(scratch.y, ny + 1, Y, by, w);
    if (nx >= ny)
      mpn_mul(pp, px, static_cast<mp_size_t>(nx), py, static_cast<mp_size_t>(ny));
    else
      mpn_mul(pp, py, static_cast<mp_size_t>(ny), px, static_cast<mp_size_t>(nx));
  }
  pp[nx + ny] = pp[nx + ny + 1] = 0;
  const std::int64_t c0 = bx.lo + by.lo;
  add_columns(acc, std::max(from, c0), bx.hi + by.hi,
              [&](std::int64_t c) { return field(pp, static_cast<u64>(c - c0) * w, w); });
}

// Splits s at runs of at least kGap zero cells, at the longest such runs when
// there are more than kMaxBlocks - 1. Each block begins and ends with a
// nonzero cell. Returns the number of blocks.
int split_blocks(const Cells& R, Span* out) {
  const Span s = R.s;
  if (s.size() < kSplitSize) {
    out[0] = s;
    return 1;
  }
  Span gaps[kMaxBlocks];  // zero runs, longest first
  int ng = 0;
  for (std::int64_t p = s.lo; p <= s.hi; ++p) {
    if (R.c[p] != 0) continue;
    std::int64_t q = p;
    while (R.c[q] == 0) ++q;  // stops at s.hi at the latest
    const Span g{p, q - 1};
    p = q;
    if (g.size() < kGap) continue;
    if (ng == kMaxBlocks - 1 && gaps[ng - 1].size() >= g.size()) continue;
    int k = ng < kMaxBlocks - 1 ? ng++ : ng - 1;
    for (; k > 0 && gaps[k - 1].size() < g.size(); --k) gaps[k] = gaps[k - 1];
    gaps[k] = g;
  }
  for (int k = 1; k < ng; ++k)  // into the order of position
    for (int j = k; j > 0 && gaps[j - 1].lo > gaps[j].lo; --j) std::swap(gaps[j - 1], gaps[j]);
  std::int64_t start = s.lo;
  for (int k = 0; k < ng; ++k) {
    out[k] = {start, gaps[k].lo - 1};
    start = gaps[k].hi + 1;
  }
  out[ng] = {start, s.hi};
  return ng + 1;
}

// acc += the columns c >= cut of X[bx] * Y[by], trimmed to the cells that
// reach column cut.
void add_block_product(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t cut) {
  if (bx.hi + by.hi < cut) return;
  const Span tx{std::max(bx.lo, cut - by.hi), bx.hi};
  const Span ty{std::max(by.lo, cut - bx.hi), by.hi};
  const std::int64_t from = std::max(cut, tx.lo + ty.lo);
  if (tx.size() <= kSmallSide && ty.size() <= kSmallSide) return add_product_small(acc, X, tx, Y, ty, from);
  const std::int64_t side = std::min(tx.size(), ty.size());
  const std::int64_t below = std::min(from - tx.lo - ty.lo, side);  // columns left out
  const std::int64_t pairs = tx.size() * ty.size() - below * (below + 1) / 2;
  const bool vector = longmult_vector_units && vector_units();
  if (pairs >= kTransformPairs && add_product_ntt(acc, X, bx, tx, Y, ty, from, vector)) return;
  if (vector && side <= kRowsAtOnce) {
    add_product_rows(acc, X, tx, Y, ty, from);
  } else if (side >= kKroneckerSide && pairs >= kKroneckerPairs) {
    add_product_kronecker(acc, X, tx, Y, ty, from);
  } else {
    add_product_columns(acc, X, tx, Y, ty, from);
  }
}

}  // namespace

void add_product(Acc& acc, const Cells& X, const Cells& Y, std::int64_t cut) {
  if (X.s.size() < kSplitSize && Y.s.size() < kSplitSize) return add_block_product(acc, X.c, X.s, Y.c, Y.s, cut);
  Span bxs[kMaxBlocks], bys[kMaxBlocks];
  const int nbx = split_blocks(X, bxs);
  const int nby = split_blocks(Y, bys);
  for (int u = 0; u < nbx; ++u)
    for (int v = 0; v < nby; ++v) add_block_product(acc, X.c, bxs[u], Y.c, bys[v], cut);
}

bool product_by_complement(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, Span e) {
  if (scratch.e.size() < static_cast<std::size_t>(e.size())) scratch.e.resize(static_cast<std::size_t>(e.size()));
  cell_t* ec = scratch.e.data();  // E's cells from e.lo
  ec[0] = kBase - Y.c[e.lo];
  for (std::int64_t i = e.lo + 1; i <= e.hi; ++i) ec[i - e.lo] = kBase - 1 - Y.c[i];
  // P = X E shifted down by e.lo cells
  const std::int64_t np = X.s.size() + e.size() + 3;
  Acc p{zeroed(scratch.aux, static_cast<std::size_t>(np)), X.s.lo};
  add_block_product(p, X.c, X.s, ec, {0, e.size() - 1}, 0);
  const std::int64_t shift = Y.s.hi + 1;
  i128 borrow = 0;
  for (std::int64_t c = acc.base; c < acc.base + n; ++c) {
    const std::int64_t j = c - shift;
    i128 t = static_cast<i128>(X[j]) - borrow - static_cast<i128>(p.get(c - e.lo, np));
    borrow = t < 0 ? 1 : 0;
    acc[c] = static_cast<u64>(t + borrow * kB);
  }
  return borrow == 0;
}


}  // namespace longmult
