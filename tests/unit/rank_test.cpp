#include "count/mpz.h"
#include "coding/rank.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "count/count.h"
#include "triangle/trian.h"

using lumbra::SuffixCache;
using lumbra::SuffixCounts;

namespace {

using lumbra::Mpz;

// Every block of m <= 14 bits in ascending binary order: in the table of
// each (k, d) it belongs to, its index is the number of members met before
// it, and the index gives the block back; the members of (m, k, d) are as
// many as countWalks counts.
TEST(Rank, MatchesEnumeration) {
  Mpz index, c;
  for (int m = 1; m <= 14; ++m) {
    std::vector<SuffixCounts> tables;
    for (int k = 0; k <= m; ++k)
      for (int d = 0; d <= m; ++d) tables.emplace_back(m, k, d);
    std::vector<unsigned long> seen(tables.size(), 0);
    std::vector<bool> vb(static_cast<std::size_t>(m)), back;
    for (unsigned v = 0; v < (1u << m); ++v) {
      for (int i = 0; i < m; ++i) vb[static_cast<std::size_t>(i)] = (v >> (m - 1 - i)) & 1u;
      int k, dev;
      lumbra::walkStats(vb, k, dev);
      // Outside its band (a narrower one, or another k) a block has no index.
      for (int d = 0; d < dev; ++d)
        EXPECT_THROW(tables[static_cast<std::size_t>(k * (m + 1) + d)].rank(vb, index.get()), lumbra::BlockOutsideBand);
      if (k < m) {
        EXPECT_THROW(tables[static_cast<std::size_t>((k + 1) * (m + 1) + m)].rank(vb, index.get()), lumbra::BlockOutsideBand);
      }
      for (int d = dev; d <= m; ++d) {
        const std::size_t t = static_cast<std::size_t>(k) * static_cast<std::size_t>(m + 1) + static_cast<std::size_t>(d);
        tables[t].rank(vb, index.get());
        ASSERT_EQ(mpz_cmp_ui(index.get(), seen[t]), 0) << m << " " << v << " " << d;
        tables[t].unrank(index.get(), back);
        ASSERT_EQ(back, vb);
        ++seen[t];
      }
    }
    for (const SuffixCounts& t : tables) {
      t.total(c.get());
      EXPECT_EQ(mpz_cmp_ui(c.get(), seen[static_cast<std::size_t>(t.k() * (m + 1) + t.d())]), 0);
      lumbra::countWalks(index.get(), m, t.k(), t.d(), 1);
      EXPECT_EQ(mpz_cmp(c.get(), index.get()), 0);
      EXPECT_LE(t.bytes(), SuffixCounts::estimateBytes(m, t.k(), t.d()));
    }
  }
}

// Up to m = 1024: unrank(rank(b)) == b for random blocks of any density, and
// rank(unrank(i)) == i for random indexes, through one small cache.
TEST(Rank, RoundTripsOnRandomBlocksAndIndexes) {
  std::mt19937_64 rng(15);
  gmp_randstate_t state;
  gmp_randinit_default(state);
  gmp_randseed_ui(state, 15);
  SuffixCache cache(std::size_t{32} << 20);
  Mpz index, c, again;
  std::vector<bool> vb, back;
  for (int round = 0; round < 300; ++round) {
    const int m = round < 20 ? 1024 : 1 + static_cast<int>(rng() % 1024);
    std::bernoulli_distribution bit(std::uniform_real_distribution<double>(0.02, 0.98)(rng));
    vb.resize(static_cast<std::size_t>(m));
    for (std::size_t i = 0; i < vb.size(); ++i) vb[i] = bit(rng);
    int k, dev;
    lumbra::walkStats(vb, k, dev);
    const int d = std::min(m, dev + static_cast<int>(rng() % 3));
    auto t = cache.get(m, k, d);
    ASSERT_NE(t, nullptr);
    t->rank(vb, index.get());
    t->total(c.get());
    ASSERT_LT(mpz_cmp(index.get(), c.get()), 0);
    t->unrank(index.get(), back);
    ASSERT_EQ(back, vb) << m << " " << k << " " << d;
    // The same block packed into bytes from a random bit, amid random bits
    // for rank, amid zeros for unrank.
    const int at = static_cast<int>(rng() % 8);
    std::vector<unsigned char> packed((static_cast<std::size_t>(at + m) + 7) / 8 + 1), noise(packed.size());
    for (auto& b : noise) b = static_cast<unsigned char>(rng());
    std::vector<unsigned char> amid = noise;
    for (int i = 0; i < m; ++i) {
      const int p = at + i;
      const auto mask = static_cast<unsigned char>(0x80u >> (p % 8));
      amid[static_cast<std::size_t>(p / 8)] = static_cast<unsigned char>(amid[static_cast<std::size_t>(p / 8)] & ~mask);
      if (vb[static_cast<std::size_t>(i)]) {
        amid[static_cast<std::size_t>(p / 8)] |= mask;
        packed[static_cast<std::size_t>(p / 8)] |= mask;
      }
    }
    t->rank(amid.data(), at, again.get());
    ASSERT_EQ(mpz_cmp(again.get(), index.get()), 0);
    std::vector<unsigned char> out(packed.size(), 0);
    t->unrank(index.get(), out.data(), at);
    ASSERT_EQ(out, packed);

    mpz_urandomm(index.get(), state, c.get());
    t->unrank(index.get(), back);
    int k2, dev2;
    lumbra::walkStats(back, k2, dev2);
    ASSERT_EQ(k2, k);
    ASSERT_LE(dev2, d);
    t->rank(back, again.get());
    ASSERT_EQ(mpz_cmp(again.get(), index.get()), 0);

    // Several walks at once (four abreast, then the rest), one after the
    // other in one buffer from bit `at`, as the decoder lays them out.
    const int count = 1 + static_cast<int>(rng() % 9);
    std::vector<lumbra::Mpz> many(static_cast<std::size_t>(count));
    std::vector<mpz_srcptr> indexes;
    std::vector<lumbra::SuffixCounts::BitPlace> places;
    std::vector<unsigned char> all((static_cast<std::size_t>(at) + static_cast<std::size_t>(count * m) + 7) / 8, 0);
    for (int j = 0; j < count; ++j) {
      mpz_urandomm(many[static_cast<std::size_t>(j)].get(), state, c.get());
      indexes.push_back(many[static_cast<std::size_t>(j)].get());
      const int from = at + j * m;
      places.push_back({all.data() + from / 8, from % 8});
    }
    t->unrank(indexes, places);
    for (int j = 0; j < count; ++j) {
      t->unrank(indexes[static_cast<std::size_t>(j)], back);
      for (int i = 0; i < m; ++i) {
        const int p = at + j * m + i;
        ASSERT_EQ((all[static_cast<std::size_t>(p / 8)] >> (7 - p % 8)) & 1, back[static_cast<std::size_t>(i)] ? 1 : 0);
      }
    }
    EXPECT_LE(cache.bytes(), cache.maxBytes());
  }
  gmp_randclear(state);
}

// Flat bands (m even, k = m/2) keep half their rows. For every one up to
// m = 64 and every d, against counts taken by a plain loop over the whole
// band (S(x, y) = S(x + 1, y - 1) + S(x + 1, y + 1) for |y| <= d): the
// total, the index of the blocks of random indexes (each walked: balanced,
// within d), and rank's refusal of random balanced blocks that leave the
// band.
TEST(Rank, FlatBandsMatchPlainCounts) {
  std::mt19937_64 rng(23);
  gmp_randstate_t state;
  gmp_randinit_default(state);
  gmp_randseed_ui(state, 23);
  Mpz index, c, expected;
  for (int m = 2; m <= 64; m += 2) {
    for (int d = 0; d <= m / 2; ++d) {
      SCOPED_TRACE(std::to_string(m) + " " + std::to_string(d));
      // s[x][y + d]: the paths from (x, y) to (m, 0) within [-d, d].
      std::vector<std::vector<Mpz>> s(static_cast<std::size_t>(m) + 1);
      for (auto& row : s) row.resize(static_cast<std::size_t>(2 * d) + 3);  // and a zero either side
      const auto at = [&](int x, int y) -> mpz_ptr {
        const int i = y + d + 1;
        return s[static_cast<std::size_t>(x)][static_cast<std::size_t>(i)].get();
      };
      mpz_set_ui(at(m, 0), 1);
      for (int x = m - 1; x >= 0; --x)
        for (int y = -d; y <= d; ++y) mpz_add(at(x, y), at(x + 1, y - 1), at(x + 1, y + 1));
      const auto plainRank = [&](const std::vector<bool>& vb) {
        mpz_set_ui(expected.get(), 0);
        int y = 0;
        for (int x = 0; x < m; ++x) {
          if (vb[static_cast<std::size_t>(x)]) mpz_add(expected.get(), expected.get(), at(x + 1, y - 1));
          y += vb[static_cast<std::size_t>(x)] ? 1 : -1;
        }
      };
      const SuffixCounts t(m, m / 2, d);
      t.total(c.get());
      ASSERT_EQ(mpz_cmp(c.get(), at(0, 0)), 0);
      if (mpz_sgn(c.get()) == 0) continue;
      std::vector<bool> vb;
      for (int round = 0; round < 20; ++round) {
        mpz_urandomm(index.get(), state, c.get());
        t.unrank(index.get(), vb);
        int k, dev;
        lumbra::walkStats(vb, k, dev);
        ASSERT_EQ(k, m / 2);
        ASSERT_LE(dev, d);
        plainRank(vb);
        ASSERT_EQ(mpz_cmp(expected.get(), index.get()), 0);
        t.rank(vb, index.get());
        ASSERT_EQ(mpz_cmp(expected.get(), index.get()), 0);

        std::shuffle(vb.begin(), vb.end(), rng);
        lumbra::walkStats(vb, k, dev);
        if (dev > d) {
          EXPECT_THROW(t.rank(vb, index.get()), lumbra::BlockOutsideBand);
        } else {
          plainRank(vb);
          t.rank(vb, index.get());
          ASSERT_EQ(mpz_cmp(expected.get(), index.get()), 0);
        }
      }
    }
  }
  gmp_randclear(state);
}

}  // namespace
