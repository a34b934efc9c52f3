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
#include "longmult_fast.h"

#include <gmp.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using i128 = __int128;
constexpr u64 kB = kBase;
constexpr i128 kB2 = i128{kBase} * kBase;

// Block pairs with fewer pairs of cells than this, or a side shorter than
// kKroneckerSide, are multiplied column by column; larger ones through GMP.
constexpr std::int64_t kKroneckerPairs = 60'000;
constexpr std::int64_t kKroneckerSide = 64;
// Spans up to this many cells each are multiplied row by row in 64-bit sums.
constexpr std::int64_t kSmallSide = 32;
// Where the processor has AVX-512 IFMA, block pairs of up to kIfmaPairs pairs
// go to add_product_ifma instead, in groups of at most kIfmaSide rows (its sums
// hold up to 4095 pairs per column).
constexpr std::int64_t kIfmaSide = 4095;
constexpr std::int64_t kIfmaPairs = 40'000'000;

// Runs of at least kGap zero cells split an operand into at most kMaxBlocks
// blocks, multiplied pair by pair (as for 1 + 10^-k times a long number).
constexpr std::int64_t kGap = 32;
constexpr int kMaxBlocks = 4;
constexpr std::int64_t kSplitSize = 2 * kGap + 2;  // shorter spans stay whole

// Products of up to this many cells are summed on the stack.
constexpr std::int64_t kLocalCells = 128;

// A second factor whose top cells are 10^10 - 1 for at least this long is
// multiplied as B^k - E (see complement_span).
constexpr std::int64_t kComplementRun = 64;

// q := floor(t / B), r := t mod B, for t < B 2^64, by multiplication with the
// reciprocal v = floor((2^128 - 1) / Bn) - 2^64 of Bn = B 2^30, whose top bit
// is set (Moller and Granlund, "Improved division by invariant integers").
constexpr unsigned kBShift = 30;
constexpr u64 kBn = kB << kBShift;
constexpr u64 kBInv = static_cast<u64>(~u128{0} / kBn - (u128{1} << 64));
inline u64 divmod_base(u128 t, u64& r) {
  const u128 u = t << kBShift;  // below Bn 2^64
  const u64 u1 = static_cast<u64>(u >> 64);
  const u64 u0 = static_cast<u64>(u);
  const u128 p = static_cast<u128>(kBInv) * u1 + u;
  u64 q = static_cast<u64>(p >> 64) + 1;
  u64 rn = u0 - q * kBn;
  if (rn > static_cast<u64>(p)) {
    --q;
    rn += kBn;
  }
  if (rn >= kBn) {
    ++q;
    rn -= kBn;
  }
  r = rn >> kBShift;
  return q;
}

// Array positions lo .. hi; empty when hi < lo.
struct Span {
  std::int64_t lo, hi;
  bool empty() const { return hi < lo; }
  std::int64_t size() const { return hi - lo + 1; }
};

// The cells of a register with the span from its lowest to its highest
// nonzero cell; reads outside the span give 0.
struct Cells {
  const cell_t* c;
  Span s;
  u64 operator[](std::int64_t p) const { return p >= s.lo && p <= s.hi ? static_cast<u64>(c[p]) : 0; }
};

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

// Normalised cells of the columns base .. base + n - 1 of a product.
struct Acc {
  u64* cell;
  std::int64_t base;
  u64& operator[](std::int64_t c) { return cell[c - base]; }
  u64 get(std::int64_t c, std::int64_t n) const { return c >= base && c < base + n ? cell[c - base] : 0; }
};

// acc += sum of col(c) B^c over c = from .. to, carried upward. A column is
// at most m (B-1)^2 (m < 10^9 pairs), so col = (a B + b) B + l with l, b < B
// and a <= m: l goes to column c, b to c + 1, a to c + 2. These splits do not
// depend on one another; what runs from column to column is a carry below 4.
template <class Col>
void add_columns(Acc& acc, std::int64_t from, std::int64_t to, Col col) {
  u64 k = 0;        // carry into column c
  u64 b1 = 0;       // b of column c - 1
  u64 a1 = 0;       // a of column c - 1
  u64 a2 = 0;       // a of column c - 2
  const auto settle = [&](std::int64_t c, u64 l) {
    const u64 s = acc[c] + l + b1 + a2 + k;  // below 3B + m + 4
    k = (s >= kB) + (s >= 2 * kB) + (s >= 3 * kB);
    acc[c] = s - k * kB;
  };
  for (std::int64_t c = from; c <= to; ++c) {
    u64 l = 0;
    const u64 h = divmod_base(col(c), l);
    settle(c, l);
    a2 = a1;
    a1 = h / kB;
    b1 = h - a1 * kB;
  }
  settle(to + 1, 0);  // b of column to, a of column to - 1
  b1 = 0;
  a2 = a1;
  settle(to + 2, 0);  // a of column to
  a2 = 0;
  for (std::int64_t c = to + 3; k != 0; ++c) settle(c, 0);
}

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

// Scratch that lives across calls, so the kernel allocates only when it meets
// a larger size than before.
struct Scratch {
  std::vector<u64> acc, aux, xpad, lo, hi;
  std::vector<cell_t> e;
  std::vector<mp_limb_t> x, y, p;
};
thread_local Scratch scratch;

u64* zeroed(std::vector<u64>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
  std::memset(v.data(), 0, n * sizeof(u64));
  return v.data();
}

// acc += the columns c >= from of X[bx] * Y[by] with AVX-512 IFMA, which
// adds the low and the high 52 bits of eight 52 x 52-bit products at once: a
// column is lo + hi 2^52, lo the sum of at most m values below 2^52 (so m
// below 4096). Eight rows at a time run over eight columns at a time, column
// chunk by column chunk so that the sums stay in the first-level cache; pairs
// in columns below `from` land in sums that are not read.
#if defined(__x86_64__)
__attribute__((target("avx512f,avx512ifma"))) void add_product_ifma(Acc& acc, const cell_t* X, Span bx,
                                                                      const cell_t* Y, Span by,
                                                                      std::int64_t from) {
  constexpr std::int64_t R = 8;         // rows at a time; columns are counted from c0
  constexpr std::int64_t kChunk = 1024;  // columns at a time, a multiple of 8
  const std::int64_t nx = bx.size(), ny = by.size();
  const std::int64_t c0 = bx.lo + by.lo;
  u64* xp = zeroed(scratch.xpad, static_cast<std::size_t>(nx + 2 * R + 8));  // R zeros, X, zeros
  for (std::int64_t j = 0; j < nx; ++j) xp[R + j] = static_cast<u64>(X[bx.lo + j]);
  // Column s (from c0) of rows i0 .. i0 + R - 1 takes X at s - i0 - k: the
  // rows of a block reach s = i0 .. i0 + nx + R - 2. Sums start at `skip`, on
  // the grid of eight that every block of rows starts on.
  const std::int64_t skip = std::max<std::int64_t>(0, (from - c0) & ~std::int64_t{7});
  const std::int64_t end = ny + nx + R;
  u64* lo = zeroed(scratch.lo, static_cast<std::size_t>(end + 8 - skip));
  u64* hi = zeroed(scratch.hi, static_cast<std::size_t>(end + 8 - skip));
  for (std::int64_t cs = skip; cs < end; cs += kChunk) {
    for (std::int64_t i0 = 0; i0 < ny; i0 += R) {
      const std::int64_t sb = std::max(i0, cs), se = std::min(i0 + nx + R - 1, cs + kChunk);
      if (sb >= se) continue;
      __m512i y[R];
#pragma GCC unroll 8
      for (std::int64_t k = 0; k < R; ++k)
        y[k] = _mm512_set1_epi64(i0 + k < ny ? static_cast<long long>(Y[by.lo + i0 + k]) : 0);
      // Four column vectors at a time keep eight independent sums in flight.
      const std::int64_t se8 = std::min((se + 7) & ~std::int64_t{7}, cs + kChunk);
      std::int64_t s = sb;
      for (; s + 32 <= se8; s += 32) {
        __m512i a[4], b[4];
#pragma GCC unroll 4
        for (int v = 0; v < 4; ++v) {
          a[v] = _mm512_loadu_si512(lo + (s - skip) + 8 * v);
          b[v] = _mm512_loadu_si512(hi + (s - skip) + 8 * v);
        }
        const u64* x = xp + R + (s - i0);
#pragma GCC unroll 8
        for (std::int64_t k = 0; k < R; ++k) {
#pragma GCC unroll 4
          for (int v = 0; v < 4; ++v) {
            const __m512i xk = _mm512_loadu_si512(x + 8 * v - k);
            a[v] = _mm512_madd52lo_epu64(a[v], xk, y[k]);
            b[v] = _mm512_madd52hi_epu64(b[v], xk, y[k]);
          }
        }
#pragma GCC unroll 4
        for (int v = 0; v < 4; ++v) {
          _mm512_storeu_si512(lo + (s - skip) + 8 * v, a[v]);
          _mm512_storeu_si512(hi + (s - skip) + 8 * v, b[v]);
        }
      }
      for (; s < se; s += 8) {
        __m512i a = _mm512_loadu_si512(lo + (s - skip));
        __m512i b = _mm512_loadu_si512(hi + (s - skip));
        const u64* x = xp + R + (s - i0);
#pragma GCC unroll 8
        for (std::int64_t k = 0; k < R; ++k) {
          const __m512i xk = _mm512_loadu_si512(x - k);
          a = _mm512_madd52lo_epu64(a, xk, y[k]);
          b = _mm512_madd52hi_epu64(b, xk, y[k]);
        }
        _mm512_storeu_si512(lo + (s - skip), a);
        _mm512_storeu_si512(hi + (s - skip), b);
      }
    }
  }
  add_columns(acc, std::max(from, c0), bx.hi + by.hi, [&](std::int64_t c) {
    const std::int64_t s = c - c0 - skip;
    return static_cast<u128>(lo[s]) + (static_cast<u128>(hi[s]) << 52);
  });
}

bool ifma_available() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return yes;
}
#else
void add_product_ifma(Acc&, const cell_t*, Span, const cell_t*, Span, std::int64_t) {}
bool ifma_available() { return false; }
#endif

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
  if (longmult_vector_units && pairs <= kIfmaPairs && ifma_available()) {
    if (side <= kIfmaSide) return add_product_ifma(acc, X, tx, Y, ty, from);
    for (std::int64_t lo = ty.lo; lo <= ty.hi; lo += kIfmaSide)  // rows in groups its sums can hold
      add_block_product(acc, X, tx, Y, {lo, std::min(ty.hi, lo + kIfmaSide - 1)}, cut);
  } else if (side >= kKroneckerSide && pairs >= kKroneckerPairs)
    add_product_kronecker(acc, X, tx, Y, ty, from);
  else
    add_product_columns(acc, X, tx, Y, ty, from);
}

// acc += the columns c >= cut of X * Y, block pair by block pair.
void add_product(Acc& acc, const Cells& X, const Cells& Y, std::int64_t cut) {
  Span bxs[kMaxBlocks], bys[kMaxBlocks];
  const int nbx = split_blocks(X, bxs);
  const int nby = split_blocks(Y, bys);
  for (int u = 0; u < nbx; ++u)
    for (int v = 0; v < nby; ++v) add_block_product(acc, X.c, bxs[u], Y.c, bys[v], cut);
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

// acc := X Y, every cell from acc.base = X_lo + E_lo up (n cells), as
// X B^(hy+1) - X E for Y = B^(hy+1) - E. False if that came out negative,
// which cannot happen.
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

// X Y from the columns from d - 2 up, for J by the cancellation of the L_i:
// (Q - Z) B^2 = sumA - R - B^2 wraps. Fills acc (n cells from acc.base);
// returns J, or -1 when it cannot be had.
i128 product_high(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, const FracParts& f) {
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t cut = std::max<std::int64_t>(d - 2, 0);
  if (X.s.size() < kSplitSize && Y.s.size() < kSplitSize)
    add_block_product(acc, X.c, X.s, Y.c, Y.s, cut);
  else
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
                             : zeroed(scratch.acc, static_cast<std::size_t>(n)),
          base};
  if (inZ)
    std::memset(Z.cells, 0, N * sizeof(cell_t));
  else if (n <= kLocalCells)
    std::memset(local, 0, static_cast<std::size_t>(n) * sizeof(u64));
  const i128 J = e.empty() ? product_high(acc, n, x, y, f) : product_exact(acc, n, x, y, e, f);
  return store_product(Z, acc, n, inZ, J);
}
