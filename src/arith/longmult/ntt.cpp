// Products by number-theoretic transforms in every form of the plan (ntt.h), by one driver: the
// tables of each prime, one cache of the first factor's transforms, the residues modulo each prime
// shared out between two threads, and the Chinese remainders. With two cells to an entry each
// thread takes a prime and half of the third: a transform of L entries splits after its first stage
// into two of L/2, modulo x^(L/2) - 1 (the sums a_j + a_(j+L/2)) and x^(L/2) + 1 (the differences
// times w^j), each made from the factors' cells; the last inverse stage, which joins them, is made
// with the Chinese remainders. With three cells each thread takes two primes, with one one. With a
// cell to an entry a transform may have 3 2^k entries (the plan's `three`): the vector kernels'
// radix-3 stage, then three transforms of 2^k.
//
// Entry column k of the product gathers the pairs X_(Ci+a) Y_(Cj+b) with i + j = k, which belong to
// cell column c0 + Ck + a + b, c0 the sum of the first cells. The entry columns from the first
// whose cells are all wanted give every wanted column but the pairs of the entry columns before
// that reach up into them; these few are summed apart.
#include <algorithm>
#include <array>

#include "arith/forkjoin.h"
#include "arith/longmult/ntt.h"

namespace longmult {
namespace ntt {
namespace {

// A form: C cells to an entry, modulo the first C + 1 of `primes`, whose
// tables are tables[slot ..]. The vector units take the first form alone.
struct Form {
  int C;
  const Prime* primes;
  int slot;
};
constexpr Form kForms[4] = {{}, {1, kPrimes, 0}, {2, kWide, 2}, {3, kWide, 2}};

// Written by the thread that calls add_product_ntt alone, before it shares
// out the work of a product.
Tables tables[6];

}  // namespace

namespace {

// The radix-3 tables of T for transforms of 3N entries, N = 1, 2, 4, .. L.
void make_thirds(Tables& T, const Prime& P, std::int64_t L) {
  const WideDivisor byP(P.p);
  const auto runs = static_cast<std::size_t>(radix3_at(2 * L)), tails = static_cast<std::size_t>(2 * L / kRun3);
  T.fw3.resize(runs), T.iv3.resize(runs), T.fw3t.resize(tails), T.iv3t.resize(tails);
  for (std::int64_t N = 1; N <= L; N *= 2) {
    const u64 w = pow_mod(P.g, (P.p - 1) / static_cast<u64>(3 * N), P.p), wi = pow_mod(w, P.p - 2, P.p);
    const auto fill = [&](double* run, double* tail, u64 root) {
      const ShoupFactor f = shoup_factor(root, byP);
      u64 x = 1;
      for (std::int64_t j = 0; j < std::min(N, kRun3); ++j, x = reduce(shoup(x, f, P.p), P.p)) run[j] = centred(x, P);
      if (N <= kRun3) return;
      const ShoupFactor g = shoup_factor(x, byP);  // x = root^kRun3
      u64 y = 1;
      for (std::int64_t t = 0; t < N / kRun3; ++t, y = reduce(shoup(y, g, P.p), P.p)) tail[t] = centred(y, P);
    };
    fill(T.fw3.data() + radix3_at(N), T.fw3t.data() + N / kRun3, w);
    fill(T.iv3.data() + radix3_at(N), T.iv3t.data() + N / kRun3, wi);
  }
  T.thirds = L;
  const u64 omega = pow_mod(P.g, (P.p - 1) / 3, P.p), half = (P.p + 1) / 2;  // 1/2
  T.half = centred(P.p - half, P);
  T.root = centred(mul_mod(reduce(omega + P.p - mul_mod(omega, omega, P.p), P.p), half, P.p), P);
}

}  // namespace

const Tables& tables_for(int slot, const Prime& P, std::int64_t L, bool doubles) {
  Tables& T = tables[slot];
  const bool three = L % 3 == 0;
  if (three) L /= 3;
  if (three && doubles && T.thirds < L) make_thirds(T, P, L);
  std::int64_t& made = doubles ? T.made_doubles : T.made_shoup;
  if (made >= L) return T;
  const auto n = static_cast<std::size_t>(doubles ? twiddle_entries(L) : L);
  const WideDivisor byP(P.p);
  const auto grow = [n](auto&... tables) { (tables.resize(n), ...); };
  doubles ? grow(T.fwd, T.ivd) : grow(T.fws, T.ivs);
  // Only the stages the tables lack. A whole stage's even twiddles are those of the stage before
  // (w^2 is its root), its odd ones these times w: products side by side rather than one chain.
  const auto residue = [&P](double x) {
    const auto v = static_cast<u64>(static_cast<std::int64_t>(x));
    return v + (P.p & (0 - (v >> 63)));
  };
  for (std::int64_t len = std::max<std::int64_t>(1, made); len < L; len *= 2) {
    const u64 w = pow_mod(P.g, (P.p - 1) / static_cast<u64>(2 * len), P.p);
    const ShoupFactor fw = shoup_factor(w, byP), fi = shoup_factor(pow_mod(w, P.p - 2, P.p), byP);
    const bool run = doubles && len > kWhole;
    if (!run && len > 1) {
      for (std::int64_t i = 0; i < len / 2; ++i) {
        const auto e = static_cast<std::size_t>(len + 2 * i), h = static_cast<std::size_t>(len / 2 + i);
        if (doubles) {
          const u64 x = residue(T.fwd[h]), y = residue(T.ivd[h]);
          T.fwd[e] = T.fwd[h], T.ivd[e] = T.ivd[h];
          T.fwd[e + 1] = centred(reduce(shoup(x, fw, P.p), P.p), P);
          T.ivd[e + 1] = centred(reduce(shoup(y, fi, P.p), P.p), P);
        } else {
          T.fws[e] = T.fws[h], T.ivs[e] = T.ivs[h];
          T.fws[e + 1] = shoup_factor(reduce(shoup(T.fws[h].w, fw, P.p), P.p), byP);
          T.ivs[e + 1] = shoup_factor(reduce(shoup(T.ivs[h].w, fi, P.p), P.p), byP);
        }
      }
      continue;
    }
    const auto at = static_cast<std::size_t>(run ? run_at(len) : len);
    u64 x = 1, y = 1;
    for (auto e = at; e < at + static_cast<std::size_t>(run ? kRun : len); ++e) {
      if (doubles) T.fwd[e] = centred(x, P), T.ivd[e] = centred(y, P);
      if (!doubles) T.fws[e] = shoup_factor(x, byP), T.ivs[e] = shoup_factor(y, byP);
      x = reduce(shoup(x, fw, P.p), P.p);
      y = reduce(shoup(y, fi, P.p), P.p);
    }
  }
  made = L;
  return T;
}

namespace {

// The base-B digits of p[0] p[1] .. p[n-1] (p[q] < 2^58 < B^2).
struct Digits {
  u64 d[6] = {1};
  constexpr Digits() = default;
  constexpr Digits(const u64* p, int n) {
    for (int q = 0; q < n; ++q) {
      u128 carry = 0;
      for (u64& digit : d) {
        const u128 t = static_cast<u128>(digit) * p[q] + carry;
        digit = static_cast<u64>(t % kB);
        carry = t / kB;
      }
    }
  }
};

// The Chinese remainders of n primes by Garner's method: v = t0 + p0 (t1 + p1 (t2 + p2 t3)) with
// t0 = r0 and each t_q = (r_q - (the sum so far)) / (p0 .. p_(q-1)) mod p_q. For each q the factors
// 1 / (p0 .. p_(q-1)) and (p0 .. p_(j-1)), j < q, modulo p_q, and the digits of p0 .. p_(q-1).
struct Garner {
  u64 p[4] = {};
  ShoupFactor inv[4] = {}, prod[4][4] = {};
  Digits digits[4];
  constexpr Garner(const Prime* P, int n) {
    for (int q = 0; q < n; ++q) p[q] = P[q].p;
    for (int q = 1; q < n; ++q) {
      u64 m = 1;
      for (int j = 1; j <= q; ++j) {
        m = mul_mod(m, p[j - 1] % p[q], p[q]);
        if (j < q) prod[q][j] = shoup_constant(m, p[q]);
      }
      inv[q] = shoup_constant(pow_mod(m, p[q] - 2, p[q]), p[q]);
      digits[q] = Digits(p, q);
    }
  }
};
constexpr Garner kGarner[4] = {{kPrimes, 0}, {kPrimes, 2}, {kWide, 3}, {kWide, 4}};
static_assert(kGarner[1].digits[1].d[2] == 0 && kGarner[2].digits[2].d[4] == 0 && kGarner[3].digits[3].d[5] != 0);

// B and B^2 modulo each prime of kWide, for entries of several cells.
constexpr std::array<ShoupFactor, 4> base_powers(u64 e) {
  std::array<ShoupFactor, 4> f{};
  for (int q = 0; q < 4; ++q) f[q] = shoup_constant(pow_mod(kB, e, kWide[q].p), kWide[q].p);
  return f;
}
constexpr auto kBIn = base_powers(1), kB2In = base_powers(2);

// The transforms of the first factor of the last product, with its cells and form (the third
// prime's, with two cells to an entry, as two halves), and the second factor's. In plain C++, from
// the second product with the same first factor on, its entries are kept divided by L as Shoup
// factors, on the vector units divided by L from the first: then a product of entries takes one
// product, not two. The cells of a long X with a cell to an entry are kept in work[0] from the end
// of the product (a copy of their own took 8 MB of address space at 10^7 decimals, 76 MiB at
// 10^8), read there before the next product writes it. A second one, of the lower part of a factor
// whose top cells go alone (Keep::rest), is kept for transforms of up to 2^kRestLog entries (or 3
// times that).
constexpr std::size_t kCellsInWork = std::size_t{1} << 18;
constexpr int kRestLog = 13;
struct Prepared {
  std::vector<cell_t> cells;
  std::size_t n = 0;    // the cells of X kept, in `cells` or in work[0]
  bool inWork = false;  // in work[0]
  int C = 0;
  std::int64_t L = 0;
  const VectorKernels* made = nullptr;  // by these kernels, or in plain C++
  bool factors = false;                 // xf holds the factors of x
  bool scaled = false;                  // x holds the vector kernels' transforms divided by L
  bool deferred = false;                // the last product took x for one planned shorter (3 2^k)
  Array<u64> x[4];
  Array<ShoupFactor> xf[4];
};
Prepared prepared[2];            // Keep::x, Keep::rest
Array<u64> work[4], passing[4];  // the residues; X's transforms where the last product's are kept
Array<u64> outs[3];              // l, b and a of each cell from the first wanted one

struct Job {
  const cell_t *X, *Y;
  Span xs, ty;
  Form form;
  Array<u64>* x;           // X's transforms
  Array<ShoupFactor>* xf;  // the kept ones' factors (plain C++)
  const VectorKernels* v;  // the vector kernels, or none: plain C++
  std::int64_t L;          // 2^k entries, or 3 2^k if `three`
  int k;
  bool three, kept, square, factors, scaled;  // scaled: x is (once made) X's transform divided by L
};

// v with at least n entries, what it held lost where it grows: freed first, so that the old and
// the new array never take memory together (products of 3 2^k and 2^(k+2) entries alternate).
template <class V>
void regrown(V& v, std::int64_t n) {
  if (v.size() < static_cast<std::size_t>(n)) V().swap(v), v.resize(static_cast<std::size_t>(n));
}

std::int64_t entries(Span s, int C) { return (s.size() + C - 1) / C; }

// Entry i of the cells at[0 .. n), C to an entry, modulo the q-th prime (below 4p).
inline u64 entry(const cell_t* at, std::int64_t n, std::int64_t i, int C, int q) {
  const std::int64_t c = C * i;
  u64 e = static_cast<u64>(at[c]);
  if (C == 1) return e;
  const u64 p = kWide[q].p;
  if (c + 1 < n) e += shoup(static_cast<u64>(at[c + 1]), kBIn[q], p);
  if (C == 3 && c + 2 < n) e += reduce(shoup(static_cast<u64>(at[c + 2]), kB2In[q], p), p);
  return e;
}

// The entries of cells c[s.lo .. s.hi] into e[0 .. entries).
void load_entries(u64* e, const cell_t* c, Span s, int C, int q) {
  const std::int64_t n = entries(s, C);
  for (std::int64_t i = 0; i < n; ++i) e[i] = entry(c + s.lo, s.size(), i, C, q);
}

// The transform (entries in [0, p)) of the cells of s into a: for half < 0 the whole of L entries,
// else half 0 or 1 of the third prime's, L/2 entries. The halves are made from the entries e_j:
// e_j + e_(j+L/2) and (e_j - e_(j+L/2)) w^j. The vector kernels' end times `times`.
void forward(u64* a, const cell_t* c, Span s, const Job& J, int q, int half, u64 times = 1) {
  const Prime& P = J.form.primes[q];
  const Tables& T = tables[J.form.slot + q];
  const std::int64_t n = entries(s, J.form.C);
  if (half < 0) {
    if (J.v == nullptr)
      return load_entries(a, c, s, J.form.C, q), std::fill(a + n, a + J.L, u64{0}), transform_scalar(a, J.L, P, T);
    // A cell to an entry: the first stage reads the cells.
    static_assert(sizeof(cell_t) == sizeof(u64));
    const u64* src = reinterpret_cast<const u64*>(c + s.lo);
    if (J.three) return J.v->transform3(a, src, J.L / 3, P, T.fwd.data(), radix3(T, J.L / 3, false), n, times);
    return J.v->transform(a, src, J.L, P, T.fwd.data(), n, times);
  }
  const std::int64_t h = J.L / 2, over = std::max<std::int64_t>(n - h, 0);
  const u64 p = P.p, p4 = 4 * p;
  // The entries from h up go to a[0 ..) first; each entry below h then joins
  // the one h above it, read from a[j] before a[j] is written.
  if (over > 0) load_entries(a, c, {s.lo + J.form.C * h, s.hi}, J.form.C, q);
  std::fill(a + over, a + h, u64{0});
  const ShoupFactor* w = T.fws.data() + h;
  const std::int64_t low = std::min(n, h);
  for (std::int64_t j = 0; j < low; ++j) {
    const u64 e = entry(c + s.lo, s.size(), j, J.form.C, q), f = a[j], z = e + f;
    a[j] = half != 0 ? shoup(e - f + p4, w[j], p) : z >= p4 ? z - p4 : z;
  }
  transform_scalar(a, h, P, T);
}

// 1 / L mod p for L dividing p - 1: L (p - (p - 1) / L) = 1 mod p.
u64 inverse_of_length(const Prime& P, std::int64_t L) { return P.p - (P.p - 1) / static_cast<u64>(L); }

// The residues of the product modulo prime q (half < 0) or one half of the
// third prime's (two cells to an entry), into work[q].
void lane(const Job& J, int q, int half) {
  const Prime& P = J.form.primes[q];
  const Tables& T = tables[J.form.slot + q];
  const std::int64_t off = half < 0 ? 0 : half * (J.L / 2), n = half < 0 ? J.L : J.L / 2;
  u64 *x = J.x[q].data() + off, *a = work[q].data() + off;
  const u64 c = inverse_of_length(P, J.L);
  // A kept transform of X ends divided by L: one product less in each product it serves.
  if (!J.kept) forward(x, J.X, J.xs, J, q, half, J.v != nullptr && J.scaled ? c : 1);
  J.square ? void(std::copy(x, x + n, a)) : forward(a, J.Y, J.ty, J, q, half);
  if (J.v != nullptr && J.three)
    return J.v->inverse_transform3(a, x, J.scaled ? 1 : c, n / 3, P, T.ivd.data(), radix3(T, n / 3, true));
  if (J.v != nullptr) return J.v->inverse_transform(a, x, J.scaled ? 1 : c, n, P, T.ivd.data());
  if (!J.kept) {
    multiply_entries_scalar(a, x, n, P, J.k);
  } else {
    ShoupFactor* f = J.xf[q].data() + off;
    if (!J.factors) {  // x / L mod p, and its quotient
      const WideDivisor byP(P.p);
      const ShoupFactor unscale = shoup_constant(inverse_of_length(P, J.L), P.p);
      for (std::int64_t i = 0; i < n; ++i) f[i] = shoup_factor(reduce(shoup(x[i], unscale, P.p), P.p), byP);
    }
    for (std::int64_t i = 0; i < n; ++i) a[i] = shoup(a[i], f[i], P.p);
  }
  inverse_transform_scalar(a, n, P, T);
}

void residues(const Job& J, int t) {
  lane(J, t, -1);
  if (J.form.C > 1) J.form.C == 3 ? lane(J, t + 2, -1) : lane(J, 2, t);
}

// The cells from..to of the wanted entry columns, kf .. K, into l, b and a.
struct CrtJob {
  const Job* job;
  std::int64_t c0, from, to, kf, K;
  u64 *l, *b, *a;
};

// The pairs of the entry columns below kf (kf - 2 and kf - 1) that reach cell `from` or above,
// summed apart, into the lowest cells.
void add_extra(const CrtJob& J) {
  const Job& P = *J.job;
  const int C = P.form.C;
  const std::int64_t nx = P.xs.size(), ny = P.ty.size();
  const cell_t *x = P.X + P.xs.lo, *y = P.Y + P.ty.lo;
  u128 extra[4] = {};
  for (std::int64_t kb = std::max<std::int64_t>(J.kf - 2, 0); kb < J.kf; ++kb) {
    const std::int64_t base = J.c0 + C * kb;  // the cell of the pairs u = v = 0
    for (int u = 0; u < C; ++u)
      for (int v = std::max<std::int64_t>(0, J.from - base - u); v < C; ++v) {  // x_(C i + u) y_(C (kb - i) + v)
        const std::int64_t hi = std::min(kb, (nx - 1 - u + C) / C - 1);         // within both spans
        for (std::int64_t i = std::max<std::int64_t>(0, kb + 1 - (ny - 1 - v + C) / C); i <= hi; ++i)
          extra[base + u + v - J.from] += static_cast<u128>(x[C * i + u]) * static_cast<u64>(y[C * (kb - i) + v]);
      }
  }
  for (std::int64_t o = 0; o < 4 && o <= J.to - J.from; ++o) {
    const u128 s = (static_cast<u128>(J.a[o]) * kB + J.b[o]) * kB + J.l[o] + extra[o];
    split_base(s, J.l[o], J.b[o], J.a[o]);
  }
}

// Entry column k as the sum of v[i] B^i, each below 2^94.
using Parts = std::array<u128, 6>;
template <int C>
Parts parts(const CrtJob& J, std::int64_t k) {
  if (k < J.kf || k > J.K) return {};
  constexpr int n = C + 1;
  constexpr const Garner& G = kGarner[n - 1];
  const auto at = static_cast<std::size_t>(k);
  u64 r[n];
  for (int q = 0; q < n; ++q) r[q] = work[q][at];
  if (C == 2) {  // the last inverse stage of the third prime's halves
    const std::int64_t h = J.job->L / 2, j = k < h ? k : k - h;
    const u64 x = work[2][static_cast<std::size_t>(j)], p = G.p[2];
    const u64 v = shoup(work[2][static_cast<std::size_t>(h + j)], tables[4].ivs[static_cast<std::size_t>(h + j)], p);
    r[2] = reduce_lazy(k < h ? x + v : x - v + 2 * p, kWide[2]);
  }
  // t_q from s_q = t0 + p0 t1 + ... mod p_q, below (2q - 1) p_q.
  u64 t[n] = {r[0]};
  for (int q = 1; q < n; ++q) {
    const u64 p = G.p[q];
    u64 s = reduce(r[0], p);
    for (int j = 1; j < q; ++j) s += shoup(t[j], G.prod[q][j], p);
    t[q] = reduce(shoup(r[q] + (2 * q - 1) * p - s, G.inv[q], p), p);
  }
  Parts v{r[0] % kB, r[0] / kB};
#pragma GCC unroll 4  // whole, the sums in registers: a loop adds into memory, and v is read whole
  for (int q = 1; q < n; ++q)
#pragma GCC unroll 6
    for (int i = 0; i < 2 * C; ++i) v[i] += static_cast<u128>(t[q]) * G.digits[q].d[i];
  return v;
}

// The cells lo .. hi from the entry columns they come from: cell c0 + C k + i takes part i of entry
// column k and part C + i of k - 1 (and the lowest the pairs summed apart). With a cell to an
// entry, each column is split whole instead, a vector of them at a time on the vector units.
template <int C>
void crt_cells(const CrtJob& J, std::int64_t lo, std::int64_t hi) {
  std::int64_t k = (lo - J.c0) / C;
  const std::int64_t kE = (hi - J.c0) / C;
  if (C == 1) {
    if (const VectorKernels* v = J.job->v) {
      const std::int64_t n = (kE - k + 1) - (kE - k + 1) % static_cast<std::int64_t>(v->lanes());
      v->crt_columns(J.l + (lo - J.from), J.b + (lo - J.from), n);
      k += n;
    }
    for (u64 a = 0; k <= kE; ++k) {  // b and a packed, as the vector units leave them
      const Parts v = parts<1>(J, k);
      const auto o = static_cast<std::size_t>(J.c0 + k - J.from);
      split_base(v[0] + v[1] * kB, J.l[o], J.b[o], a), J.b[o] |= a << kHighAt;
    }
    return;
  }
  Parts prev = parts<C>(J, k - 1);
  for (; k <= kE; ++k) {
    const Parts cur = parts<C>(J, k);
    for (int i = 0; i < C; ++i) {
      const std::int64_t c = J.c0 + C * k + i;
      if (c < lo || c > hi) continue;
      const auto o = static_cast<std::size_t>(c - J.from);
      split_base(cur[i] + prev[C + i], J.l[o], J.b[o], J.a[o]);
    }
    prev = cur;
  }
  if (lo == J.from) add_extra(J);
}

constexpr void (*kCrtCells[4])(const CrtJob&, std::int64_t, std::int64_t) = {nullptr, crt_cells<1>, crt_cells<2>,
                                                                             crt_cells<3>};

}  // namespace

void release_buffers() {
  for (auto& P : prepared) P = Prepared{};
  for (auto& a : work) Array<u64>().swap(a);
  for (auto& a : passing) Array<u64>().swap(a);
  for (auto& a : outs) Array<u64>().swap(a);
}
}  // namespace ntt

void add_product_ntt(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from,
                     Units units, const Plan& plan, Keep keeping) {
  using namespace ntt;
  const Form form = kForms[plan.cells];
  const int C = form.C;
  const VectorKernels* v = C == 1 ? units.vector : nullptr;
  const bool square = X == Y && tx.lo == ty.lo && tx.hi == ty.hi;
  Prepared& first = prepared[0];  // the only one whose cells may be kept in work[0]
  Prepared& P = prepared[keeping == Keep::rest ? 1 : 0];
  const bool keep = keeping == Keep::x || (keeping == Keep::rest && plan.log <= kRestLog);
  // X reaches down to L/2 + 1 entries of its block when Y leaves room: then the same cells of X,
  // and so the same transform, serve every product of the run with Y's of about the same length, as
  // the terms of a series times one factor.
  const auto reach = [&](std::int64_t L) {
    Span s = tx;
    if (!square && 2 * entries(ty, C) <= L) s.lo = std::max(bx.lo, std::min(tx.lo, tx.hi - C * (L / 2)));
    return s;
  };
  // Whether X's transform of L entries, kept from a product before, serves this one.
  const auto held_for = [&](std::int64_t L, Span s) {
    const auto n = static_cast<std::size_t>(s.size());
    const cell_t* held = P.inWork ? reinterpret_cast<const cell_t*>(work[0].data()) : P.cells.data();
    return keep && P.C == C && P.L == L && P.made == v && P.n == n && !(square && P.scaled) &&
           std::equal(held, held + n, X + s.lo);
  };
  // A product planned at 3 2^k entries takes X's kept transform of 2^(k+2) instead, unless the
  // product before it did so: where the two lengths alternate with one X (the square root's x y and
  // y (2 - x y)) one transform serves both, and a run of products at 3 2^k (a series' terms) soon
  // keeps a transform of that length.
  bool three = plan.three && v != nullptr;
  int k = plan.log;
  std::int64_t L = (three ? 3 : 1) * (std::int64_t{1} << k);
  const bool defer = three && !P.deferred && held_for(4 * L / 3, reach(4 * L / 3));
  if (defer) three = false, k += 2, L = 4 * L / 3;
  const Span xs = reach(L);
  const auto nx = static_cast<std::size_t>(xs.size());
  // Buffers that must grow are freed first, not copied.
  const bool inWork = keeping == Keep::x && C == 1 && nx >= kCellsInWork;
  if (work[0].size() < static_cast<std::size_t>(L) || (keeping == Keep::x && !inWork && P.cells.capacity() < nx))
    release_buffers();
  const bool kept = held_for(L, xs);
  const bool scaled = kept ? P.scaled : v != nullptr && keep && !square;
  if (keep) P.deferred = defer;
  if (keep && !kept) {
    inWork ? P.cells.clear() : P.cells.assign(X + xs.lo, X + xs.hi + 1);
    P.C = C, P.L = L, P.made = v, P.factors = false, P.scaled = scaled;
  }
  if (first.inWork) first.n = 0, first.inWork = false;  // work[0] is written from here on
  if (keep) P.n = inWork ? 0 : nx;
  Array<u64>* const xt = keep ? P.x : passing;
  const Job job{X, Y, xs, ty, form, xt, P.xf, v, L, k, three, kept, square, kept && P.factors, scaled};
  for (int q = 0; q <= C; ++q) {
    tables_for(form.slot + q, form.primes[q], L, v != nullptr);
    regrown(job.x[q], L);  // a kept transform has its length already
    regrown(work[q], L);
    if (kept && v == nullptr) regrown(P.xf[q], L);  // the plain kernels' factors
  }
  forkjoin::run_pair([&](int t) noexcept { residues(job, t); }, plan.pair);
  if (keep) P.factors = kept && v == nullptr;

  // The wanted cells, from `from` to the top column, and with several cells to an entry one above
  // (the entry columns' parts reach that far; the product's value stops below it).
  const std::int64_t c0 = xs.lo + ty.lo, to = tx.hi + ty.hi + (C > 1 ? 1 : 0);
  const std::int64_t kf = (from - c0 + C - 1) / C, K = entries(xs, C) + entries(ty, C) - 2;
  const std::int64_t cells = to - from + 1;
  const bool inPlace = C == 1;  // a cell to an entry: l, and b with a, in place of their residues
  for (int o = 0; !inPlace && o < 3; ++o) regrown(outs[o], cells);
  u64* l = inPlace ? work[0].data() + (from - c0) : outs[0].data();
  u64 *b = inPlace ? work[1].data() + (from - c0) : outs[1].data(), *a = outs[2].data();
  const CrtJob crt{&job, c0, from, to, kf, K, l, b, a};
  const auto split = [&](std::int64_t c, u64& lc, u64& bc, u64& ac) {
    const auto i = static_cast<std::size_t>(c - from);
    lc = l[i];
    bc = inPlace ? b[i] & ((u64{1} << kHighAt) - 1) : b[i];
    ac = inPlace ? b[i] >> kHighAt : a[i];
  };
  // Each thread makes the cells of its half from their residues, then adds them.
  // On the vector units a half's columns settle a vector at a time.
  add_split_columns(
      acc, from, to, cells >= plan.pair_columns, split,
      [&](std::int64_t lo, std::int64_t hi) { kCrtCells[C](crt, lo, hi); },
      [&](std::int64_t c, std::int64_t last, Carry& r) {
        if (v == nullptr) return c;
        v->settle_columns(&acc[c], l + (c - from), b + (c - from), last - c + 1, r.data());
        return last + 1;
      });
  if (inWork) std::copy(X + xs.lo, X + xs.hi + 1, reinterpret_cast<cell_t*>(work[0].data())), P.n = nx, P.inWork = true;
}

}  // namespace longmult
