// The vector kernels of the products, written once for every vector target whose multiply-add is
// fused and whose rounding to an integer is exact: AVX2 (four lanes of doubles), AVX-512 (eight),
// NEON on 64-bit ARM (two) and SVE (up to eight), compiled once for each by Highway and chosen at
// run time (arith/cpu.cpp); processors without any take the plain C++ kernels.
//
// Residues are held as doubles during a transform: integers of either sign below 4p < 2^52, so
// exact. A product d w mod p, |d w| <= c p^2 with c <= 2, and P = 1/p rounded, goes:
//   h = d w rounded, l = d w - h, exact by FMA; |l| <= ulp(h)/2 <= 2^48;
//   q = h P rounded to an integer (round_product): h P = (d w / p)(1 + e) with |e| < 2.01 2^-53
//       and |d w / p| <= c p < 2^51, so |q - d w / p| < 0.5 + 0.26 c;
//   r = (h - q p) + l: h - q p is an integer (h is: d w is, and above 2^53 ulp(h) >= 2) below
//       2^48 + 1.02 p < 2^53, exact by FMA; r = d w - q p exactly, below (0.5 + 0.26 c) p.
// A sum s, |s| < 4p, goes back below p as s - q p with q = round(s P): s P is within 2^-50 of
// s / p, so |s - q p| <= 0.51 p. The twiddles w are kept between -p/2 and p/2; those of the
// stages longer than kWhole are made as products of two (ntt.h), c = 1/4: below 0.6 p.
// The forward transform's long stages reduce every sum: a difference below 2p by a twiddle has
// c < 1.2, so residues stay below 0.82 p (below 0.87 p after the radix-3 stage, 0.63 p after a
// stage from integers). Within a block, every third stage from the first leaves its sums as they
// are: from residues below 0.87 p it leaves them below 1.74 p, whose sums stay below 3.5 p and whose
// differences by a twiddle have c < 1.8; the two stages after it, which reduce, bring them below
// 0.96 p and then 0.75 p (after the next lazy one, below 0.89 p, and so on). The stages
// within a vector reduce every sum, so the transform ends below 0.51 p, and the entrywise products
// (c < 1, then 1/2; or one of the factors times 1/L in its last stage, c < 1/2) leave them below
// 0.64 p: that stage's sums are below 2.71 p (from a lazy stage, 1.74 p + 0.97 p, where a vector has
// two lanes), so its products by 1/L (c < 1.36) end below 0.86 p, and those by the other factor have
// c < 0.44.
// The inverse's sums A +- B w, |A|, |B| < b p, are below (1.16 b + 0.5) p (c <= 0.6 b); it
// reduces them at the stages of lengths 2^(4i + 3) only. From b = 0.64 (or 0.51 after a
// reduction) its stages of lengths 1 (w = 1: 2b), 2 and 4 leave residues below 2.9 p, whose
// product by a twiddle has c < 1.8, and the fourth's sums stay below 3.9 p. The columns end in [0, p).
#include <algorithm>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "arith/longmult/simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "arith/longmult/ntt.h"

// The targets these kernels are compiled for: never the emulated ones or those without a fused
// multiply-add (nor SVE's variants for one length of vector, which SVE and SVE2 serve as well).
#define FIXCALC_FUSED_TARGETS (HWY_AVX2 | HWY_AVX3 | HWY_NEON | HWY_SVE | HWY_SVE2)

#if (HWY_TARGET & FIXCALC_FUSED_TARGETS) && (HWY_ARCH_X86_64 || HWY_ARCH_ARM_A64)
HWY_BEFORE_NAMESPACE();
namespace longmult::ntt::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using D = hn::CappedTag<double, 8>;
using DU = hn::RebindToUnsigned<D>;
using V = hn::Vec<D>;
using VU = hn::Vec<DU>;
const D d;
const DU du;

// Integers in [0, 2^52) to doubles and back: 2^52 + x has x for its significand bits. Doubles are
// kept in the entries of an array between the stages of a transform (get, put; in reads either).
HWY_INLINE V to_double(VU x) {
  return hn::Sub(hn::BitCast(d, hn::Or(x, hn::BitCast(du, hn::Set(d, 0x1p52)))), hn::Set(d, 0x1p52));
}
HWY_INLINE VU to_int(V x) { return hn::BitCast(du, hn::Xor(hn::Add(x, hn::Set(d, 0x1p52)), hn::Set(d, 0x1p52))); }
HWY_INLINE V load(const u64* a) { return to_double(hn::LoadU(du, a)); }
HWY_INLINE void store(u64* a, V x) { hn::StoreU(to_int(x), du, a); }
HWY_INLINE V get(const u64* a) { return hn::BitCast(d, hn::LoadU(du, a)); }
HWY_INLINE void put(u64* a, V x) { hn::StoreU(hn::BitCast(du, x), du, a); }
// The integers of a transform, below p, at src[0 .. n) and zero from n on (never read there): the
// first stage reads them where the others read the entries of the array.
struct Ints {
  const u64* src;
  std::int64_t n;
};
HWY_INLINE V in(const Ints& I, std::int64_t i) {
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  if (i + N <= I.n) return load(I.src + i);
  if (i >= I.n) return hn::Zero(d);
  u64 part[8] = {};  // the one vector that n cuts: nothing past src[n - 1] read
  std::copy(I.src + i, I.src + I.n, part);
  return load(part);
}

// The prime and its inverse (as numbers: SVE's vectors cannot be members).
struct Mod {
  double p, pinv;
};
HWY_INLINE Mod mod_of(const Prime& P) { return {static_cast<double>(P.p), 1.0 / static_cast<double>(P.p)}; }
// x y rounded to an integer, for |x y| < 2^51: x y + 1.5 2^52 falls where the doubles are the integers
// (two plain operations, where a rounding instruction takes two on some cores).
HWY_INLINE V round_product(V x, V y) { return hn::Sub(hn::MulAdd(x, y, hn::Set(d, 0x1.8p52)), hn::Set(d, 0x1.8p52)); }
// d w - q p, below (0.5 + 0.26 c) p in size, for |d w| <= c p^2, c <= 2 (the proof above).
HWY_INLINE V mulmod(V x, V w, const Mod& m) {
  const V h = hn::Mul(x, w), l = hn::MulSub(x, w, h), q = round_product(h, hn::Set(d, m.pinv));
  return hn::Add(hn::NegMulAdd(q, hn::Set(d, m.p), h), l);
}
// s - q p, at most 0.51 p in size, for |s| < 4p.
HWY_INLINE V reduce(V s, const Mod& m) {
  return hn::NegMulAdd(round_product(s, hn::Set(d, m.pinv)), hn::Set(d, m.p), s);
}
// x mod p in [0, p) for |x| < p; x + p where x < 0 (not where x is -0).
HWY_INLINE V up(V x, const Mod& m) { return hn::IfThenElse(hn::Lt(x, hn::Zero(d)), hn::Add(x, hn::Set(d, m.p)), x); }

// The stages shorter than a vector work on 2N entries in two vectors A and B (N lanes, N = 2^k):
// entry (v, i), lane i of A (v = 0) or B (v = 1), is entry v N + i of the block. exchange(t) swaps
// the roles of v and of bit t of i, so that the pairs of the stage of length 2^t face each other in
// A and B. The forward transform exchanges with bits k - 1, ..., 0 before those stages and leaves
// the block so (the entries of a transform are multiplied entry by entry, in any order, as long as
// both factors have it); the inverse undoes it, exchanging with bits 0, ..., k - 1 after its stages
// of length 1, ..., 2^(k-1). Before the stage of length 2^t the lane bits below t are those of the
// entry's own index, so that lane i takes the twiddle of j = i mod 2^t.
HWY_INLINE void exchange(V& A, V& B, int t, int k) {
  if (t == k - 1) {
    const V a = hn::ConcatLowerLower(d, B, A);
    B = hn::ConcatUpperUpper(d, B, A);
    A = a;
    return;
  }
  const VU lane = hn::Iota(du, 0), bit = hn::Set(du, u64{1} << t);
  const auto m = hn::RebindMask(d, hn::TestBit(lane, bit));
  const auto idx = hn::IndicesFromVec(d, hn::Xor(lane, bit));  // lane i ^ 2^t of A and B:
  const V pa = t == 0 ? hn::Reverse2(d, A) : hn::TableLookupLanes(A, idx);
  const V pb = t == 0 ? hn::Reverse2(d, B) : hn::TableLookupLanes(B, idx);
  const V a = hn::IfThenElse(m, pb, A);
  B = hn::IfThenElse(m, B, pa);
  A = a;
}
HWY_INLINE int log2_lanes() { return hwy::FloorLog2(hn::Lanes(d)); }
// The transforms of ntt.h for L >= 16 entries, twiddles w^j as doubles between -p/2 and p/2. The
// forward one reads integers below p (not the zeros of an upper half: x, 0 -> x, x w^j) and leaves
// residues as doubles, which the entrywise product and the inverse read; the inverse leaves
// integers in [0, p). Both go depth first: the stages within blocks of kNear entries (in the caches
// near the core) a block at a time; the longer ones over the block they split, one to a pass and
// from kFar two, those past kWhole with twiddles from the runs of the tables (a stage's twiddles
// are the same in every block). A block of 2^12 entries (32 KiB) stays in the first-level cache: on
// AVX-512 the forward and inverse transforms of 2^13 to 2^19 entries ran 10 to 25% faster than in
// blocks of 2^14 (kernel bench, best of 8 interleaved rounds), AVX2's 5 to 18%.
constexpr std::int64_t kNear = std::int64_t{1} << 12, kFar = std::int64_t{1} << 20;
struct Stages {
  Mod m;
  const double* w;
  const u64 *a = nullptr, *b = nullptr;  // the inverse's: entry i of a[0 ..) read as a_i b_i c
  double c = 1;                          // the forward one's entries end times c
  HWY_ALIGN double tw[3][8];             // tw[t][i] = w[2^t + i mod 2^t] for the stages of length 2^t below a vector
  Stages(const Prime& P, const double* twiddles) : m(mod_of(P)), w(twiddles) {
    for (int t = 1; t < log2_lanes(); ++t)
      for (std::size_t i = 0; i < hn::Lanes(d); ++i) tw[t][i] = w[(std::size_t{1} << t) + (i & ((1u << t) - 1))];
  }
};
// The twiddles w^j .. w^(j+N-1) of the stage of length len, from the table
// w, or for a stage longer than kWhole from its run and w^(j - j mod kRun).
template <bool kLong = false>
HWY_INLINE V twiddles(const Mod m, const double* w, std::int64_t len, std::int64_t j) {
  if (!kLong || len <= kWhole) return hn::LoadU(d, w + len + j);
  return mulmod(hn::LoadU(d, w + run_at(len) + (j & (kRun - 1))), hn::Set(d, w[len / kRun + j / kRun]), m);
}
// The butterfly of the forward transform: x, y -> x + y, (x - y) w, the sum reduced unless kLazy.
template <bool kLazy = false>
HWY_INLINE void forward_butterfly(V& x, V& y, V w, const Mod& m) {
  const V s = kLazy ? hn::Add(x, y) : reduce(hn::Add(x, y), m);
  y = mulmod(hn::Sub(x, y), w, m), x = s;
}

// A forward stage of length len on the blocks of 2 len entries of a[0 .. n), its sums left
// unreduced if kLazy.
template <bool kLong = false, bool kLazy = false>
HWY_INLINE void forward_stage(const Mod m, const double* w, u64* a, std::int64_t n, std::int64_t len) {
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  for (std::int64_t b = 0; b < n; b += 2 * len)
    for (std::int64_t j = 0; j < len; j += N) {
      V x = get(a + b + j), y = get(a + b + j + len);
      forward_butterfly<kLazy>(x, y, twiddles<kLong>(m, w, len, j), m);
      put(a + b + j, x), put(a + b + j + len, y);
    }
}
// The first stage, of length n/2 on a[0 .. n), from the integers I (their upper half not read if
// `zero`): every entry of a written.
template <bool kLong = false>
HWY_INLINE void first_stage(const Mod m, const double* w, u64* a, std::int64_t n, const Ints& I, bool zero) {
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  const std::int64_t len = n / 2;
  for (std::int64_t j = 0; j < len; j += N) {
    V x = in(I, j), y = zero ? hn::Zero(d) : in(I, j + len);
    forward_butterfly(x, y, twiddles<kLong>(m, w, len, j), m);
    put(a + j, x), put(a + j + len, y);
  }
}
// The forward stages of a block of n <= kNear entries, the first from the
// integers `ints` if given: those of a vector or longer, then the shorter ones.
void forward_stages(const Stages& S, u64* a, std::int64_t n, const Ints* ints, bool zero) {
  const Mod m = S.m;
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  std::int64_t len = n / 2;
  if (ints != nullptr) first_stage(m, S.w, a, n, *ints, zero), len /= 2;
  for (int s = 0; len >= N; len /= 2, ++s)
    s % 3 == 0 ? forward_stage<false, true>(m, S.w, a, n, len) : forward_stage(m, S.w, a, n, len);
  const bool scaled = S.c != 1;
  const V c = hn::Set(d, S.c);
  for (std::int64_t b = 0; b < n; b += 2 * N) {
    V A = get(a + b), B = get(a + b + N);
    for (int t = log2_lanes() - 1; t >= 0; --t) {
      exchange(A, B, t, log2_lanes());
      const V s = hn::Add(A, B), x = hn::Sub(A, B);
      if (t > 0) {
        B = mulmod(x, hn::Load(d, S.tw[t]), m), A = reduce(s, m);
      } else {  // the last stage: each entry reduced, or times c
        B = scaled ? mulmod(x, c, m) : reduce(x, m), A = scaled ? mulmod(s, c, m) : reduce(s, m);
      }
    }
    put(a + b, A), put(a + b + N, B);
  }
}
// The stages longer than a block two in one pass, of lengths 2q and q on a[0 .. 4q) (from the
// integers `ints` if given, their upper half zero if `zero`): half the passes over arrays that
// outgrow the caches.
HWY_INLINE void forward_pair(const Mod m, const double* w, u64* a, std::int64_t q, const Ints* ints, bool zero) {
  const auto from = [&](std::int64_t i, bool none) {
    return none ? hn::Zero(d) : ints != nullptr ? in(*ints, i) : get(a + i);
  };
  for (std::int64_t j = 0; j < q; j += static_cast<std::int64_t>(hn::Lanes(d))) {
    u64 *p0 = a + j, *p1 = p0 + q, *p2 = p1 + q, *p3 = p2 + q;  // four named vectors: SVE's make no arrays
    V x0 = from(j, false), x1 = from(j + q, false), x2 = from(j + 2 * q, zero), x3 = from(j + 3 * q, zero),
      t = twiddles<true>(m, w, q, j);
    forward_butterfly(x0, x2, twiddles<true>(m, w, 2 * q, j), m);
    forward_butterfly(x1, x3, twiddles<true>(m, w, 2 * q, j + q), m);
    forward_butterfly(x0, x1, t, m), forward_butterfly(x2, x3, t, m);
    put(p0, x0), put(p1, x1), put(p2, x2), put(p3, x3);
  }
}
void forward(const Stages& S, u64* a, std::int64_t n, const Ints* ints = nullptr, bool zero = false) {
  if (n <= kNear) return forward_stages(S, a, n, ints, zero);
  if (n < kFar) {  // a long stage alone, then each half
    ints != nullptr ? first_stage<true>(S.m, S.w, a, n, *ints, zero) : forward_stage<true>(S.m, S.w, a, n, n / 2);
    return forward(S, a, n / 2), forward(S, a + n / 2, n / 2);
  }
  forward_pair(S.m, S.w, a, n / 4, ints, zero);
  for (int i = 0; i < 4; ++i) forward(S, a + i * (n / 4), n / 4);
}
void transform(u64* a, const u64* src, std::int64_t L, const Prime& P, const double* w, std::int64_t n, u64 c) {
  const Ints I{src, n};
  Stages S(P, w);
  S.c = centred(c, P);
  forward(S, a, L, &I, n <= L / 2);
}

// The butterfly of the inverse: x, y -> x + y w, x - y w, the sums reduced if `reduced` (at the
// lengths 2^(4i + 3) and at the last stage only: the bound above); its outputs written (write).
HWY_INLINE void inverse_butterfly(V& x, V& y, V w, const Mod& m, bool reduced) {
  const V b = mulmod(y, w, m), s = hn::Add(x, b), t = hn::Sub(x, b);
  x = reduced ? reduce(s, m) : s, y = reduced ? reduce(t, m) : t;
}
HWY_INLINE void write(u64* a, V x, const Mod& m, bool ints) { ints ? store(a, up(x, m)) : put(a, x); }
// An inverse stage of length len on the blocks of 2 len entries of a[0 .. n).
template <bool kInts, bool kReduced, bool kLong = false>
HWY_INLINE void inverse_stage(const Mod m, const double* w, u64* a, std::int64_t n, std::int64_t len) {
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  for (std::int64_t b = 0; b < n; b += 2 * len)
    for (std::int64_t j = 0; j < len; j += N) {
      V x = get(a + b + j), y = get(a + b + j + len);
      inverse_butterfly(x, y, twiddles<kLong>(m, w, len, j), m, kInts || kReduced);
      write(a + b + j, x, m, kInts), write(a + b + j + len, y, m, kInts);
    }
}
// The inverse stages of a block of n <= kNear entries, the last to integers
// if `ints`: those shorter than a vector (up to 4), then the longer ones.
void inverse_stages(const Stages& S, u64* a, std::int64_t n, bool ints) {
  const Mod m = S.m;
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  const int k = log2_lanes();
  const auto product = [&](const u64* x) {
    const V ab = mulmod(get(x), get(S.b + (x - S.a)), m);
    return S.c == 1 ? ab : mulmod(ab, hn::Set(d, S.c), m);
  };
  for (std::int64_t b = 0; b < n; b += 2 * N) {
    V A = product(a + b), B = product(a + b + N);
    for (int t = 0; t < k; ++t) {
      if (t > 0) exchange(A, B, t - 1, k);
      const V y = t == 0 ? B : mulmod(B, hn::Load(d, S.tw[t]), m);
      B = hn::Sub(A, y), A = hn::Add(A, y);
    }
    exchange(A, B, k - 1, k);
    put(a + b, A), put(a + b + N, B);
  }
  for (std::int64_t len = N; len <= n / 2; len *= 2) {
    if (ints && len == n / 2) return inverse_stage<true, true>(m, S.w, a, n, len);
    hwy::FloorLog2(len) % 4 == 3 ? inverse_stage<false, true>(m, S.w, a, n, len)
                                 : inverse_stage<false, false>(m, S.w, a, n, len);
  }
}
// The inverse's long stages two to a pass, of lengths q and 2q on a[0 .. 4q) (to integers if kInts).
template <bool kInts>
HWY_INLINE void inverse_pair(const Mod m, const double* w, u64* a, std::int64_t q) {
  const bool r1 = hwy::FloorLog2(q) % 4 == 3, r2 = kInts || hwy::FloorLog2(2 * q) % 4 == 3;
  for (std::int64_t j = 0; j < q; j += static_cast<std::int64_t>(hn::Lanes(d))) {
    u64 *p0 = a + j, *p1 = p0 + q, *p2 = p1 + q, *p3 = p2 + q;
    V x0 = get(p0), x1 = get(p1), x2 = get(p2), x3 = get(p3), t = twiddles<true>(m, w, q, j);
    inverse_butterfly(x0, x1, t, m, r1), inverse_butterfly(x2, x3, t, m, r1);
    inverse_butterfly(x0, x2, twiddles<true>(m, w, 2 * q, j), m, r2);
    inverse_butterfly(x1, x3, twiddles<true>(m, w, 2 * q, j + q), m, r2);
    write(p0, x0, m, kInts), write(p1, x1, m, kInts), write(p2, x2, m, kInts), write(p3, x3, m, kInts);
  }
}
void inverse(const Stages& S, u64* a, std::int64_t n, bool ints) {
  if (n <= kNear) return inverse_stages(S, a, n, ints);
  if (n < kFar) {  // each half, then a long stage alone
    inverse(S, a, n / 2, false), inverse(S, a + n / 2, n / 2, false);
    if (ints) return inverse_stage<true, true, true>(S.m, S.w, a, n, n / 2);
    return hwy::FloorLog2(n / 2) % 4 == 3 ? inverse_stage<false, true, true>(S.m, S.w, a, n, n / 2)
                                          : inverse_stage<false, false, true>(S.m, S.w, a, n, n / 2);
  }
  for (int i = 0; i < 4; ++i) inverse(S, a + i * (n / 4), n / 4, false);
  ints ? inverse_pair<true>(S.m, S.w, a, n / 4) : inverse_pair<false>(S.m, S.w, a, n / 4);
}
// The inverse of a b c, entry by entry, read as its first stages need them (c taken between -p/2 and
// p/2, then two products, or one for c = 1).
void inverse_transform(u64* a, const u64* b, u64 c, std::int64_t L, const Prime& P, const double* w) {
  Stages S(P, w);
  S.a = a, S.b = b, S.c = centred(c, P);
  inverse(S, a, L, true);
}
// Transforms of 3N entries, N >= 16 a power of two: X_(3m+r) = sum_j (W^3)^(jm) y_r[j] with
// y_r[j] = W^(jr) (x_j + omega^r x_(j+N) + omega^2r x_(j+2N)), W^3 the root of the transforms of N
// entries, so the forward one makes y_0, y_1 and y_2 in the thirds and transforms each; with s =
// x_(j+N) + x_(j+2N), t = x_(j+N) - x_(j+2N): y_0 = x_j + s and y_(1,2) = (x_j - s/2 +- t (omega -
// omega^2)/2) W^(jr). Bounds, from x in [0, p): |s| < 2p (c < 1), |t| < p (c < 1/2), so the sums
// before the twiddles (below 0.6 p) are below 2.4 p, their products have c < 1.4 and below 0.87 p
// they go to the transforms, which take residues below p. The inverse undoes it: each third's
// inverse (residues below 4p, reduced), then z_r = y_r W^-(jr) and x_(j+tN) = sum_r omega^-(rt) z_r,
// the same butterflies with omega^-1 = omega^2; sums below 1.9 p, reduced.
HWY_INLINE V twiddle3(const Radix3& R, const Mod& m, std::int64_t N, std::int64_t j) {
  if (N <= kRun3) return hn::LoadU(d, R.run + j);
  return mulmod(hn::LoadU(d, R.run + (j & (kRun3 - 1))), hn::Set(d, R.tail[j / kRun3]), m);
}
// x0, x1, x2 -> x0 + s, x0 - s/2 + t r, x0 - s/2 - t r, s = x1 + x2, t = x1 - x2, r = R.root.
HWY_INLINE void radix3_butterfly(V& x0, V& x1, V& x2, const Radix3& R, const Mod& m) {
  const V s = hn::Add(x1, x2), t = mulmod(hn::Sub(x1, x2), hn::Set(d, R.root), m);
  const V u = hn::Add(x0, mulmod(s, hn::Set(d, R.half), m));
  x0 = reduce(hn::Add(x0, s), m), x1 = hn::Add(u, t), x2 = hn::Sub(u, t);
}
void transform3(u64* a, const u64* src, std::int64_t N, const Prime& P, const double* w, const Radix3& R,
                std::int64_t n, u64 c) {
  Stages S(P, w);
  S.c = centred(c, P);
  const Mod m = S.m;
  const Ints I{src, n};
  for (std::int64_t j = 0; j < N; j += static_cast<std::int64_t>(hn::Lanes(d))) {
    V x0 = in(I, j), x1 = in(I, N + j), x2 = in(I, 2 * N + j);
    radix3_butterfly(x0, x1, x2, R, m);
    const V w1 = twiddle3(R, m, N, j);
    put(a + j, x0), put(a + N + j, mulmod(x1, w1, m)), put(a + 2 * N + j, mulmod(x2, mulmod(w1, w1, m), m));
  }
  for (int r = 0; r < 3; ++r) forward(S, a + r * N, N);
}
void inverse_transform3(u64* a, const u64* b, u64 c, std::int64_t N, const Prime& P, const double* w, const Radix3& R) {
  Stages S(P, w);
  S.a = a, S.b = b, S.c = centred(c, P);
  for (int r = 0; r < 3; ++r) inverse(S, a + r * N, N, false);
  const Mod m = S.m;
  for (std::int64_t j = 0; j < N; j += static_cast<std::int64_t>(hn::Lanes(d))) {
    const V w1 = twiddle3(R, m, N, j);
    V x0 = reduce(get(a + j), m), x1 = mulmod(reduce(get(a + N + j), m), w1, m),
      x2 = mulmod(reduce(get(a + 2 * N + j), m), mulmod(w1, w1, m), m);
    radix3_butterfly(x0, x1, x2, R, m);
    store(a + j, up(x0, m)), store(a + N + j, up(reduce(x1, m), m)), store(a + 2 * N + j, up(reduce(x2, m), m));
  }
}

// q and r of x = q B + r from e, floor(x / B) or one above it (estimate_quotient), and
// t = x - e B, formed exactly: one correction.
HWY_INLINE void settle_split(V e, V t, V& q, V& r) {
  const auto under = hn::Lt(t, hn::Zero(d));
  r = hn::Add(t, hn::IfThenElseZero(under, hn::Set(d, static_cast<double>(kB))));
  q = hn::Sub(e, hn::IfThenElseZero(under, hn::Set(d, 1.0)));
}
// floor(x / B) estimated as x 10^-10 rounded to an integer: for y = x / B below 2^51 and
// x 10^-10 within 1/2 of y, that is floor(y) or floor(y) + 1 (the callers bound the error).
HWY_INLINE V estimate_quotient(V x) { return round_product(x, hn::Set(d, 1e-10)); }

// x b = q B + r for cells x, b below B, as mul_divmod_base does (arith/longmult_fast.h):
// e estimated from h = x b rounded is q or q + 1 (x b / B below 10^10, two roundings before the
// last), and h - e B, an integer below 2^36 in size, comes exactly from the FMA, as does its sum
// with l = x b - h.
HWY_INLINE void split_at_base(V x, V b, V& q, V& r) {
  const V h = hn::Mul(x, b), l = hn::MulSub(x, b, h), e = estimate_quotient(h);
  settle_split(e, hn::Add(hn::NegMulAdd(e, hn::Set(d, static_cast<double>(kB)), h), l), q, r);
}

// x = q B + r for integers x in [0, 2^53): e estimated is q or q + 1, and
// x - e B (below 2^35 in size) is exact by the FMA.
HWY_INLINE void split_small(V x, V& q, V& r) {
  const V e = estimate_quotient(x);
  settle_split(e, hn::NegMulAdd(e, hn::Set(d, static_cast<double>(kB)), x), q, r);
}

// The column v = r1 + p1 t, t = (r2 - r1) / p1 mod p2, in base B: with p1 = P1h B + P1l,
// t = th B + tl, r1 = r1h B + r1l and P1l tl = q0 B + l0, v = (r1l + l0) +
// (r1h + P1h tl + P1l th + q0) B + P1h th B^2, where every product and sum stays below 2^53 and so
// exact in doubles.
void crt_columns(u64* r1s, u64* r2s, std::int64_t n) {
  const Prime &P1 = kPrimes[0], &P2 = kPrimes[1];
  const Mod m2 = mod_of(P2);
  constexpr u64 kInvP1 = pow_mod(kPrimes[0].p % kPrimes[1].p, kPrimes[1].p - 2, kPrimes[1].p);  // 1 / p1 mod p2
  const V w = hn::Set(d, static_cast<double>(kInvP1)), base = hn::Set(d, static_cast<double>(kB));
  const V p1h = hn::Set(d, static_cast<double>(P1.p / kB)), p1l = hn::Set(d, static_cast<double>(P1.p % kB));
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  for (std::int64_t c = 0; c + N <= n; c += N) {
    const V r1 = load(r1s + c), r2 = load(r2s + c);
    const V t = up(mulmod(reduce(hn::Sub(r2, r1), m2), w, m2), m2);  // |r2 - r1| < p1 < 2 p2
    V th, tl, r1h, r1l, q0, l0, mh, b;
    split_small(t, th, tl);
    split_small(r1, r1h, r1l);
    split_at_base(p1l, tl, q0, l0);
    V low = hn::Add(r1l, l0);
    const V carry = hn::IfThenElseZero(hn::Ge(low, base), hn::Set(d, 1.0));
    low = hn::NegMulAdd(carry, base, low);
    const V mid = hn::Add(hn::Add(hn::MulAdd(p1h, tl, hn::Mul(p1l, th)), q0), hn::Add(r1h, carry));
    split_small(mid, mh, b);
    store(r1s + c, low);
    hn::StoreU(hn::Or(to_int(b), hn::ShiftLeft<kHighAt>(to_int(hn::MulAdd(p1h, th, mh)))), du, r2s + c);
  }
}

// The columns' cells into acc[0 .. n) as add_split_columns settles them one by one (products.h):
// column i adds l_i, b_(i-1) and a_(i-2) (b and a packed in bp as crt_columns leaves them, those of
// the columns below the first from `carry`, as is the carry into the first; the last's go out in
// it). First each column's sum s below 3B + m is split as q B + r, r into acc and q into l; then r
// takes the q of the column below, and a carry of one runs on from there only where that reaches B:
// rare, and then a vector's lanes go one by one.
void settle_columns(u64* acc, u64* l, const u64* bp, std::int64_t n, u64 carry[4]) {
  if (n <= 0) return;
  constexpr u64 kLow = (u64{1} << kHighAt) - 1;
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  const auto split = [&](std::int64_t i, u64 below, u64 two_below) {
    const u64 s = acc[i] + l[i] + below + two_below;
    const u64 q = (s >= kB) + (s >= 2 * kB) + (s >= 3 * kB);
    acc[i] = s - q * kB, l[i] = q;
  };
  split(0, carry[1], carry[3]);
  if (n > 1) split(1, bp[0] & kLow, carry[2]);
  const V base = hn::Set(d, static_cast<double>(kB)), one = hn::Set(d, 1.0);
  const VU low = hn::Set(du, kLow);
  std::int64_t i = 2;
  for (; i + N <= n; i += N) {
    const VU s =
        hn::Add(hn::Add(hn::LoadU(du, acc + i), hn::LoadU(du, l + i)),
                hn::Add(hn::And(hn::LoadU(du, bp + i - 1), low), hn::ShiftRight<kHighAt>(hn::LoadU(du, bp + i - 2))));
    const V x = to_double(s);
    const V q = hn::Add(
        hn::Add(hn::IfThenElseZero(hn::Ge(x, base), one), hn::IfThenElseZero(hn::Ge(x, hn::Add(base, base)), one)),
        hn::IfThenElseZero(hn::Ge(x, hn::Mul(base, hn::Set(d, 3.0))), one));
    store(acc + i, hn::NegMulAdd(q, base, x));
    store(l + i, q);
  }
  for (; i < n; ++i) split(i, bp[i - 1] & kLow, bp[i - 2] >> kHighAt);
  u64 o = 0;  // the carry of one into column i
  const auto add = [&](std::int64_t j, u64 q) {
    const u64 t = acc[j] + q + o;
    o = t >= kB;
    acc[j] = t - o * kB;
  };
  add(0, carry[0]);
  for (i = 1; i + N <= n; i += N) {
    const V t = to_double(hn::Add(hn::LoadU(du, acc + i), hn::LoadU(du, l + i - 1)));
    if (o == 0 && hn::AllFalse(d, hn::Ge(t, base))) {
      store(acc + i, t);
      continue;
    }
    for (std::int64_t j = i; j < i + N; ++j) add(j, l[j - 1]);
  }
  for (; i < n; ++i) add(i, l[i - 1]);
  carry[0] = l[n - 1] + o;
  carry[3] = n > 1 ? bp[n - 2] >> kHighAt : carry[2];
  carry[2] = bp[n - 1] >> kHighAt;
  carry[1] = bp[n - 1] & kLow;
}

// A vector of passes at a time; x1 and x2 read downward, reversed into the order of y.
std::int64_t frac_sums(const cell_t* x, const cell_t* y, std::int64_t n, u64 sums[3], std::int64_t* may,
                       std::int64_t& nmay) {
  const V base = hn::Set(d, static_cast<double>(kB)), top = hn::Set(d, static_cast<double>(kB - 1));
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  VU sh = hn::Zero(du), sr = sh, sy = sh;
  std::int64_t j = 0, listed = nmay;
  for (; j + N <= n; j += N) {
    const VU bi = hn::LoadU(du, reinterpret_cast<const u64*>(y + j));
    const V b = to_double(bi);
    const V x1 = hn::Reverse(d, load(reinterpret_cast<const u64*>(x - j - (N - 1))));
    const V x2 = hn::Reverse(d, load(reinterpret_cast<const u64*>(x - j - N)));
    V q1, r1, q2, r2;
    split_at_base(x1, b, q1, r1);
    split_at_base(x2, b, q2, r2);
    V h = hn::Add(r1, q2);
    h = hn::Sub(h, hn::IfThenElseZero(hn::Ge(h, base), base));
    const auto wrap = hn::And(hn::Eq(h, top), hn::Gt(hn::Add(r2, b), base));
    // The passes that may wrap, rare but where a pattern makes every third pass one: then listed
    // lane by lane without a branch (AMD's cores make a compressing store in microcode, and
    // Highway's compression in a register takes a table each time).
    if (!hn::AllFalse(d, wrap)) {
      std::uint8_t bits[8] = {};
      hn::StoreMaskBits(d, wrap, bits);
      for (std::int64_t i = 0; i < N; ++i) may[listed] = j + i, listed += (bits[i / 8] >> (i % 8)) & 1;
    }
    sh = hn::Add(sh, to_int(h));
    sr = hn::Add(sr, to_int(r2));
    sy = hn::Add(sy, bi);
  }
  nmay = listed;
  sums[0] = hn::GetLane(hn::SumOfLanes(du, sh));
  sums[1] = hn::GetLane(hn::SumOfLanes(du, sr));
  sums[2] = hn::GetLane(hn::SumOfLanes(du, sy));
  return j;
}

// The columns from .. to of x * y for the column kernel (columns.cpp), as dot products: with x
// reversed (xr[k] = x[nx-1-k]) and y_i = h 10^5 + l (yh, yl), hs[c - from] and ls[c - from] := the
// sums of x_j h and of x_j l over i + j = c. A product is below 10^15, so that four sum exactly in
// a lane of doubles, below 2^52 as to_int needs; then they go to 64-bit sums.
void column_sums(const double* xr, std::int64_t nx, const double* yh, const double* yl, std::int64_t ny,
                 std::int64_t from, std::int64_t to, u64* hs, u64* ls) {
  const auto N = static_cast<std::int64_t>(hn::Lanes(d));
  for (std::int64_t c = from; c <= to; ++c) {
    const std::int64_t i0 = std::max<std::int64_t>(0, c - (nx - 1)), n = std::min(ny - 1, c) - i0 + 1;
    const double *a = xr + (nx - 1 - c + i0), *bh = yh + i0, *bl = yl + i0;
    VU sh = hn::Zero(du), sl = sh;
    for (std::int64_t t = 0; t < n;) {
      V h = hn::Zero(d), l = hn::Zero(d);
      for (int k = 0; k < 4 && t + N <= n; ++k, t += N) {
        const V xa = hn::LoadU(d, a + t);
        h = hn::MulAdd(xa, hn::LoadU(d, bh + t), h);
        l = hn::MulAdd(xa, hn::LoadU(d, bl + t), l);
      }
      if (t + N > n && t < n) {  // the last pairs, short of a vector, with a sum of their own
        sh = hn::Add(sh, to_int(h));
        sl = hn::Add(sl, to_int(l));
        const auto m = hn::FirstN(d, static_cast<std::size_t>(n - t));
        const V xa = hn::MaskedLoad(m, d, a + t);
        h = hn::Mul(xa, hn::MaskedLoad(m, d, bh + t));
        l = hn::Mul(xa, hn::MaskedLoad(m, d, bl + t));
        t = n;
      }
      sh = hn::Add(sh, to_int(h));
      sl = hn::Add(sl, to_int(l));
    }
    const u64 h = hn::GetLane(hn::SumOfLanes(du, sh)), l = hn::GetLane(hn::SumOfLanes(du, sl));
    hs[c - from] = h;
    ls[c - from] = l;
  }
}

std::size_t lanes() { return hn::Lanes(d); }

constexpr const char* kName = HWY_TARGET == HWY_AVX2   ? "avx2"
                              : HWY_TARGET == HWY_AVX3 ? "avx3"
                              : HWY_TARGET == HWY_NEON ? "neon"
                              : HWY_TARGET == HWY_SVE  ? "sve"
                                                       : "sve2";
extern const VectorKernels kKernels;
const VectorKernels kKernels{kName,       HWY_TARGET,          &lanes,       &transform,      &inverse_transform,
                             &transform3, &inverse_transform3, &crt_columns, &settle_columns, &frac_sums,
                             &column_sums};

}  // namespace longmult::ntt::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace longmult {
namespace {

#define FIXCALC_KERNELS_OF(T) \
  ((HWY_TARGETS & (T)) && ((T)&FIXCALC_FUSED_TARGETS) && (HWY_ARCH_X86_64 || HWY_ARCH_ARM_A64))
const VectorKernels* const kAll[] = {
#if FIXCALC_KERNELS_OF(HWY_AVX3)
    &ntt::N_AVX3::kKernels,
#endif
#if FIXCALC_KERNELS_OF(HWY_AVX2)
    &ntt::N_AVX2::kKernels,
#endif
#if FIXCALC_KERNELS_OF(HWY_SVE2)
    &ntt::N_SVE2::kKernels,
#endif
#if FIXCALC_KERNELS_OF(HWY_SVE)
    &ntt::N_SVE::kKernels,
#endif
#if FIXCALC_KERNELS_OF(HWY_NEON)
    &ntt::N_NEON::kKernels,
#endif
    nullptr};

}  // namespace

std::span<const VectorKernels* const> vector_kernels() { return {kAll, std::size(kAll) - 1}; }

}  // namespace longmult
#endif
