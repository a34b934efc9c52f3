// Fixed-point arithmetic: the register, the precision of a run, and the
// kernels that load, copy, add, scale and multiply registers. Owns `decimals`,
// `limit`, `c39` and `ALARM`; printing and the series live elsewhere.
#pragma once

#include <cstdint>
#include <vector>

using cell_t = std::int64_t;

inline constexpr cell_t kBase = 10'000'000'000;  // one cell holds ten digits
inline constexpr int kCellDigits = 10;

// Precision of the run: absolute index of the lowest cell, of the highest cell,
// and the number of cells minus one. Set by `set_precision`, read everywhere.
extern std::int32_t decimals;
extern std::int32_t limit;
extern std::int32_t c39;

// decimals, limit and c39 from the requested decimal and integer digits.
void set_precision(std::int32_t D, std::int32_t E);

// Number of cells of every register of the run (zero when limit < decimals).
inline std::int64_t ncells() { return c39 >= 0 ? std::int64_t{c39} + 1 : 0; }

// A non-negative fixed-point number: ncells() cells, cell i of absolute index
// i + decimals, and `top`, the index of the most significant cell. Every cell
// above `top` is zero. Allocated zero with top 0; owns its cells, and
// kGuardCells more on either side that hold no part of its value (a product
// made in place keeps its columns below the point and its last carries there).
inline constexpr std::int64_t kGuardCells = 4;
struct Reg {
  cell_t* cells = nullptr;
  std::int32_t top = 0;
  std::int64_t bytes = 0;  // allocated with the precision of its run

  Reg();
  ~Reg();
  Reg(const Reg&) = delete;
  Reg& operator=(const Reg&) = delete;

  // The cell of absolute index n, or 0 where the register has no such cell.
  cell_t at(std::int64_t n) const {
    std::int64_t i = n - decimals;
    return i >= 0 && i < ncells() ? cells[i] : 0;
  }
};

// Register memory in use, and the most the run may take before allocation
// fails with ALARM("ALLOC") (about half of the machine's memory).
std::int64_t register_bytes_in_use();
std::int64_t register_budget();
void set_register_budget(std::int64_t bytes);

// Prints "Error in: <name>" on a new line and ends the run with status 255.
[[noreturn]] void ALARM(const char* name);

// R := |x| (two cells at most; a NaN loads as zero). ALARM("ASSIGN") when the
// value needs a cell above `limit` or is infinite. `fresh`: R has just been
// made, its cells are zero already and are not written again, so that the
// pages of a register that holds a short value take no memory.
void ASSIGN(Reg& R, double x, bool fresh = false);

// dst := src (all cells and top).
void COPY(const Reg& src, Reg& dst);

// dst := dst + f * src, f = +1 or -1; the walk stops past `srcTop` once no carry
// is left. Recomputes dst's top. ALARM("ADD") on overflow or a negative result.
void ADD(const cell_t* src, std::int32_t srcTop, int f, Reg& dst);
inline void ADD(const Reg& src, int f, Reg& dst) { ADD(src.cells, src.top, f, dst); }

// R := R * m, raising top as the product needs. ALARM("MULT") on overflow above
// `limit` and for a negative m.
void MULT(Reg& R, std::int64_t m);

// R := floor(R / m) at the last cell; returns true when R became zero.
// ALARM("DIV") for m <= 0.
bool DIV(Reg& R, std::int64_t m);

// A term of a series from the product S: T := S, T := floor(T / m) and
// R := R + T, with the cells, tops and alarms of COPY, DIV and ADD; `zero` is
// DIV's flag. In one pass, for long terms in halves on two threads. Returns
// false, with nothing changed, where m is not a short divisor or divides the
// base, or S has no cells (then the caller runs the three).
bool DIV_ADD_fast(const Reg& S, Reg& T, std::int64_t m, Reg& R, bool& zero);

// What a product keeps of its last operands for the next: their cells and
// the normalised sums of the product's columns from a cell below the point
// up. When the next operands differ from them only in a few low cells, as
// those of an iteration that has settled do from pass to pass, the product
// follows from those sums by a few short products. Holds about three
// registers' worth of cells; owned by the caller, for one run. As the
// products it serves need no transforms, its first keeps room for itself by
// freeing their buffers (a caller passes a memo once its products settle).
struct ProductMemo {
  std::vector<cell_t> x, y;         // the operands' cells from the lowest
  std::vector<std::uint64_t> sums;  // the columns from `base` up, normalised, n cells
  std::int64_t base = 0, n = 0;
  std::int32_t decimals = 0;  // of the run it was made in
  bool kept = false;
  bool freed = false;  // whether it freed the buffers of the transforms
};

// Z := X * Y, each partial product X * Y[i] truncated on its own. X and Y may be
// the same register; Z must be neither. Dispatches to the fast kernel unless
// `use_reference_kernels` is set; both give the same cells, tops and alarms.
// A caller that knows the products around it may pass the memo of those that
// came before it from the same place, and yNext where Y is the first factor
// of the next product (its transform is then the one kept for that).
void LONGMULT(const Reg& X, const Reg& Y, Reg& Z, ProductMemo* memo = nullptr, bool yNext = false);

// The straightforward schoolbook LONGMULT: copy, MULT, shift, ADD per cell.
void LONGMULT_reference(const Reg& X, const Reg& Y, Reg& Z);

// Test-only switch: when true every kernel with a fast path takes its
// reference path instead.
extern bool use_reference_kernels;
