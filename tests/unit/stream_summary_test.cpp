#include "reading/stream_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "reading/block_meter.h"
#include "stats/summary_json.h"

namespace {

using lumbra::FileSummary;
using lumbra::StatisticLaws;

// The summary of `bytes` from a plain loop: each block measured alone, the
// last perhaps shorter, added in order.
FileSummary plainSummary(const std::vector<unsigned char>& bytes, int n,
                         std::span<const lumbra::Statistic* const> statistics) {
  std::vector<unsigned char> padded(bytes);
  padded.resize(bytes.size() + 8, 0);
  lumbra::BlockMeter meter(n, lumbra::BlockMeter::line_budget, lumbra::blockReads(statistics));
  FileSummary s(n, 0, statistics);
  const std::uint64_t bits = 8 * static_cast<std::uint64_t>(bytes.size());
  for (std::uint64_t at = 0; at < bits; at += static_cast<std::uint64_t>(n)) {
    const int m = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), bits - at));
    s.add(m, meter.shape(padded.data() + at / 8, static_cast<int>(at % 8), m));
  }
  return s;
}

// A stream fed in pieces of random lengths (none, one byte, a run's worth),
// asked for its summary between pieces, gives at every point the summary of
// the bytes fed so far, the report's JSON to the byte; for random block
// sizes, statistics and thread counts.
TEST(StreamSummary, PiecesOfAnyLengthGiveThePlainSummaryOfThePrefix) {
  std::mt19937_64 rng(37);
  for (int trial = 0; trial < 12; ++trial) {
    const int n = trial % 4 == 0 ? 1024 : static_cast<int>(rng() % 700) + 1;
    const auto statistics = trial % 3 == 0 ? lumbra::allStatistics() : lumbra::summaryStatistics();
    std::vector<unsigned char> bytes(rng() % 500000);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng() & (trial % 5 == 0 ? 0x0f : 0xff));
    lumbra::StreamSummary stream(n, statistics, static_cast<unsigned>(rng() % 3) + 1);
    StatisticLaws laws(statistics);
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t piece = std::min<std::size_t>(
          bytes.size() - at, rng() % 4 == 0 ? rng() % 3 : rng() % 2 == 0 ? rng() % 200 : rng() % 300000);
      stream.feed(std::span<const unsigned char>(bytes.data() + at, piece));
      at += piece;
      if (rng() % 4 != 0 && at != bytes.size()) continue;
      ASSERT_EQ(stream.bytes(), at);
      const std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
      FileSummary want = plainSummary(prefix, n, statistics);
      StatisticLaws ownLaws(statistics);
      want.settle(ownLaws, 1);
      const FileSummary got = stream.summary(laws);
      ASSERT_EQ(lumbra::summaryJson(lumbra::reportOf(got, laws)), lumbra::summaryJson(lumbra::reportOf(want, ownLaws)))
          << "n = " << n << ", " << at << " bytes";
    }
  }
}

}  // namespace
