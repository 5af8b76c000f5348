// The widest deviation of (n, k): how far any walk of an n-bit block with
// k one bits can rise over its center line and fall under it.
//
// The walk that takes its ones first lies above every other walk of (n, k)
// at every x, the one that takes its zeros first below, so they go
// farthest; and since the line moves by at most one a step, each of the two
// draws away from the line until its turn and back after it. So the widest
// rise is k - L(k), reached at x = k, and the widest fall L(n - k) + (n - k),
// reached at x = n - k. The deviation of (n, k) is at most the larger.
// A plain value; arguments out of range are hard assertions.
#pragma once

#include <cstdint>

namespace lumbra {

struct WidestDeviation {
  std::int64_t up;    // the most any walk rises over the line
  std::int64_t down;  // the most any walk falls under it
};

// Requires what CenterLine does (1 <= n <= 2147483647, 0 <= k <= n).
WidestDeviation widestDeviation(std::int64_t n, std::int64_t k);

}  // namespace lumbra
