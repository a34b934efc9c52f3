// The precision of a run, ASSIGN at the edges of a double, the register
// budget, and ADD, MULT, DIV and LONGMULT at the edges the whole-program cases
// do not reach (the products through the dispatcher and the reference alike).
#include <cmath>
#include <functional>

#include "support.h"

namespace {

constexpr cell_t kMax = kBase - 1;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// The output and status of fn.
std::pair<std::string, int> outcome(const std::function<void()>& fn) {
  int status = 0;
  std::string out = capture(fn, &status);
  return {out, status};
}
const std::pair<std::string, int> kFine{"", -1};
std::pair<std::string, int> alarm(const char* name) { return {std::string("\nError in: ") + name, 255}; }

TEST(Arith, PrecisionFromDigits) {
  struct Row {
    int D, E, decimals, limit;
  };
  for (Row r : {Row{0, 1, 0, 0}, Row{1, 10, -1, 0}, Row{10, 11, -1, 1}, Row{11, 20, -2, 1}, Row{100, 21, -10, 2},
                Row{20, -8, -2, 0}, Row{20, -9, -2, -1}, Row{20, -18, -2, -1}, Row{20, -19, -2, -2},
                Row{2147483647, -2147483647 - 1, -214748365, -214748364}}) {
    set_precision(r.D, r.E);
    EXPECT_EQ(decimals, r.decimals) << r.D;
    EXPECT_EQ(limit, r.limit) << r.E;
    EXPECT_EQ(c39, r.limit - r.decimals);
  }
}

TEST(Arith, AssignAtTheEdges) {
  set_precision(10, 10);
  Reg R;
  for (double x : {1e10, std::nextafter(1e10, 0.0), -HUGE_VAL})
    EXPECT_EQ(outcome([&] { ASSIGN(R, x); }), alarm("ASSIGN")) << x;
  // ln(1e150) * K falls just short of 15, so 1e150 / 10^140 comes out at 10^10
  // and is renormalised.
  set_precision(0, 160);
  Reg S;
  ASSIGN(S, 1e150);
  EXPECT_EQ(S.top, 15);
  for (std::int64_t i = 0; i < ncells(); ++i) EXPECT_EQ(S.cells[i], i == 15 ? 1 : 0) << i;
  // 2^-1074 = 4940656.4584124654... * 10^-330: top cell 4940656 at index -33.
  // The double nearest 1e-305 is 99999.9999999999996... * 10^-310: truncated.
  set_precision(340, 1);
  Reg T;
  ASSIGN(T, std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(T.top, -33);
  EXPECT_EQ(T.at(-33), 4'940'656);
  EXPECT_EQ(T.at(-34), 4'584'124'654);
  ASSIGN(T, 1e-305);
  EXPECT_EQ(T.top, -31);
  EXPECT_EQ(T.at(-31), 99'999);
  EXPECT_EQ(T.at(-32), 9'999'999'999);
  // No cells at all: zero loads with top 0, 1 does not fit, 1e-30 fits nowhere
  // but is not too large; then cells -3 .. -1 only.
  set_precision(0, -9);
  Reg U;
  ASSIGN(U, 0);
  EXPECT_EQ(U.top, 0);
  EXPECT_EQ(outcome([&] { ASSIGN(U, 1); }).second, 255);
  ASSIGN(U, 1e-30);
  EXPECT_EQ(U.top, -3);
  set_precision(30, -9);
  Reg V;
  ASSIGN(V, 0.25);
  EXPECT_EQ(cells_of(V), (std::vector<cell_t>{2'500'000'000, 0, 0}));
}

TEST(Arith, BudgetRefusesHugeRegisters) {
  set_precision(1000000, 1);
  set_register_budget(1 << 19);
  EXPECT_EQ(outcome([] { Reg R; }), alarm("ALLOC"));
  EXPECT_EQ(register_bytes_in_use(), 0);
}

TEST(Arith, AddCarriesBorrowsAndTop) {
  set_precision(30, 21);  // cells 2 .. -3: a carry and a borrow through all of them
  Reg A, B;
  set_cells(A, {0, kMax, kMax, kMax, kMax, kMax});
  set_cells(B, {0, 0, 0, 0, 0, 1});
  ADD(B, +1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(A.top, 2);
  ADD(B, -1, A);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, kMax, kMax, kMax, kMax, kMax}));
  EXPECT_EQ(A.top, 1);
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

TEST(Arith, MultAndDivAtSixtyFourBits) {
  // (10^10 - 1) * (2^63 - 1) = 92233720358 53775807 * 10^10 - (2^63 - 1).
  set_precision(0, 40);
  Reg A;
  set_cells(A, {kMax});
  MULT(A, kInt64Max);
  EXPECT_EQ(cells_of(A), (std::vector<cell_t>{0, 922337203, 5932438603, 3145224193}));
  EXPECT_EQ(A.top, 2);
  EXPECT_EQ(outcome([&] { MULT(A, -1); }), alarm("MULT"));
  // (10^20 + 5) / (2^63 - 1) = 10 remainder 7766279631452241925 + 5.
  set_precision(0, 30);
  Reg B;
  set_cells(B, {1, 0, 5});
  EXPECT_FALSE(DIV(B, kInt64Max));
  EXPECT_EQ(cells_of(B), (std::vector<cell_t>{0, 0, 10}));
  EXPECT_EQ(B.top, 0);
  // A zero register reports zero; its top stays (below decimals) or, above
  // limit in a run without a units cell, becomes decimals.
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

// 10^10 times 10^10 at limit 1: the partial product fits, its shift by one
// cell does not. Limit 1, X = 10^10 - 1, Y = 10^10 + 2: X + X * 10^10 fits,
// X * (10^10 + 2) does not.
TEST(Arith, LongMultAlarms) {
  for (bool reference : {false, true}) {
    use_kernels(reference);
    set_precision(0, 20);
    Reg A, B, C, X, Y, Z;
    set_cells(A, {1, 0});
    set_cells(B, {1, 0});
    EXPECT_EQ(outcome([&] { LONGMULT(A, B, C); }), alarm("LONGMULT")) << reference;
    set_cells(X, {0, kMax});
    set_cells(Y, {1, 2});
    EXPECT_EQ(outcome([&] { LONGMULT(X, Y, Z); }), alarm("ADD")) << reference;
    set_precision(0, 10);
    Reg P, Q, R;
    set_cells(P, {kMax});
    set_cells(Q, {1});
    EXPECT_EQ(outcome([&] { LONGMULT(P, Q, R); }), kFine);
    EXPECT_EQ(cells_of(R), (std::vector<cell_t>{kMax}));
  }
}

}  // namespace
