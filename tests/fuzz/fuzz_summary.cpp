// Fuzz target: the summary reader of `merge`, over arbitrary bytes and
// mutated real summaries. Every input is either refused with Failure, or
// accepted as summaries whose counts add up, checked here with 128-bit sums
// apart from the reader's own checks: blocks by shape, bits and ones by
// shape, bins of every statistic held and deviations, whole-file runs that
// such bits can have, ranges in order and apart that hold the
// blocks, at most one shorter block, and all of it within a file of
// file_bits where that is given; and summaries that merge hold in their
// union every statistic all of them hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app.h"
#include "summary_reader.h"

namespace {

__extension__ using u128 = unsigned __int128;

void require(bool ok) {
  if (!ok) std::abort();
}

void check(const lumbra::kit::ReadSummary& r) {
  const lumbra::FileSummary& s = r.summary;
  const lumbra::FileSummary::Counts c = s.counts();
  const u128 n = static_cast<u128>(s.blockSize());
  require(n >= 1 && n <= 4096);
  u128 blocks = 0, bits = 0, ones = 0, shorter = 0;
  for (const auto& [m, k, count] : c.shapes) {
    require(m >= 1 && m <= n && k <= m && count > 0);
    blocks += count;
    bits += static_cast<u128>(m) * count;
    ones += static_cast<u128>(k) * count;
    if (m < n) shorter += count;
  }
  require(blocks == c.blocks && bits == c.bits && ones == c.ones && shorter <= 1);
  for (const lumbra::FileSummary::Observed& o : c.statistics) {
    if (!o.held) continue;
    u128 inBins = 0;
    for (std::uint64_t b : o.bins) inBins += b;
    require(inBins == blocks && o.passing <= c.blocks);
  }
  require(c.statistics.size() >= 2 && c.statistics[0].held && c.statistics[1].held);
  u128 inDeviations = 0;
  for (std::uint64_t d : c.deviations) inDeviations += d;
  require(inDeviations == blocks && c.deviations.size() <= n + 1);
  if (c.file) {
    // Runs of ones and of zeros alternate, one bit each at least.
    const u128 runs = c.file->runs, zeros = bits - ones;
    require(c.file->bits == bits && c.file->ones == ones && runs <= bits);
    if (bits > 0) require(runs >= 1 && (runs + 1) / 2 <= (ones > zeros ? ones : zeros) && runs / 2 <= (ones < zeros ? ones : zeros));
  }
  u128 held = 0, end = 0;
  for (const lumbra::kit::BlockRange& b : r.ranges) {
    require(b.count > 0 && (held == 0 || b.first > end));
    end = static_cast<u128>(b.first) + b.count;
    require(end <= UINT64_MAX);
    held += b.count;
  }
  require(held == blocks);
  if (r.fileBits) require(end <= (static_cast<u128>(*r.fileBits) + n - 1) / n);
}

// The summaries accepted merge (where they do) into a union that holds every
// statistic all of them hold, the ones and the deviation always: a merge
// never prints a table with fewer statistics than its inputs declare.
void checkMerge(const std::vector<lumbra::kit::ReadSummary>& read) {
  if (read.empty()) return;
  std::optional<lumbra::MergedSummary> u;
  try {
    u = lumbra::mergeSummaries(read);
  } catch (const lumbra::SummaryError&) {
    return;
  } catch (const std::overflow_error&) {
    return;
  }
  const std::size_t count = lumbra::allStatistics().size();
  for (std::size_t s = 0; s < count; ++s) {
    bool all = true;
    for (const lumbra::kit::ReadSummary& r : read) all = all && r.summary.holds(s);
    require(u->summary.holds(s) == all);
  }
  require(u->summary.holds(0) && u->summary.holds(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const std::vector<lumbra::kit::ReadSummary> read =
        lumbra::kit::readSummaries(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    for (const lumbra::kit::ReadSummary& r : read) check(r);
    checkMerge(read);
  } catch (const lumbra::kit::Failure&) {
  }
  return 0;
}
