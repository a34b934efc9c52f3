// The scanners' state and action tables, laid out row by row as designed.
// Columns: space, digit, separator, sign, point, exponent mark. State 9 means
// no further state; it only stands beside actions that end the scan.
#include "scan/scan.h"

// clang-format off
const signed char kIntNext[3][6] = {
  /* 0 start       */ {0, 2, 0, 1, 0, 0},
  /* 1 after sign  */ {0, 2, 9, 9, 9, 9},
  /* 2 in digits   */ {0, 2, 9, 9, 9, 9},
};
// 0 nothing, 1 sign, 2 digit, 3 end, 4 error
const signed char kIntAction[3][6] = {
  /* 0 start       */ {0, 2, 0, 1, 0, 0},
  /* 1 after sign  */ {0, 2, 4, 4, 4, 4},
  /* 2 in digits   */ {0, 2, 3, 4, 4, 4},
};

const signed char kRealNext[6][6] = {
  /* 0 start              */ {0, 2, 0, 1, 3, 4},
  /* 1 after sign         */ {0, 2, 9, 3, 5, 4},
  /* 2 integer digits     */ {0, 2, 9, 9, 3, 4},
  /* 3 fraction digits    */ {0, 3, 9, 9, 9, 4},
  /* 4 after exponent mark*/ {0, 5, 9, 5, 9, 9},
  /* 5 exponent digits    */ {0, 5, 9, 9, 9, 9},
};
// 0 nothing, 1 mantissa sign, 2 mantissa digit, 3 fraction digit,
// 4 exponent sign, 5 exponent digit, 6 end, 7 error
const signed char kRealAction[6][6] = {
  /* 0 start              */ {0, 2, 0, 1, 0, 0},
  /* 1 after sign         */ {0, 2, 7, 7, 0, 0},
  /* 2 integer digits     */ {0, 2, 6, 7, 0, 0},
  /* 3 fraction digits    */ {0, 3, 6, 7, 7, 0},
  /* 4 after exponent mark*/ {0, 5, 6, 4, 7, 7},
  /* 5 exponent digits    */ {0, 5, 6, 7, 7, 7},
};
// clang-format on

int char_class(int ch) {
  if (ch == ' ') return kSpace;
  if (ch >= '0' && ch <= '9') return kDigit;
  if (ch == '+' || ch == '-') return kSign;
  if (ch == '.') return kPoint;
  if (ch == 'E' || ch == 'e' || ch == '\'') return kExponentMark;
  return kSeparator;
}
