// What no output shows: the cells of a subnormal double, tops of zero
// registers, the cells ADD leaves alone, DIV's zero flag, the register
// budget, the two ends of an alarm, and what EXP reports to the progress hook.
#include "funcs/funcs.h"
#include "support.h"

namespace {

TEST(Arith, AssignedCellsAndTops) {
  // 2^-1074 = 4940656.4584124654... * 10^-330: top cell 4940656 at index -33.
  set_precision(340, 1);
  Reg T;
  ASSIGN(T, std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(T.top, -33);
  EXPECT_EQ(T.at(-33), 4'940'656);
  EXPECT_EQ(T.at(-34), 4'584'124'654);
  // No cells at all: zero loads with top 0; 1e-30 fits nowhere, is not too
  // large, and leaves top below decimals.
  set_precision(0, -9);
  Reg U;
  ASSIGN(U, 0);
  EXPECT_EQ(U.top, 0);
  ASSIGN(U, 1e-30);
  EXPECT_EQ(U.top, -3);
}

TEST(Arith, BudgetRefusesHugeRegisters) {
  set_precision(1000000, 1);
  set_register_budget(1 << 19);
  int status = 0;
  EXPECT_EQ(capture([] { Reg R; }, &status), "\nError in: ALLOC");
  EXPECT_EQ(status, 255);
  EXPECT_EQ(register_bytes_in_use(), 0);
}

TEST(Arith, AddWalkAndTop) {
  // Cells above the source's top are not touched once no carry is left: an
  // invalid cell there survives. A zero from a tiny load walks one cell.
  set_precision(20, 11);
  Reg C, D, Z;
  set_cells(C, {kBase + 7, 0, 1, 2});
  set_cells(D, {0, 0, 0, 5});
  ADD(D, +1, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{kBase + 7, 0, 1, 7}));
  ASSIGN(Z, 1e-40);
  ASSERT_LT(Z.top, decimals);
  set_cells(C, {0, 4, 1, 7});
  ADD(Z, +1, C);
  EXPECT_EQ(cells_of(C), (std::vector<cell_t>{0, 4, 1, 7}));
  EXPECT_EQ(C.top, 0);
  // A set top cell, one cell (decimals == limit), no cells: top is limit.
  set_precision(10, 11);
  Reg E, F;
  set_cells(E, {1, 0, 0});
  ADD(F, +1, E);
  EXPECT_EQ(E.top, 1);
  for (int e : {1, -9}) {
    set_precision(0, e);
    Reg G, H;
    ADD(H, +1, G);
    EXPECT_EQ(G.top, limit);
  }
}

TEST(Arith, DivReportsZero) {
  set_precision(0, 30);
  Reg B;
  set_cells(B, {1, 0, 5});
  EXPECT_FALSE(DIV(B, 7));
  // A zero register's top stays (below decimals) or, above limit in a run
  // without a units cell, becomes decimals.
  set_precision(10, 1);
  Reg C;
  ASSIGN(C, 1e-30);
  EXPECT_TRUE(DIV(C, 7));
  EXPECT_EQ(C.top, -3);
  set_precision(30, -9);
  Reg D;
  ASSIGN(D, 0);
  EXPECT_TRUE(DIV(D, 3));
  EXPECT_EQ(D.top, decimals);
}

// An alarm unwinds to its catcher, the exit hook untouched; inside a NoUnwind
// (GMP's allocation functions) it writes the same bytes, runs the hook and
// ends the process with status 255; after the NoUnwind it unwinds again.
bool hook_ran = false;

TEST(Alarm, UnwindsOrEndsTheProcess) {
  hook_ran = false;
  exit_hook = [] { hook_ran = true; };
  int status = 0;
  EXPECT_EQ(capture([] { ALARM("MULT"); }, &status), "\nError in: MULT");
  EXPECT_EQ(status, 255);
  { NoUnwind for_a_while; }
  EXPECT_EQ(capture([] { ALARM("ADD"); }, &status), "\nError in: ADD");
  EXPECT_EQ(status, 255);
  EXPECT_FALSE(hook_ran);
  exit_hook = nullptr;

  SKIP_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        output = stderr;
        exit_hook = [] { std::fputs("<hook>", stderr); };
        NoUnwind inside_gmp;
        try {
          ALARM("ALLOC");
        } catch (...) {
          std::fputs("<caught>", stderr);
        }
        std::exit(0);
      },
      testing::ExitedWithCode(255), "^\nError in: ALLOC<hook>$");
}

// EXP reports one stage, its terms, with an estimate off by one at most (0,
// not known, for terms below every cell); with no hook nothing is heard.
struct Heard {
  const char* what = nullptr;
  std::int64_t total = -1;
  bool estimated = false;
  int stages = 0;
};
Heard heard;

TEST(Progress, ExpTermsAsEstimated) {
  for (int D : {1, 10, 100, 1000, 5000}) {
    for (double x : {1e-30, 1e-5, 0.5, 1.0, 2.0, 40.1, 163.0, 1000.0}) {
      set_precision(D, 600);
      Reg X, R, S;
      ASSIGN(X, x);
      heard = {};
      progress_done = 0;
      progress_hook = [](const char* what, std::int64_t total, bool estimated) {
        heard = {what, total, estimated, heard.stages + 1};
      };
      EXP(X, R, S);
      progress_hook = nullptr;
      const std::int64_t terms = progress_done;
      SCOPED_TRACE("exp(" + std::to_string(x) + ") at D = " + std::to_string(D));
      EXPECT_EQ(heard.stages, 1);
      EXPECT_STREQ(heard.what, "exp term");
      EXPECT_TRUE(heard.estimated);
      EXPECT_GE(terms, 2);
      if (heard.total != 0) {
        EXPECT_LE(std::llabs(heard.total - terms), 1) << "estimated " << heard.total;
      }
      EXPECT_EQ(heard.total == 0, X.top < decimals);
    }
  }
  set_precision(100, 600);
  Reg X, R, S;
  ASSIGN(X, 2.0);
  progress_done = -7;
  EXP(X, R, S);
  EXPECT_EQ(progress_done, -7);
}

}  // namespace
