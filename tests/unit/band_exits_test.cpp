#include "stats/band_exits.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "band/center_line.h"
#include "band/widest_deviation.h"
#include "count/count.h"
#include "count/mpz.h"

using lumbra::Mpz;

namespace {

// The passes against the exact tail (C(m, k) - walks inside) / C(m, k) of
// every band of every (m, k) with m <= 64 up to the first that no walk
// leaves, and against each other on random (m, k, h) up to m = 4096: the
// pass in registers gives the reference's very double, the float pass
// stays within its bound.
TEST(BandExitsTest, PassesAgreeWithTheCountsAndTheReference) {
  const auto check = [](int m, int k, int h, bool exact) {
    SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k) + " h " + std::to_string(h));
    std::vector<int> line;
    lumbra::centerLinePoints(m, k, line);
    double reference = 0;
    lumbra::bandExits<double>(m, k, &h, 1, &reference, line);
    // The pass in registers, beside bands of other widths.
    const int hs[3] = {h, std::max(1, h - 9), h + 1};
    double fast[3] = {}, reference3[3] = {};
    lumbra::bandExits<double>(m, k, hs, 3, reference3, line);
    lumbra::fastBandExits(m, k, hs, 3, fast, line);
    for (int b = 0; b < 3; ++b) EXPECT_EQ(fast[b], reference3[b]) << "band " << b;
    lumbra::fastBandExits(m, k, &h, 1, fast, line);
    EXPECT_EQ(fast[0], reference);
    double rough = 0;
    lumbra::approxBandExits(m, k, &h, 1, &rough, line);
    if (!exact) {
      const double bound = lumbra::bandExitError(m, 0x1p-24) + lumbra::bandExitError(m, 0x1p-53);
      EXPECT_LE(std::fabs(rough - reference), reference * bound + 1e-30);
      return;
    }
    Mpz inside, all;
    lumbra::countWalks(inside.get(), m, k, h, 1);
    mpz_bin_uiui(all.get(), static_cast<unsigned long>(m), static_cast<unsigned long>(k));
    mpz_sub(inside.get(), all.get(), inside.get());
    mpq_t q;
    mpq_init(q);
    mpq_set_num(q, inside.get());
    mpq_set_den(q, all.get());
    mpq_canonicalize(q);
    const double tail = mpq_get_d(q);
    mpq_clear(q);
    EXPECT_LE(std::fabs(reference - tail), tail * lumbra::bandExitError(m, 0x1p-53) + 1e-300);
    EXPECT_LE(std::fabs(rough - tail), tail * lumbra::bandExitError(m, 0x1p-24) + 1e-30);
  };
  for (int m = 1; m <= 64; ++m)
    for (int k = 0; k <= m; ++k) {
      // From the widest deviation on every band holds every walk.
      const lumbra::WidestDeviation widest = lumbra::widestDeviation(m, k);
      const int last = static_cast<int>(std::clamp<std::int64_t>(std::max(widest.up, widest.down), 1, m));
      for (int h = 1; h <= last; ++h) check(m, k, h, true);
    }
  std::mt19937 rng(2026);
  for (int round = 0; round < 40; ++round) {
    const int m = 65 + static_cast<int>(rng() % 4032);
    const int k = static_cast<int>(rng() % static_cast<unsigned>(m + 1));
    const int h = 1 + static_cast<int>(rng() % 140);
    check(m, k, h, false);
  }
}

// The one-sided passes (a band bounded only over the line, or only under
// it) against the exact tail for every band of every (m, k) with m <= 40,
// and on random (m, k, h) up to m = 4096 against the uncut pass in long
// double (its plain row step, not the vector one): the double within its
// bound and the cut's, the float within its own.
TEST(BandExitsTest, OneSidedPassesAgreeWithTheCountsAndTheLongDoublePass) {
  const auto check = [](int m, int k, int h, lumbra::BandSide side, long double tail) {
    SCOPED_TRACE("m " + std::to_string(m) + " k " + std::to_string(k) + " h " + std::to_string(h) +
                 (side == lumbra::BandSide::up ? " up" : " down"));
    std::vector<int> line;
    lumbra::centerLinePoints(m, k, line);
    double fast = 0, rough = 0;
    lumbra::fastBandExits(m, k, &h, 1, &fast, line, side);
    lumbra::approxBandExits(m, k, &h, 1, &rough, line, side);
    // The reference's own error (long double, or double where a tool runs
    // long double as double) on top.
    const auto t = static_cast<double>(tail);
    const double own = lumbra::bandExitError(m, 0x1p-53);
    EXPECT_LE(std::fabs(fast - t), t * (2 * own + lumbra::side_exit_error) + 1e-300);
    EXPECT_LE(std::fabs(rough - t), t * (lumbra::bandExitError(m, 0x1p-24) + own) + 1e-30);
  };
  for (const lumbra::BandSide side : {lumbra::BandSide::up, lumbra::BandSide::down}) {
    for (int m = 1; m <= 40; ++m)
      for (int k = 0; k <= m; ++k) {
        const lumbra::WidestDeviation widest = lumbra::widestDeviation(m, k);
        const auto most = side == lumbra::BandSide::up ? widest.up : widest.down;
        for (int h = 1; h < most; ++h) {
          Mpz inside, all;
          if (side == lumbra::BandSide::up) lumbra::countWalksBetween(inside.get(), m, k, m, h, 1);
          else lumbra::countWalksBetween(inside.get(), m, k, h, m, 1);
          mpz_bin_uiui(all.get(), static_cast<unsigned long>(m), static_cast<unsigned long>(k));
          check(m, k, h, side, (mpz_get_d(all.get()) - mpz_get_d(inside.get())) / mpz_get_d(all.get()));
        }
      }
    std::mt19937 rng(side == lumbra::BandSide::up ? 21 : 22);
    for (int round = 0; round < 12; ++round) {
      const int m = 65 + static_cast<int>(rng() % 4032);
      const int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(m - 1));
      const int h = 1 + static_cast<int>(rng() % 80);
      std::vector<int> line;
      lumbra::centerLinePoints(m, k, line);
      long double reference = 0;
      lumbra::bandExits<long double>(m, k, &h, 1, &reference, line, side);
      if (reference > 0) check(m, k, h, side, reference);
    }
  }
}

}  // namespace
