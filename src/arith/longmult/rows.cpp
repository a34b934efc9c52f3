// Products by rows on the AVX-512 IFMA units (52-bit integer multiply-add
// on eight lanes), compiled for those units; cpu_units() says whether the
// processor has them.
#include <algorithm>

#include "arith/longmult/products.h"

#if defined(__x86_64__)
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

}  // namespace longmult

#endif
