// ETO and PITO by splitting the truncated series (series_split.cpp), for
// exp.cpp and pi.cpp. Internal to the functions.
#pragma once

#include "arith/arith.h"

// Each leaves exactly the registers of the term-by-term form (the result's
// cells and top, the scratch registers zero with top = decimals) and returns
// true; or returns false having changed nothing, for the term-by-term form to
// run: below the precision where splitting pays, when limit < 0 (where the
// term-by-term form alarms), and when its memory would not fit in what the
// register budget leaves (besides `extra` bytes the caller's own form needs).
bool eto_split(Reg& R, Reg& T);
bool pito_split(Reg& P, Reg& Q, Reg& R, std::int64_t extra);
