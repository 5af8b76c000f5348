// plot: the picture of a test summary, one self-contained SVG.
//
// Three panels: for the ones and the deviation the ten bins of the blocks'
// probabilities as bars of observed counts, the expected counts as marks,
// with the chi-square p-value in the panel's title; then the histogram of
// the deviations d against its expectation. The verdicts of the other
// statistics are a line under the title. The SVG holds no
// script and refers to no file or font outside it (generic font families
// only), so any renderer shows it alone.
//
// The summary is the JSON value that `test --format json` prints (and
// `merge` too); the functions read it and keep nothing of it.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace lumbra::kit {

// The SVG text of `summary`, titled with the input's name `file` (none when
// empty). Throws nlohmann::json::exception when a key the picture needs is
// missing or has the wrong type.
std::string plotSvg(const nlohmann::json& summary, const std::string& file = "");

// Writes plotSvg(summary, file) to `path` through AtomicOutput, so `path` is
// never half written. An existing file is replaced only when `replace`.
// Throws Failure (nothing left behind) when the file cannot be written or
// exists.
void writePlot(const nlohmann::json& summary, const std::string& path, bool replace, const std::string& file = "");

}  // namespace lumbra::kit
