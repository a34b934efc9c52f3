// Eight terms of PITO at once in the eight lanes of the AVX-512 vector units,
// for pi.cpp. Internal to the functions.
#pragma once

#include <cstdint>

#include "../arith/divisor.h"

// Cells of padding below position 0 and above the top of the lane arrays.
inline constexpr std::int64_t kLanePad = 16;

// Largest divisor of the sum S1 + Q + R for which the lanes' dividends,
// below (d + 3) * kBase, stay below 2^51.
inline constexpr u64 kLaneDivisorMax = (u64{1} << 51) / kBase - 3;

// Whether the processor has the vector units (AVX-512 F and IFMA).
bool pi_lanes_available();

// The eight terms with divisors d0, d0 + 2, ..., d0 + 14 (odd, at most
// kLaneDivisorMax): at array positions hi down to 0, for each term in turn,
// pacc += (-1)^((d-1)/2) * floor((S1 + Q + R) / d) cell by cell (the quotient
// cells of a long division of the unnormalised sum), then S1 := floor(S1 / 64),
// Q := floor(Q / 3249) and R := floor(R / 57121). qTop, rTop: the top
// positions of Q and R, -1 for a finished series (zero, left alone). hi is at
// least every top. The arrays have kLanePad cells of padding on either side,
// zero above; what the terms leave in the padding below position 0 is not
// part of any value.
void pi_lanes_block(u64* s1, u64* q, u64* r, std::int64_t* pacc, std::int64_t hi, std::int64_t qTop,
                    std::int64_t rTop, u64 d0);
