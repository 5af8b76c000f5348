#include "triangle/trian.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "band/center_line.h"
#include "triangle/bigintgmp.h"
#include "count/count.h"
#include "plain_walk.h"
#include "recording_probe.h"

using kova::BigInt;
using kova::mem_pool;
using lumbra::centerLine;
using lumbra::Trian;
using lumbra::walkStats;

namespace {

std::string text(mem_pool& pool, const BigInt& x) {
  kova::sh_ptr<kova::mp_string> s = x.to_text(pool);
  return std::string(s->data(), s->size());
}

class TrianTest : public lumbra_test::pool_test {
 protected:
  std::string count(int n, int k, int d, bool lastRowOnly) {
    Trian t(pool, n, k, d, lastRowOnly);
    return text(pool, t.getC());
  }

  kova::gmp_pool_guard gmp{pool};
};

// L(x) = x(2k - n)/n truncated toward zero, from the product itself in 64
// bits: the list and the cursor both match it, also where x(2k - n) needs
// more than 32 bits (n = 100000).
TEST(CenterLine, ListAndCursorFollowTheTruncatedLine) {
  auto same = [](int n, int k) {
    std::vector<int> line{7, 7};  // replaced, not appended to
    centerLine(n, k, line);
    if (line.size() != static_cast<std::size_t>(n) + 1) return ::testing::AssertionFailure() << "n=" << n;
    lumbra::CenterLine c(n, k);
    for (int x = 0; x <= n; ++x, c.next()) {
      const auto want = static_cast<int>(std::int64_t{x} * (2 * k - n) / n);
      if (line[x] != want || c.value() != want)
        return ::testing::AssertionFailure() << "n=" << n << " k=" << k << " x=" << x;
    }
    return ::testing::AssertionSuccess();
  };
  for (int n = 1; n <= 64; ++n)
    for (int k = 0; k <= n; ++k) ASSERT_TRUE(same(n, k));
  for (int k : {0, 1, 333, 49999, 50000, 50001, 99999, 100000}) ASSERT_TRUE(same(100000, k));
}

TEST_F(TrianTest, LastRowOnlyKeepsBoundsAndTheEndPointOnly) {
  Trian full(pool, 12, 3, 2, false);
  std::size_t full_blocks = probe.live_blocks();
  Trian last(pool, 12, 3, 2, true);
  // One number is left: the end point's object, digits and control block.
  EXPECT_EQ(probe.live_blocks() - full_blocks, 3u);
  for (int x = 0; x <= 12; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(last.mn(x), full.mn(x));
    EXPECT_EQ(last.mx(x), full.mx(x));
  }
  EXPECT_TRUE(last.getC().eq(full.getC()));
  EXPECT_EQ(text(pool, last.getC()), "144");
}

// For every block length up to 14, walkStats agrees with a plain walk, the
// end-point count of every triangle is the number of blocks with k one bits
// whose walk deviates by at most d, and the widest band lets every such
// block through.
TEST_F(TrianTest, CountsEqualTheBlocksThatWalkStatsPlacesInTheBand) {
  for (int n = 1; n <= 14; ++n) {
    // hist[k][dev]: blocks with k one bits and deviation dev.
    std::vector<std::vector<std::uint64_t>> hist(n + 1, std::vector<std::uint64_t>(n + 1, 0));
    std::vector<bool> vb(n);
    for (std::uint32_t b = 0; b < (1u << n); ++b) {
      for (int i = 0; i < n; ++i) vb[i] = (b >> i) & 1;
      int k = -1, dev = -1;
      walkStats(vb, k, dev);
      const lumbra_test::plain_walk w(vb);
      ASSERT_EQ(k, w.k) << "block " << b << " of " << n;
      ASSERT_EQ(dev, w.d) << "block " << b << " of " << n;
      ++hist[k][dev];
    }
    std::uint64_t binomial = 1;  // n over k
    for (int k = 0; k <= n; ++k) {
      std::uint64_t within = 0;
      for (int d = 0; d <= n; ++d) {
        SCOPED_TRACE("n=" + std::to_string(n) + " k=" + std::to_string(k) + " d=" + std::to_string(d));
        within += hist[k][d];
        ASSERT_EQ(count(n, k, d, false), std::to_string(within));
        ASSERT_EQ(count(n, k, d, true), std::to_string(within));
      }
      EXPECT_EQ(within, binomial) << "n=" << n << " k=" << k;
      binomial = binomial * (n - k) / (k + 1);
    }
  }
}

// Counts live blocks without the recording probe's bookkeeping, which
// would dominate a triangle of two million cells.
class counting_probe : public kova::pool_probe {
 public:
  explicit counting_probe(mem_pool& pool) : pool_(pool) { pool_.set_probe(this); }
  ~counting_probe() { pool_.set_probe(nullptr); }
  void after_alloc(void*, std::size_t) override {
    ++allocs;
    peak = std::max(peak, ++live);
  }
  void before_free(void*, std::size_t) override { --live; }
  long live = 0;
  long peak = 0;
  long allocs = 0;

 private:
  mem_pool& pool_;
};

// The count of a balanced block is the reflection sum, which count_test
// checks against one written plainly from binomials.
TEST(TrianLarge, LastRowOnlyHoldsTwoRowsAndAgreesWithTheReflectionPrinciple) {
  const int n = 20000, d = 100;
  mem_pool pool(16384, 1024);
  kova::gmp_pool_guard gmp(pool);
  std::string want;
  {
    mpz_t c;
    mpz_init(c);
    lumbra::balancedCount(c, n, d);
    want.resize(mpz_sizeinbase(c, 10) + 2);
    mpz_get_str(want.data(), 10, c);
    want.resize(want.find('\0'));
    mpz_clear(c);
  }
  counting_probe probe(pool);
  {
    Trian t(pool, n, n / 2, d, true);
    // Three blocks per number (object, digits, control block) for two rows:
    // the row being built and the one it is built from.
    EXPECT_LE(probe.peak, 3 * 2 * (d + 1));
    EXPECT_GT(probe.peak, 3 * (d + 1));
    EXPECT_EQ(probe.live, 3);
    EXPECT_EQ(text(pool, t.getC()), want);
  }
  EXPECT_EQ(probe.live, 0);
}

// Every cell is made with room for the largest value it can take, so
// building a triangle takes exactly three blocks per cell (object, digits,
// control block) and never a block for digits that move.
TEST(TrianLarge, CellsNeverMoveTheirDigits) {
  struct row {
    int n, k, d;
  } rows[] = {{2000, 1000, 50}, {3000, 1000, 30}, {500, 0, 500}, {64, 63, 5}, {1, 1, 0}, {300, 150, 300}};
  for (const row& r : rows) {
    for (bool lastRowOnly : {false, true}) {
      SCOPED_TRACE("n=" + std::to_string(r.n) + " k=" + std::to_string(r.k) + " d=" + std::to_string(r.d) +
                   (lastRowOnly ? " last row only" : " full"));
      mem_pool pool(16384, 1024);
      kova::gmp_pool_guard gmp(pool);
      counting_probe probe(pool);
      Trian t(pool, r.n, r.k, r.d, lastRowOnly);
      long cells = 0;
      for (int x = 0; x <= r.n; ++x) cells += t.mn(x) <= t.mx(x) ? (t.mx(x) - t.mn(x)) / 2 + 1 : 0;
      EXPECT_EQ(probe.allocs, 3 * cells);
    }
  }
}

// A narrow band keeps its counts far below 2^x; the room kept for each
// cell must follow the counts, not the number of steps.
TEST(TrianLarge, FullTriangleOfANarrowBandStaysSmall) {
  mem_pool pool(16384, 1024);
  kova::gmp_pool_guard gmp(pool);
  lumbra_test::recording_probe probe(pool);
  {
    Trian t(pool, 20000, 10000, 0, false);  // every count is 0 or 1
    EXPECT_LT(probe.live_bytes(), 20001u * 96);
  }
  probe.reset_peak();
  {
    Trian t(pool, 4000, 2000, 2, false);  // counts of about 0.8 x bits
    const double limb_bytes = 4001.0 * 3 * (0.8 * 4000 / 2 / 8 + 16);
    EXPECT_LT(probe.live_bytes(), 4001.0 * 3 * 56 + limb_bytes);
  }
}

TEST(TrianFailure, ConstructionLosesNothingOnAnyFailure) {
  for (bool lastRowOnly : {false, true}) {
    lumbra_test::expect_no_leak_on_any_failure([&](mem_pool& pool) {
      kova::gmp_pool_guard gmp(pool);
      Trian t(pool, 9, 4, 2, lastRowOnly);
    });
  }
}

// The report of a failed hard assertion in the triangle's unit, as a regular
// expression.
std::string report(const std::string& cond, int line) {
  std::string re = "Hard assertion failed: ";
  for (char c : cond) {
    if (std::string("\\()[]{}.*+?|^$").find(c) != std::string::npos) re += '\\';
    re += c;
  }
  return re + ", file common/triangle/trian\\.cpp, line " + std::to_string(line) + "\n";
}

using TrianDeathTest = TrianTest;

TEST_F(TrianDeathTest, ContractViolationsStop) {
  Trian t(pool, 4, 2, 1, false);         // rows 0..0, -1..1, 0..0, -1..1, 0..0
  Trian last(pool, 4, 2, 1, true);
  std::vector<int> line;
  struct row {
    const char* cond;
    int line;
    std::function<void()> f;
  } rows[] = {
      {"n>0", 61, [&] { Trian(pool, 0, 0, 0, false); }},
      {"k>=0", 62, [&] { Trian(pool, 4, -1, 0, false); }},
      {"k<=n", 62, [&] { Trian(pool, 4, 5, 0, false); }},
      {"d>=0", 63, [&] { Trian(pool, 4, 2, -1, false); }},
      {"d<=n", 63, [&] { Trian(pool, 4, 2, 5, false); }},
      {"n>0", 20, [&] { centerLine(0, 0, line); }},
      {"k>=0", 21, [&] { centerLine(4, -1, line); }},
      {"k<=n", 21, [&] { centerLine(4, 5, line); }},
      {"x>=0", 110, [&] { t.mn(-1); }},
      {"x<int(vc.size())", 116, [&] { t.mx(5); }},
      {"x>=0", 122, [&] { t.at(-1, 0); }},
      {"x<int(vc.size())", 122, [&] { t.at(5, 0); }},
      {"y>=vc[x].mn", 123, [&] { t.at(2, -2); }},
      {"y<=vc[x].mx", 123, [&] { t.at(3, 3); }},
      {"(vc[x].mn&1)==(y&1)", 124, [&] { t.at(1, 0); }},
      {"vc[x].vi.size()>0", 125, [&] { last.at(3, 1); }},
      {"vb.size()>0", 132, [&] {
         int k, d;
         walkStats({}, k, d);
       }},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.cond);
    EXPECT_DEATH(r.f(), report(r.cond, r.line));
  }
}

}  // namespace
