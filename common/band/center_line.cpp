#include "band/center_line.h"

#include "kova/hard_assert.h"

namespace lumbra {

CenterLine::CenterLine(std::int64_t n, std::int64_t k, std::int64_t at) : n_(n), down_(2 * k < n) {
  hard_assert(n > 0 && n <= 2147483647, "n>0&&n<=2147483647");
  hard_assert(k >= 0 && k <= n, "k>=0&&k<=n");
  hard_assert(at >= 0 && at <= n, "at>=0&&at<=n");
  const std::int64_t a = down_ ? n - 2 * k : 2 * k - n;
  dq_ = a / n;
  dr_ = a % n;
  // NOTE: at and a are below 2^31, so their product fits in 64 bits.
  q_ = at * a / n;
  r_ = at * a % n;
}

void centerLinePoints(int n, int k, std::vector<int>& line) {
  CenterLine c(n, k);
  line.clear();
  line.reserve(static_cast<std::size_t>(n) + 1);
  for (int x = 0; x <= n; ++x, c.next()) line.push_back(c.value());
}

}  // namespace lumbra
