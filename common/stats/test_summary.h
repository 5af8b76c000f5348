// TestSummary: what a run over consecutive blocks of a file has seen, for
// the verdict on the file; and the verdict drawn from it.
//
// A summary covers the blocks first .. first + count - 1 of one block size.
// add() takes the next block; merge() appends the summary of the blocks
// that follow, so runs measured apart (by threads, or as slices) combine in
// file order. add() only counts blocks by (length, ones, deviation); settle()
// draws their bins and passing from the laws afterwards, once for each such
// triple and on several threads, and must come before the figures. It keeps what was observed (passing blocks and bins of both
// p-values, and how many blocks had each deviation) and how many blocks had
// each (length, ones); the expected figures follow from those counts at the
// end (see figures()), so they are the same however the blocks were split.
// A summary owns its vectors; it refers to no Laws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "stats/distribution.h"

namespace lumbra {

using BinCounts = std::array<std::uint64_t, bin_count>;
// The covariance of the bin counts, bin by bin, row by row.
using BinCovariance = std::array<double, static_cast<std::size_t>(bin_count) * bin_count>;

// One statistic's figures over many blocks: observed and expected.
// Expectations are sums over the blocks (passingVariance of q (1 - q), q a
// block's probability to pass; binsCovariance of diag b - b b^T, b its bin
// probabilities), so the figures of parts add up.
struct StatisticFigures {
  std::uint64_t passing = 0;
  double passingExpected = 0;
  double passingVariance = 0;
  BinCounts binsObserved{};
  BinArray binsExpected{};
  BinCovariance binsCovariance{};
};

// What the figures say. The chi-square statistic compares observed and
// expected counts over groups of adjacent bins: from the lowest bin up, a
// group closes once its expected count reaches 5, and a last group that
// stays below 5 joins the one before. It is the quadratic form of observed
// - expected over the groups' exact covariance (calibrated_chi_square.h),
// which stays chi-square when the blocks' bin probabilities differ (they
// depend on each block's ones), with the covariance's rank as dof. With
// fewer than two groups, or groups that cannot vary, there is no statistic
// (chi2, dof, pValue empty); with no spread, no z.
struct Verdict {
  double passingSd = 0;
  std::optional<double> passingZ;
  std::optional<double> chi2;
  std::optional<int> dof;
  std::optional<double> pValue;
};

Verdict judge(const StatisticFigures& f);

class TestSummary {
 public:
  // A summary of no blocks yet, the first of which will be firstBlock.
  explicit TestSummary(int blockSize, std::uint64_t firstBlock = 0);

  // The next block: m bits (m <= the block size), k ones, deviation d.
  void add(int m, int k, int d);
  // Appends the summary of the blocks right after this one's.
  void merge(const TestSummary& next);
  // Bins the blocks added since the last settle() and computes, on up to
  // `threads` threads, what the figures below will ask of `laws`, so that
  // they then only read what is kept: the laws of distinct (m, k) are
  // independent, and each is computed by one thread, in runs of
  // neighbouring (m, k) whose searches start from the law before
  // (DeviationLaw::guessEdgesFrom). The figures are the same for any
  // number of threads. `histogram`: also the tails that
  // deviationsExpected() reads, the costly part of a law (without them it
  // computes them itself, on one thread). `progress(done, total)` is called
  // on the calling thread as the laws of distinct (m, k) get done. Throws
  // std::bad_alloc, std::system_error when a thread cannot start.
  void settle(Laws& laws, unsigned threads, bool histogram = true,
              const std::function<void(std::size_t, std::size_t)>& progress = {});

  int blockSize() const { return n_; }
  std::uint64_t firstBlock() const { return first_; }
  std::uint64_t blockCount() const { return blocks_; }
  std::uint64_t bits() const { return bits_; }
  std::uint64_t ones() const { return ones_; }
  // Blocks with deviation d, d = 0 .. the largest seen.
  const std::vector<std::uint64_t>& deviationsObserved() const { return devObserved_; }

  // What a summary counts, all of it (settled): a summary printed by one run is
  // restored from these by another (merge), and its expected figures then
  // come out as the first run's.
  struct Counts {
    std::uint64_t blocks = 0, bits = 0, ones = 0;
    std::uint64_t onesPassing = 0, devPassing = 0;
    BinCounts onesBins{}, devBins{};
    std::vector<std::uint64_t> deviations;
    // (m, k, blocks) for every (length, ones) seen, in ascending order.
    std::vector<std::array<std::uint64_t, 3>> shapes;
  };
  Counts counts() const;
  // Throws std::invalid_argument when the counts do not fit together or
  // the block size (shapes out of range, blocks, bits or ones not theirs).
  static TestSummary restored(int blockSize, std::uint64_t firstBlock, const Counts& c);

  // The figures of a settled summary.
  StatisticFigures onesFigures(Laws& laws) const;
  StatisticFigures deviationFigures(Laws& laws) const;
  // The sum over the blocks of P(D = d | m, k), for the same d as
  // deviationsObserved().
  std::vector<double> deviationsExpected(Laws& laws) const;

 private:
  // Calls f(m, k, blocks) for every (length, ones) seen, in ascending order.
  template <class F>
  void forEachShape(F f) const;

  int n_;
  std::uint64_t first_, blocks_ = 0, bits_ = 0, ones_ = 0;
  std::uint64_t onesPassing_ = 0, devPassing_ = 0;
  BinCounts onesBins_{}, devBins_{};
  std::vector<std::uint64_t> devObserved_;
  std::vector<std::uint64_t> byOnes_;  // blocks of n bits, by k
  std::map<std::pair<int, int>, std::uint64_t> shorter_;  // blocks of fewer bits, by (m, k)
  // Blocks added but not yet binned: of n bits by k then d, and of fewer
  // bits by (m, k) then d.
  std::vector<std::vector<std::uint64_t>> pending_;
  std::map<std::pair<int, int>, std::vector<std::uint64_t>> pendingShorter_;
  bool settled_ = true;
};

}  // namespace lumbra
