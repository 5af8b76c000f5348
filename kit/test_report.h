// TestReport: the figures of a test over some blocks of a file, and the
// forms `test` and `merge` print them in (text, JSON, the SVG picture) with
// the status that --fail-below asks for.
//
// A report is a plain value: the observed and expected figures and the
// blocks of each shape they follow from; the verdicts (z, chi-square) are
// drawn from them when printed. The JSON form is read back as the summary
// it came from (summary_reader.h), so `merge` takes what `test` wrote.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "stats/test_summary.h"

namespace CLI {
class App;
}

namespace lumbra::kit {

// Blocks first .. first + count - 1 of a file, count > 0.
struct BlockRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  bool operator==(const BlockRange&) const = default;
};

struct TestReport {
  int blockSize = 0;
  std::uint64_t firstBlock = 0;
  std::uint64_t blockCount = 0;
  std::uint64_t bits = 0;
  std::uint64_t ones = 0;
  StatisticFigures onesFigures;
  StatisticFigures deviationFigures;
  std::vector<std::uint64_t> deviationsObserved;  // blocks with deviation d, d = 0..
  std::vector<double> deviationsExpected;         // the same length
  std::vector<std::array<std::uint64_t, 3>> shapes;  // (m, k, blocks), see TestSummary::Counts
  // What the figures cover: the file's size in bits, where known (a regular
  // file), and its blocks as ranges in file order, apart from each other.
  std::optional<std::uint64_t> fileBits;
  std::vector<BlockRange> ranges;
};

struct ReportOptions {
  std::string format;
  double failBelow = -1;  // < 0: not asked for
  std::string plot;       // empty: no picture
  bool force = false;     // the picture may replace a file
};

// Adds --format text|json, --fail-below A, --plot FILE.svg and --force.
void addReportOptions(CLI::App& cmd, ReportOptions& options);

// The report of a whole summary, settled with `laws`; its ranges the one of
// the summary's blocks, its file size unknown.
TestReport reportOf(const TestSummary& s, Laws& laws);

// The JSON form: block_size, file_bits (null when unknown), first_block,
// block_count, ranges ([[first, count], ...]), blocks, bits, ones,
// ones_test, deviation_test, deviations (sums at full precision) and
// shapes, [[m, k, blocks], ...].
nlohmann::ordered_json toJson(const TestReport& r);

// Prints `r` to standard output in the chosen format, writes the picture if
// asked for, and returns the status: status_verdict when a chi-square
// p-value lies below --fail-below, else status_ok. With no blocks the text
// form says "nothing to judge: " and `nothing` ("FILE is empty"). Throws
// Failure.
int printReport(const TestReport& r, const ReportOptions& options, const std::string& nothing);

}  // namespace lumbra::kit
