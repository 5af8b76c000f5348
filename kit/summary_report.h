// SummaryReport: the figures of a summary of some blocks of a file, and the
// forms `test` and `merge` print them in (text, JSON, the SVG picture) with
// the status that --fail-below asks for.
//
// A report is a plain value: for each statistic the summary holds, in the
// order of summaryStatistics(), its observed and expected figures, and the
// blocks of each shape they follow from; the verdicts (z, chi-square) are
// drawn from them when printed. Beside them the whole file's balance and
// runs, each judged by its exact p-value. The JSON form is read back as the summary
// it came from (summary_reader.h), so `merge` takes what `test` wrote.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "stats/file_summary.h"
#include "stats/least_p_windows.h"
#include "stats/sizes_verdict.h"
#include "stats/whole_file.h"

namespace CLI {
class App;
}

namespace lumbra::kit {

class AtomicOutput;

// Blocks first .. first + count - 1 of a file, count > 0.
struct BlockRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  bool operator==(const BlockRange&) const = default;
};

// One statistic of the blocks: its name (the JSON key), the words of its
// verdict line, its figures.
struct StatisticReport {
  std::string name;
  std::string subject;
  StatisticFigures figures;
};

// The whole file's two lines: its balance (when it has bits) and its runs
// (when the summary holds them), each an enclosed p-value.
struct WholeFileReport {
  std::optional<LogProbability> balance;
  std::optional<FileBits> bits;  // with the runs and end bits, when held
  std::optional<LogProbability> runs;
};

struct SummaryReport {
  int blockSize = 0;
  std::uint64_t firstBlock = 0;
  std::uint64_t blockCount = 0;
  std::uint64_t bits = 0;
  std::uint64_t ones = 0;
  std::vector<StatisticReport> tests;
  WholeFileReport wholeFile;
  std::vector<std::uint64_t> deviationsObserved;  // blocks with deviation d, d = 0..
  std::vector<double> deviationsExpected;         // the same length
  std::vector<std::array<std::uint64_t, 3>> shapes;  // (m, k, blocks), see FileSummary::Counts
  // What the figures cover: the file's size in bits, where known (a regular
  // file), and its blocks as ranges in file order, apart from each other.
  std::optional<std::uint64_t> fileBits;
  std::vector<BlockRange> ranges;
  std::string file;  // the input's name, for the picture's title (may be empty)
  // Where in the file the unusual blocks are, for the picture: empty when
  // not gathered (a merge of summaries, or no picture asked for).
  std::vector<LeastPWindows::Window> where;
};

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

// A chi-square p-value as text with `digits` significant digits (printf's
// %g): `p` itself, or, when it lies below the doubles' normal range, the
// upper tail of chi2 at dof worked out again in MPFR, so that a tiny value
// prints as such (1.23e-5000), never as 0.
std::string pValueText(double p, double chi2, int dof, int digits);
// The MPFR path of pValueText, for any chi2 > dof / 2 + 1.
// Times `factor`, for a p-value adjusted for several tests.
std::string chiSquareTailText(double chi2, int dof, int digits, unsigned factor = 1);

// What a statistic's verdict says in words: "looks random (p = 0.45)", "is
// suspicious ...", "is not random ..." after `what`; or, with no chi-square,
// why there is nothing to judge (the statistic cannot vary in such blocks:
// every p-value is 1; or its blocks' p-values are sure to fall in one bin;
// too few blocks for two groups of 5 expected).
std::string verdictWords(const Verdict& v, const BinArray& binsExpected, const std::string& what);

// Whether printing asks for the expected histogram of deviations (JSON,
// the picture): the text alone does not show it, and it costs the most.
bool needsHistogram(const ReportOptions& options);

// The report of a whole summary, settled with `laws`; its ranges the one of
// the summary's blocks, its file size unknown; without `histogram` its
// deviationsExpected stays empty.
SummaryReport reportOf(const FileSummary& s, StatisticLaws& laws, bool histogram = true);

// The JSON form: block_size, file_bits (null when unknown), first_block,
// block_count, ranges ([[first, count], ...]), blocks, bits, ones, tests
// ({"ones": T, "deviation": T, ...} by name), whole_file ({"balance": P,
// and with runs held "runs", "first_bit", "last_bit", "runs_test": P}),
// deviations (sums at full precision) and shapes, [[m, k, blocks], ...].
nlohmann::ordered_json toJson(const SummaryReport& r);

// A p-value of the whole file as text with `digits` significant digits,
// however small (1.23e-5000).
std::string logPText(const LogProbability& p, int digits);

// Prints `r` to standard output in the chosen format, then writes the
// picture if asked for (so that a picture that cannot be written never hides
// the verdict), and returns the status: status_verdict when a chi-square
// p-value or a whole-file p-value lies below --fail-below, else status_ok. With no blocks the text
// form says "nothing to judge: " and `nothing` ("FILE is empty"). `headed`:
// a heading line "file  NAME" before the text, a "file" key in the JSON, for
// one of several inputs. Throws Failure.
int printReport(const SummaryReport& r, const ReportOptions& options, const std::string& nothing, bool headed = false);

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
