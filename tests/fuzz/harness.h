// The fuzz harness: one input through the whole interpreter in-process, and
// the checks every input must pass. Shared by the libFuzzer target and the
// unit tests, which replay the corpus and whole scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Register memory a case may take: 128 cells, A, B, C and a series' scratch
// registers at 20 to 40 cells each; more ends in ALARM("ALLOC"), fuzzed too.
inline constexpr std::int64_t kRegisterBudget = 1024;

// False when the input asks for more work than a fuzz case should do (too
// many integer cells, series or table rows), as the program's own scanners,
// precision set-up and table check read it.
bool within_bounds(const std::uint8_t* data, std::size_t size);

// Runs the input with the fast and the reference kernels: status 0 or 255,
// the output ending as the status says, both alike, no register left
// allocated. Empty when all hold, else what failed.
std::string check_input(const std::uint8_t* data, std::size_t size, std::int64_t budget = kRegisterBudget);

}  // namespace fuzz
