// LINE and PRINT.
#include "print/print.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "io.h"

void LINE() { std::fputc('\n', output); }

namespace {

// Writes the twelve characters of cell v at p: its digits with `fill` for
// zeros until the first nonzero digit, a blank after the fifth, then `sep`.
// The reference form, one division per digit position.
char* put_cell(char* p, cell_t v, bool& leading, char sep) {
  char fill = leading ? ' ' : '0';
  cell_t divisor = kBase / 10;
  for (int pos = 1; pos <= kCellDigits; ++pos, divisor /= 10) {
    cell_t q = v / divisor;
    v %= divisor;
    if (q != 0) {
      *p++ = static_cast<char>('0' + q);
      fill = '0';
      leading = false;
    } else {
      *p++ = fill;
    }
    if (pos == 5) *p++ = ' ';
  }
  *p++ = sep;
  return p;
}

// "00" "01" ... "99".
constexpr std::array<char, 200> kPairs = [] {
  std::array<char, 200> a{};
  for (int i = 0; i < 100; ++i) {
    a[2 * i] = static_cast<char>('0' + i / 10);
    a[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return a;
}();

// The five digits of x < 10^5, zeros included.
char* put_five(char* p, std::uint32_t x) {
  std::uint32_t hi = x / 1000;  // first two digits
  std::uint32_t lo = x % 1000;
  std::memcpy(p, &kPairs[2 * hi], 2);
  std::memcpy(p + 2, &kPairs[2 * (lo / 10)], 2);
  p[4] = static_cast<char>('0' + lo % 10);
  return p + 5;
}

// put_cell once a nonzero digit or the point has been printed: every digit
// position shows its digit. v must be a valid cell.
char* put_full_cell(char* p, cell_t v, char sep) {
  const auto u = static_cast<std::uint64_t>(v);
  p = put_five(p, static_cast<std::uint32_t>(u / 100000));
  *p++ = ' ';
  p = put_five(p, static_cast<std::uint32_t>(u % 100000));
  *p++ = sep;
  return p;
}

}  // namespace

// Printing starts at the units cell or at top, whichever is higher; in runs
// with limit < 0 the cells between limit and the units cell print as zeros.
// Twelve characters a cell and a newline after every sixth but the last.
void PRINT(const Reg& R) {
  LINE();
  const std::int64_t n = std::max<std::int32_t>(R.top, 0);
  const std::int64_t count = n - decimals + 1;
  if (count <= 0) return;
  std::unique_ptr<char[]> buf(new char[static_cast<std::size_t>(count * 13)]);
  char* p = buf.get();
  bool leading = true;
  int inLine = 0;
  for (std::int64_t idx = n; idx >= decimals; --idx) {
    const bool point = idx == 0 && decimals < 0;
    const char sep = point ? '.' : ' ';
    const cell_t v = R.at(idx);
    if (leading || use_reference_kernels || v < 0 || v >= kBase) {
      p = put_cell(p, v, leading, sep);
    } else {
      p = put_full_cell(p, v, sep);
    }
    if (point) leading = false;
    if (++inLine == 6) {
      inLine = 0;
      if (idx != decimals) *p++ = '\n';
    }
  }
  std::fwrite(buf.get(), 1, static_cast<std::size_t>(p - buf.get()), output);
}
