#include "stats/sort_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

// Random arrays against std::sort: normal samples, a few repeated values
// (ties), both zeros, infinities, subnormal and huge values, and whole
// numbers, whose low bytes are all alike (the passes that are skipped).
TEST(SortValues, AgreesWithStdSort) {
  std::mt19937_64 rng(77);
  std::normal_distribution<double> normal;
  const std::vector<double> special = {0.0,
                                       -0.0,
                                       std::numeric_limits<double>::infinity(),
                                       -std::numeric_limits<double>::infinity(),
                                       std::numeric_limits<double>::denorm_min(),
                                       -std::numeric_limits<double>::denorm_min(),
                                       std::numeric_limits<double>::max(),
                                       -std::numeric_limits<double>::max(),
                                       1.0,
                                       -1.0};
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = rng() % (round < 300 ? 40 : 5000);
    std::vector<double> v(n);
    for (double& x : v) {
      switch (round % 4) {
        case 0: x = normal(rng); break;
        case 1: x = std::round(normal(rng) * 4) / 4; break;
        case 2: x = static_cast<double>(static_cast<std::int64_t>(rng() % 1000) - 500); break;
        default: x = rng() % 3 == 0 ? special[rng() % special.size()] : std::ldexp(normal(rng), static_cast<int>(rng() % 2000) - 1000);
      }
    }
    std::vector<double> want = v;
    std::sort(want.begin(), want.end());
    lumbra::sortValues(v);
    SCOPED_TRACE("round " + std::to_string(round) + " n=" + std::to_string(n));
    ASSERT_EQ(v.size(), want.size());
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(v[i], want[i]) << "at " << i;
      if (i > 0) {
        EXPECT_FALSE(v[i] < v[i - 1]) << "at " << i;
      }
    }
  }
}

}  // namespace
