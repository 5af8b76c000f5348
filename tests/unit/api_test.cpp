// The public API where Python's tests cannot see it: under the sanitizers,
// the stop function of a count, big numbers against their decimal text, and
// the rounding of fractions at the edges of the doubles, the Smirnov
// test's exact fraction against every dealing of the labels, shaping's kinds
// of refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <optional>
#include <unistd.h>
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

// Every dealing of the labels x and y to the pooled values 0..N-1: the
// exact p-value is the share whose statistic is at least the samples'.
TEST(ApiSmirnov, ExactFractionIsTheShareOfDealings) {
  std::mt19937 rng(25);
  for (int trial = 0; trial < 40; ++trial) {
    const int total = 2 + static_cast<int>(rng() % 9), n1 = 1 + static_cast<int>(rng() % (total - 1));
    const auto statistic = [&](unsigned mask, int sign) {  // mask: which of 0..N-1 are x's; D n1 n2
      long long i = 0, j = 0, best = 0;
      for (int v = 0; v < total; ++v) {
        ((mask >> v) & 1 ? i : j) += 1;
        const long long diff = i * (total - n1) - j * n1;
        best = std::max(best, sign == 0 ? std::llabs(diff) : sign * diff);
      }
      return best;
    };
    unsigned drawn = 0;
    while (std::popcount(drawn) != n1) drawn = static_cast<unsigned>(rng()) & ((1u << total) - 1);
    std::vector<double> x, y;
    for (int v = 0; v < total; ++v) ((drawn >> v) & 1 ? x : y).push_back(v);
    const std::array<std::pair<lumbra::SmirnovAlternative, int>, 3> alts{
        {{lumbra::SmirnovAlternative::two_sided, 0},
         {lumbra::SmirnovAlternative::greater, 1},
         {lumbra::SmirnovAlternative::less, -1}}};
    for (const auto& [alt, sign] : alts) {
      unsigned long long atLeast = 0, all = 0;
      for (unsigned mask = 0; mask < (1u << total); ++mask)
        if (std::popcount(mask) == n1) {
          ++all;
          atLeast += statistic(mask, sign) >= statistic(drawn, sign);
        }
      const lumbra::SmirnovResult r = lumbra::ks_2samp(x, y, alt, true);
      const unsigned long long g = std::gcd(atLeast, all);
      ASSERT_TRUE(r.pvalue_exact.has_value());
      EXPECT_EQ(r.pvalue_exact->numerator.to_string(), std::to_string(atLeast / g));
      EXPECT_EQ(r.pvalue_exact->denominator.to_string(), std::to_string(all / g));
      EXPECT_EQ(r.pvalue, static_cast<double>(atLeast) / static_cast<double>(all));
      EXPECT_DOUBLE_EQ(r.statistic, static_cast<double>(statistic(drawn, sign)) / (n1 * (total - n1)));
    }
  }
  EXPECT_THROW(lumbra::ks_2samp({}, {1.0}), lumbra::ArgumentError);
}

TEST(ApiShape, RoundTripsAndRefusesWithTheRightKinds) {
  const std::string data("\x00\xff shaped words", 15);
  for (const char* alphabet : {"bits", "text", "dna"})
    EXPECT_EQ(lumbra::unshape(lumbra::shape(data, 16, 2, alphabet), 16, 2, alphabet), data);
  EXPECT_THROW(lumbra::shape(data, 15, 2), lumbra::ArgumentError);
  EXPECT_THROW(lumbra::shape_info(16, 9), lumbra::ArgumentError);
  std::string damaged = lumbra::shape(data, 16, 2);
  damaged[3] = static_cast<char>(damaged[3] ^ 1);
  EXPECT_THROW(lumbra::unshape(damaged, 16, 2), lumbra::InputError);
}

namespace {

bool sameTest(const lumbra::FileTest& a, const lumbra::FileTest& b) {
  const auto sameStatistic = [](const lumbra::StatisticTest& x, const lumbra::StatisticTest& y) {
    return x.passing == y.passing && x.passing_expected == y.passing_expected && x.bins_observed == y.bins_observed &&
           x.bins_expected == y.bins_expected && x.chi2 == y.chi2 && x.dof == y.dof && x.p_value == y.p_value;
  };
  if (a.tests.size() != b.tests.size()) return false;
  for (std::size_t i = 0; i < a.tests.size(); ++i)
    if (a.tests[i].first != b.tests[i].first || !sameStatistic(a.tests[i].second, b.tests[i].second)) return false;
  return a.block_size == b.block_size && a.file_bits == b.file_bits && a.first_block == b.first_block &&
         a.block_count == b.block_count && a.bits == b.bits && a.ones == b.ones &&
         a.whole_file.runs == b.whole_file.runs && a.deviations_observed == b.deviations_observed &&
         a.deviations_expected == b.deviations_expected && a.shapes == b.shapes && a.ranges == b.ranges;
}

}  // namespace

// Bytes in memory, a Tester fed in pieces and slices merged from their JSON
// each give test_file of a file of the same bytes; merge refuses overlapping
// slices with merge's words, as InputError.
TEST(ApiTestFile, BytesPiecesAndMergedSlicesAreTestFile) {
  std::mt19937_64 rng(40);
  std::vector<unsigned char> bytes(100000);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
  char path[] = "/tmp/lumbra-api-test-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  const int n = 1000;
  const lumbra::FileTest whole = lumbra::test_file(path, n);
  EXPECT_TRUE(sameTest(lumbra::test_bytes(bytes.data(), bytes.size(), n), whole));
  lumbra::Tester t(n);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t piece = std::min<std::size_t>(bytes.size() - at, rng() % 3000);
    t.update(bytes.data() + at, piece);
    at += piece;
  }
  EXPECT_TRUE(sameTest(t.summary(), whole));
  // The slices' JSON, as lumbra-kit test --format json prints it: the kit's
  // and the module's summaries are this text.
  const auto json = [&](std::uint64_t first, std::optional<std::uint64_t> count) {
    const lumbra::FileTest s = lumbra::test_file(path, n, 0, {}, first, count);
    std::string text = "{\"block_size\":" + std::to_string(s.block_size) + ",\"file_bits\":" +
                       std::to_string(*s.file_bits) + ",\"first_block\":" + std::to_string(s.first_block) +
                       ",\"block_count\":" + std::to_string(s.block_count) + ",\"ranges\":[[" +
                       std::to_string(s.ranges[0][0]) + "," + std::to_string(s.ranges[0][1]) + "]],\"bits\":" +
                       std::to_string(s.bits) + ",\"ones\":" + std::to_string(s.ones) + ",\"tests\":{";
    for (const auto& [name, x] : s.tests) {
      text += "\"" + name + "\":{\"passing\":" + std::to_string(x.passing) + ",\"bins_observed\":[";
      for (std::size_t b = 0; b < x.bins_observed.size(); ++b) text += (b ? "," : "") + std::to_string(x.bins_observed[b]);
      text += "]}" + std::string(&name == &s.tests.back().first ? "" : ",");
    }
    text += "},\"whole_file\":{\"runs\":" + std::to_string(s.whole_file.runs) + ",\"first_bit\":" +
            std::to_string(s.whole_file.first_bit) + ",\"last_bit\":" + std::to_string(s.whole_file.last_bit) +
            "},\"deviations\":{\"observed\":[";
    for (std::size_t d = 0; d < s.deviations_observed.size(); ++d)
      text += (d ? "," : "") + std::to_string(s.deviations_observed[d]);
    text += "]},\"shapes\":[";
    for (std::size_t i = 0; i < s.shapes.size(); ++i)
      text += std::string(i ? "," : "") + "[" + std::to_string(s.shapes[i][0]) + "," + std::to_string(s.shapes[i][1]) +
              "," + std::to_string(s.shapes[i][2]) + "]";
    return text + "]}";
  };
  const std::string a = json(0, 300), b = json(300, std::nullopt);
  EXPECT_TRUE(sameTest(lumbra::merge({b, a}), whole));
  try {
    lumbra::merge({a, a}, {"a.json", "again.json"});
    ADD_FAILURE() << "overlapping slices merged";
  } catch (const lumbra::InputError& e) {
    EXPECT_STREQ(e.what(), "a.json (blocks 0..299) and again.json (blocks 0..299) overlap");
  }
  ::unlink(path);
}
