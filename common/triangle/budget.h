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
// What a triangle of n steps keeps (see trian.h):
//   - rows: one TrianRow and one center-line entry per step count x = 0..n;
//   - cells: a row holds at most min(d, x, k, n - k, n - x) + 1 cells; each
//     is a number object, a control block, a slot in its row and its limbs;
//   - a cell of row x is at most min(C(n, k), rho^x), rho = 2cos(pi/(2d+3))
//     (the largest step of a walk confined to a band of 2d + 1 heights), so
//     it has at most min(log2 C(n, k), x log2 rho) + 1 bits.
// What a command makes of the cells besides (the table's text) is estimated
// by the command, from the cell shape below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumbra {

struct MemoryEstimate {
  double rows = 0;   // heap: row records, center line and cell slots
  double cells = 0;  // pool: number objects, control blocks and limbs
  double text = 0;   // pool: the texts a command makes of the counts
  double total() const { return rows + cells + text; }
};

// Peak bytes of showC n k d: the counting engine's peak (countWalksBytes),
// the count and its text; no record per step.
// Requires 1 <= n, 0 <= k <= n, 0 <= d <= n.
MemoryEstimate showCMemory(int n, int k, int d);

// The bytes of a whole triangle (n, k, d) that keeps every row's cells;
// `text` is 0. Requires 1 <= n, 0 <= k <= n, 0 <= d <= n.
MemoryEstimate triangleMemory(int n, int k, int d);

// The bounds above as functions of the row x: cells(x) on the number of
// cells of row x, bits(x) on the bits of each. A value, cheap to make.
class CellShape {
 public:
  CellShape(int n, int k, int d);
  // Sum over the rows x = 0..n of (a0 + a1 bits(x)) times cells(x) when
  // perCell, else times 1. A constant number of steps, whatever n.
  double sum(double a0, double a1, bool perCell) const;
  // The most cells of any row, and the most bits of any cell.
  double maxCells() const;
  double maxBits() const;

  // c0 + c1 x: each bound is the least of a few such lines.
  struct Line {
    double c0, c1;
    double at(double x) const { return c0 + c1 * x; }
  };

 private:
  // The integer rows 0..n cut where two lines of one bound cross.
  std::vector<std::int64_t> pieces() const;

  std::int64_t n_;
  std::vector<Line> cells_;
  std::vector<Line> bits_;
};

// The bound on the number of bits of any cell in row x of the triangle
// (n, k, d), as described above.
double cellBitsBound(int n, int k, int d, std::int64_t x);

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t physicalMemory();

// The most memory this process can still take, and which limit sets it.
struct MemoryLimit {
  std::uint64_t bytes = 0;  // 0: no limit is known
  // "physical memory", "the address-space limit (ulimit -v)", "the
  // data-segment limit (ulimit -d)" or "the cgroup memory limit"; null when
  // no limit is known.
  const char* name = nullptr;
};

// The least of physical memory, the address-space and data-segment limits
// (less what the process already uses of them) and the memory limit of the
// process's cgroup (less what the cgroup already uses), where each is set.
MemoryLimit memoryLimit();

// The words of a refusal, when `need` bytes exceed the limit: "needs about
// 3 GiB of memory; this machine has 2 GiB" or "needs about 2 GiB of memory;
// the address-space limit (ulimit -v) leaves 285 MiB" (whole GiB, or whole
// MiB below one GiB; the need rounded up, the room down). Empty when the
// need fits or no limit is known.
std::string memoryShortfall(double need, const MemoryLimit& limit);

}  // namespace lumbra
