#include "stats/statistic.h"

#include <cmath>

#include "count/mpz.h"
#include "stats/deviation_side_law.h"
#include "stats/longest_run_law.h"
#include "stats/runs_law.h"

namespace lumbra {

namespace {

// The edges of the bins from the top, then the passing mark: num / 100.
constexpr int edges[] = {90, 80, 70, 60, 50, 40, 30, 20, 10};
constexpr int passing_edge = 1;

}  // namespace

long double exactRatio(mpz_srcptr num, mpz_srcptr den) {
  if (mpz_sgn(num) == 0) return 0.0L;
  long en = 0, ed = 0;
  const double fn = mpz_get_d_2exp(&en, num), fd = mpz_get_d_2exp(&ed, den);
  return std::ldexp(static_cast<long double>(fn) / static_cast<long double>(fd), static_cast<int>(en - ed));
}

long double StatisticLaw::pValue(int v) {
  Mpz num, den;
  pValueCount(num.get(), den.get(), v);
  return exactRatio(num.get(), den.get());
}

double StatisticLaw::pValueError() const { return p_value_error; }

bool StatisticLaw::atLeast(int v, int num, int den) {
  const long double p = pValue(v), edge = static_cast<long double>(num) / den;
  // The edge itself is rounded too: a few units of the long double's last place.
  const long double slack = 2 * static_cast<long double>(pValueError()) + 1e-17L;
  if (p * (1 - slack) > edge * (1 + 1e-17L)) return true;
  if (p * (1 + slack) < edge * (1 - 1e-17L)) return false;
  Mpz pn, pd;
  pValueCount(pn.get(), pd.get(), v);
  mpz_mul_ui(pn.get(), pn.get(), static_cast<unsigned long>(den));
  mpz_mul_ui(pd.get(), pd.get(), static_cast<unsigned long>(num));
  return mpz_cmp(pn.get(), pd.get()) >= 0;
}

int StatisticLaw::bin(int v) {
  int bin = 0;
  for (int e : edges) bin += atLeast(v, e, 100);
  return bin;
}

bool StatisticLaw::passing(int v) { return atLeast(v, passing_edge, 100); }

void StatisticLaw::settle() {
  if (settled_) return;
  for (int v = least(); v <= most(); ++v) {
    const double p = static_cast<double>(probability(v));
    binProb_[static_cast<std::size_t>(bin(v))] += p;
    if (passing(v)) passProb_ += p;
  }
  settled_ = true;
}

double StatisticLaw::passingProbability() {
  settle();
  return passProb_;
}

const BinArray& StatisticLaw::binProbabilities() {
  settle();
  return binProb_;
}

std::span<const Statistic* const> blockStatistics() {
  static const Statistic* const list[] = {&runsStatistic(), &longestRunStatistic(), &deviationUpStatistic(),
                                          &deviationDownStatistic()};
  return list;
}

}  // namespace lumbra
