// Products by transforms on the portable kernel: modulo three primes below
// 2^58, with two cells to an entry.
//
// An entry X_2i + B X_2i+1 is below B^2 = 10^20 and a column of entries below
// m 10^40 for m < 2^20 pairs, within the product of the three primes (about
// 2^174). Against two primes below 2^50 with a cell to an entry, the
// transforms have half the entries, and there are three of them for two: the
// two threads take a prime each and half of the third. A transform of L
// entries splits after its first stage into two of L/2 entries, the residues
// modulo x^(L/2) - 1 (the sums a_j + a_(j+L/2)) and modulo x^(L/2) + 1 (the
// differences times w^j); each half is made from the factors' cells alone,
// and the last stage of the inverse, which joins them, is made with the
// Chinese remainders.
//
// Entry column k of the product gathers the parts X_2i Y_2j (cell column
// c0 + 2k), X_2i+1 Y_2j + X_2i Y_2j+1 (c0 + 2k + 1) and X_2i+1 Y_2j+1
// (c0 + 2k + 2), c0 the sum of the first cells. The entry columns from the
// first whose cells are all wanted give every wanted column but the part
// X_2i+1 Y_2j+1 of the entry column before, and, when the first wanted column
// is odd, that column whole; these few pairs are summed apart.
#include <algorithm>

#include "arith/longmult/ntt.h"

namespace longmult {
namespace ntt {
namespace {

inline constexpr Prime kWide[3] = {make_prime(288'230'376'126'545'921, 6), make_prime(288'230'376'097'185'793, 5),
                                   make_prime(288'230'376'059'437'057, 5)};
constexpr bool wide_prime(const Prime& P) {
  return P.bits == 58 && 65 * ((u64{1} << 58) - P.p) < (u64{1} << 58) && (P.p - 1) % (u64{1} << 22) == 0;
}
static_assert(wide_prime(kWide[0]) && wide_prime(kWide[1]) && wide_prime(kWide[2]));
static_assert(kWide[0].p > kWide[1].p && kWide[1].p > kWide[2].p);  // r0 < 2 p1, r0 < 2 p2

// The longest transform has 2^20 entries (2^21 cells), as on the vector units.
inline constexpr int kWideMaxLog = 20;

constexpr ShoupFactor shoup_factor(u64 w, u64 p) { return {w, static_cast<u64>((static_cast<u128>(w) << 64) / p)}; }

// The Chinese remainders by Garner's method: v = t1 + p0 t2 + p0 p1 t3 with
// t1 = r0, t2 = (r1 - t1) / p0 mod p1, t3 = (r2 - t1 - p0 t2) / (p0 p1) mod p2.
constexpr u64 kP0 = kWide[0].p, kP1 = kWide[1].p, kP2 = kWide[2].p;
constexpr ShoupFactor kInv0In1 = shoup_factor(pow_mod(kP0 % kP1, kP1 - 2, kP1), kP1);
constexpr ShoupFactor kP0In2 = shoup_factor(kP0 % kP2, kP2);
constexpr ShoupFactor kInv01In2 = shoup_factor(pow_mod(mul_mod(kP0 % kP2, kP1 % kP2, kP2), kP2 - 2, kP2), kP2);
// p0 and p0 p1 in base B: p0 = D1 B + D0, p0 p1 = ((Q3 B + Q2) B + Q1) B + Q0.
constexpr u64 kD0 = kP0 % kB, kD1 = kP0 / kB;
constexpr u128 kP01 = static_cast<u128>(kP0) * kP1;
constexpr u64 kQ0 = static_cast<u64>(kP01 % kB), kQ1 = static_cast<u64>(kP01 / kB % kB),
              kQ2 = static_cast<u64>(kP01 / kB / kB % kB), kQ3 = static_cast<u64>(kP01 / kB / kB / kB);
static_assert(kQ3 < kB);

// Per prime, the Shoup factors as in Tables::fws and ivs (the rest unused),
// and B mod p as a Shoup factor.
Tables tables[3];
constexpr ShoupFactor kBIn[3] = {shoup_factor(kB, kP0), shoup_factor(kB, kP1), shoup_factor(kB, kP2)};

const Tables& tables_for(int q, std::int64_t L) {
  Tables& T = tables[q];
  const Prime& P = kWide[q];
  const auto old = static_cast<std::int64_t>(T.fws.size());
  if (old >= L) return T;
  T.fws.resize(static_cast<std::size_t>(L));
  T.ivs.resize(static_cast<std::size_t>(L));
  const WideDivisor byP(P.p);
  const auto factor = [&](u64 w) {
    u64 wq = 0, rem = 0;
    byP.divrem(static_cast<u128>(w) << 64, wq, rem);
    return ShoupFactor{w, wq};
  };
  for (std::int64_t len = std::max<std::int64_t>(old, 1); len < L; len *= 2) {
    const u64 w = pow_mod(P.g, (P.p - 1) / static_cast<u64>(2 * len), P.p);
    const ShoupFactor fw = factor(w), fi = factor(pow_mod(w, P.p - 2, P.p));
    u64 x = 1, y = 1;
    for (std::int64_t j = 0; j < len; ++j) {
      T.fws[static_cast<std::size_t>(len + j)] = factor(x);
      T.ivs[static_cast<std::size_t>(len + j)] = factor(y);
      x = reduce(shoup(x, fw, P.p), P.p);
      y = reduce(shoup(y, fi, P.p), P.p);
    }
  }
  return T;
}

// The transforms of the first factor of the last product, with its cells
// (the third prime's as its two halves), and the second factor's. From the
// second product with the same first factor on, its entries are kept divided
// by L as Shoup factors, so that each product of entries takes one Shoup
// product.
struct Prepared {
  std::vector<cell_t> cells;
  int k = -1;
  bool factors = false;  // xf holds the factors of x
  Array<u64> x[3];
  Array<ShoupFactor> xf[3];
};
Prepared prepared;
Array<u64> work[3];
Array<u64> outs[3];  // l, b and a of each cell from the first wanted one

struct Job {
  const cell_t* X;
  const cell_t* Y;
  Span xs, ty;
  std::int64_t L;
  int k;
  bool kept, square, factors;
  const Tables* T[3];
};

// The n entries of cells c[s.lo .. s.hi], two to an entry, modulo p (below
// B + 2p < 4p), into e[0 .. n), n = ceil(s.size() / 2).
void load_entries(u64* e, const cell_t* c, Span s, int q) {
  const u64 p = kWide[q].p;
  const ShoupFactor b = kBIn[q];
  const std::int64_t pairs = s.size() / 2;
  const cell_t* at = c + s.lo;
  for (std::int64_t i = 0; i < pairs; ++i)
    e[i] = static_cast<u64>(at[2 * i]) + shoup(static_cast<u64>(at[2 * i + 1]), b, p);
  if (s.size() % 2 != 0) e[pairs] = static_cast<u64>(at[2 * pairs]);
}

// The transform (unreduced entries below 4p) of the cells of s into a: for
// half < 0 the whole of L entries, else half 0 or 1 of the third prime's,
// L/2 entries. The halves are made from the entries e_j: e_j + e_(j+L/2)
// and (e_j - e_(j+L/2)) w^j.
void forward(u64* a, const cell_t* c, Span s, const Job& J, int q, int half) {
  const Prime& P = kWide[q];
  const std::int64_t n = (s.size() + 1) / 2;
  if (half < 0) {
    load_entries(a, c, s, q);
    std::fill(a + n, a + J.L, u64{0});
    return transform_scalar(a, J.L, P, *J.T[q]);
  }
  const std::int64_t h = J.L / 2, over = std::max<std::int64_t>(n - h, 0);
  const u64 p = P.p, p4 = 4 * p;
  // The entries from h up go to a[0 ..) first; each entry below h then joins
  // the one h above it, read from a[j] before a[j] is written.
  if (over > 0) load_entries(a, c, {s.lo + 2 * h, s.hi}, q);
  std::fill(a + over, a + h, u64{0});
  const ShoupFactor* w = J.T[q]->fws.data() + h;
  const cell_t* at = c + s.lo;
  const ShoupFactor b = kBIn[q];
  const std::int64_t low = std::min(n, h);
  for (std::int64_t j = 0; j < low; ++j) {
    const std::int64_t i = s.lo + 2 * j;
    const u64 e = static_cast<u64>(at[2 * j]) + (i + 1 <= s.hi ? shoup(static_cast<u64>(at[2 * j + 1]), b, p) : 0);
    const u64 f = a[j];
    if (half == 0) {
      const u64 z = e + f;
      a[j] = z >= p4 ? z - p4 : z;
    } else {
      a[j] = shoup(e - f + p4, w[j], p);
    }
  }
  transform_scalar(a, h, P, *J.T[q]);
}

// The residues of the product modulo a prime (q < 2, half < 0) or one half of
// the third prime's, into work[q].
void lane(const Job& J, int q, int half) {
  const Prime& P = kWide[q];
  const std::int64_t off = half < 0 ? 0 : half * (J.L / 2), n = half < 0 ? J.L : J.L / 2;
  u64* x = prepared.x[q].data() + off;
  u64* a = work[q].data() + off;
  if (!J.kept) forward(x, J.X, J.xs, J, q, half);
  if (J.square)
    std::copy(x, x + n, a);
  else
    forward(a, J.Y, J.ty, J, q, half);
  if (!J.kept) {
    multiply_entries_scalar(a, x, n, P, J.k);
  } else {
    ShoupFactor* f = prepared.xf[q].data() + off;
    if (!J.factors) {  // x / L mod p, and its quotient
      const WideDivisor byP(P.p);
      const ShoupFactor unscale = shoup_factor(pow_mod(pow_mod(2, static_cast<u64>(J.k), P.p), P.p - 2, P.p), P.p);
      for (std::int64_t i = 0; i < n; ++i) {
        const u64 w = reduce(shoup(x[i], unscale, P.p), P.p);
        u64 wq = 0, rem = 0;
        byP.divrem(static_cast<u128>(w) << 64, wq, rem);
        f[i] = {w, wq};
      }
    }
    for (std::int64_t i = 0; i < n; ++i) a[i] = shoup(a[i], f[i], P.p);
  }
  inverse_transform_scalar(a, n, P, *J.T[q]);
}

void residues(const void* ctx, int t) {
  const Job& J = *static_cast<const Job*>(ctx);
  lane(J, t, -1);
  lane(J, 2, t);
}

// The cells from..to of the wanted entry columns k2 .. K, with the pairs
// summed apart: extra_from at `from` when that is odd (from c0), extra_k2 at
// c0 + 2 k2.
struct CrtJob {
  std::int64_t L, c0, from, to, k2, K;
  u128 extra_from, extra_k2;
  const ShoupFactor* iv;  // the third prime's factors of its last inverse stage
};

// Entry column k as v = p0 + B p1 + B^2 p2 + B^3 p3, each part below 2^93.
struct Parts {
  u128 p0 = 0, p1 = 0, p2 = 0, p3 = 0;
};
Parts parts(const CrtJob& J, std::int64_t k) {
  if (k < J.k2 || k > J.K) return {};
  const std::int64_t h = J.L / 2, j = k < h ? k : k - h;
  const u64 r0 = work[0][static_cast<std::size_t>(k)], r1 = work[1][static_cast<std::size_t>(k)];
  const u64 x = work[2][static_cast<std::size_t>(j)];
  const u64 v = shoup(work[2][static_cast<std::size_t>(h + j)], J.iv[j], kP2);
  const u64 r2 = reduce_lazy(k < h ? x + v : x - v + 2 * kP2, kWide[2]);
  const u64 t2 = reduce(shoup(r1 + kP1 - reduce(r0, kP1), kInv0In1, kP1), kP1);
  const u64 u = reduce(r0, kP2) + shoup(t2, kP0In2, kP2);  // t1 + p0 t2 mod p2, below 3 p2
  const u64 t3 = reduce(shoup(r2 + 3 * kP2 - u, kInv01In2, kP2), kP2);
  const u64 t1h = r0 / kB, t1l = r0 - t1h * kB;
  return {t1l + static_cast<u128>(t2) * kD0 + static_cast<u128>(t3) * kQ0,
          t1h + static_cast<u128>(t2) * kD1 + static_cast<u128>(t3) * kQ1, static_cast<u128>(t3) * kQ2,
          static_cast<u128>(t3) * kQ3};
}

// The cells in two halves of the entry columns they come from.
void crt_half(const void* ctx, int t) {
  const CrtJob& J = *static_cast<const CrtJob*>(ctx);
  const std::int64_t kS = (J.from - J.c0) / 2, kE = (J.to - J.c0) / 2, mid = kS + (kE - kS + 1) / 2;
  const std::int64_t lo = t == 0 ? kS : mid, hi = t == 0 ? mid - 1 : kE;
  Parts prev = parts(J, lo - 1);
  u64 *l = outs[0].data(), *b = outs[1].data(), *a = outs[2].data();
  const auto put = [&](std::int64_t c, u128 s) {
    if (c < J.from || c > J.to) return;
    const auto i = static_cast<std::size_t>(c - J.from);
    split_base(s, l[i], b[i], a[i]);
  };
  for (std::int64_t k = lo; k <= hi; ++k) {
    const Parts cur = parts(J, k);
    const std::int64_t c = J.c0 + 2 * k;
    put(c, cur.p0 + prev.p2 + (k == J.k2 ? J.extra_k2 : 0));
    put(c + 1, cur.p1 + prev.p3 + (c + 1 == J.from ? J.extra_from : 0));
    prev = cur;
  }
}

// Transforms of at least kPairLength entries run side by side, and so do the
// remainders of at least kPairCells cells (the thresholds at which the pairs
// paid in exp(pi/10) and command 17 at 10^4 decimals).
constexpr std::int64_t kPairLength = 256;
constexpr std::int64_t kPairCells = 300;

}  // namespace

bool add_product_wide(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from) {
  const auto entries = [](Span s) { return (s.size() + 1) / 2; };
  int k = 5;
  while ((std::int64_t{1} << k) < entries(tx) + entries(ty) - 1) ++k;
  if (k > kWideMaxLog) return false;
  const std::int64_t L = std::int64_t{1} << k;
  const bool square = X == Y && tx.lo == ty.lo && tx.hi == ty.hi;
  // As in add_product_ntt: X reaches down to L/2 + 1 entries of its block when
  // Y leaves room, so that its transform serves the next products.
  Span xs = tx;
  if (!square && 2 * entries(ty) <= L) xs.lo = std::max(bx.lo, std::min(tx.lo, tx.hi - L));
  const auto nx = static_cast<std::size_t>(xs.size());
  const bool kept = prepared.k == k && prepared.cells.size() == nx &&
                    std::equal(prepared.cells.begin(), prepared.cells.end(), X + xs.lo);
  if (!kept) {
    prepared.cells.assign(X + xs.lo, X + xs.hi + 1);
    prepared.k = k;
    prepared.factors = false;
  }
  const Job job{X,
                Y,
                xs,
                ty,
                L,
                k,
                kept,
                square,
                kept && prepared.factors,
                {&tables_for(0, L), &tables_for(1, L), &tables_for(2, L)}};
  for (int q = 0; q < 3; ++q) {
    if (prepared.x[q].size() < static_cast<std::size_t>(L)) prepared.x[q].resize(static_cast<std::size_t>(L));
    if (kept && prepared.xf[q].size() < static_cast<std::size_t>(L)) prepared.xf[q].resize(static_cast<std::size_t>(L));
    if (work[q].size() < static_cast<std::size_t>(L)) work[q].resize(static_cast<std::size_t>(L));
  }
  run_pair(residues, &job, L >= kPairLength);
  prepared.factors = kept;

  // The wanted cells, from `from` to one above the top column (the entry
  // columns' parts reach that far; the product's value stops below it).
  const std::int64_t c0 = xs.lo + ty.lo, to = tx.hi + ty.hi + 1;
  const std::int64_t r = from - c0, k2 = (r + 1) / 2, K = entries(xs) + entries(ty) - 2;
  // The pairs of entry column k2 - 1 that reach from: X_2i+1 Y_2j+1, and when r
  // is odd those of column `from` itself.
  u128 extra_from = 0, extra_k2 = 0;
  if (k2 > 0) {
    const auto cell = [](const cell_t* c, Span s, std::int64_t i) -> u64 { return i <= s.hi ? c[i] : 0; };
    const std::int64_t kb = k2 - 1;
    for (std::int64_t i = std::max<std::int64_t>(0, kb - (entries(ty) - 1)); i <= std::min(kb, entries(xs) - 1); ++i) {
      const std::int64_t xi = xs.lo + 2 * i, yj = ty.lo + 2 * (kb - i);
      const u64 x0 = cell(X, xs, xi), x1 = cell(X, xs, xi + 1), y0 = cell(Y, ty, yj), y1 = cell(Y, ty, yj + 1);
      extra_k2 += static_cast<u128>(x1) * y1;
      if (r % 2 != 0) extra_from += static_cast<u128>(x1) * y0 + static_cast<u128>(x0) * y1;
    }
  }
  const auto cells = static_cast<std::size_t>(to - from + 1);
  for (auto& o : outs)
    if (o.size() < cells) o.resize(cells);
  const CrtJob crt{L, c0, from, to, k2, K, extra_from, extra_k2, tables[2].ivs.data() + L / 2};
  run_pair(crt_half, &crt, to - from + 1 >= kPairCells);
  add_split_columns(acc, from, to, [&](std::int64_t c, u64& l, u64& b, u64& a) {
    const auto i = static_cast<std::size_t>(c - from);
    l = outs[0][i];
    b = outs[1][i];
    a = outs[2][i];
  });
  return true;
}

}  // namespace ntt
}  // namespace longmult
