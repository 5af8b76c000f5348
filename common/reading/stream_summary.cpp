#include "reading/stream_summary.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumbra {

namespace {

constexpr int keep_laws_up_to = 1024;

}  // namespace

StreamSummary::StreamSummary(int n, std::span<const Statistic* const> statistics, unsigned threads)
    : statistics_(statistics), threads_(std::max(1u, threads)), whole_(n, 0, statistics) {}

void StreamSummary::feed(const ReadBytes& read) {
  const int n = whole_.blockSize();
  const int sizes[] = {n};
  const ReadBytes counted = [&](unsigned char* p, std::size_t size) {
    const std::size_t got = read(p, size);
    bytes_ += got;
    return got;
  };
  measureWholeRuns(counted, n, whole_.blockCount(), waiting_, threads_,
                   [&](const MeasuredRun& r) { whole_.add(r); }, blockReads(statistics_),
                   summaryDigests(sizes, statistics_));
}

void StreamSummary::feed(std::span<const unsigned char> bytes) {
  std::size_t at = 0;
  feed([&](unsigned char* p, std::size_t size) {
    const std::size_t got = std::min(size, bytes.size() - at);
    if (got > 0) std::memcpy(p, bytes.data() + at, got);
    at += got;
    return got;
  });
}

FileSummary StreamSummary::summary(StatisticLaws& laws, bool histogram) {
  // NOTE: the laws' tables of values are kept from report to report where
  // they are small (32 (n + 1) bytes a law, n + 1 laws a statistic at most:
  // 33 MiB at n = 1024); made anew for every report, they cost a third of
  // the run's time at n = 1024.
  const bool keep = whole_.blockSize() <= keep_laws_up_to;
  whole_.settle(laws, threads_, histogram, {}, !keep);
  FileSummary s = whole_;
  const std::uint64_t bits = 8 * static_cast<std::uint64_t>(waiting_.bytes.size()) -
                             static_cast<std::uint64_t>(waiting_.offset);
  if (!waiting_.bytes.empty() && bits > 0) {
    // NOTE: bits < n here; the copy leaves room past them for the meter's
    // word reads.
    std::vector<unsigned char> tail(waiting_.bytes.size() + 8, 0);
    std::copy(waiting_.bytes.begin(), waiting_.bytes.end(), tail.begin());
    BlockMeter meter(whole_.blockSize(), BlockMeter::line_budget, blockReads(statistics_));
    s.add(static_cast<int>(bits), meter.shape(tail.data(), waiting_.offset, static_cast<int>(bits)));
    s.settle(laws, threads_, histogram, {}, !keep);
  }
  return s;
}

}  // namespace lumbra
