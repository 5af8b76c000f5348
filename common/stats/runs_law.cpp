#include "stats/runs_law.h"

#include <algorithm>
#include <cmath>
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

class RunsStatistic final : public ValuesOf<RunsStatistic> {
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

std::vector<long double> runPairChances(int m, int k) {
  const int z = m - k, top = std::min(k, z);
  hard_assert(m <= 4096 && top >= 1, "m<=4096&&top>=1");
  // Exactly at the likeliest s, then by E(s + 1) / E(s) = (k - s)(z - s) / s^2
  // outwards, four roundings a step (long double's range holds every E of
  // m <= 4096: each is at least 1 / C(m, k)).
  const int mode = std::clamp(static_cast<int>(std::lround(static_cast<double>(k) * z / m)), 1, top);
  Mpz c, d, total;
  mpz_bin_uiui(c.get(), ul(k - 1), ul(mode - 1));
  mpz_bin_uiui(d.get(), ul(z - 1), ul(mode - 1));
  mpz_mul(c.get(), c.get(), d.get());
  binomial(total.get(), m, k);
  std::vector<long double> e(static_cast<std::size_t>(top) + 1, 0.0L);
  e[static_cast<std::size_t>(mode)] = exactRatio(c.get(), total.get());
  for (int s = mode; s < top; ++s)
    e[static_cast<std::size_t>(s) + 1] =
        e[static_cast<std::size_t>(s)] * (static_cast<long double>(k - s) / s) * (static_cast<long double>(z - s) / s);
  for (int s = mode; s > 1; --s)
    e[static_cast<std::size_t>(s) - 1] = e[static_cast<std::size_t>(s)] * (static_cast<long double>(s - 1) / (k - s + 1)) *
                                         (static_cast<long double>(s - 1) / (z - s + 1));
  return e;
}

double runPairError(int m) {
  // The exact start within 2^-50 (two truncations to 53 bits and a
  // division), at most m / 2 steps of four roundings; the long double's
  // unit counted as the double's, so that the bound holds wherever long
  // double is no wider.
  return (0x1p-50 + 0x1p-53 * (2.0 * m + 4)) * 1.01;
}

RunsLaw::RunsLaw(int m, int k) : m_(m), k_(k) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  const int z = m - k;
  least_ = k == 0 || z == 0 ? 1 : 2;
  most_ = k == 0 || z == 0 ? 1 : 2 * std::min(k, z) + (k != z ? 1 : 0);
  // E's bound, two roundings for a probability, one a term of a tail. The
  // tables are made when first asked for: a summary makes all its laws
  // before it works on any, and gives each one's tables back when done.
  error_ = runPairError(m) + 0x1p-53 * (static_cast<double>(most_ - least_) + 5) * 1.01;
}

void RunsLaw::build() {
  const int m = m_, k = k_, z = m - k;
  const std::size_t size = static_cast<std::size_t>(most_ - least_) + 1;
  probability_.assign(size, 0.0L);
  if (least_ == 1) {
    probability_[0] = 1;
  } else {
    // P(2s runs) = 2 E(s), P(2s + 1 runs) = E(s) (m - 2s) / s: the two
    // orders of s + 1 runs of one symbol and s of the other.
    const std::vector<long double> e = runPairChances(m, k);
    for (int s = 1; s <= std::min(k, z); ++s) {
      const long double es = e[static_cast<std::size_t>(s)];
      probability_[index(2 * s)] = 2 * es;
      if (2 * s + 1 <= most_) probability_[index(2 * s + 1)] = es * (static_cast<long double>(m - 2 * s) / s);
    }
  }
  // The values from the farthest from the mean inwards, those equally far
  // together: each one's tail is all that came before it and its equals (a
  // sum of positive terms).
  std::vector<int> order(size);
  std::iota(order.begin(), order.end(), least_);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return distance(a) > distance(b); });
  pValue_.resize(size);
  long double tail = 0;
  for (std::size_t i = 0; i < size;) {
    std::size_t j = i;
    for (; j < size && distance(order[j]) == distance(order[i]); ++j) tail += probability_[index(order[j])];
    for (; i < j; ++i) pValue_[index(order[i])] = std::min(tail, 1.0L);
  }
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

void RunsLaw::release() {
  // The bins and passing probabilities were made from the tables (settle).
  passingProbability();
  std::vector<long double>().swap(pValue_);
  std::vector<long double>().swap(probability_);
}

long double RunsLaw::pValue(int r) {
  if (pValue_.empty()) build();
  return pValue_[index(r)];
}

double RunsLaw::pValueError() const { return error_; }

long double RunsLaw::probability(int r) {
  if (probability_.empty()) build();
  return probability_[index(r)];
}

const Statistic& runsStatistic() {
  static const RunsStatistic statistic;
  return statistic;
}

}  // namespace lumbra
