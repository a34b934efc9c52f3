// Command interpreter: the runs, the command loop with its echoes, and the
// factorial, power and isomer tables. Owns the registers A, B and C of a run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "arith/arith.h"

// Reads precision pairs and commands from `in` until end of input, a negative
// D or a fatal error, writing to `out`. Returns the exit status (0 or 255).
int run(std::FILE* in, std::FILE* out);
// The same with the inputs read one after the other as one stream (at least
// one; standard input may come more than once, and is read again each time).
int run(std::span<std::FILE* const> inputs, std::FILE* out);

// The capacity check of the tables: refuses (status 255) an estimate, in cells,
// at or above `limit`. The estimate is 0.05 * count * ln(x) + 1.
void ACCEPT(std::int64_t count, double x);

// Commands 18, 19 and 20: read their arguments, then print the table built in A.
void factorial_table(Reg& A);
void power_table_of_base(Reg& A);
void power_table_of_exponent(Reg& A);

// Command 21: read n, then print the alkyl radical counts for N = 1 .. n.
// B ends holding R(n), C holding TER(n).
void isomer_table(Reg& B, Reg& C);

// Reads one integer argument and echoes it ("r := %d", low 32 bits).
std::int64_t read_int_arg();
