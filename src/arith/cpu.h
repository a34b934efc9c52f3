// What the processor and the process's share of the machine offer, each
// looked up once: the one place where the arithmetic asks.
#pragma once

#include <sched.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace longmult {
struct VectorKernels;
}

// The units the products run on: plain 64-bit arithmetic (no vector
// kernels), or the kernels of one vector target of the build, with its lanes
// of doubles, and whether the processor does each operation on a vector in
// two halves (AVX2 on AMD's cores before Zen 2), which makes its transforms
// cost more against GMP's products than the lanes say.
struct Units {
  const longmult::VectorKernels* vector = nullptr;
  int lanes = 0;
  bool halves = false;
};

// The units of this process: those that the environment variable
// FIXCALC_UNITS names, else the most capable that the processor has (arith/cpu.cpp).
Units cpu_units();
// Why FIXCALC_UNITS cannot be followed, in one line, or null when it can.
const char* units_refusal();
// The units of a name, "plain" or a vector target of the build; none, with
// the reason in `why`, when the build or the processor lacks them.
std::optional<Units> units_named(std::string_view name, std::string& why);
// "plain", then the vector targets of the build, the most capable first.
std::vector<std::string> units_names();
// Whether a processor of this cpuid vendor, family and model does a 256-bit operation in two
// halves: AMD's and Hygon's cores before Zen 2 (families below 0x17, 0x17 below model 0x30, 0x18).
bool avx_in_halves(std::string_view vendor, unsigned family, unsigned model);

// Asks for the cache line at p with the right to write it, ahead of the stores: a line that the
// other thread has read then comes over while the work goes on, not a store at a time. A hint,
// given where the processor takes it (prefetch_for_write_ok; on 64-bit ARM always).
bool prefetch_for_write_ok();
inline void prefetch_for_write(const void* p) {
#if defined(__x86_64__)
  asm volatile("prefetchw %0" ::"m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1);
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
