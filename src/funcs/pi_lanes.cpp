// PITO's terms in vector lanes. Lane j runs term j of eight successive terms;
// the terms form a skewed pipeline: at step s lane j works on array position
// hi - s + j, taking there the cells that lane j - 1 produced one step before
// (the cells of S1, Q and R after the previous term's divisions), so a step
// divides eight positions of eight terms at once. Lane 0 reads the arrays;
// what lane 7 produces (the cells after all eight terms) and the complete sums
// of quotient cells are gathered over eight steps and stored eight cells at a
// time. Every division multiplies by a reciprocal with the 52-bit multiply-add
// of AVX-512 IFMA: for dividends t < 2^51 and l = ceil(log2 d),
// m = floor(2^(51+l) / d) + 1 < 2^52 gives floor(t / d) = floor(t m / 2^(51+l))
// (Granlund and Montgomery), and the high 52 bits of t m come in one step.
#include "pi_lanes.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>

// GCC 12 takes the deliberately undefined source operand inside several
// intrinsics (_mm512_undefined_epi32) for an uninitialised variable.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

constexpr u64 kQRatio = 3249;
constexpr u64 kRRatio = 57121;

// l = ceil(log2 d) and the multiplier m of the lanes' reciprocal division.
struct LaneDivisor {
  u64 m;
  unsigned shift;  // l - 1
  explicit constexpr LaneDivisor(u64 d)
      : m(static_cast<u64>((u128{1} << (51 + ceil_log2(d))) / d) + 1), shift(ceil_log2(d) - 1) {}
  static constexpr unsigned ceil_log2(u64 d) { return static_cast<unsigned>(64 - __builtin_clzll(d - 1)); }
};

constexpr LaneDivisor kQ(kQRatio);
constexpr LaneDivisor kR(kRRatio);

struct Lanes {
  __m512i in1, inQ, inR;           // cells each lane produced last step
  __m512i rem1, remQ, remR, rem2;  // remainders of each lane's divisions
  __m512i acc;                     // lane j: sum of quotients for position hi - s + j
  __m512i out1, outQ, outR, outA;  // lane 7's results of the last steps
};

struct LaneConstants {
  __m512i base, mask63, qd, qm, rd, rm;
  __m512i d, m, shift;  // the eight divisors of S1 + Q + R
  __mmask8 negative;    // lanes whose term is subtracted
  __m512i gather, reverse;
};

#define FIXCALC_LANES __attribute__((target("avx512f,avx512ifma")))

// floor(t / d) for t < 2^51 with the reciprocal (m, shift).
FIXCALC_LANES inline __m512i lane_quot(__m512i t, __m512i m, __m512i shift) {
  return _mm512_srlv_epi64(_mm512_madd52hi_epu64(_mm512_setzero_si512(), t, m), shift);
}

// One step of each lane's long division by d (reciprocal m, shift): the
// dividend is rem * kBase + c, c the cell `x` for lane 0 and the cell `in`
// (produced last step) of the lane below for the others. `in` becomes the
// quotients, rem the remainders; returns c.
FIXCALC_LANES inline __m512i lane_divide(__m512i& in, u64 x, __m512i& rem, __m512i base, __m512i d,
                                         __m512i m, __m512i shift) {
  const __m512i c = _mm512_alignr_epi64(in, _mm512_set1_epi64(static_cast<long long>(x)), 7);
  const __m512i t = _mm512_madd52lo_epu64(c, rem, base);
  in = lane_quot(t, m, shift);
  rem = _mm512_sub_epi64(t, _mm512_madd52lo_epu64(_mm512_setzero_si512(), in, d));
  return c;
}

// Steps [from, to) of the pipeline; Q and R take part where withQ, withR say
// (lane 0 at or below their tops).
template <bool withQ, bool withR>
FIXCALC_LANES void lane_steps(Lanes& st, const LaneConstants& k, u64* s1, u64* q, u64* r,
                              std::int64_t* pacc, std::int64_t hi, std::int64_t from, std::int64_t to) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i qShift = _mm512_set1_epi64(kQ.shift);
  const __m512i rShift = _mm512_set1_epi64(kR.shift);
  __m512i in1 = st.in1, inQ = st.inQ, inR = st.inR;
  __m512i rem1 = st.rem1, remQ = st.remQ, remR = st.remR, rem2 = st.rem2;
  __m512i acc = st.acc, out1 = st.out1, outQ = st.outQ, outR = st.outR, outA = st.outA;
  for (std::int64_t s = from; s < to; ++s) {
    const std::int64_t i0 = hi - s;  // lane 0's position
    const __m512i c1 = _mm512_alignr_epi64(in1, _mm512_set1_epi64(static_cast<long long>(s1[i0])), 7);
    const __m512i t1 = _mm512_madd52lo_epu64(c1, rem1, k.base);
    in1 = _mm512_srli_epi64(t1, 6);
    rem1 = _mm512_and_si512(t1, k.mask63);
    __m512i c = c1;
    if (withQ) c = _mm512_add_epi64(c, lane_divide(inQ, q[i0], remQ, k.base, k.qd, k.qm, qShift));
    if (withR) c = _mm512_add_epi64(c, lane_divide(inR, r[i0], remR, k.base, k.rd, k.rm, rShift));
    const __m512i t2 = _mm512_madd52lo_epu64(c, rem2, k.base);
    __m512i q2 = lane_quot(t2, k.m, k.shift);
    rem2 = _mm512_sub_epi64(t2, _mm512_madd52lo_epu64(zero, q2, k.d));
    q2 = _mm512_mask_sub_epi64(q2, k.negative, zero, q2);
    acc = _mm512_add_epi64(_mm512_alignr_epi64(acc, zero, 7), q2);
    out1 = _mm512_permutex2var_epi64(out1, k.gather, in1);
    outQ = _mm512_permutex2var_epi64(outQ, k.gather, withQ ? inQ : zero);
    outR = _mm512_permutex2var_epi64(outR, k.gather, withR ? inR : zero);
    outA = _mm512_permutex2var_epi64(outA, k.gather, acc);
    if ((s & 7) == 7) {  // lane 7 of steps s - 7 .. s: positions hi - s + 14 down to hi - s + 7
      const std::int64_t at = hi - s + 7;
      _mm512_storeu_si512(s1 + at, _mm512_permutexvar_epi64(k.reverse, out1));
      _mm512_storeu_si512(q + at, _mm512_permutexvar_epi64(k.reverse, outQ));
      _mm512_storeu_si512(r + at, _mm512_permutexvar_epi64(k.reverse, outR));
      const __m512i p = _mm512_loadu_si512(pacc + at);
      _mm512_storeu_si512(pacc + at, _mm512_add_epi64(p, _mm512_permutexvar_epi64(k.reverse, outA)));
    }
  }
  st = Lanes{in1, inQ, inR, rem1, remQ, remR, rem2, acc, out1, outQ, outR, outA};
}

}  // namespace

bool pi_lanes_available() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return yes;
}

// Lanes above every top see zero cells with zero remainders and produce zeros;
// lanes below position 0 read the padding and leave their results there. The
// steps run until lane 7 has passed position 0, rounded up to whole groups of
// eight; Q and R join at the step at which lane 0 reaches their tops (above
// them their cells and remainders are zero).
FIXCALC_LANES void pi_lanes_block(u64* s1, u64* q, u64* r, std::int64_t* pacc, std::int64_t hi,
                                  std::int64_t qTop, std::int64_t rTop, u64 d0) {
  LaneConstants k;
  k.base = _mm512_set1_epi64(static_cast<long long>(kBase));
  k.mask63 = _mm512_set1_epi64(63);
  k.qd = _mm512_set1_epi64(kQRatio);
  k.qm = _mm512_set1_epi64(static_cast<long long>(kQ.m));
  k.rd = _mm512_set1_epi64(kRRatio);
  k.rm = _mm512_set1_epi64(static_cast<long long>(kR.m));
  alignas(64) long long d[8], m[8], shift[8];
  k.negative = 0;
  for (int j = 0; j < 8; ++j) {
    const u64 dj = d0 + 2 * static_cast<u64>(j);
    const LaneDivisor div(dj);
    d[j] = static_cast<long long>(dj);
    m[j] = static_cast<long long>(div.m);
    shift[j] = div.shift;
    if (dj % 4 == 3) k.negative = static_cast<__mmask8>(k.negative | (1u << j));
  }
  k.d = _mm512_load_si512(d);
  k.m = _mm512_load_si512(m);
  k.shift = _mm512_load_si512(shift);
  k.gather = _mm512_set_epi64(15, 7, 6, 5, 4, 3, 2, 1);
  k.reverse = _mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7);

  const __m512i zero = _mm512_setzero_si512();
  Lanes st{zero, zero, zero, zero, zero, zero, zero, zero, zero, zero, zero, zero};
  const std::int64_t steps = (hi + 8 + 7) & ~std::int64_t{7};
  const std::int64_t qFrom = qTop >= 0 ? hi - qTop : steps;
  const std::int64_t rFrom = rTop >= 0 ? hi - rTop : steps;
  const std::int64_t first = std::min(qFrom, rFrom);
  const std::int64_t second = std::max(qFrom, rFrom);
  lane_steps<false, false>(st, k, s1, q, r, pacc, hi, 0, first);
  if (qFrom <= rFrom) {
    lane_steps<true, false>(st, k, s1, q, r, pacc, hi, first, second);
  } else {
    lane_steps<false, true>(st, k, s1, q, r, pacc, hi, first, second);
  }
  lane_steps<true, true>(st, k, s1, q, r, pacc, hi, second, steps);
}

#else

bool pi_lanes_available() { return false; }
void pi_lanes_block(u64*, u64*, u64*, std::int64_t*, std::int64_t, std::int64_t, std::int64_t, u64) {}

#endif
