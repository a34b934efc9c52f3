// The run and the command loop.
#include <cstdio>
#include <memory>
#include <new>

#include "funcs/funcs.h"
#include "interp/interp.h"
#include "interp/progress.h"
#include "io.h"
#include "print/print.h"
#include "scan/scan.h"

std::int64_t read_int_arg() {
  progress_pause();
  std::int64_t r = readinteger();
  LINE();
  std::fprintf(output, "r := %d", static_cast<std::int32_t>(r));
  progress_resume();
  return r;
}

namespace {

double read_real_arg() {
  progress_pause();
  double r = readreal();
  LINE();
  std::fprintf(output, "r := %lg", r);
  progress_resume();
  return r;
}

// Echo texts of the commands 1 to 23, printed right after "No: %d".
const char* const kEcho[24] = {
    nullptr,
    " A := r;",
    " write(A);",
    " B := A;",
    " C := A;",
    " A := B;",
    " C := B;",
    " A := C;",
    " B := C;",
    " A := A + B;",
    " A := A - B;",
    " A := A*r;",
    " A := A/r;",
    " C := A*B;",
    " A := PI;",
    " A := exp(B);",
    " A := sqrt(r);",
    " A := exp(PI*sqrt(r));",
    " FACTORIAL TABLE(r, r, r);",
    " POWER TABLE(r, r, r, r|&variable);",
    " POWER TABLE(r, r, r, variable|&r);",
    " ISOMER TABLE(r);",
    " stop",
    " A := ETO;",
};

// One run: the registers live until command 22 (returns) or a fatal error.
void command_loop() {
  Reg A;
  Reg B;
  Reg C;
  for (;;) {
    LINE();
    LINE();
    auto code = static_cast<std::int32_t>(readinteger());
    std::fprintf(output, "No: %d", code);
    if (code < 1 || code > 23) continue;
    std::fputs(kEcho[code], output);
    progress_command(code, kEcho[code]);
    switch (code) {
      case 1: ASSIGN(A, read_real_arg()); break;
      case 2: PRINT(A); break;
      case 3: COPY(A, B); break;
      case 4: COPY(A, C); break;
      case 5: COPY(B, A); break;
      case 6: COPY(B, C); break;
      case 7: COPY(C, A); break;
      case 8: COPY(C, B); break;
      case 9: ADD(B, +1, A); break;
      case 10: ADD(B, -1, A); break;
      case 11: MULT(A, read_int_arg()); break;
      case 12: DIV(A, read_int_arg()); break;
      case 13: LONGMULT(A, B, C); break;
      case 14: PITO(A, B, C); break;
      case 15: EXP(B, A, C); break;
      case 16: SQRT(A, B, C, read_real_arg()); break;
      case 17: {
        std::int64_t r = read_int_arg();
        Reg T;
        PITO(A, B, C);
        SQRT(B, C, T, static_cast<double>(r));
        LONGMULT(A, B, C);
        EXP(C, A, B);
        break;
      }
      case 18: factorial_table(A); break;
      case 19: power_table_of_base(A); break;
      case 20: power_table_of_exponent(A); break;
      case 21: isomer_table(B, C); break;
      case 22: progress_idle(); return;
      case 23: ETO(A, B); break;
    }
    progress_idle();
  }
}

// Precision pairs and their runs, until a negative D.
void run_pairs() {
  for (;;) {
    auto D = static_cast<std::int32_t>(readinteger());
    if (D < 0) {
      LINE();
      return;
    }
    auto E = static_cast<std::int32_t>(readinteger());
    LINE();
    std::fprintf(output, "D: %d", D);
    LINE();
    std::fprintf(output, "E: %d", E);
    set_precision(D, E);
    command_loop();
  }
}

}  // namespace

int run(std::FILE* in, std::FILE* out) { return run(std::span(&in, 1), out); }

int run(std::span<std::FILE* const> inputs, std::FILE* out) {
  set_inputs(inputs);
  output = out;
  int status = 0;
  try {
    try {
      run_pairs();
    } catch (const std::bad_alloc&) {
      // Memory beyond the registers (scratch of the fast kernels, the printed
      // digits) that the machine refuses: the same end as a register beyond
      // the budget.
      ALARM("ALLOC");
    }
  } catch (const Fatal& f) {
    status = f.status;
  }
  std::fflush(output);
  return status;
}
