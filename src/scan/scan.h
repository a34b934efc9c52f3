// Input scanning: the two table-driven scanners that turn the input into a
// signed 64-bit integer or a double. They own the kept characters of the
// current number and end the run at end of input or on a malformed number.
#pragma once

#include <cstdint>

// Next integer of the input (digits wrap modulo 2^64 beyond 18 or 19 of them).
std::int64_t readinteger();

// Next real of the input: mantissa digits by fused multiply-add, then
// pow(10, exponent - fraction digits) times the mantissa.
double readreal();

// The classes of characters and the scanners' state tables (scan_tables.cpp).
enum CharClass : int { kSpace, kDigit, kSeparator, kSign, kPoint, kExponentMark };
int char_class(int ch);
extern const signed char kIntNext[3][6];
extern const signed char kIntAction[3][6];
extern const signed char kRealNext[6][6];
extern const signed char kRealAction[6][6];
