// plain_walk, block_counts and plain_block: a block's walk, the number of
// blocks by one bits and deviation, and the bytes showBlock must write for a
// block, worked out plainly for unit tests and the fuzz target.
//
// The walk, its one bits, the centre line x(2k - a)/a (truncated toward
// zero, in 64 bits) and the deviation are computed here from scratch, not by
// the code under test. plain_block gives the numbers line (length, one
// bits, deviation), then the plot: one line of a + 1 bytes per height from
// the highest upper bound mark down to the lowest lower one, the axes and
// empty cells first, then in each column the lower bound mark, the upper one
// and the walk, a later mark covering an earlier one where they meet.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace lumbra_test {

// The walk of a block of at least one bit.
struct plain_walk {
  explicit plain_walk(const std::vector<bool>& vb)
      : a(static_cast<std::int64_t>(vb.size())), line(vb.size() + 1), height(vb.size() + 1, 0) {
    k = static_cast<int>(std::count(vb.begin(), vb.end(), true));
    for (std::int64_t x = 0; x <= a; ++x) {
      line[x] = x * (2 * std::int64_t{k} - a) / a;
      if (x > 0) height[x] = height[x - 1] + (vb[x - 1] ? 1 : -1);
      d = std::max(d, height[x] > line[x] ? height[x] - line[x] : line[x] - height[x]);
    }
  }
  std::int64_t a;
  int k = 0;
  std::int64_t d = 0;
  std::vector<std::int64_t> line, height;  // at x = 0..a
};

// blocks[k][d]: how many of all blocks of m bits (m <= 24) have k one bits
// and deviation d, by plain walks; d runs to m + 1, so that sums of tails
// may start past the largest deviation.
inline std::vector<std::vector<std::uint64_t>> block_counts(int m) {
  std::vector<std::vector<std::uint64_t>> blocks(
      static_cast<std::size_t>(m) + 1, std::vector<std::uint64_t>(static_cast<std::size_t>(m) + 2, 0));
  std::vector<bool> vb(static_cast<std::size_t>(m));
  for (std::uint32_t v = 0; v < (1u << m); ++v) {
    for (int i = 0; i < m; ++i) vb[static_cast<std::size_t>(i)] = (v >> i) & 1;
    const plain_walk w(vb);
    ++blocks[static_cast<std::size_t>(w.k)][static_cast<std::size_t>(w.d)];
  }
  return blocks;
}

inline std::string plain_block(const std::vector<bool>& vb) {
  const plain_walk w(vb);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%lld\t%d\t%lld\n", static_cast<long long>(w.a), w.k,
                static_cast<long long>(w.d));
  std::int64_t ymax = 0, ymin = 0;
  for (std::int64_t x = 0; x <= w.a; ++x)
    ymax = std::max(ymax, w.line[x] + w.d), ymin = std::min(ymin, w.line[x] - w.d);
  std::string plot;
  for (std::int64_t y = ymax; y >= ymin; --y) {
    plot.push_back(y == 0 ? '+' : '|');
    plot.append(static_cast<std::size_t>(w.a), y == 0 ? '-' : static_cast<char>(lumbra::mark_empty));
    plot.push_back('\n');
  }
  auto cell = [&](std::int64_t x, std::int64_t y) -> char& {
    return plot[static_cast<std::size_t>((ymax - y) * (w.a + 2) + x)];
  };
  for (std::int64_t x = 0; x <= w.a; ++x) {
    cell(x, w.line[x] - w.d) = static_cast<char>(lumbra::mark_lower);
    cell(x, w.line[x] + w.d) = static_cast<char>(lumbra::mark_upper);
    if (x > 0) cell(x, w.height[x]) = static_cast<char>(lumbra::mark_walk);
  }
  return numbers + plot;
}

}  // namespace lumbra_test
