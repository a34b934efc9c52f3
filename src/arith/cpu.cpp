// The choice of the units the products run on, made once: FIXCALC_UNITS, or
// the most capable vector target of the build that the processor has.
#include "arith/cpu.h"

#include <hwy/base.h>
#include <hwy/detect_targets.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include "arith/longmult/products.h"

// Where the checks of Highway's headers report, in the checked builds (its
// library, which would hold this, is not linked).
void hwy::Abort(const char* file, int line, const char* format, ...) {
  std::fprintf(stderr, "%s:%d: ", file, line);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

bool prefetch_for_write_ok() {
#if defined(__x86_64__)
  static const bool ok = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(0x80000001, &a, &b, &c, &d) && (c & bit_PRFCHW) != 0;
  }();
  return ok;
#else
  return true;
#endif
}

namespace {

// Whether the processor, and the system for the state of its registers, has
// all that Highway compiles vector target t for.
bool supported(std::int64_t t) {
#if defined(__x86_64__)
  unsigned a = 0, b = 0, c = 0, d = 0;  // F16C from cpuid: not every compiler's builtin knows it
  const bool f16c = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) != 0;
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi") &&
                    __builtin_cpu_supports("bmi2") && f16c && __builtin_cpu_supports("sse4.2") &&
                    __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("aes");
  const bool avx3 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                    __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
  return t == HWY_AVX2 ? avx2 : t == HWY_AVX3 && avx3;
#elif defined(__aarch64__)
  const unsigned long cap = getauxval(AT_HWCAP), cap2 = getauxval(AT_HWCAP2);
  const bool neon = (cap & HWCAP_ASIMD) && (cap & HWCAP_AES);
  const bool sve = neon && (cap & HWCAP_SVE);
  const bool sve2 = sve && (cap2 & HWCAP2_SVE2) && (cap2 & HWCAP2_SVEAES);
  return t == HWY_NEON ? neon : t == HWY_SVE ? sve : t == HWY_SVE2 && sve2;
#else
  return false;
#endif
}

// Whether this processor does AVX2's operations in two halves (avx_in_halves).
bool halves() {
#if defined(__x86_64__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
  char vendor[12];
  std::memcpy(vendor, &b, 4), std::memcpy(vendor + 4, &d, 4), std::memcpy(vendor + 8, &c, 4);
  __get_cpuid(1, &a, &b, &c, &d);
  const unsigned base = a >> 8 & 0xf, family = base + (base == 0xf ? a >> 20 & 0xff : 0);
  const unsigned model = (a >> 4 & 0xf) | (base == 0xf || base == 6 ? a >> 12 & 0xf0 : 0);
  return avx_in_halves(std::string_view(vendor, 12), family, model);
#else
  return false;
#endif
}

struct Choice {
  Units units;
  std::string refusal;
};

const Choice& choice() {
  static const Choice c = [] {
    Choice c;
    std::string why;
    if (const char* name = std::getenv("FIXCALC_UNITS"); name != nullptr && *name != '\0') {
      if (const auto u = units_named(name, why))
        c.units = *u;
      else
        c.refusal = std::string("FIXCALC_UNITS=") + name + ": " + why;
      return c;
    }
    for (const longmult::VectorKernels* k : longmult::vector_kernels())
      if (const auto u = units_named(k->name, why)) return Choice{*u, {}};
    return c;
  }();
  return c;
}

}  // namespace

Units cpu_units() { return choice().units; }

const char* units_refusal() { return choice().refusal.empty() ? nullptr : choice().refusal.c_str(); }

std::optional<Units> units_named(std::string_view name, std::string& why) {
  if (name == "plain") return Units{};
  for (const longmult::VectorKernels* k : longmult::vector_kernels()) {
    if (name != k->name) continue;
    if (!supported(k->target)) {
      why = "the processor lacks these units";
      return std::nullopt;
    }
    return Units{k, static_cast<int>(k->lanes()), k->target == HWY_AVX2 && halves()};
  }
  why = "no such units (this build has";
  for (const std::string& n : units_names()) why += " " + n;
  why += ")";
  return std::nullopt;
}

bool avx_in_halves(std::string_view vendor, unsigned family, unsigned model) {
  if (vendor == "HygonGenuine") return family == 0x18;
  return vendor == "AuthenticAMD" && (family < 0x17 || (family == 0x17 && model < 0x30));
}

std::vector<std::string> units_names() {
  std::vector<std::string> names{"plain"};
  for (const longmult::VectorKernels* k : longmult::vector_kernels()) names.emplace_back(k->name);
  return names;
}
