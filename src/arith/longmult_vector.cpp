// The kernels of the fast LONGMULT that run on the AVX-512 IFMA units (52-bit
// integer multiply-add on eight lanes): short products by rows, and exact
// products by number-theoretic transforms modulo two primes below 2^50.
// Compiled for those units function by function; vector_units() says whether
// the processor has them.
#include <algorithm>

#include "longmult_products.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace longmult {
namespace {

#define IFMA_TARGET __attribute__((target("avx512f,avx512ifma")))

// Scratch kept across calls.
struct Scratch {
  std::vector<u64> xpad, lo, hi;  // the rows kernel
  std::vector<u64> a1, b1, a2, b2;  // the transforms
};
thread_local Scratch scratch;

}  // namespace

bool vector_units() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return yes;
}

// acc += the columns c >= from of X[bx] * Y[by] with 52-bit multiply-adds,
// which add the low and the high 52 bits of eight products of cells at once:
// a column is lo + hi 2^52, lo the sum of at most min(|bx|, |by|) values below
// 2^52, which must therefore be at most 4095. Eight rows at a time run over
// thirty-two columns at a time, column chunk by column chunk so that the sums
// stay in the first-level cache; pairs in columns below `from` land in sums
// that are not read.
IFMA_TARGET void add_product_rows(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
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

namespace {

// Transforms modulo two primes p below 2^50 with 2^30 | p - 1: a column sum
// is below m (B-1)^2 < p1 p2 (about 2^100) for any m below 10^10, so its
// residues give it exactly (Chinese remainders). Residues are kept in [0, p);
// products go through Montgomery's reduction with R = 2^52, which on
// operands below 2p (< 2^51) gives a result below 2p.
struct Prime {
  u64 p;     // the prime
  u64 g;     // a generator of the multiplicative group modulo p
  u64 pinv;  // -1/p mod 2^52
};
constexpr u64 kMask52 = (u64{1} << 52) - 1;

constexpr Prime make_prime(u64 p, u64 g) {
  u64 inv = 1;  // 1/p mod 2^64 by Newton's iteration
  for (int i = 0; i < 6; ++i) inv *= 2 - p * inv;
  return {p, g, (0 - inv) & kMask52};
}
constexpr Prime kPrimes[2] = {make_prime(1'125'845'146'009'601, 3), make_prime(1'125'844'072'267'777, 5)};

// The longest transform, 2^20 entries: its tables and arrays take 56 bytes an
// entry, and they are kept for the next product. Longer products go to GMP.
constexpr int kMaxLog = 20;

u64 mul_mod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
u64 pow_mod(u64 a, u64 e, u64 p) {
  u64 r = 1;
  for (; e != 0; e >>= 1, a = mul_mod(a, a, p))
    if (e & 1) r = mul_mod(r, a, p);
  return r;
}

// a b / R mod p, below 2p, for a b < R p.
u64 mont(u64 a, u64 b, const Prime& P) {
  const u128 t = static_cast<u128>(a) * b;
  const u64 lo = static_cast<u64>(t) & kMask52;
  const u64 m = static_cast<u64>(static_cast<u128>(lo) * P.pinv) & kMask52;
  const u128 mp = static_cast<u128>(m) * P.p;
  return static_cast<u64>((t >> 52) + (mp >> 52) + ((lo + (static_cast<u64>(mp) & kMask52)) >> 52));
}

// Per prime, the twiddle factors of every stage, w^j R mod p for j < len at
// entries len .. 2 len - 1, w a primitive (2 len)-th root of unity (fw) or its
// inverse (iv); and for each length L = 2^k the factor R^2 / L mod p that
// undoes the scaling of a transform and its inverse.
struct Tables {
  std::vector<u64> fw, iv, unscale;
};
thread_local Tables tables[2];

const Tables& tables_for(int k, std::int64_t L) {
  Tables& T = tables[k];
  const auto old = static_cast<std::int64_t>(T.fw.size());
  if (old >= L) return T;
  const u64 p = kPrimes[k].p;
  T.fw.resize(static_cast<std::size_t>(L));
  T.iv.resize(static_cast<std::size_t>(L));
  for (std::int64_t len = std::max<std::int64_t>(old, 1); len < L; len *= 2) {
    const u64 w = pow_mod(kPrimes[k].g, (p - 1) / static_cast<u64>(2 * len), p);
    const u64 wi = pow_mod(w, p - 2, p);
    u64 x = static_cast<u64>((u128{1} << 52) % p), y = x;
    for (std::int64_t j = 0; j < len; ++j, x = mul_mod(x, w, p), y = mul_mod(y, wi, p)) {
      T.fw[static_cast<std::size_t>(len + j)] = x;
      T.iv[static_cast<std::size_t>(len + j)] = y;
    }
  }
  const u64 r2 = mul_mod(static_cast<u64>((u128{1} << 52) % p), static_cast<u64>((u128{1} << 52) % p), p);
  T.unscale.clear();
  for (std::int64_t n = 1; n <= L; n *= 2) T.unscale.push_back(mul_mod(r2, pow_mod(static_cast<u64>(n) % p, p - 2, p), p));
  return T;
}

IFMA_TARGET inline __m512i mont8(__m512i a, __m512i b, __m512i p, __m512i pinv) {
  const __m512i z = _mm512_setzero_si512();
  const __m512i lo = _mm512_madd52lo_epu64(z, a, b);
  const __m512i hi = _mm512_madd52hi_epu64(z, a, b);
  const __m512i m = _mm512_madd52lo_epu64(z, lo, pinv);
  const __m512i carry = _mm512_maskz_srli_epi64(0xff, _mm512_madd52lo_epu64(lo, m, p), 52);  // 0 or 2^52 >> 52
  return _mm512_add_epi64(_mm512_madd52hi_epu64(hi, m, p), carry);
}
// x mod p for x below 2p: x - p wraps around to more than x when x < p. (The
// zero-masked forms leave nothing undefined for the compiler to warn about.)
IFMA_TARGET inline __m512i reduce8(__m512i x, __m512i p) { return _mm512_maskz_min_epu64(0xff, x, _mm512_sub_epi64(x, p)); }
IFMA_TARGET inline __m512i add8(__m512i x, __m512i y, __m512i p) { return reduce8(_mm512_add_epi64(x, y), p); }
IFMA_TARGET inline __m512i sub8(__m512i x, __m512i y, __m512i p) {  // x - y + p, below 2p
  return _mm512_add_epi64(_mm512_sub_epi64(x, y), p);
}

// The stages of length 4, 2 and 1 (s = 0, 1, 2) work inside pairs of vectors
// of sixteen entries: kSplit[s] gathers the first halves (u) and the second
// halves (v) of the blocks of the stage, kJoin[s] puts them back.
constexpr long long kSplit[3][2][8] = {{{0, 1, 2, 3, 8, 9, 10, 11}, {4, 5, 6, 7, 12, 13, 14, 15}},
                                       {{0, 1, 4, 5, 8, 9, 12, 13}, {2, 3, 6, 7, 10, 11, 14, 15}},
                                       {{0, 2, 4, 6, 8, 10, 12, 14}, {1, 3, 5, 7, 9, 11, 13, 15}}};
constexpr long long kJoin[3][2][8] = {{{0, 1, 2, 3, 8, 9, 10, 11}, {4, 5, 6, 7, 12, 13, 14, 15}},
                                      {{0, 1, 8, 9, 2, 3, 10, 11}, {4, 5, 12, 13, 6, 7, 14, 15}},
                                      {{0, 8, 1, 9, 2, 10, 3, 11}, {4, 12, 5, 13, 6, 14, 7, 15}}};
IFMA_TARGET inline void permute16(__m512i a, __m512i b, const long long (&idx)[2][8], __m512i& c, __m512i& d) {
  c = _mm512_permutex2var_epi64(a, _mm512_loadu_si512(idx[0]), b);
  d = _mm512_permutex2var_epi64(a, _mm512_loadu_si512(idx[1]), b);
}
// Twiddles of the stages of length 4 and 2 for one vector of u: w[4..7] or
// w[2..3] repeated.
IFMA_TARGET inline __m512i small_twiddles(const u64* w, int s) {
  return s == 0 ? _mm512_setr_epi64(w[4], w[5], w[6], w[7], w[4], w[5], w[6], w[7])
                : _mm512_setr_epi64(w[2], w[3], w[2], w[3], w[2], w[3], w[2], w[3]);
}

// a := the transform of a (L >= 16 entries below p), in bit-reversed order:
// decimation in frequency, x, y -> x + y, (x - y) w^j.
IFMA_TARGET void transform(u64* a, std::int64_t L, const Prime& P, const u64* w) {
  const __m512i p = _mm512_set1_epi64(static_cast<long long>(P.p));
  const __m512i pinv = _mm512_set1_epi64(static_cast<long long>(P.pinv));
  for (std::int64_t len = L / 2; len >= 8; len /= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len)
      for (std::int64_t j = 0; j < len; j += 8) {
        const __m512i x = _mm512_loadu_si512(a + b + j), y = _mm512_loadu_si512(a + b + j + len);
        _mm512_storeu_si512(a + b + j, add8(x, y, p));
        _mm512_storeu_si512(a + b + j + len, reduce8(mont8(sub8(x, y, p), _mm512_loadu_si512(w + len + j), p, pinv), p));
      }
  const __m512i w4 = small_twiddles(w, 0), w2 = small_twiddles(w, 1);
  for (std::int64_t b = 0; b < L; b += 16) {
    __m512i A = _mm512_loadu_si512(a + b), B = _mm512_loadu_si512(a + b + 8), x, y;
    for (int s = 0; s < 3; ++s) {
      permute16(A, B, kSplit[s], x, y);
      const __m512i d = sub8(x, y, p);
      permute16(add8(x, y, p), s == 2 ? reduce8(d, p) : reduce8(mont8(d, s == 0 ? w4 : w2, p, pinv), p), kJoin[s], A, B);
    }
    _mm512_storeu_si512(a + b, A);
    _mm512_storeu_si512(a + b + 8, B);
  }
}

// a := L times the inverse transform of a, from bit-reversed order back to
// natural order: decimation in time, x, y -> x + y w^-j, x - y w^-j.
IFMA_TARGET void inverse_transform(u64* a, std::int64_t L, const Prime& P, const u64* w) {
  const __m512i p = _mm512_set1_epi64(static_cast<long long>(P.p));
  const __m512i pinv = _mm512_set1_epi64(static_cast<long long>(P.pinv));
  const __m512i w4 = small_twiddles(w, 0), w2 = small_twiddles(w, 1);
  for (std::int64_t b = 0; b < L; b += 16) {
    __m512i A = _mm512_loadu_si512(a + b), B = _mm512_loadu_si512(a + b + 8), x, y;
    for (int s = 2; s >= 0; --s) {
      permute16(A, B, kSplit[s], x, y);
      if (s != 2) y = reduce8(mont8(y, s == 0 ? w4 : w2, p, pinv), p);
      permute16(add8(x, y, p), reduce8(sub8(x, y, p), p), kJoin[s], A, B);
    }
    _mm512_storeu_si512(a + b, A);
    _mm512_storeu_si512(a + b + 8, B);
  }
  for (std::int64_t len = 8; len < L; len *= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len)
      for (std::int64_t j = 0; j < len; j += 8) {
        const __m512i x = _mm512_loadu_si512(a + b + j);
        const __m512i y = reduce8(mont8(_mm512_loadu_si512(a + b + j + len), _mm512_loadu_si512(w + len + j), p, pinv), p);
        _mm512_storeu_si512(a + b + j, add8(x, y, p));
        _mm512_storeu_si512(a + b + j + len, reduce8(sub8(x, y, p), p));
      }
}

// a := a b c / R^2 mod p, entry by entry.
IFMA_TARGET void multiply_entries(u64* a, const u64* b, std::int64_t L, const Prime& P, u64 c) {
  const __m512i p = _mm512_set1_epi64(static_cast<long long>(P.p));
  const __m512i pinv = _mm512_set1_epi64(static_cast<long long>(P.pinv));
  const __m512i cc = _mm512_set1_epi64(static_cast<long long>(c));
  for (std::int64_t i = 0; i < L; i += 8) {
    const __m512i ab = mont8(_mm512_loadu_si512(a + i), _mm512_loadu_si512(b + i), p, pinv);
    _mm512_storeu_si512(a + i, reduce8(mont8(ab, cc, p, pinv), p));
  }
}

}  // namespace

bool add_product_ntt(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  int k = 4;
  while ((std::int64_t{1} << k) < bx.size() + by.size() - 1) ++k;
  if (k > kMaxLog) return false;
  const std::int64_t L = std::int64_t{1} << k;
  const bool square = X == Y && bx.lo == by.lo && bx.hi == by.hi;
  u64* res[2] = {zeroed(scratch.a1, static_cast<std::size_t>(L)), zeroed(scratch.a2, static_cast<std::size_t>(L))};
  for (int q = 0; q < 2; ++q) {
    const Prime& P = kPrimes[q];
    const Tables& T = tables_for(q, L);
    u64* a = res[q];
    for (std::int64_t j = 0; j < bx.size(); ++j) a[j] = static_cast<u64>(X[bx.lo + j]);
    transform(a, L, P, T.fw.data());
    const u64* b = a;
    if (!square) {
      u64* y = zeroed(scratch.b1, static_cast<std::size_t>(L));
      for (std::int64_t i = 0; i < by.size(); ++i) y[i] = static_cast<u64>(Y[by.lo + i]);
      transform(y, L, P, T.fw.data());
      b = y;
    }
    multiply_entries(a, b, L, P, T.unscale[static_cast<std::size_t>(k)]);
    inverse_transform(a, L, P, T.iv.data());
  }
  // v = r1 + p1 t with t = (r2 - r1) / p1 mod p2, below p1 p2.
  const Prime& P2 = kPrimes[1];
  const u64 p1 = kPrimes[0].p, p2 = P2.p;
  const u64 inv1 = mul_mod(pow_mod(p1 % p2, p2 - 2, p2), static_cast<u64>((u128{1} << 52) % p2), p2);  // R / p1
  const std::int64_t c0 = bx.lo + by.lo;
  add_columns(acc, std::max(from, c0), bx.hi + by.hi, [&](std::int64_t c) {
    const u64 r1 = res[0][c - c0], r2 = res[1][c - c0];
    u64 t = mont(r2 + p2 - (r1 >= p2 ? r1 - p2 : r1), inv1, P2);
    if (t >= p2) t -= p2;
    return r1 + static_cast<u128>(p1) * t;
  });
  return true;
}
}  // namespace longmult

#else  // no vector units on this architecture

namespace longmult {
bool vector_units() { return false; }
void add_product_rows(Acc&, const cell_t*, Span, const cell_t*, Span, std::int64_t) {}
bool add_product_ntt(Acc&, const cell_t*, Span, const cell_t*, Span, std::int64_t) { return false; }
}  // namespace longmult

#endif
