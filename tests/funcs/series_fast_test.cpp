// PITO, ETO, EXP and SQRT: the split and cycle-skipping forms against the
// straightforward ones, every register they leave (cells and tops) and their
// alarms compared, over many precisions.
#include <gtest/gtest.h>

#include "funcs/funcs.h"
#include "random_operands.h"

namespace {

// Sets N fast and N reference registers the same way by `setup`, then
// compares what `fn` does with them.
template <int N, class Setup, class Fn>
testing::AssertionResult registers_agree(const std::string& what, Setup setup, Fn fn) {
  Reg fast[N];
  Reg ref[N];
  setup(fast);
  setup(ref);
  return agree_with_reference(what, fast, ref, fn);
}

std::string run_name(const char* routine) {
  std::ostringstream s;
  s << routine << " at " << describe_run();
  return s.str();
}

// Every D up to 400, then random D up to 8000 (the split serves from 300
// decimals for e and 500 for pi), each at a random E (E = -9
// makes limit < 0, where the series alarm), with registers holding junk
// before: their former values must not matter.
template <int N, class Fn>
void series_match_reference(const char* routine, Fn fn) {
  Operands ops(std::string(routine) + "MatchesReference");
  for (int round = 0; round < 460; ++round) {
    const int D = round <= 400 ? round : static_cast<int>(ops.below(8000));
    static const int kE[] = {1, 10, 11, 20, 45, -9};
    set_run(D, kE[ops.below(6)]);
    Reg junk;
    ops.fill(junk);
    auto setup = [&](Reg* r) {
      for (int k = 0; k < N; ++k) COPY(junk, r[k]);
    };
    ASSERT_TRUE(registers_agree<N>(run_name(routine), setup, fn));
  }
}

TEST(SeriesFast, PitoMatchesReference) {
  series_match_reference<3>("PITO", [](Reg* r) { PITO(r[0], r[1], r[2]); });
}

TEST(SeriesFast, EtoMatchesReference) {
  series_match_reference<2>("ETO", [](Reg* r) { ETO(r[0], r[1]); });
}

// Where the register budget leaves no room for the split's numbers the
// term-by-term forms run, and where it leaves none for pi's two working
// registers both forms end in the same ALLOC alarm.
TEST(SeriesFast, SeriesWithinTheRegisterBudget) {
  set_run(3000, 11);
  const std::int64_t reg = ncells() * std::int64_t{sizeof(cell_t)};
  const std::int64_t budget = register_budget();
  for (std::int64_t room : {std::int64_t{0}, reg, 2 * reg - 1, 2 * reg, 2 * reg + 4096, budget / 2}) {
    std::ostringstream what;
    what << run_name("series") << " with room for " << room << " bytes";
    auto within = [&](auto fn) {
      return [&, fn](Reg* r) {
        set_register_budget(register_bytes_in_use() + room);
        fn(r);
        set_register_budget(budget);
      };
    };
    ASSERT_TRUE(registers_agree<3>(what.str(), [](Reg*) {},
                                   within([](Reg* r) { PITO(r[0], r[1], r[2]); })));
    ASSERT_TRUE(registers_agree<2>(what.str(), [](Reg*) {}, within([](Reg* r) { ETO(r[0], r[1]); })));
    set_register_budget(budget);
  }
}

// X is r[0]; R, S are r[1], r[2]. X small enough for the series to converge
// at E = 11 or 20, and larger ones that end in alarms.
TEST(SeriesFast, ExpMatchesReference) {
  Operands ops("ExpMatchesReference");
  for (int round = 0; round < 80; ++round) {
    static const int kE[] = {1, 11, 20, 20, 30};
    set_run(static_cast<int>(ops.below(300)), kE[ops.below(5)]);
    static const double kX[] = {0, 1, 0.5, 2.5, 10, 40.1091, 1e-12};
    const double x = ops.chance(50) ? kX[ops.below(7)] : ops.real();
    Reg X;
    if (ops.chance(70)) {
      ASSIGN(X, x < 45 ? x : 3.25);
    } else {
      ops.fill(X, 0);  // any cells, integer part below 10^10
      X.cells[limit - decimals] = 0;
      if (ops.chance(70) && -decimals < ncells()) X.cells[-decimals] %= 50;
    }
    auto setup = [&](Reg* r) { COPY(X, r[0]); };
    ASSERT_TRUE(registers_agree<3>(run_name("EXP") + " of " + describe(X), setup,
                                   [](Reg* r) { EXP(r[0], r[1], r[2]); }));
  }
}

TEST(SeriesFast, SqrtMatchesReference) {
  Operands ops("SqrtMatchesReference");
  for (int round = 0; round < 150; ++round) {
    static const int kE[] = {1, 10, 11, 20, 21, 40};
    set_run(static_cast<int>(ops.below(round < 140 ? 700 : 2000)), kE[ops.below(6)]);
    static const double kV[] = {0, -0.0, -2, NAN, INFINITY, 1e10, 1e-30, 2, 163};
    const double v = ops.chance(15) ? kV[ops.below(9)] : ops.real();
    std::ostringstream what;
    what << run_name("SQRT") << " of " << v;
    ASSERT_TRUE(registers_agree<3>(what.str(), [](Reg*) {},
                                   [v](Reg* r) { SQRT(r[0], r[1], r[2], v); }));
  }
}

// Precisions and values whose passes end in cycles of many periods (state
// after pass j = state after pass i): period 1 (237 decimals, v = 0.3, from
// pass 11; exact roots from pass 0), 2 (v = 2), 5 (200, 0.3), 6 (1014, 10), 8
// (237, 7), 10 (1051, 13), 14 (1273, 163, from pass 20), 16 (1014, 10^6 + 3,
// from pass 34) and 22 (1000, 10^6 + 3, from pass 36); perfect squares whose
// passes rewrite every cell (9, 144, 2.25: 3.000...01 and 2.999...98 in
// turn); each also ten decimals further on, where the number of passes and
// often the cycle differ.
TEST(SeriesFast, SqrtCyclesOfManyPeriods) {
  struct Row {
    int D;
    int E;
    double v;
  };
  for (Row r : {Row{237, 11, 0.3}, Row{1000, 11, 4}, Row{100, 11, 2}, Row{200, 20, 0.3},
                Row{1014, 11, 10}, Row{237, 20, 7}, Row{1051, 11, 13}, Row{1273, 20, 163},
                Row{1014, 20, 1000003}, Row{1000, 20, 1000003}, Row{0, 20, 2}, Row{10, 11, 0.25},
                Row{1000, 11, 9}, Row{733, 11, 144}, Row{1000, 11, 2.25}}) {
    for (int D : {r.D, r.D + 10}) {
      set_run(D, r.E);
      std::ostringstream what;
      what << run_name("SQRT") << " of " << r.v;
      ASSERT_TRUE(registers_agree<3>(what.str(), [](Reg*) {},
                                     [&](Reg* reg) { SQRT(reg[0], reg[1], reg[2], r.v); }));
    }
  }
}

// At limit 0 the partial products need room above the factors: whether a root
// alarms depends on the digits, and the fast form must alarm where and how
// the passes do.
TEST(SeriesFast, SqrtAlarmsAtLimitZero) {
  for (double v : {2.0, 4.0, 0.5, 0.25, 3.0, 0.9}) {
    for (int D = 1; D <= 45; D += 2) {
      set_run(D, 10);
      std::ostringstream what;
      what << run_name("SQRT") << " of " << v;
      ASSERT_TRUE(registers_agree<3>(what.str(), [](Reg*) {},
                                     [v](Reg* r) { SQRT(r[0], r[1], r[2], v); }));
    }
  }
  // The documented outcome for v = 2: ten decimals fit, eleven alarm.
  set_run(11, 10);
  Reg R, S1, S2;
  EXPECT_EQ(capture([&] { SQRT(R, S1, S2, 2); }), "\nError in: MULT");
}

}  // namespace
