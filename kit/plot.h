// plot: the picture of a test summary, one self-contained SVG.
//
// Three panels: for the ones and the deviation the ten bins of the blocks'
// probabilities as bars of observed counts, the expected counts as marks,
// with the chi-square p-value in the panel's title; then the histogram of
// the deviations d against its expectation. The verdicts of the other
// statistics are a line under the title. A fourth, when the run that drew
// it read the file itself (not a merge of summaries), shows where in the
// file the unusual blocks are: the least p-value of each window of blocks
// against its place, on a log scale. The SVG holds no
// script and refers to no file or font outside it (generic font families
// only), so any renderer shows it alone.
//
// The summary is the JSON value that `test --format json` prints (and
// `merge` too); the functions read it and keep nothing of it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "stats/least_p_windows.h"

namespace lumbra::kit {

using Windows = std::vector<LeastPWindows::Window>;

// The SVG text of `summary`, titled with the input's name `file` (none when
// empty), with the panel of `where` when it has any window. Throws
// nlohmann::json::exception when a key the picture needs is missing or has
// the wrong type.
std::string plotSvg(const nlohmann::json& summary, const std::string& file = "", const Windows& where = {});

// Writes plotSvg(summary, file, where) to `path` through AtomicOutput, so
// `path` is never half written. An existing file is replaced only when
// `replace`. Throws Failure (nothing left behind) when the file cannot be
// written or exists.
void writePlot(const nlohmann::json& summary, const std::string& path, bool replace, const std::string& file = "",
               const Windows& where = {});

}  // namespace lumbra::kit
