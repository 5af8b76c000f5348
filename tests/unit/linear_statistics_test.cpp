// The rank, the linear complexity and the collisions of a block: each law
// against every block (or every sequence of words) small enough to
// enumerate, and each fast kernel, through the meter as `test` reads it,
// against a plain reference on random blocks of every size up to 4096.
#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "count/mpz.h"
#include "reading/block_meter.h"
#include "stats/block_rank.h"
#include "stats/linear_complexity.h"
#include "stats/statistic.h"
#include "stats/word_collisions.h"

namespace {

using lumbra::Mpz;

// Rank over GF(2) by textbook Gaussian elimination: for each column, find a
// row at or below the pivot row with a one there, swap it up, clear the
// column from every other row.
int plainRank(std::vector<std::vector<int>> a) {
  const std::size_t rows = a.size(), cols = rows ? a[0].size() : 0;
  std::size_t rank = 0;
  for (std::size_t col = 0; col < cols && rank < rows; ++col) {
    std::size_t p = rank;
    while (p < rows && a[p][col] == 0) ++p;
    if (p == rows) continue;
    std::swap(a[p], a[rank]);
    for (std::size_t i = 0; i < rows; ++i)
      if (i != rank && a[i][col])
        for (std::size_t j = 0; j < cols; ++j) a[i][j] ^= a[rank][j];
    ++rank;
  }
  return static_cast<int>(rank);
}

// Berlekamp-Massey over GF(2) as Massey wrote it, one bit at a time.
int plainComplexity(const std::vector<int>& s) {
  const std::size_t n = s.size();
  std::vector<int> c(n + 1, 0), b(n + 1, 0);
  c[0] = b[0] = 1;
  std::size_t l = 0, m = 1;
  for (std::size_t i = 0; i < n; ++i) {
    int d = s[i];
    for (std::size_t j = 1; j <= l; ++j) d ^= c[j] & s[i - j];
    if (d == 0) {
      ++m;
    } else if (2 * l <= i) {
      const std::vector<int> t = c;
      for (std::size_t j = 0; j + m <= n; ++j) c[j + m] ^= b[j];
      l = i + 1 - l;
      b = t;
      m = 1;
    } else {
      for (std::size_t j = 0; j + m <= n; ++j) c[j + m] ^= b[j];
      ++m;
    }
  }
  return static_cast<int>(l);
}

// The bits of a block into words, first bit on top, past the end 0.
std::vector<std::uint64_t> wordsOf(const std::vector<int>& bits) {
  std::vector<std::uint64_t> w((bits.size() + 63) / 64 + 1, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) w[i / 64] |= std::uint64_t{1} << (63 - i % 64);
  return w;
}

// The law against the counts of every outcome by value (`total` outcomes):
// its range, each value's exact p-value (the share of outcomes at least as
// extreme, as `asExtreme` says), its bin and passing.
template <class AsExtreme>
void expectLaw(lumbra::StatisticLaw& law, const std::map<int, unsigned long>& counts, AsExtreme asExtreme) {
  unsigned long total = 0;
  for (const auto& [v, n] : counts) total += n;
  EXPECT_EQ(law.least(), counts.begin()->first);
  EXPECT_EQ(law.most(), counts.rbegin()->first);
  double binSum[10] = {}, passSum = 0;
  for (int v = law.least(); v <= law.most(); ++v) {
    unsigned long tail = 0;
    for (const auto& [u, n] : counts) tail += asExtreme(u, v) ? n : 0;
    Mpz num, den;
    law.pValueCount(num.get(), den.get(), v);
    mpz_mul_ui(num.get(), num.get(), total);
    mpz_mul_ui(den.get(), den.get(), tail);
    ASSERT_EQ(mpz_cmp(num.get(), den.get()), 0) << "v=" << v;
    const auto it = counts.find(v);
    const double q = it == counts.end() ? 0.0 : static_cast<double>(it->second) / static_cast<double>(total);
    EXPECT_NEAR(static_cast<double>(law.probability(v)), q, 1e-15 * q);
    const int bin = static_cast<int>(std::min(9ul, 10 * tail / total));
    EXPECT_EQ(law.bin(v), bin) << "v=" << v;
    EXPECT_EQ(law.passing(v), 100 * tail >= total) << "v=" << v;
    binSum[bin] += q;
    passSum += 100 * tail >= total ? q : 0;
  }
  for (int b = 0; b < 10; ++b) EXPECT_NEAR(law.binProbabilities()[static_cast<std::size_t>(b)], binSum[b], 1e-14);
  EXPECT_NEAR(law.passingProbability(), passSum, 1e-14);
}

// Every matrix of r rows of c bits, rc <= 16: the rank law's counts, and
// the kernel's elimination against the plain one on the same rows.
TEST(LinearStatisticsTest, RankLawMatchesEveryMatrix) {
  for (int r = 0; r <= 16; ++r)
    for (int c = 1; c <= 16 && r * c <= 16; ++c) {
      SCOPED_TRACE("r=" + std::to_string(r) + " c=" + std::to_string(c));
      std::map<int, unsigned long> counts;
      for (unsigned v = 0; v < (1u << (r * c)); ++v) {
        std::vector<std::vector<int>> a(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (int i = 0; i < r * c; ++i) a[static_cast<std::size_t>(i / c)][static_cast<std::size_t>(i % c)] = static_cast<int>((v >> i) & 1);
        ++counts[plainRank(a)];
      }
      const auto law = lumbra::matrixRankLaw(r, c);
      expectLaw(*law, counts, [](int u, int v) { return u <= v; });
    }
}

// Every block of up to 16 bits: the complexity law's counts, and the word
// kernel against the textbook algorithm on each block.
TEST(LinearStatisticsTest, ComplexityLawMatchesEveryBlockUpTo16Bits) {
  std::vector<std::uint64_t> scratch;
  for (int m = 1; m <= 16; ++m) {
    SCOPED_TRACE("m=" + std::to_string(m));
    std::map<int, unsigned long> counts;
    std::vector<int> bits(static_cast<std::size_t>(m));
    for (unsigned v = 0; v < (1u << m); ++v) {
      for (int i = 0; i < m; ++i) bits[static_cast<std::size_t>(i)] = static_cast<int>((v >> i) & 1);
      const int l = plainComplexity(bits);
      ASSERT_EQ(lumbra::linearComplexity(wordsOf(bits).data(), m, scratch), l) << "v=" << v;
      ++counts[l];
    }
    const auto law = lumbra::linearComplexityLaw(m);
    expectLaw(*law, counts, [m](int u, int v) { return std::abs(2 * u - m) >= std::abs(2 * v - m); });
  }
}

// Every sequence of w words of t bits, M^w <= 2^16: the occupancy law.
TEST(LinearStatisticsTest, CollisionsLawMatchesEveryWordSequence) {
  for (int t = 1; t <= 8; ++t)
    for (int w = 1; w * t <= 16; ++w) {
      SCOPED_TRACE("t=" + std::to_string(t) + " w=" + std::to_string(w));
      std::map<int, unsigned long> counts;
      for (unsigned v = 0; v < (1u << (w * t)); ++v) {
        std::set<unsigned> distinct;
        for (int i = 0; i < w; ++i) distinct.insert((v >> (i * t)) & ((1u << t) - 1));
        ++counts[w - static_cast<int>(distinct.size())];
      }
      const auto law = lumbra::wordCollisionsLaw(t, w);
      expectLaw(*law, counts, [](int u, int v) { return u >= v; });
    }
}

// Random blocks of every kind of length, read through the meter as `test`
// reads them (its own size, in lanes at 64, 128 and 256 bits, the ranks of
// whole-byte blocks in lanes, a shorter last block, any bit offset): rank, complexity and collisions against the
// plain references; and sources of known structure, whose values the
// references must agree with too.
TEST(LinearStatisticsTest, MeterMatchesPlainReferencesUpTo4096Bits) {
  std::mt19937_64 rng(35);
  const unsigned reads = lumbra::reads_of_words;
  const int sizes[] = {1, 31, 32, 64, 65, 128, 256, 333, 1000, 1024, 2047, 4095, 4096};
  for (int round = 0; round < 60; ++round) {
    const int n = round < 13 ? sizes[round] : 1 + static_cast<int>(rng() % 4096);
    // Enough blocks for whole groups of lanes where the ranks go in lanes.
    const std::size_t count = n <= 256 ? 70 : n % 8 == 0 ? 20 : 3;
    std::vector<unsigned char> bytes((count * static_cast<std::size_t>(n) + 7) / 8 + 8);
    // Now and then a block of low complexity: a short recurrence.
    const int kind = round % 3;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(rng());
    if (kind == 1) {
      unsigned state = static_cast<unsigned>(rng()) | 1u;
      for (auto& b : bytes) {
        unsigned char v = 0;
        for (int j = 0; j < 8; ++j) {
          const unsigned bit = state & 1u;
          state = (state >> 1) ^ (bit ? 0x80200003u : 0u);
          v = static_cast<unsigned char>((v << 1) | bit);
        }
        b = v;
      }
    }
    lumbra::BlockMeter meter(n, lumbra::BlockMeter::line_budget, reads);
    std::vector<lumbra::BlockShape> shapes(count);
    meter.shapes(bytes.data(), count, shapes.data());
    const int bit = static_cast<int>(rng() % 8), m = kind == 2 ? 1 + static_cast<int>(rng() % static_cast<unsigned>(n)) : n;
    const lumbra::BlockShape other = meter.shape(bytes.data(), bit, m);
    auto check = [&](std::size_t first, int length, const lumbra::BlockShape& got) {
      SCOPED_TRACE("n=" + std::to_string(n) + " at " + std::to_string(first) + " m=" + std::to_string(length));
      std::vector<int> bits(static_cast<std::size_t>(length));
      for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = (bytes[(first + i) / 8] >> (7 - (first + i) % 8)) & 1;
      const int c = lumbra::rankColumns(length), r = lumbra::rankRows(length);
      std::vector<std::vector<int>> a(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
      for (int i = 0; i < r * c; ++i) a[static_cast<std::size_t>(i / c)][static_cast<std::size_t>(i % c)] = bits[static_cast<std::size_t>(i)];
      EXPECT_EQ(got.rank, plainRank(a));
      EXPECT_EQ(got.complexity, plainComplexity(bits));
      const int t = lumbra::collisionWidth(length), w = length / t;
      std::set<unsigned> distinct;
      for (int i = 0; i < w; ++i) {
        unsigned v = 0;
        for (int j = 0; j < t; ++j) v = (v << 1) | static_cast<unsigned>(bits[static_cast<std::size_t>(i) * static_cast<std::size_t>(t) + static_cast<std::size_t>(j)]);
        distinct.insert(v);
      }
      EXPECT_EQ(got.collisions, w - static_cast<int>(distinct.size()));
    };
    for (std::size_t i = 0; i < count; i += count > 20 ? 23 : 1) check(i * static_cast<std::size_t>(n), n, shapes[i]);
    check(static_cast<std::size_t>(bit), m, other);
  }
}

// A meter not asked for them leaves them 0, and the statistics say what
// they read.
TEST(LinearStatisticsTest, ReadOnlyWhenAsked) {
  std::vector<unsigned char> bytes(1024 / 8, 0x5a);
  lumbra::BlockMeter meter(1024);
  const lumbra::BlockShape s = meter.shape(bytes.data(), 0, 1024);
  EXPECT_EQ(s.rank + s.complexity + s.collisions, 0);
  const lumbra::Statistic* three[] = {&lumbra::rankStatistic(), &lumbra::linearComplexityStatistic(),
                                      &lumbra::collisionsStatistic()};
  EXPECT_EQ(lumbra::blockReads(three), lumbra::reads_of_words);
  std::string why;
  const std::string names[] = {"rank", "linear_complexity", "collisions"};
  EXPECT_EQ(lumbra::namedStatistics(names, why).size(), 5u) << why;
}

}  // namespace
