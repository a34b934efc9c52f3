// Column sums of products of cells, normalised into base-10^10 cells: the multiplication kernels
// behind the fast LONGMULT (arith/longmult_fast.cpp). Column c of X[bx] * Y[by] is the sum of X_j
// Y_i over the pairs with i + j = c. The kernels add whole columns, from a given one up, into an
// Acc, so that the pairs they leave out are exactly those of the columns below.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "arith/arith.h"
#include "arith/cpu.h"
#include "arith/divisor.h"
#include "arith/forkjoin.h"

// The units the products run on: cpu_units(), which the tests change so
// that all of their ways of multiplying can be compared on one machine.
extern Units longmult_units;

namespace longmult {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using i128 = __int128;
constexpr u64 kB = kBase;

inline constexpr WideDivisor kBaseDivisor{kBase};

// Array positions lo .. hi; empty when hi < lo.
struct Span {
  std::int64_t lo, hi;
  bool empty() const { return hi < lo; }
  std::int64_t size() const { return hi - lo + 1; }
};

// The cells of a register with the span from its lowest to its highest
// nonzero cell; reads outside the span give 0.
struct Cells {
  const cell_t* c;
  Span s;
  u64 operator[](std::int64_t p) const { return p >= s.lo && p <= s.hi ? static_cast<u64>(c[p]) : 0; }
};

// Normalised cells of the columns base .. base + n - 1 of a product.
struct Acc {
  u64* cell;
  std::int64_t base;
  u64& operator[](std::int64_t c) { return cell[c - base]; }
  u64 get(std::int64_t c, std::int64_t n) const { return c >= base && c < base + n ? cell[c - base] : 0; }
};

// What runs into column c of the sums below: the carry (below 4), b and a of c - 1, a of c - 2.
using Carry = std::array<u64, 4>;

// acc += sum of col(c) B^c over c = from .. to, carried upward, each column given by split(c, l, b,
// a) as col = (a B + b) B + l, l, b < B, a <= m for at most m < 10^9 pairs: l goes to column c, b
// to c + 1, a to c + 2. The splits are independent; what runs from column to column is a Carry.
// With `pair` two threads take a half each, the lower half's Carry added after; each thread first
// makes the columns lo .. hi of its half by make(lo, hi), then bulk(lo, hi, r) may settle them
// from lo up as the loop here would, with r, and returns the first column it left.
template <class Split, class Make, class Bulk>
void add_split_columns(Acc& acc, std::int64_t from, std::int64_t to, bool pair, Split split, Make make, Bulk bulk) {
  const auto run = [&](std::int64_t c, std::int64_t last, Carry r, bool flush) {
    if (c <= last) c = bulk(c, last, r);
    u64 k = r[0], b1 = r[1], a1 = r[2], a2 = r[3];
    const auto settle = [&](u64 l, u64 b, u64 a) {
      const u64 s = acc[c] + l + b1 + a2 + k;  // below 3B + m + 4
      k = (s >= kB) + (s >= 2 * kB) + (s >= 3 * kB);
      acc[c++] = s - k * kB;
      a2 = a1, a1 = a, b1 = b;
    };
    for (u64 l = 0, b = 0, a = 0; c <= last;) split(c, l, b, a), settle(l, b, a);
    while (flush && (k | b1 | a1 | a2) != 0) settle(0, 0, 0);  // on above `last` until nothing is left
    return Carry{k, b1, a1, a2};
  };
  const std::int64_t mid = from + (to - from + 1) / 2;
  if (!pair || mid == from) return make(from, to), void(run(from, to, {}, true));
  Carry low{};
  forkjoin::run_pair(
      [&](int t) noexcept {
        t == 0 ? (make(from, mid - 1), void(low = run(from, mid - 1, {}, false)))
               : (make(mid, to), void(run(mid, to, {}, true)));
      },
      true);
  run(mid, mid - 1, low, true);
}
template <class Split>
void add_split_columns(Acc& acc, std::int64_t from, std::int64_t to, bool pair, Split split) {
  add_split_columns(
      acc, from, to, pair, split, [](std::int64_t, std::int64_t) {},
      [](std::int64_t c, std::int64_t, Carry&) { return c; });
}

// v's entries, at least n of them, made if v has fewer.
template <class V>
auto* sized(V& v, std::int64_t n) {
  if (v.size() < static_cast<std::size_t>(n)) v.resize(static_cast<std::size_t>(n));
  return v.data();
}

// col = (a B + b) B + l, l, b < B, for col < B^2 2^64.
constexpr int kHighAt = 34;  // b + a 2^34 for b < B < 2^34 and a < 2^26, a column's pairs on the vector units
inline void split_base(u128 col, u64& l, u64& b, u64& a) {
  const u64 h = kBaseDivisor.quotient(col, l);  // floor(col / B), l = col mod B
  a = h / kB, b = h % kB;
}

// acc += the columns c >= cut of X * Y, operands split into blocks at long runs of zero cells, each
// block pair trimmed to the cells that reach column cut and multiplied by the kernel that suits its
// size (products.cpp).
void add_product(Acc& acc, const Cells& X, const Cells& Y, std::int64_t cut);

// acc += the columns c >= from of X[bx] * Y[by], column by column in 64-bit sums (columns.cpp).
void add_product_columns(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from);

// acc += the columns c >= from of X[bx] * Y[by] by one GMP product of the
// cells packed into wide fields (packed.cpp).
void add_product_kronecker(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from);

namespace ntt {
struct Prime;
struct Radix3;
}  // namespace ntt
// The kernels of one vector target (simd.cpp), for the processors that have it. transform: into a,
// of L >= 16 integers below p, src[0 .. n) and zeros (src may be a; not read from n on), by
// decimation in frequency (x, y -> x + y, (x - y) w^j), times c (1: as they are), the entries left
// in a form and order of the kernels' own; inverse_transform: a := L times the inverse of a b c mod
// p (a, b two such transforms, entry by entry), by decimation in time (x, y -> x +- y w^-j),
// integers in [0, p) in natural order; with the twiddles of Tables::fwd and ivd. crt_columns: the
// columns from their residues r1 < p1, r2 < p2 as (a B + b) B + l, l into r1s and b + a 2^kHighAt
// into r2s, but for the last n mod lanes(). frac_sums: for the passes of the truncated product
// (arith/longmult_fast.cpp), the j-th with x1 = x[-j], x2 = x[-j - 1] and b = y[j], the sums of h =
// (x1 b mod B + floor(x2 b / B)) mod B, of x2 b mod B and of b into sums[0 .. 2], the passes with h
// = B - 1 and x2 b mod B + b > B (which may wrap) into may[nmay++]; over the whole vectors of n <
// 2^29 passes, whose number it returns. settle_columns: acc[0 .. n) += the columns that crt_columns
// left in l and bp, as add_split_columns settles them from the Carry `carry`, which it leaves as
// the loop would; l is overwritten. column_sums: the sums of x_j h and of x_j l for y_i = h 10^5 +
// l (columns.cpp).
struct VectorKernels {
  const char* name;        // Highway's name of the target, in lower case
  std::int64_t target;     // its bit among Highway's targets
  std::size_t (*lanes)();  // doubles to a vector: 2, 4 or 8
  void (*transform)(u64* a, const u64* src, std::int64_t L, const ntt::Prime& P, const double* w, std::int64_t n,
                    u64 c);
  void (*inverse_transform)(u64* a, const u64* b, u64 c, std::int64_t L, const ntt::Prime& P, const double* w);
  // The same for 3N entries, with the radix-3 twiddles of ntt.h.
  void (*transform3)(u64* a, const u64* src, std::int64_t N, const ntt::Prime& P, const double* w, const ntt::Radix3& R,
                     std::int64_t n, u64 c);
  void (*inverse_transform3)(u64* a, const u64* b, u64 c, std::int64_t N, const ntt::Prime& P, const double* w,
                             const ntt::Radix3& R);
  void (*crt_columns)(u64* r1s, u64* r2s, std::int64_t n);
  void (*settle_columns)(u64* acc, u64* l, const u64* bp, std::int64_t n, u64 carry[4]);
  std::int64_t (*frac_sums)(const cell_t* x, const cell_t* y, std::int64_t n, u64 sums[3], std::int64_t* may,
                            std::int64_t& nmay);
  void (*column_sums)(const double* xr, std::int64_t nx, const double* yh, const double* yl, std::int64_t ny,
                      std::int64_t from, std::int64_t to, u64* hs, u64* ls);
};
// The vector targets of this build, the most capable first.
std::span<const VectorKernels* const> vector_kernels();

// acc += the columns c >= from of X[tx] * Y[ty] by number-theoretic transforms (ntt.cpp) of the
// plan's length and cells to an entry, on the vector `units` for a cell to an entry (which the
// processor must have), else in plain C++. X may be read down to the start of its block bx, whose
// pairs with Y[ty] below tx must fall in columns below `from`. X's transform is kept for the next
// product as `keep` says: in place of the last one kept (Keep::x), or apart for the lower part of a
// factor whose top cells go alone (Keep::rest, as plan.split has it), or not at all.
struct Plan;
enum class Keep { none, x, rest };
void add_product_ntt(Acc& acc, const cell_t* X, Span bx, Span tx, const cell_t* Y, Span ty, std::int64_t from,
                     Units units, const Plan& plan, Keep keep);

}  // namespace longmult
