// fixcalc: a calculator for non-negative fixed-point decimal numbers.
#include <cstdio>

#include "interp.h"

int main() { return run(stdin, stdout); }
