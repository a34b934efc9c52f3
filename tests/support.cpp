#include "support.h"

#include <cstdio>
#include <cstdlib>

#include "interp/interp.h"

RunResult run_script(const std::string& script) {
  std::string copy = script;
  std::FILE* in = fmemopen(copy.data(), copy.size(), "r");
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  int status = run(in, out);
  std::fclose(in);
  std::fclose(out);
  RunResult r{std::string(buf, len), status};
  std::free(buf);
  return r;
}

void set_run(int D, int E) { set_precision(D, E); }

void set_cells(Reg& R, std::initializer_list<cell_t> highFirst) {
  std::int64_t i = static_cast<std::int64_t>(highFirst.size()) - 1;
  for (std::int64_t k = 0; k < ncells(); ++k) R.cells[k] = 0;
  R.top = decimals;
  for (cell_t v : highFirst) {
    R.cells[i] = v;
    if (v != 0 && R.top == decimals) R.top = static_cast<std::int32_t>(i + decimals);
    --i;
  }
}

std::vector<cell_t> cells_of(const Reg& R) {
  std::vector<cell_t> v;
  for (std::int64_t i = ncells() - 1; i >= 0; --i) v.push_back(R.cells[i]);
  return v;
}
