#include "stats/smirnov_closed_forms.h"

#include <gmp.h>
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "stats/smirnov.h"

namespace {

using i64 = std::int64_t;
using lumbra::Alternative;

constexpr Alternative alternatives[] = {Alternative::two_sided, Alternative::less, Alternative::greater};
int code(Alternative alt) { return alt == Alternative::less ? 1 : alt == Alternative::greater ? 2 : 0; }

// low <= q <= high, compared exactly, and high / low - 1 at most `width`.
void expectEncloses(const lumbra::Enclosure& e, mpq_srcptr q, double width) {
  EXPECT_LE(mpfr_cmp_q(e.low(), q), 0) << mpfr_get_d(e.low(), MPFR_RNDN) << " > " << mpq_get_d(q);
  EXPECT_GE(mpfr_cmp_q(e.high(), q), 0) << mpfr_get_d(e.high(), MPFR_RNDN) << " < " << mpq_get_d(q);
  if (width < 1) {
    EXPECT_GT(mpfr_sgn(e.low()), 0);
  }
  if (mpfr_sgn(e.low()) == 0) return;  // bounds: the inner event may hold no path
  mpfr_t r;
  mpfr_init2(r, lumbra::Enclosure::bits);
  mpfr_div(r, e.high(), e.low(), MPFR_RNDU);
  mpfr_sub_ui(r, r, 1, MPFR_RNDU);
  EXPECT_LE(mpfr_get_d(r, MPFR_RNDU), width);
  mpfr_clear(r);
}

// Against the exact count of the paths outside the band (GMP, the band's
// rows: a computation that shares nothing with the forms): two-valued
// samples (one check), equal sizes without ties (exact forms), and sizes
// one or three apart without ties (bounds within the promised factor).
TEST(SmirnovClosedForms, EncloseTheExactCount) {
  std::mt19937_64 rng(40);
  std::normal_distribution<double> normal;
  mpq_t exact;
  mpq_init(exact);
  for (int round = 0; round < 300; ++round) {
    const int kind = round % 3;
    const i64 n1 = 1 + static_cast<i64>(rng() % 60);
    const i64 n2 = kind == 0 ? 1 + static_cast<i64>(rng() % 60) : kind == 1 ? n1 : n1 + (round % 2 ? 1 : 3);
    std::vector<double> x, y;
    const double shift = static_cast<double>(rng() % 4) * 0.5;
    for (i64 k = 0; k < n1; ++k) x.push_back(kind == 0 ? static_cast<double>(rng() % 2) : normal(rng));
    for (i64 k = 0; k < n2; ++k) y.push_back(kind == 0 ? static_cast<double>(rng() % 3 == 0) : normal(rng) + shift);
    const lumbra::Smirnov s(x, y);
    for (const Alternative alt : alternatives) {
      SCOPED_TRACE("round " + std::to_string(round) + " " + std::to_string(n1) + " vs " + std::to_string(n2) +
                   " alt " + std::to_string(code(alt)));
      const i64 d = s.scaledStatistic(alt);
      if (d == 0) continue;
      s.exactPValue(exact, alt);
      if (kind == 0) {
        if (s.ties() != n1 + n2 - 2) continue;  // one value only in all, or both: no check between
        const i64 t = s.n1() + s.n2() - static_cast<i64>(std::count(x.begin(), x.end(), 1.0) +
                                                          std::count(y.begin(), y.end(), 1.0));
        expectEncloses(lumbra::oneCheckTail(n1, n2, t, d, code(alt)), exact, 1e-30);
      } else {
        ASSERT_EQ(s.ties(), 0);
        const bool equal = n1 == n2;
        const double factor = alt == Alternative::two_sided && !equal ? 2 : 1;
        // ((n + k) / (n - k))^e at most, k the diagonal: (1 + D) / (1 - D) with D <= 1.
        const double width = equal ? 1e-30 : factor * std::pow(2.0 * static_cast<double>(n2 + 1), n2 - n1) - 1;
        expectEncloses(lumbra::diagonalTail(n1, n2, d, code(alt)), exact, width);
      }
    }
  }
  mpq_clear(exact);
}

// With ties the bounds still hold the exact p-value: the tail at the check
// where the statistic is reached below, the paths leaving anywhere above.
TEST(SmirnovClosedForms, BoundsWithTiesEncloseTheExactCount) {
  std::mt19937_64 rng(42);
  mpq_t exact;
  mpq_init(exact);
  for (int round = 0; round < 200; ++round) {
    const i64 n1 = 1 + static_cast<i64>(rng() % 50), n2 = round % 2 ? n1 : 1 + static_cast<i64>(rng() % 50);
    const unsigned values = 2 + static_cast<unsigned>(rng() % 8);
    std::vector<double> x, y;
    for (i64 k = 0; k < n1; ++k) x.push_back(static_cast<double>(rng() % values));
    for (i64 k = 0; k < n2; ++k) y.push_back(static_cast<double>(rng() % values + rng() % 2));
    const lumbra::Smirnov s(x, y);
    for (const Alternative alt : alternatives) {
      SCOPED_TRACE("round " + std::to_string(round) + " alt " + std::to_string(code(alt)));
      if (s.scaledStatistic(alt) == 0) continue;
      const auto b = s.bounds(alt);
      ASSERT_TRUE(b.has_value());
      s.exactPValue(exact, alt);
      expectEncloses(*b, exact, HUGE_VAL);
      EXPECT_GT(mpfr_sgn(b->low()), 0);
    }
  }
  mpq_clear(exact);
}

// Where the forms stand in for the band at sizes where they are chosen:
// the band's double lies within both bounds, and the closed form's middle
// within the band's error of it.
TEST(SmirnovClosedForms, AgreeWithTheBandWhereChosen) {
  std::mt19937_64 rng(41);
  std::normal_distribution<double> normal;
  struct Case {
    i64 n1, n2;
    bool twoValued;
    double shift;
  };
  for (const Case c : {Case{3000, 6000, true, 0}, Case{2500, 2600, true, 0.1}, Case{3000, 3000, false, 0.3},
                       Case{2000, 2000, false, 0.05}}) {
    std::vector<double> x, y;
    for (i64 k = 0; k < c.n1; ++k) x.push_back(c.twoValued ? static_cast<double>(rng() % 2) : normal(rng));
    for (i64 k = 0; k < c.n2; ++k)
      y.push_back(c.twoValued ? static_cast<double>(static_cast<double>(rng() % 100) < 50 + 100 * c.shift)
                              : normal(rng) + c.shift);
    const lumbra::Smirnov s(x, y);
    for (const Alternative alt : alternatives) {
      SCOPED_TRACE(std::to_string(c.n1) + " vs " + std::to_string(c.n2) + " alt " + std::to_string(code(alt)));
      const auto form = s.closedForm(alt);
      if (s.scaledStatistic(alt) == 0) continue;
      ASSERT_TRUE(form.has_value() || !c.twoValued);
      if (!form) continue;
      const lumbra::LeaveProbability p = s.pValue(alt, 1);
      mpfr_t mid;
      mpfr_init2(mid, lumbra::Enclosure::bits);
      form->middle(mid);
      EXPECT_LE(form->relativeError(), 1e-30);
      const double m = mpfr_get_d(mid, MPFR_RNDN);
      EXPECT_NEAR(static_cast<double>(p.value), m, (p.error + 4e-16) * m);
      mpfr_clear(mid);
    }
  }
}

// Far below the doubles' range the forms still answer: equal sizes at
// D = 0.9 of a thousand each (p near 1e-700), two-sided within its
// rounding; 10^5 against 10^5 + 1 at D = 0.2 (p near 1e-1700) within a
// factor of 10 ((1 + D) / (1 - D) = 1.5, twice for the two sides).
TEST(SmirnovClosedForms, AnswerBelowTheDoubles) {
  const auto equal = lumbra::diagonalTail(1000, 1000, std::int64_t{900} * 1000, 0);
  EXPECT_LT(mpfr_cmp_d(equal.high(), DBL_MIN), 0);
  EXPECT_GT(mpfr_sgn(equal.low()), 0);
  EXPECT_LE(equal.relativeError(), 1e-30);
  const auto apart = lumbra::diagonalTail(100000, 100001, 2000020000, 0);
  EXPECT_GT(mpfr_sgn(apart.low()), 0);
  EXPECT_LT(mpfr_cmp_d(apart.high(), DBL_MIN), 0);
  mpfr_t r;
  mpfr_init2(r, 64);
  mpfr_div(r, apart.high(), apart.low(), MPFR_RNDU);
  EXPECT_LT(mpfr_get_d(r, MPFR_RNDU), 10);
  mpfr_clear(r);
  // Samples that do not overlap, sizes one apart: only the two orders
  // x-then-y and y-then-x reach D = 1, so p = 2 / C(N, n1); the inner
  // diagonal holds no path, and the check's tail keeps the lower end above 0
  // (the outer one counts the N paths one step short: N times wider).
  std::vector<double> x, y;
  for (int k = 0; k < 3000; ++k) x.push_back(k);
  for (int k = 0; k < 3001; ++k) y.push_back(10000 + k);
  const lumbra::Smirnov s(x, y);
  const auto b = s.bounds(Alternative::two_sided);
  ASSERT_TRUE(b.has_value());
  mpq_t exact;
  mpq_init(exact);
  mpz_bin_uiui(mpq_denref(exact), 6001, 3000);
  mpz_set_ui(mpq_numref(exact), 2);
  mpq_canonicalize(exact);
  expectEncloses(*b, exact, 6002);
  EXPECT_GT(mpfr_sgn(b->low()), 0);
  mpq_clear(exact);
}

}  // namespace
