#include "stats/calibrated_chi_square.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "stats/distribution.h"

namespace {

struct Q {
  Q() { mpq_init(v); }
  Q(const Q& o) : Q() { mpq_set(v, o.v); }
  Q& operator=(const Q& o) {
    mpq_set(v, o.v);
    return *this;
  }
  ~Q() { mpq_clear(v); }
  mpq_t v;
};

// T and the rank by exact elimination on the exact covariance: any non-zero
// pivot will do (a semi-definite matrix with a zero diagonal entry has a
// zero row), and T adds r^2 / pivot a step.
lumbra::ChiSquareForm exact_form(std::vector<Q> s, std::vector<Q> r) {
  const std::size_t g = r.size();
  lumbra::ChiSquareForm form;
  Q t, f, acc;
  std::vector<bool> used(g, false);
  for (;;) {
    std::size_t p = 0;
    while (p < g && (used[p] || mpq_sgn(s[p * g + p].v) == 0)) ++p;
    if (p == g) break;
    used[p] = true;
    ++form.dof;
    mpq_mul(t.v, r[p].v, r[p].v);
    mpq_div(t.v, t.v, s[p * g + p].v);
    mpq_add(acc.v, acc.v, t.v);
    for (std::size_t i = 0; i < g; ++i) {
      if (used[i]) continue;
      mpq_div(f.v, s[i * g + p].v, s[p * g + p].v);
      mpq_mul(t.v, f.v, r[p].v);
      mpq_sub(r[i].v, r[i].v, t.v);
      for (std::size_t j = 0; j < g; ++j) {
        mpq_mul(t.v, f.v, s[p * g + j].v);
        mpq_sub(s[i * g + j].v, s[i * g + j].v, t.v);
      }
    }
  }
  form.statistic = mpq_get_d(acc.v);
  return form;
}

// Random sets of trials, each kind with its count and its probabilities over
// the ten bins: the bin probabilities of real deviation laws (which all
// share the top bin), or made-up ones on random supports (which may split
// the bins into several parts). Observed counts are drawn from them. The
// statistic and its rank against exact rational arithmetic on the same
// probabilities; and, with one kind of trial, against Pearson's sum.
TEST(CalibratedChiSquareTest, AgainstExactArithmetic) {
  constexpr std::size_t g = lumbra::bin_count;
  std::mt19937 rng(22);
  lumbra::Laws laws;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int kinds = round % 4 == 0 ? 1 : 1 + static_cast<int>(rng() % 6);
    std::vector<double> cov(g * g, 0.0), diff(g, 0.0);
    std::vector<Q> exactCov(g * g), exactDiff(g);
    std::vector<double> observed(g, 0.0), expected(g, 0.0);
    Q t, u;
    for (int kind = 0; kind < kinds; ++kind) {
      std::array<double, g> q{};
      if (round % 3 == 2) {
        for (double& p : q) p = rng() % 3 == 0 ? static_cast<double>(1 + rng() % 100) : 0.0;
        q[rng() % g] += 1;
        double sum = 0;
        for (double p : q) sum += p;
        for (double& p : q) p /= sum;
      } else {
        const int m = 1 + static_cast<int>(rng() % 40);
        q = laws.deviation(m, static_cast<int>(rng() % static_cast<unsigned>(m + 1))).binProbabilities();
      }
      const unsigned count = 1 + static_cast<unsigned>(rng() % 300);
      lumbra::addTrialsCovariance(cov, count, q);
      std::discrete_distribution<std::size_t> draw(q.begin(), q.end());
      for (unsigned i = 0; i < count; ++i) {
        const std::size_t b = draw(rng);
        observed[b] += 1;
        mpq_set_ui(t.v, 1, 1);
        mpq_add(exactDiff[b].v, exactDiff[b].v, t.v);
      }
      // Exactly the doubles, but the last bin of the support made up to 1.
      std::vector<Q> exact(g);
      std::size_t last = 0;
      for (std::size_t b = 0; b < g; ++b)
        if (q[b] > 0) last = b;
      mpq_set_ui(u.v, 1, 1);
      for (std::size_t b = 0; b < g; ++b) {
        if (b != last) mpq_set_d(exact[b].v, q[b]);
        mpq_sub(u.v, u.v, exact[b].v);
      }
      mpq_set(exact[last].v, u.v);
      for (std::size_t i = 0; i < g; ++i) {
        expected[i] += count * q[i];
        mpq_set_ui(t.v, count, 1);
        mpq_mul(t.v, t.v, exact[i].v);
        mpq_sub(exactDiff[i].v, exactDiff[i].v, t.v);
        // count (diag q - q q^T): t holds count q_i.
        for (std::size_t j = 0; j < g; ++j) {
          mpq_mul(u.v, t.v, exact[j].v);
          if (i == j) mpq_add(exactCov[i * g + j].v, exactCov[i * g + j].v, t.v);
          mpq_sub(exactCov[i * g + j].v, exactCov[i * g + j].v, u.v);
        }
      }
    }
    for (std::size_t b = 0; b < g; ++b) diff[b] = observed[b] - expected[b];

    const lumbra::ChiSquareForm got = lumbra::calibratedChiSquare(diff, cov);
    const lumbra::ChiSquareForm want = exact_form(exactCov, exactDiff);
    EXPECT_EQ(got.dof, want.dof);
    EXPECT_NEAR(got.statistic, want.statistic, 1e-9 * want.statistic + 1e-9);
    if (kinds == 1) {
      double pearson = 0;
      int cells = 0;
      for (std::size_t b = 0; b < g; ++b) {
        if (expected[b] == 0) continue;
        pearson += diff[b] * diff[b] / expected[b];
        ++cells;
      }
      EXPECT_EQ(got.dof, cells - 1);
      EXPECT_NEAR(got.statistic, pearson, 1e-9 * pearson + 1e-9);
    }
  }
}

}  // namespace
