// Products of long binary integers (GMP's limbs) by the vector transforms of
// the long products (arith/longmult/), for the series of funcs/ that split
// with GMP: their longest products take about half of GMP's time so.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "arith/cpu.h"

class LimbProducts {
 public:
  // A factor's transforms, kept for the products by it that follow: made
  // by the first product that passes it, again when a product wants other
  // lengths or digits. For one factor only, unchanged while it is kept.
  struct Kept {
    std::int64_t length = 0;  // of the transforms
    int bits = 0;
    std::vector<std::uint64_t> t[2];  // the transforms modulo each prime, divided by their length
  };

  // Products by the vector units of `units`, of up to `limbs` limbs for both
  // factors together. The tables of the transforms are made here, by the
  // thread that runs LONGMULT, so that the products may then go on any
  // thread, each with its own LimbProducts, until the next LONGMULT. Units
  // without vector kernels take no product.
  LimbProducts(Units units, std::int64_t limbs);
  ~LimbProducts();

  // Whether multiply takes a product of na by nb limbs: where the
  // transforms take less time than GMP's product (a model of both times).
  bool takes(std::int64_t na, std::int64_t nb) const { return transform_length(na, nb) > 0; }
  // The length of the transforms of a product that multiply takes (2^k or
  // 3 2^k entries), else 0.
  std::int64_t transform_length(std::int64_t na, std::int64_t nb) const;
  // r[0 .. na + nb) := a[0 .. na) * b[0 .. nb), where `takes`; r distinct
  // from a and b. May throw std::bad_alloc.
  void multiply(std::uint64_t* r, const std::uint64_t* a, std::int64_t na, const std::uint64_t* b, std::int64_t nb,
                Kept* keptB = nullptr);

  // The limbs m >= n of the modulus 2^(64 m) - 1 of the wrapped products
  // of factors of up to n limbs, about half as long as whole products; 0
  // where they are too long for the transforms.
  std::int64_t wrapped_limbs(std::int64_t n) const;
  // r[0 .. m) := a b modulo 2^(64 m) - 1, m = wrapped_limbs(n) for some
  // n >= na, nb; the value 0 may come as 2^(64 m) - 1. May throw std::bad_alloc.
  void multiply_wrapped(std::uint64_t* r, std::int64_t m, const std::uint64_t* a, std::int64_t na,
                        const std::uint64_t* b, std::int64_t nb, Kept* keptB = nullptr);

 private:
  Units units_;
  int maxLog_ = 0;  // 0: no products
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;

  // The columns of a b by transforms of L entries (2^k or 3 2^k) and digits
  // of `bits`.
  void convolve(const std::uint64_t* a, std::int64_t na, const std::uint64_t* b, std::int64_t nb, std::int64_t L,
                int bits, Kept* keptB);
  // Frees the buffers after a product of 2^k entries, if long (limb_products.cpp).
  void release_long(int k);
  // r[0 .. n) := the columns carried, their carry past r[n - 1] returned.
  unsigned __int128 carry(std::uint64_t* r, std::int64_t n, std::int64_t L, int bits);
};

// For the tests: when nonzero, every product whose shorter factor has at
// least this many limbs goes to the transforms, whatever the model says.
extern std::int64_t limb_products_forced_from;
