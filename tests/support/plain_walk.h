// plain_walk and block_counts: a block's walk, and the number of blocks by
// one bits and deviation, worked out plainly for unit tests.
//
// The walk, its one bits, the centre line x(2k - a)/a (truncated toward
// zero, in 64 bits) and the deviation are computed here from scratch, not by
// the code under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

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

}  // namespace lumbra_test
