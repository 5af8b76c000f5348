#include "lumbra/test_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "bridge.h"
#include "reading/block_runs.h"
#include "stats/file_summary.h"
#include "stats/sizes_verdict.h"
#include "stats/statistic.h"
#include "stats/walk_statistics.h"
#include "stats/whole_file.h"

namespace lumbra {

namespace {

StatisticTest statistic(const StatisticFigures& f) {
  const Verdict v = judge(f);
  StatisticTest t;
  t.passing = f.passing;
  t.passing_expected = f.passingExpected;
  t.passing_variance = f.passingVariance;
  t.passing_sd = v.passingSd;
  t.passing_z = v.passingZ;
  t.bins_observed = f.binsObserved;
  t.bins_expected = f.binsExpected;
  t.chi2 = v.chi2;
  t.dof = v.dof;
  t.p_value = v.pValue;
  return t;
}

FileProbability probability(const LogProbability& p) { return {p.estimate(), {p.lnLow, p.lnHigh}}; }

// The descriptor of an open file, closed when it goes.
class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw InputError("can't open " + path + ": " + std::strerror(errno));
  }
  ~File() { ::close(fd_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The statistics named (empty: the default ones), or ArgumentError.
std::span<const Statistic* const> chosen(const std::vector<std::string>& names) {
  std::string why;
  const auto statistics = names.empty() ? summaryStatistics() : namedStatistics(names, why);
  if (statistics.empty()) throw ArgumentError("statistics: " + why);
  return statistics;
}

unsigned workers(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  return std::min(threads, max_threads);
}

// The figures of s, settled with laws of its own (given back on return).
FileTest fileTest(FileSummary& s, std::span<const Statistic* const> statistics, unsigned threads, const File& file) {
  StatisticLaws laws(statistics);
  s.settle(laws, threads);
  FileTest t;
  t.block_size = s.blockSize();
  t.first_block = s.firstBlock();
  t.block_count = s.blockCount();
  t.blocks = s.blockCount();
  t.bits = s.bits();
  t.ones = s.ones();
  for (std::size_t i = 0; i < statistics.size(); ++i)
    t.tests.emplace_back(std::string(statistics[i]->name()), statistic(s.figures(laws, i)));
  t.ones_test = t.tests[ones_statistic].second;
  t.deviation_test = t.tests[deviation_statistic].second;
  if (s.bits() > 0) {
    const FileBits& f = s.fileBits();
    t.whole_file = {probability(balancePValue(f.bits, f.ones)), f.runs, f.firstBit, f.lastBit,
                    probability(runsPValue(f.bits, f.ones, f.runs))};
  }
  t.deviations_observed = s.deviationsObserved();
  t.deviations_expected = s.deviationsExpected(laws);
  t.shapes = s.counts().shapes;
  if (s.blockCount() > 0) t.ranges = {{s.firstBlock(), s.blockCount()}};
  struct stat st {};
  if (::fstat(file.fd(), &st) == 0 && S_ISREG(st.st_mode)) t.file_bits = 8 * static_cast<std::uint64_t>(st.st_size);
  return t;
}

}  // namespace

FileTest test_file(const std::string& path, int n, unsigned threads) {
  return test_file(path, n, threads, {});
}

FileTest test_file(const std::string& path, int n, unsigned threads, const std::vector<std::string>& names) {
  api::requireRange("N", n, 1, 4096);
  const auto statistics = chosen(names);
  threads = workers(threads);
  const File file(path);
  FileSummary s(n, 0, statistics);
  try {
    const int size[] = {n};
    measureRuns(file.fd(), n, {}, threads, [&](const MeasuredRun& r) { s.add(r); }, {},
                blockReads(statistics), summaryDigests(size, statistics));
  } catch (const std::system_error& e) {
    throw InputError("can't read " + path + ": " + e.code().message());
  }
  return fileTest(s, statistics, threads, file);
}

SizesTest test_sizes(const std::string& path, const std::vector<int>& sizes, unsigned threads,
                     const std::vector<std::string>& names) {
  if (sizes.empty()) throw ArgumentError("sizes: no block size");
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    api::requireRange("N", sizes[i], 1, 4096);
    if (std::find(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(i), sizes[i]) !=
        sizes.begin() + static_cast<std::ptrdiff_t>(i))
      throw ArgumentError("sizes: block size " + std::to_string(sizes[i]) + " is given twice");
  }
  const auto statistics = chosen(names);
  threads = workers(threads);
  const File file(path);
  std::vector<FileSummary> summaries;
  summaries.reserve(sizes.size());
  for (int n : sizes) summaries.emplace_back(n, 0, statistics);
  try {
    measureSizes(file.fd(), sizes, threads, [&](std::size_t i, const MeasuredRun& r) { summaries[i].add(r); }, {},
                 blockReads(statistics), summaryDigests(sizes, statistics));
  } catch (const std::system_error& e) {
    throw InputError("can't read " + path + ": " + e.code().message());
  }
  SizesTest t;
  t.block_sizes = sizes;
  std::vector<std::vector<Verdict>> verdicts(statistics.size());
  for (FileSummary& s : summaries) {
    t.summaries.push_back(fileTest(s, statistics, threads, file));
    for (std::size_t i = 0; i < statistics.size(); ++i) {
      const StatisticTest& x = t.summaries.back().tests[i].second;
      verdicts[i].push_back({x.passing_sd, x.passing_z, x.chi2, x.dof, x.p_value});
    }
    s = FileSummary(s.blockSize(), 0, statistics);  // its blocks' counts are no longer needed
  }
  t.verdict.reserve(statistics.size());
  for (std::size_t i = 0; i < statistics.size(); ++i) {
    const AcrossSizes a = acrossSizes(verdicts[i], sizes);
    SizesVerdict v;
    v.sizes_judged = a.judged;
    if (a.least.pValue) {
      v.p_value = a.adjusted();
      v.least_p_value = a.least.pValue;
      v.block_size = a.blockSize;
    }
    t.verdict.emplace_back(std::string(statistics[i]->name()), v);
  }
  return t;
}

}  // namespace lumbra
