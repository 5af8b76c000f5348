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
// N(l) for an l when it is first asked for and keeps it (m = 4096: about
// 0.1 s for an l near the usual longest run; see docs/statistics.md).
#pragma once

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
  long double probability(int l) override;

  // N(l): the arrangements whose runs are all shorter than l, for any l >= 0.
  mpz_srcptr shorterThan(int l);

 private:
  int m_, k_, least_, most_;
  Mpz total_;                 // C(m, k)
  std::map<int, Mpz> below_;  // N(l) by l, as asked for
};

// c(n, a) for a = 0..n into parts: the compositions of n into a parts, each
// at most `most` (>= 1). Throws std::bad_alloc.
void boundedCompositions(std::vector<Mpz>& parts, int n, int most);

const Statistic& longestRunStatistic();

}  // namespace lumbra
