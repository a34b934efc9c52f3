// The fuzz harness: runs one input through the whole interpreter in-process,
// within bounds that keep every case to milliseconds, and checks what every
// input, however hostile, must give. Shared by the libFuzzer target and by the
// unit tests, which replay the committed corpus and whole scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Register memory a case may take: 128 cells, that is A, B, C and the
// scratch registers of a series at some twenty to forty cells each. A larger
// precision ends the run with ALARM("ALLOC"), which is fuzzed as well.
inline constexpr std::int64_t kRegisterBudget = 1024;

// False when the input asks for more work than a fuzz case should do: integer
// cells beyond what the series can fill quickly, too many series commands, or
// tables of too many rows. It reads the numbers with the program's own
// scanners and judges them with its precision set-up and table check.
bool within_bounds(const std::uint8_t* data, std::size_t size);

// Runs the input with the fast and with the reference kernels and checks the
// outcome: status 0 or 255, the output ending as the status says (end of
// input, a negative D, a malformed number, an error message), both kernel
// paths alike, and no register left allocated. Empty when all hold,
// otherwise what failed. A fuzz input must be within bounds.
std::string check_input(const std::uint8_t* data, std::size_t size, std::int64_t budget = kRegisterBudget);

}  // namespace fuzz
