// What the processor offers, looked up once: the one place where the
// arithmetic asks.
#pragma once

// Whether the processor has the AVX-512 IFMA units (52-bit integer
// multiply-add on eight lanes); always false in a FIXCALC_PORTABLE build.
inline bool cpu_has_ifma() {
#if defined(__x86_64__) && !defined(FIXCALC_PORTABLE)
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return yes;
#else
  return false;
#endif
}
