// Products by GMP through Kronecker substitution: the cells packed into fields wide enough for any
// column sum, one product of binary numbers.
#include <gmp.h>

#include <algorithm>

#include "arith/longmult/products.h"

namespace longmult {
namespace {

thread_local std::vector<mp_limb_t> xs, ys, ps;  // kept across calls: the packed operands, their product

// Cells c[s.lo .. s.hi] as w-bit fields (w >= 34) of a binary number of n limbs.
mp_limb_t* pack_fields(std::vector<mp_limb_t>& v, std::size_t n, const cell_t* c, Span s, unsigned w) {
  mp_limb_t* l = sized(v, static_cast<std::int64_t>(n));
  std::memset(l, 0, n * sizeof(mp_limb_t));
  for (std::int64_t j = 0; j < s.size(); ++j) {
    const u64 off = static_cast<u64>(j) * w;
    const unsigned sh = off & 63;
    const u64 x = static_cast<u64>(c[s.lo + j]);
    l[off >> 6] |= x << sh;
    if (sh > 30) l[(off >> 6) + 1] |= x >> (64 - sh);  // a cell has 34 bits
  }
  return l;
}

// The w-bit field (w <= 128) at bit `off`; two limbs of zeros follow the number.
u128 field(const mp_limb_t* l, u64 off, unsigned w) {
  const mp_limb_t* p = l + (off >> 6);
  const unsigned sh = off & 63;
  u128 v = (static_cast<u128>(p[1]) << 64 | p[0]) >> sh;
  if (sh != 0) v |= static_cast<u128>(p[2]) << (128 - sh);
  return w < 128 ? v & ((static_cast<u128>(1) << w) - 1) : v;
}

}  // namespace

void add_product_kronecker(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t from) {
  const std::int64_t m = std::min(bx.size(), by.size());
  // The narrowest fields for every column sum, of m pairs at most: the bits of m (B-1)^2.
  const u128 most = static_cast<u128>(m) * (kB - 1) * (kB - 1);
  const auto w = static_cast<unsigned>(128 - (most >> 64 != 0 ? __builtin_clzll(static_cast<u64>(most >> 64))
                                                              : 64 + __builtin_clzll(static_cast<u64>(most))));
  const auto limbs = [w](Span s) { return static_cast<std::size_t>((static_cast<u64>(s.size()) * w + 63) / 64); };
  const std::size_t nx = limbs(bx), ny = limbs(by);
  const mp_limb_t* px = pack_fields(xs, nx + 1, X, bx, w);
  mp_limb_t* pp = sized(ps, static_cast<std::int64_t>(nx + ny + 2));
  if (X == Y && bx.lo == by.lo && bx.hi == by.hi) {
    mpn_sqr(pp, px, static_cast<mp_size_t>(nx));
  } else {
    const mp_limb_t* py = pack_fields(ys, ny + 1, Y, by, w);
    const auto n1 = static_cast<mp_size_t>(std::max(nx, ny)), n2 = static_cast<mp_size_t>(std::min(nx, ny));
    mpn_mul(pp, nx >= ny ? px : py, n1, nx >= ny ? py : px, n2);  // the longer first
  }
  pp[nx + ny] = pp[nx + ny + 1] = 0;
  const std::int64_t c0 = bx.lo + by.lo;
  add_split_columns(acc, std::max(from, c0), bx.hi + by.hi, false, [&](std::int64_t c, u64& l, u64& b, u64& a) {
    split_base(field(pp, static_cast<u64>(c - c0) * w, w), l, b, a);
  });
}

}  // namespace longmult
