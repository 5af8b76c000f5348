// The constrained triangle: Pascal's triangle of walk counts whose walks stay
// inside a band around the straight line from (0, 0) to (n, 2k - n).
//
// A bit block b1..bn is read as a walk that steps up for a one bit and down
// for a zero bit; after x steps it stands at (x, y). Trian(mp, n, k, d, ...)
// counts, for every point of the band of half-width d, the walks from (0, 0)
// to that point that never leave the band; its end-point cell is the number
// of n-bit blocks with k one bits whose walk stays within d of the line.
//
// Each cell is a BigInt of its own in the pool given to the constructor, held
// by its only sh_ptr; the rows and their cell lists are heap vectors owned by
// the Trian. The Trian keeps no reference to the pool, which must outlive it.
// A Trian is complete when its constructor returns and never changes after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kova/bigint.h"
#include "kova/mem_pool.h"
#include "kova/sh_ptr.h"

namespace lumbra {

// Replaces `line` with L(0)..L(n), L(x) = x*(2k - n)/n truncated toward
// zero, so L(0) = 0 and L(n) = 2k - n (the points of band/center_line.h,
// which walks the line point by point). Requires n > 0 and 0 <= k <= n.
void centerLine(int n, int k, std::vector<int>& line);

// The cells of one row, in ascending height. The list is given room for
// exactly the row's cell count once and then filled; it never grows.
// NOTE: one word (the counts sit in front of the cells on the heap) where a
// vector takes three. Every row has a list, also the rows that a triangle
// built with lastRowOnly has released, so for n = 100000 the difference is
// 1.6 MB of the run's peak memory.
class TrianCells {
 public:
  TrianCells() = default;
  TrianCells(TrianCells&& o) noexcept : b_(o.b_) { o.b_ = nullptr; }
  TrianCells& operator=(TrianCells&&) = delete;
  ~TrianCells() { clear(); }

  // Room for n cells, taken from the heap; the list must be without room.
  // Throws std::bad_alloc.
  void reserve(std::size_t n);
  // Appends a reference to c; there must be room for it.
  void push_back(const kova::sh_ptr<kova::BigInt>& c);
  // Releases every cell in ascending order, then the room.
  void clear() noexcept;

  std::size_t size() const { return b_ ? b_->size : 0; }
  const kova::sh_ptr<kova::BigInt>& operator[](std::size_t i) const { return b_->cells()[i]; }
  const kova::sh_ptr<kova::BigInt>& back() const { return b_->cells()[b_->size - 1]; }

 private:
  // One heap block: this header, then room for `room` cells.
  struct block {
    std::uint32_t size;
    std::uint32_t room;
    kova::sh_ptr<kova::BigInt>* cells() { return reinterpret_cast<kova::sh_ptr<kova::BigInt>*>(this + 1); }
  };
  static_assert(sizeof(block) % alignof(kova::sh_ptr<kova::BigInt>) == 0);

  block* b_ = nullptr;  // null when the list has no room
};

// The band's points after x steps: heights mn, mn + 2, ..., mx, all of the
// parity of x. An empty row has mn == mx + 2 (only when d = 0 and the line
// falls between two heights of the row's parity).
struct TrianRow {
  int mn;
  int mx;
  // The cell of height y at index (y - mn) / 2, (mx - mn) / 2 + 1 of them;
  // empty in an empty row and in a row whose cells were released.
  TrianCells vi;
};

class Trian {
 public:
  // Builds every row and cell of the triangle of n = steps, k = ones and
  // d = halfWidth. With lastRowOnly each row's cells are
  // released as soon as the next row is complete, so only row n keeps its
  // cells. Out-of-range arguments are hard assertions; std::bad_alloc from
  // the pool or the heap passes after everything made so far is released.
  Trian(kova::mem_pool& mp, int steps, int ones, int halfWidth, bool lastRowOnly);

  // The bounds of row x, also for a row that is empty or was released.
  int mn(int x) const;
  int mx(int x) const;
  // The cell (x, y) of a row that holds its cells. Valid while the Trian lives.
  kova::BigInt& at(int x, int y) const;
  int getN() const { return n; }
  // The end-point cell (n, 2k - n).
  kova::BigInt& getC() const;

 private:
  int n;
  int k;
  [[maybe_unused]] int d;  // kept with n and k: the triangle's parameters
  // n + 1 rows, one for each step count x = 0..n. Consecutive rows overlap:
  // mn(x) >= mn(x-1) - 1 and mx(x) <= mx(x-1) + 1, so a neighbour of a cell
  // lies in the previous row as soon as it lies within one of its bounds.
  std::vector<TrianRow> vc;
};

// The number of one bits k of the non-empty block vb, and the largest
// distance d of its walk from the center line of (vb.size(), k): the least
// half-width of a band that holds the walk.
void walkStats(const std::vector<bool>& vb, int& k, int& d);

}  // namespace lumbra
