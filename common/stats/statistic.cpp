#include "stats/statistic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <vector>

#include "count/mpz.h"
#include "stats/block_rank.h"
#include "stats/deviation_side_law.h"
#include "stats/linear_complexity.h"
#include "stats/longest_run_law.h"
#include "stats/runs_law.h"
#include "stats/walk_statistics.h"
#include "stats/word_collisions.h"

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
  if (upperTail()) {
    settle();
    for (std::size_t i = 0; i + 1 < firstBelow_.size(); ++i) bin += v < firstBelow_[i];
    return bin;
  }
  // The bin the rounded p-value falls in, moved while an edge next to it
  // says otherwise exactly: two edges asked instead of nine.
  const long double p = pValue(v);
  bin = p >= 1 ? 9 : std::clamp(static_cast<int>(p * 10), 0, 9);
  while (bin > 0 && !atLeast(v, 10 * bin, 100)) --bin;
  while (bin < 9 && atLeast(v, 10 * (bin + 1), 100)) ++bin;
  return bin;
}

bool StatisticLaw::passing(int v) {
  if (upperTail()) {
    settle();
    return v < firstBelow_.back();
  }
  return atLeast(v, passing_edge, 100);
}

double StatisticLaw::passingProbability() {
  settle();
  return passProb_;
}

const BinArray& StatisticLaw::binProbabilities() {
  settle();
  return binProb_;
}

long double StatisticLaw::upper(int v) { return v > most() ? 0.0L : v <= least() ? 1.0L : pValue(v); }

void StatisticLaw::settle() {
  if (settled_) return;
  settled_ = true;
  if (!upperTail()) {
    for (int v = least(); v <= most(); ++v) {
      const long double p = probability(v);
      binProb_[static_cast<std::size_t>(bin(v))] += static_cast<double>(p);
      if (passing(v)) passProb_ += static_cast<double>(p);
    }
    return;
  }
  // The p-value falls with v: each edge is crossed once, no earlier than the
  // one above it, and a binary search finds where (the p-value of least()
  // is 1, that past most() is 0). Probes far out in the tail are the cheap
  // ones for the laws here.
  int from = least() + 1;
  for (std::size_t i = 0; i < firstBelow_.size(); ++i) {
    const int num = i + 1 < firstBelow_.size() ? edges[i] : passing_edge;
    int lo = from, hi = most() + 1;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (atLeast(mid, num, 100)) lo = mid + 1;
      else hi = mid;
    }
    firstBelow_[i] = lo;
    from = lo;
  }
  const auto tail = [&](std::size_t i) { return upper(firstBelow_[i]); };
  binProb_[9] = static_cast<double>(1.0L - tail(0));
  for (std::size_t b = 1; b <= 8; ++b) binProb_[b] = static_cast<double>(tail(8 - b) - tail(9 - b));
  binProb_[0] = static_cast<double>(tail(8));
  passProb_ = static_cast<double>(1.0L - tail(9));
}

namespace {

// Every statistic, in the order a summary prints them: a new statistic is
// one line here. Everything sized by the number of statistics is sized from
// this list (statistic_count); the help, the man page, the completion, the
// documents and the Python docstring are checked against it
// (tests/unit/statistic_list_test.cpp). The list holds the functions that
// give each statistic, so that it is a constant, ready before any
// initializer of another unit asks for it.
constexpr const Statistic& (*const statistic_list[])() = {
    onesStatistic,       deviationStatistic,   runsStatistic,
    longestRunStatistic, deviationUpStatistic, deviationDownStatistic,
    rankStatistic,       linearComplexityStatistic, collisionsStatistic,
};

constexpr std::size_t statistic_count = std::size(statistic_list);
// A choice of statistics is a mask of bits (chosenStatistics), and a list of
// each choice is made at once.
static_assert(statistic_count >= 2 && statistic_count <= 12, "a choice of statistics is a mask of unsigned bits");

}  // namespace

std::span<const Statistic* const> allStatistics() {
  static const auto list = [] {
    std::array<const Statistic*, statistic_count> made{};
    for (std::size_t i = 0; i < statistic_count; ++i) made[i] = &statistic_list[i]();
    return made;
  }();
  return list;
}

std::span<const Statistic* const> summaryStatistics() {
  // NOTE: longest_run, deviation_up and deviation_down are judged on
  // request. A file meets a law for each (m, k) of its blocks (some 90 for
  // random bytes at m = 1024, some 1400 for an executable at m = 4096), and
  // their laws cost 2 to 10 times the deviation's (docs/statistics.md):
  // with them, `test -n 4096` took 11 times as long on an executable.
  // NOTE: rank is judged by default: it alone sees a linear generator
  // (xorshift, an LFSR) at 64 KiB, and its lanes add some 16% to `test -n
  // 1024 -j 1` on random bytes (docs/statistics.md). linear_complexity
  // costs a hundred times as much to measure, collisions twice `test`.
  return chosenStatistics(0b1000111);
}

std::span<const Statistic* const> chosenStatistics(unsigned chosen) {
  const auto all = allStatistics();
  static const auto lists = [all] {
    std::array<std::vector<const Statistic*>, std::size_t{1} << statistic_count> made;
    for (unsigned c = 0; c < made.size(); ++c)
      for (std::size_t i = 0; i < all.size(); ++i)
        if (i < 2 || ((c >> i) & 1u) != 0) made[c].push_back(all[i]);
    return made;
  }();
  return lists[chosen & ((1u << statistic_count) - 1)];
}

std::span<const Statistic* const> namedStatistics(std::span<const std::string> names, std::string& why) {
  const auto all = allStatistics();
  unsigned chosen = 0;
  for (const std::string& name : names) {
    if (name == "all") {
      chosen = ~0u;
      continue;
    }
    std::size_t i = 0;
    while (i < all.size() && all[i]->name() != name) ++i;
    if (i == all.size()) {
      why = "no statistic '" + name + "' (there are ";
      for (const Statistic* s : all) {
        why += s->name();
        why += ", ";
      }
      why += "or all)";
      return {};
    }
    chosen |= 1u << i;
  }
  return chosenStatistics(chosen);
}

unsigned blockReads(std::span<const Statistic* const> statistics) {
  unsigned reads = 0;
  for (const Statistic* s : statistics) reads |= s->reads();
  return reads;
}

StatisticLaw& StatisticLaws::law(std::size_t s, int m, int k) {
  const Statistic& statistic = *statistics_[s];
  const int ones = statistic.lawOnes(m, k);
  std::unique_ptr<StatisticLaw>& law = laws_[{s, m, ones}];
  if (!law) law = statistic.law(m, ones);
  return *law;
}

std::span<const Statistic* const> blockStatistics() { return allStatistics().subspan(2); }

}  // namespace lumbra
