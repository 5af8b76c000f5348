// deviation_up and deviation_down: how far a block's walk rises over the
// center line of (m, k) and how far it falls under it, given m and k.
//
// The walk and the line are those of the two-sided deviation (see trian.h:
// L(x) = x (2k - m) / m truncated toward zero); up = max over x of
// w(x) - L(x), down = max over x of L(x) - w(x), both at least 0 since the
// walk starts and ends on the line, and the deviation is the larger of the
// two. Each keeps the side that the deviation folds away. The p-value is
// one-sided, towards far walks:
//   p_up(m, k, u) = P(U' >= u) = (C(m, k) - A(m, k, u - 1)) / C(m, k),
// with A(m, k, a) the walks of (m, k) that never rise more than a over the
// line; the same for down with the band turned over, and 1 for u = 0.
//
// The law is the two-sided deviation's (stats/distribution.h) with the band
// open on the other side: the tails come from one-sided band passes in
// doubles (stats/band_exits.h: a sum of positive terms, within
// gamma(4 (m + 1)) of the exact tail, plus 2^-52 for the open side's cut,
// about 4.6e-13 at m = 1024), a law finds where each bin edge is crossed
// as the deviation's does, and the exact counts (the band rows of count.h,
// countWalksBetween with no bound on the open side) settle only what the
// bound cannot. P(U' = u) is the difference of two tails: within
// 2 pValueError() of the tail at u.
#pragma once

#include "stats/distribution.h"
#include "stats/statistic.h"

namespace lumbra {

enum class Side { up, down };

class DeviationSideLaw final : public StatisticLaw {
 public:
  // Requires 1 <= m <= 4096, 0 <= k <= m. Computes nothing yet.
  DeviationSideLaw(int m, int k, Side side);

  int least() const override { return 0; }
  // The farthest any walk of (m, k) goes to this side.
  int most() const override { return law_.maxDeviation(); }
  void pValueCount(mpz_ptr num, mpz_ptr den, int u) override;
  long double pValue(int u) override;
  long double probability(int u) override;
  double pValueError() const override { return law_.tailError(); }
  int bin(int u) override;
  bool passing(int u) override;
  double passingProbability() override { return law_.passingProbability(); }
  const BinArray& binProbabilities() override { return law_.binProbabilities(); }
  void release() override { law_.release(); }

 private:
  DeviationLaw law_;
};

const Statistic& deviationUpStatistic();
const Statistic& deviationDownStatistic();

}  // namespace lumbra
