// budget: how much memory a triangle command needs, estimated from n, k and
// d alone before anything is built, so that work the machine cannot hold is
// refused at once instead of running until the kernel kills it.
//
// The estimates bound the bytes alive at the command's peak from above; they
// do not count the memory that the pool keeps in its chunks after a block
// has been freed (showC frees rows as it goes), nor the program itself. Every
// computation is in 64-bit integers or doubles, so any n up to 2147483647
// gives an answer, and each one costs a constant number of steps whatever n.
//
// What a triangle of n steps keeps (see trian.h and printTrian):
//   - rows: one TrianRow and one center-line entry per step count x = 0..n;
//   - cells: a row holds at most min(d, x, k, n - k, n - x) + 1 cells; each
//     is a number object, a control block, a slot in its row and its limbs;
//   - a cell of row x is at most min(C(n, k), rho^x), rho = 2cos(pi/(2d+3))
//     (the largest step of a walk confined to a band of 2d + 1 heights), so
//     it has at most min(log2 C(n, k), x log2 rho) + 1 bits;
//   - showTrian also holds the table's text: every column's counts, padded
//     to the column's widest count, and one line and the header, each as
//     wide as the labels plus every column and its blank.
#pragma once

#include <cstdint>

namespace lumbra {

struct MemoryEstimate {
  double rows = 0;   // heap: row records, center line and cell slots
  double cells = 0;  // pool: number objects, control blocks and limbs
  double text = 0;   // pool: the table's column texts, line and header (showTrian only)
  double total() const { return rows + cells + text; }
};

// Peak bytes of showC n k d: the counting engine's peak (countWalksBytes),
// the count and its text; no record per step.
// Requires 1 <= n, 0 <= k <= n, 0 <= d <= n.
MemoryEstimate showCMemory(int n, int k, int d);

// Peak bytes of showTrian n k d: every cell, then the table text besides.
// Requires 1 <= n, 0 <= k <= n, 0 <= d <= n.
MemoryEstimate showTrianMemory(int n, int k, int d);

// The bound on the number of bits of any cell in row x of the triangle
// (n, k, d), as described above.
double cellBitsBound(int n, int k, int d, std::int64_t x);

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t physicalMemory();

}  // namespace lumbra
