// Commands 18, 19 and 20: tables of factorials and powers built in A by MULT,
// each guarded by the capacity check ACCEPT.
#include <cmath>
#include <cstdint>

#include "interp/interp.h"
#include "io.h"
#include "print/print.h"

void ACCEPT(std::int64_t count, double x) {
  // count times 0.05, then one rounding for the multiply-add with ln(x) and 1;
  // an estimate that is not a number passes the ordered test.
  double estimate = std::fma(static_cast<double>(count) * 0.05, std::log(x), 1.0);
  if (estimate >= static_cast<double>(limit)) {
    LINE();
    std::fputs("Brug flere heltalscifre", output);
    fatal(255);
  }
}

namespace {

// The rows of commands 18 and 19: for N = F .. L, multiply A by factor(N) and
// print every S-th N, starting with F. Once `stationary(N)` says that the
// multiplications after N cannot change A (nor raise an alarm), the loop jumps
// straight to the next row to print.
template <class Factor, class Stationary>
void running_rows(Reg& A, std::int64_t F, std::int64_t S, std::int64_t L, const char* label, Factor factor,
                  Stationary stationary) {
  auto c = static_cast<std::uint64_t>(S) - 1;  // counts modulo 2^64: any S is safe
  for (std::int64_t N = F;; ++N) {
    progress_step(N);
    MULT(A, factor(N));
    if (++c == static_cast<std::uint64_t>(S)) {
      LINE();
      std::fprintf(output, label, static_cast<std::int32_t>(N));
      PRINT(A);
      c = 0;
    }
    if (N == L) return;
    if (stationary(N)) {
      if (S <= 0) return;  // c never meets S again
      std::uint64_t gap = static_cast<std::uint64_t>(S) - c;
      if (gap > static_cast<std::uint64_t>(L) - static_cast<std::uint64_t>(N)) return;
      N += static_cast<std::int64_t>(gap - 1);
      c = static_cast<std::uint64_t>(S) - 1;
    }
  }
}

}  // namespace

void factorial_table(Reg& A) {
  std::int64_t F = read_int_arg();
  std::int64_t S = read_int_arg();
  std::int64_t L = read_int_arg();
  ACCEPT(L, static_cast<double>(L));
  ASSIGN(A, 1);
  progress_stage("N", L);
  for (std::int64_t m = 2; m < F; ++m) {  // grows until it fits no more
    progress_step(m);
    MULT(A, m);
  }
  if (F > L) return;
  // Only a zero product stays as it is: once N = 0 has been multiplied in (a
  // negative F ends with the alarm of its first factor before that).
  running_rows(
      A, F, S, L, "N: %d, FAC(N): ", [](std::int64_t N) { return N; },
      [F](std::int64_t N) { return F <= 0 && N >= 0; });
}

void power_table_of_base(Reg& A) {
  std::int64_t F = read_int_arg();
  std::int64_t S = read_int_arg();
  std::int64_t L = read_int_arg();
  std::int64_t a = read_int_arg();
  ACCEPT(L, static_cast<double>(a));
  LINE();
  std::fprintf(output, "a: %ld", static_cast<long>(a));
  ASSIGN(A, 1);
  progress_stage("N", L);
  // Multiplying by 0 or 1 a second time changes nothing.
  const bool idempotent = a == 0 || a == 1;
  for (std::int64_t k = 1; k < F; ++k) {
    progress_step(k);
    MULT(A, a);
    if (idempotent) break;
  }
  if (F > L) return;
  running_rows(
      A, F, S, L, "N : %d, a|&N: ", [a](std::int64_t) { return a; }, [idempotent](std::int64_t) { return idempotent; });
}

// Each row recomputes N^b from 1. A step S <= 0 would never reach past L: only
// the first row is printed then, as the running tables do.
void power_table_of_exponent(Reg& A) {
  std::int64_t F = read_int_arg();
  std::int64_t S = read_int_arg();
  std::int64_t L = read_int_arg();
  std::int64_t b = read_int_arg();
  ACCEPT(b, static_cast<double>(L));
  LINE();
  std::fprintf(output, "b: %d", static_cast<std::int32_t>(b));
  if (F > L) return;
  progress_stage("N", L);
  for (std::int64_t N = F;;) {
    progress_step(N);
    ASSIGN(A, 1);
    for (std::int64_t k = 0; k < b; ++k) {
      MULT(A, N);
      if (N == 0 || N == 1) break;  // a second multiplication changes nothing
    }
    LINE();
    std::fprintf(output, "N: %d, N|&b: ", static_cast<std::int32_t>(N));
    PRINT(A);
    std::int64_t next = 0;
    if (S <= 0 || __builtin_add_overflow(N, S, &next) || next > L) return;
    N = next;
  }
}
