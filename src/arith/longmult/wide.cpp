// Products by transforms on the portable kernel: modulo primes below 2^58,
// with C = 2 or 3 cells to an entry and C + 1 primes.
//
// An entry of C cells is below B^C, a column of entries below m B^2C for
// m < 2^20 pairs: below 2^153 for two cells, within the product of three
// primes (about 2^174), and below 2^219 for three, within that of four
// (about 2^232). Against two primes below 2^50 with a cell to an entry (the
// vector units), the transforms have a half or a third of the entries. With
// three cells the two threads take two primes each. With two each takes a
// prime and half of the third: a transform of L entries splits after its
// first stage into two of L/2 entries, the residues modulo x^(L/2) - 1 (the
// sums a_j + a_(j+L/2)) and modulo x^(L/2) + 1 (the differences times w^j),
// each made from the factors' cells alone; the last stage of the inverse,
// which joins them, is made with the Chinese remainders. Each product takes
// the form whose transforms are the shorter work.
//
// Entry column k of the product gathers the pairs X_(Ci+a) Y_(Cj+b) with
// i + j = k, which belong to cell column c0 + Ck + a + b, c0 the sum of the
// first cells. The entry columns from the first whose cells are all wanted
// give every wanted column but the pairs of the entry columns before that
// reach up into them; these few are summed apart.
#include <algorithm>

#include "arith/forkjoin.h"
#include "arith/longmult/ntt.h"

namespace longmult {
namespace ntt {
namespace {

inline constexpr Prime kWide[4] = {make_prime(288'230'376'126'545'921, 6), make_prime(288'230'376'097'185'793, 5),
                                   make_prime(288'230'376'059'437'057, 5), make_prime(288'230'376'051'048'449, 3)};
constexpr bool wide_prime(const Prime& P) {
  return P.bits == 58 && 65 * ((u64{1} << 58) - P.p) < (u64{1} << 58) && (P.p - 1) % (u64{1} << 22) == 0;
}
static_assert(wide_prime(kWide[0]) && wide_prime(kWide[1]) && wide_prime(kWide[2]) && wide_prime(kWide[3]));
static_assert(kWide[0].p > kWide[1].p && kWide[1].p > kWide[2].p && kWide[2].p > kWide[3].p);  // r0 < 2 p_q

// The longest transform has 2^20 entries, as on the vector units.
inline constexpr int kWideMaxLog = 20;

// w with its quotient, at compile time.
constexpr ShoupFactor shoup_constant(u64 w, u64 p) { return {w, static_cast<u64>((static_cast<u128>(w) << 64) / p)}; }

// The Chinese remainders by Garner's method: v = t0 + p0 (t1 + p1 (t2 + p2 t3))
// with t0 = r0 and each t_q = (r_q - (the sum so far)) / (p0 .. p_(q-1)) mod p_q.
constexpr u64 kP0 = kWide[0].p, kP1 = kWide[1].p, kP2 = kWide[2].p, kP3 = kWide[3].p;
constexpr ShoupFactor kInv0In1 = shoup_constant(pow_mod(kP0 % kP1, kP1 - 2, kP1), kP1);
constexpr ShoupFactor kP0In2 = shoup_constant(kP0 % kP2, kP2);
constexpr ShoupFactor kInv01In2 = shoup_constant(pow_mod(mul_mod(kP0 % kP2, kP1 % kP2, kP2), kP2 - 2, kP2), kP2);
constexpr ShoupFactor kP0In3 = shoup_constant(kP0 % kP3, kP3);
constexpr ShoupFactor kP01In3 = shoup_constant(mul_mod(kP0 % kP3, kP1 % kP3, kP3), kP3);
constexpr ShoupFactor kInv012In3 =
    shoup_constant(pow_mod(mul_mod(mul_mod(kP0 % kP3, kP1 % kP3, kP3), kP2 % kP3, kP3), kP3 - 2, kP3), kP3);

// The base-B digits of p0, p0 p1 and p0 p1 p2.
struct Digits {
  u64 d[6] = {};
  constexpr Digits(u64 a, u64 b, u64 c) {
    // (a b c) in base 2^64 limbs, then divided by B limb by limb.
    u64 l[3] = {};
    const u128 ab = static_cast<u128>(a) * b;
    u128 t = static_cast<u128>(static_cast<u64>(ab)) * c;
    l[0] = static_cast<u64>(t);
    t = (t >> 64) + static_cast<u128>(static_cast<u64>(ab >> 64)) * c;
    l[1] = static_cast<u64>(t);
    l[2] = static_cast<u64>(t >> 64);
    for (u64& digit : d) {
      u128 r = 0;
      for (int i = 2; i >= 0; --i) {
        const u128 cur = (r << 64) | l[i];
        l[i] = static_cast<u64>(cur / kB);
        r = cur % kB;
      }
      digit = static_cast<u64>(r);
    }
  }
};
constexpr Digits kD0(kP0, 1, 1), kD01(kP0, kP1, 1), kD012(kP0, kP1, kP2);
static_assert(kD0.d[2] == 0 && kD01.d[4] == 0 && kD012.d[5] != 0);

// Per prime, the Shoup factors as in Tables::fws and ivs (the rest unused),
// and B and B^2 mod p as Shoup factors.
Tables tables[4];
constexpr ShoupFactor kBIn[4] = {shoup_constant(kB, kP0), shoup_constant(kB, kP1), shoup_constant(kB, kP2),
                                 shoup_constant(kB, kP3)};
constexpr ShoupFactor kB2In[4] = {shoup_constant(mul_mod(kB, kB, kP0), kP0), shoup_constant(mul_mod(kB, kB, kP1), kP1),
                                  shoup_constant(mul_mod(kB, kB, kP2), kP2), shoup_constant(mul_mod(kB, kB, kP3), kP3)};

const Tables& tables_for(int q, std::int64_t L) {
  Tables& T = tables[q];
  const Prime& P = kWide[q];
  const auto old = static_cast<std::int64_t>(T.fws.size());
  if (old >= L) return T;
  T.fws.resize(static_cast<std::size_t>(L));
  T.ivs.resize(static_cast<std::size_t>(L));
  const WideDivisor byP(P.p);
  for (std::int64_t len = std::max<std::int64_t>(old, 1); len < L; len *= 2) {
    const u64 w = pow_mod(P.g, (P.p - 1) / static_cast<u64>(2 * len), P.p);
    const ShoupFactor fw = shoup_factor(w, byP), fi = shoup_factor(pow_mod(w, P.p - 2, P.p), byP);
    u64 x = 1, y = 1;
    for (std::int64_t j = 0; j < len; ++j) {
      T.fws[static_cast<std::size_t>(len + j)] = shoup_factor(x, byP);
      T.ivs[static_cast<std::size_t>(len + j)] = shoup_factor(y, byP);
      x = reduce(shoup(x, fw, P.p), P.p);
      y = reduce(shoup(y, fi, P.p), P.p);
    }
  }
  return T;
}

// The transforms of the first factor of the last product, with its cells
// (the third prime's, with two cells to an entry, as its two halves), and
// the second factor's. From the second product with the same first factor
// on, its entries are kept divided by L as Shoup factors, so that each
// product of entries takes one Shoup product.
struct Prepared {
  std::vector<cell_t> cells;
  int C = 0, k = -1;
  bool factors = false;  // xf holds the factors of x
  Array<u64> x[4];
  Array<ShoupFactor> xf[4];
};
Prepared prepared;
Array<u64> work[4];
Array<u64> outs[3];  // l, b and a of each cell from the first wanted one

struct Job {
  const cell_t* X;
  const cell_t* Y;
  Span xs, ty;
  int C;
  std::int64_t L;
  int k;
  bool kept, square, factors;
};

std::int64_t entries(Span s, int C) { return (s.size() + C - 1) / C; }

// Entry i of the cells at[0 .. n), C to an entry, modulo p (below 4p).
inline u64 entry(const cell_t* at, std::int64_t n, std::int64_t i, int C, int q) {
  const u64 p = kWide[q].p;
  const std::int64_t c = C * i;
  u64 e = static_cast<u64>(at[c]);
  if (c + 1 < n) e += shoup(static_cast<u64>(at[c + 1]), kBIn[q], p);
  if (C == 3 && c + 2 < n) e += reduce(shoup(static_cast<u64>(at[c + 2]), kB2In[q], p), p);
  return e;
}

// The entries of cells c[s.lo .. s.hi] into e[0 .. entries).
void load_entries(u64* e, const cell_t* c, Span s, int C, int q) {
  const std::int64_t n = entries(s, C);
  for (std::int64_t i = 0; i < n; ++i) e[i] = entry(c + s.lo, s.size(), i, C, q);
}

// The transform (entries in [0, p)) of the cells of s into a: for half < 0
// the whole of L entries, else half 0 or 1 of the third prime's, L/2 entries.
// The halves are made from the entries e_j: e_j + e_(j+L/2) and
// (e_j - e_(j+L/2)) w^j.
void forward(u64* a, const cell_t* c, Span s, const Job& J, int q, int half) {
  const Prime& P = kWide[q];
  const Tables& T = tables[q];
  const std::int64_t n = entries(s, J.C);
  if (half < 0) {
    load_entries(a, c, s, J.C, q);
    std::fill(a + n, a + J.L, u64{0});
    return transform_scalar(a, J.L, P, T);
  }
  const std::int64_t h = J.L / 2, over = std::max<std::int64_t>(n - h, 0);
  const u64 p = P.p, p4 = 4 * p;
  // The entries from h up go to a[0 ..) first; each entry below h then joins
  // the one h above it, read from a[j] before a[j] is written.
  if (over > 0) load_entries(a, c, {s.lo + J.C * h, s.hi}, J.C, q);
  std::fill(a + over, a + h, u64{0});
  const ShoupFactor* w = T.fws.data() + h;
  const std::int64_t low = std::min(n, h);
  for (std::int64_t j = 0; j < low; ++j) {
    const u64 e = entry(c + s.lo, s.size(), j, J.C, q), f = a[j];
    if (half == 0) {
      const u64 z = e + f;
      a[j] = z >= p4 ? z - p4 : z;
    } else {
      a[j] = shoup(e - f + p4, w[j], p);
    }
  }
  transform_scalar(a, h, P, T);
}

// The residues of the product modulo prime q (half < 0) or one half of the
// third prime's (two cells to an entry), into work[q].
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
      const ShoupFactor unscale = shoup_constant(pow_mod(pow_mod(2, static_cast<u64>(J.k), P.p), P.p - 2, P.p), P.p);
      for (std::int64_t i = 0; i < n; ++i) f[i] = shoup_factor(reduce(shoup(x[i], unscale, P.p), P.p), byP);
    }
    for (std::int64_t i = 0; i < n; ++i) a[i] = shoup(a[i], f[i], P.p);
  }
  inverse_transform_scalar(a, n, P, tables[q]);
}

void residues(const void* ctx, int t) {
  const Job& J = *static_cast<const Job*>(ctx);
  lane(J, t, -1);
  if (J.C == 3)
    lane(J, t + 2, -1);
  else
    lane(J, 2, t);
}

// The cells from..to of the wanted entry columns, kf .. K. The pairs of
// the entry columns below kf that reach cell `from` or above are summed
// apart, in two halves, into extra[t][c - from].
struct CrtJob {
  const cell_t* X;
  const cell_t* Y;
  Span xs, ty;
  int C;
  std::int64_t L, c0, from, to, kf, K;
  const ShoupFactor* iv;  // the third prime's factors of its last inverse stage
  u128 (*extra)[4];
};

// Half t of those pairs: entry columns kf - 2 and kf - 1, each split by the
// entries of X.
void add_extra(const CrtJob& J, int t) {
  const int C = J.C;
  const std::int64_t nxe = entries(J.xs, C), nye = entries(J.ty, C);
  const auto cell = [](const cell_t* c, Span s, std::int64_t i) -> u64 { return i <= s.hi ? c[i] : 0; };
  for (std::int64_t kb = std::max<std::int64_t>(J.kf - 2, 0); kb < J.kf; ++kb) {
    const std::int64_t first = std::max<std::int64_t>(0, kb - (nye - 1)), last = std::min(kb, nxe - 1);
    const std::int64_t mid = first + (last - first + 1) / 2;
    const std::int64_t base = J.c0 + C * kb;  // the cell of the pairs u = v = 0
    for (std::int64_t i = t == 0 ? first : mid; i <= (t == 0 ? mid - 1 : last); ++i)
      for (int u = 0; u < C; ++u)
        for (int v = std::max<std::int64_t>(0, J.from - base - u); v < C; ++v)
          J.extra[t][base + u + v - J.from] +=
              static_cast<u128>(cell(J.X, J.xs, J.xs.lo + C * i + u)) * cell(J.Y, J.ty, J.ty.lo + C * (kb - i) + v);
  }
}

// Entry column k as the sum of pos[i] B^i, each below 2^93.
struct Parts {
  u128 pos[6] = {};
};
Parts parts(const CrtJob& J, std::int64_t k) {
  if (k < J.kf || k > J.K) return {};
  const auto at = static_cast<std::size_t>(k);
  const u64 r0 = work[0][at], r1 = work[1][at];
  u64 r2 = work[2][at];
  if (J.C == 2) {  // the last inverse stage of the third prime's halves
    const std::int64_t h = J.L / 2, j = k < h ? k : k - h;
    const u64 x = work[2][static_cast<std::size_t>(j)];
    const u64 v = shoup(work[2][static_cast<std::size_t>(h + j)], J.iv[j], kP2);
    r2 = reduce_lazy(k < h ? x + v : x - v + 2 * kP2, kWide[2]);
  }
  const u64 t1 = reduce(shoup(r1 + kP1 - reduce(r0, kP1), kInv0In1, kP1), kP1);
  const u64 s2 = reduce(r0, kP2) + shoup(t1, kP0In2, kP2);  // t0 + p0 t1 mod p2, below 3 p2
  const u64 t2 = reduce(shoup(r2 + 3 * kP2 - s2, kInv01In2, kP2), kP2);
  const u64 t0h = r0 / kB, t0l = r0 - t0h * kB;
  Parts v;
  v.pos[0] = t0l + static_cast<u128>(t1) * kD0.d[0] + static_cast<u128>(t2) * kD01.d[0];
  v.pos[1] = t0h + static_cast<u128>(t1) * kD0.d[1] + static_cast<u128>(t2) * kD01.d[1];
  v.pos[2] = static_cast<u128>(t2) * kD01.d[2];
  v.pos[3] = static_cast<u128>(t2) * kD01.d[3];
  if (J.C == 3) {
    const u64 r3 = work[3][at];
    // t0 + p0 t1 + p0 p1 t2 mod p3, below 5 p3
    const u64 s3 = reduce(r0, kP3) + shoup(t1, kP0In3, kP3) + shoup(t2, kP01In3, kP3);
    const u64 t3 = reduce(shoup(r3 + 5 * kP3 - s3, kInv012In3, kP3), kP3);
    for (int i = 0; i < 6; ++i) v.pos[i] += static_cast<u128>(t3) * kD012.d[i];
  }
  return v;
}

// The cells in two halves of the entry columns they come from: cell
// c0 + C k + i takes pos[i] of entry column k and pos[C + i] of k - 1.
void crt_half(const void* ctx, int t) {
  const CrtJob& J = *static_cast<const CrtJob*>(ctx);
  const int C = J.C;
  const std::int64_t kS = (J.from - J.c0) / C, kE = (J.to - J.c0) / C, mid = kS + (kE - kS + 1) / 2;
  const std::int64_t lo = t == 0 ? kS : mid, hi = t == 0 ? mid - 1 : kE;
  Parts prev = parts(J, lo - 1);
  u64 *l = outs[0].data(), *b = outs[1].data(), *a = outs[2].data();
  for (std::int64_t k = lo; k <= hi; ++k) {
    const Parts cur = parts(J, k);
    for (int i = 0; i < C; ++i) {
      const std::int64_t c = J.c0 + C * k + i;
      if (c < J.from || c > J.to) continue;
      const auto o = static_cast<std::size_t>(c - J.from);
      split_base(cur.pos[i] + prev.pos[C + i], l[o], b[o], a[o]);
    }
    prev = cur;
  }
  add_extra(J, t);
}

// Transforms of at least kPairLength entries run side by side, and so do the
// remainders of at least kPairCells cells (the thresholds at which the pairs
// paid in exp(pi/10) and command 17 at 10^4 decimals).
constexpr std::int64_t kPairLength = 256;
constexpr std::int64_t kPairCells = 300;

}  // namespace

bool add_product_wide(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from) {
  // The form with the shorter work for each thread: one and a half
  // transforms of 2^k2 entries, or two of 2^k3.
  const auto log_length = [&](int C, int least) {
    int k = least;
    while ((std::int64_t{1} << k) < entries(tx, C) + entries(ty, C) - 1) ++k;
    return k;
  };
  const int k2 = log_length(2, 5), k3 = log_length(3, 4);
  const int C = 4 * k3 * (std::int64_t{1} << k3) < 3 * k2 * (std::int64_t{1} << k2) ? 3 : 2;
  const int k = C == 3 ? k3 : k2;
  if (k > kWideMaxLog) return false;
  const std::int64_t L = std::int64_t{1} << k;
  const int primes = C + 1;
  const bool square = X == Y && tx.lo == ty.lo && tx.hi == ty.hi;
  // As in add_product_ntt: X reaches down to L/2 + 1 entries of its block when
  // Y leaves room, so that its transform serves the next products.
  Span xs = tx;
  if (!square && 2 * entries(ty, C) <= L) xs.lo = std::max(bx.lo, std::min(tx.lo, tx.hi - C * (L / 2)));
  const auto nx = static_cast<std::size_t>(xs.size());
  const bool kept = prepared.C == C && prepared.k == k && prepared.cells.size() == nx &&
                    std::equal(prepared.cells.begin(), prepared.cells.end(), X + xs.lo);
  if (!kept) {
    prepared.cells.assign(X + xs.lo, X + xs.hi + 1);
    prepared.C = C;
    prepared.k = k;
    prepared.factors = false;
  }
  const Job job{X, Y, xs, ty, C, L, k, kept, square, kept && prepared.factors};
  for (int q = 0; q < primes; ++q) {
    tables_for(q, L);
    if (prepared.x[q].size() < static_cast<std::size_t>(L)) prepared.x[q].resize(static_cast<std::size_t>(L));
    if (kept && prepared.xf[q].size() < static_cast<std::size_t>(L)) prepared.xf[q].resize(static_cast<std::size_t>(L));
    if (work[q].size() < static_cast<std::size_t>(L)) work[q].resize(static_cast<std::size_t>(L));
  }
  forkjoin::run_pair([&](int t) noexcept { residues(&job, t); }, L >= kPairLength);
  prepared.factors = kept;

  // The wanted cells, from `from` to one above the top column (the entry
  // columns' parts reach that far; the product's value stops below it).
  const std::int64_t c0 = xs.lo + ty.lo, to = tx.hi + ty.hi + 1;
  const std::int64_t nxe = entries(xs, C), nye = entries(ty, C);
  const std::int64_t kf = (from - c0 + C - 1) / C, K = nxe + nye - 2;
  u128 extra[2][4] = {};
  const CrtJob crt{X, Y, xs, ty, C, L, c0, from, to, kf, K, tables[2].ivs.data() + L / 2, extra};
  const auto cells = static_cast<std::size_t>(to - from + 1);
  for (auto& o : outs)
    if (o.size() < cells) o.resize(cells);
  forkjoin::run_pair([&](int t) noexcept { crt_half(&crt, t); }, to - from + 1 >= kPairCells);
  for (std::size_t o = 0; o < 4 && o < cells; ++o) {  // the pairs summed apart, into their cells
    const u128 s = (static_cast<u128>(outs[2][o]) * kB + outs[1][o]) * kB + outs[0][o] + extra[0][o] + extra[1][o];
    split_base(s, outs[0][o], outs[1][o], outs[2][o]);
  }
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
