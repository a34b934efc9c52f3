// What the processor and the process's share of the machine offer, each
// looked up once: the one place where the arithmetic asks.
#pragma once

#include <sched.h>

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

// The number of processors this process may run on (its affinity mask).
inline int processors() {
  static const int n = [] {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  }();
  return n;
}
