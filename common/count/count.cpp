#include "count/count.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

#include "band/band_rows.h"
#include "band/center_line.h"
#include "count/binomial_size.h"
#include "count/mpz.h"
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

// Whether to abandon a count: the half on the calling thread polls the
// caller's CountStop once it has added poll_every limbs since the last time,
// and the half on the other thread reads the answer.
class Stopper {
 public:
  explicit Stopper(const CountStop& stop) : stop_(stop) {}
  // On the calling thread, after `limbs` more limb additions.
  bool poll(std::size_t limbs) {
    if (!stop_) return false;
    work_ += limbs;
    if (work_ >= poll_every) {
      work_ = 0;
      if (stop_()) stopped_.store(true, std::memory_order_relaxed);
    }
    return stopped();
  }
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  // About a millisecond of rows: polling costs nothing that shows.
  static constexpr std::size_t poll_every = std::size_t{1} << 20;
  const CountStop& stop_;
  std::size_t work_ = 0;
  std::atomic<bool> stopped_{false};
};

// One half of the walks: the rows from column `from` to column `to`, one
// step at a time, starting from the single walk at `from` (the start point
// forwards, the end point backwards). A row of `cells` numbers lies in limbs
// as cells + 2 slots of `stride` limbs: an empty slot, the cells from the
// lowest height up, an empty slot. Since a cell is the sum of its two
// neighbours in the row before, a whole row is one mpn_add_n of that row with
// itself shifted by one slot; the empty slots stand for the heights outside
// the band. Every cell is kept below 2^(stride * limb_bits - 1), so a sum
// never carries out of its slot; the stride grows by a limb when a cell
// reaches that.
// NOTE: one addition per row rather than per cell: GMP's loop runs over the
// whole row, and no cell costs a call, a branch or a limb count of its own.
class Half {
 public:
  // Takes the rows' limbs (two rows of `slots` slots of `maxStride` limbs)
  // on the calling thread.
  Half(const Band& band, i64 from, i64 to, std::size_t slots, std::size_t maxStride)
      : band_(band), from_(from), to_(to), slots_(slots), maxStride_(maxStride), a_(slots * maxStride),
        b_(slots * maxStride) {}

  // Adds limbs only: safe on a thread of its own. Stops, cramped(), if a
  // cell outgrows the room it was given, and when `stop` says so (polled
  // only where `polls`: on the calling thread).
  void run(Stopper& stop, bool polls) noexcept {
    cramped_ = false;
    const int dir = to_ >= from_ ? 1 : -1;
    CenterLine line(band_.n, band_.k, from_);
    mp_limb_t* p = a_.get();
    mp_limb_t* c = b_.get();
    stride_ = 1;
    mn_ = from_ == 0 ? 0 : band_.e;
    cells_ = 1;
    p[0] = 0, p[1] = 1, p[2] = 0;
    c[0] = 0;
    for (i64 x = from_; x != to_;) {
      x += dir;
      if (dir > 0) line.next(); else line.prev();
      const BandRow row = band_.row(x, line.value());
      const i64 mn = row.lo, cells = row.cells();
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
      // The neighbours of the first cell, mn - 1 and mn + 1, are the row
      // before's slots o and o + 1 (slot 0 is the empty one below it).
      const i64 o = (mn - 1 - mn_) / 2 + 1;
      hard_assert(o >= 0 && o + cells <= cells_ + 1, "o>=0&&o+cells<=cells_+1");
      const std::size_t t = stride_;
      const std::size_t so = static_cast<std::size_t>(o) * t, len = static_cast<std::size_t>(cells) * t;
      mpn_add_n(c + t, p + so, p + so + t, static_cast<mp_size_t>(len));
      mpn_zero(c + t + len, static_cast<mp_size_t>(t));
      std::swap(p, c);
      mn_ = mn;
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

  // The last row: empty when no walk passes; cell j (0 = lowest height).
  i64 cells() const { return cells_; }
  i64 mn() const { return mn_; }
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

  const Band& band_;
  i64 from_, to_;
  std::size_t slots_, maxStride_;
  bool cramped_ = false;
  Limbs a_, b_;
  mp_limb_t* row_ = nullptr;
  std::size_t stride_ = 1;
  i64 mn_ = 0, cells_ = 0;
};

// log2 of 2cos(pi/(w + 3)), the growth per step of the walks that a band
// of width w (w + 1 heights) holds: 0 for w = 0, where every count is 0 or
// 1, nearly 1 (doubling) for a wide band.
double bitsPerStep(i64 w) {
  const double pi = 3.14159265358979323846;
  return std::min(1.0, 1 + std::log2(std::cos(pi / (static_cast<double>(w) + 3))) + 1e-12);
}

// The most limbs a slot of a half of `steps` steps needs. Its counts stay
// below 2^steps, and below C(n, k) + 1, since every walk counted in the half
// continues in at least one way to a whole block with k ones; that is
// `proven`. They also stay below 2^(1 + steps bitsPerStep(d)), which the
// budget's tests check cell by cell; that bound, with two bits to spare, is
// the room a half is given first, and the proven one its room if a cell ever
// outgrows it. Then one bit of room for the sums and a limb for the rounding.
std::size_t maxStride(const Band& b, i64 steps, bool proven) {
  double bits = std::min(static_cast<double>(steps), std::floor(log2BinomialAbove(b.n, b.k)) + 2);
  if (!proven) bits = std::min(bits, 3 + static_cast<double>(steps) * bitsPerStep(b.width()));
  return static_cast<std::size_t>(bits + 1) / limb_bits + 2;
}

// The limb additions of the rows from column 0 to h: cells(x) slots of about
// x / limb_bits limbs each, summed over 64 samples.
double rowLimbs(const Band& b, i64 h) {
  const double most = static_cast<double>(b.mostCells());
  const double cap = log2BinomialAbove(b.n, b.k);
  double sum = 0;
  for (int i = 0; i < 64; ++i) {
    const double x = (i + 0.5) * static_cast<double>(h) / 64;
    sum += std::min(most, x + 1) * (std::min(x, cap) / limb_bits + 1);
  }
  return sum * static_cast<double>(h) / 64;
}

// The time the rows take, in units of one limb addition, on `threads`.
double rowsCost(const Band& b, unsigned threads) {
  const i64 m = b.n / 2;
  const double fwd = rowLimbs(b, m), bwd = rowLimbs(b, b.n - m);
  return threads >= 2 ? std::max(fwd, bwd) : fwd + bwd;
}

// Limb additions below which a second thread costs more than it saves.
constexpr double thread_worth = 2e5;

unsigned threadCount(unsigned threads) {
  if (threads == 0) threads = std::thread::hardware_concurrency();
  return std::max(threads, 1u);
}

bool byRows(mpz_ptr c, const Band& b, unsigned threads, Stopper& stop) {
  const i64 m = b.n / 2;
  const std::size_t slots = static_cast<std::size_t>(b.mostCells()) + 2;
  Half fwd(b, 0, m, slots, maxStride(b, m, false));
  Half bwd(b, b.n, m, slots, maxStride(b, b.n - m, false));
  bool together = threads >= 2 && rowsCost(b, 1) >= thread_worth;
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
  if (fwd.cramped() && !stop.stopped()) fwd.makeRoom(maxStride(b, m, true)), fwd.run(stop, true);
  if (bwd.cramped() && !stop.stopped()) bwd.makeRoom(maxStride(b, b.n - m, true)), bwd.run(stop, true);
  if (stop.stopped()) return false;
  mpz_set_ui(c, 0);
  if (fwd.cells() == 0 || bwd.cells() == 0) return true;
  hard_assert(fwd.cells() == bwd.cells() && fwd.mn() == bwd.mn(), "fwd.cells()==bwd.cells()&&fwd.mn()==bwd.mn()");
  for (i64 j = 0; j < fwd.cells(); ++j) {
    mpz_t f, g;
    mpz_addmul(c, fwd.cell(f, j), bwd.cell(g, j));
  }
  return true;
}

// The reflection sum for 2k = n with period s = d + 1: the terms at n/2 + i s
// alternate in sign and, by symmetry, those at negative i equal those at
// positive i, so the count is C(n, n/2) + 2 sum_{i >= 1} (-1)^i C(n, n/2 + i s).
// Each term is C(n, a + s) = C(n, a) C(n - a, s) / C(a + s, s) from the one
// before, or a binomial of its own where that is cheaper: when s is so
// large that the two factors come near the term itself in size.
bool reflection(mpz_ptr c, i64 n, i64 d, Stopper& stop) {
  const i64 h = n / 2, s = d + 1;
  Mpz term, sum, up, down;
  const auto un = [](i64 v) { return static_cast<unsigned long>(v); };
  mpz_bin_uiui(term.get(), un(n), un(h));
  mpz_set(c, term.get());
  const double termBits = log2BinomialAbove(n, h);
  // The factors' bits against the term's: stepping costs two products of the
  // term with numbers of about s log2(n/s) bits each.
  const bool step = 4 * static_cast<double>(s) * std::log2(static_cast<double>(n) / static_cast<double>(s) + 2) < termBits;
  i64 a = h;
  for (i64 i = 1; a + s <= n; ++i) {
    if (step) {
      mpz_bin_uiui(up.get(), un(n - a), un(s));
      mpz_bin_uiui(down.get(), un(a + s), un(s));
      mpz_mul(term.get(), term.get(), up.get());
      mpz_divexact(term.get(), term.get(), down.get());
    } else {
      mpz_bin_uiui(term.get(), un(n), un(a + s));
    }
    a += s;
    if (i & 1)
      mpz_sub(sum.get(), sum.get(), term.get());
    else
      mpz_add(sum.get(), sum.get(), term.get());
    if (stop.poll(mpz_size(term.get()) * 8)) return false;
  }
  mpz_addmul_ui(c, sum.get(), 2);
  return true;
}

// The time of the reflection sum in the units of rowsCost: per term, two
// small binomials, a product and an exact division of a number of B limbs
// by one of b limbs, measured at about 4 B b^0.6 limb additions (and a
// binomial of its own when s is large, about as much).
double reflectionCost(i64 n, i64 d) {
  const i64 s = d + 1;
  const i64 whole = n / 2 / s;  // the terms beyond the first
  const double terms = static_cast<double>(whole) + 1;
  const double big = log2BinomialAbove(n, n / 2) / limb_bits + 1;
  const double small = std::min(big, static_cast<double>(s) * std::log2(static_cast<double>(n) / static_cast<double>(s) + 2) / limb_bits + 1);
  return terms * 4 * big * std::pow(small, 0.6);
}

void checkArgs(int n, int k, int d) {
  hard_assert(n >= 1 && n <= 2147483646, "n>=1&&n<=2147483646");
  hard_assert(k >= 0 && k <= n, "k>=0&&k<=n");
  hard_assert(d >= 0 && d <= n, "d>=0&&d<=n");
}

}  // namespace

namespace {

bool countInBand(mpz_ptr c, const Band& b, unsigned threads, Stopper& stop) {
  if (b.holdsEveryWalk()) {
    mpz_bin_uiui(c, static_cast<unsigned long>(b.n), static_cast<unsigned long>(b.k));
    return true;
  }
  threads = threadCount(threads);
  if (b.symmetric() && 2 * b.k == b.n && reflectionCost(b.n, b.above) < rowsCost(b, threads))
    return reflection(c, b.n, b.above, stop);
  return byRows(c, b, threads, stop);
}

}  // namespace

void countWalks(mpz_ptr c, int n, int k, int d, unsigned threads) { countWalks(c, n, k, d, threads, CountStop()); }

bool countWalks(mpz_ptr c, int n, int k, int d, unsigned threads, const CountStop& stop) {
  checkArgs(n, k, d);
  Stopper stopper(stop);
  return countInBand(c, Band(n, k, d, d), threads, stopper);
}

void countWalksBetween(mpz_ptr c, int n, int k, int below, int above, unsigned threads) {
  checkArgs(n, k, below);
  checkArgs(n, k, above);
  const CountStop none;
  Stopper never(none);
  countInBand(c, Band(n, k, below, above), threads, never);
}

void countWalksByRows(mpz_ptr c, int n, int k, int d, unsigned threads) {
  checkArgs(n, k, d);
  const CountStop none;
  Stopper never(none);
  byRows(c, Band(n, k, d, d), threadCount(threads), never);
}

void balancedCount(mpz_ptr c, int n, int d) {
  checkArgs(n, n / 2, d);
  hard_assert(n % 2 == 0, "n%2==0");
  const CountStop none;
  Stopper never(none);
  reflection(c, n, d, never);
}

double countWalksBytes(int n, int k, int d) {
  const Band b(n, k, d, d);
  const double binomial = log2BinomialAbove(n, k) / 8 + 16;
  // A binomial and GMP's scratch for it: a few numbers of its size.
  if (b.holdsEveryWalk()) return 3 * binomial;
  const i64 m = b.n / 2;
  const double slots = static_cast<double>(b.mostCells()) + 2;
  const double rows =
      2 * slots * static_cast<double>(maxStride(b, m, false) + maxStride(b, b.n - m, false)) * sizeof(mp_limb_t);
  // The reflection sum: the term, the sum, the two factors and the scratch
  // of a product and a division, each at most of the term's size.
  if (2 * i64{k} == n && reflectionCost(n, d) < rowsCost(b, threadCount(0))) return 6 * binomial;
  // The dot product: the sum and the scratch of one product of two cells.
  return rows + 3 * binomial;
}

}  // namespace lumbra
