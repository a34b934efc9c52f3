// The number-theoretic transforms of ntt.h in plain C++, for processors
// without vector units and for the forms of two or three cells to an entry.
#include "arith/longmult/ntt.h"

namespace longmult::ntt {

// Two stages to a pass, four entries at a time: half the loads, the stores and the passes over
// arrays that outgrow the caches near the core of one stage at a time. The entries stay lazy
// between the stages, below a small multiple of p (Shoup's product takes any y below 2^64), and are
// reduced to [0, p) at the end (reduce_lazy, for the primes of ntt.h).

// The forward transform, by decimation in frequency. A pass over two stages takes entries below 4p:
// the sums of the first stage are below 8p, the sum of sums below 16p, brought back below 4p;
// Shoup's products are below 2p and their sum below 4p. For p below 2^58 all of it stays below
// 2^62.
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

// The inverse, by decimation in time. Each stage adds at most 2p to the bound of the entries (x + v
// and x - v + 2p, v = y w below 2p), so that from entries below 2p they stay below 44p after 20
// stages, and need no correction until the end (44p < 2^64 for p below 2^58).
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

// a := a b / 2^k mod p. With p < 2^b, the product t = a b (below p^2 < 2^2b) is reduced by
// Barrett's method, q = floor(floor(t / 2^(b-2)) floor(2^(2b+4) / p) / 2^(b+6)), which falls at
// most 2 short of floor(t / p), so that r = t - q p is below 3p; then r / 2^k needs no product by
// 1/2^k: as 2^k divides p - 1, r + m p for m = -r mod 2^k is a multiple of 2^k, and its quotient (r
// + m) / 2^k + m (p - 1) / 2^k is below 3p / 2^k + p.
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

}  // namespace longmult::ntt
