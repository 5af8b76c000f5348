#include "stats/runs_law.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <numeric>

#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

unsigned long ul(int v) { return static_cast<unsigned long>(v); }

// C(n, j), 0 outside 0 <= j <= n.
void binomial(mpz_ptr c, int n, int j) {
  if (j < 0 || n < 0 || j > n) {
    mpz_set_ui(c, 0);
    return;
  }
  mpz_bin_uiui(c, ul(n), ul(j));
}

// The arrangements of k ones and z zeros (both at least 1) with r runs, by
// ones(j) = C(k - 1, j) and zeros(j) = C(z - 1, j), each 0 outside its range.
template <class Ones, class Zeros>
void runsCount(mpz_ptr c, int r, Ones&& ones, Zeros&& zeros) {
  const int s = r / 2;
  if (r % 2 == 0) {
    mpz_mul(c, ones(s - 1), zeros(s - 1));
    mpz_mul_2exp(c, c, 1);
  } else {
    mpz_mul(c, ones(s), zeros(s - 1));
    mpz_addmul(c, ones(s - 1), zeros(s));
  }
}

class RunsStatistic final : public Statistic {
 public:
  std::string_view name() const override { return "runs"; }
  std::string_view measures() const override {
    return "the runs of equal bits (too few: bits that stick; too many: bits that alternate)";
  }
  std::string_view subject() const override { return "the number of runs of equal bits"; }
  bool givenOnes() const override { return true; }
  // The complement of a block has the same runs.
  int lawOnes(int m, int k) const override { return std::min(k, m - k); }
  int value(const BlockShape& block) const override { return block.runs; }
  std::unique_ptr<StatisticLaw> law(int m, int k) const override { return std::make_unique<RunsLaw>(m, k); }
};

}  // namespace

RunsLaw::RunsLaw(int m, int k) : m_(m), k_(k) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  const int z = m - k;
  least_ = k == 0 || z == 0 ? 1 : 2;
  most_ = k == 0 || z == 0 ? 1 : 2 * std::min(k, z) + (k != z ? 1 : 0);
  const std::size_t size = static_cast<std::size_t>(most_ - least_) + 1;
  std::vector<Mpz> counts(size);
  if (least_ == 1) {
    mpz_set_ui(counts[0].get(), 1);
  } else {
    // C(k - 1, j) and C(z - 1, j) for every j, each from the one before.
    auto row = [](int n) {
      std::vector<Mpz> c(static_cast<std::size_t>(n) + 2);  // c[n + 1] = 0
      mpz_set_ui(c[0].get(), 1);
      for (int j = 1; j <= n; ++j) {
        mpz_mul_ui(c[static_cast<std::size_t>(j)].get(), c[static_cast<std::size_t>(j) - 1].get(), ul(n - j + 1));
        mpz_divexact_ui(c[static_cast<std::size_t>(j)].get(), c[static_cast<std::size_t>(j)].get(), ul(j));
      }
      return c;
    };
    const std::vector<Mpz> ones = row(k - 1), zeros = row(z - 1);
    auto at = [](const std::vector<Mpz>& c) {
      return [&c](int j) { return c[static_cast<std::size_t>(std::min<std::size_t>(static_cast<std::size_t>(j), c.size() - 1))].get(); };
    };
    for (int r = least_; r <= most_; ++r) runsCount(counts[index(r)].get(), r, at(ones), at(zeros));
  }
  Mpz total, tail;
  binomial(total.get(), m, k);
  // The values from the farthest from the mean inwards, those equally far
  // together: each one's tail is all that came before it and its equals.
  std::vector<int> order(size);
  std::iota(order.begin(), order.end(), least_);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return distance(a) > distance(b); });
  pValue_.resize(size);
  probability_.resize(size);
  for (std::size_t i = 0; i < size;) {
    std::size_t j = i;
    for (; j < size && distance(order[j]) == distance(order[i]); ++j) mpz_add(tail.get(), tail.get(), counts[index(order[j])].get());
    for (; i < j; ++i) pValue_[index(order[i])] = exactRatio(tail.get(), total.get());
  }
  for (int r = least_; r <= most_; ++r) probability_[index(r)] = exactRatio(counts[index(r)].get(), total.get());
}

long long RunsLaw::distance(int r) const {
  return std::llabs(static_cast<long long>(m_) * r - m_ - 2LL * k_ * (m_ - k_));
}

std::size_t RunsLaw::index(int r) const {
  hard_assert(r >= least_ && r <= most_, "r>=least_&&r<=most_");
  return static_cast<std::size_t>(r - least_);
}

void RunsLaw::count(mpz_ptr c, int r) const {
  const int z = m_ - k_;
  mpz_set_ui(c, 0);
  if (r < least_ || r > most_) return;
  if (k_ == 0 || z == 0) {
    mpz_set_ui(c, 1);
    return;
  }
  // Each product takes one binomial of each side, so one number each will do.
  Mpz a, b;
  runsCount(
      c, r, [&](int j) { return binomial(a.get(), k_ - 1, j), a.get(); },
      [&](int j) { return binomial(b.get(), z - 1, j), b.get(); });
}

void RunsLaw::pValueCount(mpz_ptr num, mpz_ptr den, int r) {
  const long long d = distance(r);
  index(r);  // checks the range
  Mpz c;
  mpz_set_ui(num, 0);
  for (int v = least_; v <= most_; ++v) {
    if (distance(v) < d) continue;
    count(c.get(), v);
    mpz_add(num, num, c.get());
  }
  binomial(den, m_, k_);
}

long double RunsLaw::pValue(int r) { return pValue_[index(r)]; }

long double RunsLaw::probability(int r) { return probability_[index(r)]; }

const Statistic& runsStatistic() {
  static const RunsStatistic statistic;
  return statistic;
}

}  // namespace lumbra
