// Number-theoretic transforms, and the products made with them (ntt.cpp): modulo two primes below
// 2^50 with a cell to an entry on the vector units (simd.cpp), modulo three or four primes below
// 2^58 with two or three cells to an entry in plain C++ (ntt_plain.cpp). The plain kernels give
// their entries in [0, p); the vector ones leave them in a form and an order of their own, so that
// a transform serves the kernels that made it.
#pragma once

#include <bit>
#include <new>
#include <vector>

#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"

namespace longmult::ntt {

constexpr u64 mul_mod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
constexpr u64 pow_mod(u64 a, u64 e, u64 p) {
  u64 r = 1;
  for (; e != 0; e >>= 1, a = mul_mod(a, a, p))
    if (e & 1) r = mul_mod(r, a, p);
  return r;
}

// A column of a cell to an entry is below m (B-1)^2 < p1 p2 (about 2^100) for any m below 10^10 pairs,
// so its residues modulo kPrimes give it exactly (Chinese remainders); their roots of unity serve
// transforms of up to 2^26 entries, and of 3 2^k entries for k < 26, those of kWide up to 2^22. An
// entry of C cells is below B^C, a column of entries below m B^2C for m < 2^20 pairs: below 2^153 for
// two cells, within the product of three of kWide (about 2^174), and below 2^219 for three, within
// that of four (about 2^232).
struct Prime {
  u64 p;          // the prime
  u64 g;          // a generator of the multiplicative group modulo p, or at least no square
  unsigned bits;  // p < 2^bits, and 2^bits - p < 2^bits / 65
};

constexpr Prime make_prime(u64 p, u64 g) { return {p, g, static_cast<unsigned>(std::bit_width(p))}; }
inline constexpr Prime kPrimes[2] = {make_prime(1'125'899'437'080'577, 5), make_prime(1'125'897'625'141'249, 29)};
inline constexpr Prime kWide[4] = {make_prime(288'230'376'126'545'921, 6), make_prime(288'230'376'097'185'793, 5),
                                   make_prime(288'230'376'059'437'057, 5), make_prime(288'230'376'051'048'449, 3)};
// Each prime is just below a power of two (for the lazy reductions), the first above the others
// (for Garner's method: r0 < 2 p_q); 2^k | p - 1 and g is no square modulo p, so that
// g^((p - 1) / 2^k) is a root of unity of order 2^k.
constexpr bool good_primes(const Prime* P, int n, unsigned bits, int k) {
  for (int q = 0; q < n; ++q)
    if (P[q].bits != bits || 65 * ((u64{1} << bits) - P[q].p) >= (u64{1} << bits) ||
        (P[q].p - 1) % (u64{1} << k) != 0 || pow_mod(P[q].g, (P[q].p - 1) / 2, P[q].p) != P[q].p - 1 ||
        (q > 0 && P[q].p >= P[q - 1].p))
      return false;
  return true;
}
static_assert(good_primes(kPrimes, 2, 50, 26) && good_primes(kWide, 4, 58, 22));
// The vector kernels' primes have roots of unity of order 3 2^25 as well: 3 2^25 | p - 1, and g is
// no cube modulo p, so that g^((p - 1) / (3 N)) has order 3 N.
constexpr bool has_cube_roots(const Prime& P) {
  return (P.p - 1) % (3 * (u64{1} << 25)) == 0 && pow_mod(P.g, (P.p - 1) / 3, P.p) != 1;
}
static_assert(has_cube_roots(kPrimes[0]) && has_cube_roots(kPrimes[1]));

inline u64 reduce(u64 x, u64 p) { return x >= p ? x - p : x; }
// A residue w < p as a double between -p/2 and p/2, as the vector kernels take factors.
inline double centred(u64 w, const Prime& P) {
  return static_cast<double>(static_cast<std::int64_t>(w - (P.p & (0 - static_cast<u64>(w > P.p / 2)))));
}

// z mod p for z < 2^(bits + 6): z - floor(z / 2^bits) p = (z mod 2^bits) +
// floor(z / 2^bits) (2^bits - p) is below 2^bits + 63 (2^bits - p) < 2p.
inline u64 reduce_lazy(u64 z, const Prime& P) { return reduce(z - (z >> P.bits) * P.p, P.p); }

// Arrays on whole cache lines, so that no vector of entries straddles two.
template <class T>
struct LineAllocator {
  using value_type = T;
  static constexpr std::align_val_t kLine{64};
  LineAllocator() = default;
  template <class U>
  LineAllocator(const LineAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kLine)); }
  void deallocate(T* p, std::size_t) { ::operator delete(p, kLine); }
  friend bool operator==(const LineAllocator&, const LineAllocator&) { return true; }
};
template <class T>
using Array = std::vector<T, LineAllocator<T>>;

// y w mod p in [0, 2p) by Shoup's method, for y < 2^64, w < p < 2^63 and
// wq = floor(w 2^64 / p): one high and two low products.
struct ShoupFactor {
  u64 w, wq;
};
inline u64 shoup(u64 y, ShoupFactor f, u64 p) {
  const u64 q = static_cast<u64>((static_cast<u128>(y) * f.wq) >> 64);
  return y * f.w - q * p;
}
// w < p with its quotient, by p's divisor.
inline ShoupFactor shoup_factor(u64 w, const WideDivisor& byP) {
  u64 rem = 0;
  return {w, byP.quotient(static_cast<u128>(w) << 64, rem)};
}
// w with its quotient, at compile time.
constexpr ShoupFactor shoup_constant(u64 w, u64 p) { return {w, static_cast<u64>((static_cast<u128>(w) << 64) / p)}; }

// Per prime, the twiddle factors of every stage, w^j for j < len at entries len .. 2 len - 1, w a
// primitive (2 len)-th root of unity (fws) or its inverse (ivs), side by side with floor(w^j 2^64 /
// p) for Shoup's multiplication (one load stream for both), or as doubles alone for the vector
// kernels (fwd and ivd), which so hold the stages of length up to kWhole; a longer one takes w^j as
// w^(j - i) w^i, i = j mod kRun: w^(j - i) = (w^kRun)^(j / kRun) is entry len / kRun + j / kRun
// (the stage of length len / kRun has w^kRun for its root), w^i entry i of the stage's run of kRun
// entries, kept from 2 kWhole on, one after another. A stage's twiddles made so cost a product each,
// about half a butterfly's work: the stages up to 2^15 whole take 1 MiB more than runs from
// 2^14 in the tables of 2^21 entries (sqrt(2) at 10^7 decimals), and save two of the seven such
// stages there, and all of them in transforms of 2^16 entries.
inline constexpr std::int64_t kRun = std::int64_t{1} << 13, kWhole = std::int64_t{1} << 15;

// A transform of 3N entries (N = 2^s, vector kernels only) first combines the thirds (radix 3) with
// the twiddles W^j and W^2j, j < N, W a primitive 3N-th root of unity with W^N = omega = g^((p-1)/3)
// (for every N): W^j kept as doubles in fw3 for j < min(N, kRun3) from radix3_at(N), and for N >
// kRun3 (W^kRun3)^t at entry N / kRun3 + t of fw3t; W^-j alike in iv3 and iv3t. The runs are short,
// as a transform's twiddles take one pass over the entries: the tables of 2^19 took 2 MiB of the
// 118 MiB within which sqrt(2) at 10^7 decimals must run, with runs of kRun.
inline constexpr std::int64_t kRun3 = std::int64_t{1} << 9;
struct Tables {
  Array<ShoupFactor> fws, ivs;
  Array<double> fwd, ivd;
  Array<double> fw3, iv3, fw3t, iv3t;
  std::int64_t thirds = 0;                        // the radix-3 tables serve transforms of 3N entries for N up to this
  std::int64_t made_doubles = 0, made_shoup = 0;  // and the others transforms of up to this many
  double half = 0, root = 0;                      // the constants of Radix3, forward
};
constexpr std::int64_t radix3_at(std::int64_t N) {
  return N <= kRun3 ? N : kRun3 * (std::bit_width(static_cast<u64>(N)) - 9);
}
// The twiddles of a transform of 3N entries, and the constants of its radix-3 butterflies: -1/2
// and (omega - omega^2) / 2 modulo p (omega^-1 for the inverse), as doubles between -p/2 and p/2.
struct Radix3 {
  const double* run;   // W^j, j < min(N, kRun3)
  const double* tail;  // (W^kRun3)^t, t < N / kRun3
  double half, root;
};
// For the forward transform or the inverse, from tables made for at least 3N entries.
inline Radix3 radix3(const Tables& T, std::int64_t N, bool inverse) {
  const Array<double>& run = inverse ? T.iv3 : T.fw3;
  const Array<double>& tail = inverse ? T.iv3t : T.fw3t;
  return {run.data() + radix3_at(N), N > kRun3 ? tail.data() + N / kRun3 : nullptr, T.half, inverse ? -T.root : T.root};
}
// Where the run of the stage of length len > kWhole starts, and the entries of
// the tables of doubles for transforms of L entries.
constexpr std::int64_t run_at(std::int64_t len) {
  return 2 * kWhole + kRun * (std::bit_width(static_cast<u64>(len)) - std::bit_width(static_cast<u64>(2 * kWhole)));
}
constexpr std::int64_t twiddle_entries(std::int64_t L) { return L <= 2 * kWhole ? L : run_at(L / 2) + kRun; }

// The tables for transforms of up to L entries modulo P, kept in slot `slot` and grown when
// longer ones are wanted: the doubles of the vector kernels if `doubles`, else Shoup's factors; for
// L = 3N those of N entries and the radix-3 ones of 3N (doubles only); by the thread that calls
// add_product_ntt only.
const Tables& tables_for(int slot, const Prime& P, std::int64_t L, bool doubles);
// Frees the buffers of the products (the kept transform too); the next product makes them again.
void release_buffers();

// The portable transforms (ntt_plain.cpp), for L >= 16 entries modulo a
// prime below 2^58: transform_scalar takes entries below 4p, the inverse
// entries below 2p, and both give entries in [0, p).
void transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T);
void inverse_transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T);
// a := a b / 2^k mod p, below 2p, for n entries a, b < p, 2 <= k, 2^k | p - 1.
void multiply_entries_scalar(u64* a, const u64* b, std::int64_t n, const Prime& P, int k);

}  // namespace longmult::ntt
