// Replays inputs through the fuzz harness without libFuzzer: every file named,
// and every file in every folder named. Each must lie within the harness's
// bounds and pass its checks. Built by every compiler, run by CTest.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path p = argv[i];
    if (fs::is_directory(p)) {
      for (const auto& entry : fs::directory_iterator(p))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::is_regular_file(p)) {
      files.push_back(p);
    } else {
      std::printf("FAIL %s: no such file or folder\n", p.c_str());
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::printf("FAIL: nothing to replay\n");
    return 1;
  }
  int failed = 0;
  for (const fs::path& f : files) {
    std::ifstream s(f, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(s)), std::istreambuf_iterator<char>());
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::string why = fuzz::within_bounds(data, bytes.size())
                          ? fuzz::check_input(data, bytes.size())
                          : "asks for more work than a fuzz case may do";
    if (!why.empty()) {
      std::printf("FAIL %s: %s\n", f.c_str(), why.c_str());
      ++failed;
    }
  }
  std::printf("replayed %zu inputs, %d failed\n", files.size(), failed);
  return failed == 0 ? 0 : 1;
}
