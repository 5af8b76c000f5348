#include "triangle/budget.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "triangle/bigintgmp.h"
#include "commands.h"
#include "kova/file.h"
#include "recording_probe.h"
#include "triangle/trian.h"

namespace {

using lumbra::cellBitsBound;
using lumbra::MemoryEstimate;
using lumbra::Trian;
using lumbra_test::recording_probe;

// The bound on a cell's bits is what keeps the estimate above reality: it
// must hold for every cell of every small triangle, whatever k and d.
TEST(Budget, CellBitsBoundHoldsForEveryCell) {
  kova::mem_pool pool(16384, 1024);
  kova::gmp_pool_guard gmp(pool);
  for (int n = 1; n <= 22; ++n)
    for (int k = 0; k <= n; ++k)
      for (int d = 0; d <= n; ++d) {
        Trian t(pool, n, k, d, false);
        for (int x = 0; x <= n; ++x)
          for (int y = t.mn(x); y <= t.mx(x); y += 2)
            ASSERT_LE(t.at(x, y).bit_size(), cellBitsBound(n, k, d, x))
                << "n=" << n << " k=" << k << " d=" << d << " x=" << x << " y=" << y;
      }
}

TEST(Budget, CellBitsBoundIsNotLoose) {
  // d = 0: every count is 0 or 1.
  EXPECT_LE(cellBitsBound(1000, 500, 0, 1000), 1.01);
  // d = n: the end point holds C(n, k), and the bound is barely above it.
  kova::mem_pool pool(16384, 1024);
  kova::gmp_pool_guard gmp(pool);
  Trian t(pool, 400, 200, 400, true);
  EXPECT_LE(cellBitsBound(400, 200, 400, 400), t.getC().bit_size() + 1.01);
}

// The estimate against the pool's own count of live bytes at the peak: the
// peak never far above it (10%: the bound on a cell's limbs is tight when d
// is large), and the estimate not more than twice the peak (give or take a
// few KiB, which do not matter to a limit counted in GiB).
struct Case {
  int n, k, d;
};

void expectWithinTwice(double estimate, std::size_t peak) {
  EXPECT_GE(1.1 * estimate, static_cast<double>(peak));
  EXPECT_LE(estimate, 2.0 * static_cast<double>(peak) + 16384);
}

TEST(Budget, TriangleCellsMatchThePool) {
  for (Case c : {Case{2000, 1000, 100}, Case{3000, 100, 50}, Case{4000, 2000, 1}, Case{600, 300, 600},
                 Case{5000, 4990, 3000}}) {
    SCOPED_TRACE(testing::Message() << "Trian(" << c.n << ", " << c.k << ", " << c.d << ", false)");
    kova::mem_pool pool(16384, 1024);
    kova::gmp_pool_guard gmp(pool);
    recording_probe probe(pool);
    { Trian t(pool, c.n, c.k, c.d, false); }
    expectWithinTwice(lumbra::showTrianMemory(c.n, c.k, c.d).cells, probe.peak_bytes());
  }
}

// The count's estimate against the pool's peak, for the engine's three ways:
// the rows from both ends, the binomial of a band that does not bind, the
// reflection sum of a balanced block.
TEST(Budget, ShowCMatchesThePool) {
  for (Case c : {Case{6000, 2000, 100}, Case{3000, 20, 3000}, Case{9000, 4500, 1000}, Case{4001, 2000, 0}}) {
    SCOPED_TRACE(testing::Message() << "showC " << c.n << " " << c.k << " " << c.d);
    kova::mem_pool pool(16384, 1024);
    kova::gmp_pool_guard gmp(pool);
    kova::file out(pool, kova::ch_range("/dev/null"), kova::wr, 0);
    recording_probe probe(pool);
    lumbra::showC(pool, out, c.n, c.k, c.d);
    expectWithinTwice(lumbra::showCMemory(c.n, c.k, c.d).total(), probe.peak_bytes());
  }
}

TEST(Budget, TableTextAndCellsMatchThePool) {
  for (Case c : {Case{200, 100, 20}, Case{200, 0, 200}, Case{400, 200, 0}, Case{250, 40, 7},
                 Case{400, 200, 40}}) {
    SCOPED_TRACE(testing::Message() << "showTrian " << c.n << " " << c.k << " " << c.d);
    kova::mem_pool pool(16384, 1024);
    kova::gmp_pool_guard gmp(pool);
    kova::file out(pool, kova::ch_range("/dev/null"), kova::wr, 0);
    recording_probe probe(pool);
    lumbra::showTrian(pool, out, c.n, c.k, c.d);
    const MemoryEstimate m = lumbra::showTrianMemory(c.n, c.k, c.d);
    expectWithinTwice(m.cells + m.text, probe.peak_bytes());
  }
}

TEST(Budget, LargestArgumentsStayFiniteAndOrdered) {
  // Every product of n and d is taken in 64 bits or doubles; under the
  // sanitizers an int overflow here would stop the test.
  // A count keeps nothing per step: a band that holds one walk needs a few KiB.
  EXPECT_LT(lumbra::showCMemory(INT_MAX, 0, 0).total(), 4096.0);
  EXPECT_LT(lumbra::showCMemory(INT_MAX - 1, 1, 1).total(), 4096.0);
  for (const MemoryEstimate& m : {lumbra::showCMemory(INT_MAX - 1, INT_MAX / 2 - 1, 1000000),
                                  lumbra::showTrianMemory(INT_MAX, INT_MAX / 2, INT_MAX),
                                  lumbra::showTrianMemory(INT_MAX, INT_MAX, 0)}) {
    EXPECT_TRUE(std::isfinite(m.total()));
    EXPECT_GT(m.total(), 64.0 * 1024 * 1024 * 1024);
  }
  EXPECT_LT(lumbra::showTrianMemory(1000, 500, 100).total(), lumbra::showTrianMemory(2000, 1000, 100).total());
  EXPECT_LT(lumbra::showTrianMemory(2000, 1000, 100).total(), lumbra::showTrianMemory(2000, 1000, 200).total());
}

TEST(Budget, PhysicalMemoryIsKnown) { EXPECT_GT(lumbra::physicalMemory(), 64u * 1024 * 1024); }

}  // namespace
