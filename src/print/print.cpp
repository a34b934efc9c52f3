// LINE and PRINT.
#include "print.h"

#include <algorithm>
#include <string>

#include "../io.h"

void LINE() { std::fputc('\n', output); }

namespace {

// Appends the twelve characters of cell v: its digits with `fill` for zeros
// until the first nonzero digit, a blank after the fifth, then `sep`.
void put_cell(std::string& s, cell_t v, bool& leading, char sep) {
  char fill = leading ? ' ' : '0';
  cell_t divisor = kBase / 10;
  for (int pos = 1; pos <= kCellDigits; ++pos, divisor /= 10) {
    cell_t q = v / divisor;
    v %= divisor;
    if (q != 0) {
      s += static_cast<char>('0' + q);
      fill = '0';
      leading = false;
    } else {
      s += fill;
    }
    if (pos == 5) s += ' ';
  }
  s += sep;
}

}  // namespace

// Printing starts at the units cell or at top, whichever is higher; in runs
// with limit < 0 the cells between limit and the units cell print as zeros.
void PRINT(const Reg& R) {
  LINE();
  std::string s;
  const std::int64_t n = std::max<std::int32_t>(R.top, 0);
  s.reserve(static_cast<std::size_t>((n - decimals + 1) * 13));
  bool leading = true;
  std::int64_t count = 0;
  for (std::int64_t idx = n; idx >= decimals; --idx) {
    bool point = idx == 0 && decimals < 0;
    put_cell(s, R.at(idx), leading, point ? '.' : ' ');
    if (point) leading = false;
    if (++count % 6 == 0 && idx != decimals) s += '\n';
  }
  std::fwrite(s.data(), 1, s.size(), output);
}
