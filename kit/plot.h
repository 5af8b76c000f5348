// plot: the picture of a test summary, one self-contained SVG.
//
// Under the title (the input's name shortened in the middle to fit) the
// verdict lines as the text form prints them, each statistic's and the whole
// file's. Then a panel for each statistic the summary holds: the ten bins
// of the blocks' p-values as bars of observed counts, the expected counts
// as marks, the verdict and chi-square in the panel's title; then the
// histogram of the deviations d against its expectation. A last panel, when
// the run that drew it read the file itself (not a merge of summaries),
// shows where in the file the unusual blocks are: the least p-value of each
// window of blocks, over every statistic judged, against its place, on a
// log scale. No text runs off the
// picture or over a bar: a text estimated wider than its room is set in a
// smaller font (and shortened in the middle below 7 pixels), legends sit
// above the plots. Names are bytes: what is not UTF-8
// and control bytes are shown as U+FFFD (names.h). The SVG holds no script
// and refers to no file or font outside it (generic font families only), so
// any renderer shows it alone.
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

// One verdict line: "ones", "the balance of ones and zeros looks random (p = 0.919)".
struct VerdictLine {
  std::string label;
  std::string words;
};

// The SVG text of `summary`, titled with the input's name `file` (none when
// empty), with the panel of `where` when it has any window and the table of
// `verdicts` when there are any. Throws
// nlohmann::json::exception when a key the picture needs is missing or has
// the wrong type.
std::string plotSvg(const nlohmann::json& summary, const std::string& file = "", const Windows& where = {},
                    const std::vector<VerdictLine>& verdicts = {});

// Writes plotSvg(summary, file, where) to `path` through AtomicOutput, so
// `path` is never half written. An existing file is replaced only when
// `replace`. Throws Failure (nothing left behind) when the file cannot be
// written or exists.
void writePlot(const nlohmann::json& summary, const std::string& path, bool replace, const std::string& file = "",
               const Windows& where = {}, const std::vector<VerdictLine>& verdicts = {});

}  // namespace lumbra::kit
