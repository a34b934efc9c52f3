// Products by number-theoretic transforms modulo two primes: the tables, the
// portable transforms, and the product itself, which keeps the transform of
// its first factor for the next product with the same cells.
#include "ntt.h"

#include <algorithm>

namespace longmult {
namespace ntt {
namespace {

u64 mul_mod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
u64 pow_mod(u64 a, u64 e, u64 p) {
  u64 r = 1;
  for (; e != 0; e >>= 1, a = mul_mod(a, a, p))
    if (e & 1) r = mul_mod(r, a, p);
  return r;
}

thread_local Tables tables[2];

inline u64 reduce(u64 x, u64 p) { return x >= p ? x - p : x; }

// y w mod p in [0, 2p) by Shoup's method, for y < 2^64, w < p and
// wq = floor(w 2^64 / p): one high and two low products.
inline u64 shoup(u64 y, u64 w, u64 wq, u64 p) {
  const u64 q = static_cast<u64>((static_cast<u128>(y) * wq) >> 64);
  return y * w - q * p;
}

// The transforms of ntt.h in plain C++, stage by stage. Entries stay below
// 2p from stage to stage (Harvey's lazy butterflies: one correction per
// result instead of two) and are reduced to [0, p) at the end, so that they
// come out as on the vector units.
inline u64 reduce2(u64 x, u64 p2) { return x >= p2 ? x - p2 : x; }

void transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T) {
  const u64 p = P.p, p2 = 2 * P.p;
  const auto butterfly = [&](u64& x, u64& y, std::int64_t e) {
    const u64 u = x, v = y;
    x = reduce2(u + v, p2);
    y = shoup(u - v + p2, T.fw1[static_cast<std::size_t>(e)], T.fwq[static_cast<std::size_t>(e)], p);
  };
  for (std::int64_t len = L / 2; len >= 4; len /= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len) {
      u64* x = a + b;
      u64* y = x + len;
      for (std::int64_t j = 0; j < len; ++j) butterfly(x[j], y[j], len + j);
    }
  // The stages of length 2 and 1 block by block, the last one (w^0 = 1)
  // without a product and with the final reduction to [0, p).
  for (std::int64_t b = 0; b < L; b += 4) {
    butterfly(a[b], a[b + 2], 2);
    butterfly(a[b + 1], a[b + 3], 3);
    for (std::int64_t c = b; c < b + 4; c += 2) {
      const u64 u = a[c], v = a[c + 1];
      a[c] = reduce(reduce2(u + v, p2), p);
      a[c + 1] = reduce(reduce2(u - v + p2, p2), p);
    }
  }
}

void inverse_transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T) {
  const u64 p = P.p, p2 = 2 * P.p;
  const auto butterfly = [&](u64& x, u64& y, std::int64_t e) {
    const u64 u = x, v = shoup(y, T.iv1[static_cast<std::size_t>(e)], T.ivq[static_cast<std::size_t>(e)], p);
    x = reduce2(u + v, p2);
    y = reduce2(u - v + p2, p2);
  };
  // The stages of length 1 (w^0 = 1, no product) and 2 block by block.
  for (std::int64_t b = 0; b < L; b += 4) {
    for (std::int64_t c = b; c < b + 4; c += 2) {
      const u64 u = a[c], v = a[c + 1];
      a[c] = reduce2(u + v, p2);
      a[c + 1] = reduce2(u - v + p2, p2);
    }
    butterfly(a[b], a[b + 2], 2);
    butterfly(a[b + 1], a[b + 3], 3);
  }
  for (std::int64_t len = 4; len < L; len *= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len) {
      u64* x = a + b;
      u64* y = x + len;
      for (std::int64_t j = 0; j < len; ++j) butterfly(x[j], y[j], len + j);
    }
  for (std::int64_t i = 0; i < L; ++i) a[i] = reduce(a[i], p);
}

void multiply_entries_scalar(u64* a, const u64* b, std::int64_t L, const Prime& P, u64 c) {
  for (std::int64_t i = 0; i < L; ++i) a[i] = reduce(mont(mont(a[i], b[i], P), c, P), P.p);
}

// The transforms of the first factor of the last product, with its cells, and
// the working arrays of the second factor.
struct Prepared {
  std::vector<cell_t> cells;
  int k = -1;  // the transforms have 2^k entries
  std::vector<u64> x[2];
};
thread_local Prepared prepared;
thread_local std::vector<u64> work[2];

}  // namespace

const Tables& tables_for(int q, std::int64_t L, bool shoup) {
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
      const u64 wr = reduce(mont(w, r2, P), p);                        // w R
      const u64 wir = reduce(mont(pow_mod(w, p - 2, p), r2, P), p);  // w^-1 R
      u64 x = r, y = r;
      for (std::int64_t j = 0; j < len; ++j, x = reduce(mont(x, wr, P), p), y = reduce(mont(y, wir, P), p)) {
        T.fw[static_cast<std::size_t>(len + j)] = x;
        T.iv[static_cast<std::size_t>(len + j)] = y;
      }
    }
    T.unscale.clear();
    for (std::int64_t n = 1; n <= L; n *= 2) T.unscale.push_back(mul_mod(r2, pow_mod(static_cast<u64>(n) % p, p - 2, p), p));
  }
  const auto done = static_cast<std::int64_t>(T.fw1.size());
  if (shoup && done < L) {
    for (auto* v : {&T.fw1, &T.fwq, &T.iv1, &T.ivq}) v->resize(static_cast<std::size_t>(L));
    const WideDivisor byP(p);
    u64 rem = 0;
    for (auto e = static_cast<std::size_t>(std::max<std::int64_t>(done, 1)); e < static_cast<std::size_t>(L); ++e) {
      T.fw1[e] = reduce(mont(T.fw[e], 1, P), p);  // w^j R / R
      T.iv1[e] = reduce(mont(T.iv[e], 1, P), p);
      byP.divrem(static_cast<u128>(T.fw1[e]) << 64, T.fwq[e], rem);
      byP.divrem(static_cast<u128>(T.iv1[e]) << 64, T.ivq[e], rem);
    }
  }
  return T;
}

}  // namespace ntt

bool add_product_ntt(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from,
                     Units units) {
  using namespace ntt;
  int k = 4;
  while ((std::int64_t{1} << k) < tx.size() + ty.size() - 1) ++k;
  if (k > kMaxLog) return false;
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
  const bool kept = P.k == k && P.cells.size() == nx && std::equal(P.cells.begin(), P.cells.end(), X + xs.lo);
  if (!kept) {
    P.cells.assign(X + xs.lo, X + xs.hi + 1);
    P.k = k;
  }
  // The residues of the product modulo prime q, into work[q].
  const auto residues = [&](int q) {
    const Prime& Pq = kPrimes[q];
    const Tables& T = tables_for(q, L, units != Units::ifma);
    const auto forward = [&](u64* a) {
      if (units == Units::ifma)
        transform_vector(a, L, Pq, T.fw.data());
      else if (units == Units::avx2)
        transform_avx2(a, L, Pq, T.fw1.data());
      else
        transform_scalar(a, L, Pq, T);
    };
    if (!kept) {
      u64* a = zeroed(P.x[q], static_cast<std::size_t>(L));
      std::copy(X + xs.lo, X + xs.hi + 1, a);
      forward(a);
    }
    u64* a = zeroed(work[q], static_cast<std::size_t>(L));
    if (square) {
      std::copy(P.x[q].begin(), P.x[q].begin() + L, a);
    } else {
      std::copy(Y + ty.lo, Y + ty.hi + 1, a);
      forward(a);
    }
    const u64 c = T.unscale[static_cast<std::size_t>(k)];
    if (units == Units::ifma) {
      multiply_entries_vector(a, P.x[q].data(), L, Pq, c);
      inverse_transform_vector(a, L, Pq, T.iv.data());
    } else if (units == Units::avx2) {
      multiply_entries_avx2(a, P.x[q].data(), L, Pq, c);
      inverse_transform_avx2(a, L, Pq, T.iv1.data());
    } else {
      multiply_entries_scalar(a, P.x[q].data(), L, Pq, c);
      inverse_transform_scalar(a, L, Pq, T);
    }
  };
  residues(0);
  residues(1);
  // v = r1 + p1 t with t = (r2 - r1) / p1 mod p2, below p1 p2.
  const Prime& P2 = kPrimes[1];
  const u64 p1 = kPrimes[0].p, p2 = P2.p;
  const u64 inv1 = mul_mod(pow_mod(p1 % p2, p2 - 2, p2), static_cast<u64>((u128{1} << 52) % p2), p2);  // R / p1
  const std::int64_t c0 = xs.lo + ty.lo;
  const u64* r1s = work[0].data();
  const u64* r2s = work[1].data();
  add_columns(acc, std::max(from, c0), tx.hi + ty.hi, [&](std::int64_t c) {
    const u64 r1 = r1s[c - c0], r2 = r2s[c - c0];
    u64 t = mont(r2 + p2 - (r1 >= p2 ? r1 - p2 : r1), inv1, P2);
    if (t >= p2) t -= p2;
    return r1 + static_cast<u128>(p1) * t;
  });
  return true;
}

}  // namespace longmult
