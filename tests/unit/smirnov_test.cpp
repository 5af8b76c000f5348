#include "stats/smirnov.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "count/count.h"
#include "count/mpz.h"

namespace {

using i64 = std::int64_t;
using lumbra::Alternative;

constexpr Alternative alternatives[] = {Alternative::two_sided, Alternative::less, Alternative::greater};

// The statistic of one labelling of the sorted pooled values, written
// plainly from the definition: F1 and F2 as fractions compared at the end of
// every run of equal values, by cross-multiplication.
i64 plainStatistic(const std::vector<double>& pooled, const std::vector<bool>& fromX, i64 n1, i64 n2, Alternative alt) {
  i64 best = 0, i = 0, j = 0;
  for (std::size_t k = 0; k < pooled.size(); ++k) {
    (fromX[k] ? i : j) += 1;
    if (k + 1 < pooled.size() && pooled[k + 1] == pooled[k]) continue;
    const i64 up = i * n2 - j * n1;
    best = std::max(best, alt == Alternative::greater ? up : alt == Alternative::less ? -up : std::abs(up));
  }
  return best;
}

// Every labelling of small pooled samples, with ties and without, for each
// alternative: the statistic of the observed one, the exact p-value as the
// share of labellings at least as extreme, and the double within its bound.
TEST(Smirnov, PValuesAgreeWithEveryArrangement) {
  std::mt19937_64 rng(2024);
  for (int round = 0; round < 400; ++round) {
    const int n = 2 + static_cast<int>(rng() % 15);  // n1 + n2 <= 16
    const int n1 = 1 + static_cast<int>(rng() % static_cast<unsigned>(n - 1));
    const int range = round % 3 == 0 ? 1000000 : 2 + static_cast<int>(rng() % 6);  // ties unless wide
    std::vector<double> x, y, pooled;
    for (int k = 0; k < n; ++k) (k < n1 ? x : y).push_back(static_cast<double>(rng() % static_cast<unsigned>(range)) / 4);
    if (round % 17 == 0) std::sort(x.begin(), x.end()), std::transform(y.begin(), y.end(), y.begin(), [](double v) { return v + 1e7; });
    pooled = x;
    pooled.insert(pooled.end(), y.begin(), y.end());
    std::sort(pooled.begin(), pooled.end());
    const lumbra::Smirnov s(x, y);
    SCOPED_TRACE("round " + std::to_string(round) + " n1=" + std::to_string(n1) + " n=" + std::to_string(n));
    EXPECT_EQ(s.ties(), n - static_cast<i64>(std::unique(pooled.begin(), pooled.end()) - pooled.begin()));
    pooled = x;
    pooled.insert(pooled.end(), y.begin(), y.end());
    std::sort(pooled.begin(), pooled.end());
    for (const Alternative alt : alternatives) {
      // The observed labelling: x's values as the first of their run.
      std::vector<bool> observed(pooled.size());
      {
        std::vector<double> rest = x;
        std::sort(rest.begin(), rest.end());
        std::size_t r = 0;
        for (std::size_t k = 0; k < pooled.size(); ++k)
          if (r < rest.size() && rest[r] == pooled[k]) observed[k] = true, ++r;
      }
      const i64 d = plainStatistic(pooled, observed, n1, n - n1, alt);
      EXPECT_EQ(s.scaledStatistic(alt), d);
      i64 extreme = 0, all = 0;
      for (std::uint32_t m = 0; m < (1u << n); ++m) {
        if (__builtin_popcount(m) != n1) continue;
        std::vector<bool> fromX(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) fromX[static_cast<std::size_t>(k)] = (m >> k) & 1;
        ++all;
        extreme += plainStatistic(pooled, fromX, n1, n - n1, alt) >= d;
      }
      mpq_t exact, want;
      mpq_inits(exact, want, nullptr);
      s.exactPValue(exact, alt);
      mpq_set_si(want, extreme, static_cast<unsigned long>(all));
      mpq_canonicalize(want);
      EXPECT_TRUE(mpq_equal(exact, want)) << "alt " << static_cast<int>(alt) << ": " << extreme << "/" << all;
      mpq_clears(exact, want, nullptr);
      const lumbra::LeaveProbability p = s.pValue(alt, 1);
      const double w = static_cast<double>(extreme) / static_cast<double>(all);
      EXPECT_LE(std::fabs(static_cast<double>(p.value) - w), (p.error + 2e-16) * w);
    }
  }
}

// Equal sizes without ties: the paths inside are the balanced walks of the
// triangle's count within D n - 1 of the line, which the reflection sum
// gives (count_test checks it against plain binomials); and at unequal
// sizes up to a thousand the double stays within its bound of the fraction.
TEST(Smirnov, ExactFractionMatchesReflectionSumAndTheDouble) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  for (const auto& [n1, n2, shift] : {std::tuple{300, 300, 0.1}, std::tuple{1000, 1000, 0.25}, std::tuple{999, 1000, 0.4},
                                      std::tuple{400, 1000, 0.0}, std::tuple{60, 60, 3.0}}) {
    std::vector<double> x, y;
    for (int k = 0; k < n1; ++k) x.push_back(normal(rng));
    for (int k = 0; k < n2; ++k) y.push_back(normal(rng) + shift);
    const lumbra::Smirnov s(x, y);
    for (const Alternative alt : alternatives) {
      SCOPED_TRACE(std::to_string(n1) + " vs " + std::to_string(n2) + " alt " + std::to_string(static_cast<int>(alt)));
      mpq_t exact;
      mpq_init(exact);
      s.exactPValue(exact, alt);
      const lumbra::LeaveProbability p = s.pValue(alt);
      mpq_t got, diff;
      mpq_inits(got, diff, nullptr);
      mpq_set_d(got, static_cast<double>(p.value));
      mpq_sub(diff, got, exact);
      mpq_abs(diff, diff);
      mpq_div(diff, diff, exact);
      EXPECT_LE(mpq_get_d(diff), p.error + 2e-16);
      EXPECT_LT(p.error, 1e-15);
      if (n1 == n2 && alt == Alternative::two_sided) {
        const i64 d = s.scaledStatistic(alt);
        ASSERT_EQ(d % n1, 0);
        lumbra::Mpz inside, all;
        lumbra::balancedCount(inside.get(), 2 * n1, static_cast<int>(d / n1 - 1));
        mpz_bin_uiui(all.get(), 2 * static_cast<unsigned long>(n1), static_cast<unsigned long>(n1));
        mpz_sub(inside.get(), all.get(), inside.get());
        mpq_set_num(got, inside.get());
        mpq_set_den(got, all.get());
        mpq_canonicalize(got);
        EXPECT_TRUE(mpq_equal(got, exact));
      }
      mpq_clears(exact, got, diff, nullptr);
    }
  }
}

}  // namespace

namespace {

// A long band and a long exact count give way to their stop on one thread
// and on two: nothing is returned once it said so, the shares it was told
// rise within [0, 1), and the next call is whole.
TEST(Smirnov, LongPassesGiveWayToTheirStop) {
  std::vector<double> x, y;
  for (int k = 0; k < 20000; ++k) x.push_back(2.0 * k);
  for (int k = 0; k < 20001; ++k) y.push_back(2.0 * k + 1 + 4000);
  const lumbra::Smirnov s(x, y);
  for (const unsigned threads : {1u, 2u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    std::vector<double> shares;
    const lumbra::BandStop stop = [&shares](double done) {
      shares.push_back(done);
      return shares.size() == 3;
    };
    EXPECT_FALSE(s.pValue(Alternative::two_sided, threads, stop).has_value());
    ASSERT_EQ(shares.size(), 3u);
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_GE(shares.front(), 0);
    EXPECT_LT(shares.back(), 1);
    const lumbra::BandStop never = [](double) { return false; };
    const auto whole = s.pValue(Alternative::two_sided, threads, never);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(whole->value, s.pValue(Alternative::two_sided, threads).value);
  }
  mpq_t p;
  mpq_init(p);
  int asked = 0;
  EXPECT_FALSE(s.exactPValue(p, Alternative::two_sided, [&asked](double) { return ++asked == 2; }));
  EXPECT_EQ(asked, 2);
  mpq_clear(p);
}

}  // namespace
