// SQRT: each pass improves the reciprocal y by Newton's step y(2 - xy) and the
// root x by Heron's step (x + vy)/2, so no long division is needed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "funcs/funcs.h"
#include "io.h"

namespace {

// Whether 2 - xy in S2 is 1 + e or 1 - e with e within the lowest eighth of
// the fraction cells: then x and y have settled above those cells, and the
// next pass changes them below only, as a rule.
bool near_one(const Reg& S2) {
  const std::int64_t d = -std::int64_t{decimals};
  if (d < 8 || d >= ncells() || S2.cells[d] > 1) return false;
  const cell_t run = S2.cells[d] == 1 ? 0 : kBase - 1;  // 1.000... or 0.999...
  for (std::int64_t i = d - 1; i >= d / 8; --i)
    if (S2.cells[i] != run) return false;
  return true;
}

// One pass. It reads R, Y and M only: S1 and S2 are written before they are
// read. Afterwards S1 = Y (cells and top) and S2 = S1 * M. With a memo, x*y
// follows from the one before where x and y changed in their lowest cells
// only. Returns whether the passes have settled (near_one), for the next.
// (x*y made as y*x keeps y's transform for y(2 - xy): 6% at 10^7 decimals.)
bool sqrt_pass(Reg& R, Reg& Y, const Reg& M, Reg& S1, Reg& S2, ProductMemo* memo) {
  LONGMULT(R, Y, S1, memo, true);  // x*y; y is the first factor of the next
  ASSIGN(S2, 2);
  ADD(S1, -1, S2);  // 2 - x*y
  const bool settled = near_one(S2);
  LONGMULT(Y, S2, S1);  // new y
  LONGMULT(S1, M, S2);  // v * new y
  COPY(S1, Y);
  ADD(S2, +1, R);
  DIV(R, 2);
  return settled;
}

// The states (the cells and tops of R and Y) after the passes, known by a
// hash of each. Equal states have equal hashes, so the first repeat of a
// state, at pass t + p for passes periodic from pass t with period p, shows
// as a hash seen p passes before. That state is then kept whole, and the
// period is confirmed when the state p passes later equals it cell by cell:
// by pass t + 2p, whatever p is. In a square root such as that of 9 every
// pass rewrites every cell (3.000...01 and 2.999...98 alternate), so only a
// whole state can be compared, not a record of changes. A hash that meets an
// unequal state costs p passes of waiting and nothing else.
class PassHistory {
 public:
  PassHistory() : n_(ncells()) {}

  // Records the state after pass `done` (counted from 1). Returns the number
  // of an earlier pass that ended in the same state, or -1.
  std::int64_t record(std::int64_t done, const Reg& R, const Reg& Y) {
    if (done == confirmAt_) {
      confirmAt_ = -1;
      if (R.top == rTop_ && Y.top == yTop_ && std::equal(R.cells, R.cells + n_, cells_.data()) &&
          std::equal(Y.cells, Y.cells + n_, cells_.data() + n_))
        return taken_;
    }
    const auto [it, fresh] = seen_.emplace(hash(R, Y), done);
    if (fresh || confirmAt_ >= 0) return -1;
    cells_.resize(2 * static_cast<std::size_t>(n_));  // first needed here, once the passes have settled
    std::copy_n(R.cells, n_, cells_.data());
    std::copy_n(Y.cells, n_, cells_.data() + n_);
    rTop_ = R.top;
    yTop_ = Y.top;
    taken_ = done;
    confirmAt_ = 2 * done - it->second;
    it->second = done;
    return -1;
  }

 private:
  // Four chains of products side by side, each over every fourth cell: one
  // chain alone waits on its product at every cell.
  std::uint64_t hash(const Reg& R, const Reg& Y) const {
    constexpr std::uint64_t kPrime = 0x100000001B3u;
    std::uint64_t h0 = static_cast<std::uint64_t>(R.top) * 0x9E3779B97F4A7C15u ^ static_cast<std::uint32_t>(Y.top);
    std::uint64_t h1 = 1, h2 = 2, h3 = 3;
    for (const Reg* r : {&R, &Y}) {
      const auto c = [r](std::int64_t i) { return static_cast<std::uint64_t>(r->cells[i]); };
      std::int64_t i = 0;
      for (; i + 4 <= n_; i += 4) {
        h0 = (h0 ^ c(i)) * kPrime, h1 = (h1 ^ c(i + 1)) * kPrime;
        h2 = (h2 ^ c(i + 2)) * kPrime, h3 = (h3 ^ c(i + 3)) * kPrime;
      }
      for (; i < n_; ++i) h0 = (h0 ^ c(i)) * kPrime;
    }
    return ((h0 * 31 + h1) * 31 + h2) * 31 + h3;
  }

  std::int64_t n_;
  std::vector<cell_t> cells_;  // the kept state: R's cells, then Y's
  std::int32_t rTop_ = 0;
  std::int32_t yTop_ = 0;
  std::int64_t taken_ = 0;                                // the pass of the kept state
  std::int64_t confirmAt_ = -1;                           // the pass that should repeat it
  std::unordered_map<std::uint64_t, std::int64_t> seen_;  // hash -> latest pass
};

}  // namespace

// The number of passes is one per cell from the higher initial top down. After
// a transient the state (the cells and tops of R and Y) repeats: once the state
// after pass j equals the state after pass i < j, every later pass repeats the
// one p = j - i passes before it, so whole periods of passes are skipped and
// only the remaining (passes - j) mod p are run. R, S1 and S2 end as after all
// the passes: the last pass run ends in the same state as the last pass, and
// S1 and S2 after a pass follow from the state it ends in.
void SQRT(Reg& R, Reg& S1, Reg& S2, double v) {
  Reg M;
  Reg Y;
  ASSIGN(M, v, true);  // short: most of its cells are never touched
  ASSIGN(R, std::sqrt(v));
  // sqrt(0) has no finite reciprocal: start y at zero, so every pass keeps
  // the root at zero, as for the roots of negative values (NaN loads as zero).
  ASSIGN(Y, v == 0 ? 0.0 : 1 / std::sqrt(v));
  const std::int64_t passes = std::int64_t{std::max(R.top, Y.top)} - decimals + 1;
  progress_stage("sqrt pass", passes);
  if (use_reference_kernels) {
    for (std::int64_t k = 0; k < passes; ++k) sqrt_pass(R, Y, M, S1, S2, nullptr);
    return;
  }
  if (passes <= 0) return;
  PassHistory history;
  ProductMemo memo;  // from the first pass that follows a settled one
  bool settled = false;
  for (std::int64_t done = 0; done < passes;) {
    settled = sqrt_pass(R, Y, M, S1, S2, settled ? &memo : nullptr);
    ++done;
    progress_step(done);
    const std::int64_t earlier = history.record(done, R, Y);
    if (earlier < 0) continue;
    const std::int64_t rest = (passes - done) % (done - earlier);
    for (std::int64_t k = 0; k < rest; ++k) settled = sqrt_pass(R, Y, M, S1, S2, settled ? &memo : nullptr);
    return;
  }
}
