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

}  // namespace
