// ETO and PITO by splitting the truncated series into halves, with GMP, in
// quasi-linear time and exactly: the truncated sums of the term-by-term forms,
// not approximations of e and pi.
//
// Every value is an integer in units of the lowest cell; N = kBase^c is the
// value 1, c = -decimals. DIV is floor division, and truncating divisions
// compose: floor(floor(x / a) / b) = floor(x / (a b)).
#include "funcs/series_split.h"

#include <gmp.h>
#include <math.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "arith/forkjoin.h"
#include "arith/limb_products.h"
#include "arith/longmult/products.h"
#include "io.h"

namespace {

// An mpz that owns itself.
struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  ~Z() { mpz_clear(v); }
  Z(const Z&) = delete;
  Z& operator=(const Z&) = delete;
  operator mpz_ptr() { return v; }
  operator mpz_srcptr() const { return v; }
  void release() {  // zero, its memory returned
    mpz_clear(v);
    mpz_init(v);
  }
};

// Below this many cells the term-by-term forms are faster (measured: e took
// 8 us split and 7 us term by term at 200 decimals, 15 and 17 at 300; pi 44
// and 39 us at 300 decimals, 93 and 96 at 500, 260 and 387 at 1000).
constexpr std::int64_t kMinCellsE = 30;
constexpr std::int64_t kMinCellsPi = 50;

// Terms run one by one at the leaves of the trees: 16 for e, 32 for pi. Pi
// at 10^6 decimals on two threads with the bound K / 32 below, medians of 7
// interleaved runs: 0.647 s against 0.689 for 16 terms and K / 128, 0.674
// for 48 terms; e at 10^7 took 1.97 s with 32 terms and 1.99 with 16.
constexpr long kLeaf = 16;
constexpr long kPiLeaf = 32;

// From this many cells the root's two parts are the two calls of a
// fork/join, on two threads when the thread count allows. Whole runs with
// the partner's start, two threads against one (medians of 9 to 15
// interleaved runs): pi 14.2 and 13.0 ms at 3 10^4 decimals, 23.9 and 24.6
// at 5 10^4, 40.6 and 59.3 at 10^5; e 4.5 and 4.1 ms at 3 10^4, 5.6 and 5.6
// at 5 10^4, 14.0 and 14.0 at 10^5, 0.15 and 0.20 s at 10^6 (3 runs).
constexpr std::int64_t kPairCells = 10'000;

bool paired(std::int64_t cells) { return cells >= series_pair_cells && forkjoin::threads() >= 2; }

// GMP cannot report a refused allocation to its caller, and no exception may
// cross its frames: a refusal ends the process as ALARM does, at once, without
// unwinding (io.h). The budget is checked before splitting, so this is the
// machine refusing memory that the budget allowed. The two halves of a split
// may be refused at once, one on each thread: the first to come here writes
// the message and ends the process, the other waits for that end, so that the
// message is written once. Whichever thread it is runs the exit hook; the
// other, the caller or the partner, is inside the split and writes nothing.
[[noreturn]] void out_of_memory() {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true, std::memory_order_acq_rel))
    for (;;) pause();
  NoUnwind inside_gmp;
  ALARM("ALLOC");
}
void* gmp_alloc(std::size_t n) {
  void* p = std::malloc(n);
  if (p == nullptr) out_of_memory();
  return p;
}
void* gmp_realloc(void* p, std::size_t, std::size_t n) {
  p = std::realloc(p, n);
  if (p == nullptr) out_of_memory();
  return p;
}
void gmp_free(void* p, std::size_t) { std::free(p); }

// Whether `bytes` of GMP memory (besides `extra`) fit in what the register
// budget leaves; installs the allocation functions above when they do.
bool memory_fits(std::int64_t bytes, std::int64_t extra) {
  if (bytes + extra > register_budget() - register_bytes_in_use()) return false;
  static const bool installed = (mp_set_memory_functions(gmp_alloc, gmp_realloc, gmp_free), true);
  return installed;
}

std::int64_t limbs_of(mpz_srcptr x) { return static_cast<std::int64_t>(mpz_size(x)); }
const std::uint64_t* limbs_in(mpz_srcptr x) { return reinterpret_cast<const std::uint64_t*>(mpz_limbs_read(x)); }
// x's array for n limbs, to be written and then finished (mpz_limbs_finish).
std::uint64_t* limbs_for(mpz_ptr x, std::int64_t n) { return reinterpret_cast<std::uint64_t*>(mpz_limbs_write(x, n)); }

// r := a b, the long products by the vector transforms (arith/limb_products.h),
// b's transforms kept in `kept` when given.
void multiply(LimbProducts& lp, mpz_ptr r, mpz_srcptr a, mpz_srcptr b, LimbProducts::Kept* kept = nullptr) {
  static_assert(sizeof(mp_limb_t) == sizeof(std::uint64_t));
  const std::int64_t na = limbs_of(a), nb = limbs_of(b);
  if (!lp.takes(na, nb)) return mpz_mul(r, a, b);
  Z t;  // r may be a or b
  lp.multiply(limbs_for(t, na + nb), limbs_in(a), na, limbs_in(b), nb, kept);
  mpz_limbs_finish(t, mpz_sgn(a) * mpz_sgn(b) < 0 ? -(na + nb) : na + nb);
  mpz_swap(r, t);
}
// acc += a b
void add_product(LimbProducts& lp, mpz_ptr acc, mpz_srcptr a, mpz_srcptr b) {
  if (!lp.takes(limbs_of(a), limbs_of(b))) return mpz_addmul(acc, a, b);
  Z t;
  multiply(lp, t, a, b);
  mpz_add(acc, acc, t);
}

// w := a b modulo M = 2^(64 m) - 1, for m = wrapped_limbs(...) of LimbProducts
// and a, b >= 0 of at most m limbs; w in [0, M].
void wrapped_product(LimbProducts& lp, mpz_ptr w, mpz_srcptr a, mpz_srcptr b, std::int64_t m,
                     LimbProducts::Kept* kept = nullptr) {
  Z t;  // w may be a or b
  lp.multiply_wrapped(limbs_for(t, m), m, limbs_in(a), limbs_of(a), limbs_in(b), limbs_of(b), kept);
  mpz_limbs_finish(t, m);
  mpz_swap(w, t);
}

// M := 2^(64 m) - 1
void set_modulus(mpz_ptr M, std::int64_t m) {
  mpz_set_ui(M, 0);
  mpz_setbit(M, static_cast<mp_bitcnt_t>(64 * m));
  mpz_sub_ui(M, M, 1);
}

// v := beta^j - v modulo M = 2^(64 m) - 1 (beta^j is beta^(j mod m) there),
// in (-M/2, M/2]: the value itself where that is its size.
void from_power_modulo(mpz_ptr v, std::int64_t j, mpz_srcptr M, std::int64_t m) {
  Z p;
  mpz_setbit(p, static_cast<mp_bitcnt_t>(64 * (j % m)));
  mpz_sub(v, p, v);
  mpz_fdiv_r(v, v, M);
  mpz_tdiv_q_2exp(p, M, 1);
  if (mpz_cmp(v, p) > 0) mpz_sub(v, v, M);
}

// mu := floor(beta^2n / d), beta = 2^64, for d of n limbs, by Newton's
// iteration from y = floor(beta^2h / d_h), d_h the top h = n/2 + 3 limbs
// of d (the same, one level down). With mu* = beta^2n / d, y beta^(n-h) is
// within beta^(n-h+2) of mu* (d_h beta^(n-h) <= d < (d_h + 1) beta^(n-h)),
// so e = beta^(n+h) - d y is below beta^(n+2) in size and comes from d y
// modulo 2^(64 m) - 1, m >= n + 4. Then y beta^(n-h) + floor(y e / beta^2h)
// is mu* (1 - eps^2) less at most one, eps <= beta^(2-h) the relative
// error of y: at most two below mu*, as 2h >= n + 5 and mu* < beta^(n+1).
// The last steps, from r = beta^2n - d mu (modulo 2^(64 m) - 1, m >= n + 2:
// a remainder below 3d), make it exact. Short divisors are GMP's.
void reciprocal(LimbProducts& lp, mpz_ptr mu, mpz_srcptr d) {
  const std::int64_t n = limbs_of(d), h = n / 2 + 3;
  const std::int64_t m = lp.wrapped_limbs(n + 4), m2 = lp.wrapped_limbs(n + 2);
  if (h + 2 >= n || !lp.takes(h, h) || m == 0 || m2 == 0) {
    mpz_set_ui(mu, 0);
    mpz_setbit(mu, static_cast<mp_bitcnt_t>(128 * n));
    return mpz_tdiv_q(mu, mu, d);
  }
  Z y, e, M;
  mpz_tdiv_q_2exp(e, d, static_cast<mp_bitcnt_t>(64 * (n - h)));
  reciprocal(lp, y, e);
  set_modulus(M, m);
  wrapped_product(lp, e, d, y, m);
  from_power_modulo(e, n + h, M, m);
  multiply(lp, e, y, e);
  mpz_fdiv_q_2exp(e, e, static_cast<mp_bitcnt_t>(128 * h));
  mpz_mul_2exp(mu, y, static_cast<mp_bitcnt_t>(64 * (n - h)));
  mpz_add(mu, mu, e);
  set_modulus(M, m2);
  wrapped_product(lp, e, d, mu, m2);
  from_power_modulo(e, 2 * n, M, m2);
  for (int i = 0; i < 4 && (mpz_sgn(e.v) < 0 || mpz_cmp(e, d) >= 0); ++i) {
    const bool low = mpz_sgn(e.v) < 0;
    low ? mpz_add(e, e, d) : mpz_sub(e, e, d);
    low ? mpz_sub_ui(mu, mu, 1) : mpz_add_ui(mu, mu, 1);
  }
  if (mpz_sgn(e.v) < 0 || mpz_cmp(e, d) >= 0) {  // never: GMP settles it, and the tests see it
    long_division_repairs.fetch_add(1, std::memory_order_relaxed);
    mpz_fdiv_qr(y, e, e, d);
    mpz_add(mu, mu, y);
  }
}

// Barrett's divisions pay from quotients this many times as long as d in all
// (at 10^7 decimals of pi, with timers, the split took 9.51, 9.58 and 9.85 s
// from two, four and eight times: noise).
constexpr std::int64_t kLongDivisionAt = 4;

// Floor division by a long divisor d of n limbs with the products above, by
// Barrett's method: with mu = floor(beta^2n / d), beta = 2^64, the quotient
// of x < d beta^n (so below beta^2n) is q = floor(floor(x / beta^(n-1)) mu /
// beta^(n+1)) or one or two more, and r = x - q d < 3d settles it. As r is
// below 3d < M = 2^(64 m) - 1 (m >= n + 2), it is (x - q d) mod M, and q d
// is needed modulo M only: a wrapped product, about half as long. A dividend
// goes n limbs at a time from the top, each step's x the remainder so far
// and the next n limbs. mu is made at the first division that takes it, and
// serves every later one: it pays where the products are long and the
// quotients at least half as long as d; other divisions are GMP's.
class LongDivisor {
 public:
  explicit LongDivisor(mpz_srcptr d) : d_(d), n_(limbs_of(d)) {}

  // Whether divisions whose quotients have `limbs` limbs in all would
  // take less time so than by GMP's.
  bool pays(LimbProducts& lp, std::int64_t limbs) const {
    return lp.takes(n_ + 1, n_ + 1) && (mpz_sgn(mu_.v) != 0 || limbs >= kLongDivisionAt * n_);
  }

  // q := floor(h / d), h := h mod d, for h >= 0.
  void divmod(LimbProducts& lp, mpz_ptr q, mpz_ptr h) {
    const std::int64_t nh = limbs_of(h), n = n_;
    if (2 * (nh - n) < n || !lp.takes(n + 1, n + 1)) return mpz_fdiv_qr(q, h, h, d_);
    if (mpz_sgn(mu_.v) == 0) {
      reciprocal(lp, mu_, d_);
      m_ = lp.wrapped_limbs(n + 2);
      set_modulus(M_, m_);
    }
    const mp_limb_t* limbs = mpz_limbs_read(h);
    Z r, x, t, Q;
    for (std::int64_t j = (nh - 1) / n; j >= 0; --j) {
      std::int64_t m = std::min(n, nh - n * j);  // the next limbs, without their zeros on top
      while (m > 0 && limbs[n * j + m - 1] == 0) --m;
      mpz_t next;
      mpz_mul_2exp(x, r, static_cast<mp_bitcnt_t>(64 * n));
      mpz_add(x, x, mpz_roinit_n(next, limbs + n * j, m));
      mpz_tdiv_q_2exp(t, x, static_cast<mp_bitcnt_t>(64 * (n - 1)));
      multiply(lp, t, t, mu_, &muKept_);
      mpz_tdiv_q_2exp(t, t, static_cast<mp_bitcnt_t>(64 * (n + 1)));
      mpz_mul_2exp(Q, Q, static_cast<mp_bitcnt_t>(64 * n));
      mpz_add(Q, Q, t);
      if (m_ == 0) {
        multiply(lp, t, t, d_);
        mpz_sub(r, x, t);
      } else {  // r := (x - t d) mod M
        wrapped_product(lp, r, t, d_, m_, &dKept_);
        mpz_tdiv_q_2exp(t, x, static_cast<mp_bitcnt_t>(64 * m_));  // x mod M = its low m limbs + the rest
        mpz_tdiv_r_2exp(x, x, static_cast<mp_bitcnt_t>(64 * m_));
        mpz_add(x, x, t);
        mpz_sub(r, x, r);
        mpz_fdiv_r(r, r, M_);
      }
      for (int i = 0; i < 2 && mpz_cmp(r, d_) >= 0; ++i) {  // Barrett's estimate is at most two short
        mpz_sub(r, r, d_);
        mpz_add_ui(Q, Q, 1);
      }
      if (mpz_sgn(r.v) < 0 || mpz_cmp(r, d_) >= 0) {  // never: GMP settles it, and the tests see it
        long_division_repairs.fetch_add(1, std::memory_order_relaxed);
        mpz_fdiv_qr(x, r, r, d_);
        mpz_add(Q, Q, x);
      }
    }
    mpz_swap(q, Q);
    mpz_swap(h, r);
  }

 private:
  mpz_srcptr d_;
  std::int64_t n_, m_ = 0;
  Z mu_, M_;
  LimbProducts::Kept muKept_, dKept_;  // the transforms of mu and of d
};

// Bytes the splitting may hold at its peak, with room to spare: the whole
// process peaked at 17 MB for e at 10^6 decimals and 141 MB at 10^7, pi at
// 28 MB and 252 MB; and the decimal string of the result.
std::int64_t bytes_needed(std::int64_t cells, int perDigit) { return cells * 10 * (perDigit + 2) + (1 << 20); }

// The split at c: [a, c] and [c + 1, b].
long split_point(long a, long b) { return a + (b - a) / 2; }

// ---------------------------------------------------------------- e
//
// ETO gives R = 2N + sum_{k>=2} floor(N / k!), the terms ending where k! > N.
// With P(a, k) = a (a+1) ... k and M < P(a, b), let
//   rec(M, a, b) = sum_{k=a..b} floor(M / P(a, k)).
// Split M = Mh P(a, c) + Ml, Ml < P(a, c), so Mh < P(c+1, b). For k <= c,
// floor(M / P(a, k)) = Mh P(k+1, c) + floor(Ml / P(a, k)) exactly, since
// P(a, k) divides Mh P(a, c); for k > c, floor(M / P(a, k)) =
// floor(Mh / P(c+1, k)), the remainder Ml < P(a, c) being too small to carry.
// So rec(M, a, b) = Mh G(a, c) + rec(Ml, a, c) + rec(Mh, c+1, b) with
// G(a, c) = sum_{k=a..c} P(k+1, c) (P(c+1, c) = 1). P and G of every left
// part come from one product tree: P(a, b) = P(a, c) P(c+1, b) and
// G(a, b) = G(a, c) P(c+1, b) + G(c+1, b).

struct ENode {
  long a = 0, b = 0;
  Z P, G;
  std::unique_ptr<ENode> lo, hi;
};

// The node [a, b] with its parts, and with its own P and G when `whole`:
// those of a node are read by its parent only, and nothing reads a root's
// (the sums read the left parts').
std::unique_ptr<ENode> e_tree(LimbProducts& lp, long a, long b, bool whole = true) {
  auto n = std::make_unique<ENode>();
  n->a = a;
  n->b = b;
  if (b - a < kLeaf) {
    mpz_set_ui(n->P, 1);
    for (long k = a; k <= b; ++k) {  // G(a, k) = G(a, k-1) k + 1
      mpz_mul_ui(n->P, n->P, static_cast<unsigned long>(k));
      mpz_mul_ui(n->G, n->G, static_cast<unsigned long>(k));
      mpz_add_ui(n->G, n->G, 1);
    }
    return n;
  }
  const long c = split_point(a, b);
  n->lo = e_tree(lp, a, c);
  n->hi = e_tree(lp, c + 1, b);
  if (whole) {
    multiply(lp, n->P, n->lo->P, n->hi->P);
    multiply(lp, n->G, n->lo->G, n->hi->P);
    mpz_add(n->G, n->G, n->hi->G);
  }
  n->hi->P.release();  // only the left part's P and G split a node's M
  n->hi->G.release();
  return n;
}

// acc += rec(M, a, b) for the node [a, b]; M is used up.
void e_sum(LimbProducts& lp, mpz_ptr acc, mpz_ptr M, std::unique_ptr<ENode> n) {
  if (mpz_sgn(M) == 0) return;
  if (!n->lo) {
    for (long k = n->a; k <= n->b && mpz_sgn(M) != 0; ++k) {
      mpz_fdiv_q_ui(M, M, static_cast<unsigned long>(k));
      mpz_add(acc, acc, M);  // in place: the cost of M, not of acc
    }
    return;
  }
  Z Mh;
  mpz_fdiv_qr(Mh, M, M, n->lo->P);
  add_product(lp, acc, Mh, n->lo->G);
  n->lo->P.release();
  n->lo->G.release();
  e_sum(lp, acc, M, std::move(n->lo));
  e_sum(lp, acc, Mh, std::move(n->hi));
}

// The halves of the root [2, b] as the two calls of a fork/join: the parts'
// trees, then, once the root has split M, the parts' sums, the right one into
// an accumulator of its own.
void e_sum_pair(mpz_ptr acc, mpz_ptr M, long b, std::int64_t limbs) {
  const long c = split_point(2, b);
  LimbProducts lpLo(longmult_units, limbs), lpHi(longmult_units, limbs);
  std::unique_ptr<ENode> lo, hi;
  forkjoin::run_pair(
      [&](int t) noexcept {
        try {
          if (t == 0) {
            hi = e_tree(lpHi, c + 1, b, false);
          } else {
            lo = e_tree(lpLo, 2, c);
          }
        } catch (const std::bad_alloc&) {
          out_of_memory();
        }
      },
      true);
  Z Mh, accHi;
  mpz_fdiv_qr(Mh, M, M, lo->P);
  add_product(lpLo, acc, Mh, lo->G);
  lo->P.release();
  lo->G.release();
  forkjoin::run_pair(
      [&](int t) noexcept {
        try {
          if (t == 0) {
            e_sum(lpHi, accHi, Mh, std::move(hi));
          } else {
            e_sum(lpLo, acc, M, std::move(lo));
          }
        } catch (const std::bad_alloc&) {
          out_of_memory();
        }
      },
      true);
  mpz_add(acc, acc, accHi);
}

void e_value(mpz_ptr R, std::int64_t c, bool pair) {
  Z N;
  mpz_ui_pow_ui(N, 10, static_cast<unsigned long>(10 * c));
  // b with b! > N: the sum of log2 k passes log2 N with 64 bits to spare.
  const double need = static_cast<double>(mpz_sizeinbase(N, 2)) + 64;
  long b = 1;
  for (double s = 0; s < need;) s += std::log2(static_cast<double>(++b));
  mpz_mul_2exp(R, N, 1);
  const auto limbs = 4 * limbs_of(N);
  if (pair && b - 2 >= kLeaf) {
    e_sum_pair(R, N, b, limbs);
  } else {
    LimbProducts lp(longmult_units, limbs);
    e_sum(lp, R, N, e_tree(lp, 2, b, false));
  }
}

// ---------------------------------------------------------------- pi
//
// PITO gives P = sum_{k=0..K} (-1)^k floor(T_k / (2k+1)) with
// T_k = sum_i floor(M0_i / beta_i^k) over the three series, beta = (64, 3249,
// 57121), M0 = (3N, floor(24N/171), floor(24N/1434)), and K the last k with
// 64^k <= 3N (the other series are zero by then: they stay below the first).
// The floor of the sum does not compose, so the tree runs over k. At the node
// [a, b] of L terms each series is M_i = floor(M0_i / beta_i^a) =
// h_i beta_i^L + D_i, D_i < beta_i^L being the digits a..b of M0_i in base
// beta_i and h_i the head above them, and the node's value is
//   V(h, D) = sum_{k=a..b} (-1)^k floor(sum_i floor(M_i / beta_i^(k-a)) / (2k+1)).
// Let Pi be a common multiple of the node's 2k+1 and
//   G_i = sum_{k=a..b} (-1)^k Pi beta_i^(b+1-k) / (2k+1),
// an integer. With h_i = q_i Pi + h_i', M_i / beta_i^(k-a) gains
// q_i Pi beta_i^(b+1-k) exactly, a multiple of every 2k+1 of the node, so the
// floors take it whole: V(h, D) = sum_i q_i G_i + V(h', D). This keeps the
// heads below Pi. Split at c, m = c+1-a terms on the left, D_i = Dh_i
// beta_i^m + Dl_i: the left part [a, c] has head h_i beta_i^(b-c) + Dh_i and
// digits Dl_i, the right part [c+1, b] head h_i and digits Dh_i. At the root
// h = 0 and D = M0. With Pi the product of the 2k+1, Pi and G come from a
// product tree: Pi = Pi_lo Pi_hi, G_i = G_lo,i Pi_hi beta_i^(b-c) + G_hi,i Pi_lo;
// a smaller Pi follows below.

constexpr unsigned long kBeta[3] = {64, 3249, 57121};

// beta_i^e, kept for the few e a run needs (64^e is a shift).
class Powers {
 public:
  // Products of up to `limbs` limbs, both factors together, by the vector transforms.
  explicit Powers(std::int64_t limbs) : products(longmult_units, limbs), shared_(limbs / 64) {}
  LimbProducts products;
  mpz_srcptr get(int i, long e) {
    Z& z = cache_[i][e];
    if (mpz_sgn(z.v) == 0) mpz_ui_pow_ui(z, kBeta[i], static_cast<unsigned long>(e));
    return z;
  }
  // r := x beta_i^e
  void mul(int i, mpz_ptr r, mpz_srcptr x, long e) {
    if (i == 0) {
      mpz_mul_2exp(r, x, static_cast<mp_bitcnt_t>(6 * e));
    } else {
      multiply(products, r, x, get(i, e));
    }
  }
  // q := floor(x / beta_i^e), x := x mod beta_i^e. The divisions by one
  // power of a series share its reciprocal and transforms (LongDivisor),
  // some twelve times the power's size, where the power is at most 1/64 of
  // `limbs`: a longer one serves the few nodes near the root only. Keeping
  // them all, pi at 10^7 decimals peaked at 446 MiB instead of 279 MiB, in
  // the same time (9.66 and 9.65 s, medians of 3 interleaved runs).
  void divmod(int i, mpz_ptr q, mpz_ptr x, long e) {
    if (i == 0) {
      mpz_fdiv_q_2exp(q, x, static_cast<mp_bitcnt_t>(6 * e));
      mpz_fdiv_r_2exp(x, x, static_cast<mp_bitcnt_t>(6 * e));
      return;
    }
    if (limbs_of(get(i, e)) > shared_) {
      LongDivisor by(get(i, e));
      return by.divmod(products, q, x);
    }
    auto& by = divisors_[i][e];
    if (!by) by = std::make_unique<LongDivisor>(get(i, e));
    by->divmod(products, q, x);
  }

 private:
  std::map<long, Z> cache_[3];
  std::map<long, std::unique_ptr<LongDivisor>> divisors_[3];
  std::int64_t shared_;  // the longest power whose divisor is kept
};

// Pi need not be the product: any common multiple of the node's 2k+1 that
// its parts' Pi divide will do, and a smaller one makes every number of the
// node smaller. Each 2k+1 is s r with s the part of primes below a bound;
// Pi = S Lam, S the lcm of the node's s, Lam the product of its r. Then
// Pi_lo and Pi_hi divide Pi, and
//   G_i = G_lo,i (Pi / Pi_lo) beta_i^(b-c) + G_hi,i (Pi / Pi_hi),
//   Pi / Pi_lo = (S / S_lo) Lam_hi,  Pi / Pi_hi = (S / S_hi) Lam_lo.
// The bound is fixed for a run: about K / 32, and below kSmoothMax. At 10^6
// decimals on two threads (K / 32 is 17,000), with leaves of 16 terms,
// medians of 7 interleaved runs: K / 16 took 0.659 s, K / 32 0.643, K / 64
// 0.653 and K / 128 0.676. At 10^7 K / 32 is past kSmoothMax, and a bound
// of 2^17 gained 2%, which is noise there.
constexpr unsigned long kSmoothMax = 1 << 15;

unsigned long smooth_bound(long K) { return std::clamp(static_cast<unsigned long>(K) / 32, 3ul, kSmoothMax); }

const std::vector<unsigned long>& odd_small_primes() {
  static const std::vector<unsigned long> primes = [] {
    std::vector<unsigned long> v;
    std::vector<bool> composite(kSmoothMax);
    for (unsigned long p = 3; p < kSmoothMax; p += 2) {
      if (composite[p]) continue;
      v.push_back(p);
      for (unsigned long m = p * p; m < kSmoothMax; m += 2 * p) composite[m] = true;
    }
    return v;
  }();
  return primes;
}

struct PNode {
  long a = 0, b = 0;
  Z S, Lam, Pi, G[3];
  std::unique_ptr<PNode> lo, hi;
};

// The parts below `bound` of 2k+1 for k = a..b (they are below 2^32: K is
// below 2^31 for any precision a run can have).
struct SmoothParts {
  long a;
  std::vector<std::uint32_t> s;
};

SmoothParts smooth_parts(long a, long b, unsigned long bound) {
  SmoothParts f{a, std::vector<std::uint32_t>(static_cast<std::size_t>(b - a + 1), 1)};
  const auto lo = static_cast<unsigned long>(2 * a + 1);
  const auto hi = static_cast<unsigned long>(2 * b + 1);
  for (unsigned long p : odd_small_primes()) {
    if (p > hi || p >= bound) break;
    for (unsigned long q = p; q <= hi; q *= p) {  // each power of p adds a factor p
      for (unsigned long x = ((lo + q - 1) / q | 1) * q; x <= hi; x += 2 * q)
        f.s[(x - lo) / 2] *= static_cast<std::uint32_t>(p);
      if (q > hi / p) break;
    }
  }
  return f;
}

// G_i for the series in `live` (bit i) only: a series that is zero at the
// tree's first term is zero at every node of it and reduces nothing.
std::unique_ptr<PNode> pi_tree(long a, long b, Powers& pw, const SmoothParts& parts, unsigned live) {
  auto n = std::make_unique<PNode>();
  n->a = a;
  n->b = b;
  Z f;
  if (b - a < kPiLeaf) {
    unsigned long smooth[kPiLeaf], rough[kPiLeaf];
    for (long j = 0; j <= b - a; ++j) {
      smooth[j] = parts.s[static_cast<std::size_t>(a + j - parts.a)];
      rough[j] = static_cast<unsigned long>(2 * (a + j) + 1) / smooth[j];
    }
    mpz_set_ui(n->S, 1);
    mpz_set_ui(n->Lam, 1);
    for (long j = 0; j <= b - a; ++j) {  // the rule above with a one-term part
      const unsigned long g = mpz_gcd_ui(nullptr, n->S, smooth[j]);
      mpz_divexact_ui(f, n->S, g);
      mpz_mul(f, f, n->Lam);                                // Pi / Pi_hi
      const unsigned long toLo = smooth[j] / g * rough[j];  // Pi / Pi_lo
      for (int i = 0; i < 3; ++i) {
        if ((live >> i & 1) == 0) continue;
        mpz_mul_ui(n->G[i], n->G[i], toLo * kBeta[i]);
        if ((a + j) % 2 == 0) {
          mpz_addmul_ui(n->G[i], f, kBeta[i]);
        } else {
          mpz_submul_ui(n->G[i], f, kBeta[i]);
        }
      }
      mpz_mul_ui(n->S, n->S, smooth[j] / g);
      mpz_mul_ui(n->Lam, n->Lam, rough[j]);
    }
    mpz_mul(n->Pi, n->S, n->Lam);
    return n;
  }
  const long c = split_point(a, b);
  n->lo = pi_tree(a, c, pw, parts, live);
  n->hi = pi_tree(c + 1, b, pw, parts, live);
  PNode& lo = *n->lo;
  PNode& hi = *n->hi;
  LimbProducts& lp = pw.products;
  mpz_lcm(n->S, lo.S, hi.S);
  multiply(lp, n->Lam, lo.Lam, hi.Lam);
  multiply(lp, n->Pi, n->S, n->Lam);
  Z toHi, t;
  mpz_divexact(f, n->S, lo.S);
  multiply(lp, f, f, hi.Lam);  // Pi / Pi_lo
  mpz_divexact(toHi, n->S, hi.S);
  multiply(lp, toHi, toHi, lo.Lam);
  for (int i = 0; i < 3; ++i) {
    if ((live >> i & 1) == 0) continue;
    multiply(lp, t, lo.G[i], f);
    pw.mul(i, t, t, b - c);
    multiply(lp, n->G[i], hi.G[i], toHi);
    mpz_add(n->G[i], n->G[i], t);
  }
  for (PNode* part : {&lo, &hi}) {
    part->S.release();
    part->Lam.release();
  }
  return n;
}

// ln Gamma(x) by lgamma_r, which leaves the sign in `sign` where std::lgamma
// writes it to a global, a race when the parts of a split run side by side.
double log_gamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

// log2 of prod_{k=0..n} (2k+1) = (2n+2)! / (2^(n+1) (n+1)!), roughly.
double log2_odd_product(long n) {
  if (n < 0) return 0;
  const double x = static_cast<double>(n);
  return (log_gamma(2 * x + 3) - log_gamma(x + 2)) / std::log(2.0) - (x + 1);
}

struct PiRun {
  unsigned long smooth;  // the bound of the small primes
  double treeAt;         // the head's size, in Pi's, from which a node builds its tree
  Powers pw;
  Z acc;
};

// Tree points: on one thread, 8 times Pi's size (measured at 10^6 decimals:
// from the size of Pi 1.8 s and 72 MB, from 8 times 1.55 s and 28 MB). When
// the root's two parts run side by side the trees of both are held at once,
// and a later point keeps the peak near one thread's: at 10^7 decimals on
// two threads, from 12 times the process peaked at 248 MB in 12.3 s, from 16
// at 235 MB in 12.6 s (medians of 3 interleaved runs; mpmath: 168 MB); at
// 10^6 both at 32 MB, in 0.620 and 0.641 s (medians of 9). An earlier
// measurement at 10^7: from 8 times 373 MB, from 24 254 and 32 242 MB.
constexpr double kTreeAt = 8;
constexpr double kTreeAtPaired = 12;

// Where the root splits when its parts go to two threads, as a fraction of
// the terms: the left part's terms are the longer. At 10^6 decimals the two
// parts took 0.52 and 0.69 s split at 0.25, 0.63 and 0.64 at 0.3, 0.71 and
// 0.48 at 0.35, 0.95 and 0.29 at the middle.
constexpr double kPiPairPoint = 0.3;

// acc += V(h, D) for the node [a, b]; h and D are used up. The tree t of the
// node's Pi and G is built where a head first reaches s.treeAt times the size
// of Pi (estimated), and is freed part by part. Above that point the heads
// are left whole, which costs less than trees whose nodes mostly find their
// heads below Pi.
void pi_sum(PiRun& s, long a, long b, Z (&h)[3], Z (&D)[3], std::unique_ptr<PNode> t) {
  if (!t) {
    std::size_t bits = 0;
    for (int i = 0; i < 3; ++i)
      if (mpz_sgn(h[i].v) != 0) bits = std::max(bits, mpz_sizeinbase(h[i], 2));
    const double L = static_cast<double>(b - a + 1);
    const double saved = L * std::min(std::log2(static_cast<double>(s.smooth)), std::log2(L));
    if (static_cast<double>(bits) >= s.treeAt * (log2_odd_product(b) - log2_odd_product(a - 1) - saved)) {
      unsigned live = 0;
      for (int i = 0; i < 3; ++i)
        if (mpz_sgn(h[i].v) != 0 || mpz_sgn(D[i].v) != 0) live |= 1u << i;
      t = pi_tree(a, b, s.pw, smooth_parts(a, b, s.smooth), live);
    }
  }
  if (t) {
    LongDivisor byPi(t->Pi);
    std::int64_t quotients = 0;
    for (const Z& x : h) quotients += std::max<std::int64_t>(0, limbs_of(x) - limbs_of(t->Pi));
    const bool barrett = byPi.pays(s.pw.products, quotients);
    for (int i = 0; i < 3; ++i) {
      if (mpz_cmp(h[i], t->Pi) < 0) continue;
      Z q;
      barrett ? byPi.divmod(s.pw.products, q, h[i]) : mpz_fdiv_qr(q, h[i], h[i], t->Pi);
      add_product(s.pw.products, s.acc, q, t->G[i]);
    }
    t->Pi.release();
    for (Z& g : t->G) g.release();
  }
  const long L = b - a + 1;
  if (b - a < kPiLeaf) {
    for (int i = 0; i < 3; ++i) {
      s.pw.mul(i, h[i], h[i], L);
      mpz_add(h[i], h[i], D[i]);
    }
    Z T;
    for (long k = a; k <= b; ++k) {
      mpz_add(T, h[0], h[1]);
      mpz_add(T, T, h[2]);
      mpz_fdiv_q_ui(T, T, static_cast<unsigned long>(2 * k + 1));
      if (k % 2 == 0) {
        mpz_add(s.acc, s.acc, T);
      } else {
        mpz_sub(s.acc, s.acc, T);
      }
      for (int i = 0; i < 3; ++i) mpz_fdiv_q_ui(h[i], h[i], kBeta[i]);
    }
    return;
  }
  const long c = split_point(a, b);
  Z Dh[3], hl[3];
  for (int i = 0; i < 3; ++i) {
    s.pw.divmod(i, Dh[i], D[i], c + 1 - a);
    s.pw.mul(i, hl[i], h[i], b - c);
    mpz_add(hl[i], hl[i], Dh[i]);
  }
  std::unique_ptr<PNode> lo = t ? std::move(t->lo) : nullptr;
  std::unique_ptr<PNode> hi = t ? std::move(t->hi) : nullptr;
  t.reset();
  pi_sum(s, c + 1, b, h, Dh, std::move(hi));
  pi_sum(s, a, c, hl, D, std::move(lo));
}

// The root [0, K] split at c into two calls of a fork/join, each with its own
// run (powers and sum). The terms of the left part are the longer: the split
// that gives each part about as much work is below the middle.
void pi_sum_pair(mpz_ptr P, long K, Z (&D)[3], long c, std::int64_t limbs) {
  PiRun lo{smooth_bound(K), kTreeAtPaired, Powers(limbs), {}}, hi{smooth_bound(K), kTreeAtPaired, Powers(limbs), {}};
  Z h[3], Dh[3], hl[3];  // the root's head h is 0: the left part's head is Dh
  for (int i = 0; i < 3; ++i) {
    lo.pw.divmod(i, Dh[i], D[i], c + 1);
    mpz_set(hl[i], Dh[i]);
  }
  forkjoin::run_pair(
      [&](int t) noexcept {
        try {
          if (t == 0) {
            pi_sum(hi, c + 1, K, h, Dh, nullptr);
          } else {
            pi_sum(lo, 0, c, hl, D, nullptr);
          }
        } catch (const std::bad_alloc&) {
          out_of_memory();
        }
      },
      true);
  mpz_add(P, lo.acc, hi.acc);
}

void pi_value(mpz_ptr P, std::int64_t c, bool pair) {
  Z N, h[3], D[3];
  mpz_ui_pow_ui(N, 10, static_cast<unsigned long>(10 * c));
  mpz_mul_ui(D[0], N, 3);
  mpz_mul_ui(D[1], N, 24);
  mpz_fdiv_q_ui(D[1], D[1], 171);
  mpz_mul_ui(D[2], N, 24);
  mpz_fdiv_q_ui(D[2], D[2], 1434);
  const auto K = static_cast<long>((mpz_sizeinbase(D[0], 2) - 1) / 6);  // 2^(6K) <= 3N
  N.release();
  const auto limbs = 4 * limbs_of(D[0]);  // products of up to this many limbs, both factors together
  if (pair && K >= kPiLeaf) {
    pi_sum_pair(P, K, D, static_cast<long>(kPiPairPoint * static_cast<double>(K)), limbs);
    return;
  }
  PiRun s{smooth_bound(K), kTreeAt, Powers(limbs), {}};
  pi_sum(s, 0, K, h, D, nullptr);
  mpz_swap(P, s.acc);
}

// ---------------------------------------------------------------- registers

// cells[0..] := the base-10^10 cells of v, from GMP's subquadratic conversion
// to decimal; v has `room` cells at most.
void to_cells(cell_t* cells, [[maybe_unused]] std::int64_t room, mpz_srcptr v) {
  char* s = mpz_get_str(nullptr, 10, v);
  const std::size_t len = std::strlen(s);
  std::int64_t i = 0;
  for (std::size_t end = len; end > 0; ++i) {
    const std::size_t start = end > kCellDigits ? end - kCellDigits : 0;
    assert(i < room);
    cell_t cell = 0;
    for (std::size_t j = start; j < end; ++j) cell = cell * 10 + (s[j] - '0');
    cells[i] = cell;
    end = start;
  }
  void (*free_fn)(void*, std::size_t) = nullptr;
  mp_get_memory_functions(nullptr, nullptr, &free_fn);
  free_fn(s, len + 1);
}

// The conversion of long values to cells by halves, v = q 10^(10 h) + r,
// each power's division (LongDivisor, Barrett's with the transforms)
// shared by the parts of a level; parts of kDirectCells cells or fewer go to
// GMP's conversion (series_direct_cells): e at 10^7 decimals took 1.56 s
// against 1.67 s with GMP's conversion of two halves (medians of 3). Values
// of up to 16 parts go to GMP's conversion whole (in two halves on two
// threads), in less memory: on two threads e at 10^6 decimals completes
// within ulimit -v 30000 so, not by halves.
constexpr std::int64_t kDirectCells = 1 << 13;

class Decimal {
 public:
  explicit Decimal(std::int64_t limbs) : products_(longmult_units, limbs) {}

  // cells[0 .. n) := the cells of v < 10^(10 n), cells that are zero
  // already; v is used up.
  void convert(cell_t* cells, std::int64_t n, mpz_ptr v) {
    if (mpz_sgn(v) == 0) return;
    if (n <= series_direct_cells) return to_cells(cells, n, v);
    const std::int64_t h = n / 2;
    Z q;
    split(q, v, h);
    convert(cells + h, n - h, q);
    convert(cells, h, v);
  }
  // q := floor(v / 10^(10 h)), v := v mod 10^(10 h).
  void split(mpz_ptr q, mpz_ptr v, std::int64_t h) {
    auto& [power, by] = levels_[h];
    if (!by) {
      mpz_ui_pow_ui(power, 10, static_cast<unsigned long>(kCellDigits * h));
      by = std::make_unique<LongDivisor>(power);
    }
    by->divmod(products_, q, v);
  }

 private:
  LimbProducts products_;
  std::map<std::int64_t, std::pair<Z, std::unique_ptr<LongDivisor>>> levels_;
};

// R := v with the top ADD leaves: `limit` when the cell at `limit` is nonzero
// or the register has one cell at most, otherwise the highest nonzero cell,
// and decimals when no cell above the lowest is nonzero. When `pair`, v is
// cut at a cell near its middle, v = q 10^(10 m) + r, and the cells of q and
// of r are the two calls of a fork/join (the conversion divides so itself,
// here the two halves go on side by side): at 10^7 decimals of e this took
// 0.68 s against 1.03 for the conversion of v whole (medians of 3).
void store(Reg& R, mpz_ptr v, bool pair) {
  std::memset(R.cells, 0, static_cast<std::size_t>(ncells()) * sizeof(cell_t));
  const auto n = std::min(ncells(), static_cast<std::int64_t>(mpz_sizeinbase(v, 10) / kCellDigits + 1)), m = n / 2;
  const auto limbs = 2 * limbs_of(v) + 2;
  if (n <= 16 * series_direct_cells) {  // GMP's conversion, of two halves when paired
    if (pair && m > 0) {
      Z q, r;
      mpz_ui_pow_ui(q, 10, static_cast<unsigned long>(kCellDigits * m));
      mpz_fdiv_qr(q, r, v, q);
      forkjoin::run_pair([&](int t) noexcept { t == 0 ? to_cells(R.cells + m, n - m, q) : to_cells(R.cells, m, r); },
                         true);
    } else if (mpz_sgn(v) != 0) {
      to_cells(R.cells, n, v);
    }
  } else if (pair && m > 0) {
    Decimal lo(limbs), hi(limbs);
    Z q;
    lo.split(q, v, m);
    forkjoin::run_pair(
        [&](int t) noexcept {
          try {
            t == 0 ? hi.convert(R.cells + m, n - m, q) : lo.convert(R.cells, m, v);
          } catch (const std::bad_alloc&) {
            out_of_memory();
          }
        },
        true);
  } else {
    Decimal(limbs).convert(R.cells, n, v);
  }
  R.top = decimals;
  if (decimals >= limit || R.cells[c39] != 0) {
    R.top = limit;
    return;
  }
  for (std::int64_t j = c39 - 1; j >= 1; --j) {
    if (R.cells[j] != 0) {
      R.top = static_cast<std::int32_t>(j + decimals);
      return;
    }
  }
}

// A series register as the last DIV leaves it: zero, top = decimals.
void clear(Reg& R) {
  std::memset(R.cells, 0, static_cast<std::size_t>(ncells()) * sizeof(cell_t));
  R.top = decimals;
}

}  // namespace

std::int64_t series_pair_cells = kPairCells;
std::int64_t series_direct_cells = kDirectCells;
std::atomic<std::uint64_t> long_division_repairs{0};

bool eto_split(Reg& R, Reg& T) {
  const std::int64_t c = -std::int64_t{decimals};
  if (limit < 0 || c < kMinCellsE || !memory_fits(bytes_needed(c, 20), 0)) return false;
  Z v;
  const bool pair = paired(c);
  e_value(v, c, pair);
  store(R, v, pair);
  clear(T);
  return true;
}

bool pito_split(Reg& P, Reg& Q, Reg& R, std::int64_t extra) {
  const std::int64_t c = -std::int64_t{decimals};
  if (limit < 0 || c < kMinCellsPi || !memory_fits(bytes_needed(c, 40), extra)) return false;
  Z v;
  const bool pair = paired(c);
  pi_value(v, c, pair);
  store(P, v, pair);
  clear(Q);
  clear(R);
  return true;
}
