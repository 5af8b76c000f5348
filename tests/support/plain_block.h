// plain_block: the bytes lumbra's showBlock must write for a block, worked
// out plainly (from plain_walk.h) for unit tests and the fuzz target: the
// numbers line (length, one bits, deviation), then the plot: one line of
// a + 1 bytes per height from the highest upper bound mark down to the
// lowest lower one, the axes and empty cells first, then in each column the
// lower bound mark, the upper one and the walk, a later mark covering an
// earlier one where they meet. It takes the marks from lumbra's commands.h,
// so a test that includes it reaches lumbra's own headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "plain_walk.h"

namespace lumbra_test {

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
