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
// line, counted exactly by the band rows of count.h (countWalksBetween with
// no bound below); the same for down with the band turned over, and 1 for
// u = 0. A law counts each u when first asked for and keeps the count.
#pragma once

#include <map>

#include "count/mpz.h"
#include "stats/statistic.h"

namespace lumbra {

enum class Side { up, down };

class DeviationSideLaw final : public StatisticLaw {
 public:
  // Requires 1 <= m <= 4096, 0 <= k <= m. Computes nothing yet.
  DeviationSideLaw(int m, int k, Side side);

  int least() const override { return 0; }
  // The farthest any walk of (m, k) goes to this side.
  int most() const override { return most_; }
  void pValueCount(mpz_ptr num, mpz_ptr den, int u) override;
  long double probability(int u) override;

 private:
  // The walks that stay closer than u on this side, for 0 <= u <= most + 1.
  mpz_srcptr within(int u);

  int m_, k_;
  Side side_;
  int most_;
  Mpz total_;                  // C(m, k)
  std::map<int, Mpz> within_;  // by u, as asked for
};

const Statistic& deviationUpStatistic();
const Statistic& deviationDownStatistic();

}  // namespace lumbra
