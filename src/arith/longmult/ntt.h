// Number-theoretic transforms modulo two primes below 2^50, shared by the
// portable kernel (ntt.cpp) and the vector ones (simd.cpp). All give their
// entries in [0, p); the vector ones leave them in an order of their own
// within each pair of vectors, so that a transform serves the kernels that
// made it. The portable products go through three or four primes below 2^58
// instead, with two or three cells to an entry (wide.cpp), on the same
// portable kernel.
#pragma once

#include <bit>
#include <new>
#include <vector>

#include "arith/longmult/products.h"

namespace longmult::ntt {

// A column sum is below m (B-1)^2 < p1 p2 (about 2^100) for any m below
// 10^10, so its residues give it exactly (Chinese remainders). Products go
// through Montgomery's reduction with R = 2^52, which on operands below 2p
// (< 2^51) gives a result below 2p.
struct Prime {
  u64 p;          // the prime, with 2^22 | p - 1
  u64 g;          // a generator of the multiplicative group modulo p
  u64 pinv;       // -1/p mod 2^52
  unsigned bits;  // p < 2^bits, and 2^bits - p < 2^bits / 65
};
inline constexpr u64 kMask52 = (u64{1} << 52) - 1;

constexpr Prime make_prime(u64 p, u64 g) {
  u64 inv = 1;  // 1/p mod 2^64 by Newton's iteration
  for (int i = 0; i < 6; ++i) inv *= 2 - p * inv;
  return {p, g, (0 - inv) & kMask52, static_cast<unsigned>(std::bit_width(p))};
}
inline constexpr Prime kPrimes[2] = {make_prime(1'125'845'146'009'601, 3), make_prime(1'125'844'072'267'777, 5)};

constexpr u64 mul_mod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
constexpr u64 pow_mod(u64 a, u64 e, u64 p) {
  u64 r = 1;
  for (; e != 0; e >>= 1, a = mul_mod(a, a, p))
    if (e & 1) r = mul_mod(r, a, p);
  return r;
}
// 1 / p1 mod p2, for the Chinese remainders.
inline constexpr u64 kInvP1 = pow_mod(kPrimes[0].p % kPrimes[1].p, kPrimes[1].p - 2, kPrimes[1].p);

// The longest transform, 2^20 entries: its tables and arrays take 56 bytes an
// entry, and they are kept for the next product. Longer products go to the
// portable products, whose entries hold two or three cells, and beyond
// those to GMP.
inline constexpr int kMaxLog = 20;

// a b / R mod p, below 2p, for a b < R p.
inline u64 mont(u64 a, u64 b, const Prime& P) {
  const u128 t = static_cast<u128>(a) * b;
  const u64 lo = static_cast<u64>(t) & kMask52;
  const u64 m = (lo * P.pinv) & kMask52;
  const u128 mp = static_cast<u128>(m) * P.p;
  return static_cast<u64>((t >> 52) + (mp >> 52) + ((lo + (static_cast<u64>(mp) & kMask52)) >> 52));
}

inline u64 reduce(u64 x, u64 p) { return x >= p ? x - p : x; }

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

// Per prime, the twiddle factors of every stage, w^j R mod p for j < len at
// entries len .. 2 len - 1, w a primitive (2 len)-th root of unity (fw) or its
// inverse (iv); the same factors w^j themselves side by side with
// floor(w^j 2^64 / p) for Shoup's multiplication (fws and ivs: one load
// stream for both), and as doubles between -p/2 and p/2 for the vector
// kernels (fwd and ivd); and
// for each length L = 2^k the factor R^2 / L mod p that undoes the scaling of
// a transform and its inverse.
struct ShoupFactor {
  u64 w, wq;
};
// y w mod p in [0, 2p) by Shoup's method, for y < 2^64, w < p < 2^63 and
// wq = floor(w 2^64 / p): one high and two low products.
inline u64 shoup(u64 y, ShoupFactor f, u64 p) {
  const u64 q = static_cast<u64>((static_cast<u128>(y) * f.wq) >> 64);
  return y * f.w - q * p;
}
// w < p with its quotient, by p's divisor.
inline ShoupFactor shoup_factor(u64 w, const WideDivisor& byP) {
  u64 wq = 0, rem = 0;
  byP.divrem(static_cast<u128>(w) << 64, wq, rem);
  return {w, wq};
}
struct Tables {
  Array<u64> fw, iv, unscale;
  Array<ShoupFactor> fws, ivs;
  Array<double> fwd, ivd;
};
// The tables for transforms of up to L entries modulo prime q, with the
// doubles of the vector kernels if `doubles`; kept and extended as needed, by
// the thread that calls add_product_ntt only.
const Tables& tables_for(int q, std::int64_t L, bool doubles);

// The portable transforms (ntt.cpp), for L >= 16 entries, with the Shoup
// factors of tables_for(q, L, false) or their like for another prime
// below 2^58: transform_scalar takes entries below 4p, the inverse entries
// below 2p, and both give entries in [0, p).
void transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T);
void inverse_transform_scalar(u64* a, std::int64_t L, const Prime& P, const Tables& T);
// a := a b / 2^k mod p, below 2p, for n entries a, b < p, 2 <= k, 2^k | p - 1.
void multiply_entries_scalar(u64* a, const u64* b, std::int64_t n, const Prime& P, int k);
// The product of add_product_ntt on the portable kernel (wide.cpp).
bool add_product_wide(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from);

// fn(ctx, 0) and fn(ctx, 1), the first on a second thread when `parallel`
// and the process may use two processors (pair.cpp); returns when both are
// done. The calls must not allocate or throw. If the second thread has not
// taken its call by the time the first is done, the caller makes it itself,
// so that a busy or single processor costs no more than the two in turn.
void run_pair(void (*fn)(const void*, int), const void* ctx, bool parallel);

}  // namespace longmult::ntt
