// lumbra-kit merge S1.json S2.json ...: the verdict on the union of slices of
// one file, from the JSON summaries that `test` wrote for each.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "reading/block_runs.h"
#include "commands.h"
#include "options.h"
#include "summary_report.h"
#include "stats/file_summary.h"
#include "summary_reader.h"

namespace lumbra::kit {

namespace {

struct MergeArgs {
  std::vector<std::string> files;
  ReportOptions report;
};

std::string rangeText(const BlockRange& b) {
  return std::to_string(b.first) + ".." + std::to_string(b.first + b.count - 1);
}

void warn(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "lumbra-kit: warning: %s\n", what.c_str());
}

int runMerge(const MergeArgs& a) {
  ReportOptions report = a.report;
  openPlot(report);  // before any reading
  std::vector<ReadSummary> slices;
  for (const std::string& f : a.files)
    for (ReadSummary& s : readSummaryFile(f)) slices.push_back(std::move(s));
  const ReadSummary& head = slices.front();
  const int n = head.summary.blockSize();
  std::optional<std::uint64_t> fileBits;
  const ReadSummary* sized = nullptr;
  for (const ReadSummary& x : slices) {
    if (x.summary.blockSize() != n)
      throw Failure(head.name + " has blocks of " + std::to_string(n) + " bits, " + x.name + " of " +
                    std::to_string(x.summary.blockSize()) + ": slices of one file share one block size");
    if (!x.fileBits) continue;
    if (sized && *x.fileBits != *fileBits)
      throw Failure(sized->name + " is of a file of " + std::to_string(*fileBits) + " bits, " + x.name + " of one of " +
                    std::to_string(*x.fileBits) + ": slices of one file share its size");
    fileBits = x.fileBits;
    sized = &x;
  }

  // Every range of every summary, in file order: none may overlap another,
  // and a shorter block belongs to the last of them.
  struct Piece {
    BlockRange range;
    const ReadSummary* from;
  };
  std::vector<Piece> pieces;
  for (const ReadSummary& x : slices)
    for (const BlockRange& b : x.ranges) pieces.push_back({b, &x});
  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const Piece& p, const Piece& q) { return p.range.first < q.range.first; });
  std::vector<BlockRange> ranges;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const BlockRange& b = pieces[i].range;
    if (i > 0) {
      const Piece& p = pieces[i - 1];
      const std::uint64_t next = p.range.first + p.range.count;
      if (b.first < next)
        throw Failure(p.from->name + " (blocks " + rangeText(p.range) + ") and " + pieces[i].from->name + " (blocks " +
                      rangeText(b) + ") overlap");
      if (b.first > next) warn("blocks " + rangeText({next, b.first - next}) + " are in none of the summaries");
    }
    if (!ranges.empty() && ranges.back().first + ranges.back().count == b.first) ranges.back().count += b.count;
    else ranges.push_back(b);
  }
  for (const ReadSummary& x : slices) {
    const FileSummary::Counts c = x.summary.counts();
    const bool shorter = !c.shapes.empty() && c.shapes.front()[0] < static_cast<std::uint64_t>(n);
    if (shorter && x.ranges.back().first != pieces.back().range.first)
      throw Failure(x.name + " holds a shorter block, the last of a file, but other summaries hold blocks after it");
  }

  // Blocks apart from each other number below 2^64; their bits need not.
  std::uint64_t bits = 0;
  for (const ReadSummary& x : slices)
    if (__builtin_add_overflow(bits, x.summary.bits(), &bits))
      throw Failure("the summaries hold more than 2^64 bits together, more than any file");
  // In file order, so that the runs of the whole file meet at the seams.
  std::vector<const ReadSummary*> ordered;
  ordered.reserve(slices.size());
  for (const ReadSummary& x : slices) ordered.push_back(&x);
  std::stable_sort(ordered.begin(), ordered.end(), [](const ReadSummary* p, const ReadSummary* q) {
    return (p->ranges.empty() ? 0 : p->ranges.front().first) < (q->ranges.empty() ? 0 : q->ranges.front().first);
  });
  FileSummary u(n, ranges.empty() ? 0 : ranges.front().first, allStatistics());
  for (const ReadSummary* x : ordered) u.merge(x->summary);
  StatisticLaws laws(allStatistics());
  const bool histogram = needsHistogram(a.report);
  u.settle(laws, std::min(max_threads, std::max(1u, std::thread::hardware_concurrency())), histogram);
  SummaryReport r = reportOf(u, laws, histogram);
  r.fileBits = fileBits;
  r.ranges = ranges;
  return printReport(r, report, "the summaries have no blocks");
}

}  // namespace

void addMergeCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<MergeArgs>();
  CLI::App* cmd = app.add_subcommand("merge", "The verdict on slices of a file, judged apart, taken together");
  cmd->description(
      "Adds up the JSON summaries that `lumbra-kit test --first-block I --block-count C --format json`\n"
      "wrote for slices of one file (judged apart, on one machine or many) into the summary of\n"
      "their union, and prints it as `test` does. The expected figures follow from the merged\n"
      "counts as in one run, so the figures are those of one run over the union, to the last\n"
      "digit. The summaries may come in any order. They must share one block size and must not\n"
      "overlap; a gap between them is reported on standard error and left out. A SUMMARY file\n"
      "holds one summary, or several, one a line.");
  addReportOptions(*cmd, args->report);
  cmd->add_option("SUMMARY", args->files, "The summaries, each the output of `test --format json`; - reads standard input")
      ->required()
      ->check(fileName())
      ->type_name("");
  cmd->footer(
      "OUTPUT\n"
      "  As `lumbra-kit test`: text, json (first_block and block_count those of the union) and the\n"
      "  SVG picture of --plot.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a summary that cannot be\n"
      "  read or is not one, summaries with different block sizes or overlapping blocks, output\n"
      "  that cannot be written); 3 with --fail-below, a p-value below A.\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit test --first-block 0 --block-count 500000 --format json big.bin > s1.json\n"
      "  lumbra-kit test --first-block 500000 --format json big.bin > s2.json\n"
      "  lumbra-kit merge s1.json s2.json\n"
      "  parallel lumbra-kit test -q --first-block {} --block-count 100000 --format json big.bin \\\n"
      "    ::: 0 100000 200000 > slices.jsonl && lumbra-kit merge slices.jsonl\n");
  cmd->callback([args, &status] { status = runMerge(*args); });
}

}  // namespace lumbra::kit
