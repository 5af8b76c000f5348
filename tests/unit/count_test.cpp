#include "count/count.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "triangle/bigintgmp.h"
#include "recording_probe.h"
#include "triangle/trian.h"

namespace {


// A GMP integer as decimal text, with its memory from the pool under test.
struct Count {
  mpz_t v;
  Count() { mpz_init(v); }
  ~Count() { mpz_clear(v); }
  std::string text() const {
    std::vector<char> buf(mpz_sizeinbase(v, 10) + 2);
    return mpz_get_str(buf.data(), 10, v);
  }
};

// Every block the engine took goes back, with the size it was taken with.
class CountTest : public lumbra_test::pool_test {
 protected:
  kova::gmp_pool_guard gmp{pool};
};

// The engine against the triangle it replaces, on every block of up to 40
// bits: every k, every d, by whichever way it chooses and by the rows alone.
TEST_F(CountTest, MatchesTheTriangleOnEverySmallBlock) {
  kova::mem_pool plain(16384, 1024);
  for (int n = 1; n <= 40; ++n)
    for (int k = 0; k <= n; ++k)
      for (int d = 0; d <= n; ++d) {
        std::string want;
        // The triangle on a pool of its own, which the probe does not slow.
        {
          kova::gmp_pool_guard inner(plain);
          lumbra::Trian t(plain, n, k, d, true);
          kova::sh_ptr<kova::mp_string> s = t.getC().to_text(plain);
          want.assign(s->data(), static_cast<std::size_t>(s->size()));
        }
        Count c, rows;
        lumbra::countWalks(c.v, n, k, d);
        lumbra::countWalksByRows(rows.v, n, k, d, 1);
        ASSERT_EQ(c.text(), want) << "n=" << n << " k=" << k << " d=" << d;
        ASSERT_EQ(rows.text(), want) << "by rows: n=" << n << " k=" << k << " d=" << d;
      }
}

// Balanced blocks: the rows, the engine's reflection sum (terms stepped or
// each its own binomial, by the size of d) and the sum written plainly from
// fresh binomials agree, at sizes the rows still reach quickly.
TEST_F(CountTest, BalancedBlocksFollowTheReflectionSum) {
  for (int n : {2, 64, 1000, 3000})
    for (int d : {0, 1, 7, 50, 300, 1001, 1499, 1500}) {
      if (d > n) continue;
      Count plain, term;
      // sum over j of C(n, n/2 + j(2d + 2)) - C(n, n/2 + j(2d + 2) + d + 1)
      const long p = 2L * d + 2;
      for (long j = -(n / p) - 1; j <= n / p + 1; ++j) {
        const long a = n / 2 + j * p, b = a + d + 1;
        if (a >= 0 && a <= n) mpz_bin_uiui(term.v, static_cast<unsigned long>(n), static_cast<unsigned long>(a)), mpz_add(plain.v, plain.v, term.v);
        if (b >= 0 && b <= n) mpz_bin_uiui(term.v, static_cast<unsigned long>(n), static_cast<unsigned long>(b)), mpz_sub(plain.v, plain.v, term.v);
      }
      Count sum, rows;
      lumbra::balancedCount(sum.v, n, d);
      lumbra::countWalksByRows(rows.v, n, n / 2, d, 2);
      EXPECT_EQ(sum.text(), plain.text()) << "n=" << n << " d=" << d;
      EXPECT_EQ(rows.text(), plain.text()) << "n=" << n << " d=" << d;
    }
}

// Two threads give the bytes of one, where the second thread is worth
// starting (the halves differ in length, k and the line's slope).
TEST_F(CountTest, TwoThreadsCountAsOne) {
  struct Case {
    int n, k, d;
  };
  for (Case c : {Case{4001, 1500, 80}, Case{6000, 3001, 400}, Case{3000, 2900, 3000}, Case{5000, 700, 9}}) {
    Count one, two;
    lumbra::countWalksByRows(one.v, c.n, c.k, c.d, 1);
    lumbra::countWalksByRows(two.v, c.n, c.k, c.d, 2);
    EXPECT_EQ(one.text(), two.text()) << "n=" << c.n << " k=" << c.k << " d=" << c.d;
    EXPECT_GT(mpz_sgn(one.v), 0);
  }
}

// Bands with a side of their own: the walks of (n, k) from a plain count
// over every height of every column, kept to line - below ... line + above
// (the line x(2k - n)/n truncated toward zero, in 64 bits), on random
// blocks up to 300 bits, one side unbounded now and then.
TEST_F(CountTest, BandsWithTwoSidesMatchAPlainCount) {
  std::mt19937 rng(22);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + static_cast<int>(rng() % (round < 200 ? 40 : 300));
    const int k = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
    const auto side = [&] { return rng() % 4 == 0 ? n : static_cast<int>(rng() % static_cast<unsigned>(n / 3 + 2)) % (n + 1); };
    const int below = side(), above = side();
    std::vector<Count> col(2 * static_cast<std::size_t>(n) + 3), next(col.size());  // height h at h + n + 1
    mpz_set_ui(col[static_cast<std::size_t>(n) + 1].v, 1);
    for (long x = 1; x <= n; ++x) {
      const long line = x * (2L * k - n) / n;
      for (long h = -n; h <= n; ++h) {
        mpz_ptr c = next[static_cast<std::size_t>(h + n + 1)].v;
        mpz_set_ui(c, 0);
        if (h < line - below || h > line + above) continue;
        mpz_add(c, col[static_cast<std::size_t>(h + n)].v, col[static_cast<std::size_t>(h + n + 2)].v);
      }
      std::swap(col, next);
    }
    Count got;
    lumbra::countWalksBetween(got.v, n, k, below, above, 1 + round % 2);
    ASSERT_EQ(got.text(), col[static_cast<std::size_t>(2 * k + 1)].text())
        << "n=" << n << " k=" << k << " below=" << below << " above=" << above;
  }
}

// The share of the work a count reports as it goes only grows, stays below
// 1, and at the last report is within a factor of 2 of done: the estimate
// of the rows' limb additions against the additions the rows really make.
// On one thread and two, for narrow and wide bands, k near and far from n/2,
// and the reflection sum. A stop function asked to stop ends the count.
TEST_F(CountTest, ReportsTheShareOfTheWorkDone) {
  struct Case {
    int n, k, d;
  };
  for (Case c : {Case{200000, 100000, 1}, Case{60000, 20000, 40}, Case{8000, 3000, 800}, Case{8000, 1000, 600},
                 Case{200000, 2000, 5}, Case{200000, 100000, 300}}) {
    for (const unsigned threads : {1u, 2u}) {
      std::vector<double> shares;
      const lumbra::CountStop record = [&](double done) {
        shares.push_back(done);
        return false;
      };
      Count c1;
      ASSERT_TRUE(lumbra::countWalks(c1.v, c.n, c.k, c.d, threads, record));
      const std::string where = "n=" + std::to_string(c.n) + " k=" + std::to_string(c.k) + " d=" +
                                std::to_string(c.d) + " threads=" + std::to_string(threads);
      ASSERT_GE(shares.size(), 2u) << where;
      EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end())) << where;
      EXPECT_GE(shares.front(), 0) << where;
      EXPECT_LE(shares.back(), 0.99) << where;
      EXPECT_GE(shares.back(), 0.5) << where;
    }
  }
  Count c2;
  EXPECT_FALSE(lumbra::countWalks(c2.v, 200000, 100000, 1, 1, [](double) { return true; }));
}

}  // namespace
