#include "stats/least_p_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "plain_walk.h"
#include "reading/block_meter.h"

namespace {

// Random blocks of 1 .. 12 bits, as many as 1 .. 400 at a time, with a few
// windows kept, so that neighbours merge several times and the last window
// is short: each window's figure is the least p-value of its blocks, both
// p-values counted plainly from every block of that length.
TEST(LeastPWindows, EachWindowHoldsTheLeastPValueOfItsBlocks) {
  std::vector<std::vector<std::vector<std::uint64_t>>> counts(13);  // by m: blocks[k][d]
  for (int m = 1; m <= 12; ++m) counts[static_cast<std::size_t>(m)] = lumbra_test::block_counts(m);
  auto log10P = [&](int m, int k, int d) {
    const auto& c = counts[static_cast<std::size_t>(m)];
    double ones = 0, all = 0, atLeast = 0, withK = 0;
    for (int j = 0; j <= m; ++j)
      for (int e = 0; e <= m + 1; ++e) {
        const auto n = static_cast<double>(c[static_cast<std::size_t>(j)][static_cast<std::size_t>(e)]);
        all += n;
        if (std::abs(2 * j - m) >= std::abs(2 * k - m)) ones += n;
        if (j == k) {
          withK += n;
          if (e >= d) atLeast += n;
        }
      }
    return std::log10(std::min(ones / all, atLeast / withK));
  };
  std::mt19937_64 rng(2026);
  for (int round = 0; round < 40; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    const std::size_t want = 1 + rng() % 5;
    const std::uint64_t first = rng() % 1000;
    const int count = 1 + static_cast<int>(rng() % 400);
    lumbra::LeastPWindows where(first, want);
    std::vector<double> blockP;
    for (int i = 0; i < count; ++i) {
      // The last block of a file may be short.
      const int m = i + 1 == count ? 1 + static_cast<int>(rng() % static_cast<std::uint64_t>(n)) : n;
      std::vector<bool> vb(static_cast<std::size_t>(m));
      for (std::size_t j = 0; j < vb.size(); ++j) vb[j] = rng() & 1;
      const lumbra_test::plain_walk w(vb);
      where.add(m, w.k, static_cast<int>(w.d));
      blockP.push_back(log10P(m, w.k, static_cast<int>(w.d)));
    }
    lumbra::StatisticLaws laws;
    const auto windows = where.windows(laws);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_FALSE(windows.empty());
    EXPECT_LE(windows.size(), 2 * want);
    if (static_cast<std::size_t>(count) >= want) {
      EXPECT_GE(windows.size(), want);
    }
    const std::uint64_t wide = windows.front().blocks;
    std::uint64_t block = first;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      EXPECT_EQ(windows[i].firstBlock, block);
      EXPECT_EQ(windows[i].blocks, std::min<std::uint64_t>(wide, first + static_cast<std::uint64_t>(count) - block));
      const auto from = blockP.begin() + static_cast<std::ptrdiff_t>(block - first);
      const double least = *std::min_element(from, from + static_cast<std::ptrdiff_t>(windows[i].blocks));
      EXPECT_NEAR(windows[i].log10LeastP, least, 1e-9);
      block += windows[i].blocks;
    }
    EXPECT_EQ(block, first + static_cast<std::uint64_t>(count));
  }
}

// Every statistic judged: each window's figure is the least, over its
// blocks and over the statistics, of log10 of the block's p-value, each
// asked of the laws block by block (the windows keep only each statistic's
// extremes per (m, k)).
TEST(LeastPWindows, EveryStatisticJudged) {
  const auto statistics = lumbra::allStatistics();
  std::mt19937_64 rng(25);
  for (int round = 0; round < 12; ++round) {
    const int n = 8 + static_cast<int>(rng() % 57);
    const std::size_t want = 1 + rng() % 6;
    const int count = 1 + static_cast<int>(rng() % 300);
    lumbra::BlockMeter meter(n, lumbra::BlockMeter::line_budget, lumbra::blockReads(statistics));
    lumbra::LeastPWindows where(0, want, statistics);
    lumbra::StatisticLaws laws(statistics);
    std::vector<double> blockP;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(n + 7) / 8);
    for (int i = 0; i < count; ++i) {
      // Biased bits now and then, so that some blocks are unlikely.
      const bool biased = rng() % 8 == 0;
      for (unsigned char& b : bytes) b = static_cast<unsigned char>(biased ? rng() | rng() : rng());
      const lumbra::BlockShape shape = meter.shape(bytes.data(), 0, n);
      where.add(n, shape);
      double least = 0;
      for (std::size_t s = 0; s < statistics.size(); ++s) {
        const long double p = laws.law(s, n, shape.ones).pValue(statistics[s]->value(shape));
        if (p > 0) least = std::min(least, static_cast<double>(std::log10(p)));
      }
      blockP.push_back(least);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    std::uint64_t block = 0;
    for (const auto& w : where.windows(laws)) {
      const auto from = blockP.begin() + static_cast<std::ptrdiff_t>(block);
      EXPECT_NEAR(w.log10LeastP, *std::min_element(from, from + static_cast<std::ptrdiff_t>(w.blocks)), 1e-9);
      block += w.blocks;
    }
    EXPECT_EQ(block, static_cast<std::uint64_t>(count));
  }
}

}  // namespace
