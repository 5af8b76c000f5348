#include "decimal.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "stats/distribution.h"

using lumbra::Mpz;
using lumbra::kit::approxText;
using lumbra::kit::ratioText;

namespace {

std::string printf6(long double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6Lg", v);
  return buf;
}

// A double is the exact ratio of integers num / 2^e; the C library prints
// it correctly rounded, half to even, so it is an independent reference:
// random doubles, and ties made on purpose (7 significant digits ending in
// 5, exact in binary: multiples of 2^-j with few digits).
TEST(DecimalTest, RatioTextEqualsPrintfOnDyadicRatios) {
  std::mt19937_64 rng(5);
  Mpz num, den;
  for (int round = 0; round < 20000; ++round) {
    int e = 0;
    double v;
    if (round % 3 == 0) {
      // ties and near-ties: t / 2^j for a small odd t
      e = static_cast<int>(rng() % 40);
      v = std::ldexp(static_cast<double>(rng() % 4096 | 1), -e);
      if (v > 1) v = std::ldexp(v, -12);
    } else {
      v = std::ldexp(static_cast<double>(rng() >> 11), -53 - static_cast<int>(rng() % 900));
    }
    if (v == 0) continue;
    int ex = 0;
    const double mant = std::frexp(v, &ex);  // v = mant 2^ex, mant in [0.5, 1)
    mpz_set_d(num.get(), std::ldexp(mant, 53));
    mpz_set_ui(den.get(), 0);
    mpz_setbit(den.get(), static_cast<mp_bitcnt_t>(53 - ex));
    ASSERT_EQ(ratioText(num.get(), den.get()), printf6(v)) << v;
  }
  // Ratios no double holds: beyond the doubles, and with odd denominators.
  mpz_set_ui(num.get(), 1);
  mpz_ui_pow_ui(den.get(), 10, 700);
  EXPECT_EQ(ratioText(num.get(), den.get()), "1e-700");
  mpz_set_ui(num.get(), 2);
  mpz_set_ui(den.get(), 3);
  EXPECT_EQ(ratioText(num.get(), den.get()), "0.666667");
  mpz_set_ui(num.get(), 0);
  EXPECT_EQ(ratioText(num.get(), den.get()), "0");
  // 1234565 / 10^7 is a decimal tie that no binary fraction holds: even.
  mpz_set_ui(num.get(), 1234565);
  mpz_ui_pow_ui(den.get(), 10, 7);
  EXPECT_EQ(ratioText(num.get(), den.get()), "0.123456");
  mpz_set_ui(num.get(), 1234575);
  EXPECT_EQ(ratioText(num.get(), den.get()), "0.123458");
}

// An approximation answers only when its whole error interval rounds alike,
// and then as the exact value does.
TEST(DecimalTest, ApproxTextAnswersOnlyWhenSure) {
  std::mt19937_64 rng(9);
  int answered = 0;
  for (int round = 0; round < 5000; ++round) {
    const long double v = std::ldexp(static_cast<long double>(rng() >> 11), -53 - static_cast<int>(rng() % 2000));
    const double err = round % 2 ? 1e-12 : 1e-3;
    const auto t = approxText(v, err);
    if (!t) continue;
    ++answered;
    EXPECT_EQ(*t, printf6(v * (1 + static_cast<long double>(err) * 0.5L)));
    EXPECT_EQ(*t, printf6(v * (1 - static_cast<long double>(err) * 0.5L)));
  }
  EXPECT_GT(answered, 2000);
  EXPECT_FALSE(approxText(0.1234565L, 1e-9));
}

}  // namespace
