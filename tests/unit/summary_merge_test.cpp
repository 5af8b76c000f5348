// Summaries of slices, written as JSON and read back as `merge` reads them,
// merge into the summary of one run over the whole file: the same JSON byte
// for byte, for every statistic judged and the whole file's lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "reading/block_meter.h"
#include "stats/file_summary.h"
#include "summary_reader.h"
#include "summary_report.h"

namespace {

using lumbra::FileSummary;
using lumbra::StatisticLaws;

std::string jsonOf(const FileSummary& s, StatisticLaws& laws) {
  return lumbra::kit::toJson(lumbra::kit::reportOf(s, laws, true)).dump();
}

TEST(SummaryMergeTest, SlicesReadBackMergeIntoOneRun) {
  std::mt19937_64 rng(22);
  for (int round = 0; round < 40; ++round) {
    // Sizes on both sides of FileSummary::tally_limit.
    const int n = 1 + static_cast<int>(rng() % (round % 4 == 0 ? 400 : 40));
    // Random bytes, or sticky ones (long runs that cross blocks and seams).
    std::vector<unsigned char> bytes(1 + rng() % 300);
    unsigned char last = 0;
    for (unsigned char& b : bytes) b = last = static_cast<unsigned char>(round % 3 == 1 && rng() % 4 ? last : rng());
    const std::uint64_t bits = 8 * bytes.size();
    const std::uint64_t blocks = (bits + static_cast<std::uint64_t>(n) - 1) / static_cast<std::uint64_t>(n);
    std::vector<std::uint64_t> cuts{0, blocks};
    for (std::uint64_t c = rng() % 5; c > 0; --c) cuts.push_back(rng() % (blocks + 1));
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    SCOPED_TRACE("round " + std::to_string(round) + ": n " + std::to_string(n) + ", " + std::to_string(bits) +
                 " bits, " + std::to_string(cuts.size() - 1) + " slices");

    lumbra::BlockMeter meter(n);
    const auto all = lumbra::allStatistics();
    FileSummary whole(n, 0, all);
    std::vector<FileSummary> slices;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      slices.emplace_back(n, cuts[c], all);
      std::vector<lumbra::BlockShape> shapes;
      int lastLength = n;
      for (std::uint64_t i = cuts[c]; i < cuts[c + 1]; ++i) {
        const std::uint64_t at = i * static_cast<std::uint64_t>(n);
        const int m = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), bits - at));
        shapes.push_back(meter.shape(bytes.data() + at / 8, static_cast<int>(at % 8), m));
        whole.add(m, shapes.back());
        lastLength = m;
      }
      // The slice a run at a time, as `test` adds them.
      for (std::size_t at = 0; at < shapes.size();) {
        const std::size_t end = std::min(shapes.size(), at + 1 + rng() % 7);
        slices.back().add(lumbra::MeasuredRun{cuts[c] + at, std::span(shapes).subspan(at, end - at), n,
                                              end == shapes.size() ? lastLength : n});
        at = end;
      }
    }
    StatisticLaws laws(all);
    whole.settle(laws, 2);
    // Each slice judged on laws of its own, as another process would, and
    // read back from its JSON.
    std::vector<lumbra::kit::ReadSummary> read;
    for (FileSummary& s : slices) {
      StatisticLaws own(all);
      s.settle(own, 1);
      for (auto& r : lumbra::kit::readSummaries(jsonOf(s, own), "slice")) read.push_back(std::move(r));
    }
    ASSERT_EQ(read.size(), slices.size());
    FileSummary merged = read.front().summary;
    for (std::size_t i = 1; i < read.size(); ++i) merged.merge(read[i].summary);
    merged.settle(laws, 1);
    const std::string want = jsonOf(whole, laws);
    EXPECT_EQ(jsonOf(merged, laws), want);
    for (const auto& statistic : all)
      EXPECT_NE(want.find("\"" + std::string(statistic->name()) + "\":{"), std::string::npos) << statistic->name();
  }
}

}  // namespace
