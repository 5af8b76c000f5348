// longest_run: the length of the longest run of equal bits in a block,
// given its length m and its ones k.
//
// The p-value is one-sided, towards long runs:
//   p_longest(m, k, l) = P(L' >= l) = 1 - N(l) / C(m, k),
// where N(l) counts the arrangements of k ones and z = m - k zeros whose
// runs are all shorter than l. An arrangement with a runs of ones and b of
// zeros has |a - b| <= 1 (two orders when a = b), and its ones make a
// composition of k into a parts, its zeros one of z into b parts, so
//   N(l) = sum over a of c(k, a) (c(z, a - 1) + 2 c(z, a) + c(z, a + 1)),
// with c(n, a) the compositions of n into a parts of at most b = l - 1: for
// small b row by row, c(n, a) = c(n-1, a-1) + c(n-1, a) - c(n-b-1, a-1),
// O(m^2) additions; for large b by inclusion and exclusion over the parts
// that are too long,
//   c(n, a) = sum over j of (-1)^j C(a, j) C(n - j b - 1, a - 1),
// O(m^2 / b) products. Every count is an exact big integer; a law computes
// N(l) for an l when it is first asked for and keeps it.
//
// Those counts are slow (m = 4096: about 0.3 s an l), so a law works in
// doubles and counts exactly only what the doubles cannot decide. Given a
// runs of ones and b of zeros, each symbol's composition is uniform over
// its C(n - 1, a - 1), independently; so with G_n(a) the chance that a
// uniform composition of n into a parts has a part of l or more, and
// F = 1 - G,
//   P(L' >= l) = sum over (a, b) of w(a, b) (G_k(a) + F_k(a) G_z(b)),
// w(a, b) the chance of a and b runs: a sum of positive terms, so the
// far tail keeps its relative accuracy. G_n(a) is the inclusion and
// exclusion sum above divided by C(n - 1, a - 1), the terms
// t_j = C(a, j) C(n - j (l-1) - 1, a - 1) / C(n - 1, a - 1) each from the one
// before; their ratios fall with j, so the sum is cut where a term is
// negligible with the first term left out as a bound. Each tail comes with
// a proven bound on its absolute error (rounding of the terms and of the
// sums, the terms left out, the runs far from the usual left out); see
// docs/statistics.md. Where that bound is too wide (short runs whose
// compositions cancel, tails below the doubles) the exact count decides.
#pragma once

#include <array>
#include <map>
#include <vector>

#include "count/mpz.h"
#include "stats/statistic.h"

namespace lumbra {

class LongestRunLaw final : public StatisticLaw {
 public:
  // Requires 1 <= m <= 4096, 0 <= k <= m. Computes nothing yet.
  LongestRunLaw(int m, int k);

  // ceil(max(k, z) / (min(k, z) + 1)) and max(k, z).
  int least() const override { return least_; }
  int most() const override { return most_; }
  void pValueCount(mpz_ptr num, mpz_ptr den, int l) override;
  long double pValue(int l) override;
  long double probability(int l) override;
  double pValueError() const override { return longest_run_error; }
  int bin(int l) override;
  bool passing(int l) override;
  double passingProbability() override;
  const BinArray& binProbabilities() override;
  // Gives back the weights, the tails and the exact counts kept for single
  // values; the crossings and the bins' chances stay.
  void release() override;

  // N(l): the arrangements whose runs are all shorter than l, for any l >= 0.
  mpz_srcptr shorterThan(int l);

  // P(L' >= l) in doubles and a bound on its absolute error, for any l.
  struct Tail {
    double p, error;
  };
  Tail fastTail(int l);

  // The relative error of pValue and probability: what the doubles give
  // within it, the exact counts otherwise.
  static constexpr double longest_run_error = 0x1p-26;

 private:
  // The chances w(a, b) of a runs of ones and b of zeros that matter.
  void weigh();
  // G_n(a) for a in [from, to], with its error bound, for parts of l or more.
  void compositionTails(int n, int from, int to, int l, std::vector<double>& g, std::vector<double>& error) const;
  // Whether p(l) >= num / den, exactly.
  bool tailAtLeast(int l, int num, int den);
  // Where each edge is crossed, and the bins' chances; once.
  void findCrossings();

  int m_, k_, least_, most_;
  Mpz total_;                 // C(m, k)
  std::map<int, Mpz> below_;  // N(l) by l, as asked for
  // The runs of ones a = first_ .. first_ + size - 1, with the chances of
  // b = a - 1, a, a + 1 runs of zeros; the chance of the rest, and the
  // relative error of the chances kept.
  bool weighed_ = false;
  int first_ = 0;
  std::vector<std::array<double, 3>> weight_;
  double leftOut_ = 0, weightError_ = 0;
  std::map<int, Tail> tails_;
  bool crossed_ = false;
  // The least l whose p-value is below each edge: 0.9, ..., 0.1, 0.01.
  std::array<int, bin_count> firstBelow_{};
  BinArray binChances_{};
  double passChance_ = 0;
};

// c(n, a) for a = 0..n into parts: the compositions of n into a parts, each
// at most `most` (>= 1). Throws std::bad_alloc.
void boundedCompositions(std::vector<Mpz>& parts, int n, int most);

const Statistic& longestRunStatistic();

}  // namespace lumbra
