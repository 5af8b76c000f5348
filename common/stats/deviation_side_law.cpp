#include "stats/deviation_side_law.h"

#include <memory>

#include "kova/hard_assert.h"

namespace lumbra {

namespace {

class DeviationSideStatistic final : public ValuesOf<DeviationSideStatistic> {
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
  // NOTE: the complement of a block mirrors its walk and its line, so its
  // rise is the block's fall, and the band passes of the two laws are the
  // same numbers in the same order: the tails agree to the last bit
  // (statistic_test holds them to it).
  std::pair<const Statistic*, int> sharedLaw(int m, int k) const override {
    if (side_ == Side::up) return {this, k};
    return {&deviationUpStatistic(), m - k};
  }
  int value(const BlockShape& block) const override { return side_ == Side::up ? block.up : block.down; }
  std::unique_ptr<StatisticLaw> law(int m, int k) const override {
    return std::make_unique<DeviationSideLaw>(m, k, side_);
  }

 private:
  Side side_;
};

}  // namespace

DeviationSideLaw::DeviationSideLaw(int m, int k, Side side)
    : law_(m, k, side == Side::up ? BandSide::up : BandSide::down) {}

void DeviationSideLaw::pValueCount(mpz_ptr num, mpz_ptr den, int u) {
  hard_assert(u >= 0 && u <= most(), "u>=0&&u<=most()");
  law_.tailCount(num, den, u);
}

long double DeviationSideLaw::pValue(int u) {
  hard_assert(u >= 0 && u <= most(), "u>=0&&u<=most()");
  return law_.tail(u);
}

long double DeviationSideLaw::probability(int u) {
  hard_assert(u >= 0 && u <= most(), "u>=0&&u<=most()");
  return law_.probability(u);
}

int DeviationSideLaw::bin(int u) {
  hard_assert(u >= 0 && u <= most(), "u>=0&&u<=most()");
  return law_.bin(u);
}

bool DeviationSideLaw::passing(int u) {
  hard_assert(u >= 0 && u <= most(), "u>=0&&u<=most()");
  return law_.passing(u);
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
