// SQRT: each pass improves the reciprocal y by Newton's step y(2 - xy) and the
// root x by Heron's step (x + vy)/2, so no long division is needed.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "../arith/divisor.h"
#include "funcs.h"

namespace {

// One pass. It reads R, Y and M only: S1 and S2 are written before they are
// read. Afterwards S1 = Y (cells and top) and S2 = S1 * M.
void sqrt_pass(Reg& R, Reg& Y, const Reg& M, Reg& S1, Reg& S2) {
  LONGMULT(R, Y, S1);   // x*y
  ASSIGN(S2, 2);
  ADD(S1, -1, S2);      // 2 - x*y
  LONGMULT(Y, S2, S1);  // new y
  LONGMULT(S1, M, S2);  // v * new y
  COPY(S1, Y);
  ADD(S2, +1, R);
  DIV(R, 2);
}

// The states (cells and tops of R and Y) after the passes so far: the latest
// state in full and, for the recent passes, the cells each pass changed with
// their former values, so that a recent state can be compared with the latest
// exactly. The early passes of the transient change nearly every cell; their
// records are dropped once the record outgrows a register's worth of
// changes, and only the states after them can still be compared. Each state
// has a hash, a sum over its cells, updated from the changes.
class PassHistory {
 public:
  PassHistory(const Reg& R, const Reg& Y) : n_(ncells()), latest_(2 * n_), seen_(2 * n_, 0) {
    for (std::int64_t i = 0; i < n_; ++i) {
      latest_[i] = R.cells[i];
      latest_[n_ + i] = Y.cells[i];
      hash_ += mix(i, R.cells[i]) + mix(n_ + i, Y.cells[i]);
    }
    add_state(R, Y);
  }

  // Records the state after one more pass. Returns the index of an earlier
  // state equal to it, or -1.
  std::int64_t record(const Reg& R, const Reg& Y) {
    note(R.cells, 0);
    note(Y.cells, n_);
    const std::int64_t now = add_state(R, Y);
    forget_early(now);
    auto [first, last] = byHash_.equal_range(hashes_[now]);
    for (auto it = first; it != last; ++it) {
      const std::int64_t i = it->second;
      if (i != now && i >= firstKept_ && equal_to_latest(i, now)) return i;
    }
    return -1;
  }

 private:
  struct Change {
    std::int64_t pos;  // R's cells at 0..n-1, Y's at n..2n-1
    cell_t old;
  };

  static u64 mix(std::int64_t pos, cell_t v) {  // splitmix64 of (position, cell)
    u64 z = static_cast<u64>(v) + static_cast<u64>(pos) * 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

  void note(const cell_t* cells, std::int64_t offset) {
    for (std::int64_t i = 0; i < n_; ++i) {
      cell_t& was = latest_[offset + i];
      if (cells[i] == was) continue;
      changes_.push_back({offset + i, was});
      hash_ += mix(offset + i, cells[i]) - mix(offset + i, was);
      was = cells[i];
    }
  }

  std::int64_t add_state(const Reg& R, const Reg& Y) {
    const auto index = static_cast<std::int64_t>(hashes_.size());
    const u64 h = hash_ + mix(-1, R.top) + mix(-2, Y.top);
    hashes_.push_back(h);
    begin_.push_back(dropped_ + changes_.size());
    rTop_.push_back(R.top);
    yTop_.push_back(Y.top);
    byHash_.emplace(h, index);
    return index;
  }

  // Drops the changes of the oldest passes while more than n are kept.
  void forget_early(std::int64_t now) {
    std::size_t cut = 0;
    while (changes_.size() - cut > static_cast<std::size_t>(n_) && firstKept_ < now) {
      ++firstKept_;
      cut = begin_[firstKept_] - dropped_;
    }
    if (cut == 0) return;
    changes_.erase(changes_.begin(), changes_.begin() + static_cast<std::ptrdiff_t>(cut));
    dropped_ += cut;
  }

  // State i equals state `now` when the tops agree and every cell changed
  // since state i is back at its value in state i: that value is the former
  // value of its first change after state i.
  bool equal_to_latest(std::int64_t i, std::int64_t now) {
    if (rTop_[i] != rTop_[now] || yTop_[i] != yTop_[now]) return false;
    ++stamp_;
    for (std::size_t c = begin_[i] - dropped_; c < changes_.size(); ++c) {
      const Change& ch = changes_[c];
      if (seen_[ch.pos] == stamp_) continue;
      seen_[ch.pos] = stamp_;
      if (ch.old != latest_[ch.pos]) return false;
    }
    return true;
  }

  std::int64_t n_;
  std::vector<cell_t> latest_;
  std::vector<Change> changes_;     // changes made after state firstKept_
  std::size_t dropped_ = 0;         // changes dropped before changes_[0]
  std::vector<std::size_t> begin_;  // begin_[i]: number of changes made up to state i
  std::int64_t firstKept_ = 0;
  std::vector<u64> hashes_;
  std::vector<std::int32_t> rTop_;
  std::vector<std::int32_t> yTop_;
  std::unordered_multimap<u64, std::int64_t> byHash_;
  std::vector<std::uint32_t> seen_;
  std::uint32_t stamp_ = 0;
  u64 hash_ = 0;
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
  ASSIGN(M, v);
  ASSIGN(R, std::sqrt(v));
  // sqrt(0) has no finite reciprocal: start y at zero, so every pass keeps
  // the root at zero, as for the roots of negative values (NaN loads as zero).
  ASSIGN(Y, v == 0 ? 0.0 : 1 / std::sqrt(v));
  const std::int64_t passes = std::int64_t{std::max(R.top, Y.top)} - decimals + 1;
  if (use_reference_kernels) {
    for (std::int64_t k = 0; k < passes; ++k) sqrt_pass(R, Y, M, S1, S2);
    return;
  }
  if (passes <= 0) return;
  PassHistory history(R, Y);
  for (std::int64_t done = 0; done < passes;) {
    sqrt_pass(R, Y, M, S1, S2);
    ++done;
    const std::int64_t earlier = history.record(R, Y);
    if (earlier < 0) continue;
    const std::int64_t rest = (passes - done) % (done - earlier);
    for (std::int64_t k = 0; k < rest; ++k) sqrt_pass(R, Y, M, S1, S2);
    return;
  }
}
