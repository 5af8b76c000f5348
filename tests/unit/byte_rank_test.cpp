#include "coding/byte_rank.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "coding/rank.h"
#include "count/mpz.h"

namespace {

using lumbra::Mpz;

// A byte ranker gives every block the index of the bit-by-bit ranking, and
// refuses exactly the blocks that ranking refuses: blocks of the band (by
// unrank of random indexes) and arbitrary bits, for flat and slanted bands
// of every width m <= 64 (whole and partial last bytes) and for m = 256.
TEST(ByteRank, MatchesTheBitByBitRanking) {
  std::mt19937_64 rng(23);
  struct Case {
    int m, k, d;
  };
  std::vector<Case> cases;
  for (int m = 1; m <= 64; ++m)
    for (int d : {1, 2, 4, 9}) cases.push_back({m, static_cast<int>(rng() % static_cast<unsigned>(m + 1)), std::min(d, m)});
  for (int m = 2; m <= 64; m += 2) cases.push_back({m, m / 2, std::min(m, 1 + static_cast<int>(rng() % 6))});
  for (int d : {2, 4, 8}) cases.push_back({256, 128, d});
  Mpz index, expected, total, v;
  gmp_randstate_t state;
  gmp_randinit_default(state);
  gmp_randseed_ui(state, 23);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.m) + " " + std::to_string(c.k) + " " + std::to_string(c.d));
    const lumbra::SuffixCounts table(c.m, c.k, c.d);
    const lumbra::ByteRanker ranker(table, std::size_t{8} << 20);
    ASSERT_TRUE(ranker.ready());
    table.total(total.get());
    const std::size_t nbytes = static_cast<std::size_t>(c.m + 7) / 8;
    for (int i = 0; i < 200; ++i) {
      std::vector<unsigned char> block(nbytes + 1, 0);
      if (i % 2 == 0 && mpz_sgn(total.get()) > 0) {
        mpz_urandomm(v.get(), state, total.get());
        table.unrank(v.get(), block.data(), 0);
      } else {
        for (auto& b : block) b = static_cast<unsigned char>(rng());
      }
      bool inBand = true;
      try {
        table.rank(block.data(), 0, expected.get());
      } catch (const lumbra::BlockOutsideBand&) {
        inBand = false;
      }
      ASSERT_EQ(ranker.rank(block.data(), index.get()), inBand) << i;
      if (inBand) {
        ASSERT_EQ(mpz_cmp(index.get(), expected.get()), 0) << i;
      }
    }
  }
  gmp_randclear(state);
}

}  // namespace
