#include "count/limb_rows.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

#include "count/binomial_size.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;

constexpr int limb_bits = GMP_NUMB_BITS;

// Limbs taken through GMP's current memory functions, given back with their
// size when the scope ends.
class Limbs {
 public:
  explicit Limbs(std::size_t count) : count_(count), p_(take(count)) {}
  ~Limbs() { give(p_, count_); }
  // Replaces the limbs with `count` new ones; on failure nothing changes.
  void reset(std::size_t count) {
    mp_limb_t* p = take(count);
    give(p_, count_);
    p_ = p;
    count_ = count;
  }
  Limbs(const Limbs&) = delete;
  Limbs& operator=(const Limbs&) = delete;
  mp_limb_t* get() const { return p_; }

 private:
  static mp_limb_t* take(std::size_t count) {
    void* (*alloc)(std::size_t);
    mp_get_memory_functions(&alloc, nullptr, nullptr);
    return static_cast<mp_limb_t*>(alloc(count * sizeof(mp_limb_t)));
  }
  static void give(mp_limb_t* p, std::size_t count) {
    void (*release)(void*, std::size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(p, count * sizeof(mp_limb_t));
  }

  std::size_t count_;
  mp_limb_t* p_;
};

// The rows a half asks its RowRanges for at a time: one call per this many
// rows costs nothing, and the rows fit in a few KiB of stack.
constexpr std::size_t rows_at_once = 256;

// One half of the paths: the rows from row `from` to row `to`, one step at a
// time, starting from the single path at `from` (the start point forwards,
// the end point backwards). A row of `cells` numbers lies in limbs as
// cells + 2 slots of `stride` limbs: an empty slot, the cells from the
// lowest up, an empty slot. Since a cell is the sum of its two neighbours
// in the row before, a whole row is one mpn_add_n of that row with itself
// shifted by one slot; the empty slots stand for the cells outside the band.
// Every cell is kept below 2^(stride * limb_bits - 1), so a sum never
// carries out of its slot; the stride grows by a limb when a cell reaches
// that.
// NOTE: one addition per row rather than per cell: GMP's loop runs over the
// whole row, and no cell costs a call, a branch or a limb count of its own.
class Half {
 public:
  // Takes the rows' limbs (two rows of `slots` slots of `maxStride` limbs)
  // on the calling thread.
  Half(const RowRanges& rows, i64 from, i64 to, i64 start, std::size_t slots, std::size_t maxStride)
      : rows_(rows), from_(from), to_(to), start_(start), slots_(slots), maxStride_(maxStride),
        a_(slots * maxStride), b_(slots * maxStride) {}

  // Adds limbs only: safe on a thread of its own. Stops, cramped(), if a
  // cell outgrows the room it was given, and when `stop` says so (polled
  // only where `polls`: on the calling thread).
  void run(Stopper& stop, bool polls) noexcept {
    cramped_ = false;
    const int dir = to_ >= from_ ? 1 : -1;
    // Cell i of a row comes from cells i - 1 and i of the row before when
    // running forward, from cells i and i + 1 of the row after backward.
    const i64 below = dir > 0 ? 1 : 0;
    mp_limb_t* p = a_.get();
    mp_limb_t* c = b_.get();
    stride_ = 1;
    low_ = start_;
    cells_ = 1;
    p[0] = 0, p[1] = 1, p[2] = 0;
    c[0] = 0;
    i64 lows[rows_at_once], cellss[rows_at_once];
    std::size_t next = rows_at_once;
    for (i64 x = from_; x != to_;) {
      x += dir;
      if (next == rows_at_once) {
        const auto left = static_cast<std::size_t>(dir > 0 ? to_ - x + 1 : x - to_ + 1);
        rows_.rows(x, dir, std::min(left, rows_at_once), lows, cellss);
        next = 0;
      }
      const i64 low = lows[next], cells = cellss[next];
      ++next;
      if (cells == 0) {
        cells_ = 0;
        return;
      }
      // Room for the sums: no cell of the row before may have its top bit set.
      mp_limb_t top = 0;
      const std::size_t s = stride_;
      for (i64 j = 1; j <= cells_; ++j) top |= p[static_cast<std::size_t>(j) * s + s - 1];
      if (top >> (limb_bits - 1)) {
        if (s + 1 > maxStride_) {
          cramped_ = true;
          return;
        }
        widen(p, c);
        std::swap(p, c);
      }
      // The lower neighbour of the first cell in the row before, in slots
      // (slot 0 is the empty one below that row).
      const i64 o = low - below - low_ + 1;
      hard_assert(o >= 0 && o + cells <= cells_ + 1, "o>=0&&o+cells<=cells_+1");
      const std::size_t t = stride_;
      const std::size_t so = static_cast<std::size_t>(o) * t, len = static_cast<std::size_t>(cells) * t;
      mpn_add_n(c + t, p + so, p + so + t, static_cast<mp_size_t>(len));
      mpn_zero(c + t + len, static_cast<mp_size_t>(t));
      std::swap(p, c);
      low_ = low;
      cells_ = cells;
      if (polls ? stop.poll(len) : stop.stopped()) return;
    }
    row_ = p;
  }

  bool cramped() const { return cramped_; }
  // Room for slots of `maxStride` limbs, for a run after a cramped one.
  void makeRoom(std::size_t maxStride) {
    a_.reset(slots_ * maxStride);
    b_.reset(slots_ * maxStride);
    maxStride_ = maxStride;
  }

  // The last row: empty when no path passes; cell j (0 = the lowest).
  i64 cells() const { return cells_; }
  i64 low() const { return low_; }
  mpz_srcptr cell(mpz_ptr view, i64 j) const {
    return mpz_roinit_n(view, row_ + static_cast<std::size_t>(j + 1) * stride_, static_cast<mp_size_t>(stride_));
  }

 private:
  // Copies row p into c with one limb more per slot, and makes c's spare
  // row (the old p) start with an empty slot of the new stride.
  void widen(mp_limb_t* p, mp_limb_t* c) {
    const std::size_t s = stride_, w = s + 1;
    for (std::size_t j = 0; j < static_cast<std::size_t>(cells_) + 2; ++j) {
      mpn_copyi(c + j * w, p + j * s, static_cast<mp_size_t>(s));
      c[j * w + s] = 0;
    }
    mpn_zero(p, static_cast<mp_size_t>(w));
    stride_ = w;
  }

  const RowRanges& rows_;
  i64 from_, to_, start_;
  std::size_t slots_, maxStride_;
  bool cramped_ = false;
  Limbs a_, b_;
  mp_limb_t* row_ = nullptr;
  std::size_t stride_ = 1;
  i64 low_ = 0, cells_ = 0;
};

// The most limbs a slot of a half of `steps` steps needs. Its counts stay
// below 2^steps, and below C(n, end) + 1, since every path counted in the
// half continues in at least one way to the other end; that is `proven`.
// They also stay below 2^(1 + steps bitsPerStep(spread)), which the
// budget's tests check cell by cell for the constrained triangle; that
// bound, with two bits to spare, is the room a half is given first, and the
// proven one its room if a cell ever outgrows it. Then one bit of room for
// the sums and a limb for the rounding.
std::size_t maxStride(const RowsShape& s, i64 steps, bool proven) {
  double bits = std::min(static_cast<double>(steps), std::floor(log2BinomialAbove(s.steps, s.end)) + 2);
  if (!proven) bits = std::min(bits, 3 + static_cast<double>(steps) * bitsPerStep(s.spread));
  return static_cast<std::size_t>(bits + 1) / limb_bits + 2;
}

// Limb additions below which a second thread costs more than it saves.
constexpr double thread_worth = 2e5;

}  // namespace

double bitsPerStep(i64 w) {
  const double pi = 3.14159265358979323846;
  return std::min(1.0, 1 + std::log2(std::cos(pi / (static_cast<double>(w) + 3))) + 1e-12);
}

bool limbRowsTogether(unsigned threads, double work) { return threads >= 2 && work >= thread_worth; }

bool countByLimbRows(mpz_ptr c, const RowRanges& rows, const RowsShape& shape, unsigned threads, double work,
                     Stopper& stop) {
  const i64 n = shape.steps, m = n / 2;
  const auto slots = static_cast<std::size_t>(shape.widest) + 2;
  Half fwd(rows, 0, m, 0, slots, maxStride(shape, m, false));
  Half bwd(rows, n, m, shape.end, slots, maxStride(shape, n - m, false));
  bool together = limbRowsTogether(threads, work);
  if (together) {
    try {
      std::thread other([&fwd, &stop] { fwd.run(stop, false); });
      bwd.run(stop, true);
      other.join();
    } catch (const std::system_error&) {
      together = false;  // no thread to be had: both halves on this one
    }
  }
  if (!together) {
    fwd.run(stop, true);
    if (!stop.stopped()) bwd.run(stop, true);
  }
  if (fwd.cramped() && !stop.stopped()) fwd.makeRoom(maxStride(shape, m, true)), fwd.run(stop, true);
  if (bwd.cramped() && !stop.stopped()) bwd.makeRoom(maxStride(shape, n - m, true)), bwd.run(stop, true);
  if (stop.stopped()) return false;
  mpz_set_ui(c, 0);
  if (fwd.cells() == 0 || bwd.cells() == 0) return true;
  hard_assert(fwd.cells() == bwd.cells() && fwd.low() == bwd.low(), "fwd.cells()==bwd.cells()&&fwd.low()==bwd.low()");
  for (i64 j = 0; j < fwd.cells(); ++j) {
    mpz_t f, g;
    mpz_addmul(c, fwd.cell(f, j), bwd.cell(g, j));
  }
  return true;
}

double limbRowsBytes(const RowsShape& shape) {
  const i64 m = shape.steps / 2;
  const double slots = static_cast<double>(shape.widest) + 2;
  return 2 * slots * static_cast<double>(maxStride(shape, m, false) + maxStride(shape, shape.steps - m, false)) *
         sizeof(mp_limb_t);
}

}  // namespace lumbra
