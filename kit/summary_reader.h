// summary_reader: the JSON summaries that `test --format json` (and `merge`)
// wrote, read back for `merge` without trusting them.
//
// Another program's output is input like any other: the text is read with
// limits (at most max_summary_bytes, values nested at most four deep, at
// most max_summary_values values), every number the summary is rebuilt from
// must be a whole number in range (no fraction, no sign, no exponent, no
// infinity), every array its length, and the counts must add up (blocks per
// shape against the blocks, bits and ones against the shapes, bins and
// deviations against the blocks, the ranges against the blocks, at most one
// shorter block and only at the end of the file, sums that cannot wrap).
// A "file" member must be text, and a "file_bytes" member the
// percent-encoded bytes of it (names.h). Summaries written before the file's size and the ranges were (first_block
// and block_count only) are read as one range of a file of unknown size.
//
// The values returned own everything; nothing is shared. Every refusal
// throws Failure with one line that names the file (and line).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stats/file_summary.h"
#include "summary_report.h"

namespace lumbra::kit {

// Far above what any real summary takes (some hundred KiB at n = 4096).
inline constexpr std::size_t max_summary_bytes = std::size_t{8} << 20;
inline constexpr std::size_t max_summary_values = 100000;

struct ReadSummary {
  std::string name;  // the file, and the line when it holds several
  FileSummary summary;
  std::optional<std::uint64_t> fileBits;
  std::vector<BlockRange> ranges;  // in file order, apart, their counts adding up to the blocks
};

// The summaries in `text`, read from `name`: one JSON value (perhaps over
// several lines) or several, one a line. Throws Failure.
std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name);

// The summaries in the file `file` ("-" standard input). Throws Failure.
std::vector<ReadSummary> readSummaryFile(const std::string& file);

}  // namespace lumbra::kit
