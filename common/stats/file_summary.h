// FileSummary: what a run over consecutive blocks of a file has seen, for
// the verdict on the file; and the verdict drawn from it.
//
// A summary covers the blocks first .. first + count - 1 of one block size.
// It judges every statistic of a list (summaryStatistics() of statistic.h
// unless it was made with another, which starts with the ones and the
// deviation as that one does) the same way, in a loop: add() takes the next block's shape and counts it by
// (m, k) and, for each statistic, by its value (the pending histograms);
// settle() draws the bins and passing of the values from the laws
// afterwards, once per (statistic, law) and on several threads, and must
// come before the figures. It keeps what was observed (passing blocks and
// bins of each statistic, how many blocks had each deviation) and how many
// blocks had each (length, ones); the expected figures follow from those
// counts at the end (see figures()), so they are the same however the blocks
// were split.
//
// Beside the blocks, the summary keeps the bits of the whole file it has
// seen (FileBits: bits, ones, runs, first and last bit), so that merged
// slices judge the file's balance and runs as one. Summaries merge in the
// order of their blocks; a merge over a gap counts the bits on either side
// as neighbours (fair bits joined are still fair bits).
//
// A summary restored from an older form may lack statistics (the newer ones
// of the blocks, the runs of the whole file): holds() says which it has,
// and a merge holds what both parts hold.
//
// A summary owns its vectors; it refers to no laws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "reading/block_meter.h"
#include "reading/block_runs.h"
#include "stats/distribution.h"
#include "stats/laws_cost.h"
#include "stats/statistic.h"
#include "stats/whole_file.h"

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

class FileSummary {
 public:
  // A summary of no blocks yet, the first of which will be firstBlock. The
  // StatisticLaws it is settled and judged with must hold the same list.
  explicit FileSummary(int blockSize, std::uint64_t firstBlock = 0,
                       std::span<const Statistic* const> statistics = summaryStatistics());

  // The next block: m bits (m <= the block size) of this shape.
  void add(int m, const BlockShape& block);
  // The blocks of a run, next, as add() of each; a run digested by a
  // SummaryDigest is merged.
  void add(const MeasuredRun& run);
  // Empties the summary to count again from block firstBlock, keeping the
  // memory it has taken (SummaryDigest counts run after run into one).
  void restart(std::uint64_t firstBlock);
  // Appends the summary of the blocks right after this one's. Throws
  // std::overflow_error when the bits together pass 2^64 - 1.
  void merge(const FileSummary& next);
  // Bins the blocks added since the last settle() and computes, on up to
  // `threads` threads, what the figures below will ask of `laws`, so that
  // they then only read what is kept: the laws of distinct (statistic, m, k)
  // are independent, and each is worked on by one thread, in runs of
  // neighbouring (m, k) whose searches start from the law before
  // (DeviationLaw::guessEdgesFrom). The figures are
  // the same for any number of threads. `histogram`: also the tails that
  // deviationsExpected() reads (without them it computes them itself, on one
  // thread). `progress(done, total)` is called on the calling thread as the
  // laws get done. Throws std::bad_alloc, std::system_error when a thread
  // cannot start.
  // `releaseLaws`: give back what each law keeps for single values once its
  // blocks are binned (StatisticLaw::release); a caller that settles again
  // and again (a stream's reports) keeps them rather than make them anew.
  void settle(StatisticLaws& laws, unsigned threads, bool histogram = true,
              const std::function<void(std::size_t, std::size_t)>& progress = {}, bool releaseLaws = true);

  // What settle() with `histogram` will cost (laws_cost.h): the laws of
  // the statistics held, one per distinct (statistic, m, k) it shares.
  LawsCost lawsCost(bool histogram) const;

  int blockSize() const { return n_; }
  std::uint64_t firstBlock() const { return first_; }
  std::uint64_t blockCount() const { return blocks_; }
  std::uint64_t bits() const { return file_.bits; }
  std::uint64_t ones() const { return file_.ones; }
  // The bits of the blocks, as one stretch of the file; the runs are known
  // when fileRunsHeld().
  const FileBits& fileBits() const { return file_; }
  bool fileRunsHeld() const { return fileRuns_; }
  // The statistics it judges, by number.
  std::span<const Statistic* const> statistics() const { return statistics_; }
  bool holds(std::size_t s) const { return held_[s]; }
  // Blocks with deviation d, d = 0 .. the largest seen.
  const std::vector<std::uint64_t>& deviationsObserved() const { return devObserved_; }

  // What a summary counts, all of it (settled): a summary printed by one run is
  // restored from these by another (merge), and its expected figures then
  // come out as the first run's.
  struct Observed {
    bool held = false;
    std::uint64_t passing = 0;
    BinCounts bins{};
  };
  struct Counts {
    std::uint64_t blocks = 0, bits = 0, ones = 0;
    std::vector<Observed> statistics;  // by number; fewer: the rest not held
    std::vector<std::uint64_t> deviations;
    // (m, k, blocks) for every (length, ones) seen, in ascending order.
    std::vector<std::array<std::uint64_t, 3>> shapes;
    // The whole file's runs and end bits, when held.
    std::optional<FileBits> file;
  };
  Counts counts() const;
  // Throws std::invalid_argument when the counts do not fit together or
  // the block size (shapes out of range, blocks, bits or ones not theirs,
  // runs that no such bits can have).
  static FileSummary restored(int blockSize, std::uint64_t firstBlock, const Counts& c,
                              std::span<const Statistic* const> statistics = summaryStatistics());

  // The figures of statistic s of a settled summary that holds it.
  StatisticFigures figures(StatisticLaws& laws, std::size_t s) const;
  StatisticFigures onesFigures(StatisticLaws& laws) const { return figures(laws, 0); }
  StatisticFigures deviationFigures(StatisticLaws& laws) const { return figures(laws, 1); }
  // The sum over the blocks of P(D = d | m, k), for the same d as
  // deviationsObserved().
  std::vector<double> deviationsExpected(StatisticLaws& laws) const;

 private:
  // Calls f(m, k, blocks) for every (length, ones) seen, in ascending order.
  template <class F>
  void forEachShape(F f) const;
  // The blocks of one (m, k) by the value of one statistic: a statistic's
  // values cluster (the runs of 4096-bit blocks around 2048), so they are
  // counted in one dense stretch of at most dense_span values around the
  // first met, and the rare value outside it on its own. Counts from 0
  // would take 16 KiB a (m, k) and statistic where a few hundred bytes
  // suffice, and a stretch from the least value to the greatest as much
  // for two blocks far apart (a crafted file has them for every k).
  struct ValueCounts {
    static constexpr int dense_span = 512;
    int first = 0;  // the value of counts[0]
    std::vector<std::uint64_t> counts;
    std::map<int, std::uint64_t> outside;  // values the stretch does not reach
    void add(int v, std::uint64_t blocks);
    // f(value, blocks) for every value met, in ascending order.
    template <class F>
    void forEach(F f) const;
    void clear();
  };
  // The pending values of blocks of one (m, k): by statistic.
  using Pending = std::vector<ValueCounts>;
  Pending& pendingOf(int m, int k);

  // Whole blocks of the block size, next.
  void addWhole(std::span<const BlockShape> blocks);
  // Whole blocks of a size up to tally_limit, up to max_tally of them,
  // counted in a table by (k, value) first: a few increments a block, where
  // each cell's add() would take a dozen steps.
  static constexpr int tally_limit = 256;
  static constexpr std::size_t max_tally = 65535;  // a table cell holds as many
  void tally(std::span<const BlockShape> blocks);

  // Whether `laws` are of this summary's statistics.
  bool sameStatistics(const StatisticLaws& laws) const;

  int n_;
  std::uint64_t first_, blocks_ = 0;
  std::span<const Statistic* const> statistics_;
  FileBits file_;
  bool fileRuns_ = true;
  std::vector<bool> held_;
  std::vector<std::uint64_t> passing_;
  std::vector<BinCounts> bins_;
  std::vector<std::uint64_t> devObserved_;
  std::vector<std::uint64_t> byOnes_;  // blocks of n bits, by k
  std::map<std::pair<int, int>, std::uint64_t> shorter_;  // blocks of fewer bits, by (m, k)
  // Blocks added but not yet binned: of n bits by k, of fewer by (m, k).
  std::vector<Pending> pending_;
  std::map<std::pair<int, int>, Pending> pendingShorter_;
  bool settled_ = true;
};

// A run's blocks counted into a summary of their own on the worker thread
// that measured them (see RunDigest); FileSummary::add of the run merges it.
class SummaryDigest final : public RunDigest {
 public:
  explicit SummaryDigest(std::span<const Statistic* const> statistics) : statistics_(statistics) {}
  void digest(const MeasuredRun& run) override;
  const FileSummary& summary() const { return *summary_; }

 private:
  std::span<const Statistic* const> statistics_;
  std::optional<FileSummary> summary_;
};

// SummaryDigests for the sizes whose blocks are worth counting on the
// workers: the short ones, whose runs hold thousands of blocks each. (A run
// of 4096-bit blocks holds a few hundred; merging a summary of them would
// cost about as much as counting them.)
DigestMaker summaryDigests(std::span<const int> sizes, std::span<const Statistic* const> statistics);

// The number of runs a stretch of `bits` bits with `ones` ones can have
// when it starts with firstBit and ends with lastBit: whether such bits
// exist. (FileBits of a real file always can.)
bool possibleFileBits(const FileBits& f);

}  // namespace lumbra
