// SummaryReport: the figures of a summary of some blocks of a file, and the
// forms `test` and `merge` print them in (text, JSON, the SVG picture) with
// the status that --fail-below asks for.
//
// A report is a plain value: for each statistic the summary holds, in the
// order of summaryStatistics(), its observed and expected figures, and the
// blocks of each shape they follow from; the verdicts (z, chi-square) are
// drawn from them when printed (stats/summary_json.h, whose JSON form `merge`
// reads back as the summary it came from).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "stats/file_summary.h"
#include "stats/sizes_verdict.h"
#include "stats/summary_json.h"

namespace CLI {
class App;
}

namespace lumbra::kit {

// The one value and JSON form of a summary live in common/stats/summary_json.h.
using lumbra::BlockRange;
using lumbra::StatisticReport;
using lumbra::SummaryReport;
using lumbra::WholeFileReport;
using lumbra::reportOf;
using lumbra::toJson;
using lumbra::pValueText;
using lumbra::chiSquareTailText;
using lumbra::logPText;

class AtomicOutput;

struct ReportOptions {
  std::string format;
  double failBelow = -1;  // < 0: not asked for
  std::string plot;       // empty: no picture
  std::string plotDir;    // one picture per input in this folder (NAME.svg)
  bool force = false;     // the picture may replace a file
  // The picture's destination, opened before the work (openPlot), so that
  // one that cannot be written fails the run before any reading.
  std::shared_ptr<AtomicOutput> plotOutput;
};

// Opens options.plot (when given) as options.plotOutput: an existing file
// without --force, a folder, or a folder that cannot be written fails here
// with Failure, before the work.
void openPlot(ReportOptions& options);

// Adds --format text|json, --fail-below A, --plot FILE.svg and --force, and
// with `plotDir` --plot-dir DIR (a command of several inputs).
void addReportOptions(CLI::App& cmd, ReportOptions& options, bool plotDir = false);

// What a statistic's verdict says in words: "looks random (p = 0.45)", "is
// suspicious ...", "is not random ..." after `what`; or, with no chi-square,
// why there is nothing to judge (the statistic cannot vary in such blocks:
// every p-value is 1; or its blocks' p-values are sure to fall in one bin;
// too few blocks for two groups of 5 expected).
std::string verdictWords(const Verdict& v, const BinArray& binsExpected, const std::string& what);

// Whether printing asks for the expected histogram of deviations (JSON,
// the picture): the text alone does not show it, and it costs the most.
bool needsHistogram(const ReportOptions& options);

// Refuses (Failure, one line naming the estimate and the limit), before
// any law is made, a summary whose laws would take longer than maxSeconds
// (-1: no limit) or more memory than the process can take: NAME is the
// file or the summaries it speaks of.
void refuseCostlyLaws(const FileSummary& s, bool histogram, long long maxSeconds, const std::string& name);

// Prints `r` to standard output in the chosen format, then writes the
// picture if asked for (so that a picture that cannot be written never hides
// the verdict), and returns the status: status_verdict when a chi-square
// p-value or a whole-file p-value lies below --fail-below, else status_ok. With no blocks the text
// form says "nothing to judge: " and `nothing` ("FILE is empty"). `headed`:
// a heading line "file  NAME" before the text, a "file" key in the JSON, for
// one of several inputs. Throws Failure.
int printReport(const SummaryReport& r, const ReportOptions& options, const std::string& nothing, bool headed = false);

// The status --fail-below A asks for of a report (status_verdict when a
// chi-square or a whole-file p-value lies below A > 0, else status_ok), and
// of the reports of one file at several sizes (by the adjusted p-values).
int reportStatus(const SummaryReport& r, double failBelow);
int sizesStatus(const std::vector<SummaryReport>& reports, double failBelow);

// One line of `test --doubling` in text: the size read ("4 MiB"), the least
// p-value with its statistic and block size (or the whole file's balance or
// runs), and the words: "not random" when the status is status_verdict,
// "suspicious" below 0.01, else "looks random". `reports`: the prefix at
// each block size. Returns the status as reportStatus or sizesStatus.
// Throws Failure.
int printDoublingLine(const std::vector<SummaryReport>& reports, std::uint64_t bytes, double failBelow);

// A statistic judged at several block sizes (see AcrossSizes), with its
// name and the words of its verdict line.
struct SizesVerdict : AcrossSizes {
  std::string name;
  std::string subject;
  // adjusted() as text with `digits` digits, however small.
  std::string adjustedText(int digits) const;
};

// The verdict of each statistic over the reports of one file at several
// block sizes (each holding the same statistics).
std::vector<SizesVerdict> acrossSizes(const std::vector<SummaryReport>& reports);

// Prints the reports of one file at several block sizes (at least two, in
// the order asked for) as printReport does one, and returns the status:
// text, each size's blocks line and table, then a verdict line for each
// statistic by its adjusted p-value (see SizesVerdict) and the whole file's
// lines; JSON, one line {"block_sizes": [...], "summaries": [the JSON of
// each size], "verdict": {NAME: {"p_value", "least_p_value", "block_size",
// "sizes_judged"}}}. --fail-below judges the adjusted p-values and the whole
// file's. Throws Failure.
int printSizes(const std::vector<SummaryReport>& reports, const ReportOptions& options, const std::string& nothing,
               bool headed = false);

}  // namespace lumbra::kit
