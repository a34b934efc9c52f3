// PITO: Stormer's formula with the three arctangent series advanced together.
// Term k is (-1)^k/(2k+1) * (3/64^k + (8/57)/3249^k + (4/239)/57121^k).
#include <algorithm>
#include <cstring>
#include <vector>

#include "accumulate.h"
#include "funcs.h"
#include "pi_lanes.h"

bool series_vector_units = true;

namespace {

// P = 0 and the first terms of the series: S1 = 3, Q = 24/171, R = 24/1434.
// qDone, rDone: whether Q and R are finished (zero) already.
void start_series(Reg& P, Reg& S1, Reg& Q, Reg& R, bool& qDone, bool& rDone) {
  ASSIGN(P, 0);
  ASSIGN(S1, 3.0);
  ASSIGN(Q, 24.0);
  qDone = DIV(Q, 171);
  ASSIGN(R, 24.0);
  rDone = DIV(R, 1434);
}

// The straightforward form: per term, S2 := S1 + Q + R by ADD, S2 := S2 / d
// and P := P +- S2, then each series divided by its ratio.
void pito_reference(Reg& P, Reg& Q, Reg& R) {
  Reg S1;  // the 1/8 series
  Reg S2;  // the sum of the current terms
  bool qDone = false;
  bool rDone = false;
  start_series(P, S1, Q, R, qDone, rDone);
  int sign = -1;
  for (std::int64_t d = 1;; d += 2) {
    ASSIGN(S2, 0);
    ADD(S1, +1, S2);
    if (!qDone) ADD(Q, +1, S2);
    if (!rDone) ADD(R, +1, S2);
    DIV(S2, d);
    sign = -sign;
    ADD(S2, sign, P);
    bool s1Done = DIV(S1, 64);
    if (!qDone) qDone = DIV(Q, 3249);
    if (!rDone) rDone = DIV(R, 57121);
    if (s1Done) break;
  }
}

// The fused form. Repeated truncating divisions compose, and a long division
// from the top down yields floor(value / d) also when the dividend's cells are
// sums above kBase - 1, so one sweep divides S1 + Q + R by d without carrying
// the sum first, and divides S1, Q and R by their ratios, each with its own
// remainder. A sweep runs `T` terms, term j + 1 taking at each cell the cells
// that term j has just divided. The quotient cells of a term (below 4 kBase)
// are added into P's cells, held as signed running sums and carried once at
// the end: P cannot go negative or overflow (its partial sums lie in [0, 4)).
// In units of the last cell Q_k and R_k lie below 3 B^n / 64^k (B^n the
// value 1), so once S1 = floor(3 B^n / 64^k) is zero they are zero too: terms
// run past the last one add zero and leave the registers as they are.
template <int T>
struct Sweep {
  cell_t* s1;
  cell_t* q;
  cell_t* r;
  cell_t* p;
  u64 rem1[T] = {}, remQ[T] = {}, remR[T] = {}, rem2[T] = {};
};

constexpr ShortStep kQStep(3249);
constexpr ShortStep kRStep(57121);

// Array positions from..to (descending) of the T terms; Q and R take part
// where withQ and withR say (above their tops their cells are zero).
template <int T, bool withQ, bool withR, class Step2>
void sweep_cells(Sweep<T>& w, std::int64_t from, std::int64_t to, const Step2* term,
                 const u64* negate) {
  u64 rem1[T], remQ[T], remR[T], rem2[T];  // kept in registers, not in w
  for (int j = 0; j < T; ++j) {
    rem1[j] = w.rem1[j];
    remQ[j] = w.remQ[j];
    remR[j] = w.remR[j];
    rem2[j] = w.rem2[j];
  }
  cell_t* const s1 = w.s1;
  cell_t* const q = w.q;
  cell_t* const r = w.r;
  cell_t* const p = w.p;
  for (std::int64_t i = from; i >= to; --i) {
    u64 c1 = static_cast<u64>(s1[i]);
    u64 cq = withQ ? static_cast<u64>(q[i]) : 0;
    u64 cr = withR ? static_cast<u64>(r[i]) : 0;
    u64 sum = 0;
    for (int j = 0; j < T; ++j) {
      const u64 t = term[j].step(rem2[j], c1 + cq + cr);
      sum += (t ^ negate[j]) - negate[j];
      const u64 t1 = rem1[j] * kBase + c1;
      c1 = t1 >> 6;
      rem1[j] = t1 & 63;
      if (withQ) cq = kQStep.step(remQ[j], cq);
      if (withR) cr = kRStep.step(remR[j], cr);
    }
    s1[i] = static_cast<cell_t>(c1);
    if (withQ) q[i] = static_cast<cell_t>(cq);
    if (withR) r[i] = static_cast<cell_t>(cr);
    p[i] += static_cast<cell_t>(sum);
  }
  for (int j = 0; j < T; ++j) {
    w.rem1[j] = rem1[j];
    w.remQ[j] = remQ[j];
    w.remR[j] = remR[j];
    w.rem2[j] = rem2[j];
  }
}

// T terms from array position hi down; qTop, rTop: the tops of Q and R, -1
// when finished.
template <int T, class Step2>
void sweep_terms(Sweep<T>& w, std::int64_t hi, std::int64_t qTop, std::int64_t rTop,
                 const Step2* term, const u64* negate) {
  const std::int64_t upper = std::max(qTop, rTop);
  const std::int64_t lower = std::min(qTop, rTop);
  sweep_cells<T, false, false>(w, hi, upper + 1, term, negate);
  if (qTop >= rTop) {
    sweep_cells<T, true, false>(w, upper, lower + 1, term, negate);
  } else {
    sweep_cells<T, false, true>(w, upper, lower + 1, term, negate);
  }
  sweep_cells<T, true, true>(w, lower, 0, term, negate);
}

struct PiState {
  Reg& P;
  Reg& S1;
  Reg& Q;
  Reg& R;
  bool qDone;
  bool rDone;
};

// Runs the T terms with divisors d, d + 2, ..., the first one added with
// sign +1 when d = 1 mod 4. Returns true when S1 became zero.
template <int T, class Step2>
bool run_terms(PiState& s, const Step2* term, std::int64_t d) {
  Sweep<T> w{s.S1.cells, s.Q.cells, s.R.cells, s.P.cells};
  u64 negate[T];
  for (int j = 0; j < T; ++j) negate[j] = (d + 2 * j) % 4 == 3 ? ~u64{0} : 0;
  const std::int64_t s1Top = std::int64_t{s.S1.top} - decimals;
  const std::int64_t qTop = s.qDone ? -1 : std::int64_t{s.Q.top} - decimals;
  const std::int64_t rTop = s.rDone ? -1 : std::int64_t{s.R.top} - decimals;
  sweep_terms<T>(w, std::max({s1Top, qTop, rTop}), qTop, rTop, term, negate);
  if (!s.qDone) s.qDone = lower_top(s.Q, qTop);
  if (!s.rDone) s.rDone = lower_top(s.R, rTop);
  return lower_top(s.S1, s1Top);
}

// The highest position at or below `from` whose cell is nonzero, or -1.
std::int64_t top_position(const u64* cells, std::int64_t from) {
  while (from >= 0 && cells[from] == 0) --from;
  return from;
}

// Blocks of eight terms in the vector lanes (pi_lanes.h), with divisors from d
// on while they allow; d advances past the terms run. S1, Q and R work in
// padded copies and P's sums in a padded array, all brought back at the end.
// Returns true when S1 became zero.
bool run_lane_blocks(PiState& s, std::int64_t& d) {
  const std::int64_t n = ncells();
  const auto size = static_cast<std::size_t>(n + 2 * kLanePad);
  std::vector<u64> s1(size), q(size), r(size);
  std::vector<std::int64_t> p(size);
  std::memcpy(s1.data() + kLanePad, s.S1.cells, static_cast<std::size_t>(n) * sizeof(cell_t));
  std::memcpy(q.data() + kLanePad, s.Q.cells, static_cast<std::size_t>(n) * sizeof(cell_t));
  std::memcpy(r.data() + kLanePad, s.R.cells, static_cast<std::size_t>(n) * sizeof(cell_t));
  std::int64_t s1Top = top_position(s1.data() + kLanePad, std::int64_t{s.S1.top} - decimals);
  std::int64_t qTop = s.qDone ? -1 : top_position(q.data() + kLanePad, std::int64_t{s.Q.top} - decimals);
  std::int64_t rTop = s.rDone ? -1 : top_position(r.data() + kLanePad, std::int64_t{s.R.top} - decimals);
  auto add_sums = [&] {
    for (std::int64_t i = 0; i < n; ++i) s.P.cells[i] += p[static_cast<std::size_t>(kLanePad + i)];
    std::fill(p.begin(), p.end(), 0);
    carry_cells(s.P);
  };
  std::int64_t sinceCarry = 0;
  while (s1Top >= 0 && static_cast<u64>(d) + 14 <= kLaneDivisorMax) {
    pi_lanes_block(s1.data() + kLanePad, q.data() + kLanePad, r.data() + kLanePad,
                   p.data() + kLanePad, std::max({s1Top, qTop, rTop}), qTop, rTop, static_cast<u64>(d));
    d += 16;
    s1Top = top_position(s1.data() + kLanePad, s1Top);
    if (qTop >= 0) qTop = top_position(q.data() + kLanePad, qTop);
    if (rTop >= 0) rTop = top_position(r.data() + kLanePad, rTop);
    if ((sinceCarry += 8) >= kSumTerms) {
      add_sums();
      sinceCarry = 0;
    }
  }
  add_sums();
  std::memcpy(s.S1.cells, s1.data() + kLanePad, static_cast<std::size_t>(n) * sizeof(cell_t));
  std::memcpy(s.Q.cells, q.data() + kLanePad, static_cast<std::size_t>(n) * sizeof(cell_t));
  std::memcpy(s.R.cells, r.data() + kLanePad, static_cast<std::size_t>(n) * sizeof(cell_t));
  auto top_of = [](std::int64_t pos) { return static_cast<std::int32_t>(pos >= 0 ? pos + decimals : decimals); };
  s.S1.top = top_of(s1Top);
  if (!s.qDone) s.Q.top = top_of(qTop);
  if (!s.rDone) s.R.top = top_of(rTop);
  s.qDone = qTop < 0;
  s.rDone = rTop < 0;
  return s1Top < 0;
}

void pito_fused(Reg& P, Reg& Q, Reg& R) {
  Reg S1;
  PiState s{P, S1, Q, R, false, false};
  start_series(P, S1, Q, R, s.qDone, s.rDone);
  const UnitStep first{};
  bool done = run_terms<1>(s, &first, 1);
  std::int64_t d = 3;
  if (!done && series_vector_units && pi_lanes_available()) done = run_lane_blocks(s, d);
  constexpr int kTerms = 3;  // independent division chains in flight
  std::int64_t sinceCarry = 1;
  for (; !done; d += 2 * kTerms) {
    // Dividends below (d - 1) kBase + 3 kBase.
    with_steps<kTerms>(static_cast<u64>(d), 2, 2,
                       [&](const auto* steps) { done = run_terms<kTerms>(s, steps, d); });
    if ((sinceCarry += kTerms) >= kSumTerms) {
      carry_cells(P);
      sinceCarry = 0;
    }
  }
  carry_cells(P);
  set_top_as_add(P);
}

}  // namespace

void PITO(Reg& P, Reg& Q, Reg& R) {
  if (use_reference_kernels) return pito_reference(P, Q, R);
  pito_fused(P, Q, R);
}
