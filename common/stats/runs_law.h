// runs: the number of runs of equal bits in a block, given its length m and
// its ones k (the turns of its walk, plus one).
//
// A block of fair bits with k ones is equally likely any of the C(m, k)
// arrangements; of these, with z = m - k zeros and 1 <= k, z,
//   2 C(k-1, s-1) C(z-1, s-1)                         have 2s runs,
//   C(k-1, s) C(z-1, s-1) + C(k-1, s-1) C(z-1, s)      have 2s + 1 runs
// (the runs of ones and of zeros alternate: choose where each symbol's k
// bits are cut into its runs), and a block of one symbol has one run. The
// mean is E = 1 + 2 k z / m. The p-value is two-sided:
//   p_runs(m, k, r) = P(|R' - E| >= |r - E|),
// decided exactly by comparing |m r' - m - 2kz| with |m r - m - 2kz|, so
// too few runs (bits that stick) and too many (bits that alternate) are both
// extreme. RunsLaw computes the law of one (m, k) at construction in O(m)
// long double steps: the probabilities from runPairChances (below), the
// p-values as sums of them, all within pValueError() (about 3m units of the
// double's last place); the exact counts are worked out when asked for, and
// where a bin edge is near.
#pragma once

#include <vector>

#include "stats/statistic.h"

namespace lumbra {

class RunsLaw final : public StatisticLaw {
 public:
  // Requires 1 <= m <= 4096, 0 <= k <= m. Throws std::bad_alloc.
  RunsLaw(int m, int k);

  int least() const override { return least_; }
  int most() const override { return most_; }
  void pValueCount(mpz_ptr num, mpz_ptr den, int r) override;
  long double pValue(int r) override;
  long double probability(int r) override;
  bool upperTail() const override { return false; }
  double pValueError() const override;
  void release() override;

  // Sets c to the number of arrangements of (m, k) with r runs (0 outside
  // [least(), most()]).
  void count(mpz_ptr c, int r) const;

 private:
  // |m r - m - 2kz|: the distance of r from the mean, times m.
  long long distance(int r) const;
  std::size_t index(int r) const;
  // The tables of every value's probability and p-value.
  void build();

  int m_, k_, least_, most_;
  double error_ = 0;
  std::vector<long double> pValue_, probability_;  // by r - least_
};

// E(s) = C(k-1, s-1) C(z-1, s-1) / C(m, k) for s = 0 .. min(k, z) (E(0) =
// 0; z = m - k): the chance of s runs of ones and s runs of zeros in one
// given order, each within runPairError(m) of the exact one; the runs law
// and the longest run's both weigh by them. Requires 1 <= k < m <= 4096.
// Throws std::bad_alloc.
std::vector<long double> runPairChances(int m, int k);
double runPairError(int m);

const Statistic& runsStatistic();

}  // namespace lumbra
