// libFuzzer target: the bytes are the whole input stream of the interpreter.
// A fatal error of the program ends the case (run returns its status); inputs
// that ask for more work than a case should do are left out of the corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::within_bounds(data, size)) return -1;
  std::string why = fuzz::check_input(data, size);
  if (!why.empty()) {
    std::fprintf(stderr, "fuzz_run: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
