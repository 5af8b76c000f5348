// A statistic of a block as a value: what it measures of a block, its exact
// law when the block's bits are fair coin flips, and a block's p-value, bin
// and passing, decided exactly.
//
// A Statistic is a stateless description, one static instance per kind,
// shared by every thread: its name (the key a summary writes), what it
// measures of a block's shape (see BlockShape: every statistic of a block
// comes out of one pass over its bytes), whether its law is conditioned on
// the block's length m alone or on m and its ones k, and a maker of its law.
//
// A StatisticLaw is the law of one statistic for one (m, k) (k is ignored
// when the law is given m alone). It owns what it caches, on the heap; it is
// not safe to share between threads while it changes (give each thread its
// own laws). The p-value of a value v is the probability that a block of
// fair bits with the same (m, k) is at least as extreme; which direction is
// extreme is the statistic's own (two-sided for runs, upwards for the
// others). Bins and passing follow the house rule: a block's bin is
// floor(10 p), 9 for p = 1, and it passes when p >= 0.01; both are decided
// on the exact p-value whenever the rounded one lies near an edge.
//
// What a summary of many blocks expects of one (m, k) follows from the law:
// the probability that a block passes and that its p-value falls in each
// bin. For a statistic whose p-value is an upper tail, P(V' >= v), the law
// finds the value where each edge is crossed (a search over values, each
// probe one p-value) and reads everything off those crossings; otherwise it
// sums the probabilities of all values by bin. The laws of longest_run and
// of the one-sided deviations find their crossings themselves, from tails
// computed in floating point with a proven bound, and count exactly only
// where that bound cannot tell.
//
// StatisticLaws keeps the laws of a list of statistics by (statistic, m,
// k), each made once; it is filled on one thread, after which each law may
// be worked on by one thread at a time.
//
// Nothing here throws but std::bad_alloc; values outside [least(), most()]
// and (m, k) outside 1 <= m <= 4096, 0 <= k <= m are hard assertions.
#pragma once

#include <gmp.h>

#include <array>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "reading/block_meter.h"
#include "stats/distribution.h"

namespace lumbra {

class StatisticLaw {
 public:
  virtual ~StatisticLaw() = default;

  // The least and the most value a block of this (m, k) can have.
  virtual int least() const = 0;
  virtual int most() const = 0;
  // The p-value of v exactly: num / den.
  virtual void pValueCount(mpz_ptr num, mpz_ptr den, int v) = 0;
  // The p-value of v within a relative error of pValueError() (by default
  // the exact one, rounded), and P(V' = v) within 2 pValueError() pValue(v)
  // (a law that takes it as the difference of two tails is that close; the
  // others are within pValueError() of it). Long double holds every such
  // probability of m <= 4096 (none is below 2^-4096).
  virtual long double pValue(int v);
  virtual long double probability(int v) = 0;
  // The relative error bound of pValue: p_value_error unless the law says
  // otherwise.
  virtual double pValueError() const;

  // Whether the p-value of v is P(V' >= v) (non-increasing in v); false for
  // a two-sided one.
  virtual bool upperTail() const { return true; }

  // floor(10 p), 9 for p = 1; and p >= 0.01.
  virtual int bin(int v);
  virtual bool passing(int v);
  // What one block of this (m, k) contributes to the expectations: its
  // probability to pass and to fall in each bin (within pValueError() of
  // the law's exact ones, as doubles).
  virtual double passingProbability();
  virtual const BinArray& binProbabilities();
  // Gives back what the law keeps for single values once a summary has
  // binned its blocks; its passing and bin probabilities stay, and a later
  // question about a value makes the rest again. A file meets up to some
  // 1500 laws at m = 4096, each of whose tables of values would otherwise
  // live to the end.
  virtual void release() {}

 protected:
  StatisticLaw() = default;
  StatisticLaw(const StatisticLaw&) = default;
  StatisticLaw& operator=(const StatisticLaw&) = default;

 private:
  // Whether p(v) >= num / den, exactly.
  bool atLeast(int v, int num, int den);
  // The crossings of an upper tail (firstBelow_), or the sums by bin of a
  // two-sided law; once.
  void settle();
  // P(V' >= v) for least() <= v <= most() + 1.
  long double upper(int v);

  bool settled_ = false;
  // The least value whose p-value lies below each edge: 0.9, ..., 0.1, 0.01.
  std::array<int, bin_count> firstBelow_{};
  BinArray binProb_{};
  double passProb_ = 0;
};

// The relative error of a p-value or probability that a law gives as a long
// double: each is an exact ratio of two integers, each integer rounded to a
// double's 53 bits, then divided.
inline constexpr double p_value_error = 0x1p-50;

// num / den as a long double, within p_value_error; den > 0, num >= 0.
long double exactRatio(mpz_srcptr num, mpz_srcptr den);

class Statistic {
 public:
  virtual ~Statistic() = default;
  // The key of the statistic in a summary, as "runs".
  virtual std::string_view name() const = 0;
  // One line of what it measures, for help texts and documents.
  virtual std::string_view measures() const = 0;
  // The words its verdict line judges, as "the runs of equal bits".
  virtual std::string_view subject() const = 0;
  // Whether its law is conditioned on the block's ones as well as its size.
  virtual bool givenOnes() const = 0;
  // The ones of the law that (m, k) shares: k, 0 when the law is given m
  // alone; a statistic whose law is the same for k and m - k says so here.
  virtual int lawOnes(int m, int k) const {
    (void)m;
    return givenOnes() ? k : 0;
  }
  // What it reads of a block that a meter measures only when asked
  // (BlockReads of block_meter.h): 0 for what every shape has.
  virtual unsigned reads() const { return 0; }
  // Its value for a block: 0 .. m for a block of m bits.
  virtual int value(const BlockShape& block) const = 0;
  // The values of consecutive blocks, value() of each into out[i].
  virtual void values(std::span<const BlockShape> blocks, int* out) const = 0;
  // Its law for blocks of m bits with k ones (k ignored unless givenOnes()).
  // Throws std::bad_alloc.
  virtual std::unique_ptr<StatisticLaw> law(int m, int k) const = 0;

 protected:
  Statistic() = default;
  Statistic(const Statistic&) = default;
  Statistic& operator=(const Statistic&) = default;
};

// A statistic whose values() asks its own value() of each block, without a
// virtual call a block: class Name final : public ValuesOf<Name>.
template <class Derived>
class ValuesOf : public Statistic {
 public:
#if defined(__GNUC__) && !defined(__clang__)
  // NOTE: GCC 12 vectorizes the copy of a field through the stack, with a
  // stall on every store it reads back: five times the plain loop's time.
  [[gnu::optimize("no-tree-vectorize")]]
#endif
  void values(std::span<const BlockShape> blocks, int* out) const final {
    const auto& self = static_cast<const Derived&>(*this);
    for (std::size_t i = 0; i < blocks.size(); ++i) out[i] = self.Derived::value(blocks[i]);
  }
};

// The statistics of allStatistics() after the ones and the deviation, in
// that order. Each lives as long as the program.
std::span<const Statistic* const> blockStatistics();

// Every statistic a summary of blocks can judge, in the order it prints
// them: ones, deviation, then blockStatistics(), then those given m alone
// that read the block's bits as words: rank, linear_complexity,
// collisions. A new statistic is one unit and one line of this list
// (statistic.cpp); what else names the statistics (help, man page,
// completion, documents) is checked against it.
std::span<const Statistic* const> allStatistics();

// The statistics a summary judges unless asked for others: ones, deviation,
// runs and rank. The others cost several times as much, in their laws or
// in their measure (docs/statistics.md), so they are judged on request.
std::span<const Statistic* const> summaryStatistics();

// The statistics of allStatistics() whose bits are set in `chosen` (bit i:
// allStatistics()[i]), with ones and deviation whatever it says, in the
// order of allStatistics(): one list, living as long as the program, for
// each choice, so that summaries of the same choice merge.
std::span<const Statistic* const> chosenStatistics(unsigned chosen);

// The statistics of a list of names (each a name() of allStatistics(), or
// "all" for every one) as chosenStatistics() gives them; for a name that no
// statistic has, an empty list and why in `why` ("no statistic 'NAME'
// (there are ones, deviation, ..., or all)").
std::span<const Statistic* const> namedStatistics(std::span<const std::string> names, std::string& why);

// What `statistics` read of a block that a BlockMeter measures only when
// asked (BlockReads of block_meter.h): the union of their reads().
unsigned blockReads(std::span<const Statistic* const> statistics);

class StatisticLaws {
 public:
  explicit StatisticLaws(std::span<const Statistic* const> statistics = summaryStatistics())
      : statistics_(statistics) {}
  std::span<const Statistic* const> statistics() const { return statistics_; }
  // The law of statistic number s (of statistics()) for (m, k), made when
  // first asked for; the reference stays valid while this lives.
  StatisticLaw& law(std::size_t s, int m, int k);

 private:
  std::span<const Statistic* const> statistics_;
  std::map<std::tuple<std::size_t, int, int>, std::unique_ptr<StatisticLaw>> laws_;
};

}  // namespace lumbra
