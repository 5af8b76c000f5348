#include "stats/deviation_side_law.h"

#include <algorithm>
#include <memory>

#include "band/widest_deviation.h"
#include "count/count.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

class DeviationSideStatistic final : public Statistic {
 public:
  explicit DeviationSideStatistic(Side side) : side_(side) {}
  std::string_view name() const override { return side_ == Side::up ? "deviation_up" : "deviation_down"; }
  std::string_view measures() const override {
    return side_ == Side::up ? "how far the walk rises over the center line"
                             : "how far the walk falls under the center line";
  }
  std::string_view subject() const override {
    return side_ == Side::up ? "the rise of the walk over its line" : "the fall of the walk under its line";
  }
  bool givenOnes() const override { return true; }
  int value(const BlockShape& block) const override { return side_ == Side::up ? block.up : block.down; }
  std::unique_ptr<StatisticLaw> law(int m, int k) const override {
    return std::make_unique<DeviationSideLaw>(m, k, side_);
  }

 private:
  Side side_;
};

}  // namespace

DeviationSideLaw::DeviationSideLaw(int m, int k, Side side) : m_(m), k_(k), side_(side), most_(0) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  mpz_bin_uiui(total_.get(), static_cast<unsigned long>(m), static_cast<unsigned long>(k));
  // The walk that takes its ones first goes farthest up, the one that
  // takes its zeros first farthest down.
  const WidestDeviation widest = widestDeviation(m, k);
  most_ = static_cast<int>(side == Side::up ? widest.up : widest.down);
}

mpz_srcptr DeviationSideLaw::within(int u) {
  hard_assert(u >= 0 && u <= most_ + 1, "u>=0&&u<=most_+1");
  auto it = within_.find(u);
  if (it != within_.end()) return it->second.get();
  Mpz& c = within_[u];
  if (u > most_) {
    mpz_set(c.get(), total_.get());
  } else if (u > 0) {  // no walk stays closer than 0
    // NOTE: one thread: a law is made on the thread that measures blocks.
    if (side_ == Side::up) countWalksBetween(c.get(), m_, k_, m_, u - 1, 1);
    else countWalksBetween(c.get(), m_, k_, u - 1, m_, 1);
  }
  return c.get();
}

void DeviationSideLaw::pValueCount(mpz_ptr num, mpz_ptr den, int u) {
  hard_assert(u >= 0 && u <= most_, "u>=0&&u<=most_");
  mpz_sub(num, total_.get(), within(u));
  mpz_set(den, total_.get());
}

long double DeviationSideLaw::probability(int u) {
  hard_assert(u >= 0 && u <= most_, "u>=0&&u<=most_");
  Mpz num;
  mpz_sub(num.get(), within(u + 1), within(u));
  return exactRatio(num.get(), total_.get());
}

const Statistic& deviationUpStatistic() {
  static const DeviationSideStatistic statistic(Side::up);
  return statistic;
}

const Statistic& deviationDownStatistic() {
  static const DeviationSideStatistic statistic(Side::down);
  return statistic;
}

}  // namespace lumbra
