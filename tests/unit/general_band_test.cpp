#include "count/general_band.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "count/mpz.h"

namespace {

using i64 = std::int64_t;

// Every path of a random band walked one by one: the count of those that
// stay inside, and the probability of leaving against that exact fraction.
// The bands are arbitrary integers per row (jumps, rows beyond the
// rectangle, empty rows), so the clipping and the exits of wide jumps are
// all exercised.
TEST(GeneralBand, CountAndProbabilityAgreeWithEveryPath) {
  std::mt19937_64 rng(24);
  for (int round = 0; round < 3000; ++round) {
    lumbra::GeneralBand g;
    const i64 n = static_cast<i64>(rng() % 15);
    g.a = n == 0 ? 0 : static_cast<i64>(rng() % static_cast<std::uint64_t>(n + 1));
    g.b = n - g.a;
    const bool loose = rng() % 4 == 0;  // rows wider than any path needs
    for (i64 t = 0; t <= n; ++t) {
      const i64 mid = t * g.a / std::max<i64>(n, 1);
      const i64 w = loose ? 20 : static_cast<i64>(rng() % 4);
      g.lo.push_back(mid - w + static_cast<i64>(rng() % 3) - 1);
      g.hi.push_back(mid + w + static_cast<i64>(rng() % 3) - 1);
    }
    i64 inside = 0, all = 0;
    for (std::uint32_t m = 0; m < (1u << n); ++m) {
      if (__builtin_popcount(m) != g.a) continue;
      ++all;
      bool in = g.lo[0] <= 0 && 0 <= g.hi[0];
      i64 i = 0;
      for (i64 t = 1; t <= n; ++t) {
        i += (m >> (t - 1)) & 1;
        in = in && g.lo[static_cast<std::size_t>(t)] <= i && i <= g.hi[static_cast<std::size_t>(t)];
      }
      inside += in;
    }
    SCOPED_TRACE("round " + std::to_string(round) + " a=" + std::to_string(g.a) + " b=" + std::to_string(g.b));
    lumbra::Mpz c;
    lumbra::countInside(c.get(), g);
    EXPECT_EQ(mpz_get_si(c.get()), inside);
    const lumbra::LeaveProbability p = lumbra::leaveProbability(g, 1);
    const double want = static_cast<double>(all - inside) / static_cast<double>(all);
    EXPECT_LE(std::fabs(static_cast<double>(p.value) - want), p.error * want + 1e-16 * want);
    EXPECT_LE(p.error, 1e-15);
  }
}

// A long band: two threads give the bytes of one, and the probability lies
// within its bound of the exact count's.
TEST(GeneralBand, LongBandOnTwoThreadsMatchesTheExactCount) {
  lumbra::GeneralBand g;
  g.a = 700;
  g.b = 900;
  const i64 n = g.a + g.b;
  for (i64 t = 0; t <= n; ++t) {
    const i64 mid = t * g.a / n;
    g.lo.push_back(mid - 125 - (t % 7 == 0 ? 30 : 0));
    g.hi.push_back(mid + 120 + (t % 11 == 0 ? 9 : 0));
  }
  const lumbra::LeaveProbability one = lumbra::leaveProbability(g, 1), two = lumbra::leaveProbability(g, 2);
  EXPECT_EQ(one.value, two.value);
  EXPECT_EQ(one.error, two.error);
  lumbra::Mpz inside, all;
  lumbra::countInside(inside.get(), g);
  mpz_bin_uiui(all.get(), 1600, 700);
  mpq_t want;
  mpq_init(want);
  mpz_sub(mpq_numref(want), all.get(), inside.get());
  mpz_set(mpq_denref(want), all.get());
  const double w = mpq_get_d(want);
  mpq_clear(want);
  EXPECT_LE(std::fabs(static_cast<double>(one.value) - w), (one.error + 3e-16) * w);
  EXPECT_LT(one.error, 1e-15);
}

// The vector kernels (with their masked last cells) and the exits on the
// processor's fused multiply-add against the plain loop on the library's:
// the same bits, on random bands of every width, with jumps and open rows.
TEST(GeneralBand, VectorKernelsGiveThePlainLoopsBits) {
  std::mt19937_64 rng(4242);
  const auto below = [&rng](i64 m) { return static_cast<i64>(rng() % static_cast<std::uint64_t>(m)); };
  for (int round = 0; round < 300; ++round) {
    lumbra::GeneralBand g;
    const i64 n = 1 + below(round < 250 ? 80 : 3000);
    g.a = below(n + 1);
    g.b = n - g.a;
    const i64 w = below(round % 2 == 0 ? 12 : 70);
    for (i64 t = 0; t <= n; ++t) {
      const i64 mid = t * g.a / n;
      const bool open = round % 3 == 0 && below(3) != 0;
      g.lo.push_back(open ? -1 : mid - w - (below(9) == 0 ? below(4) : 0));
      g.hi.push_back(open ? g.a + 1 : mid + w + (below(9) == 0 ? below(4) : 0));
    }
    SCOPED_TRACE("round " + std::to_string(round) + " a=" + std::to_string(g.a) + " b=" + std::to_string(g.b));
    const lumbra::LeaveProbability plain = lumbra::leaveProbability(g, 1, lumbra::BandKernel::plain);
    for (const unsigned threads : {1u, 2u}) {
      const lumbra::LeaveProbability wide = lumbra::leaveProbability(g, threads);
      EXPECT_EQ(wide.value, plain.value) << threads << " threads";
      EXPECT_EQ(wide.error, plain.error) << threads << " threads";
    }
  }
}

// The exact count by the limb rows, on one thread and on two, against a
// plain loop of GMP integers over the whole of every row, on random bands:
// straight ones of any width with dents, and ones checked only at a few
// rows as ties make them (wide open between). The long ones are worth a
// second thread, so the halves meet across threads.
TEST(GeneralBand, CountMatchesPlainRowsOnOneAndTwoThreads) {
  std::mt19937_64 rng(2424);
  const auto below = [&rng](i64 m) { return static_cast<i64>(rng() % static_cast<std::uint64_t>(m)); };
  for (int round = 0; round < 80; ++round) {
    lumbra::GeneralBand g;
    const i64 n = round < 64 ? below(120) : 1500 + below(1000);
    g.a = below(n + 1);
    g.b = n - g.a;
    const i64 w = round < 64 ? below(12) : 20 + below(60), shift = below(7) - 3;
    const bool ties = round % 3 == 0;
    for (i64 t = 0; t <= n; ++t) {
      const i64 mid = t * g.a / std::max<i64>(n, 1) + shift;
      const bool open = ties && below(3) != 0;
      const i64 dent = below(9) == 0 ? below(3) : 0;
      g.lo.push_back(open ? -2 : mid - w + dent);
      g.hi.push_back(open ? g.a + 2 : mid + w - (below(9) == 0 ? below(3) : 0));
    }
    // Cell i of row t + 1 from cells i - 1 and i of row t, in place from the
    // top, over the cells [cl, ch] that are not zero.
    std::vector<lumbra::Mpz> v(static_cast<std::size_t>(g.a) + 1);
    const bool starts = g.lo[0] <= 0 && 0 <= g.hi[0];
    mpz_set_ui(v[0].get(), starts ? 1 : 0);
    i64 cl = 0, ch = starts ? 0 : -1;
    for (i64 t = 1; t <= n && cl <= ch; ++t) {
      const i64 nl = std::max(cl, g.lo[static_cast<std::size_t>(t)]);
      const i64 nh = std::min({ch + 1, g.hi[static_cast<std::size_t>(t)], g.a});
      for (i64 i = std::min(ch + 1, g.a); i >= cl; --i) {
        const auto k = static_cast<std::size_t>(i);
        if (i > cl) mpz_add(v[k].get(), v[k].get(), v[k - 1].get());
        if (i < nl || i > nh) mpz_set_ui(v[k].get(), 0);
      }
      cl = nl, ch = nh;
    }
    SCOPED_TRACE("round " + std::to_string(round) + " a=" + std::to_string(g.a) + " b=" + std::to_string(g.b));
    const lumbra::Mpz& want = v[static_cast<std::size_t>(g.a)];
    if (round >= 64) {
      EXPECT_GT(mpz_sizeinbase(want.get(), 2), 64u);  // a count that spans limbs
    }
    for (const unsigned threads : {1u, 2u}) {
      lumbra::Mpz c;
      lumbra::countInside(c.get(), g, threads);
      EXPECT_EQ(mpz_cmp(c.get(), want.get()), 0) << threads << " threads";
    }
  }
}

}  // namespace
