// The center line of a block: the straight line from (0, 0) to (n, 2k - n)
// that the walk of an n-bit block with k one bits starts and ends on, as
// the heights the band is measured from:
//   L(x) = x (2k - n) / n, truncated toward zero,
// so L(0) = 0 and L(n) = 2k - n. Every part of the system that measures a
// walk against its line (the triangle, the counts, the ranking, the laws,
// the block meter, the front ends) takes its points from here, so that all
// of them agree on every truncation.
//
// CenterLine walks the line point by point in either direction from any
// start: it keeps x |2k - n| as a quotient and remainder of n, so no step
// costs a division. It is a small value with no resources; nothing throws.
// Arguments out of range are hard assertions.
#pragma once

#include <cstdint>
#include <vector>

namespace lumbra {

class CenterLine {
 public:
  // The line of (n, k) at x = at. Requires 1 <= n <= 2147483647,
  // 0 <= k <= n and 0 <= at <= n.
  CenterLine(std::int64_t n, std::int64_t k, std::int64_t at = 0);

  // L(x) of the point the cursor stands at; |L(x)| <= x, so it fits an int.
  int value() const { return static_cast<int>(down_ ? -q_ : q_); }
  // On to x + 1 (x < n) and back to x - 1 (x > 0).
  void next() {
    q_ += dq_;
    r_ += dr_;
    if (r_ >= n_) {
      r_ -= n_;
      ++q_;
    }
  }
  void prev() {
    q_ -= dq_;
    r_ -= dr_;
    if (r_ < 0) {
      r_ += n_;
      --q_;
    }
  }

 private:
  std::int64_t n_;
  bool down_;             // 2k - n < 0: the line falls, and truncation rounds up
  std::int64_t dq_, dr_;  // |2k - n| = dq n + dr
  std::int64_t q_, r_;    // x |2k - n| = q n + r, so |L(x)| = q
};

// Replaces `line` with L(0)..L(n). Requires what CenterLine does.
void centerLinePoints(int n, int k, std::vector<int>& line);

}  // namespace lumbra
