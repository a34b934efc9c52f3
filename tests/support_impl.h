#pragma once

#include <cstdio>
#include <cstdlib>

#include "io.h"

template <class Fn>
std::string capture(Fn fn, int* status) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* mem = open_memstream(&buf, &len);
  std::FILE* saved = output;
  output = mem;
  int st = -1;
  try {
    fn();
  } catch (const Fatal& f) {
    st = f.status;
  }
  output = saved;
  std::fclose(mem);
  std::string s(buf, len);
  std::free(buf);
  if (status != nullptr) *status = st;
  return s;
}
