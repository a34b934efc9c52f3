// Fast LONGMULT: the cells, top and alarms of the schoolbook reference from one
// product of the significant cells and a small correction for the truncation
// of each partial product on its own.
//
// With d = -decimals fraction cells, B = 10^10 and X, Y read as integers in
// units of the lowest cell, the reference sums P_i = floor(X Y_i / B^(d-i))
// (exact for i >= d) over the cells Y_i of Y. With V = X Y / B^d and
// f_i = frac(X Y_i / B^(d-i)) for i < d,
//
//     Z = sum P_i = V - sum f_i.
//
// Let Q B^2 + R be the sum of the product's columns from d - 2 up, normalised
// (R its two cells below d), and for i < d with k = d - i let
// a_i = (X_(k-1) B + X_(k-2)) Y_i mod B^2 and L_i = (X mod B^(k-2)) Y_i / B^(k-2),
// the share of the cells below k - 2, in [0, Y_i). The columns below d - 2
// hold exactly the pairs X_j Y_i with j < k - 2, so V B^2 = Q B^2 + R + sum L_i,
// while f_i B^2 = a_i + L_i - B^2 w_i, with w_i = 1 when a_i + L_i >= B^2.
// The L_i cancel:
//
//     Z = Q - J,  J B^2 = sum a_i - R - B^2 sum w_i.
//
// A w_i can be 1 only when a_i > B^2 - Y_i (about once in 10^10 for cells
// without pattern); then a walk down the cells below k - 2 settles it
// (Walks, whose walks together take time linear in the operands).
//
// When Y is 0.99999... (B^k - E, E short), X Y is formed exactly as
// X B^k - X E instead; then V B^2 = Q B^2 + R + phi with phi in [0, 1), and
// as each L_i lies in [0, Y_i), J B^2 lies in an interval narrower than B^2.
//
// The products themselves are in products.cpp (blocks), plan.cpp (the choice
// of kernel), columns.cpp, packed.cpp (GMP), ntt.cpp (transforms),
// ntt_plain.cpp (their kernels in plain C++) and simd.cpp (the vector
// kernels).
#include "arith/longmult_fast.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

#include "arith/forkjoin.h"
#include "arith/longmult/ntt.h"
#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"

namespace {

using namespace longmult;

constexpr i128 kB2 = i128{kBase} * kBase;

// Products of up to this many cells are summed on the stack.
constexpr std::int64_t kLocalCells = 128;

// A second factor whose top cells are 10^10 - 1 for at least this long is
// multiplied as B^k - E (see complement_span).
constexpr std::int64_t kComplementRun = 64;

enum class Settled { kDone, kOverflow, kUnexpected };

// v's first n entries, zeroed; v grows as needed and is kept across calls.
inline u64* zeroed(std::vector<u64>& v, std::size_t n) {
  std::memset(sized(v, static_cast<std::int64_t>(n)), 0, n * sizeof(u64));
  return v.data();
}

// Column sums too long for the stack, kept across calls.
thread_local std::vector<u64> sums;

bool decline(Decline why) {
  ++longmult_declines[static_cast<std::size_t>(why)];
  return false;
}

// R's cells up to its top, with the span of its nonzero cells.
Cells cells_of(const Reg& R) {
  const cell_t* c = R.cells;
  std::int64_t hi = std::min<std::int64_t>(std::int64_t{R.top} - decimals, c39);
  while (hi >= 0 && c[hi] == 0) --hi;
  std::int64_t lo = 0;  // eight cells at a time first: a short factor such as 2.0 has long runs of zeros below
  const auto zeros = [c](std::int64_t i) {
    return (c[i] | c[i + 1] | c[i + 2] | c[i + 3] | c[i + 4] | c[i + 5] | c[i + 6] | c[i + 7]) == 0;
  };
  while (lo + 8 <= hi && zeros(lo)) lo += 8;
  while (lo < hi && c[lo] == 0) ++lo;
  return {c, {lo, hi}};
}

// Whether floor((X mod B^q) b / B^q) >= T for 0 < T < b < B, that is whether
// the fraction x_q = (X mod B^q) / B^q formed by X's cells below q reaches T/b.
// As x_q = (X_(q-1) + x_(q-1)) / B, one cell down the question becomes
// x_(q-1) >= (T B - X_(q-1) b) / b: a new numerator T' over the same b, which
// settles it when T' <= 0 (yes) or T' >= b (no, as x < 1), and where X has no
// more cells (x = 0: no). A walk thus follows X's cells for as long as they
// are the base-B digits of T/b.
//
// The walks of one product share their answers, and so do those of the
// products that follow with the same X (the terms of a series). Two
// fractions t/b and t'/b' with b, b' < B that differ do so by at least
// 1/(b b') > B^-2, so they cannot share two more digits: at each position at
// most one fraction stays undecided for two cells or more. That state is
// remembered with its answer when the walk ends, and a walk that reaches a
// remembered state stops. Each walk then runs at most two cells of its own
// before it settles or meets a state it is the first to reach, so all the
// walks of a product together visit O(cells of X + cells of Y) cells,
// whatever the pattern of the operands.
class Walks {
 public:
  explicit Walks(const Cells& X) : X_(X) {
    const cell_t* c = X.c + X.s.lo;
    if (kept_ && X.s.lo == span_.lo && X.s.hi == span_.hi && std::equal(c, c + X.s.size(), cells_.begin()))
      return;       // the same X: its states hold
    kept_ = false;  // X's cells are copied, and room made for states, when the first is kept
    span_ = X.s;
    if (++generation_ == 0) {  // wrapped: forget every stale state
      std::fill(memo_.begin(), memo_.end(), State{});
      generation_ = 1;
    }
  }

  bool reaches(std::int64_t q, u64 b, i128 T) {
    if (T <= 0) return true;
    if (T >= static_cast<i128>(b)) return false;
    path_.clear();
    bool answer = false;
    for (;; --q) {
      if (q <= X_.s.lo) break;  // x_q = 0
      if (kept_ && q <= X_.s.hi + 1) {
        const State& m = memo_[static_cast<std::size_t>(q)];
        if (m.generation == generation_ && static_cast<u128>(T) * m.den == static_cast<u128>(m.num) * b) {
          answer = m.answer;
          break;
        }
      }
      path_.push_back({q, static_cast<u64>(T)});
      ++longmult_walk_cells;
      T = T * kB - static_cast<i128>(static_cast<u128>(X_[q - 1]) * b);
      if (T <= 0) {
        answer = true;
        break;
      }
      if (T >= static_cast<i128>(b)) break;
    }
    // The states that stayed undecided for two more cells at least.
    if (path_.size() >= 3 && !kept_) {
      sized(memo_, X_.s.hi + 2);
      cells_.assign(X_.c + X_.s.lo, X_.c + X_.s.hi + 1);
      kept_ = true;
    }
    for (std::size_t j = 0; j + 3 <= path_.size(); ++j)
      if (path_[j].q <= X_.s.hi + 1) memo_[static_cast<std::size_t>(path_[j].q)] = {path_[j].t, b, generation_, answer};
    return answer;
  }

 private:
  struct State {
    u64 num = 0, den = 1;
    std::uint32_t generation = 0;
    bool answer = false;
  };
  struct Step {
    std::int64_t q;
    u64 t;
  };
  const Cells& X_;
  static thread_local std::vector<State> memo_;
  static thread_local std::vector<Step> path_;
  static thread_local std::uint32_t generation_;
  static thread_local std::vector<cell_t> cells_;  // X's cells, from span_.lo, that the states are of
  static thread_local Span span_;
  static thread_local bool kept_;  // whether states of X are kept
};

thread_local std::vector<Walks::State> Walks::memo_;
thread_local std::vector<Walks::Step> Walks::path_;
thread_local std::uint32_t Walks::generation_ = 0;
thread_local std::vector<cell_t> Walks::cells_;
thread_local Span Walks::span_{0, -1};
thread_local bool Walks::kept_ = false;

// The first pass of the reference that meets ALARM("MULT") or
// ALARM("LONGMULT"), with the alarm's name; -1 when every pass fits. Pass i
// needs X Y_i < B^N in MULT (N the number of cells) and, shifted up by i - d
// cells, X Y_i < B^(N - i + d). As B^hx <= X < B^(hx+1), a bound above
// B^(hx+1) always holds and one below never does; only the passes with the
// bound B^(hx+1) itself (i <= d when hx is the top cell, else i = d + N - 1 -
// hx) need X's cells, which a walk settles.
std::int64_t first_failing_pass(const Cells& X, const Cells& Y, Walks& walks, const char*& name) {
  const std::int64_t N = ncells();
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t hx = X.s.hi;
  const std::int64_t icrit = d + (N - 1 - hx);
  const auto reaches_top = [&](u64 b) {  // X b >= B^(hx+1)
    const u128 xtop = X[hx];
    if ((xtop + 1) * b <= kB) return false;  // X b < (X_hx + 1) b B^hx <= B^(hx+1)
    return xtop * b >= kB || walks.reaches(hx + 1, b, 1);
  };
  name = "LONGMULT";
  if (hx == N - 1) {  // icrit = d: each pass up to d may fail in MULT
    for (std::int64_t i = Y.s.lo; i <= std::min(Y.s.hi, d); ++i)
      if (reaches_top(Y[i])) {
        name = "MULT";
        return i;
      }
  } else if (icrit <= Y.s.hi && reaches_top(Y[icrit])) {
    return icrit;  // fits in MULT (X Y_i < B^(hx+2) <= B^N), not once shifted
  }
  for (std::int64_t i = std::max(icrit + 1, Y.s.lo); i <= Y.s.hi; ++i)
    if (Y[i] != 0) {
      if (hx == N - 1 && reaches_top(Y[i])) name = "MULT";
      return i;
    }
  return -1;
}

// The truncated passes i < d: with k = d - i, A_i = (X_(k-1) B + X_(k-2)) Y_i
// and L_i = (X mod B^(k-2)) Y_i / B^(k-2) in [0, Y_i), the share of the cells
// below k - 2, f_i B^2 = a_i + L_i - B^2 w_i with a_i = A_i mod B^2 and w_i = 1
// when a_i + L_i >= B^2. Only a_i > B^2 - Y_i can wrap, and it does when
// floor(L_i) >= B^2 - a_i, which a walk settles.
struct FracParts {
  i128 sumA = 0;           // sum of a_i
  i128 sumY = 0;           // sum of Y_i: sum of L_i is below it
  std::int64_t wraps = 0;  // sum of w_i
};

// The parts of the passes i < d. With x1 b = q1 B + r1 and x2 b = q2 B + r2
// (x1, x2 the cells k - 1 and k - 2 of X, b = Y_i), a_i = h B + r2 with
// h = (r1 + q2) mod B; all of it in 64-bit products. As r2 + b < 2B, a_i + b
// can pass B^2 only when h = B - 1 and r2 + b > B; then B^2 - a_i = B - r2.
// Returns whether pass i may wrap.
inline bool pass_parts(const Cells& X, u64 b, std::int64_t k, u64& h, u64& r2) {
  u64 r1 = 0;
  mul_divmod_base(X[k - 1], b, r1);
  h = r1 + mul_divmod_base(X[k - 2], b, r2);
  h -= kB & (u64{0} - static_cast<u64>(h >= kB));  // as often as not: no branch
  return (h == kB - 1) & (r2 + b > kB);
}

// The sums of h, r2 and b over the passes lo .. hi, with the passes that may
// wrap listed from may[s.nmay] on: rare without a pattern, every third pass
// for X = 1/3, and listed without a branch to mispredict.
struct PassSums {
  u128 h = 0, r = 0, y = 0;
  std::int64_t nmay = 0;
};
void add_passes(const Cells& X, const cell_t* Y, std::int64_t d, std::int64_t lo, std::int64_t hi, PassSums& s,
                std::int64_t* may) {
  for (std::int64_t i = lo; i <= hi; ++i) {
    const auto b = static_cast<u64>(Y[i]);  // b = 0 adds nothing and cannot wrap
    u64 h = 0, r2 = 0;
    const bool wraps = pass_parts(X, b, d - i, h, r2);
    s.h += h;
    s.r += r2;
    s.y += b;
    may[s.nmay] = i;
    s.nmay += static_cast<std::int64_t>(wraps);
  }
}

// The passes that may wrap, a place for each pass of a run of at most
// kFracRun, kept across calls.
constexpr std::int64_t kFracRun = std::int64_t{1} << 16;
thread_local std::vector<std::int64_t> listed;

// The passes lo .. hi, listed from may on: on the vector units the passes
// whose cells of X lie within its span a vector at a time, the others one by one.
void run_passes(const Cells& X, const cell_t* Y, std::int64_t lo, std::int64_t hi, PassSums& s, std::int64_t* may) {
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t vlo = std::max(lo, d - 1 - X.s.hi), vhi = std::min(hi, d - 2 - X.s.lo);
  if (const VectorKernels* v = longmult_units.vector; v != nullptr && vlo <= vhi) {
    add_passes(X, Y, d, lo, vlo - 1, s, may);
    const std::int64_t from = s.nmay;
    u64 sums[3] = {};
    lo = vlo + v->frac_sums(X.c + (d - vlo - 1), Y + vlo, vhi - vlo + 1, sums, may, s.nmay);
    for (std::int64_t w = from; w < s.nmay; ++w) may[w] += vlo;
    s.h += sums[0], s.r += sums[1], s.y += sums[2];
  }
  add_passes(X, Y, d, lo, hi, s, may);
}

// The passes i .. last in two halves, the first listed at `low`, the second
// at `high`; then a walk settles each pass that may wrap.
class FracRun {
 public:
  FracRun(const Cells& X, const Cells& Y, std::int64_t i, std::int64_t last)
      : X_(X), Y_(Y), i_(i), last_(last), mid_(i + (last - i + 1) / 2) {
    low_ = sized(listed, last - i + 1), high_ = low_ + (mid_ - i);
  }
  void operator()(int t) noexcept {
    t == 0 ? run_passes(X_, Y_.c, mid_, last_, halves_[0], high_)
           : run_passes(X_, Y_.c, i_, mid_ - 1, halves_[1], low_);
  }
  // Halves side by side from pair_passes: a run's halves are worth their own fork and join from
  // some thousands of passes on the vector units.
  bool paired() const { return last_ - i_ + 1 >= tuning(longmult_units).pair_passes; }
  void add_to(FracParts& f, Walks& walks) const {
    const std::int64_t d = -std::int64_t{decimals};
    const auto walk = [&](std::int64_t j) {
      const std::int64_t k = d - j;
      const auto b = static_cast<u64>(Y_.c[j]);
      u64 r2 = 0;
      mul_divmod_base(X_[k - 2], b, r2);
      if (k - 2 > X_.s.lo) f.wraps += walks.reaches(k - 2, b, static_cast<i128>(kB - r2)) ? 1 : 0;  // else L_i = 0
    };
    for (std::int64_t w = 0; w < halves_[1].nmay; ++w) walk(low_[w]);
    for (std::int64_t w = 0; w < halves_[0].nmay; ++w) walk(high_[w]);
    f.sumA += static_cast<i128>((halves_[0].h + halves_[1].h) * kB + halves_[0].r + halves_[1].r);
    f.sumY += static_cast<i128>(halves_[0].y + halves_[1].y);
  }

 private:
  const Cells &X_, &Y_;
  std::int64_t i_, last_, mid_;
  std::int64_t *low_, *high_;
  PassSums halves_[2];
};

// The parts of the passes i < d, in runs of kFracRun, so that their list stays short (512 KiB at
// most); runs of 2^16 passes, in halves from pair_passes, took 4% less time than runs of 2^12 in
// halves from 500 with sqrt(2) at 10^7 decimals. A single run rides on the product's first fork
// (forkjoin::Rider), a half after each thread's part of the product, and is finished when its
// parts are asked for; longer ones are summed at once. The product must not write the cells of X
// or Y (Z is neither).
class FracPasses {
 public:
  FracPasses(const Cells& X, const Cells& Y, Walks& walks) : walks_(walks) {
    const std::int64_t last = std::min(Y.s.hi, -std::int64_t{decimals} - 1);
    if (last < Y.s.lo) return;
    if (last - Y.s.lo < kFracRun) {
      run_.emplace(X, Y, Y.s.lo, last);
      rider_.emplace(*run_);
      return;
    }
    for (std::int64_t i = Y.s.lo; i <= last; i += kFracRun) {
      FracRun run(X, Y, i, std::min(last, i + kFracRun - 1));
      forkjoin::run_pair(run, run.paired());
      run.add_to(f_, walks_);
    }
  }
  const FracParts& parts() {
    if (rider_) {
      rider_->finish(run_->paired());
      run_->add_to(f_, walks_);
      rider_.reset();
    }
    return f_;
  }

 private:
  Walks& walks_;
  FracParts f_;
  std::optional<FracRun> run_;
  std::optional<forkjoin::Rider> rider_;
};

// Y = B^(hy+1) - E with E short, as for 0.99999...: a run of at least
// kComplementRun cells of 10^10 - 1 from Y's top down, and E at most a quarter
// of Y's length. E's cells are B - Y_lo at Y's lowest cell lo and
// B - 1 - Y_i above it, up to the run. Returns E's span, empty when Y is not so.
Span complement_span(const Cells& Y) {
  std::int64_t r = Y.s.hi;
  while (r >= Y.s.lo && Y.c[r] == kBase - 1) --r;
  const Span e{Y.s.lo, std::max(r, Y.s.lo)};
  if (Y.s.hi - r < kComplementRun || 4 * e.size() > Y.s.size()) return {0, -1};
  return e;
}

// acc := X Y, its cells from acc.base up (n cells, to the top), as
// X B^(hy+1) - X E for Y = B^(hy+1) - E, E's cells in E_span; the cells below
// acc.base, from X_lo + E_lo up, only carry their borrow. False if that came
// out negative, which cannot happen. X E is made a chunk of X at a time into
// a window of its columns from the chunk's first: those below the next chunk
// are then final, and the rest moves down. A chunk and E make a product of
// 2^k columns, 2^k >= 2 |E| and at least 2^10, so that E's transform
// serves every chunk and the product's buffers stay a few times E's length,
// not X's (at 10^8 decimals X E took 85 MiB whole, and transforms of 2^24
// entries). E and the window are freed at the end, before longer products.
bool product_by_complement(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, Span e) {
  const std::int64_t ne = e.size();
  std::vector<cell_t> complement;
  std::vector<u64> window;
  const Cells E{sized(complement, ne), {0, ne - 1}};  // E's cells from e.lo
  complement[0] = kBase - Y.c[e.lo];
  for (std::int64_t i = e.lo + 1; i <= e.hi; ++i) complement[static_cast<std::size_t>(i - e.lo)] = kBase - 1 - Y.c[i];
  std::int64_t L = std::int64_t{1} << 10;
  while (L < 2 * ne) L *= 2;
  const std::int64_t K = L - ne + 1;  // a chunk's cells
  // The buffers of the longest products, left from those before, are freed
  // where they are 4 times the chunks' or more, and of 2^22 entries or more.
  if (std::bit_ceil(static_cast<u64>(X.s.size() + ne)) >= static_cast<u64>(std::max(4 * L, std::int64_t{1} << 22)))
    ntt::release_buffers();
  const std::int64_t W = K + ne + 3;  // a chunk times E, and its carries
  u64* w = zeroed(window, static_cast<std::size_t>(W));
  const std::int64_t shift = Y.s.hi + 1, end = acc.base + n;
  i128 borrow = 0;
  std::int64_t c = X.s.lo + e.lo;  // the next column, of X Y; c - e.lo of X E
  for (std::int64_t a = X.s.lo;; a += K) {
    const bool last = a + K > X.s.hi;
    Acc p{w, a};
    add_product(p, E, {X.c, {a, std::min(a + K - 1, X.s.hi)}}, 0);
    for (const std::int64_t stop = last ? end : a + K + e.lo; c < stop; ++c) {
      const i128 t =
          static_cast<i128>(X[c - shift]) - borrow - static_cast<i128>(c - e.lo < a + W ? w[c - e.lo - a] : 0);
      borrow = t < 0 ? 1 : 0;
      if (c >= acc.base) acc[c] = static_cast<u64>(t + borrow * kB);
    }
    if (last) break;
    std::memmove(w, w + K, static_cast<std::size_t>(W - K) * sizeof(u64));
    std::memset(w + (W - K), 0, static_cast<std::size_t>(K) * sizeof(u64));
  }
  return borrow == 0;
}

// The memo of a product (arith.h). With H(U, V) the columns from cut up of
// U V (the pairs U_j V_i with i + j >= cut), which is linear in each
// factor, and each operand split at cell k into its cells from k up and
// those below (X = Xh + Xl), the kept product is
//   H(X, Y) = H(Xh, Yh) + H(Xh, Yl) + H(Xl, Y).
// Operands X', Y' with the same cells from k up have Xh' = Xh, Yh' = Yh, so
//   H(X', Y') = H(X, Y) - T + U,  T = H(Xl, Y) + H(Xh, Yl),  U = H(Xl', Y') + H(Xh, Yl').
// Each of the four pairs k cells of one operand with the cells of the other
// that reach column cut with them, those above cut - k: some k + 3 for the
// operands of a fraction below 10 (cut = d - 2); four products of about k
// cells a side, and sums over the low cells of H with a carry above them.

// A memo serves operands that differ from its own below this share of the product's cells only.
constexpr std::int64_t kMemoShare = 8;

// The cells lo .. hi of c trimmed to nonzero ends (empty where all are zero).
Cells part(const cell_t* c, std::int64_t lo, std::int64_t hi) {
  while (lo <= hi && c[lo] == 0) ++lo;
  while (hi >= lo && c[hi] == 0) --hi;
  return {c, {lo, hi}};
}

// One more than the highest cell at which now differs from the kept cells,
// which end where it does; 0 where none does.
std::int64_t differs_below(const Cells& now, const std::vector<cell_t>& kept) {
  constexpr std::int64_t kRun = 64;
  std::int64_t i = now.s.hi + 1;
  while (i >= kRun && std::memcmp(now.c + (i - kRun), kept.data() + (i - kRun), kRun * sizeof(cell_t)) == 0) i -= kRun;
  while (i > 0 && now.c[i - 1] == kept[static_cast<std::size_t>(i - 1)]) --i;
  return i;
}

// The column sums for T or U into t cells from base: H(xl, y) + H(xh, yl).
thread_local std::vector<u64> memoT, memoU;
const u64* memo_terms(std::vector<u64>& v, std::int64_t base, std::int64_t t, const Cells& xl, const Cells& y,
                      const Cells& xh, const Cells& yl, std::int64_t cut) {
  Acc a{zeroed(v, static_cast<std::size_t>(t)), base};
  if (!xl.s.empty() && !y.s.empty()) add_product(a, xl, y, cut);
  if (!xh.s.empty() && !yl.s.empty()) add_product(a, xh, yl, cut);
  return a.cell;
}

// acc := H(X, Y) from the memo's product where it serves (kServed), which
// then keeps X and Y.
enum class Memo { kServed, kNot, kUnexpected };
Memo from_memo(ProductMemo& m, Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, std::int64_t cut) {
  if (!m.kept || m.decimals != decimals || m.base != acc.base || m.n != n ||
      static_cast<std::int64_t>(m.x.size()) != X.s.hi + 1 || static_cast<std::int64_t>(m.y.size()) != Y.s.hi + 1)
    return Memo::kNot;
  const std::int64_t k = std::max(differs_below(X, m.x), differs_below(Y, m.y));
  if (kMemoShare * k > n) return Memo::kNot;
  u64* h = m.sums.data();
  if (k > 0) {
    // T and U lie below cell max(hx, hy) + k + 2, with the carries of their
    // sums. An operand shorter than k is low cells only.
    const std::int64_t t = std::min(n, std::max(X.s.hi, Y.s.hi) + k + 5 - acc.base);
    const std::int64_t kx = std::min(k, X.s.hi + 1), ky = std::min(k, Y.s.hi + 1);
    const Cells xh = part(X.c, k, X.s.hi);
    const u64* T = memo_terms(memoT, acc.base, t, part(m.x.data(), 0, kx - 1), part(m.y.data(), 0, Y.s.hi), xh,
                              part(m.y.data(), 0, ky - 1), cut);
    const u64* U = memo_terms(memoU, acc.base, t, part(X.c, 0, kx - 1), Y, xh, part(Y.c, 0, ky - 1), cut);
    std::int64_t carry = 0;  // -1, 0 or 1
    for (std::int64_t i = 0; i < n && (i < t || carry != 0); ++i) {
      const std::int64_t v = static_cast<std::int64_t>(h[i]) + carry +
                             (i < t ? static_cast<std::int64_t>(U[i]) - static_cast<std::int64_t>(T[i]) : 0);
      carry = v < 0 ? -1 : v >= static_cast<std::int64_t>(kB) ? 1 : 0;
      h[i] = static_cast<u64>(v - carry * static_cast<std::int64_t>(kB));
    }
    if (carry != 0) {  // cannot happen: H(X', Y') fits in the n cells
      m.kept = false;
      return Memo::kUnexpected;
    }
    std::copy_n(X.c, kx, m.x.begin());
    std::copy_n(Y.c, ky, m.y.begin());
  }
  std::copy_n(h, n, acc.cell);
  ++longmult_memo_served;
  return Memo::kServed;
}

// X Y from the columns from d - 2 up, for J by the cancellation of the L_i:
// (Q - Z) B^2 = sumA - R - B^2 wraps. Fills acc (n cells from acc.base);
// returns J (of either sign), or nothing when it cannot be had. With a memo,
// from its product where that serves, and kept in it.
std::optional<i128> product_high(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, FracPasses& passes,
                                 ProductMemo* memo, bool yNext) {
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t cut = std::max<std::int64_t>(d - 2, 0);
  const Memo served = memo != nullptr ? from_memo(*memo, acc, n, X, Y, cut) : Memo::kNot;
  if (served == Memo::kUnexpected) return std::nullopt;
  if (served == Memo::kNot) {
    yNext ? add_product(acc, Y, X, cut) : add_product(acc, X, Y, cut);  // the columns of Y X are those of X Y
    if (memo != nullptr) {
      if (!memo->freed) ntt::release_buffers();
      memo->freed = true;
      memo->x.assign(X.c, X.c + X.s.hi + 1);
      memo->y.assign(Y.c, Y.c + Y.s.hi + 1);
      memo->sums.assign(acc.cell, acc.cell + n);
      memo->base = acc.base, memo->n = n, memo->decimals = decimals, memo->kept = true;
    }
  }
  const FracParts& f = passes.parts();
  if (d == 0) return 0;
  const i128 R = static_cast<i128>(acc.get(d - 1, n)) * kB + acc.get(d - 2, n);
  const i128 diff = f.sumA - R;
  if (diff % kB2 != 0) return std::nullopt;  // cannot happen
  return diff / kB2 - f.wraps;
}

// X Y exactly, for J from bounds: with V B^2 = Q B^2 + R + phi, phi in
// [0, 1), J B^2 = sum f_i B^2 - R - phi lies in (lo - R - 1, hi - R], where
// lo = sumA - B^2 wraps and hi = lo + sumY, and that holds one multiple of
// B^2. Returns J, or nothing.
std::optional<i128> product_exact(Acc& acc, std::int64_t n, const Cells& X, const Cells& Y, Span e,
                                  FracPasses& passes) {
  const std::int64_t d = -std::int64_t{decimals};
  if (!product_by_complement(acc, n, X, Y, e)) return std::nullopt;
  const FracParts& f = passes.parts();
  const i128 R = static_cast<i128>(acc.get(d - 1, n)) * kB + acc.get(d - 2, n);
  const i128 lo = f.sumA - kB2 * f.wraps;
  const i128 hi = lo + f.sumY;
  if (hi - lo + 1 > kB2 || hi < R) return std::nullopt;
  return (hi - R) / kB2;
}

// Z := Q - J, Q the cells of acc from column d up, and Z's top as the
// reference's last ADD leaves it. J may have either sign: a wrap makes the
// truncated partial products exceed Q. acc has two spare cells above the
// product, so a carry always fits. kOverflow when Z reaches above `limit`,
// where the reference meets ALARM("ADD") (its running sum only grows).
Settled store_product(Reg& Z, Acc& acc, std::int64_t n, bool inZ, i128 J) {
  const std::int64_t N = ncells();
  const std::int64_t d = -std::int64_t{decimals};
  const std::int64_t first = std::max(d, acc.base);  // the lowest column kept in Z
  const std::int64_t end = acc.base + n;
  if (J != 0 && (J <= -static_cast<i128>(kB) || J >= static_cast<i128>(kB) || first != d))
    return Settled::kUnexpected;                // no truncated pass above d, or J beyond a cell
  for (std::int64_t c = first; J != 0; ++c) {   // acc -= J from column d up
    if (c >= end) return Settled::kUnexpected;  // Q < J cannot happen
    const i128 v = static_cast<i128>(acc[c]) - J;
    J = v < 0 ? -((-v + kB - 1) / kB) : v / kB;  // floor(v / B), carried as -J
    J = -J;
    acc[c] = static_cast<u64>(v + J * static_cast<i128>(kB));
  }
  std::int64_t last = end - 1;
  while (last >= first && acc[last] == 0) --last;
  if (last - d >= N) return Settled::kOverflow;
  if (!inZ) {
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    if (last >= first)
      std::memcpy(Z.cells + (first - d), &acc[first], static_cast<std::size_t>(last - first + 1) * sizeof(u64));
  }
  const std::int64_t hz = last >= first ? last - d : 0;
  Z.top = static_cast<std::int32_t>(decimals + hz);
  return Settled::kDone;
}

// Z := the sum of the passes of Y's cells, none of which alarms.
Settled sum_passes(const Cells& x, const Cells& y, Reg& Z, Walks& walks, ProductMemo* memo, bool yNext) {
  const std::int64_t N = ncells();
  const std::int64_t d = -std::int64_t{decimals};
  FracPasses passes(x, y, walks);
  const Span e = y.s.size() >= kComplementRun ? complement_span(y) : Span{0, -1};
  // X Y < B^(hx+hy+2); two more cells take the last carries of each block pair.
  const std::int64_t base = std::max(std::max<std::int64_t>(d - 2, 0), x.s.lo + (e.empty() ? y.s.lo : e.lo));
  const std::int64_t n = std::max<std::int64_t>(x.s.hi + y.s.hi + 4 - base, 0);
  u64 local[kLocalCells];
  // Room in Z and its guard cells.
  const bool inZ = base >= d - kGuardCells && base - d + n <= N + kGuardCells;
  Acc acc{inZ                ? reinterpret_cast<u64*>(Z.cells) + (base - d)
          : n <= kLocalCells ? local
                             : zeroed(sums, static_cast<std::size_t>(n)),
          base};
  if (inZ) {  // Z's cells above its top are zero: those up to it or to the product's last, and the guards
    const std::int64_t top = std::clamp<std::int64_t>(std::int64_t{Z.top} - decimals, -1, N - 1);
    const auto cells = static_cast<std::size_t>(std::max(top + 1, base - d + n) + kGuardCells);
    std::memset(Z.cells - kGuardCells, 0, cells * sizeof(cell_t));
    std::memset(Z.cells + N, 0, kGuardCells * sizeof(cell_t));
  } else if (n <= kLocalCells) {
    std::memset(local, 0, static_cast<std::size_t>(n) * sizeof(u64));
  }
  const std::optional<i128> J =
      e.empty() ? product_high(acc, n, x, y, passes, memo, yNext) : product_exact(acc, n, x, y, e, passes);
  if (!J) return Settled::kUnexpected;
  return store_product(Z, acc, n, inZ, *J);
}

}  // namespace

std::array<std::uint64_t, kDeclineKinds> longmult_declines{};
std::uint64_t longmult_walk_cells = 0;
std::uint64_t longmult_memo_served = 0;

bool LONGMULT_fast(const Reg& X, const Reg& Y, Reg& Z, ProductMemo* memo, bool yNext) {
  const std::int64_t N = ncells();
  if (N == 0) return decline(Decline::kRun);
  // The reference allocates a scratch register first; that may be what fails.
  if ((N + 2 * kGuardCells) * static_cast<std::int64_t>(sizeof(cell_t)) > register_budget() - register_bytes_in_use())
    return decline(Decline::kMemory);
  if (Y.top < decimals) {  // no pass: zero with top 0
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    Z.top = 0;
    return true;
  }
  const Cells x = cells_of(X);
  const Cells y = cells_of(Y);
  if (x.s.empty() || y.s.empty()) {  // passes of zero partial products
    std::memset(Z.cells, 0, N * sizeof(cell_t));
    Z.top = decimals;
    return true;
  }
  Walks walks(x);
  // The passes below the first that fails; if their sum does not fit, the
  // reference meets ALARM("ADD") before that pass.
  const char* name = nullptr;
  const std::int64_t failing = first_failing_pass(x, y, walks, name);
  Cells below = y;
  if (failing >= 0)
    for (below.s.hi = failing - 1; below.s.hi >= below.s.lo && y.c[below.s.hi] == 0;) --below.s.hi;
  const Settled settled = below.s.empty() ? Settled::kDone : sum_passes(x, below, Z, walks, memo, yNext);
  if (settled == Settled::kUnexpected) return decline(Decline::kUnexpected);
  if (settled == Settled::kOverflow) ALARM("ADD");
  if (failing >= 0) ALARM(name);
  return true;
}
