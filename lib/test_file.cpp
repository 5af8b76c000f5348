#include "lumbra/test_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <cstring>
#include <thread>

#include "bridge.h"
#include "guard.h"
#include "reading/block_runs.h"
#include "reading/stream_summary.h"
#include "stats/file_summary.h"
#include "stats/laws_cost.h"
#include "stats/summary_json.h"
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

// The library's value of a report (the one schema's, stats/summary_json.h).
FileTest fileTestOf(const SummaryReport& r) {
  FileTest t;
  t.block_size = r.blockSize;
  t.file_bits = r.fileBits;
  t.first_block = r.firstBlock;
  t.block_count = r.blockCount;
  t.blocks = r.blockCount;
  t.bits = r.bits;
  t.ones = r.ones;
  for (const StatisticReport& s : r.tests) t.tests.emplace_back(s.name, statistic(s.figures));
  for (const auto& [name, test] : t.tests) {
    if (name == "ones") t.ones_test = test;
    if (name == "deviation") t.deviation_test = test;
  }
  if (r.wholeFile.balance) t.whole_file.balance = probability(*r.wholeFile.balance);
  if (r.wholeFile.bits) {
    t.whole_file.runs = r.wholeFile.bits->runs;
    t.whole_file.first_bit = r.wholeFile.bits->firstBit;
    t.whole_file.last_bit = r.wholeFile.bits->lastBit;
  }
  if (r.wholeFile.runs) t.whole_file.runs_test = probability(*r.wholeFile.runs);
  t.deviations_observed = r.deviationsObserved;
  t.deviations_expected = r.deviationsExpected;
  t.shapes = r.shapes;
  for (const BlockRange& b : r.ranges) t.ranges.push_back({b.first, b.count});
  return t;
}

// The size in bits of the regular file open at fd, if it is one.
std::optional<std::uint64_t> regularBits(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return 8 * static_cast<std::uint64_t>(st.st_size);
  return std::nullopt;
}

// The figures of s, settled with laws of its own (given back on return).
FileTest fileTest(FileSummary& s, std::span<const Statistic* const> statistics, unsigned threads, const File& file,
                  const std::string& path) {
  // What the laws of a crafted file would take is refused before they are made.
  const std::string why = lawsRefusal(s.lawsCost(true), path, -1);
  if (!why.empty()) throw ResourceError(why);
  StatisticLaws laws(statistics);
  s.settle(laws, threads);
  SummaryReport r = reportOf(s, laws);
  r.fileBits = regularBits(file.fd());
  return fileTestOf(r);
}

}  // namespace

FileTest test_file(const std::string& path, int n, unsigned threads) {
  return test_file(path, n, threads, {});
}

namespace {

// The caller's stop, asked where a long test can give up: Cancelled once it
// says so.
void askStop(const std::function<bool()>& stop) {
  if (stop && stop()) throw Cancelled("the test was stopped");
}

}  // namespace

FileTest test_file(const std::string& path, int n, unsigned threads, const std::vector<std::string>& names,
                   const std::function<bool()>& stop) {
  return test_file(path, n, threads, names, 0, std::nullopt, stop);
}

FileTest test_file(const std::string& path, int n, unsigned threads, const std::vector<std::string>& names,
                   std::uint64_t first_block, std::optional<std::uint64_t> block_count,
                   const std::function<bool()>& stop) {
  return api::guarded([&]() -> FileTest {
    api::requireRange("N", n, 1, 4096);
    const auto statistics = chosen(names);
    threads = workers(threads);
    // NOTE: a slice whose first bit lies beyond 2^64 bits lies beyond any
    // file, as lumbra-kit refuses it.
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(n);
    if (first_block > most || (block_count && *block_count > most - first_block))
      throw ArgumentError("first_block " + std::to_string(first_block) +
                          (block_count ? " block_count " + std::to_string(*block_count) : std::string()) +
                          ": blocks of " + std::to_string(n) + " bits that reach past 2^64 bits, where no input goes");
    const File file(path);
    FileSummary s(n, first_block, statistics);
    try {
      const int size[] = {n};
      const BlockProgress asked = [&stop](std::uint64_t, std::uint64_t) { askStop(stop); };
      measureRuns(file.fd(), n, {first_block, block_count.value_or(most - first_block)}, threads,
                  [&](const MeasuredRun& r) { s.add(r); }, stop ? asked : BlockProgress(), blockReads(statistics),
                  summaryDigests(size, statistics));
    } catch (const ReadError& e) {
      throw InputError("can't read " + path + ": " + e.code().message());
    }
    askStop(stop);
    return fileTest(s, statistics, threads, file, path);
  });
}

SizesTest test_sizes(const std::string& path, const std::vector<int>& sizes, unsigned threads,
                     const std::vector<std::string>& names, const std::function<bool()>& stop) {
  return api::guarded([&]() -> SizesTest {
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
      const BlockProgress asked = [&stop](std::uint64_t, std::uint64_t) { askStop(stop); };
      measureSizes(file.fd(), sizes, threads, [&](std::size_t i, const MeasuredRun& r) { summaries[i].add(r); },
                   stop ? asked : BlockProgress(), blockReads(statistics), summaryDigests(sizes, statistics));
    } catch (const ReadError& e) {
      throw InputError("can't read " + path + ": " + e.code().message());
    }
    SizesTest t;
    t.block_sizes = sizes;
    std::vector<std::vector<Verdict>> verdicts(statistics.size());
    for (FileSummary& s : summaries) {
      askStop(stop);
      t.summaries.push_back(fileTest(s, statistics, threads, file, path));
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
  });
}

}  // namespace lumbra

namespace lumbra {

FileTest test_bytes(const void* data, std::size_t size, int n, unsigned threads,
                    const std::vector<std::string>& statistics) {
  return api::guarded([&]() -> FileTest {
    Tester t(n, statistics, threads);
    t.update(data, size);
    return t.summary();
  });
}

struct Tester::State {
  std::span<const Statistic* const> statistics;
  StatisticLaws laws;
  StreamSummary stream;
  State(int n, std::span<const Statistic* const> s, unsigned threads)
      : statistics(s), laws(s), stream(n, s, threads) {}
};

Tester::Tester(int n, const std::vector<std::string>& statistics, unsigned threads) {
  api::guarded([&] {
    api::requireRange("N", n, 1, 4096);
    state_ = std::make_unique<State>(n, chosen(statistics), workers(threads));
  });
}

Tester::~Tester() = default;
Tester::Tester(Tester&&) noexcept = default;
Tester& Tester::operator=(Tester&&) noexcept = default;

void Tester::update(const void* data, std::size_t size) {
  api::guarded([&] { state_->stream.feed(std::span<const unsigned char>(static_cast<const unsigned char*>(data), size)); });
}

std::uint64_t Tester::bytes() const { return state_->stream.bytes(); }

FileTest Tester::summary() {
  return api::guarded([&]() -> FileTest {
    const FileSummary s = state_->stream.summary(state_->laws);
    SummaryReport r = reportOf(s, state_->laws);
    r.fileBits = 8 * state_->stream.bytes();
    return fileTestOf(r);
  });
}

FileTest merge(const std::vector<std::string>& summaries, const std::vector<std::string>& names, unsigned threads) {
  if (summaries.empty()) throw ArgumentError("summaries: none to merge");
  if (!names.empty() && names.size() != summaries.size())
    throw ArgumentError("names: " + std::to_string(names.size()) + " names for " + std::to_string(summaries.size()) +
                        " summaries");
  std::vector<ReadSummary> slices;
  MergedSummary u{FileSummary(1), std::nullopt, {}};
  try {
    for (std::size_t i = 0; i < summaries.size(); ++i)
      for (ReadSummary& s : readSummaries(summaries[i], names.empty() ? "summary " + std::to_string(i + 1) : names[i]))
        slices.push_back(std::move(s));
    u = mergeSummaries(slices);
  } catch (const SummaryError& e) {
    throw InputError(e.what());
  }
  return api::guarded([&]() -> FileTest {
    // What the laws of a crafted summary would take is refused before they are made.
    const std::string why = lawsRefusal(u.summary.lawsCost(true), "the summaries", -1);
    if (!why.empty()) throw ResourceError(why);
    StatisticLaws laws(allStatistics());
    u.summary.settle(laws, workers(threads));
    SummaryReport r = reportOf(u.summary, laws);
    r.fileBits = u.fileBits;
    r.ranges = u.ranges;
    return fileTestOf(r);
  });
}

}  // namespace lumbra
