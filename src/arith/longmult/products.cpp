// The splitting of operands into blocks at long runs of zero cells, each block pair multiplied as
// its plan says (plan.cpp).
#include <algorithm>

#include "arith/longmult/plan.h"
#include "arith/longmult/products.h"

namespace longmult {
namespace {

// Runs of at least kGap zero cells split an operand into at most kMaxBlocks
// blocks, multiplied pair by pair (as for 1 + 10^-k times a long number).
constexpr std::int64_t kGap = 32;
constexpr int kMaxBlocks = 4;
constexpr std::int64_t kSplitSize = 2 * kGap + 2;  // shorter spans stay whole

// Splits s at runs of at least kGap zero cells within it, at the longest such runs when there are
// more than kMaxBlocks - 1; s may end in zeros (a chunk of a factor), which no run at its ends
// splits off. Returns the number of blocks.
int split_blocks(const Cells& R, Span* out) {
  const Span s = R.s;
  if (s.size() < kSplitSize) return out[0] = s, 1;
  Span gaps[kMaxBlocks];  // zero runs, longest first
  int ng = 0;
  // A run of kGap zeros holds a multiple of kGap: only those places are read,
  // and a run found there is followed both ways to nonzero cells or s's ends.
  for (std::int64_t p = (s.lo + kGap - 1) / kGap * kGap; p <= s.hi; p += kGap) {
    if (R.c[p] != 0) continue;
    Span g{p, p};
    while (g.lo > s.lo && R.c[g.lo - 1] == 0) --g.lo;
    while (g.hi < s.hi && R.c[g.hi + 1] == 0) ++g.hi;
    p = g.hi / kGap * kGap;
    if (g.size() < kGap || g.lo == s.lo || g.hi == s.hi) continue;
    if (ng == kMaxBlocks - 1 && gaps[ng - 1].size() >= g.size()) continue;
    int k = ng < kMaxBlocks - 1 ? ng++ : ng - 1;
    for (; k > 0 && gaps[k - 1].size() < g.size(); --k) gaps[k] = gaps[k - 1];
    gaps[k] = g;
  }
  for (int k = 1; k < ng; ++k)  // into the order of position
    for (int j = k; j > 0 && gaps[j - 1].lo > gaps[j].lo; --j) std::swap(gaps[j - 1], gaps[j]);
  std::int64_t start = s.lo;
  for (int k = 0; k < ng; start = gaps[k++].hi + 1) out[k] = {start, gaps[k].lo - 1};
  out[ng] = {start, s.hi};
  return ng + 1;
}

// acc += the columns c >= cut of X[bx] * Y[by], trimmed to the cells that
// reach column cut; X's transforms kept as `keep` says (products.h).
void add_block_product(Acc& acc, const cell_t* X, Span bx, const cell_t* Y, Span by, std::int64_t cut,
                       Keep keep = Keep::x) {
  if (bx.hi + by.hi < cut) return;
  const Span tx{std::max(bx.lo, cut - by.hi), bx.hi};
  const Span ty{std::max(by.lo, cut - bx.hi), by.hi};
  const std::int64_t from = std::max(cut, tx.lo + ty.lo);
  const std::int64_t below = from - tx.lo - ty.lo;  // columns left out
  const Units units = longmult_units;
  const Plan plan = plan_product(units, tx.size(), ty.size(), below);
  switch (plan.method) {
    case Method::columns: return add_product_columns(acc, X, tx, Y, ty, from);
    case Method::gmp: return add_product_kronecker(acc, X, tx, Y, ty, from);
    case Method::transform:
      if (plan.halves) {  // X's transform serves both halves; the upper half's columns start above
        const Span lo{ty.lo, ty.lo + (ty.size() + 1) / 2 - 1}, hi{lo.hi + 1, ty.hi};
        add_product_ntt(acc, X, bx, tx, Y, lo, from, units, plan, keep);
        return add_product_ntt(acc, X, bx, tx, Y, hi, std::max(from, tx.lo + hi.lo), units, plan, keep);
      }
      if (plan.split > 0) {  // X's top alone (its block: not read below), the rest apart
        // The rest may reach down its block as well, so that its cells, and its transform kept
        // apart, serve the next products too (a series' terms, a band of their lengths).
        const Span top{tx.hi - plan.split + 1, tx.hi};
        add_product_ntt(acc, X, top, top, Y, ty, std::max(from, top.lo + ty.lo), units, plan, keep);
        return add_block_product(acc, X, {bx.lo, top.lo - 1}, Y, ty, from, keep == Keep::x ? Keep::rest : Keep::none);
      }
      return add_product_ntt(acc, X, bx, tx, Y, ty, from, units, plan, keep);
  }
}

}  // namespace

void add_product(Acc& acc, const Cells& X, const Cells& Y, std::int64_t cut) {
  if (X.s.size() < kSplitSize && Y.s.size() < kSplitSize) return add_block_product(acc, X.c, X.s, Y.c, Y.s, cut);
  Span bxs[kMaxBlocks], bys[kMaxBlocks];
  const int nbx = split_blocks(X, bxs);
  const int nby = split_blocks(Y, bys);
  for (int u = 0; u < nbx; ++u)
    for (int v = 0; v < nby; ++v) add_block_product(acc, X.c, bxs[u], Y.c, bys[v], cut);
}

}  // namespace longmult

Units longmult_units = cpu_units();
