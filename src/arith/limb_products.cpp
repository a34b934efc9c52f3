// Long binary products by the vector transforms (limb_products.h).
//
// The limbs are cut into digits of d bits, entries of the transforms modulo
// the two primes of the vector units (d <= 40: below 2^50). With 2^k
// entries and d = min(40, (97 - k) / 2) bits a column sums at most 2^(k-1)
// pairs below 2^(2d): below 2^96 < p1 p2, so that it comes whole from its two
// residues, and crt_columns gives it in base B as l + b B + a B^2 with
// a < 2^30, which it packs with b. The columns are carried into limbs.
#include "arith/limb_products.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "arith/longmult/ntt.h"

using longmult::kB;
using longmult::kHighAt;
using longmult::u128;
using longmult::u64;
using namespace longmult::ntt;

struct LimbProducts::Buffers {
  Array<u64> x, y[2];
};

namespace {

// The slots of the vector units' tables (ntt.cpp), shared with LONGMULT.
constexpr int kSlot = 0;

// The digits of `bits` bits of a[0 .. na) into e[0 .. n).
void load_digits(u64* e, std::int64_t n, int bits, const u64* a, std::int64_t na) {
  const u64 mask = (u64{1} << bits) - 1;
  std::int64_t j = 0;
  // Digit j from limbs i and i + 1 while both are there (bits <= 40 < 64).
  for (const std::int64_t whole = na > 1 ? (64 * (na - 1) + bits - 1) / bits : 0; j < std::min(n, whole); ++j) {
    const std::int64_t at = j * bits, i = at >> 6;
    const int off = static_cast<int>(at & 63);
    e[j] = ((a[i] >> off) | ((a[i + 1] << 1) << (63 - off))) & mask;
  }
  for (; j < n; ++j) {
    const std::int64_t at = j * bits, i = at >> 6;
    const int off = static_cast<int>(at & 63);
    e[j] = ((i < na ? a[i] >> off : 0) | (i + 1 < na ? (a[i + 1] << 1) << (63 - off) : 0)) & mask;
  }
}

// The digits of a product of n by m limbs, and its transform's length, 2^k or
// 3 2^(k-2) entries: the shortest whose digits of (97 - k) / 2 bits (at most
// 40) all fit. A column sums fewer than 2^(k-1) pairs either way.
struct Shape {
  int k, bits;
  bool three;
  std::int64_t na, nb;  // digits of each factor
  std::int64_t length() const { return (three ? 3 : 4) * (std::int64_t{1} << k) / 4; }
};
Shape shape(std::int64_t n, std::int64_t m) {
  for (int k = 4;; ++k) {
    const int bits = std::min(40, (97 - k) / 2);
    const std::int64_t da = (64 * n + bits - 1) / bits, db = (64 * m + bits - 1) / bits;
    for (const bool three : {true, false}) {
      const Shape S{k, bits, three, da, db};
      if ((!three || k >= 6) && da + db - 1 <= S.length()) return S;
    }
  }
}

// The shape of a product modulo 2^(64 m) - 1 for m >= n: the shortest 2^k
// entries whose digits of (96 - k) / 2 bits (at most 40) make m = bits 2^k /
// 64 limbs; a column of the wrapped product sums at most 2^k pairs.
Shape wrapped_shape(std::int64_t n) {
  for (int k = 6;; ++k) {
    const int bits = std::min(40, (96 - k) / 2);
    if (bits * (std::int64_t{1} << k) >= 64 * n) return {k, bits, false, 0, 0};
  }
}

// The buffers of transforms of 2^kKeptLog entries or more (24 MiB for the
// three) are freed after their product: the longest products come few and
// far between, while the numbers of the splits are at their largest: e at
// 10^7 decimals on two threads peaked at 152 MiB instead of 164 MiB, in 1.75 s
// either way.
constexpr int kKeptLog = 20;

// Below this many limbs a factor goes to GMP: the model below says that the
// transforms pay from 304 to 320 limbs, where they took 17.1 us against 14.9
// for 300 x 300 limbs.
constexpr std::int64_t kLeastLimbs = 450;

// Whether the transforms take less time than GMP's product, by two models of
// their times fitted to the products of BM_limb_products (bench/, AMD EPYC,
// one thread): GMP's product of n by m <= n limbs, from 300 to 10^4 limbs, about
// (n / m) 2.6 m^1.465 ns (toom's exponent); the transforms about
// 1.1 k 2^k ns on AVX-512's eight lanes and 1.6 k 2^k on AVX2's four (3 2^(k-2)
// entries taken as k + 1/2 stages of that many, the radix-3 stage as two and
// a half). Where the processor does AVX2 in halves they cost 2.8 times as much
// against GMP's (on a first Zen, pi at 10^6 decimals 11% faster than with 1,
// 2.8 to 4.2 alike).
bool pays(const Shape& S, std::int64_t na, std::int64_t nb, const Units& units) {
  const auto n = static_cast<double>(std::max(na, nb)), m = static_cast<double>(std::min(na, nb));
  const double gmp = n / m * 2.6 * std::pow(m, 1.465);
  const double stages = S.three ? 0.75 * (S.k - 2 + 2.5) : S.k;
  const double transforms =
      1.1 * std::sqrt(8.0 / units.lanes) * (units.halves ? 2.8 : 1.0) * stages * std::ldexp(1.0, S.k);
  return transforms < gmp;
}

}  // namespace

std::int64_t limb_products_forced_from = 0;

LimbProducts::LimbProducts(Units units, std::int64_t limbs) : units_(units), buffers_(new Buffers) {
  if (units.vector == nullptr || limbs < 2) return;
  maxLog_ = std::min(26, shape(limbs - limbs / 2, limbs / 2).k);
  for (int q = 0; q < 2; ++q) {
    tables_for(kSlot + q, kPrimes[q], std::int64_t{1} << maxLog_, true);
    if (maxLog_ >= 6) tables_for(kSlot + q, kPrimes[q], 3 * (std::int64_t{1} << (maxLog_ - 2)), true);
  }
}

LimbProducts::~LimbProducts() = default;

std::int64_t LimbProducts::transform_length(std::int64_t na, std::int64_t nb) const {
  const std::int64_t forced = limb_products_forced_from, shorter = std::min(na, nb);
  if (maxLog_ == 0 || shorter < (forced > 0 ? forced : kLeastLimbs)) return 0;
  const Shape S = shape(na, nb);
  return S.k <= maxLog_ && (forced > 0 || pays(S, na, nb, units_)) ? S.length() : 0;
}

std::int64_t LimbProducts::wrapped_limbs(std::int64_t n) const {
  const Shape S = wrapped_shape(n);
  return maxLog_ == 0 || S.k > maxLog_ ? 0 : S.bits * (std::int64_t{1} << S.k) / 64;
}

void LimbProducts::multiply(u64* r, const u64* a, std::int64_t na, const u64* b, std::int64_t nb, Kept* keptB) {
  const Shape S = shape(na, nb);
  convolve(a, na, b, nb, S.length(), S.bits, keptB);
  const u128 over = carry(r, na + nb, S.length(), S.bits);
  (void)over;  // zero: the product has na + nb limbs
  release_long(S.k);
}

void LimbProducts::multiply_wrapped(u64* r, std::int64_t m, const u64* a, std::int64_t na, const u64* b,
                                    std::int64_t nb, Kept* keptB) {
  const Shape S = wrapped_shape(m);
  convolve(a, na, b, nb, S.length(), S.bits, keptB);
  // 2^(64 m) is 1 modulo 2^(64 m) - 1: what the columns carry past the top
  // limb comes in again at the bottom, twice at most.
  u128 over = carry(r, m, S.length(), S.bits);
  while (over != 0) {
    for (std::int64_t i = 0; i < m && over != 0; ++i) {
      over += r[i];
      r[i] = static_cast<u64>(over);
      over >>= 64;
    }
  }
  release_long(S.k);
}

void LimbProducts::release_long(int k) {
  if (k < kKeptLog) return;
  for (auto* buf : {&buffers_->x, &buffers_->y[0], &buffers_->y[1]}) Array<u64>().swap(*buf);
}

void LimbProducts::convolve(const u64* a, std::int64_t na, const u64* b, std::int64_t nb, std::int64_t L, int bits,
                            Kept* keptB) {
  const bool three = L % 3 == 0;
  const std::int64_t da = (64 * na + bits - 1) / bits, db = (64 * nb + bits - 1) / bits;
  const longmult::VectorKernels& v = *units_.vector;
  Buffers& B = *buffers_;
  const bool square = a == b && na == nb && keptB == nullptr;
  const bool made = keptB != nullptr && keptB->length == L && keptB->bits == bits;
  for (auto* buf : {&B.x, &B.y[0], &B.y[1]})
    if (buf->size() < static_cast<std::size_t>(L)) buf->resize(static_cast<std::size_t>(L));
  for (int q = 0; q < 2; ++q) {
    const Prime& P = kPrimes[q];
    const Tables& T = tables_for(kSlot + q, P, L, true);    // made already: reads alone
    const u64 byL = P.p - (P.p - 1) / static_cast<u64>(L);  // 1 / L
    const auto transform = [&](u64* e, std::int64_t n, u64 c = 1) {
      three ? v.transform3(e, e, L / 3, P, T.fwd.data(), radix3(T, L / 3, false), n, c)
            : v.transform(e, e, L, P, T.fwd.data(), n, c);
    };
    u64 *x = B.x.data(), *y = B.y[q].data();
    if (keptB != nullptr) {  // x: b's transform times 1 / L, kept
      x = keptB->t[q].data();
      if (!made) {
        keptB->t[q].resize(static_cast<std::size_t>(L));
        x = keptB->t[q].data();
        load_digits(x, db, bits, b, nb);
        transform(x, db, byL);
      }
      load_digits(y, da, bits, a, na);
      transform(y, da);
    } else {
      load_digits(x, da, bits, a, na);
      transform(x, da);
      if (square) {
        std::copy(x, x + L, y);
      } else {
        load_digits(y, db, bits, b, nb);
        transform(y, db);
      }
    }
    const u64 c = keptB != nullptr ? 1 : byL;
    three ? v.inverse_transform3(y, x, c, L / 3, P, T.ivd.data(), radix3(T, L / 3, true))
          : v.inverse_transform(y, x, c, L, P, T.ivd.data());
  }
  if (keptB != nullptr) keptB->length = L, keptB->bits = bits;
  v.crt_columns(B.y[0].data(), B.y[1].data(), L);
}

u128 LimbProducts::carry(u64* r, std::int64_t n, std::int64_t L, int bits) {
  // Column j, below 2^96 in l + b B + a B^2, weighs 2^(bits j).
  const u64 *l = buffers_->y[0].data(), *ba = buffers_->y[1].data();
  constexpr u64 kLow = (u64{1} << kHighAt) - 1;
  const u64 mask = (u64{1} << bits) - 1;
  u128 c = 0, out = 0;
  int have = 0;
  for (std::int64_t j = 0, i = 0; i < n; ++j) {
    if (j < L) c += static_cast<u128>((ba[j] >> kHighAt) * kB + (ba[j] & kLow)) * kB + l[j];  // a B + b < 2^64
    out |= static_cast<u128>(static_cast<u64>(c) & mask) << have;
    c >>= bits;
    have += bits;
    if (have >= 64) {
      r[i++] = static_cast<u64>(out);
      out >>= 64;
      have -= 64;
    }
  }
  return c;
}
