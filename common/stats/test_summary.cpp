#include "stats/test_summary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "stats/calibrated_chi_square.h"
#include "stats/chi_square.h"
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

TestSummary::TestSummary(int blockSize, std::uint64_t firstBlock)
    : n_(blockSize), first_(firstBlock), byOnes_(static_cast<std::size_t>(blockSize) + 1, 0) {
  hard_assert(blockSize >= 1 && blockSize <= 4096, "blockSize>=1&&blockSize<=4096");
}

void TestSummary::add(int m, int k, int d) {
  hard_assert(m >= 1 && m <= n_ && k >= 0 && k <= m && d >= 0 && d <= m, "m>=1&&m<=n_&&k>=0&&k<=m&&d>=0&&d<=m");
  ++blocks_;
  bits_ += static_cast<std::uint64_t>(m);
  ones_ += static_cast<std::uint64_t>(k);
  std::vector<std::uint64_t>* cell;
  if (m == n_) {
    ++byOnes_[static_cast<std::size_t>(k)];
    if (pending_.empty()) pending_.resize(static_cast<std::size_t>(n_) + 1);
    cell = &pending_[static_cast<std::size_t>(k)];
  } else {
    ++shorter_[{m, k}];
    cell = &pendingShorter_[{m, k}];
  }
  if (cell->size() <= static_cast<std::size_t>(d)) cell->resize(static_cast<std::size_t>(d) + 1, 0);
  ++(*cell)[static_cast<std::size_t>(d)];
  if (devObserved_.size() <= static_cast<std::size_t>(d)) devObserved_.resize(static_cast<std::size_t>(d) + 1, 0);
  ++devObserved_[static_cast<std::size_t>(d)];
  settled_ = false;
}

void TestSummary::merge(const TestSummary& next) {
  hard_assert(next.n_ == n_, "next.n_==n_");
  blocks_ += next.blocks_;
  bits_ += next.bits_;
  ones_ += next.ones_;
  onesPassing_ += next.onesPassing_;
  devPassing_ += next.devPassing_;
  for (std::size_t b = 0; b < onesBins_.size(); ++b) {
    onesBins_[b] += next.onesBins_[b];
    devBins_[b] += next.devBins_[b];
  }
  if (devObserved_.size() < next.devObserved_.size()) devObserved_.resize(next.devObserved_.size(), 0);
  for (std::size_t d = 0; d < next.devObserved_.size(); ++d) devObserved_[d] += next.devObserved_[d];
  for (std::size_t k = 0; k < byOnes_.size(); ++k) byOnes_[k] += next.byOnes_[k];
  for (const auto& [shape, count] : next.shorter_) shorter_[shape] += count;
  auto addCells = [](std::vector<std::uint64_t>& to, const std::vector<std::uint64_t>& from) {
    if (to.size() < from.size()) to.resize(from.size(), 0);
    for (std::size_t d = 0; d < from.size(); ++d) to[d] += from[d];
  };
  if (!next.pending_.empty() && pending_.empty()) pending_.resize(next.pending_.size());
  for (std::size_t k = 0; k < next.pending_.size(); ++k) addCells(pending_[k], next.pending_[k]);
  for (const auto& [shape, cells] : next.pendingShorter_) addCells(pendingShorter_[shape], cells);
  settled_ = settled_ && next.settled_;
}

template <class F>
void TestSummary::forEachShape(F f) const {
  for (const auto& [shape, count] : shorter_) f(shape.first, shape.second, count);
  for (std::size_t k = 0; k < byOnes_.size(); ++k)
    if (byOnes_[k] > 0) f(n_, static_cast<int>(k), byOnes_[k]);
}

TestSummary::Counts TestSummary::counts() const {
  hard_assert(settled_, "settled_");
  Counts c{blocks_, bits_, ones_, onesPassing_, devPassing_, onesBins_, devBins_, devObserved_, {}};
  forEachShape([&](int m, int k, std::uint64_t count) {
    c.shapes.push_back({static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(k), count});
  });
  return c;
}

TestSummary TestSummary::restored(int blockSize, std::uint64_t firstBlock, const Counts& c) {
  if (blockSize < 1 || blockSize > 4096) throw std::invalid_argument("a block size out of 1..4096");
  TestSummary s(blockSize, firstBlock);
  // Every sum is checked: counts near 2^64 must not wrap into agreement.
  bool wrapped = false;
  auto add = [&](std::uint64_t& to, std::uint64_t v) { wrapped = __builtin_add_overflow(to, v, &to) || wrapped; };
  auto addProduct = [&](std::uint64_t& to, std::uint64_t a, std::uint64_t b) {
    std::uint64_t p;
    wrapped = __builtin_mul_overflow(a, b, &p) || wrapped;
    add(to, p);
  };
  std::uint64_t blocks = 0, bits = 0, ones = 0, inBins = 0, devBins = 0, deviations = 0;
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
  for (std::size_t b = 0; b < c.onesBins.size(); ++b) {
    add(inBins, c.onesBins[b]);
    add(devBins, c.devBins[b]);
  }
  for (std::uint64_t d : c.deviations) add(deviations, d);
  if (wrapped || blocks != c.blocks || bits != c.bits || ones != c.ones || inBins != blocks || devBins != blocks ||
      deviations != blocks || c.onesPassing > blocks || c.devPassing > blocks ||
      c.deviations.size() > static_cast<std::size_t>(blockSize) + 1 ||
      firstBlock + c.blocks < firstBlock ||
      (!c.deviations.empty() && c.deviations.back() == 0))
    throw std::invalid_argument("counts that do not add up");
  s.blocks_ = c.blocks;
  s.bits_ = c.bits;
  s.ones_ = c.ones;
  s.onesPassing_ = c.onesPassing;
  s.devPassing_ = c.devPassing;
  s.onesBins_ = c.onesBins;
  s.devBins_ = c.devBins;
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

StatisticFigures TestSummary::onesFigures(Laws& laws) const {
  hard_assert(settled_, "settled_");
  StatisticFigures f;
  f.passing = onesPassing_;
  f.binsObserved = onesBins_;
  // The expectation of a block depends on its length only.
  std::map<int, std::uint64_t> byLength;
  forEachShape([&](int m, int, std::uint64_t count) { byLength[m] += count; });
  for (const auto& [m, count] : byLength) {
    const OnesLaw& o = laws.ones(m);
    add_expectation(f, static_cast<double>(count), o.passingProbability(), o.binProbabilities());
  }
  return f;
}

StatisticFigures TestSummary::deviationFigures(Laws& laws) const {
  hard_assert(settled_, "settled_");
  StatisticFigures f;
  f.passing = devPassing_;
  f.binsObserved = devBins_;
  forEachShape([&](int m, int k, std::uint64_t count) {
    DeviationLaw& dl = laws.deviation(m, k);
    add_expectation(f, static_cast<double>(count), dl.passingProbability(), dl.binProbabilities());
  });
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

std::vector<double> TestSummary::deviationsExpected(Laws& laws) const {
  std::vector<double> e(devObserved_.size(), 0.0);
  forEachShape([&](int m, int k, std::uint64_t count) {
    DeviationLaw& dl = laws.deviation(m, k);
    const int last = lastDeviation(dl, e.size());
    for (int d = 0; d <= last; ++d)
      e[static_cast<std::size_t>(d)] += static_cast<double>(count) * static_cast<double>(dl.probability(d));
  });
  return e;
}

void TestSummary::settle(Laws& laws, unsigned threads, bool histogram,
                         const std::function<void(std::size_t, std::size_t)>& progress) {
  // The Laws' maps are filled here, on one thread; the threads then touch
  // only the DeviationLaws, each its own (k and m - k share one).
  std::vector<DeviationLaw*> todo;
  forEachShape([&](int m, int k, std::uint64_t) {
    laws.ones(m);
    todo.push_back(&laws.deviation(m, k));
  });
  // By (m, k), so that each law's neighbour in the list is a law of nearly
  // the same edges (k and m - k share one law: side by side too).
  std::sort(todo.begin(), todo.end(), [](const DeviationLaw* a, const DeviationLaw* b) {
    return std::pair{a->size(), a->ones()} < std::pair{b->size(), b->ones()};
  });
  todo.erase(std::unique(todo.begin(), todo.end()), todo.end());
  const std::size_t observed = devObserved_.size();
  // The threads take runs of neighbouring laws: in a run each law's search
  // starts from the edges of the one before it, settled on the same thread.
  // NOTE: measured at -n 4096 on the project's source text, the guessed
  // edges are right for 99 % of the edges of neighbours one k apart, and a
  // law then costs about 11 doubles and 10 floats instead of 13 and 14.
  const std::size_t run = std::clamp<std::size_t>(todo.size() / (std::size_t{4} * std::max(threads, 1u)), 1, 32);
  std::atomic<std::size_t> next{0}, done{0};
  std::mutex mutex;
  std::exception_ptr error;
  auto work = [&](bool caller) {
    try {
      for (std::size_t first; (first = next.fetch_add(run)) < todo.size();) {
        for (std::size_t i = first; i < std::min(first + run, todo.size()); ++i) {
          DeviationLaw& law = *todo[i];
          if (i > first) law.guessEdgesFrom(*todo[i - 1]);
          // probability(d) reads tail(d + 1) as well. The histogram's tails
          // come first: the bins' search then finds most of its tails known.
          const int last = histogram ? lastDeviation(law, observed) : -1;
          if (last >= 0) law.tail(last + 1);
          law.passingProbability();
          ++done;
          if (caller && progress) progress(done, todo.size());
        }
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
      next = todo.size();
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t count = std::min<std::size_t>(threads, todo.size());
  try {
    for (std::size_t t = 1; t < count; ++t) helpers.emplace_back(work, false);
  } catch (...) {
    next = todo.size();
    for (std::thread& t : helpers) t.join();
    throw;
  }
  work(true);
  for (std::thread& t : helpers) t.join();
  if (error) std::rethrow_exception(error);

  // The counts are whole numbers: the same in any order.
  auto bin = [&](int m, int k, const std::vector<std::uint64_t>& cells) {
    const OnesLaw& o = laws.ones(m);
    DeviationLaw& dl = laws.deviation(m, k);
    std::uint64_t all = 0;
    for (std::size_t d = 0; d < cells.size(); ++d) {
      const std::uint64_t blocks = cells[d];
      if (blocks == 0) continue;
      all += blocks;
      if (dl.passing(static_cast<int>(d))) devPassing_ += blocks;
      devBins_[static_cast<std::size_t>(dl.bin(static_cast<int>(d)))] += blocks;
    }
    if (o.passing(k)) onesPassing_ += all;
    onesBins_[static_cast<std::size_t>(o.bin(k))] += all;
  };
  for (std::size_t k = 0; k < pending_.size(); ++k) bin(n_, static_cast<int>(k), pending_[k]);
  for (const auto& [shape, cells] : pendingShorter_) bin(shape.first, shape.second, cells);
  pending_.clear();
  pendingShorter_.clear();
  settled_ = true;
}

}  // namespace lumbra
