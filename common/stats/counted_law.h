// CountedLaw: the law of a statistic given by the exact number of the 2^m
// blocks (or of the equally likely outcomes, whatever they are) that have
// each value, for statistics with few values or whose counts are closed
// forms: a block's rank, its linear complexity, the collisions of its words.
//
// Each value v in [least, most] has a count N(v) >= 0 out of `total`
// outcomes; the counts sum to the total. Which values are as extreme as v is
// decided by a key: the p-value of v is the share of outcomes whose value v'
// has key(v') >= key(v). The key is v itself (an upper tail, P(V' >= v)),
// -v (a lower tail, P(V' <= v)) or |2v - centre| (two-sided about centre /
// 2). The exact tails are summed once, at construction, in GMP; the p-values
// and probabilities as long doubles are their exact ratios rounded
// (exactRatio), so within p_value_error.
//
// A law of up to a few thousand values of a few thousand bits each takes a
// few MiB; release() gives them back (the tails are made again if asked).
#pragma once

#include <vector>

#include "count/mpz.h"
#include "stats/statistic.h"

namespace lumbra {

class CountedLaw final : public StatisticLaw {
 public:
  enum class Tail { upper, lower, both };
  // counts[v - least] = N(v) for v in [least, least + counts.size()), total
  // their sum (checked); `centre` is used by Tail::both only. Throws
  // std::bad_alloc.
  CountedLaw(int least, std::vector<Mpz> counts, mpz_srcptr total, Tail tail, int centre = 0);

  int least() const override { return least_; }
  int most() const override { return least_ + static_cast<int>(counts_.size()) - 1; }
  void pValueCount(mpz_ptr num, mpz_ptr den, int v) override;
  long double pValue(int v) override;
  long double probability(int v) override;
  bool upperTail() const override { return tail_ == Tail::upper; }
  void release() override;

  // N(v): 0 outside [least(), most()].
  void count(mpz_ptr c, int v) const;

 private:
  long long key(int v) const;
  std::size_t index(int v) const;
  void makeTails();

  int least_;
  Tail tail_;
  int centre_;
  std::vector<Mpz> counts_;
  Mpz total_;
  std::vector<Mpz> tails_;  // by v - least_; empty until asked for
};

}  // namespace lumbra
