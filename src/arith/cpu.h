// What the processor and the process's share of the machine offer, each
// looked up once: the one place where the arithmetic asks.
#pragma once

#include <sched.h>

// The vector units the kernels can use, from none to the most capable: AVX2
// with FMA (four lanes of doubles), AVX-512 IFMA (52-bit integer
// multiply-add on eight lanes). A FIXCALC_PORTABLE build uses none, a
// FIXCALC_NO_IFMA build no IFMA (so that the AVX2 kernels can be timed on a
// processor that has both).
enum class Units { plain, avx2, ifma };

inline Units cpu_units() {
#if defined(__x86_64__) && !defined(FIXCALC_PORTABLE)
  static const Units units = [] {
#ifndef FIXCALC_NO_IFMA
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma")) return Units::ifma;
#endif
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Units::avx2;
    return Units::plain;
  }();
  return units;
#else
  return Units::plain;
#endif
}

// The number of processors this process may run on (its affinity mask).
inline int processors() {
  static const int n = [] {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  }();
  return n;
}
