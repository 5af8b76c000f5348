#include "stats/walk_statistics.h"

#include <algorithm>
#include <memory>

#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

class OnesStatisticLaw final : public StatisticLaw {
 public:
  explicit OnesStatisticLaw(int m) : law_(m) {}
  int least() const override { return 0; }
  int most() const override { return law_.size(); }
  void pValueCount(mpz_ptr num, mpz_ptr den, int k) override {
    law_.tailCount(num, k);
    mpz_set_ui(den, 0);
    mpz_setbit(den, static_cast<mp_bitcnt_t>(law_.size()));
  }
  long double probability(int k) override { return law_.probability(k); }
  bool upperTail() const override { return false; }
  int bin(int k) override { return law_.bin(k); }
  OnesLaw& law() { return law_; }
  bool passing(int k) override { return law_.passing(k); }
  double passingProbability() override { return law_.passingProbability(); }
  const BinArray& binProbabilities() override { return law_.binProbabilities(); }

 private:
  OnesLaw law_;
};

class DeviationStatisticLaw final : public StatisticLaw {
 public:
  DeviationStatisticLaw(int m, int k) : law_(m, k) {}
  int least() const override { return 0; }
  int most() const override { return law_.maxDeviation(); }
  void pValueCount(mpz_ptr num, mpz_ptr den, int d) override { law_.tailCount(num, den, d); }
  long double pValue(int d) override { return law_.tail(d); }
  long double probability(int d) override { return law_.probability(d); }
  int bin(int d) override { return law_.bin(d); }
  bool passing(int d) override { return law_.passing(d); }
  double passingProbability() override { return law_.passingProbability(); }
  const BinArray& binProbabilities() override { return law_.binProbabilities(); }
  void release() override { law_.release(); }
  DeviationLaw& law() { return law_; }

 private:
  DeviationLaw law_;
};

class OnesStatistic final : public ValuesOf<OnesStatistic> {
 public:
  std::string_view name() const override { return "ones"; }
  std::string_view measures() const override { return "the ones of the block (two-sided: too many or too few)"; }
  std::string_view subject() const override { return "the balance of ones and zeros"; }
  bool givenOnes() const override { return false; }
  int value(const BlockShape& block) const override { return block.ones; }
  std::unique_ptr<StatisticLaw> law(int m, int) const override { return std::make_unique<OnesStatisticLaw>(m); }
};

class DeviationStatistic final : public ValuesOf<DeviationStatistic> {
 public:
  std::string_view name() const override { return "deviation"; }
  std::string_view measures() const override {
    return "the farthest the walk goes from the center line, either side";
  }
  std::string_view subject() const override { return "the arrangement of the bits"; }
  bool givenOnes() const override { return true; }
  // The complement of a block mirrors its walk and its line.
  int lawOnes(int m, int k) const override { return std::min(k, m - k); }
  int value(const BlockShape& block) const override { return block.deviation(); }
  std::unique_ptr<StatisticLaw> law(int m, int k) const override {
    return std::make_unique<DeviationStatisticLaw>(m, k);
  }
};

}  // namespace

const Statistic& onesStatistic() {
  static const OnesStatistic s;
  return s;
}

const Statistic& deviationStatistic() {
  static const DeviationStatistic s;
  return s;
}

OnesLaw& onesLawOf(StatisticLaw& law) {
  auto* o = dynamic_cast<OnesStatisticLaw*>(&law);
  hard_assert(o != nullptr, "o!=nullptr");
  return o->law();
}

DeviationLaw& deviationLawOf(StatisticLaw& law) {
  auto* d = dynamic_cast<DeviationStatisticLaw*>(&law);
  hard_assert(d != nullptr, "d!=nullptr");
  return d->law();
}

}  // namespace lumbra
