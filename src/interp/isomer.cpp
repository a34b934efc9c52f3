// Command 21: counts of the alkyl radicals C(N)H(2N+1) by the kind of carbon
// that carries the free bond. R(N) = PRI(N) + SEC(N) + TER(N), R(0) = 1, and a
// radical of N carbons is a carbon with one, two or three smaller radicals
// whose sizes add up to N - 1, unordered.
#include <memory>
#include <vector>

#include "interp/interp.h"
#include "io.h"
#include "print/print.h"

namespace {

void print_block(std::int64_t N, const Reg& pri, const Reg& sec, const Reg& ter) {
  LINE();
  std::fprintf(output, "N: %d", static_cast<std::int32_t>(N));
  LINE();
  std::fputs("PRI(N):", output);
  PRINT(pri);
  LINE();
  std::fputs("SEC(N):", output);
  PRINT(sec);
  LINE();
  std::fputs("TER(N):", output);
  PRINT(ter);
  LINE();
}

// C += TER contributions of radicals of N carbons: two or three equal branches,
// then three branches of different sizes a < b < c.
void add_tertiary(std::int64_t N, const std::vector<std::unique_ptr<Reg>>& R, Reg& C, Reg& W, Reg& X) {
  for (std::int64_t s = 1; s <= (N - 2) / 2; ++s) {
    std::int64_t t = N - 1 - 2 * s;
    ASSIGN(W, t == s ? 2 : 0);
    ADD(*R[t], +1, W);
    LONGMULT(*R[s], W, X);
    ADD(W, +1, X);  // X = W (R(s) + 1)
    LONGMULT(X, *R[s], W);
    DIV(W, t == s ? 6 : 2);
    ADD(W, +1, C);
  }
  for (std::int64_t a = 1; a <= (N - 4) / 3; ++a) {
    for (std::int64_t b = a + 1; b <= ((N - 2) - a) / 2; ++b) {
      std::int64_t c = N - 1 - a - b;
      LONGMULT(*R[b], *R[c], X);
      LONGMULT(X, *R[a], W);
      ADD(W, +1, C);
    }
  }
}

// B := SEC(N + 1), the radicals whose carrying carbon has two branches.
void secondary_of_next(std::int64_t N, const std::vector<std::unique_ptr<Reg>>& R, Reg& B, Reg& W, Reg& X) {
  ASSIGN(B, 0);
  for (std::int64_t j = 1; j <= N / 2; ++j) {
    if (j < N - j) {
      LONGMULT(*R[j], *R[N - j], X);
    } else {
      ASSIGN(W, 1);
      ADD(*R[j], +1, W);
      LONGMULT(*R[j], W, X);
      DIV(X, 2);
    }
    ADD(X, +1, B);
  }
}

}  // namespace

// The counts are allocated as N grows, so a huge n ends with the alarm of the
// first count that does not fit rather than by exhausting memory. A negative n
// prints nothing, as n = 0 does.
void isomer_table(Reg& B, Reg& C) {
  std::int64_t n = read_int_arg();
  std::vector<std::unique_ptr<Reg>> R;
  R.push_back(std::make_unique<Reg>());
  ASSIGN(*R[0], 1);
  if (n <= 0) return;
  Reg W;
  Reg X;
  ASSIGN(B, 0);
  ASSIGN(C, 0);
  progress_stage("N", n);
  for (std::int64_t N = 1;; ++N) {
    progress_step(N);
    add_tertiary(N, R, C, W, X);
    print_block(N, *R[N - 1], B, C);
    ADD(C, +1, B);
    ADD(*R[N - 1], +1, B);
    R.push_back(std::make_unique<Reg>());
    COPY(B, *R[N]);
    if (N == n) return;
    secondary_of_next(N, R, B, W, X);
    ASSIGN(C, 0);
  }
}
