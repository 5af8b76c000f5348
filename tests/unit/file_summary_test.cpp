#include "stats/file_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "count/mpz.h"
#include "reading/block_meter.h"
#include "stats/calibrated_chi_square.h"
#include "stats/statistic.h"
#include "stats/chi_square.h"
#include "plain_walk.h"

using lumbra::StatisticLaws;
using lumbra::StatisticFigures;
using lumbra::FileSummary;

namespace {

// The exact laws of blocks of m bits by enumeration of plain walks: blocks[k][d].
struct Enumerated {
  explicit Enumerated(int size) : m(size) {
    for (const std::vector<std::uint64_t>& byD : lumbra_test::block_counts(m))
      blocks.emplace_back(byD.begin(), byD.end());
  }
  double withOnes(int k) const {
    double c = 0;
    for (double b : blocks[static_cast<std::size_t>(k)]) c += b;
    return c;
  }
  double pOnes(int k) const {
    double far = 0;
    for (int i = 0; i <= m; ++i)
      if (std::abs(2 * i - m) >= std::abs(2 * k - m)) far += withOnes(i);
    return far / std::ldexp(1.0, m);
  }
  double pDeviation(int k, int d) const {
    double far = 0;
    for (int e = d; e <= m + 1; ++e) far += blocks[static_cast<std::size_t>(k)][static_cast<std::size_t>(e)];
    return far / withOnes(k);
  }
  int m;
  std::vector<std::vector<double>> blocks;
};

// The bin of a probability that is a ratio of small integers: the products
// with 10 and 100 are exact enough in doubles for these block sizes.
int bin_of(double p) { return std::min(9, static_cast<int>(std::floor(p * 10 * (1 + 1e-12)))); }
bool passes(double p) { return p * 100 * (1 + 1e-12) >= 1; }

void expect_figures(const StatisticFigures& got, const StatisticFigures& want) {
  EXPECT_EQ(got.passing, want.passing);
  EXPECT_EQ(got.binsObserved, want.binsObserved);
  EXPECT_NEAR(got.passingExpected, want.passingExpected, 1e-9 * want.passingExpected);
  EXPECT_NEAR(got.passingVariance, want.passingVariance, 1e-9 * want.passingVariance + 1e-12);
  for (std::size_t b = 0; b < want.binsExpected.size(); ++b)
    EXPECT_NEAR(got.binsExpected[b], want.binsExpected[b], 1e-9 * want.binsExpected[b] + 1e-12);
}

// The exact bin and passing of p = num / den: floor(10 p) (9 for p = 1) and
// p >= 1/100, by integer comparisons alone.
std::pair<int, bool> exact_bin(const lumbra::Statistic& st, int m, int k, int v) {
  const std::unique_ptr<lumbra::StatisticLaw> law = st.law(m, k);
  lumbra::Mpz num, den, t;
  law->pValueCount(num.get(), den.get(), v);
  mpz_mul_ui(t.get(), num.get(), 10);
  mpz_fdiv_q(t.get(), t.get(), den.get());
  const int bin = std::min(9, static_cast<int>(mpz_get_ui(t.get())));
  mpz_mul_ui(t.get(), num.get(), 100);
  return {bin, mpz_cmp(t.get(), den.get()) >= 0};
}

// What one block adds to a statistic's figures, value by value from a law
// of its own (not the summary's cached one, nor its search for the edges).
void add_block(StatisticFigures& f, const lumbra::Statistic& st, int m, const lumbra::BlockShape& b) {
  const std::unique_ptr<lumbra::StatisticLaw> law = st.law(m, b.ones);
  const auto [bin, pass] = exact_bin(st, m, b.ones, st.value(b));
  f.passing += pass;
  ++f.binsObserved[static_cast<std::size_t>(bin)];
  double q = 0;
  for (int v = law->least(); v <= law->most(); ++v) {
    const double pv = static_cast<double>(law->probability(v));
    const auto [vb, vp] = exact_bin(st, m, b.ones, v);
    f.binsExpected[static_cast<std::size_t>(vb)] += pv;
    if (vp) q += pv;
  }
  f.passingExpected += q;
  f.passingVariance += q * (1 - q);
}

// Small random files, every figure computed block by block from the
// enumerated laws (the ones and the deviation) or value by value with exact
// p-values (the other statistics), and the whole file's runs bit by bit; and
// the same file as two summaries merged.
TEST(FileSummaryTest, FiguresOfSmallFilesAgainstADirectComputation) {
  // Every statistic there is, judged by default or not.
  const auto every = lumbra::allStatistics();
  std::mt19937 rng(3);
  for (int round = 0; round < 30; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    std::vector<unsigned char> bytes(1 + rng() % 60);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(round % 5 == 0 ? rng() % 2 * 0xff : rng());
    const std::uint64_t bits = 8 * bytes.size();
    SCOPED_TRACE("n " + std::to_string(n) + " bytes " + std::to_string(bytes.size()));

    StatisticLaws laws(every);
    lumbra::BlockMeter meter(n, lumbra::BlockMeter::line_budget, lumbra::blockReads(every));
    FileSummary whole(n, 0, every), front(n, 0, every), back(n, 0, every);
    const std::uint64_t blocks = (bits + static_cast<std::uint64_t>(n) - 1) / static_cast<std::uint64_t>(n);
    const std::uint64_t cut = rng() % (blocks + 1);
    StatisticFigures ones, dev;
    const auto statistics = every;
    std::vector<StatisticFigures> others(statistics.size());
    std::uint64_t plainRuns = 0;
    int lastBit = 0;
    std::vector<std::uint64_t> devObserved;
    std::vector<Enumerated> laws_by_m;
    for (int m = 0; m <= n; ++m) laws_by_m.emplace_back(m == 0 ? 1 : m);
    std::vector<lumbra::BlockShape> shapes;
    int lastLength = n;
    for (std::uint64_t i = 0; i < blocks; ++i) {
      const std::uint64_t at = i * static_cast<std::uint64_t>(n);
      const int m = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), bits - at));
      const lumbra::BlockShape shape = meter.shape(bytes.data() + at / 8, static_cast<int>(at % 8), m);
      const lumbra::BlockMeasure b{shape.ones, shape.deviation()};
      whole.add(m, shape);
      shapes.push_back(shape);
      lastLength = m;
      for (std::size_t s = 2; s < others.size(); ++s) add_block(others[s], *statistics[s], m, shape);
      plainRuns += shape.runs - (i > 0 && shape.firstBit == lastBit ? 1 : 0);
      lastBit = shape.lastBit;

      const Enumerated& e = laws_by_m[static_cast<std::size_t>(m)];
      const double po = e.pOnes(b.ones), pd = e.pDeviation(b.ones, b.deviation);
      ones.passing += passes(po);
      ++ones.binsObserved[static_cast<std::size_t>(bin_of(po))];
      dev.passing += passes(pd);
      ++dev.binsObserved[static_cast<std::size_t>(bin_of(pd))];
      if (devObserved.size() <= static_cast<std::size_t>(b.deviation))
        devObserved.resize(static_cast<std::size_t>(b.deviation) + 1, 0);
      ++devObserved[static_cast<std::size_t>(b.deviation)];
      double qo = 0, qd = 0;
      for (int k = 0; k <= m; ++k) {
        const double pk = e.withOnes(k) / std::ldexp(1.0, m);
        ones.binsExpected[static_cast<std::size_t>(bin_of(e.pOnes(k)))] += pk;
        if (passes(e.pOnes(k))) qo += pk;
      }
      for (int d = 0; d <= m; ++d) {
        const double pdd = e.blocks[static_cast<std::size_t>(b.ones)][static_cast<std::size_t>(d)] / e.withOnes(b.ones);
        if (pdd == 0) continue;
        dev.binsExpected[static_cast<std::size_t>(bin_of(e.pDeviation(b.ones, d)))] += pdd;
        if (passes(e.pDeviation(b.ones, d))) qd += pdd;
      }
      ones.passingExpected += qo;
      ones.passingVariance += qo * (1 - qo);
      dev.passingExpected += qd;
      dev.passingVariance += qd * (1 - qd);
    }
    // The parts a run at a time, in runs of random lengths.
    for (std::size_t at = 0; at < shapes.size();) {
      const std::size_t end = at < cut ? std::min<std::size_t>(cut, at + 1 + rng() % 5) : std::min(shapes.size(), at + 1 + rng() % 5);
      const int last = end == shapes.size() ? lastLength : n;
      (at < cut ? front : back).add(lumbra::MeasuredRun{at, std::span(shapes).subspan(at, end - at), n, last});
      at = end;
    }
    // The expected deviations, over the d seen, once all blocks are in.
    // Settled whole, or in parts on their own laws: the same counts.
    FileSummary merged = front;
    if (round % 2) {
      lumbra::StatisticLaws own(every);
      front.settle(own, 1);
      merged = front;
    }
    merged.merge(back);
    whole.settle(laws, 3);
    merged.settle(laws, 1);
    for (const FileSummary* s : {&whole, &merged}) {
      EXPECT_EQ(s->blockCount(), blocks);
      EXPECT_EQ(s->bits(), bits);
      expect_figures(s->onesFigures(laws), ones);
      expect_figures(s->deviationFigures(laws), dev);
      for (std::size_t st = 2; st < others.size(); ++st) {
        SCOPED_TRACE(std::string(statistics[st]->name()));
        expect_figures(s->figures(laws, st), others[st]);
      }
      EXPECT_EQ(s->deviationsObserved(), devObserved);
      EXPECT_EQ(s->fileBits().runs, plainRuns);
    }
    std::vector<double> want(devObserved.size(), 0);
    for (std::uint64_t i = 0; i < blocks; ++i) {
      const std::uint64_t at = i * static_cast<std::uint64_t>(n);
      const int m = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), bits - at));
      const int k = meter.shape(bytes.data() + at / 8, static_cast<int>(at % 8), m).ones;
      const Enumerated& e = laws_by_m[static_cast<std::size_t>(m)];
      for (std::size_t d = 0; d < want.size() && d <= static_cast<std::size_t>(m); ++d)
        want[d] += e.blocks[static_cast<std::size_t>(k)][d] / e.withOnes(k);
    }
    const std::vector<double> got = whole.deviationsExpected(laws);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t d = 0; d < want.size(); ++d) EXPECT_NEAR(got[d], want[d], 1e-9 * want[d] + 1e-12);
    EXPECT_EQ(merged.deviationsExpected(laws), got);
  }
}

// Groups close at an expected 5; the last one below 5 joins the one before.
// With 30 blocks of one law the statistic is Pearson's.
TEST(FileSummaryTest, JudgeGroupsBinsAndDerivesTheVerdict) {
  StatisticFigures f;
  f.binsExpected = {2, 3, 4, 1, 10, 0.5, 0.5, 6, 1, 2};
  f.binsObserved = {1, 2, 6, 2, 7, 1, 0, 9, 0, 2};
  lumbra::BinArray q{};
  for (std::size_t b = 0; b < q.size(); ++b) q[b] = f.binsExpected[b] / 30;
  lumbra::addTrialsCovariance(f.binsCovariance, 30, q);
  f.passing = 28;
  f.passingExpected = 25;
  f.passingVariance = 4;
  const lumbra::Verdict v = lumbra::judge(f);
  // groups (bins 0-1 | 2-3 | 4 | 5-7, with 8-9 joined): expected 5, 5, 10,
  // 10; observed 3, 8, 7, 12
  const double chi2 = 4.0 / 5 + 9.0 / 5 + 9.0 / 10 + 4.0 / 10;
  ASSERT_TRUE(v.chi2 && v.dof && v.pValue && v.passingZ);
  EXPECT_NEAR(*v.chi2, chi2, 1e-12);
  EXPECT_EQ(*v.dof, 3);
  EXPECT_NEAR(*v.pValue, lumbra::chiSquareUpperTail(chi2, 3), 1e-12);
  EXPECT_DOUBLE_EQ(v.passingSd, 2);
  EXPECT_DOUBLE_EQ(*v.passingZ, 1.5);

  // One group only (everything expected below 5 after the first): no statistic.
  f.binsExpected = {6, 1, 1, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_FALSE(lumbra::judge(f).chi2);
  EXPECT_FALSE(lumbra::judge(StatisticFigures{}).passingZ);
}

}  // namespace
