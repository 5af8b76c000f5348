// limb_rows: the exact number of lattice paths through a band given row by
// row, by rows of limbs run from both ends to the middle row.
//
// A path takes n steps; after t of them it stands at i, the steps of the
// first kind taken so far (the one bits of a block, the first sample's
// values). Row t of a band admits the cells i = low .. low + cells - 1, and
// a path counts if it starts at (0, 0), ends at (n, end) and keeps to the
// rows. The constrained triangle's band (band/band_rows.h, counted by
// count.h) and a band with bounds per row (general_band.h) are two
// RowRanges; both count here.
//
// countByLimbRows runs the rows from row 0 forward and from row n backward
// to the middle row, one half per thread when a second thread is worth it,
// and meets the two middle rows in a dot product; the same bytes come out
// for any number of threads. A row lives in limbs (see Half in
// limb_rows.cpp): each row is one GMP addition of the row before with
// itself shifted by one cell, and its memory is the widest row's cells, not
// the rectangle's.
//
// The limbs of the rows and of the dot product are taken through GMP's
// current memory functions, only on the calling thread and never while the
// second thread runs, and are all given back before the call returns; the
// second thread only adds limbs and asks the RowRanges for rows. Throws
// std::bad_alloc; nothing else.
#pragma once

#include <gmp.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace lumbra {

// The rows of a band. A row must hold only cells that lie on some path from
// (0, 0) to (n, end) through the band: then every cell's two neighbours in
// the row before (and after) lie in or right beside that row. A row of no
// cells means that no path passes.
class RowRanges {
 public:
  virtual ~RowRanges() = default;
  // low[j] and cells[j] of rows t, t + dir, ..., `count` of them (dir is 1 or
  // -1, and every one of these rows lies in 0 .. n). Called from both
  // threads at once, so it changes nothing.
  virtual void rows(std::int64_t t, int dir, std::size_t count, std::int64_t* low, std::int64_t* cells) const = 0;

 protected:
  RowRanges() = default;
  RowRanges(const RowRanges&) = default;
  RowRanges& operator=(const RowRanges&) = default;
};

// What the rows' room is sized by.
struct RowsShape {
  std::int64_t steps = 0;    // n >= 0: rows 0 .. n
  std::int64_t end = 0;      // the end point's i, 0 <= end <= n
  std::int64_t widest = 1;   // the most cells of any row
  // A guess at how fast the counts grow: they are taken to stay below
  // those of a straight band `spread` heights wide (a path's height is
  // 2i - t), widest - 1 = spread / 2 for a band of one width. A count that
  // outgrows the guess costs its half a second run with the proven room.
  std::int64_t spread = 0;
};

// Whether to abandon a count: the half on the calling thread polls the
// caller's stop once it has added about a million limbs since the last time
// (a few milliseconds), telling it the share of its expected work done so
// far, and the half on the other thread reads the answer.
class Stopper {
 public:
  explicit Stopper(const std::function<bool(double done)>& stop) : stop_(stop) {}
  // The limb additions the calling thread will poll with, in all (an
  // estimate; without one the share told is 0).
  void expect(double work) { expected_ = work; }
  // On the calling thread, after `limbs` more limb additions.
  bool poll(std::size_t limbs) {
    if (!stop_) return false;
    work_ += limbs;
    done_ += static_cast<double>(limbs);
    if (work_ >= poll_every) {
      work_ = 0;
      const double share = expected_ > 0 ? std::min(done_ / expected_, 0.99) : 0;
      if (stop_(share)) stopped_.store(true, std::memory_order_relaxed);
    }
    return stopped();
  }
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
  // Whether anyone listens: only then is the work worth estimating.
  bool listened() const { return static_cast<bool>(stop_); }

 private:
  // About a millisecond of rows: polling costs nothing that shows.
  static constexpr std::size_t poll_every = std::size_t{1} << 20;
  const std::function<bool(double done)>& stop_;
  std::size_t work_ = 0;
  double done_ = 0, expected_ = 0;
  std::atomic<bool> stopped_{false};
};

// Whether countByLimbRows runs its two halves on two threads: the forward
// half on a thread of its own, the backward one on the calling thread.
bool limbRowsTogether(unsigned threads, double work);

// log2 of 2cos(pi/(w + 3)), the growth per step of the paths that a band
// `w` heights wide (w + 1 heights) holds: 0 for w = 0, nearly 1 for a wide
// band.
double bitsPerStep(std::int64_t w);

// Sets c to the number of paths through `rows` and returns true, or returns
// false once `stop` says so (c then holds no count). `work`, the limb
// additions of all rows on one thread, decides whether a second thread
// (when threads >= 2) is worth starting.
bool countByLimbRows(mpz_ptr c, const RowRanges& rows, const RowsShape& shape, unsigned threads, double work,
                     Stopper& stop);

// The bytes of the rows that countByLimbRows takes for `shape` at first.
double limbRowsBytes(const RowsShape& shape);

// The limb additions of a row of `cells` cells `steps` rows from its end,
// where every count is below 2^log2All.
inline double rowLimbs(double cells, double steps, double log2All) {
  return cells * ((steps < log2All ? steps : log2All) / GMP_NUMB_BITS + 1);
}

}  // namespace lumbra
