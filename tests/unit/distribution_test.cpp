#include "stats/distribution.h"

#include <algorithm>
#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "count/count.h"
#include "plain_walk.h"

using lumbra::DeviationLaw;
using lumbra::Laws;
using lumbra::Mpz;

namespace {

// The bin of num / den and whether it passes, from exact integers.
int exact_bin(mpz_srcptr num, mpz_srcptr den) {
  Mpz a, b;
  int bin = 0;
  for (int j = 1; j <= 9; ++j) {
    mpz_mul_ui(a.get(), num, 10);
    mpz_mul_ui(b.get(), den, static_cast<unsigned long>(j));
    bin += mpz_cmp(a.get(), b.get()) >= 0;
  }
  return bin;
}
bool exact_passing(mpz_srcptr num, mpz_srcptr den) {
  Mpz a;
  mpz_mul_ui(a.get(), num, 100);
  return mpz_cmp(a.get(), den) >= 0;
}

double ratio(mpz_srcptr num, mpz_srcptr den) {
  mpq_t q;
  mpq_init(q);
  mpq_set_num(q, num);
  mpq_set_den(q, den);
  mpq_canonicalize(q);
  const double r = mpq_get_d(q);
  mpq_clear(q);
  return r;
}

// Every block of m <= 14 bits, counted by (k, d) with plain walks: the laws'
// tails, bins, passing and expectations against those counts.
TEST(DistributionTest, AllBlocksUpTo14Bits) {
  for (int m = 1; m <= 14; ++m) {
    SCOPED_TRACE("m " + std::to_string(m));
    const std::vector<std::vector<std::uint64_t>> blocks = lumbra_test::block_counts(m);
    Laws laws;
    const lumbra::OnesLaw& ones = laws.ones(m);
    Mpz num, den, tail;
    mpz_setbit(den.get(), static_cast<mp_bitcnt_t>(m));
    double onesPass = 0;
    lumbra::BinArray onesBins{};
    for (int k = 0; k <= m; ++k) {
      // p_ones: the blocks whose ones are at least as far from m/2.
      unsigned long far = 0, here = 0;
      for (int i = 0; i <= m; ++i) {
        unsigned long c = 0;
        for (unsigned long b : blocks[static_cast<std::size_t>(i)]) c += b;
        if (std::abs(2 * i - m) >= std::abs(2 * k - m)) far += c;
        if (i == k) here = c;
      }
      ones.tailCount(tail.get(), k);
      ASSERT_EQ(mpz_get_ui(tail.get()), far) << "k " << k;
      EXPECT_EQ(ones.bin(k), exact_bin(tail.get(), den.get()));
      EXPECT_EQ(ones.passing(k), exact_passing(tail.get(), den.get()));
      EXPECT_DOUBLE_EQ(ones.probability(k), std::ldexp(static_cast<double>(here), -m));
      onesBins[static_cast<std::size_t>(ones.bin(k))] += ones.probability(k);
      if (ones.passing(k)) onesPass += ones.probability(k);

      // p_deviation of every d, given k.
      DeviationLaw& law = laws.deviation(m, k);
      const std::vector<std::uint64_t>& byD = blocks[static_cast<std::size_t>(k)];
      lumbra::BinArray bins{};
      double pass = 0;
      int maxD = 0;
      for (int d = 0; d <= m + 1; ++d) {
        unsigned long atLeast = 0;
        for (int e = d; e <= m + 1; ++e) atLeast += byD[static_cast<std::size_t>(e)];
        if (atLeast > 0) maxD = d;
        law.tailCount(num.get(), tail.get(), d);
        ASSERT_EQ(mpz_get_ui(num.get()), atLeast) << "k " << k << " d " << d;
        ASSERT_EQ(mpz_get_ui(tail.get()), here);
        const double exact = static_cast<double>(atLeast) / static_cast<double>(here);
        EXPECT_LE(std::fabs(static_cast<double>(law.tail(d)) - exact), exact * law.tailError() + 1e-300);
        if (byD[static_cast<std::size_t>(d)] == 0) continue;
        EXPECT_EQ(law.bin(d), exact_bin(num.get(), tail.get())) << "k " << k << " d " << d;
        EXPECT_EQ(law.passing(d), exact_passing(num.get(), tail.get()));
        const double p = static_cast<double>(byD[static_cast<std::size_t>(d)]) / static_cast<double>(here);
        bins[static_cast<std::size_t>(law.bin(d))] += p;
        if (law.passing(d)) pass += p;
      }
      EXPECT_EQ(law.maxDeviation(), maxD);
      EXPECT_NEAR(law.passingProbability(), pass, 1e-14);
      for (int b = 0; b < lumbra::bin_count; ++b)
        EXPECT_NEAR(law.binProbabilities()[static_cast<std::size_t>(b)], bins[static_cast<std::size_t>(b)], 1e-14);
    }
    EXPECT_NEAR(ones.passingProbability(), onesPass, 1e-14);
    for (int b = 0; b < lumbra::bin_count; ++b)
      EXPECT_NEAR(ones.binProbabilities()[static_cast<std::size_t>(b)], onesBins[static_cast<std::size_t>(b)], 1e-14);
  }
}

// The edges' search, which decides on float tails where their bound can
// tell: every bin and passing mark of every (m, k, d) with m <= 64 against
// the exact counts, searched from scratch and from the edges of another
// law (of the k before, mostly right; of a far (m, k), mostly wrong), whose
// expectations are then the very same numbers.
TEST(DistributionTest, EveryDecisionUpTo64BitsIsExact) {
  Mpz num, den;
  for (int m = 15; m <= 64; ++m) {
    DeviationLaw far(m / 2, m / 6);
    far.passingProbability();
    std::unique_ptr<DeviationLaw> before;
    for (int k = 0; k <= m; ++k) {
      SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k));
      auto law = std::make_unique<DeviationLaw>(m, k);
      DeviationLaw guided(m, k);
      guided.guessEdgesFrom(k % 2 ? *before : far);
      for (int d = 0; d <= law->maxDeviation() + 1; ++d) {
        law->tailCount(num.get(), den.get(), d);
        EXPECT_EQ(law->bin(d), exact_bin(num.get(), den.get())) << "d " << d;
        EXPECT_EQ(law->passing(d), exact_passing(num.get(), den.get())) << "d " << d;
        EXPECT_EQ(guided.bin(d), law->bin(d)) << "d " << d;
        EXPECT_EQ(guided.passing(d), law->passing(d)) << "d " << d;
      }
      EXPECT_EQ(guided.binProbabilities(), law->binProbabilities());
      EXPECT_EQ(guided.passingProbability(), law->passingProbability());
      before = std::move(law);
    }
  }
}

// Random (m, k, d) up to a few hundred bits: the floating tail within its
// bound of the exact one from the triangle's counts, the decisions exact.
TEST(DistributionTest, RandomBlocksAgainstExactCounts) {
  std::mt19937 rng(11);
  Laws laws;
  Mpz c, total, num;
  for (int round = 0; round < 60; ++round) {
    const int m = 20 + static_cast<int>(rng() % 380);
    const int k = m / 2 + static_cast<int>(rng() % 21) - 10;
    DeviationLaw& law = laws.deviation(m, k);
    const int d = 1 + static_cast<int>(rng() % static_cast<unsigned>(std::min(law.maxDeviation() + 1, 3 * static_cast<int>(std::sqrt(m)))));
    SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k) + " d " + std::to_string(d));
    lumbra::countWalks(c.get(), m, k, d - 1, 1);
    mpz_bin_uiui(total.get(), static_cast<unsigned long>(m), static_cast<unsigned long>(k));
    mpz_sub(num.get(), total.get(), c.get());
    const double exact = ratio(num.get(), total.get());
    EXPECT_LE(std::fabs(static_cast<double>(law.tail(d)) - exact), exact * (law.tailError() + 1e-15));
    EXPECT_EQ(law.bin(d), exact_bin(num.get(), total.get()));
    EXPECT_EQ(law.passing(d), exact_passing(num.get(), total.get()));
  }
  // The far tail of a long block keeps its digits: with k = m / 2 the line
  // is flat, and only the two walks of all ones first or all zeros first
  // reach m / 2.
  DeviationLaw& far = laws.deviation(2400, 1200);
  EXPECT_EQ(far.maxDeviation(), 1200);
  mpz_bin_uiui(total.get(), 2400, 1200);
  long e = 0;
  const long double mant = mpz_get_d_2exp(&e, total.get());
  const long double exact = std::ldexp(2.0L / mant, static_cast<int>(-e));
  EXPECT_LT(exact, 1e-700L);
  EXPECT_LE(std::fabs(far.tail(1200) - exact), exact * 1e-13L);
  EXPECT_EQ(far.tail(1201), 0.0L);
}

// Tails computed several a pass are the very numbers of tails computed one
// at a time, in any batch and order: the figures never depend on which
// tails a search asked for together.
TEST(DistributionTest, BatchedTailsAreTheSingleOnes) {
  std::mt19937 rng(20);
  for (int round = 0; round < 12; ++round) {
    const int m = round == 0 ? 4096 : 1 + static_cast<int>(rng() % 700);
    const int k = static_cast<int>(rng() % static_cast<unsigned>(m + 1));
    SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k));
    DeviationLaw single(m, k), batched(m, k);
    const int top = std::min(batched.maxDeviation() + 2, 160);
    std::vector<int> ds;
    for (int d = 0; d <= top; ++d) ds.push_back(d);
    std::shuffle(ds.begin(), ds.end(), rng);
    for (std::size_t first = 0; first < ds.size(); first += 1 + rng() % 7)
      batched.computeTails(std::vector<int>(ds.begin() + static_cast<long>(first),
                                            ds.begin() + static_cast<long>(std::min(ds.size(), first + 7))));
    for (int d = top; d >= 0; --d) EXPECT_EQ(batched.tail(d), single.tail(d)) << "d " << d;
    // The passing mark the search settled, against a scan of the tails
    // (away from the mark, where the tails' error cannot matter).
    for (int d = 0; d <= top; ++d) {
      const long double t = single.tail(d);
      if (std::fabs(t - 0.01L) > 1e-9L) {
        EXPECT_EQ(batched.passing(d), t >= 0.01L) << "d " << d;
      }
    }
  }
}

}  // namespace
