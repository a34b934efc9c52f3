// Products by number-theoretic transforms modulo two primes: the tables, the
// portable transforms, and the product on the vector units, which keeps the
// transform of its first factor for the next product with the same cells on
// the same units.
#include "arith/longmult/ntt.h"

#include <algorithm>

namespace longmult {
namespace ntt {
namespace {

// Written by the thread that calls add_product_ntt alone, before it shares
// out the work of a product.
Tables tables[2];

// The transforms of ntt.h in plain C++, two stages to a pass over the array,
// four entries at a time: half the loads and stores of one stage at a time,
// and half the passes over the longest arrays, which outgrow the caches near
// the core. The entries stay lazy between the stages, below a small multiple
// of p, since Shoup's product takes any y below 2^64 and the entries stay far
// below that; they are reduced to [0, p) at the end, so that they come out as
// on the vector units.
static_assert(kPrimes[0].bits == 50 && 65 * ((u64{1} << 50) - kPrimes[0].p) < (u64{1} << 50));
static_assert(kPrimes[1].bits == 50 && 65 * ((u64{1} << 50) - kPrimes[1].p) < (u64{1} << 50));

}  // namespace

// The forward transform, by decimation in frequency. A pass over two stages
// takes entries below 4p: the sums of the first stage are below 8p, the sum
// of sums below 16p, brought back below 4p; Shoup's products are below 2p
// and their sum below 4p. For p below 2^58 all of it stays below 2^62.
void transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T) {
  const u64 p = P.p, p2 = 2 * p, p4 = 4 * p, p8 = 8 * p;
  const ShoupFactor* w = T.fws.data();
  std::int64_t len = L / 2;
  if ((L & 0x5555555555555555) == 0) {  // an odd number of stages: one alone first
    for (std::int64_t j = 0; j < len; ++j) {
      const u64 x = a[j], y = a[j + len];
      a[j] = x + y;
      a[j + len] = shoup(x - y + p4, w[len + j], p);
    }
    len /= 2;
  }
  for (; len >= 4; len /= 4) {
    const std::int64_t m = len / 2;  // stages of length 2m and m
    for (std::int64_t b = 0; b < L; b += 4 * m) {
      u64* x = a + b;
      for (std::int64_t j = 0; j < m; ++j) {
        const u64 x0 = x[j], x1 = x[j + m], x2 = x[j + 2 * m], x3 = x[j + 3 * m];
        const u64 y0 = x0 + x2, y1 = x1 + x3;
        const u64 y2 = shoup(x0 - x2 + p4, w[2 * m + j], p);
        const u64 y3 = shoup(x1 - x3 + p4, w[3 * m + j], p);
        u64 z0 = y0 + y1;
        z0 = z0 >= p8 ? z0 - p8 : z0;
        x[j] = z0 >= p4 ? z0 - p4 : z0;
        x[j + m] = shoup(y0 - y1 + p8, w[m + j], p);
        x[j + 2 * m] = y2 + y3;
        x[j + 3 * m] = shoup(y2 - y3 + p2, w[m + j], p);
      }
    }
  }
  // The stages of length 2 and 1, where only w^1 of length 2 is not 1, with
  // the reduction to [0, p).
  const ShoupFactor w3 = w[3];
  for (std::int64_t b = 0; b < L; b += 4) {
    u64* x = a + b;
    const u64 y0 = x[0] + x[2], y2 = x[0] - x[2] + p4;  // below 8p
    const u64 y1 = x[1] + x[3], y3 = shoup(x[1] - x[3] + p4, w3, p);
    x[0] = reduce_lazy(y0 + y1, P);
    x[1] = reduce_lazy(y0 - y1 + p8, P);
    x[2] = reduce_lazy(y2 + y3, P);
    x[3] = reduce_lazy(y2 - y3 + p2, P);
  }
}

// The inverse, by decimation in time. Each stage adds at most 2p to the
// bound of the entries (x + v and x - v + 2p, v = y w below 2p), so that from
// entries below 2p they stay below 44p after 20 stages, and need no
// correction until the end (44p < 2^64 for p below 2^58).
void inverse_transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T) {
  const u64 p = P.p, p2 = 2 * p, p4 = 4 * p;
  const ShoupFactor* w = T.ivs.data();
  // The stages of length 1 and 2, where only w^-1 of length 2 is not 1; from
  // entries below 2p to entries below 8p.
  const ShoupFactor w3 = w[3];
  for (std::int64_t b = 0; b < L; b += 4) {
    u64* x = a + b;
    const u64 y0 = x[0] + x[1], y1 = x[0] - x[1] + p2;
    const u64 y2 = x[2] + x[3], y3 = shoup(x[2] - x[3] + p2, w3, p);
    x[0] = y0 + y2;
    x[2] = y0 - y2 + p4;
    x[1] = y1 + y3;
    x[3] = y1 - y3 + p2;
  }
  // Two stages to a pass, the last pass (or the last stage alone, for an
  // even number of stages before it) with the reduction to [0, p).
  std::int64_t m = 4;
  for (; 4 * m <= L; m *= 4) {
    const bool last = 4 * m == L;
    for (std::int64_t b = 0; b < L; b += 4 * m) {
      u64* x = a + b;
      for (std::int64_t j = 0; j < m; ++j) {
        const u64 x0 = x[j], v1 = shoup(x[j + m], w[m + j], p);
        const u64 x2 = x[j + 2 * m], v3 = shoup(x[j + 3 * m], w[m + j], p);
        const u64 y0 = x0 + v1, y1 = x0 - v1 + p2, y2 = x2 + v3, y3 = x2 - v3 + p2;
        const u64 v2 = shoup(y2, w[2 * m + j], p);
        const u64 v3b = shoup(y3, w[3 * m + j], p);
        u64 z0 = y0 + v2, z2 = y0 - v2 + p2, z1 = y1 + v3b, z3 = y1 - v3b + p2;
        if (last) z0 = reduce_lazy(z0, P), z1 = reduce_lazy(z1, P), z2 = reduce_lazy(z2, P), z3 = reduce_lazy(z3, P);
        x[j] = z0;
        x[j + m] = z1;
        x[j + 2 * m] = z2;
        x[j + 3 * m] = z3;
      }
    }
  }
  if (m < L) {  // m = L / 2
    for (std::int64_t j = 0; j < m; ++j) {
      const u64 x0 = a[j], v = shoup(a[j + m], w[m + j], p);
      a[j] = reduce_lazy(x0 + v, P);
      a[j + m] = reduce_lazy(x0 - v + p2, P);
    }
  }
}

// a := a b / 2^k mod p. With p < 2^b, the product t = a b (below p^2 <
// 2^2b) is reduced by Barrett's method, q = floor(floor(t / 2^(b-2))
// floor(2^(2b+4) / p) / 2^(b+6)), which falls at most 2 short of
// floor(t / p), so that r = t - q p is below 3p; then r / 2^k needs no
// product by 1/2^k: as 2^k divides p - 1, r + m p for m = -r mod 2^k is a
// multiple of 2^k, and its quotient (r + m) / 2^k + m (p - 1) / 2^k is below
// 3p / 2^k + p.
void multiply_entries_scalar(u64* a, const u64* b, std::int64_t n, const Prime& P, int k) {
  const u64 p = P.p, mu = static_cast<u64>((u128{1} << (2 * P.bits + 4)) / p);
  const unsigned down = P.bits - 2, shift = P.bits + 6;
  const u64 mask = (u64{1} << k) - 1, pk = (p - 1) >> k;
  for (std::int64_t i = 0; i < n; ++i) {
    const u128 t = static_cast<u128>(a[i]) * b[i];
    const u64 q = static_cast<u64>((static_cast<u128>(static_cast<u64>(t >> down)) * mu) >> shift);
    const u64 r = static_cast<u64>(t) - q * p;
    const u64 m = (0 - r) & mask;
    a[i] = ((r + m) >> k) + m * pk;
  }
}

namespace {

// The transforms of the first factor of the last product, with its cells, and
// the working arrays of the second factor.
struct Prepared {
  std::vector<cell_t> cells;
  int k = -1;                           // the transforms have 2^k entries
  const VectorKernels* made = nullptr;  // by these kernels
  Array<u64> x[2];
};
Prepared prepared;
Array<u64> work[2];
Array<u64> digits;  // the top digits of the columns split on the vector units

// Transforms of at least this many entries run the two primes side by side.
constexpr std::int64_t kPairLength = 2048;
// Products with at least this many columns to split share that out as well.
constexpr std::int64_t kPairColumns = 1000;

// What the residues of one product modulo each prime need: all of it made and
// sized before the work is shared out, so that the calls allocate nothing.
struct Job {
  const cell_t* X;
  const cell_t* Y;
  Span xs, ty;
  std::int64_t L;
  int k;
  bool kept, square;
  const VectorKernels* v;
  const Tables* T[2];
};

// The residues of the product modulo prime q, into work[q].
void residues(const void* ctx, int q) {
  const Job& J = *static_cast<const Job*>(ctx);
  const Prime& Pq = kPrimes[q];
  const Tables& T = *J.T[q];
  const std::int64_t L = J.L;
  const auto fill = [&](u64* a, const cell_t* c, Span s) {
    std::copy(c + s.lo, c + s.hi + 1, a);
    std::fill(a + s.size(), a + L, u64{0});
  };
  u64* x = prepared.x[q].data();
  if (!J.kept) {
    fill(x, J.X, J.xs);
    J.v->transform(x, L, Pq, T.fwd.data());
  }
  u64* a = work[q].data();
  if (J.square) {
    std::copy(x, x + L, a);
  } else {
    fill(a, J.Y, J.ty);
    J.v->transform(a, L, Pq, T.fwd.data());
  }
  J.v->multiply_entries(a, x, L, Pq, T.unscale[static_cast<std::size_t>(J.k)]);
  J.v->inverse_transform(a, L, Pq, T.ivd.data());
}

// Column v = r1 + p1 t with t = (r2 - r1) / p1 mod p2, below p1 p2, from its
// residues r1 < p1 and r2 < p2, split into base B as (a B + b) B + l.
void split_column(u64 r1, u64 r2, u64& l, u64& b, u64& a) {
  const Prime& P2 = kPrimes[1];
  const u64 p1 = kPrimes[0].p, p2 = P2.p;
  constexpr u64 inv1 = mul_mod(kInvP1, static_cast<u64>((u128{1} << 52) % kPrimes[1].p), kPrimes[1].p);  // R / p1
  u64 t = mont(r2 + p2 - (r1 >= p2 ? r1 - p2 : r1), inv1, P2);
  t -= p2 & (u64{0} - static_cast<u64>(t >= p2));  // as often as not: no branch
  split_base(r1 + static_cast<u128>(p1) * t, l, b, a);
}

// The columns of a product split into base B, l into r1s, b into r2s and a
// into as, all but the last n mod lanes, in two halves (the first a multiple
// of eight entries, and so of the lanes).
struct CrtJob {
  u64 *r1s, *r2s, *as;
  std::int64_t n;
  const VectorKernels* v;
};
void crt_half(const void* ctx, int q) {
  const CrtJob& J = *static_cast<const CrtJob*>(ctx);
  const std::int64_t mid = (J.n / 2) & ~std::int64_t{7};
  const std::int64_t lo = q == 0 ? 0 : mid, hi = q == 0 ? mid : J.n;
  J.v->crt_columns(J.r1s + lo, J.r2s + lo, J.as + lo, hi - lo);
}

}  // namespace

const Tables& tables_for(int q, std::int64_t L, bool doubles) {
  Tables& T = tables[q];
  const Prime& P = kPrimes[q];
  const u64 p = P.p;
  const auto old = static_cast<std::int64_t>(T.fw.size());
  if (old < L) {
    T.fw.resize(static_cast<std::size_t>(L));
    T.iv.resize(static_cast<std::size_t>(L));
    const u64 r = static_cast<u64>((u128{1} << 52) % p);
    const u64 r2 = mul_mod(r, r, p);
    for (std::int64_t len = std::max<std::int64_t>(old, 1); len < L; len *= 2) {
      const u64 w = pow_mod(P.g, (p - 1) / static_cast<u64>(2 * len), p);
      const u64 wr = reduce(mont(w, r2, P), p);                      // w R
      const u64 wir = reduce(mont(pow_mod(w, p - 2, p), r2, P), p);  // w^-1 R
      u64 x = r, y = r;
      for (std::int64_t j = 0; j < len; ++j, x = reduce(mont(x, wr, P), p), y = reduce(mont(y, wir, P), p)) {
        T.fw[static_cast<std::size_t>(len + j)] = x;
        T.iv[static_cast<std::size_t>(len + j)] = y;
      }
    }
    T.unscale.clear();
    for (std::int64_t n = 1; n <= L; n *= 2)
      T.unscale.push_back(mul_mod(r2, pow_mod(static_cast<u64>(n) % p, p - 2, p), p));
  }
  // w^j from w^j R, as the Shoup factors of the portable kernels or as the
  // doubles of the vector ones, between -p/2 and p/2.
  const auto plain = [&](u64 wr) { return reduce(mont(wr, 1, P), p); };
  const auto done = static_cast<std::int64_t>(doubles ? T.fwd.size() : T.fws.size());
  const auto from = static_cast<std::size_t>(std::max<std::int64_t>(done, 1));
  if (doubles && done < L) {
    T.fwd.resize(static_cast<std::size_t>(L));
    T.ivd.resize(static_cast<std::size_t>(L));
    const auto centred = [&](u64 w) {  // between -p/2 and p/2
      return w <= p / 2 ? static_cast<double>(w) : -static_cast<double>(p - w);
    };
    for (auto e = from; e < static_cast<std::size_t>(L); ++e) {
      T.fwd[e] = centred(plain(T.fw[e]));
      T.ivd[e] = centred(plain(T.iv[e]));
    }
  } else if (!doubles && done < L) {
    T.fws.resize(static_cast<std::size_t>(L));
    T.ivs.resize(static_cast<std::size_t>(L));
    const WideDivisor byP(p);
    for (auto e = from; e < static_cast<std::size_t>(L); ++e) {
      T.fws[e] = shoup_factor(plain(T.fw[e]), byP);
      T.ivs[e] = shoup_factor(plain(T.iv[e]), byP);
    }
  }
  return T;
}

}  // namespace ntt

bool add_product_ntt(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from,
                     Units units) {
  using namespace ntt;
  const VectorKernels* v = units.vector;
  if (v == nullptr) return add_product_wide(acc, X, bx, tx, Y, ty, from);
  int k = 4;
  while ((std::int64_t{1} << k) < tx.size() + ty.size() - 1) ++k;
  if (k > kMaxLog) return add_product_wide(acc, X, bx, tx, Y, ty, from);  // two or three cells to an entry
  const std::int64_t L = std::int64_t{1} << k;
  const bool square = X == Y && tx.lo == ty.lo && tx.hi == ty.hi;
  // X reaches down to L/2 + 1 cells of its block when Y leaves room: then the
  // same cells of X, and so the same transform, serve every product of the
  // run with Y's of about the same length, as the terms of a series times one
  // factor.
  Span xs = tx;
  if (!square && 2 * ty.size() <= L) xs.lo = std::max(bx.lo, std::min(tx.lo, tx.hi - L / 2));
  Prepared& P = prepared;
  const auto nx = static_cast<std::size_t>(xs.size());
  const bool kept =
      P.k == k && P.made == v && P.cells.size() == nx && std::equal(P.cells.begin(), P.cells.end(), X + xs.lo);
  if (!kept) {
    P.cells.assign(X + xs.lo, X + xs.hi + 1);
    P.k = k;
    P.made = v;
  }
  Job job{X, Y, xs, ty, L, k, kept, square, v, {&tables_for(0, L, true), &tables_for(1, L, true)}};
  for (int q = 0; q < 2; ++q) {
    if (P.x[q].size() < static_cast<std::size_t>(L)) P.x[q].resize(static_cast<std::size_t>(L));
    if (work[q].size() < static_cast<std::size_t>(L)) work[q].resize(static_cast<std::size_t>(L));
  }
  run_pair(residues, &job, L >= kPairLength);
  const std::int64_t c0 = xs.lo + ty.lo, lo = std::max(from, c0), hi = tx.hi + ty.hi;
  u64* r1s = work[0].data() + (lo - c0);
  u64* r2s = work[1].data() + (lo - c0);
  const std::int64_t n = hi - lo + 1, split = n - n % units.lanes;
  if (digits.size() < static_cast<std::size_t>(n)) digits.resize(static_cast<std::size_t>(n));
  const CrtJob crt{r1s, r2s, digits.data(), n, v};
  run_pair(crt_half, &crt, n >= kPairColumns);
  add_split_columns(acc, lo, hi, [&](std::int64_t c, u64& l, u64& b, u64& a) {
    const std::int64_t i = c - lo;
    if (i >= split) return split_column(r1s[i], r2s[i], l, b, a);  // the last few on the vector units
    l = r1s[i];
    b = r2s[i];
    a = digits[static_cast<std::size_t>(i)];
  });
  return true;
}

}  // namespace longmult
