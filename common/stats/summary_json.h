// summary_json: the one schema of a test's summary. SummaryReport is the
// value every front end gives (lumbra-kit test and merge, the library's
// test_file, the Python module); summaryJson() is its one writer and
// readSummaries() its one reader, so that what one prints another takes.
//
// A report is a plain value: for each statistic the summary holds, in the
// order of its list, its observed and expected figures, and the blocks of
// each shape they follow from; the verdicts (z, chi-square) are drawn from
// them when printed. Beside them the whole file's balance and runs, each
// judged by its exact p-value.
//
// The reader takes another program's output as input like any other: the
// text is read with limits (at most max_summary_bytes, values nested at most
// four deep, at most max_summary_values values), every number the summary is
// rebuilt from must be a whole number in range (no fraction, no sign, no
// exponent, no infinity), every array its length, and the counts must agree
// (FileSummary::restored: blocks per shape against the blocks, bits and ones
// against the shapes, bins, passing and deviations against the blocks and
// what their lengths allow; the ranges against the blocks, at most one
// shorter block and only at the end of the file, sums that cannot wrap).
// Every summary holds the ones and the deviation. Summaries written before
// the file's size and the ranges were (first_block and block_count only) are
// read as one range of a file of unknown size.
//
// Values own everything; nothing is shared. Refusals throw SummaryError
// with one line that names the summary (and line); nothing here prints.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "stats/file_summary.h"
#include "stats/least_p_windows.h"
#include "stats/whole_file.h"

namespace lumbra {

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

// The report of a whole summary, settled with `laws`; its ranges the one of
// the summary's blocks, its file size unknown; without `histogram` its
// deviationsExpected stays empty; without `wholeFile` so do its whole-file
// p-values (wholeFile.bits set where the runs are held), for wholeFileOf
// to fill in later, on another thread.
SummaryReport reportOf(const FileSummary& s, StatisticLaws& laws, bool histogram = true, bool wholeFile = true);

// The whole file's lines of a summary of these bits (with the runs when
// held): its balance and runs p-values. Safe from several threads at once.
WholeFileReport wholeFileOf(const FileBits& bits, bool runsHeld);

// The JSON form: block_size, file_bits (null when unknown), first_block,
// block_count, ranges ([[first, count], ...]), blocks, bits, ones, tests
// ({"ones": T, "deviation": T, ...} by name), whole_file ({"balance": P,
// and with runs held "runs", "first_bit", "last_bit", "runs_test": P}),
// deviations (sums at full precision) and shapes, [[m, k, blocks], ...].
// Its p-values are doubles (0 below their range); summaryJson() prints them.
nlohmann::ordered_json toJson(const SummaryReport& r);

// The JSON text of `r` on one line, as `lumbra-kit test --format json`
// prints it (a first key "file" when `headed`): toJson() with every p-value
// below the doubles' normal range written as its value (1.23e-5000).
std::string summaryJson(const SummaryReport& r, bool headed = false);

// A chi-square p-value as text with `digits` significant digits (printf's
// %g): `p` itself, or, when it lies below the doubles' normal range, the
// upper tail of chi2 at dof worked out again in MPFR, so that a tiny value
// prints as such (1.23e-5000), never as 0.
std::string pValueText(double p, double chi2, int dof, int digits);
// The MPFR path of pValueText, for any chi2 > dof / 2 + 1.
// Times `factor`, for a p-value adjusted for several tests.
std::string chiSquareTailText(double chi2, int dof, int digits, unsigned factor = 1);
// A p-value of the whole file as text with `digits` significant digits,
// however small (1.23e-5000).
std::string logPText(const LogProbability& p, int digits);
// Puts `value` in place of the number after the first `field` ("\"p_value\":")
// at or after `from` in JSON text.
void replaceJsonNumber(std::string& text, std::size_t from, const std::string& field, const std::string& value);

// A summary that is not one, or summaries that do not merge: what() is the
// whole line, naming the summary.
class SummaryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
// several lines) or several, one a line. Throws SummaryError.
std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name);

// The union of slices of one file: its summary (of every statistic all the
// slices hold, unsettled), the file's size where a slice knows it, and the
// ranges of blocks it holds.
struct MergedSummary {
  FileSummary summary;
  std::optional<std::uint64_t> fileBits;
  std::vector<BlockRange> ranges;
};

// Merges `slices` (at least one) in file order, whatever order they come
// in. Refuses, with SummaryError naming the slices, different block sizes,
// different file sizes, overlapping blocks, a shorter block with blocks
// after it, and more than 2^64 bits; calls `warn` with each gap between the
// slices ("blocks 10..19 are in none of the summaries"), which stays out.
MergedSummary mergeSummaries(const std::vector<ReadSummary>& slices,
                             const std::function<void(const std::string&)>& warn = {});

}  // namespace lumbra
