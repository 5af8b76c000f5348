// summary_reader: the JSON summaries that `test --format json` (and `merge`)
// wrote, read back for `merge` without trusting them: the one reader of
// stats/summary_json.h, its refusals as Failure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stats/summary_json.h"
#include "summary_report.h"

namespace lumbra::kit {

using lumbra::max_summary_bytes;
using lumbra::max_summary_values;
using lumbra::ReadSummary;

// The summaries in `text`, read from `name`: one JSON value (perhaps over
// several lines) or several, one a line. Throws Failure.
std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name);

// The summaries in the file `file` ("-" standard input). Throws Failure.
std::vector<ReadSummary> readSummaryFile(const std::string& file);

}  // namespace lumbra::kit
