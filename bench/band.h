// band.h - the band of the constrained triangle, for the baseline programs.
//
// The baselines under bench/ are measuring sticks for lumbra, not part of the
// tool: each is a plain, self-contained program that prints the same bytes as
// one lumbra command (without the banner). They share only this header, which
// computes the center line and the rows of the band. Everything is held in
// ordinary containers owned by the caller.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

// Bounds of the band after x steps: the heights mn, mn + 2, ..., mx, all of
// the parity of x. mn == mx + 2 marks an empty row (only possible with d == 0).
struct Row {
  int mn;
  int mx;
  int cells() const { return mn > mx ? 0 : (mx - mn) / 2 + 1; }
};

// L(x) = x * (2k - n) / n, truncated toward zero; 64-bit so that any n fits.
inline int centerLine(int64_t n, int64_t k, int64_t x) { return int(x * (2 * k - n) / n); }

// The band of half-width d around the center line of (n, k), intersected with
// the heights reachable from the start and those from which the end point
// 2k - n is still reachable. Closed forms of the step-by-two searches: mn is
// the lowest height >= max(-x, L - d) of the parity of x, mx the highest
// height <= min(x, L + d) of that parity.
inline std::vector<Row> band(int n, int k, int d) {
  std::vector<Row> rows(n + 1);
  const int e = 2 * k - n;
  for (int x = 0; x <= n; ++x) {
    const int c = centerLine(n, k, x);
    int lo = std::max(-x, c - d);
    int hi = std::min(x, c + d);
    lo += (lo - x) & 1;
    hi -= (x - hi) & 1;
    const int r = n - x;
    rows[x] = Row{std::max(lo, e - r), std::min(hi, e + r)};
  }
  return rows;
}

// Parses "n k d" from argv, with the limits the tool enforces.
inline void parseNkd(int argc, char** argv, int& n, int& k, int& d) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s n k d\n", argv[0]);
    std::exit(1);
  }
  n = std::atoi(argv[1]);
  k = std::atoi(argv[2]);
  d = std::atoi(argv[3]);
  if (n < 1 || k < 0 || k > n || d < 0 || d > n) {
    std::fprintf(stderr, "%s: need n >= 1, 0 <= k <= n, 0 <= d <= n\n", argv[0]);
    std::exit(1);
  }
}

}  // namespace bench
