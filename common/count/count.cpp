#include "count/count.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "band/band_rows.h"
#include "band/center_line.h"
#include "count/binomial_size.h"
#include "count/limb_rows.h"
#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;

constexpr int limb_bits = GMP_NUMB_BITS;

// The band's rows as the limb rows read them: a row is the ones
// (lo + x) / 2 .. of its heights, found as the center line steps along, with
// no memory of its own.
class TriangleRows final : public RowRanges {
 public:
  explicit TriangleRows(const Band& band) : b_(band) {}

  void rows(i64 x, int dir, std::size_t count, i64* low, i64* cells) const override {
    CenterLine line(b_.n, b_.k, x);
    for (std::size_t j = 0; j < count; ++j) {
      const BandRow row = b_.row(x, line.value());
      low[j] = (row.lo + x) / 2;
      cells[j] = row.cells();
      x += dir;
      if (dir > 0) line.next(); else line.prev();
    }
  }

  RowsShape shape() const { return {b_.n, b_.k, b_.mostCells(), b_.width()}; }

 private:
  const Band& b_;
};

// The limb additions of the rows from column 0 to h: cells(x) slots of about
// x / limb_bits limbs each, summed over 64 samples.
double halfLimbs(const Band& b, i64 h) {
  const double most = static_cast<double>(b.mostCells());
  const double cap = log2BinomialAbove(b.n, b.k);
  double sum = 0;
  for (int i = 0; i < 64; ++i) {
    const double x = (i + 0.5) * static_cast<double>(h) / 64;
    sum += rowLimbs(std::min(most, x + 1), x, cap);
  }
  return sum * static_cast<double>(h) / 64;
}

// The time the rows take, in units of one limb addition, on `threads`.
double rowsCost(const Band& b, unsigned threads) {
  const i64 m = b.n / 2;
  const double fwd = halfLimbs(b, m), bwd = halfLimbs(b, b.n - m);
  return threads >= 2 ? std::max(fwd, bwd) : fwd + bwd;
}

unsigned threadCount(unsigned threads) {
  if (threads == 0) threads = std::thread::hardware_concurrency();
  return std::max(threads, 1u);
}

// What the rows of one half cost: the limbs they add (cells times the limbs
// of a cell, summed over the rows), their cells and their rows.
// `costlyLimbs` weighs each row's limbs by how far the two rows it touches
// outgrow a processor's second-level cache (2 MiB): each limb costs 0.29 ns
// within it and up to 1.15 ns, memory-bound, in rows of tens of MiB.
struct RowsWork {
  double limbs = 0, costlyLimbs = 0, cells = 0, rows = 0;
};

// The rows of the half from column `from` to column `to`, from 512 of them.
// A row's cells come from the band itself; a cell's limbs from the largest
// number the row holds: the walks to the cell of the row nearest the middle
// height, C(steps, ones), no more than the band's growth allows and than
// C(n, k) (see maxStride), with a bit of room for the sums.
// NOTE: the cells come from the band row by row, not from its widest row,
// and a cell's limbs from the walks that reach it, not from its column:
// wide bands hold few cells near their ends, and narrow bands' numbers grow
// by less than a bit per step.
RowsWork halfWork(const Band& b, i64 from, i64 to) {
  RowsWork w;
  const i64 steps = to > from ? to - from : from - to;
  if (steps == 0) return w;
  const i64 samples = std::min<i64>(steps, 512);
  const double cap = log2Binomial(b.n, b.k) + 2, growth = bitsPerStep(b.width());
  for (i64 i = 0; i < samples; ++i) {
    const i64 t = std::min(steps, 1 + (2 * i + 1) * steps / (2 * samples));
    const i64 x = to > from ? from + t : from - t;
    const BandRow row = b.row(x, CenterLine(b.n, b.k, x).value());
    const i64 mn = row.lo, cells = row.cells();
    if (cells == 0) continue;
    // The ones of the row's cells, jlo .. jlo + cells - 1, and those still
    // to come for the backward half.
    const i64 jlo = (mn + x) / 2, jhi = jlo + cells - 1;
    const i64 lo = to > from ? jlo : b.k - jhi, hi = to > from ? jhi : b.k - jlo;
    const i64 ones = std::clamp<i64>(t / 2, std::max<i64>(lo, 0), std::max<i64>(std::min(hi, t), 0));
    const double bits = std::min({log2Binomial(t, ones) + 1, 3 + static_cast<double>(t) * growth, cap});
    const double stride = std::floor((bits + 1) / limb_bits) + 1;
    const double limbs = static_cast<double>(cells) * stride;
    const double rowBytes = 2 * limbs * sizeof(mp_limb_t);
    w.limbs += limbs;
    w.costlyLimbs += limbs * std::clamp(std::sqrt(rowBytes / (2 << 20)), 1.0, 4.0);
    w.cells += static_cast<double>(cells);
    w.rows += 1;
  }
  const double scale = static_cast<double>(steps) / static_cast<double>(samples);
  w.limbs *= scale, w.costlyLimbs *= scale, w.cells *= scale, w.rows *= scale;
  return w;
}

bool byRows(mpz_ptr c, const Band& b, unsigned threads, Stopper& stop) {
  const TriangleRows rows(b);
  const double work = rowsCost(b, 1);
  if (stop.listened()) {
    // The calling thread polls with the limbs of its own half, or of both.
    const i64 m = b.n / 2;
    const double back = halfWork(b, b.n, m).limbs;
    stop.expect(limbRowsTogether(threads, work) ? back : back + halfWork(b, 0, m).limbs);
  }
  return countByLimbRows(c, rows, rows.shape(), threads, work, stop);
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
  // It polls with eight times the limbs of each term; the terms' sizes
  // average 1 / (2 ln 2) of the first's, as the entropy of a coin does.
  const i64 terms = h / s;
  stop.expect(static_cast<double>(terms) * 8 * (termBits / limb_bits + 1) * 0.72);
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

// How a band's count is taken: C(n, k) when no walk can leave it, the
// reflection sum for a balanced block when that costs less than the rows,
// else the rows.
enum class Method { binomial, reflection, rows };

Method methodOf(const Band& b, unsigned threads) {
  if (b.holdsEveryWalk()) return Method::binomial;
  if (b.symmetric() && 2 * b.k == b.n && reflectionCost(b.n, b.above) < rowsCost(b, threads))
    return Method::reflection;
  return Method::rows;
}

bool countInBand(mpz_ptr c, const Band& b, unsigned threads, Stopper& stop) {
  threads = threadCount(threads);
  switch (methodOf(b, threads)) {
    case Method::binomial:
      mpz_bin_uiui(c, static_cast<unsigned long>(b.n), static_cast<unsigned long>(b.k));
      return true;
    case Method::reflection:
      return reflection(c, b.n, b.above, stop);
    case Method::rows:
      break;
  }
  return byRows(c, b, threads, stop);
}

// The machine's speed, measured on the one quoted in docs/benchmarks.md (in
// thread time, on one thread): seconds per limb addition of rows that fit
// the cache, per cell and per row of the rows; per unit of reflectionCost;
// for GMP's binomial of B bits, B log2(B)^3 times a constant (a product
// tree whose products grow faster than B log B).
constexpr double seconds_per_limb = 0.29e-9, seconds_per_cell = 0.5e-9, seconds_per_row = 10e-9;
constexpr double seconds_per_reflection_unit = 0.75e-9;
constexpr double binomial_seconds = 1.0e-12;

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

double bigNumberWork(double bits) {
  const double l = std::log2(bits + 2);
  return bits * l * l * l;
}

double binomialSeconds(int n, int k) { return binomial_seconds * bigNumberWork(log2Binomial(n, k) + 1); }

double countWalksSeconds(int n, int k, int d, unsigned threads) {
  checkArgs(n, k, d);
  const Band b(n, k, d, d);
  threads = threadCount(threads);
  switch (methodOf(b, threads)) {
    case Method::binomial:
      return binomialSeconds(n, k);
    case Method::reflection:
      return seconds_per_reflection_unit * reflectionCost(n, d);
    case Method::rows:
      break;
  }
  const i64 m = b.n / 2;
  const auto seconds = [](const RowsWork& w) {
    return seconds_per_limb * w.costlyLimbs + seconds_per_cell * w.cells + seconds_per_row * w.rows;
  };
  const double fwd = seconds(halfWork(b, 0, m)), bwd = seconds(halfWork(b, b.n, m));
  return limbRowsTogether(threads, rowsCost(b, 1)) ? std::max(fwd, bwd) : fwd + bwd;
}

double countWalksBytes(int n, int k, int d) {
  const Band b(n, k, d, d);
  const double binomial = log2BinomialAbove(n, k) / 8 + 16;
  // A binomial and GMP's scratch for it: a few numbers of its size.
  if (b.holdsEveryWalk()) return 3 * binomial;
  const double rows = limbRowsBytes(TriangleRows(b).shape());
  // The reflection sum: the term, the sum, the two factors and the scratch
  // of a product and a division, each at most of the term's size.
  if (2 * i64{k} == n && reflectionCost(n, d) < rowsCost(b, threadCount(0))) return 6 * binomial;
  // The dot product: the sum and the scratch of one product of two cells.
  return rows + 3 * binomial;
}

}  // namespace lumbra
