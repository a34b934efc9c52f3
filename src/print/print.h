// Output: the printed form of a register. Owns the layout of digits, blanks,
// point and lines; the echoes of commands are the interpreter's.
#pragma once

#include "arith/arith.h"

// Starts a new output line.
void LINE();

// Writes R on a new line: ten digit positions a cell with a blank after the
// fifth, the point after the units cell, six cells to a line, leading zeros as
// blanks until the first nonzero digit or the point. No newline at the end.
void PRINT(const Reg& R);
