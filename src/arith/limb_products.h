// Products of long binary integers (GMP's limbs) by the vector transforms of
// the long products (arith/longmult/), for the series of funcs/ that split
// with GMP: their longest products take about half of GMP's time so.
#pragma once

#include <cstdint>
#include <memory>

#include "arith/cpu.h"

class LimbProducts {
 public:
  // Products by the vector units of `units`, of up to `limbs` limbs for both
  // factors together. The tables of the transforms are made here, by the
  // thread that runs LONGMULT, so that the products may then go on any
  // thread, each with its own LimbProducts, until the next LONGMULT. Units
  // without vector kernels take no product.
  LimbProducts(Units units, std::int64_t limbs);
  ~LimbProducts();

  // Whether multiply takes a product of na by nb limbs: where the
  // transforms take less time than GMP's product (a model of both times).
  bool takes(std::int64_t na, std::int64_t nb) const;
  // r[0 .. na + nb) := a[0 .. na) * b[0 .. nb), where `takes`; r distinct
  // from a and b. May throw std::bad_alloc.
  void multiply(std::uint64_t* r, const std::uint64_t* a, std::int64_t na, const std::uint64_t* b, std::int64_t nb);

 private:
  Units units_;
  int maxLog_ = 0;  // 0: no products
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;
};

// For the tests: when nonzero, every product whose shorter factor has at
// least this many limbs goes to the transforms, whatever the model says.
extern std::int64_t limb_products_forced_from;
