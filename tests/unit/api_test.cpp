// The public API where Python's tests cannot see it: under the sanitizers,
// the stop function of a count, big numbers against their decimal text, and
// the rounding of fractions at the edges of the doubles.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "count/count.h"
#include "count/mpz.h"
#include "lumbra/lumbra.h"

namespace {

std::string decimal(mpz_srcptr v) {
  std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, v);
  s.resize(std::char_traits<char>::length(s.c_str()));
  return s;
}

lumbra::BigNat pow2(int e) {
  std::vector<std::uint64_t> w(static_cast<std::size_t>(e / 64) + 1, 0);
  w.back() = std::uint64_t{1} << (e % 64);
  return lumbra::BigNat::from_words(w);
}

TEST(ApiCount, AStopFunctionStopsTheCountOrLeavesItAsItIs) {
  // Both halves on threads, the reflection sum, and one thread.
  for (auto [n, k, d, threads] :
       {std::array{6000, 2999, 60, 2}, std::array{40000, 20000, 30, 2}, std::array{6000, 2999, 60, 1}}) {
    int polls = 0;
    lumbra::CountOptions keepOn{static_cast<unsigned>(threads), [&polls] { return ++polls < 0; }};
    lumbra::Mpz want;
    lumbra::countWalks(want.get(), n, k, d);
    const lumbra::BigNat c = lumbra::count(n, k, d, keepOn);
    EXPECT_EQ(c.to_string(), decimal(want.get()));
    EXPECT_GT(polls, 0) << n << " " << k << " " << d;
    lumbra::CountOptions stopNow{static_cast<unsigned>(threads), [] { return true; }};
    EXPECT_THROW(lumbra::count(n, k, d, stopNow), lumbra::Cancelled);
  }
}

TEST(ApiBigNat, DecimalTextWordsAndOrderAgree) {
  std::mt19937_64 rng(25);
  for (int i = 0; i < 200; ++i) {
    std::string text(1 + rng() % 90, '0');
    for (char& c : text) c = static_cast<char>('0' + rng() % 10);
    const lumbra::BigNat b = lumbra::BigNat::from_string(text);
    const std::size_t lead = std::min(text.find_first_not_of('0'), text.size() - 1);
    EXPECT_EQ(b.to_string(), text.substr(lead));
    EXPECT_EQ(lumbra::BigNat::from_words(b.words()), b);
    lumbra::Mpz v;
    mpz_set_str(v.get(), text.c_str(), 10);
    EXPECT_EQ(b.bit_length(), mpz_sgn(v.get()) == 0 ? 0 : mpz_sizeinbase(v.get(), 2));
    const lumbra::BigNat next = lumbra::BigNat::from_string(text + "1");
    EXPECT_LT(b, next);
  }
  for (const char* bad : {"", "-1", "1 ", "x", "+2"})
    EXPECT_THROW(lumbra::BigNat::from_string(bad), lumbra::ArgumentError);
}

TEST(ApiLaws, FractionsRoundToTheNearestDoubleTiesToEven) {
  const double least = std::numeric_limits<double>::denorm_min();
  const struct {
    lumbra::Fraction f;
    double want;
  } table[] = {
      {{1, 3}, 1.0 / 3},
      {{0, 7}, 0},
      {{1, pow2(1074)}, least},
      {{1, pow2(1075)}, 0},              // half the least: ties to even, 0
      {{3, pow2(1076)}, least},          // three quarters of it
      {{3, pow2(1075)}, 2 * least},      // one and a half: ties to even, 2
      {{5, pow2(1075)}, 2 * least},      // two and a half: ties to even, 2
      {{1, pow2(1022)}, std::ldexp(1.0, -1022)},
      {{(std::uint64_t{1} << 54) + 1, pow2(54)}, 1.0},  // 1 + 2^-54: below half an ulp
      {{(std::uint64_t{1} << 53) + 1, pow2(53)}, 1.0},  // a tie: to the even 1
      {{(std::uint64_t{1} << 53) + 3, pow2(53)}, 1.0 + std::ldexp(1.0, -51)},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.f.numerator.to_string() + "/" + row.f.denominator.to_string());
    EXPECT_EQ(lumbra::to_double(row.f), row.want);
  }
  EXPECT_EQ(lumbra::p_deviation(16, 8, 8), 2.0 / 12870);
  EXPECT_THROW(lumbra::to_double({1, 0}), lumbra::ArgumentError);
}

}  // namespace
