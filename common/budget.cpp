#include "budget.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "kova/bigint.h"
#include "kova/mp_string.h"
#include "kova/sh_ptr.h"
#include "count.h"
#include "trian.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;

// What one cell takes from the pool besides its limbs: the number object (24
// bytes) and its control block (24). The budget test holds the estimates
// against the pool's real peak, so a change of either shows there.
constexpr double cell_object_bytes = 48;
// GMP keeps one limb more than a sum needs, and rounds the value up to whole
// limbs: at most bits/64 + 2 limbs of 8 bytes.
double limbBytes(double bits) { return bits / 8 + 16; }
// A pool text beside its buffer: the mp_string record, its control block and
// the slot of the sh_ptr in the vector that holds it.
constexpr double text_overhead_bytes = sizeof(kova::mp_string) + 24 + 8;

constexpr double log10_2 = 0.30102999566398120;

// The value c0 + c1 x of a line at x.
struct Line {
  double c0, c1;
  double at(double x) const { return c0 + c1 * x; }
};

// The least of `lines` at x.
const Line& lowest(const std::vector<Line>& lines, double x) {
  const Line* best = &lines[0];
  for (const Line& l : lines)
    if (l.at(x) < best->at(x)) best = &l;
  return *best;
}

// Sum over the integers x in [lo, hi] of (p.c0 + p.c1 x)(q.c0 + q.c1 x),
// taken about lo so that large x lose no precision.
double sumOfProduct(const Line& p, const Line& q, i64 lo, i64 hi) {
  if (hi < lo) return 0;
  const double m = static_cast<double>(hi - lo + 1);
  const double pa = p.at(static_cast<double>(lo)), qa = q.at(static_cast<double>(lo));
  const double st = m * (m - 1) / 2;                  // sum of t, t = x - lo
  const double st2 = (m - 1) * m * (2 * m - 1) / 6;  // sum of t^2
  return pa * qa * m + (pa * q.c1 + qa * p.c1) * st + p.c1 * q.c1 * st2;
}

// The triangle's shape as functions of the row x, each the least of a few
// lines: cells(x) bounds the number of cells of row x, bits(x) the bits of
// each of them.
struct Shape {
  i64 n;
  std::vector<Line> cells;
  std::vector<Line> bits;

  Shape(int n_, int k, int d) : n(n_) {
    const double most = std::min({d, k, n_ - k}) + 1.0;
    cells = {{most, 0}, {1, 1}, {n_ + 1.0, -1}};
    bits = {{log2Binomial(n_, k) + 1, 0}, {1, bitsPerStep(d)}};
  }

  // log2 C(n, k), a hair above the true value so that rounding never puts
  // it below.
  static double log2Binomial(int n, int k) {
    const double l = (std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0)) / std::log(2.0);
    return std::max(0.0, l) * (1 + 1e-12) + 1e-9;
  }

  // log2 rho, rho = 2cos(pi/(2d + 3)): 0 for d = 0 (every count is 0 or 1),
  // approaching 1 (doubling at each step) as d grows.
  static double bitsPerStep(int d) {
    const double pi = 3.14159265358979323846;
    return std::min(1.0, 1 + std::log2(std::cos(pi / (2.0 * d + 3))) + 1e-12);
  }

  // The integer rows 0..n cut where two lines of the same function cross,
  // so that on each piece each function is one line.
  std::vector<i64> pieces() const {
    std::vector<i64> cuts{0, n + 1};
    for (const auto* set : {&cells, &bits})
      for (std::size_t i = 0; i < set->size(); ++i)
        for (std::size_t j = i + 1; j < set->size(); ++j) {
          const Line &a = (*set)[i], &b = (*set)[j];
          if (a.c1 == b.c1) continue;
          const double x = std::ceil((b.c0 - a.c0) / (a.c1 - b.c1));
          if (x > 0 && x <= static_cast<double>(n)) cuts.push_back(static_cast<i64>(x));
        }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
  }

  // Sum over x = 0..n of g(cells(x), bits(x)) for g = (a0 + a1 bits) times
  // (cells, or 1 when perCell is false).
  double sum(double a0, double a1, bool perCell) const {
    const std::vector<i64> cuts = pieces();
    double total = 0;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
      const i64 lo = cuts[i], hi = cuts[i + 1] - 1;
      const double mid = (static_cast<double>(lo) + static_cast<double>(hi)) / 2;
      const Line& b = lowest(bits, mid);
      const Line value{a0 + a1 * b.c0, a1 * b.c1};
      const Line count = perCell ? lowest(cells, mid) : Line{1, 0};
      total += sumOfProduct(count, value, lo, hi);
    }
    return total;
  }

  double maxCells() const { return cells[0].c0; }
  double maxBits() const { return bits[0].c0; }
};

// The length of the "%d" text of v.
double decimalWidth(i64 v) {
  char buf[24];
  return std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
}

// The sum of the lengths of the "%d" texts of 0..n.
double decimalWidthsUpTo(i64 n) {
  double total = 1;  // "0"
  for (i64 first = 1, digits = 1; first <= n; first *= 10, ++digits)
    total += static_cast<double>(std::min(n, first * 10 - 1) - first + 1) * static_cast<double>(digits);
  return total;
}

// The capacity a text reaches when it starts with `start` bytes of room and
// doubles until it holds `size` bytes and its terminating zero.
double grownCapacity(double start, double size) {
  double cap = start;
  while (cap < size + 1) cap *= 2;
  return cap;
}

double rowBytes(i64 n) { return static_cast<double>(n + 1) * (sizeof(TrianRow) + sizeof(int)); }

constexpr double slot_bytes = sizeof(kova::sh_ptr<kova::BigInt>);

}  // namespace

double cellBitsBound(int n, int k, int d, std::int64_t x) {
  Shape s(n, k, d);
  return lowest(s.bits, static_cast<double>(x)).at(static_cast<double>(x));
}

// The text that showC puts the bit count into.
constexpr double line_bytes = 1024;

MemoryEstimate showCMemory(int n, int k, int d) {
  const Shape s(n, k, d);
  MemoryEstimate m;
  // The counting engine keeps no record per step: its rows (two per half)
  // and its binomials are what it takes at its peak.
  // Besides them, the count itself and its decimal text (counted here with
  // the limbs, the text being as short-lived as they are).
  m.cells = countWalksBytes(n, k, d) + limbBytes(s.maxBits()) + s.maxBits() * log10_2 + 2 + line_bytes;
  return m;
}

MemoryEstimate showTrianMemory(int n, int k, int d) {
  const Shape s(n, k, d);
  MemoryEstimate m;
  const double cells = s.sum(1, 0, true);
  m.rows = rowBytes(n) + cells * slot_bytes;
  m.cells = s.sum(cell_object_bytes + limbBytes(0), 1.0 / 8, true);

  // The printed heights: between the start and the end point, widened by d,
  // and never beyond what k up-steps and n - k down-steps reach.
  const i64 e = 2 * static_cast<i64>(k) - n;
  const i64 ymax = std::min<i64>(k, std::max<i64>(0, e) + d);
  const i64 ymin = std::max<i64>(static_cast<i64>(k) - n, std::min<i64>(0, e) - d);
  const double w = std::max(decimalWidth(ymin), decimalWidth(ymax));
  // A column is one blank wider than its widest count; a count of b bits
  // has at most b log10(2) + 1 digits.
  const double columns = s.sum(2, log10_2, false);
  const double line = w + 1 + columns;
  // The header's column numbers may be wider than their columns.
  const double header = line + decimalWidthsUpTo(n);
  // Every column's counts are kept as one text, each count padded to the
  // column's width, and the lines are put together one at a time from
  // them; while a column is converted its counts also stand unpadded in a
  // scratch text that grows by doubling.
  const double column_texts = s.sum(1, log10_2, true) + (static_cast<double>(n) + 1) * text_overhead_bytes;
  const double scratch = grownCapacity(1, s.maxCells() * (s.maxBits() * log10_2 + 1));
  const double per_column = 3 * sizeof(int) * (static_cast<double>(n) + 1);  // widths, starts, filled
  m.text = column_texts + scratch + per_column + (line + 1) + grownCapacity(1, header);
  return m;
}

std::uint64_t physicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
}

}  // namespace lumbra
