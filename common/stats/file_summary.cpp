#include "stats/file_summary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

#include "band/widest_deviation.h"
#include "stats/calibrated_chi_square.h"
#include "stats/chi_square.h"
#include "stats/walk_statistics.h"
#include "kova/hard_assert.h"

namespace lumbra {

Verdict judge(const StatisticFigures& f) {
  Verdict v;
  v.passingSd = std::sqrt(f.passingVariance);
  if (v.passingSd > 0) v.passingZ = (static_cast<double>(f.passing) - f.passingExpected) / v.passingSd;

  std::array<std::size_t, bin_count> group{};  // of each bin
  std::size_t groups = 0;
  double exp = 0;
  for (std::size_t b = 0; b < bin_count; ++b) {
    group[b] = groups;
    exp += f.binsExpected[b];
    if (exp >= 5) {
      ++groups;
      exp = 0;
    }
  }
  if (groups < 2) return v;
  // The bins after the last group to close join it.
  for (std::size_t& g : group) g = std::min(g, groups - 1);
  std::vector<double> diff(groups, 0.0), cov(groups * groups, 0.0);
  for (std::size_t b = 0; b < bin_count; ++b) {
    diff[group[b]] += static_cast<double>(f.binsObserved[b]) - f.binsExpected[b];
    for (std::size_t c = 0; c < bin_count; ++c)
      cov[group[b] * groups + group[c]] += f.binsCovariance[b * bin_count + c];
  }
  const ChiSquareForm form = calibratedChiSquare(diff, cov);
  if (form.dof < 1) return v;
  v.chi2 = form.statistic;
  v.dof = form.dof;
  v.pValue = chiSquareUpperTail(form.statistic, form.dof);
  return v;
}

FileSummary::FileSummary(int blockSize, std::uint64_t firstBlock, std::span<const Statistic* const> statistics)
    : n_(blockSize),
      first_(firstBlock),
      statistics_(statistics),
      held_(statistics.size(), true),
      passing_(statistics.size(), 0),
      bins_(statistics.size()),
      byOnes_(static_cast<std::size_t>(blockSize) + 1, 0) {
  hard_assert(blockSize >= 1 && blockSize <= 4096, "blockSize>=1&&blockSize<=4096");
  const bool walksFirst = statistics.size() >= 2 && statistics[ones_statistic] == &onesStatistic() &&
                          statistics[deviation_statistic] == &deviationStatistic();
  hard_assert(walksFirst, "walksFirst");
}

bool FileSummary::sameStatistics(const StatisticLaws& laws) const {
  return std::equal(statistics_.begin(), statistics_.end(), laws.statistics().begin(), laws.statistics().end());
}

void FileSummary::ValueCounts::add(int v, std::uint64_t blocks) {
  const int end = first + static_cast<int>(counts.size());
  if (counts.empty()) {
    first = v;
  } else if ((v < first && end - v > dense_span) || (v >= end && v + 1 - first > dense_span)) {
    outside[v] += blocks;
    return;
  } else if (v < first) {
    counts.insert(counts.begin(), static_cast<std::size_t>(first - v), 0);
    first = v;
  }
  const auto i = static_cast<std::size_t>(v - first);
  if (counts.size() <= i) counts.resize(i + 1, 0);
  counts[i] += blocks;
}

template <class F>
void FileSummary::ValueCounts::forEach(F f) const {
  auto o = outside.begin();
  for (; o != outside.end() && o->first < first; ++o) f(o->first, o->second);
  for (std::size_t i = 0; i < counts.size(); ++i)
    if (counts[i] != 0) f(first + static_cast<int>(i), counts[i]);
  for (; o != outside.end(); ++o) f(o->first, o->second);
}

void FileSummary::ValueCounts::clear() {
  counts.clear();
  outside.clear();
}

FileSummary::Pending& FileSummary::pendingOf(int m, int k) {
  Pending* p;
  if (m == n_) {
    if (pending_.empty()) pending_.resize(static_cast<std::size_t>(n_) + 1);
    p = &pending_[static_cast<std::size_t>(k)];
  } else {
    p = &pendingShorter_[{m, k}];
  }
  if (p->empty()) p->resize(statistics_.size());
  return *p;
}

void FileSummary::add(int m, const BlockShape& block) {
  const int k = block.ones, d = block.deviation();
  hard_assert(m >= 1 && m <= n_ && k >= 0 && k <= m && d >= 0 && d <= m, "m>=1&&m<=n_&&k>=0&&k<=m&&d>=0&&d<=m");
  ++blocks_;
  file_.append(FileBits::slice(static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(k),
                               static_cast<std::uint64_t>(block.runs), block.firstBit, block.lastBit));
  if (m == n_) ++byOnes_[static_cast<std::size_t>(k)];
  else ++shorter_[{m, k}];
  Pending& p = pendingOf(m, k);
  for (std::size_t s = 0; s < statistics_.size(); ++s) p[s].add(statistics_[s]->value(block), 1);
  if (devObserved_.size() <= static_cast<std::size_t>(d)) devObserved_.resize(static_cast<std::size_t>(d) + 1, 0);
  ++devObserved_[static_cast<std::size_t>(d)];
  settled_ = false;
}

void FileSummary::add(const MeasuredRun& run) {
  if (const auto* digested = dynamic_cast<const SummaryDigest*>(run.digest)) {
    merge(digested->summary());
    return;
  }
  if (run.n != n_) {
    for (std::size_t i = 0; i < run.blocks.size(); ++i) add(run.length(i), run.blocks[i]);
    return;
  }
  const bool shortLast = !run.blocks.empty() && run.lastLength != run.n;
  addWhole(run.blocks.first(run.blocks.size() - (shortLast ? 1 : 0)));
  if (shortLast) add(run.lastLength, run.blocks.back());
}

// The blocks as one stretch of the file first, then the counts a statistic
// at a time, so that each loop asks one statistic for its values.
void FileSummary::addWhole(std::span<const BlockShape> blocks) {
  if (blocks.empty()) return;
  std::uint64_t ones = 0, runs = 0;
  int most = 0;
  bool fits = true;
  const auto n = static_cast<unsigned>(n_);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const BlockShape& b = blocks[i];
    fits &= (static_cast<unsigned>(b.ones) <= n) & (static_cast<unsigned>(b.up) <= n) &
            (static_cast<unsigned>(b.down) <= n) & (b.runs >= 1);
    ones += static_cast<std::uint64_t>(b.ones);
    // A run across the seam with the block before is one run, not two.
    runs += static_cast<std::uint64_t>(b.runs) - (i > 0 && blocks[i - 1].lastBit == b.firstBit ? 1 : 0);
    most = std::max(most, b.deviation());
  }
  hard_assert(fits, "fits");
  file_.append(FileBits::slice(blocks.size() * static_cast<std::uint64_t>(n_), ones, runs, blocks.front().firstBit,
                               blocks.back().lastBit));
  blocks_ += blocks.size();
  settled_ = false;
  if (devObserved_.size() <= static_cast<std::size_t>(most)) devObserved_.resize(static_cast<std::size_t>(most) + 1, 0);
  if (pending_.empty()) pending_.resize(static_cast<std::size_t>(n_) + 1);
  if (n_ <= tally_limit) {
    for (std::size_t at = 0; at < blocks.size(); at += max_tally)
      tally(blocks.subspan(at, std::min(max_tally, blocks.size() - at)));
    return;
  }
  for (const BlockShape& b : blocks) {
    ++byOnes_[static_cast<std::size_t>(b.ones)];
    ++devObserved_[static_cast<std::size_t>(b.deviation())];
    Pending& p = pending_[static_cast<std::size_t>(b.ones)];
    if (p.empty()) p.resize(statistics_.size());
  }
  for (std::size_t s = 0; s < statistics_.size(); ++s) {
    const Statistic& statistic = *statistics_[s];
    for (const BlockShape& b : blocks) pending_[static_cast<std::size_t>(b.ones)][s].add(statistic.value(b), 1);
  }
}

// The table of each statistic but the ones (whose value is k) holds the
// blocks by (k, value), row k of n + 1 cells; it is all zeros between calls.
void FileSummary::tally(std::span<const BlockShape> blocks) {
  const auto side = static_cast<std::size_t>(n_) + 1;
  const std::size_t cells = side * side;
  thread_local std::vector<std::uint16_t> table;
  if (table.size() < statistics_.size() * cells) table.assign(statistics_.size() * cells, 0);
  // Each block's row, and the blocks of each row.
  thread_local std::vector<std::uint32_t> rowOf;
  thread_local std::vector<int> values;
  if (rowOf.size() < blocks.size()) {
    rowOf.resize(blocks.size());
    values.resize(blocks.size());
  }
  std::array<std::uint32_t, tally_limit + 1> byOnes{};
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const auto k = static_cast<std::size_t>(blocks[i].ones);
    ++byOnes[k];
    rowOf[i] = static_cast<std::uint32_t>(k * side);
  }
  for (std::size_t k = 0; k < side; ++k) {
    if (byOnes[k] == 0) continue;
    Pending& p = pending_[k];
    if (p.empty()) p.resize(statistics_.size());
    p[ones_statistic].add(static_cast<int>(k), byOnes[k]);
    byOnes_[k] += byOnes[k];
  }
  try {
    for (std::size_t s = 0; s < statistics_.size(); ++s) {
      if (s == ones_statistic) continue;
      statistics_[s]->values(blocks, values.data());
      int least = n_, most = 0;
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        least = std::min(least, values[i]);
        most = std::max(most, values[i]);
      }
      const bool fits = least >= 0 && most <= n_;
      hard_assert(fits, "fits");
      std::uint16_t* t = table.data() + s * cells;
      for (std::size_t i = 0; i < blocks.size(); ++i) ++t[rowOf[i] + static_cast<std::uint32_t>(values[i])];
      for (std::size_t k = 0; k < side; ++k) {
        if (byOnes[k] == 0) continue;
        std::uint16_t* row = t + k * side;
        ValueCounts& cell = pending_[k][s];
        for (int v = least; v <= most; ++v) {
          const std::uint16_t count = row[static_cast<std::size_t>(v)];
          if (count == 0) continue;
          cell.add(v, count);
          if (s == deviation_statistic) devObserved_[static_cast<std::size_t>(v)] += count;
          row[static_cast<std::size_t>(v)] = 0;
        }
      }
    }
  } catch (...) {
    std::fill(table.begin(), table.end(), 0);
    throw;
  }
}

void FileSummary::restart(std::uint64_t firstBlock) {
  first_ = firstBlock;
  blocks_ = 0;
  file_ = FileBits{};
  fileRuns_ = true;
  std::fill(held_.begin(), held_.end(), true);
  std::fill(passing_.begin(), passing_.end(), 0);
  std::fill(bins_.begin(), bins_.end(), BinCounts{});
  devObserved_.clear();
  std::fill(byOnes_.begin(), byOnes_.end(), 0);
  shorter_.clear();
  for (Pending& p : pending_)
    for (ValueCounts& cell : p) cell.clear();
  pendingShorter_.clear();
  settled_ = true;
}

void SummaryDigest::digest(const MeasuredRun& run) {
  if (summary_ && summary_->blockSize() == run.n) summary_->restart(run.first);
  else summary_.emplace(run.n, run.first, statistics_);
  MeasuredRun blocks = run;
  blocks.digest = nullptr;  // counted here, not merged from here
  summary_->add(blocks);
}

DigestMaker summaryDigests(std::span<const int> sizes, std::span<const Statistic* const> statistics) {
  std::vector<int> of(sizes.begin(), sizes.end());
  return [of = std::move(of), statistics](std::size_t i) -> std::unique_ptr<RunDigest> {
    if (of[i] > 256) return nullptr;
    return std::make_unique<SummaryDigest>(statistics);
  };
}

void FileSummary::merge(const FileSummary& next) {
  const bool alike = next.n_ == n_ && std::equal(statistics_.begin(), statistics_.end(), next.statistics_.begin(),
                                                 next.statistics_.end());
  hard_assert(alike, "alike");
  file_.append(next.file_);
  blocks_ += next.blocks_;
  fileRuns_ = fileRuns_ && next.fileRuns_;
  for (std::size_t s = 0; s < held_.size(); ++s) {
    held_[s] = held_[s] && next.held_[s];
    passing_[s] += next.passing_[s];
    for (std::size_t b = 0; b < bins_[s].size(); ++b) bins_[s][b] += next.bins_[s][b];
  }
  if (devObserved_.size() < next.devObserved_.size()) devObserved_.resize(next.devObserved_.size(), 0);
  for (std::size_t d = 0; d < next.devObserved_.size(); ++d) devObserved_[d] += next.devObserved_[d];
  for (std::size_t k = 0; k < byOnes_.size(); ++k) byOnes_[k] += next.byOnes_[k];
  for (const auto& [shape, count] : next.shorter_) shorter_[shape] += count;
  auto addCells = [&](const Pending& from, int m, int k) {
    Pending& to = pendingOf(m, k);
    for (std::size_t s = 0; s < from.size(); ++s) {
      from[s].forEach([&](int v, std::uint64_t blocks) { to[s].add(v, blocks); });
    }
  };
  for (std::size_t k = 0; k < next.pending_.size(); ++k)
    if (!next.pending_[k].empty()) addCells(next.pending_[k], n_, static_cast<int>(k));
  for (const auto& [shape, cells] : next.pendingShorter_) addCells(cells, shape.first, shape.second);
  settled_ = settled_ && next.settled_;
}

template <class F>
void FileSummary::forEachShape(F f) const {
  for (const auto& [shape, count] : shorter_) f(shape.first, shape.second, count);
  for (std::size_t k = 0; k < byOnes_.size(); ++k)
    if (byOnes_[k] > 0) f(n_, static_cast<int>(k), byOnes_[k]);
}

FileSummary::Counts FileSummary::counts() const {
  hard_assert(settled_, "settled_");
  Counts c{blocks_, file_.bits, file_.ones, {}, devObserved_, {}, std::nullopt};
  for (std::size_t s = 0; s < held_.size(); ++s) c.statistics.push_back({held_[s], passing_[s], bins_[s]});
  forEachShape([&](int m, int k, std::uint64_t count) {
    c.shapes.push_back({static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(k), count});
  });
  if (fileRuns_) c.file = file_;
  return c;
}

bool possibleFileBits(const FileBits& f) {
  if (f.ones > f.bits || f.firstBit < 0 || f.firstBit > 1 || f.lastBit < 0 || f.lastBit > 1) return false;
  if (f.bits == 0) return f.runs == 0;
  const std::uint64_t zeros = f.bits - f.ones;
  if (f.ones == 0 || zeros == 0) return f.runs == 1 && f.firstBit == (f.ones > 0) && f.lastBit == f.firstBit;
  // Runs of ones and of zeros alternate: with r runs starting with bit b,
  // ceil(r / 2) runs of b and floor(r / 2) of the other, at least one bit each.
  if (f.runs < 2 || (f.runs % 2 == 1) != (f.firstBit == f.lastBit)) return false;
  const std::uint64_t first = f.runs / 2 + f.runs % 2, second = f.runs / 2;
  const std::uint64_t ofFirst = f.firstBit == 1 ? f.ones : zeros, ofSecond = f.firstBit == 1 ? zeros : f.ones;
  return first <= ofFirst && second <= ofSecond;
}

FileSummary FileSummary::restored(int blockSize, std::uint64_t firstBlock, const Counts& c,
                                  std::span<const Statistic* const> statistics) {
  if (blockSize < 1 || blockSize > 4096) throw std::invalid_argument("a block size out of 1..4096");
  FileSummary s(blockSize, firstBlock, statistics);
  // Every sum is checked: counts near 2^64 must not wrap into agreement.
  bool wrapped = false;
  auto add = [&](std::uint64_t& to, std::uint64_t v) { wrapped = __builtin_add_overflow(to, v, &to) || wrapped; };
  auto addProduct = [&](std::uint64_t& to, std::uint64_t a, std::uint64_t b) {
    std::uint64_t p;
    wrapped = __builtin_mul_overflow(a, b, &p) || wrapped;
    add(to, p);
  };
  std::uint64_t blocks = 0, bits = 0, ones = 0, deviations = 0;
  std::array<std::uint64_t, 2> previous{0, 0};
  for (const auto& [m, k, count] : c.shapes) {
    if (m < 1 || m > static_cast<std::uint64_t>(blockSize) || k > m || count == 0)
      throw std::invalid_argument("a shape out of range");
    // In ascending order, each once, as counts() gives them.
    if (blocks > 0 && std::array<std::uint64_t, 2>{m, k} <= previous)
      throw std::invalid_argument("shapes out of order");
    previous = {m, k};
    if (m == static_cast<std::uint64_t>(blockSize)) s.byOnes_[k] += count;
    else s.shorter_[{static_cast<int>(m), static_cast<int>(k)}] += count;
    add(blocks, count);
    addProduct(bits, m, count);
    addProduct(ones, k, count);
  }
  bool binsAddUp = c.statistics.size() <= s.held_.size();
  for (std::size_t i = 0; i < s.held_.size(); ++i) {
    const Observed o = i < c.statistics.size() ? c.statistics[i] : Observed{};
    s.held_[i] = o.held;
    if (!o.held) continue;
    std::uint64_t inBins = 0;
    for (std::uint64_t b : o.bins) add(inBins, b);
    binsAddUp = binsAddUp && inBins == blocks && o.passing <= blocks;
    s.passing_[i] = o.passing;
    s.bins_[i] = o.bins;
  }
  for (std::uint64_t d : c.deviations) add(deviations, d);
  if (wrapped || !binsAddUp || blocks != c.blocks || bits != c.bits || ones != c.ones || deviations != blocks ||
      c.deviations.size() > static_cast<std::size_t>(blockSize) + 1 ||
      firstBlock + c.blocks < firstBlock ||
      (!c.deviations.empty() && c.deviations.back() == 0))
    throw std::invalid_argument("counts that do not add up");
  // Counts that each add up may still contradict each other: a block whose
  // p-value lies outside the lowest bin (at least 0.1) passes (at least
  // 0.01), and no block deviates further than its length and ones allow.
  for (std::size_t i = 0; i < s.held_.size(); ++i) {
    if (!s.held_[i]) continue;
    const std::uint64_t above = blocks - s.bins_[i][0];
    if (s.passing_[i] < above)
      throw std::invalid_argument(std::string(statistics[i]->name()) + ".passing is " +
                                  std::to_string(s.passing_[i]) + ", fewer than the " + std::to_string(above) +
                                  " blocks outside bins_observed[0], which all pass");
  }
  {
    // reach[d]: the blocks whose shape lets them deviate by d and no more.
    std::vector<std::uint64_t> reach(static_cast<std::size_t>(blockSize) + 2, 0);
    for (const auto& [m, k, count] : c.shapes) {
      const WidestDeviation w = widestDeviation(static_cast<std::int64_t>(m), static_cast<std::int64_t>(k));
      reach[static_cast<std::size_t>(std::min<std::int64_t>(std::max(w.up, w.down), blockSize + 1))] += count;
    }
    // From the top down: the blocks that deviate by d or more are at most
    // those that can.
    std::uint64_t can = 0, deviate = 0;
    for (std::size_t d = reach.size(); d-- > 0;) {
      can += reach[d];
      if (d < c.deviations.size()) deviate += c.deviations[d];
      if (deviate > can)
        throw std::invalid_argument(std::to_string(deviate) + " blocks of deviation " + std::to_string(d) +
                                    " or more in deviations.observed, where the shapes allow " +
                                    std::to_string(can));
    }
  }
  if (c.file && (c.file->bits != c.bits || c.file->ones != c.ones || !possibleFileBits(*c.file) ||
                 c.file->runs < (c.blocks > 0 ? 1 : 0)))
    throw std::invalid_argument("whole-file runs that bits of these counts cannot have");
  s.blocks_ = c.blocks;
  s.file_ = c.file ? *c.file : FileBits{c.bits, c.ones, 0, 0, 0};
  s.fileRuns_ = c.file.has_value();
  s.devObserved_ = c.deviations;
  return s;
}

namespace {

void add_expectation(StatisticFigures& f, double count, double pass, const BinArray& bins) {
  f.passingExpected += count * pass;
  f.passingVariance += count * pass * (1 - pass);
  for (std::size_t b = 0; b < bins.size(); ++b) f.binsExpected[b] += count * bins[b];
  addTrialsCovariance(f.binsCovariance, count, bins);
}

}  // namespace

StatisticFigures FileSummary::figures(StatisticLaws& laws, std::size_t s) const {
  hard_assert(settled_ && held_[s] && sameStatistics(laws), "settled_&&held_[s]&&sameStatistics(laws)");
  StatisticFigures f;
  f.passing = passing_[s];
  f.binsObserved = bins_[s];
  const auto add = [&](int m, int k, std::uint64_t count) {
    StatisticLaw& law = laws.law(s, m, k);
    add_expectation(f, static_cast<double>(count), law.passingProbability(), law.binProbabilities());
  };
  if (laws.statistics()[s]->givenOnes()) {
    forEachShape(add);
  } else {
    // The expectation of a block depends on its length only.
    std::map<int, std::uint64_t> byLength;
    forEachShape([&](int m, int, std::uint64_t count) { byLength[m] += count; });
    for (const auto& [m, count] : byLength) add(m, 0, count);
  }
  return f;
}

namespace {

// The deviations whose expectation a law adds to: 0 .. the last returned.
// NOTE: the terms past a tail of 1e-30 are left out of the expected
// histogram: together they are below 1e-30 of the blocks counted, far below
// anything a histogram shows, and each tail costs a band pass of O(m d).
constexpr long double negligible_tail = 1e-30L;

int lastDeviation(DeviationLaw& dl, std::size_t observed) {
  const int top = std::min<int>(static_cast<int>(observed) - 1, dl.maxDeviation());
  int d = 0;
  for (; d <= top; ++d) {
    // Four tails a pass (see DeviationLaw::computeTails), the last with
    // tail(top + 1) that probability(top) reads.
    if (d % 4 == 1) dl.computeTails({d, d + 1, d + 2, d + 3});
    if (dl.tail(d) < negligible_tail) break;
  }
  return d - 1;
}

}  // namespace

std::vector<double> FileSummary::deviationsExpected(StatisticLaws& laws) const {
  hard_assert(sameStatistics(laws), "sameStatistics(laws)");
  std::vector<double> e(devObserved_.size(), 0.0);
  forEachShape([&](int m, int k, std::uint64_t count) {
    DeviationLaw& dl = deviationLawOf(laws.law(deviation_statistic, m, k));
    const int last = lastDeviation(dl, e.size());
    for (int d = 0; d <= last; ++d)
      e[static_cast<std::size_t>(d)] += static_cast<double>(count) * static_cast<double>(dl.probability(d));
  });
  return e;
}

LawsCost FileSummary::lawsCost(bool histogram) const {
  LawsCost total;
  std::set<std::tuple<const Statistic*, int, int>> seen;
  for (std::size_t s = 0; s < statistics_.size(); ++s) {
    if (!held_[s]) continue;
    const Statistic& statistic = *statistics_[s];
    const auto add = [&](int m, int k) {
      const auto [owner, ones] = statistic.sharedLaw(m, k);
      if (seen.insert({owner, m, ones}).second) addLaw(total, lawCost(statistic, m, histogram));
    };
    forEachShape([&](int m, int k, std::uint64_t) { add(m, k); });
  }
  return total;
}

void FileSummary::settle(StatisticLaws& laws, unsigned threads, bool histogram,
                         const std::function<void(std::size_t, std::size_t)>& progress, bool releaseLaws) {
  hard_assert(sameStatistics(laws), "sameStatistics(laws)");
  // One task per distinct law: the laws' map is filled here, on one thread;
  // the threads then each work on the laws of their tasks alone, binning
  // the pending values of every (statistic, m, k) that shares the law (the
  // fall under the line of k and the rise over it of m - k share one).
  struct Tally {
    std::size_t statistic;
    std::uint64_t passing = 0;
    BinCounts bins{};
  };
  struct Task {
    std::size_t statistic;  // the first to ask for the law
    StatisticLaw* law;
    std::vector<std::pair<std::size_t, const ValueCounts*>> cells;  // by statistic
    std::vector<Tally> tallies;                                      // by statistic, one each
  };
  std::vector<Task> tasks;
  std::map<StatisticLaw*, std::size_t> taskOf;
  const auto statistics = laws.statistics();
  for (std::size_t s = 0; s < statistics.size(); ++s) {
    if (!held_[s]) continue;
    const auto taskFor = [&](int m, int k) -> Task& {
      StatisticLaw* law = &laws.law(s, m, k);
      const auto [it, fresh] = taskOf.emplace(law, tasks.size());
      if (fresh) tasks.push_back({s, law, {}, {}});
      Task& t = tasks[it->second];
      if (std::none_of(t.tallies.begin(), t.tallies.end(), [&](const Tally& x) { return x.statistic == s; }))
        t.tallies.push_back({s, 0, {}});
      return t;
    };
    forEachShape([&](int m, int k, std::uint64_t) { taskFor(m, k); });
    for (std::size_t k = 0; k < pending_.size(); ++k)
      if (!pending_[k].empty()) taskFor(n_, static_cast<int>(k)).cells.push_back({s, &pending_[k][s]});
    for (const auto& [shape, cells] : pendingShorter_)
      taskFor(shape.first, shape.second).cells.push_back({s, &cells[s]});
  }
  const std::size_t observed = devObserved_.size();
  std::atomic<std::size_t> next{0}, done{0};
  std::mutex mutex;
  std::exception_ptr error;
  // The threads take runs of neighbouring tasks (the laws of one statistic
  // by (m, k), as forEachShape gives them): in a run each deviation law's
  // search starts from the edges of the one before it, settled on the same
  // thread (DeviationLaw::guessEdgesFrom).
  const std::size_t run =
      std::clamp<std::size_t>(tasks.size() / (std::size_t{4} * std::max(threads, 1u)), 1, 32);
  auto work = [&](bool caller) {
    try {
      for (std::size_t first; (first = next.fetch_add(run)) < tasks.size();) {
        for (std::size_t i = first; i < std::min(first + run, tasks.size()); ++i) {
          Task& t = tasks[i];
          if (t.statistic == deviation_statistic) {
            DeviationLaw& dl = deviationLawOf(*t.law);
            if (i > first && tasks[i - 1].statistic == deviation_statistic)
              dl.guessEdgesFrom(deviationLawOf(*tasks[i - 1].law));
            // probability(d) reads tail(d + 1) as well. The histogram's
            // tails come first: the bins' search then finds most of its
            // tails known.
            const int last = histogram ? lastDeviation(dl, observed) : -1;
            if (last >= 0) dl.tail(last + 1);
          }
          t.law->passingProbability();
          t.law->binProbabilities();
          for (const auto& entry : t.cells) {
            const auto statistic = entry.first;
            const auto& cell = entry.second;
            Tally& tally = *std::find_if(t.tallies.begin(), t.tallies.end(),
                                         [&](const Tally& x) { return x.statistic == statistic; });
            cell->forEach([&](int v, std::uint64_t blocks) {
              if (t.law->passing(v)) tally.passing += blocks;
              tally.bins[static_cast<std::size_t>(t.law->bin(v))] += blocks;
            });
          }
          if (releaseLaws) t.law->release();
          ++done;
          if (caller && progress) progress(done, tasks.size());
        }
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
      next = tasks.size();
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t count = std::min<std::size_t>(threads, tasks.size());
  try {
    for (std::size_t t = 1; t < count; ++t) helpers.emplace_back(work, false);
  } catch (...) {
    next = tasks.size();
    for (std::thread& t : helpers) t.join();
    throw;
  }
  work(true);
  for (std::thread& t : helpers) t.join();
  if (error) std::rethrow_exception(error);

  // The counts are whole numbers: the same in any order.
  for (const Task& t : tasks)
    for (const Tally& x : t.tallies) {
      passing_[x.statistic] += x.passing;
      for (std::size_t b = 0; b < x.bins.size(); ++b) bins_[x.statistic][b] += x.bins[b];
    }
  pending_.clear();
  pendingShorter_.clear();
  settled_ = true;
}

}  // namespace lumbra
