#include "stats/statistic.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "count/mpz.h"
#include "reading/block_meter.h"
#include "stats/deviation_side_law.h"
#include "stats/longest_run_law.h"
#include "stats/runs_law.h"

namespace {

using lumbra::Mpz;

// Whether num / den >= e / 100, exactly.
bool atLeastPercent(mpz_srcptr num, mpz_srcptr den, unsigned long e) {
  Mpz a, b;
  mpz_mul_ui(a.get(), num, 100);
  mpz_mul_ui(b.get(), den, e);
  return mpz_cmp(a.get(), b.get()) >= 0;
}

// The law of every statistic of the list against every block of up to 14
// bits, measured as a file's blocks are (BlockMeter::shape): for each law
// (the blocks of m bits whose k share it by lawOnes, every k when the law
// is given m alone) its range holds every value met, its probabilities sum
// to 1 and are the blocks' shares, each value's exact p-value is the share
// of the blocks at least as extreme (those whose p-value is no larger; for
// an upper tail, those of a value no smaller) and 1 where it is largest (at
// least() for an upper tail), each value's bin and passing are those of its
// exact p-value, and the law's bin and passing probabilities are the
// blocks' shares. A statistic added to the list is checked here as it is.
TEST(StatisticTest, EveryLawOfTheListMatchesEveryBlockUpTo14Bits) {
  const auto stats = lumbra::allStatistics();
  for (int m = 1; m <= 14; ++m) {
    lumbra::BlockMeter meter(m, lumbra::BlockMeter::line_budget, lumbra::blockReads(stats));
    // seen[statistic][law's ones][value]: how many blocks
    std::vector<std::map<int, std::map<int, unsigned long>>> seen(stats.size());
    for (unsigned bits = 0; bits < (1u << m); ++bits) {
      // The block's m bits first, most significant first, then zeros.
      const unsigned top = bits << (16 - m);
      const unsigned char bytes[16] = {static_cast<unsigned char>(top >> 8), static_cast<unsigned char>(top)};
      const lumbra::BlockShape shape = meter.shape(bytes, 0, m);
      for (std::size_t t = 0; t < stats.size(); ++t)
        ++seen[t][stats[t]->lawOnes(m, shape.ones)][stats[t]->value(shape)];
    }
    for (std::size_t t = 0; t < stats.size(); ++t) {
      const lumbra::Statistic& stat = *stats[t];
      for (const auto& [ones, counts] : seen[t]) {
        SCOPED_TRACE(std::string(stat.name()) + " m=" + std::to_string(m) + " k=" + std::to_string(ones));
        EXPECT_TRUE(stat.givenOnes() || ones == 0);
        const auto law = stat.law(m, ones);
        ASSERT_LE(law->least(), counts.begin()->first);
        ASSERT_GE(law->most(), counts.rbegin()->first);
        unsigned long total = 0;
        for (const auto& [value, n] : counts) total += n;
        const std::size_t values = static_cast<std::size_t>(law->most()) - static_cast<std::size_t>(law->least()) + 1;
        std::vector<Mpz> num(values), den(values);
        for (int v = law->least(); v <= law->most(); ++v) {
          const auto i = static_cast<std::size_t>(v - law->least());
          law->pValueCount(num[i].get(), den[i].get(), v);
        }
        // p(w) <= p(v), exactly
        const auto noLarger = [&](int w, int v) {
          Mpz a, b;
          mpz_mul(a.get(), num[static_cast<std::size_t>(w - law->least())].get(), den[static_cast<std::size_t>(v - law->least())].get());
          mpz_mul(b.get(), num[static_cast<std::size_t>(v - law->least())].get(), den[static_cast<std::size_t>(w - law->least())].get());
          return mpz_cmp(a.get(), b.get()) <= 0;
        };
        long double sum = 0;
        bool one = false;
        std::vector<unsigned long> inBin(lumbra::bin_count);
        unsigned long passing = 0;
        for (int v = law->least(); v <= law->most(); ++v) {
          const auto i = static_cast<std::size_t>(v - law->least());
          unsigned long tail = 0;
          for (const auto& [w, n] : counts) tail += (law->upperTail() ? w >= v : noLarger(w, v)) ? n : 0;
          Mpz a, b;
          mpz_mul_ui(a.get(), num[i].get(), total);
          mpz_mul_ui(b.get(), den[i].get(), tail);
          ASSERT_EQ(mpz_cmp(a.get(), b.get()), 0) << "the p-value of " << v;
          one = one || mpz_cmp(num[i].get(), den[i].get()) == 0;
          EXPECT_TRUE(!law->upperTail() || v > law->least() || mpz_cmp(num[i].get(), den[i].get()) == 0)
              << "the p-value of least() is not 1";
          const double p = static_cast<double>(tail) / static_cast<double>(total);
          const double error = std::max(law->pValueError(), 1e-15);
          EXPECT_NEAR(static_cast<double>(law->pValue(v)), p, error * p) << "v=" << v;
          const auto it = counts.find(v);
          const unsigned long here = it == counts.end() ? 0 : it->second;
          // A difference of two tails: within the error of the larger.
          const long double q = law->probability(v);
          EXPECT_NEAR(static_cast<double>(q), static_cast<double>(here) / static_cast<double>(total), 2 * error * p) << "v=" << v;
          sum += q;
          int bin = 0;
          for (unsigned long e = 10; e <= 90; e += 10) bin += atLeastPercent(num[i].get(), den[i].get(), e);
          EXPECT_EQ(law->bin(v), bin) << "v=" << v;
          EXPECT_EQ(law->passing(v), atLeastPercent(num[i].get(), den[i].get(), 1)) << "v=" << v;
          inBin[static_cast<std::size_t>(bin)] += here;
          passing += atLeastPercent(num[i].get(), den[i].get(), 1) ? here : 0;
        }
        EXPECT_TRUE(one) << "no value has p-value 1";
        const double error = std::max(law->pValueError(), 1e-15);
        EXPECT_NEAR(static_cast<double>(sum), 1.0, 2 * error * static_cast<double>(values));
        // The law's chances against the blocks' shares, exact fractions
        // rounded once: the law's are within its error of those.
        const lumbra::BinArray& chances = law->binProbabilities();
        for (std::size_t b = 0; b < chances.size(); ++b)
          EXPECT_NEAR(chances[b], static_cast<double>(inBin[b]) / static_cast<double>(total), 2 * error) << "bin " << b;
        EXPECT_NEAR(law->passingProbability(), static_cast<double>(passing) / static_cast<double>(total), 2 * error);
      }
    }
  }
}

// Exact counts by a plain walk over the bits one at a time, for blocks too
// long to enumerate: the arrangements of k ones and z zeros by their number
// of runs, and those whose runs are all shorter than l.
std::vector<Mpz> plainRunCounts(int k, int z) {
  // at[i][j][b][r]: i ones and j zeros so far, the last bit b, r runs
  const int most = k + z + 1;
  auto cell = [&](std::vector<Mpz>& a, int i, int j, int b, int r) -> Mpz& {
    return a[((static_cast<std::size_t>(i) * static_cast<std::size_t>(z + 1) + static_cast<std::size_t>(j)) * 2 + static_cast<std::size_t>(b)) * static_cast<std::size_t>(most + 1) + static_cast<std::size_t>(r)];
  };
  std::vector<Mpz> at(static_cast<std::size_t>(k + 1) * static_cast<std::size_t>(z + 1) * 2 * static_cast<std::size_t>(most + 1));
  if (k > 0) mpz_set_ui(cell(at, 1, 0, 1, 1).get(), 1);
  if (z > 0) mpz_set_ui(cell(at, 0, 1, 0, 1).get(), 1);
  for (int i = 0; i <= k; ++i)
    for (int j = 0; j <= z; ++j)
      for (int b = 0; b < 2; ++b)
        for (int r = 1; r < most; ++r) {
          mpz_srcptr c = cell(at, i, j, b, r).get();
          if (mpz_sgn(c) == 0) continue;
          if (i < k) mpz_add(cell(at, i + 1, j, 1, r + (b != 1)).get(), cell(at, i + 1, j, 1, r + (b != 1)).get(), c);
          if (j < z) mpz_add(cell(at, i, j + 1, 0, r + (b != 0)).get(), cell(at, i, j + 1, 0, r + (b != 0)).get(), c);
        }
  std::vector<Mpz> byRuns(static_cast<std::size_t>(most + 1));
  for (int r = 1; r <= most; ++r)
    for (int b = 0; b < 2; ++b) mpz_add(byRuns[static_cast<std::size_t>(r)].get(), byRuns[static_cast<std::size_t>(r)].get(), cell(at, k, z, b, r).get());
  return byRuns;
}

void plainShortRuns(mpz_ptr out, int k, int z, int l) {
  // end[b][i][j]: i ones and j zeros whose last run, of bit b, is complete
  std::vector<std::vector<Mpz>> end[2];
  for (auto& e : end) e.assign(static_cast<std::size_t>(k) + 1, std::vector<Mpz>(static_cast<std::size_t>(z) + 1));
  for (int i = 0; i <= k; ++i)
    for (int j = 0; j <= z; ++j)
      for (int t = 1; t < l; ++t) {
        if (i >= t) {  // a run of t ones after zeros, or the whole start
          mpz_ptr c = end[1][static_cast<std::size_t>(i)][static_cast<std::size_t>(j)].get();
          if (i == t && j == 0) mpz_add_ui(c, c, 1);
          else mpz_add(c, c, end[0][static_cast<std::size_t>(i - t)][static_cast<std::size_t>(j)].get());
        }
        if (j >= t) {
          mpz_ptr c = end[0][static_cast<std::size_t>(i)][static_cast<std::size_t>(j)].get();
          if (j == t && i == 0) mpz_add_ui(c, c, 1);
          else mpz_add(c, c, end[1][static_cast<std::size_t>(i)][static_cast<std::size_t>(j - t)].get());
        }
      }
  mpz_add(out, end[0][static_cast<std::size_t>(k)][static_cast<std::size_t>(z)].get(), end[1][static_cast<std::size_t>(k)][static_cast<std::size_t>(z)].get());
}

// Random blocks of up to a few hundred bits: the runs' whole law against
// the plain walk over the bits, the longest run's count for random lengths
// against the plain count of short runs. (The rise and fall are counts of
// band rows, which count_test checks against a plain count.)
TEST(StatisticTest, LongBlocksMatchPlainCounts) {
  std::mt19937 rng(22);
  for (int round = 0; round < 40; ++round) {
    const int m = 2 + static_cast<int>(rng() % 120);
    const int k = static_cast<int>(rng() % static_cast<unsigned>(m + 1));
    SCOPED_TRACE("m=" + std::to_string(m) + " k=" + std::to_string(k));
    lumbra::RunsLaw runs(m, k);
    const std::vector<Mpz> want = plainRunCounts(k, m - k);
    Mpz got;
    for (int r = 1; r <= m + 1; ++r) {
      runs.count(got.get(), r);
      ASSERT_EQ(mpz_cmp(got.get(), want[static_cast<std::size_t>(r)].get()), 0) << "r=" << r;
    }
  }
  for (int round = 0; round < 40; ++round) {
    const int m = 2 + static_cast<int>(rng() % 300);
    const int k = static_cast<int>(rng() % static_cast<unsigned>(m + 1));
    lumbra::LongestRunLaw law(m, k);
    // The usual lengths (counted row by row) and long ones (by exclusion).
    for (int l : {law.least(), law.least() + 1 + static_cast<int>(rng() % 12), 34 + static_cast<int>(rng() % 40), law.most()}) {
      if (l > law.most()) continue;
      Mpz want;
      plainShortRuns(want.get(), k, m - k, l);
      ASSERT_EQ(mpz_cmp(law.shorterThan(l), want.get()), 0) << "m=" << m << " k=" << k << " l=" << l;
    }
  }
}

}  // namespace

namespace {

// The laws that decide from floating point (every one of blockStatistics())
// against their exact counts for random (m, k, v) up to m = 4096: each
// value's bin and passing are the exact ones, its p-value within the law's
// bound, and the bins' chances those of the exact p-values at the
// crossings.
TEST(StatisticTest, FastLawsDecideAsTheExactCounts) {
  std::mt19937 rng(2204);
  const auto stats = lumbra::blockStatistics();
  for (int round = 0; round < 12; ++round) {
    const int m = round == 0 ? 4096 : round < 3 ? 1024 + static_cast<int>(rng() % 1024) : 2 + static_cast<int>(rng() % 600);
    const int k = m / 2 + static_cast<int>(rng() % static_cast<unsigned>(m / 8 + 1)) - m / 16;
    for (std::size_t t = 0; t < stats.size(); ++t) {
      const auto law = stats[t]->law(m, k);
      SCOPED_TRACE(std::string(stats[t]->name()) + " m=" + std::to_string(m) + " k=" + std::to_string(k));
      // Values about the usual ones (where the edges are), and one anywhere.
      const int span = law->most() - law->least();
      const std::string_view name = stats[t]->name();
      const int usual = name == "longest_run" ? static_cast<int>(std::log2(m)) + 2 - law->least()
                        : name == "runs"      ? 1 + 2 * k * (m - k) / m + static_cast<int>(std::sqrt(m) / 2) - law->least()
                                              : static_cast<int>(std::sqrt(m) / 2);
      for (int v : {law->least() + std::clamp(usual + static_cast<int>(rng() % 9) - 4, 0, span),
                    law->least() + static_cast<int>(rng() % static_cast<unsigned>(span + 1))}) {
        if (m > 1024 && v > law->least() + usual + 12) continue;  // the exact counts of far values cost seconds
        Mpz num, den;
        law->pValueCount(num.get(), den.get(), v);
        const double p = static_cast<double>(lumbra::exactRatio(num.get(), den.get()));
        EXPECT_NEAR(static_cast<double>(law->pValue(v)), p, law->pValueError() * p) << "v=" << v;
        // bin and passing from the exact count: 100 num >= e den
        const auto atLeast = [&](int e) {
          Mpz a, b;
          mpz_mul_ui(a.get(), num.get(), 100);
          mpz_mul_ui(b.get(), den.get(), static_cast<unsigned long>(e));
          return mpz_cmp(a.get(), b.get()) >= 0;
        };
        int bin = 0;
        for (int e = 10; e <= 90; e += 10) bin += atLeast(e);
        EXPECT_EQ(law->bin(v), bin) << "v=" << v;
        EXPECT_EQ(law->passing(v), atLeast(1)) << "v=" << v;
      }
      const lumbra::BinArray& chances = law->binProbabilities();
      double sum = 0;
      for (double c : chances) sum += c;
      EXPECT_NEAR(sum, 1.0, 1e-9);
      EXPECT_GE(law->passingProbability(), 0.99 - 1e-9);  // P(p >= 0.01) >= 0.99
    }
  }
}

}  // namespace

// The fall under the line of k ones and the rise over it of m - k share one
// law (Statistic::sharedLaw): the two laws made apart agree to the last bit
// of every p-value, probability, bin and expectation, in both the passes in
// registers (narrow bands) and the wide ones, for even and odd m.
TEST(StatisticTest, TheFallOfKOnesIsTheRiseOfMMinusKToTheLastBit) {
  const lumbra::Statistic& up = lumbra::deviationUpStatistic();
  const lumbra::Statistic& down = lumbra::deviationDownStatistic();
  for (const int m : {1, 7, 64, 257, 1000, 4096}) {
    for (const int k : {0, 1, m / 3, m / 2, m / 2 + 1, m - 1, m}) {
      if (k < 0 || k > m) continue;
      SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k));
      const auto [owner, ones] = down.sharedLaw(m, k);
      EXPECT_EQ(owner, &up);
      EXPECT_EQ(ones, m - k);
      const auto fall = down.law(m, k);
      const auto rise = up.law(m, m - k);
      ASSERT_EQ(fall->least(), rise->least());
      ASSERT_EQ(fall->most(), rise->most());
      EXPECT_EQ(fall->passingProbability(), rise->passingProbability());
      EXPECT_EQ(fall->binProbabilities(), rise->binProbabilities());
      for (int v = fall->least(); v <= std::min(fall->most(), 300); ++v) {
        EXPECT_EQ(fall->pValue(v), rise->pValue(v)) << v;
        EXPECT_EQ(fall->probability(v), rise->probability(v)) << v;
        EXPECT_EQ(fall->bin(v), rise->bin(v)) << v;
        EXPECT_EQ(fall->passing(v), rise->passing(v)) << v;
      }
    }
  }
}
