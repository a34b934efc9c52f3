// The number-theoretic transforms of ntt.h on AVX2 with FMA (four lanes of
// doubles), for processors without the AVX-512 IFMA units, and the sums of
// the truncated passes of a product (products.h) for all that have AVX2. Compiled for
// those units function by function; cpu_units() says whether the
// processor has them.
//
// Residues are held as doubles during a transform: integers of size below
// p < 2^50, so exact. A product d w mod p, |d| < p, 0 <= w < p, with
// P = 1/p rounded, goes:
//   h = d w rounded, l = d w - h, exact by FMA; |d w| < 2^100, so
//       |l| <= ulp(h)/2 <= 2^47;
//   q = round(h P): h P = (d w / p)(1 + e) with |e| < 3.01 2^-53 (three
//       roundings) and |d w / p| < p < 2^50, so |q - d w / p| < 0.38 + 0.5;
//   r = (h - q p) + l: h - q p is an integer (h is one: d w is, and below
//       2^53 it is exact, above its ulp is at least 2) of size below
//       2^47 + 0.88 p < 2^53, so the FMA gives it exactly, and the sum is
//       d w - q p exactly, of size below 0.88 p;
//   then r + p when r < 0, which leaves d w mod p in [0, p).
// The entries come out as the other kernels' (the residues in [0, p) are
// unique), so transforms made by one serve another.
#include "arith/longmult/ntt.h"

#if defined(__x86_64__) && !defined(FIXCALC_PORTABLE)
#include <immintrin.h>

namespace longmult::ntt {
namespace {

#define AVX2_TARGET __attribute__((target("avx2,fma")))

struct Mod {
  __m256d p, pinv;
};

// Integers in [0, 2^52) to doubles and back: 2^52 + x has x for its
// significand bits.
AVX2_TARGET inline __m256d to_double(__m256i x) {
  const __m256d two52 = _mm256_set1_pd(0x1p52);
  return _mm256_sub_pd(_mm256_or_pd(_mm256_castsi256_pd(x), two52), two52);
}
AVX2_TARGET inline __m256i to_int(__m256d x) {
  const __m256d two52 = _mm256_set1_pd(0x1p52);
  return _mm256_castpd_si256(_mm256_xor_pd(_mm256_add_pd(x, two52), two52));
}
AVX2_TARGET inline __m256d load(const u64* a) {
  return to_double(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)));
}
AVX2_TARGET inline void store(u64* a, __m256d x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(a), to_int(x)); }
// Doubles kept in the entries of the array between stages.
AVX2_TARGET inline __m256d get(const u64* a) {
  return _mm256_castsi256_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)));
}
AVX2_TARGET inline void put(u64* a, __m256d x) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(a), _mm256_castpd_si256(x));
}

// x + p where x < 0, x - p where x >= p: into [0, p) from (-p, 2p). The
// blend goes by the sign bit; no step here or in mulmod gives -0 (a zero
// sum or difference of nonzero values is +0, and so is +0 - +0).
AVX2_TARGET inline __m256d up(__m256d x, const Mod& m) { return _mm256_blendv_pd(x, _mm256_add_pd(x, m.p), x); }
AVX2_TARGET inline __m256d down(__m256d x, const Mod& m) {
  const __m256d t = _mm256_sub_pd(x, m.p);
  return _mm256_blendv_pd(t, x, t);
}
// d w mod p in [0, p) for |d| < p and w in [0, p) (the proof above).
AVX2_TARGET inline __m256d mulmod(__m256d d, __m256d w, const Mod& m) {
  const __m256d h = _mm256_mul_pd(d, w);
  const __m256d l = _mm256_fmsub_pd(d, w, h);
  const __m256d q = _mm256_round_pd(_mm256_mul_pd(h, m.pinv), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  return up(_mm256_add_pd(_mm256_fnmadd_pd(q, m.p, h), l), m);
}

AVX2_TARGET inline Mod mod_of(const Prime& P) {
  return {_mm256_set1_pd(static_cast<double>(P.p)), _mm256_set1_pd(1.0 / static_cast<double>(P.p))};
}

}  // namespace

// The stages of length 2 and 1 work on eight entries in two vectors: the
// halves of 128 bits regroup them into the pairs of length 2, and the
// unpacking of the doubles into the pairs of length 1.
AVX2_TARGET void transform_avx2(u64* a, std::int64_t L, const Prime& P, const double* wd) {
  const Mod m = mod_of(P);
  // The first stage reads the integers, the others the doubles it leaves.
  for (std::int64_t j = 0; j < L / 2; j += 4) {
    const __m256d x = load(a + j), y = load(a + j + L / 2);
    put(a + j, down(_mm256_add_pd(x, y), m));
    put(a + j + L / 2, mulmod(_mm256_sub_pd(x, y), _mm256_loadu_pd(wd + L / 2 + j), m));
  }
  for (std::int64_t len = L / 4; len >= 4; len /= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len)
      for (std::int64_t j = 0; j < len; j += 4) {
        const __m256d x = get(a + b + j), y = get(a + b + j + len);
        put(a + b + j, down(_mm256_add_pd(x, y), m));
        put(a + b + j + len, mulmod(_mm256_sub_pd(x, y), _mm256_loadu_pd(wd + len + j), m));
      }
  const __m256d w2 = _mm256_setr_pd(wd[2], wd[3], wd[2], wd[3]);
  for (std::int64_t b = 0; b < L; b += 8) {
    const __m256d A = get(a + b), B = get(a + b + 4);
    const __m256d x = _mm256_permute2f128_pd(A, B, 0x20), y = _mm256_permute2f128_pd(A, B, 0x31);
    const __m256d s = down(_mm256_add_pd(x, y), m), d = mulmod(_mm256_sub_pd(x, y), w2, m);
    const __m256d u = _mm256_unpacklo_pd(s, d), v = _mm256_unpackhi_pd(s, d);
    const __m256d lo = _mm256_unpacklo_pd(down(_mm256_add_pd(u, v), m), up(_mm256_sub_pd(u, v), m));
    const __m256d hi = _mm256_unpackhi_pd(down(_mm256_add_pd(u, v), m), up(_mm256_sub_pd(u, v), m));
    store(a + b, _mm256_permute2f128_pd(lo, hi, 0x20));
    store(a + b + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
}

AVX2_TARGET void inverse_transform_avx2(u64* a, std::int64_t L, const Prime& P, const double* wd) {
  const Mod m = mod_of(P);
  const __m256d w2 = _mm256_setr_pd(wd[2], wd[3], wd[2], wd[3]);
  for (std::int64_t b = 0; b < L; b += 8) {
    const __m256d A = load(a + b), B = load(a + b + 4);
    const __m256d lo = _mm256_permute2f128_pd(A, B, 0x20), hi = _mm256_permute2f128_pd(A, B, 0x31);
    const __m256d x = _mm256_unpacklo_pd(lo, hi), y = _mm256_unpackhi_pd(lo, hi);
    const __m256d s = down(_mm256_add_pd(x, y), m), d = up(_mm256_sub_pd(x, y), m);
    const __m256d u = _mm256_unpacklo_pd(s, d), v = mulmod(_mm256_unpackhi_pd(s, d), w2, m);
    const __m256d c = down(_mm256_add_pd(u, v), m), e = up(_mm256_sub_pd(u, v), m);
    put(a + b, _mm256_permute2f128_pd(c, e, 0x20));
    put(a + b + 4, _mm256_permute2f128_pd(c, e, 0x31));
  }
  for (std::int64_t len = 4; len < L / 2; len *= 2)
    for (std::int64_t b = 0; b < L; b += 2 * len)
      for (std::int64_t j = 0; j < len; j += 4) {
        const __m256d x = get(a + b + j), y = mulmod(get(a + b + j + len), _mm256_loadu_pd(wd + len + j), m);
        put(a + b + j, down(_mm256_add_pd(x, y), m));
        put(a + b + j + len, up(_mm256_sub_pd(x, y), m));
      }
  // The last stage writes the integers back.
  for (std::int64_t j = 0; j < L / 2; j += 4) {
    const __m256d x = get(a + j), y = mulmod(get(a + j + L / 2), _mm256_loadu_pd(wd + L / 2 + j), m);
    store(a + j, down(_mm256_add_pd(x, y), m));
    store(a + j + L / 2, up(_mm256_sub_pd(x, y), m));
  }
}

AVX2_TARGET void multiply_entries_avx2(u64* a, const u64* b, std::int64_t L, const Prime& P, u64 c) {
  const Mod m = mod_of(P);
  const __m256d cc = _mm256_set1_pd(static_cast<double>(c));
  for (std::int64_t i = 0; i < L; i += 4) store(a + i, mulmod(mulmod(load(a + i), load(b + i), m), cc, m));
}

// q and r of x = q B + r from e, floor(x / B) or one either side of it, and
// t = x - e B, formed exactly: one correction either way.
AVX2_TARGET inline void settle_split(__m256d e, __m256d t, __m256d& q, __m256d& r) {
  const __m256d base = _mm256_set1_pd(static_cast<double>(kB)), one = _mm256_set1_pd(1.0);
  const __m256d under = _mm256_cmp_pd(t, _mm256_setzero_pd(), _CMP_LT_OQ);
  t = _mm256_add_pd(t, _mm256_and_pd(under, base));
  e = _mm256_sub_pd(e, _mm256_and_pd(under, one));
  const __m256d over = _mm256_cmp_pd(t, base, _CMP_GE_OQ);
  r = _mm256_sub_pd(t, _mm256_and_pd(over, base));
  q = _mm256_add_pd(e, _mm256_and_pd(over, one));
}
// floor(x / B) estimated as floor(x 10^-10) in doubles; the callers bound its error.
AVX2_TARGET inline __m256d estimate_quotient(__m256d x) {
  return _mm256_round_pd(_mm256_mul_pd(x, _mm256_set1_pd(1e-10)), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}

// x b = q B + r for cells x, b below B, as in mul_divmod_base: e = floor(h / B)
// for h = x b rounded is within one of q (x b / B below 10^10, three
// roundings), and h - e B, an integer below 2^36 in size, comes exactly from
// the FMA, as does its sum with l = x b - h.
AVX2_TARGET inline void split_at_base(__m256d x, __m256d b, __m256d& q, __m256d& r) {
  const __m256d h = _mm256_mul_pd(x, b);
  const __m256d l = _mm256_fmsub_pd(x, b, h);
  const __m256d e = estimate_quotient(h);
  settle_split(e, _mm256_add_pd(_mm256_fnmadd_pd(e, _mm256_set1_pd(static_cast<double>(kB)), h), l), q, r);
}

// x = q B + r for integers x in [0, 2^53): e = floor(x / B) estimated is
// within one of q, and x - e B (below 2^35 in size) is exact by the FMA.
AVX2_TARGET inline void split_small(__m256d x, __m256d& q, __m256d& r) {
  const __m256d e = estimate_quotient(x);
  settle_split(e, _mm256_fnmadd_pd(e, _mm256_set1_pd(static_cast<double>(kB)), x), q, r);
}

// The column v = r1 + p1 t, t = (r2 - r1) / p1 mod p2, in base B: with
// p1 = P1h B + P1l, t = th B + tl, r1 = r1h B + r1l and P1l tl = q0 B + l0,
// v = (r1l + l0) + (r1h + P1h tl + P1l th + q0) B + P1h th B^2, where every
// product and sum stays below 2^53 and so exact in doubles.
AVX2_TARGET void crt_columns_avx2(u64* r1s, u64* r2s, u64* as, std::int64_t n) {
  const Prime &P1 = kPrimes[0], &P2 = kPrimes[1];
  constexpr u64 kInvP1 = pow_mod(kPrimes[0].p % kPrimes[1].p, kPrimes[1].p - 2, kPrimes[1].p);  // 1 / p1 mod p2
  const Mod m2 = mod_of(P2);
  const __m256d w = _mm256_set1_pd(static_cast<double>(kInvP1));
  const __m256d p1h = _mm256_set1_pd(static_cast<double>(P1.p / kB));
  const __m256d p1l = _mm256_set1_pd(static_cast<double>(P1.p % kB));
  const __m256d base = _mm256_set1_pd(static_cast<double>(kB));
  for (std::int64_t c = 0; c + 4 <= n; c += 4) {
    const __m256d r1 = load(r1s + c), r2 = load(r2s + c);
    const __m256d t = mulmod(_mm256_sub_pd(r2, down(r1, m2)), w, m2);
    __m256d th, tl, r1h, r1l, q0, l0, mh, b;
    split_small(t, th, tl);
    split_small(r1, r1h, r1l);
    split_at_base(p1l, tl, q0, l0);
    __m256d low = _mm256_add_pd(r1l, l0);
    const __m256d carry = _mm256_and_pd(_mm256_cmp_pd(low, base, _CMP_GE_OQ), _mm256_set1_pd(1.0));
    low = _mm256_fnmadd_pd(carry, base, low);
    const __m256d mid =
        _mm256_add_pd(_mm256_add_pd(_mm256_fmadd_pd(p1h, tl, _mm256_mul_pd(p1l, th)), q0), _mm256_add_pd(r1h, carry));
    split_small(mid, mh, b);
    store(r1s + c, low);
    store(r2s + c, b);
    store(as + c, _mm256_fmadd_pd(p1h, th, mh));
  }
}

}  // namespace longmult::ntt

namespace longmult {

// Four passes to a vector; x1 and x2 read downward, reversed into the order of y.
AVX2_TARGET std::int64_t frac_sums_avx2(const cell_t* x, const cell_t* y, std::int64_t n, u64 sums[3],
                                        std::int64_t* may, int& nmay) {
  using ntt::to_double;
  using ntt::to_int;
  const __m256d base = _mm256_set1_pd(static_cast<double>(kB));
  const __m256d top = _mm256_set1_pd(static_cast<double>(kB - 1));
  __m256i sh = _mm256_setzero_si256(), sr = sh, sy = sh;
  std::int64_t j = 0;
  for (; j + 4 <= n && nmay <= kFracWraps - 4; j += 4) {
    const __m256i bi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + j));
    const __m256d b = to_double(bi);
    const __m256d x1 = _mm256_permute4x64_pd(ntt::load(reinterpret_cast<const u64*>(x - j - 3)), 0x1B);
    const __m256d x2 = _mm256_permute4x64_pd(ntt::load(reinterpret_cast<const u64*>(x - j - 4)), 0x1B);
    __m256d q1, r1, q2, r2;
    ntt::split_at_base(x1, b, q1, r1);
    ntt::split_at_base(x2, b, q2, r2);
    __m256d h = _mm256_add_pd(r1, q2);
    h = _mm256_sub_pd(h, _mm256_and_pd(_mm256_cmp_pd(h, base, _CMP_GE_OQ), base));
    const __m256d wrap =
        _mm256_and_pd(_mm256_cmp_pd(h, top, _CMP_EQ_OQ), _mm256_cmp_pd(_mm256_add_pd(r2, b), base, _CMP_GT_OQ));
    // Every lane written, the count moved past those that may wrap: no
    // branch to mispredict where a pattern makes every third pass one.
    const int lanes = _mm256_movemask_pd(wrap);
    for (int k = 0; k < 4; ++k) {
      may[nmay] = j + k;
      nmay += (lanes >> k) & 1;
    }
    sh = _mm256_add_epi64(sh, to_int(h));
    sr = _mm256_add_epi64(sr, to_int(r2));
    sy = _mm256_add_epi64(sy, bi);
  }
  alignas(32) u64 lanes[3][4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), sh);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), sr);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), sy);
  for (int s = 0; s < 3; ++s) sums[s] = lanes[s][0] + lanes[s][1] + lanes[s][2] + lanes[s][3];
  return j;
}

}  // namespace longmult

#else  // no AVX2 kernels on this architecture or in this build

namespace longmult::ntt {
void crt_columns_avx2(u64*, u64*, u64*, std::int64_t) {}
void transform_avx2(u64*, std::int64_t, const Prime&, const double*) {}
void inverse_transform_avx2(u64*, std::int64_t, const Prime&, const double*) {}
void multiply_entries_avx2(u64*, const u64*, std::int64_t, const Prime&, u64) {}
}  // namespace longmult::ntt
namespace longmult {
std::int64_t frac_sums_avx2(const cell_t*, const cell_t*, std::int64_t, u64*, std::int64_t*, int&) { return 0; }
}  // namespace longmult

#endif
