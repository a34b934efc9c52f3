// The choice of the units the products run on, made once: FIXCALC_UNITS, or
// the most capable vector target of the build that the processor has.
#include "arith/cpu.h"

#include <hwy/targets.h>

#include <cstdlib>

#include "arith/longmult/products.h"

namespace {

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
    if ((hwy::SupportedTargets() & k->target) == 0) {
      why = "the processor lacks these units";
      return std::nullopt;
    }
    bool rows = false;
#if defined(__x86_64__)
    rows = k->rows != nullptr && __builtin_cpu_supports("avx512ifma");
#endif
    return Units{k, static_cast<int>(k->lanes()), rows};
  }
  why = "no such units (this build has";
  for (const std::string& n : units_names()) why += " " + n;
  why += ")";
  return std::nullopt;
}

std::vector<std::string> units_names() {
  std::vector<std::string> names{"plain"};
  for (const longmult::VectorKernels* k : longmult::vector_kernels()) names.emplace_back(k->name);
  return names;
}
