// The band room against plain computations: the line from the product
// x(2k - n)/n itself, each row from the definition of its heights one by
// one, and the widest deviation from every block of up to 14 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "band/band_rows.h"
#include "band/center_line.h"
#include "band/widest_deviation.h"

namespace {

using lumbra::Band;
using lumbra::BandRow;
using lumbra::CenterLine;
using std::int64_t;

int64_t plainLine(int64_t n, int64_t k, int64_t x) { return x * (2 * k - n) / n; }

TEST(Band, AgreesWithPlainComputations) {
  for (int n = 1; n <= 14; ++n) {
    for (int k = 0; k <= n; ++k) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " k=" << k);
      // Every block of (n, k): the farthest it rises over and falls under.
      int64_t up = 0, down = 0;
      for (unsigned b = 0; b < (1u << n); ++b) {
        if (__builtin_popcount(b) != k) continue;
        int64_t w = 0;
        for (int x = 1; x <= n; ++x) {
          w += (b >> (x - 1)) & 1 ? 1 : -1;
          up = std::max(up, w - plainLine(n, k, x));
          down = std::max(down, plainLine(n, k, x) - w);
        }
      }
      const lumbra::WidestDeviation widest = lumbra::widestDeviation(n, k);
      EXPECT_EQ(widest.up, up);
      EXPECT_EQ(widest.down, down);
      for (int below = 0; below <= n; ++below) {
        for (int above = 0; above <= n; ++above) {
          const Band band(n, k, below, above);
          EXPECT_EQ(band.holdsEveryWalk(), below >= down && above >= up);
          // The band's rows, walked forward from 0 and backward from n.
          CenterLine fwd(n, k), bwd(n, k, n);
          for (int x = 0; x <= n; ++x, fwd.next()) {
            const int64_t line = plainLine(n, k, x);
            ASSERT_EQ(fwd.value(), line) << "x=" << x;
            ASSERT_EQ(bwd.value(), plainLine(n, k, n - x)) << "x=" << n - x;
            bwd.prev();
            const BandRow row = band.row(x, line);
            int64_t lo = x + 1, hi = -x - 1, cells = 0;
            for (int64_t y = -x; y <= x; y += 2)
              if (std::abs(2 * k - n - y) <= n - x && y >= line - below && y <= line + above)
                lo = std::min(lo, y), hi = std::max(hi, y), ++cells;
            ASSERT_EQ(row.cells(), cells) << "x=" << x << " below=" << below << " above=" << above;
            ASSERT_LE(cells, band.mostCells());
            if (cells > 0) {
              ASSERT_TRUE(row.lo == lo && row.hi == hi) << "x=" << x;
            }
          }
        }
      }
    }
  }
  // Where x(2k - n) needs more than 32 bits, from a start in the middle.
  for (int64_t k : {0, 1, 333, 49999, 50000, 50001, 99999, 100000}) {
    CenterLine c(100000, k, 40000);
    for (int64_t x = 40000; x <= 100000; ++x, c.next()) ASSERT_EQ(c.value(), plainLine(100000, k, x));
  }
}

}  // namespace
