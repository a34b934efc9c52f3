#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arith/arith.h"
#include "interp/interp.h"
#include "io.h"
#include "scan/scan.h"

namespace fuzz {

namespace {

// The bounds of a case: the highest integer cell (with four, exp(x) fits only
// below x = 92: a few hundred terms), decimals (where limit < decimals
// printing and division still walk every place), commands that run a series
// or a table, and printed table rows.
constexpr std::int64_t kMaxLimit = 3;
constexpr std::int64_t kMaxDecimals = 1000;
constexpr int kMaxSeries = 4;
constexpr __int128 kMaxRows = 256;

struct Outcome {
  std::string out;
  int status;
};

__int128 rows(std::int64_t F, std::int64_t S, std::int64_t L) {
  return F > L ? 0 : S > 0 ? (static_cast<__int128>(L) - F) / S + 1 : 1;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string check_ending(const Outcome& o) {
  const std::string& s = o.out;
  if (o.status == 255) {
    for (const char* name : {"ASSIGN", "ADD", "MULT", "DIV", "LONGMULT", "ALLOC"})
      if (ends_with(s, std::string("\nError in: ") + name)) return "";
    if (ends_with(s, "\nBrug flere heltalscifre")) return "";
    return "status 255 without an error message at the end of the output";
  }
  if (o.status != 0) return "exit status " + std::to_string(o.status);
  if (ends_with(s, "\nEOF met\n")) return "";
  // A negative D, as the first number or right after command 22.
  if (s == "\n" || ends_with(s, "No: 22 stop\n")) return "";
  // A malformed number: the message, the kept characters (99 at most, cut at a
  // NUL byte among them) and a newline end the output.
  for (const char* m : {"Error in integer number: ", "Error in real number: "}) {
    std::size_t p = s.rfind(m);
    if (p != std::string::npos && s.size() - (p + std::strlen(m)) <= 100 && s.back() == '\n') return "";
  }
  return "status 0 without end of input, a negative D or a malformed number at the end";
}

// Under the budget one kernel may end in ALARM("ALLOC") where the other, of
// other scratch memory, goes on: up to there the two agree.
bool ends_earlier_for_memory(const Outcome& a, const Outcome& b) {
  static const std::string kAlloc = "\nError in: ALLOC";
  if (a.status != 255 || !ends_with(a.out, kAlloc)) return false;
  const std::size_t n = a.out.size() - kAlloc.size();
  return b.out.size() >= n && b.out.compare(0, n, a.out, 0, n) == 0;
}

// The statuses and the text around the first byte that differs.
std::string first_difference(const Outcome& a, const Outcome& b) {
  const auto p = static_cast<std::size_t>(std::mismatch(a.out.begin(), a.out.end(), b.out.begin(), b.out.end()).first -
                                          a.out.begin());
  const auto show = [p](const std::string& s) {
    std::string t;
    for (std::size_t i = p > 80 ? p - 80 : 0; i < std::min(s.size(), p + 80); ++i)
      t += s[i] >= 32 && s[i] < 127 ? std::string(1, s[i]) : "\\" + std::to_string(static_cast<unsigned char>(s[i]));
    return t;
  };
  return "status " + std::to_string(a.status) + " against " + std::to_string(b.status) + ", output from byte " +
         std::to_string(p) + ":\n  fast:      ..." + show(a.out) + "\n  reference: ..." + show(b.out);
}

// Whether the numbers of `input`, read by the program's scanners, ask for a
// run within bounds. A Fatal (end of input, a malformed number, a refused
// table) ends the run in bounds.
bool run_within_bounds() {
  int series = 0;
  __int128 printed = 0;
  for (;;) {
    const auto D = static_cast<std::int32_t>(readinteger());
    if (D < 0) return true;
    set_precision(D, static_cast<std::int32_t>(readinteger()));
    // Registers A, B and C beyond the budget end the run at once.
    if (3 * ncells() * static_cast<std::int64_t>(sizeof(cell_t)) > kRegisterBudget) return true;
    if (limit > kMaxLimit || D > kMaxDecimals) return false;
    for (;;) {
      const auto code = static_cast<std::int32_t>(readinteger());
      std::int64_t a[4] = {0, 0, 0, 0};
      const int ints = code == 18                 ? 3
                       : code == 19 || code == 20 ? 4
                                                  : code == 11 || code == 12 || code == 17 || code == 21;
      if (code == 1 || code == 16) readreal();
      for (int i = 0; i < ints; ++i) a[i] = readinteger();
      if (code >= 18 && code <= 20) {
        const std::int64_t L = a[2];
        if (code == 20)
          ACCEPT(a[3], static_cast<double>(L));
        else
          ACCEPT(L, static_cast<double>(code == 18 ? L : a[3]));
        printed += rows(a[0], a[1], L);
        if (printed > kMaxRows) return false;
      }
      if (((code >= 13 && code <= 21) || code == 23) && ++series > kMaxSeries) return false;
      if (code == 22) break;
    }
  }
}

// `data` as a stream held in `copy` (fmemopen refuses an empty buffer in some
// C libraries: empty is /dev/null).
std::FILE* open_input(const std::uint8_t* data, std::size_t size, std::string& copy) {
  copy.assign(reinterpret_cast<const char*>(data), size);
  return size > 0 ? fmemopen(copy.data(), size, "r") : std::fopen("/dev/null", "r");
}

// The interpreter on `data` as its whole input, with a register budget.
Outcome run_input(const std::uint8_t* data, std::size_t size, bool reference_kernels, std::int64_t budget) {
  std::string copy;
  std::FILE* in = open_input(data, size, copy);
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  if (in == nullptr || out == nullptr) std::abort();
  const std::int64_t saved = register_budget();
  set_register_budget(budget);
  use_reference_kernels = reference_kernels;
  const int status = run(in, out);
  use_reference_kernels = false;
  set_register_budget(saved);
  std::fclose(in);
  std::fclose(out);
  Outcome o{std::string(buf, len), status};
  std::free(buf);
  return o;
}

}  // namespace

bool within_bounds(const std::uint8_t* data, std::size_t size) {
  std::string copy;
  std::FILE* in = open_input(data, size, copy);
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (in == nullptr || sink == nullptr) std::abort();
  std::swap(input, in);
  std::swap(output, sink);
  bool within = true;
  try {
    within = run_within_bounds();
  } catch (const Fatal&) {
  }
  std::swap(input, in);
  std::swap(output, sink);
  std::fclose(in);
  std::fclose(sink);
  return within;
}

std::string check_input(const std::uint8_t* data, std::size_t size, std::int64_t budget) {
  Outcome fast = run_input(data, size, false, budget);
  if (register_bytes_in_use() != 0) return "registers left allocated after the run";
  std::string why = check_ending(fast);
  if (!why.empty()) return why;
  Outcome reference = run_input(data, size, true, budget);
  if (register_bytes_in_use() != 0) return "registers left allocated after the reference run";
  if (reference.status == fast.status && reference.out == fast.out) return "";
  if (ends_earlier_for_memory(fast, reference) || ends_earlier_for_memory(reference, fast)) return "";
  return "fast and reference kernels differ: " + first_difference(fast, reference);
}

}  // namespace fuzz
