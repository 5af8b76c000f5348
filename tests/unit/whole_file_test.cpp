#include "stats/whole_file.h"

#include <gmp.h>
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "count/mpz.h"
#include "stats/runs_law.h"

namespace {

using lumbra::LogProbability;
using lumbra::Mpz;

// Whether the enclosure holds ln(num / den), computed in 400 bits, and is
// no wider than the accuracy asked for.
// Returns p as a double.
double expectEncloses(const LogProbability& got, mpz_srcptr num, mpz_srcptr den, double accuracy) {
  mpfr_t q, d;
  mpfr_inits2(400, q, d, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_z(q, num, MPFR_RNDN);
  mpfr_set_z(d, den, MPFR_RNDN);
  mpfr_div(q, q, d, MPFR_RNDN);
  mpfr_log(q, q, MPFR_RNDN);
  EXPECT_GE(mpfr_cmp_d(q, got.lnLow), 0) << "ln p " << mpfr_get_d(q, MPFR_RNDN) << " below " << got.lnLow;
  EXPECT_LE(mpfr_cmp_d(q, got.lnHigh), 0) << "ln p " << mpfr_get_d(q, MPFR_RNDN) << " above " << got.lnHigh;
  EXPECT_LE(got.lnHigh - got.lnLow, accuracy + 1e-15 * std::fabs(got.lnLow));
  const double p = std::exp(mpfr_get_d(q, MPFR_RNDN));
  mpfr_clears(q, d, static_cast<mpfr_ptr>(nullptr));
  return p;
}

// A threshold a hair either side of p (2^-40 of it, beyond the rounding of
// ln p to a double): the decision refines until it is right.
template <class F>
void expectDecides(double p, F&& atLeast) {
  if (p < 1e-30 || p > 0.5) return;
  EXPECT_TRUE(atLeast(p * (1 - 0x1p-40))) << "p " << p;
  EXPECT_FALSE(atLeast(p * (1 + 0x1p-40))) << "p " << p;
}

// Files of up to 2500 bits, every kind of balance and number of runs: the
// enclosures hold the exact p-values, the balance's summed from binomials,
// the runs' from the block law of runs (checked by enumeration elsewhere).
TEST(WholeFileTest, EnclosuresHoldTheExactPValues) {
  std::mt19937_64 rng(22);
  for (int round = 0; round < 150; ++round) {
    const unsigned n = round < 60 ? 1 + static_cast<unsigned>(round) : 1 + static_cast<unsigned>(rng() % 2500);
    const double accuracy = round % 3 == 0 ? 0x1p-40 : lumbra::file_p_accuracy;
    // Near the middle mostly, where the sums are long; far out now and then.
    const double spread = std::sqrt(static_cast<double>(n)) * (round % 5 == 0 ? 8 : 2);
    std::normal_distribution<double> near(n / 2.0, spread / 2);
    const long k = std::lround(std::fmin(n, std::fmax(0.0, near(rng))));
    SCOPED_TRACE("n=" + std::to_string(n) + " k=" + std::to_string(k));

    Mpz num, den, c;
    const unsigned long j = static_cast<unsigned long>(std::min<long>(k, n - k));
    for (unsigned long i = 0; i <= j; ++i) mpz_bin_uiui(c.get(), n, i), mpz_add(num.get(), num.get(), c.get());
    mpz_mul_2exp(num.get(), num.get(), 1);
    mpz_ui_pow_ui(den.get(), 2, n);
    if (2 * j == n) mpz_set(num.get(), den.get());
    const double p = expectEncloses(lumbra::balancePValue(n, static_cast<std::uint64_t>(k), accuracy), num.get(), den.get(), accuracy);
    if (round % 10 == 0) expectDecides(p, [&](double alpha) { return lumbra::balanceAtLeast(n, static_cast<std::uint64_t>(k), alpha); });

    lumbra::RunsLaw runs(static_cast<int>(n), static_cast<int>(k));
    for (int r : {runs.least(), runs.most(), runs.least() + static_cast<int>(rng() % static_cast<unsigned>(runs.most() - runs.least() + 1))}) {
      runs.pValueCount(num.get(), den.get(), r);
      SCOPED_TRACE("runs " + std::to_string(r));
      const double q = expectEncloses(lumbra::runsPValue(n, static_cast<std::uint64_t>(k), static_cast<std::uint64_t>(r), accuracy),
                                      num.get(), den.get(), accuracy);
      if (round % 10 == 0)
        expectDecides(q, [&](double alpha) { return lumbra::runsAtLeast(n, static_cast<std::uint64_t>(k), static_cast<std::uint64_t>(r), alpha); });
    }
  }
}

// Files far past any exact sum, up to 2^64 - 1 bits: the p-values stay
// within a hair of the normal law's where that law is near (a check of
// scale, not of digits), and each enclosure takes little time.
TEST(WholeFileTest, HugeFilesAreJudgedToo) {
  for (const double bits : {0x1p30, 0x1p47, 0x1p63}) {
    const auto n = static_cast<std::uint64_t>(bits);
    for (const double z : {0.5, 3.0, 6.0}) {
      const double sd = std::sqrt(bits) / 2;
      const auto k = n / 2 - static_cast<std::uint64_t>(z * sd);
      const LogProbability p = lumbra::balancePValue(n, k);
      const std::uint64_t off = n / 2 - k;  // z sd, to a unit
      const double normal = std::erfc(static_cast<double>(off) / sd / std::sqrt(2.0));
      EXPECT_NEAR(p.estimate() / normal, 1, 1e-3) << "n=" << n << " z=" << z;
      // The runs of a balanced file, z standard deviations from the mean.
      const double runsSd = std::sqrt(bits) / 2;
      const auto r = n / 2 + 1 + static_cast<std::uint64_t>(z * runsSd);
      const LogProbability q = lumbra::runsPValue(n, n / 2, r);
      EXPECT_NEAR(q.estimate() / std::erfc(z / std::sqrt(2.0)), 1, 1e-2) << "n=" << n << " z=" << z;
    }
  }
  // The most bits there can be, every one a one but one: p = 2 (n + 1) / 2^n.
  const std::uint64_t most = UINT64_MAX;
  const LogProbability p = lumbra::balancePValue(most, most - 1);
  const double want = std::log(2.0) + std::log(0x1p64) - 0x1p64 * std::log(2.0);
  EXPECT_NEAR(p.lnLow, want, 1e4);  // a few units of the last place of 2^63
  EXPECT_TRUE(p.surelyBelow(1e-300));
  EXPECT_EQ(p.estimate(), 0.0);
  EXPECT_TRUE(lumbra::balancePValue(most - 1, most / 2).surelyAtLeast(1));
}

// The slices of a file merge into the file's own numbers in any grouping,
// runs across the seams counted once.
TEST(WholeFileTest, SlicesMergeIntoTheFile) {
  std::mt19937 rng(22);
  for (int round = 0; round < 200; ++round) {
    std::vector<int> bits(1 + rng() % 200);
    for (int& b : bits) b = round % 2 ? static_cast<int>(rng() % 2) : static_cast<int>(rng() % 8 == 0);
    const auto of = [&](std::size_t from, std::size_t to) {
      lumbra::FileBits f;
      for (std::size_t i = from; i < to; ++i) {
        f.ones += static_cast<std::uint64_t>(bits[i]);
        f.runs += i == from || bits[i] != bits[i - 1];
      }
      f.bits = to - from;
      if (to > from) f.firstBit = bits[from], f.lastBit = bits[to - 1];
      return f;
    };
    // Cut anywhere (empty slices too), then merge left to right and by halves.
    std::vector<std::size_t> cuts = {0, bits.size()};
    for (int i = 0; i < 5; ++i) cuts.push_back(rng() % (bits.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::vector<lumbra::FileBits> slices;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) slices.push_back(of(cuts[i], cuts[i + 1]));
    lumbra::FileBits left;
    for (const auto& s : slices) left.append(s);
    const std::size_t half = slices.size() / 2;
    lumbra::FileBits a, b;
    for (std::size_t i = 0; i < half; ++i) a.append(slices[i]);
    for (std::size_t i = half; i < slices.size(); ++i) b.append(slices[i]);
    a.append(b);
    EXPECT_EQ(left, of(0, bits.size()));
    EXPECT_EQ(a, of(0, bits.size()));
  }
  lumbra::FileBits big = lumbra::FileBits::slice(UINT64_MAX - 1, 3, 3, 1, 0), one = lumbra::FileBits::slice(1, 1, 1, 1, 1);
  big.append(one);
  EXPECT_EQ(big.bits, UINT64_MAX);
  EXPECT_THROW(big.append(one), std::overflow_error);
  EXPECT_EQ(big.bits, UINT64_MAX);
}

}  // namespace
