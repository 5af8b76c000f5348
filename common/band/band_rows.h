// The rows of a band around the center line: for a block of n bits with k
// one bits, the heights after x steps that lie no more than `below` under
// the line L(x) and no more than `above` over it (see center_line.h), cut
// to the points that a walk from (0, 0) to the end point (n, 2k - n) can
// pass: the heights of the parity of x within -x..x and within n - x steps
// of 2k - n. The band of half-width d has below = above = d.
//
// This is the band of the constrained triangle, of the exact counts and of
// the ranking tables: each of them runs over the same rows in its own
// storage (the triangle keeps big integers per row, the count two rows of
// limbs that meet in the middle, the ranking suffix counts row by row), and
// takes a row's bounds from here. A Band is a small value; nothing throws.
#pragma once

#include <algorithm>
#include <cstdint>

#include "band/widest_deviation.h"

namespace lumbra {

// The heights lo, lo + 2, ..., hi of one row, all of the parity of its x;
// lo > hi when no walk of the band passes it.
struct BandRow {
  std::int64_t lo, hi;
  std::int64_t cells() const { return hi < lo ? 0 : (hi - lo) / 2 + 1; }
};

struct Band {
  std::int64_t n, k, below, above, e;  // e = 2k - n, the end point's height

  // Requires 1 <= n <= 2147483647, 0 <= k <= n, 0 <= below, above <= n.
  Band(std::int64_t n_, std::int64_t k_, std::int64_t below_, std::int64_t above_)
      : n(n_), k(k_), below(below_), above(above_), e(2 * k_ - n_) {}

  // Row x, given line = L(x): callers walk the line with a CenterLine in
  // whichever direction they run, so no row costs a division.
  BandRow row(std::int64_t x, std::int64_t line) const {
    std::int64_t lo = std::max({-x, line - below, e - (n - x)});
    std::int64_t hi = std::min({x, line + above, e + (n - x)});
    lo += (lo ^ x) & 1;  // up to the parity of x
    hi -= (hi ^ x) & 1;  // down to the parity of x
    return {lo, hi};
  }

  // The band's width from its lowest height to its highest.
  std::int64_t width() const { return below + above; }
  bool symmetric() const { return below == above; }

  // The most cells a row can have: width / 2 + 1 heights of one parity, and
  // no more than the k + 1 (or n - k + 1) heights a walk with k ones can
  // reach.
  std::int64_t mostCells() const { return std::min({width() / 2, k, n - k}) + 1; }

  // Whether every walk with k ones stays inside (see widest_deviation.h).
  bool holdsEveryWalk() const {
    const WidestDeviation w = widestDeviation(n, k);
    return above >= w.up && below >= w.down;
  }
};

}  // namespace lumbra
