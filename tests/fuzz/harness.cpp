#include "harness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arith/arith.h"
#include "interp/interp.h"
#include "scan/scan.h"

namespace fuzz {

namespace {

// Highest integer cell a run may have. With four integer cells exp(x) fits
// only for x below about 92, so no series needs more than a few hundred terms.
constexpr std::int64_t kMaxLimit = 3;
// Decimals of a run. It matters where limit < decimals: the registers have no
// cells, yet printing and division still walk every decimal place.
constexpr std::int64_t kMaxDecimals = 1000;
// Commands that run a series or a table of long products.
constexpr int kMaxSeries = 4;
// Printed table rows over the whole input.
constexpr __int128 kMaxRows = 256;

// The numbers of the input as the scanners read them: the same tables, so the
// same characters end, continue or spoil a number. False at end of input or at
// a malformed number, where the program ends too.
class Numbers {
 public:
  Numbers(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool integer(std::int64_t& v) {
    int state = 0;
    std::uint64_t value = 0;
    bool negative = false;
    while (pos_ < size_) {
      int ch = data_[pos_++];
      int k = char_class(ch);
      int action = kIntAction[state][k];
      state = kIntNext[state][k];
      switch (action) {
        case 1: negative = ch == '-'; break;
        case 2: value = value * 10 + static_cast<std::uint64_t>(ch - '0'); break;
        case 3: v = static_cast<std::int64_t>(negative ? 0 - value : value); return true;
        case 4: return false;
        default: break;
      }
    }
    return false;
  }

  bool real() {
    int state = 0;
    while (pos_ < size_) {
      int k = char_class(data_[pos_++]);
      int action = kRealAction[state][k];
      state = kRealNext[state][k];
      if (action == 6) return true;
      if (action == 7) return false;
    }
    return false;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The capacity check of the tables, as the program computes it.
bool refused(std::int64_t count, double x, std::int32_t limit) {
  double estimate = std::fma(static_cast<double>(count) * 0.05, std::log(x), 1.0);
  return estimate >= static_cast<double>(limit);
}

__int128 rows(std::int64_t F, std::int64_t S, std::int64_t L) {
  if (F > L) return 0;
  return S > 0 ? (static_cast<__int128>(L) - F) / S + 1 : 1;
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
    if (p != std::string::npos && s.size() - (p + std::strlen(m)) <= 100 && s.back() == '\n')
      return "";
  }
  return "status 0 without end of input, a negative D or a malformed number at the end";
}

// The kernels take different scratch memory, so under the budget one of them
// may end with ALARM("ALLOC") where the other goes on; up to that point the
// two must agree.
bool ends_earlier_for_memory(const Outcome& a, const Outcome& b) {
  static const std::string kAlloc = "\nError in: ALLOC";
  if (a.status != 255 || !ends_with(a.out, kAlloc)) return false;
  const std::size_t n = a.out.size() - kAlloc.size();
  return b.out.size() >= n && b.out.compare(0, n, a.out, 0, n) == 0;
}

// Where two outcomes part: the statuses and the text around the first byte
// that differs, with control characters escaped.
std::string first_difference(const Outcome& a, const Outcome& b) {
  std::size_t p = 0;
  while (p < a.out.size() && p < b.out.size() && a.out[p] == b.out[p]) ++p;
  const auto show = [p](const std::string& s) {
    std::string t;
    for (std::size_t i = p > 80 ? p - 80 : 0; i < std::min(s.size(), p + 80); ++i) {
      const auto ch = static_cast<unsigned char>(s[i]);
      if (ch == '\n') {
        t += "\\n";
      } else if (ch < 32 || ch > 126) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", ch);
        t += hex;
      } else {
        t += static_cast<char>(ch);
      }
    }
    return t;
  };
  return "status " + std::to_string(a.status) + " against " + std::to_string(b.status) +
         ", output from byte " + std::to_string(p) + ":\n  fast:      ..." + show(a.out) +
         "\n  reference: ..." + show(b.out);
}

}  // namespace

bool within_bounds(const std::uint8_t* data, std::size_t size) {
  Numbers in(data, size);
  int series = 0;
  __int128 printed = 0;
  for (;;) {
    std::int64_t d = 0;
    std::int64_t e = 0;
    if (!in.integer(d)) return true;
    auto D = static_cast<std::int32_t>(d);
    if (D < 0) return true;
    if (!in.integer(e)) return true;
    auto E = static_cast<std::int32_t>(e);
    std::int64_t decimals = D > 0 ? -((std::int64_t{D} - 1) / 10 + 1) : 0;
    auto limit = static_cast<std::int32_t>((std::int64_t{E} - 1) / 10);
    std::int64_t cells = std::max<std::int64_t>(0, limit - decimals + 1);
    // Registers A, B and C beyond the budget end the run at once.
    if (3 * cells * static_cast<std::int64_t>(sizeof(cell_t)) > kRegisterBudget) return true;
    if (limit > kMaxLimit || D > kMaxDecimals) return false;
    for (;;) {
      std::int64_t c = 0;
      if (!in.integer(c)) return true;
      auto code = static_cast<std::int32_t>(c);
      std::int64_t a[4] = {0, 0, 0, 0};
      int ints = 0;
      switch (code) {
        case 1:
        case 16:
          if (!in.real()) return true;
          break;
        case 11: case 12: case 17: case 21: ints = 1; break;
        case 18: ints = 3; break;
        case 19: case 20: ints = 4; break;
        default: break;
      }
      for (int i = 0; i < ints; ++i)
        if (!in.integer(a[i])) return true;
      if ((code >= 13 && code <= 17) || code == 21 || code == 23) {
        if (++series > kMaxSeries) return false;
      }
      if (code >= 18 && code <= 20) {
        const std::int64_t F = a[0], S = a[1], L = a[2];
        bool refuse = code == 18   ? refused(L, static_cast<double>(L), limit)
                      : code == 19 ? refused(L, static_cast<double>(a[3]), limit)
                                   : refused(a[3], static_cast<double>(L), limit);
        if (refuse) return true;  // the run ends with status 255
        if (++series > kMaxSeries) return false;
        printed += rows(F, S, L);
        if (printed > kMaxRows) return false;
      }
      if (code == 22) break;
    }
  }
}

Outcome run_input(const std::uint8_t* data, std::size_t size, bool reference_kernels) {
  // fmemopen refuses an empty buffer in some C libraries; an empty input is
  // the same as /dev/null.
  std::string copy(reinterpret_cast<const char*>(data), size);
  std::FILE* in = size > 0 ? fmemopen(copy.data(), size, "r") : std::fopen("/dev/null", "r");
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  if (in == nullptr || out == nullptr) std::abort();
  set_register_budget(kRegisterBudget);
  use_reference_kernels = reference_kernels;
  Outcome o;
  o.status = run(in, out);
  use_reference_kernels = false;
  std::fclose(in);
  std::fclose(out);
  o.out.assign(buf, len);
  std::free(buf);
  return o;
}

std::string check_input(const std::uint8_t* data, std::size_t size) {
  Outcome fast = run_input(data, size, false);
  if (register_bytes_in_use() != 0) return "registers left allocated after the run";
  std::string why = check_ending(fast);
  if (!why.empty()) return why;
  Outcome reference = run_input(data, size, true);
  if (register_bytes_in_use() != 0) return "registers left allocated after the reference run";
  if (reference.status == fast.status && reference.out == fast.out) return "";
  if (ends_earlier_for_memory(fast, reference) || ends_earlier_for_memory(reference, fast)) return "";
  return "fast and reference kernels differ: " + first_difference(fast, reference);
}

}  // namespace fuzz
