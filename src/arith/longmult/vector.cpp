// The kernels of the fast LONGMULT that run on the AVX-512 IFMA units (52-bit
// integer multiply-add on eight lanes): short products by rows, and the
// number-theoretic transforms of ntt.h. Compiled for those units
// function by function; cpu_units() says whether the processor has them.
#include <algorithm>

#include "arith/longmult/ntt.h"

#if defined(__x86_64__) && !defined(FIXCALC_PORTABLE)
#include <immintrin.h>

namespace longmult {
namespace {

#define IFMA_TARGET __attribute__((target("avx512f,avx512ifma")))

// Scratch of the rows kernel, kept across calls.
struct Scratch {
  std::vector<u64> xpad, lo, hi;
};
thread_local Scratch scratch;

}  // namespace

// acc += the columns c >= from of X[bx] * Y[by] with 52-bit multiply-adds,
// which add the low and the high 52 bits of eight products of cells at once:
// a column is lo + hi 2^52, lo the sum of at most min(|bx|, |by|) values below
// 2^52, which must therefore be at most 4095. Eight rows at a time run over
// thirty-two columns at a time, column chunk by column chunk so that the sums
// stay in the first-level cache; pairs in columns below `from` land in sums
// that are not read.
IFMA_TARGET void add_product_rows(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  constexpr std::int64_t R = 8;          // rows at a time; columns are counted from c0
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

namespace ntt {
namespace {

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
IFMA_TARGET inline __m512i reduce8(__m512i x, __m512i p) {
  return _mm512_maskz_min_epu64(0xff, x, _mm512_sub_epi64(x, p));
}
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

}  // namespace

IFMA_TARGET void transform_vector(u64* a, std::int64_t L, const Prime& P, const u64* w) {
  const __m512i p = _mm512_set1_epi64(static_cast<long long>(P.p));
  const __m512i pinv = _mm512_set1_epi64(static_cast<long long>(P.pinv));
  for (std::int64_t len = L / 2; len >= 8; len /= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len)
      for (std::int64_t j = 0; j < len; j += 8) {
        const __m512i x = _mm512_loadu_si512(a + b + j), y = _mm512_loadu_si512(a + b + j + len);
        _mm512_storeu_si512(a + b + j, add8(x, y, p));
        _mm512_storeu_si512(a + b + j + len,
                            reduce8(mont8(sub8(x, y, p), _mm512_loadu_si512(w + len + j), p, pinv), p));
      }
  const __m512i w4 = small_twiddles(w, 0), w2 = small_twiddles(w, 1);
  for (std::int64_t b = 0; b < L; b += 16) {
    __m512i A = _mm512_loadu_si512(a + b), B = _mm512_loadu_si512(a + b + 8), x, y;
    for (int s = 0; s < 3; ++s) {
      permute16(A, B, kSplit[s], x, y);
      const __m512i d = sub8(x, y, p);
      permute16(add8(x, y, p), s == 2 ? reduce8(d, p) : reduce8(mont8(d, s == 0 ? w4 : w2, p, pinv), p), kJoin[s], A,
                B);
    }
    _mm512_storeu_si512(a + b, A);
    _mm512_storeu_si512(a + b + 8, B);
  }
}

IFMA_TARGET void inverse_transform_vector(u64* a, std::int64_t L, const Prime& P, const u64* w) {
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
        const __m512i y =
            reduce8(mont8(_mm512_loadu_si512(a + b + j + len), _mm512_loadu_si512(w + len + j), p, pinv), p);
        _mm512_storeu_si512(a + b + j, add8(x, y, p));
        _mm512_storeu_si512(a + b + j + len, reduce8(sub8(x, y, p), p));
      }
}

IFMA_TARGET void multiply_entries_vector(u64* a, const u64* b, std::int64_t L, const Prime& P, u64 c) {
  const __m512i p = _mm512_set1_epi64(static_cast<long long>(P.p));
  const __m512i pinv = _mm512_set1_epi64(static_cast<long long>(P.pinv));
  const __m512i cc = _mm512_set1_epi64(static_cast<long long>(c));
  for (std::int64_t i = 0; i < L; i += 8) {
    const __m512i ab = mont8(_mm512_loadu_si512(a + i), _mm512_loadu_si512(b + i), p, pinv);
    _mm512_storeu_si512(a + i, reduce8(mont8(ab, cc, p, pinv), p));
  }
}

}  // namespace ntt
}  // namespace longmult

#else  // no vector units on this architecture

namespace longmult {
void add_product_rows(Acc&, const cell_t*, Span, const cell_t*, Span, std::int64_t) {}
namespace ntt {
void transform_vector(u64*, std::int64_t, const Prime&, const u64*) {}
void inverse_transform_vector(u64*, std::int64_t, const Prime&, const u64*) {}
void multiply_entries_vector(u64*, const u64*, std::int64_t, const Prime&, u64) {}
}  // namespace ntt
}  // namespace longmult

#endif
