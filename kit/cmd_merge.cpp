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
  long long maxSeconds = -1;  // -1: no limit
};

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
  MergedSummary u = [&] {
    try {
      return mergeSummaries(slices, warn);
    } catch (const SummaryError& e) {
      throw Failure(e.what());
    }
  }();
  StatisticLaws laws(allStatistics());
  const bool histogram = needsHistogram(a.report);
  refuseCostlyLaws(u.summary, histogram, a.maxSeconds, a.files.size() == 1 ? a.files.front() : "the summaries");
  u.summary.settle(laws, std::min(max_threads, std::max(1u, std::thread::hardware_concurrency())), histogram);
  SummaryReport r = reportOf(u.summary, laws, histogram);
  r.fileBits = u.fileBits;
  r.ranges = u.ranges;
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
  cmd->add_option("--max-seconds", args->maxSeconds,
                  "Refuse summaries whose laws are estimated to take longer than S seconds on this\n"
                  "machine (status 2, before they are made)")
      ->type_name("S")
      ->transform(decimal(0, 1000000000));
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
