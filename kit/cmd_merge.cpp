// lumbra-kit merge S1.json S2.json ...: the verdict on the union of slices of
// one file, from the JSON summaries that `test` wrote for each.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "reading/block_runs.h"
#include "commands.h"
#include "input.h"
#include "test_report.h"
#include "stats/test_summary.h"

namespace lumbra::kit {

namespace {

struct MergeArgs {
  std::vector<std::string> files;
  ReportOptions report;
};

struct Slice {
  std::string name;
  TestSummary s;
};

std::string blockRange(const TestSummary& s) {
  return std::to_string(s.firstBlock()) + ".." + std::to_string(s.firstBlock() + s.blockCount() - 1);
}

// nlohmann's texts start with "[json.exception.KIND.N] "; the rest says it.
std::string reason(const std::exception& e) {
  std::string s = e.what();
  const std::size_t close = s.rfind("] ", s.find(' '));
  return close == std::string::npos ? s : s.substr(close + 2);
}

// The summaries in `file`: one JSON value (perhaps over several lines), or
// several, one a line (the slices' outputs collected into one file).
void readSlices(const std::string& file, std::vector<Slice>& slices) {
  Input in(file);
  std::string text;
  std::vector<unsigned char> buf(std::size_t{64} * 1024);
  for (std::size_t got; (got = in.fill(buf.data(), buf.size())) > 0;) {
    text.append(reinterpret_cast<const char*>(buf.data()), got);
    if (got < buf.size()) break;
  }
  std::vector<std::pair<std::string, std::string>> parts;  // (name, text)
  if (nlohmann::json::accept(text)) {
    parts.emplace_back(in.name(), text);
  } else {
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size(); ++line) {
      std::size_t end = std::min(text.find('\n', at), text.size());
      std::string part = text.substr(at, end - at);
      at = end + 1;
      if (part.find_first_not_of(" \t\r") != std::string::npos)
        parts.emplace_back(in.name() + " line " + std::to_string(line + 1), std::move(part));
    }
  }
  if (parts.empty()) throw Failure(in.name() + ": no summary in it");
  for (const auto& [name, part] : parts) {
    try {
      slices.push_back({name, summaryFromJson(nlohmann::json::parse(part))});
    } catch (const nlohmann::json::parse_error& e) {
      throw Failure(name + ": not JSON: " + reason(e));
    } catch (const std::exception& e) {
      throw Failure(name + ": not a summary of `lumbra-kit test --format json`: " + reason(e));
    }
  }
}

int runMerge(const MergeArgs& a) {
  std::vector<Slice> slices;
  for (const std::string& f : a.files) readSlices(f, slices);
  const int n = slices.front().s.blockSize();
  for (const Slice& x : slices)
    if (x.s.blockSize() != n)
      throw Failure(slices.front().name + " has blocks of " + std::to_string(n) + " bits, " + x.name + " of " +
                    std::to_string(x.s.blockSize()) + ": slices of one file share one block size");
  // In file order; slices without blocks cover nothing.
  std::erase_if(slices, [](const Slice& x) { return x.s.blockCount() == 0; });
  std::stable_sort(slices.begin(), slices.end(),
                   [](const Slice& x, const Slice& y) { return x.s.firstBlock() < y.s.firstBlock(); });

  TestSummary u(n, slices.empty() ? 0 : slices.front().s.firstBlock());
  std::uint64_t next = u.firstBlock();
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const TestSummary& s = slices[i].s;
    if (s.firstBlock() < next)
      throw Failure(slices[i - 1].name + " (blocks " + blockRange(slices[i - 1].s) + ") and " + slices[i].name +
                    " (blocks " + blockRange(s) + ") overlap");
    if (s.firstBlock() > next) {
      std::fflush(stdout);
      std::fprintf(stderr, "lumbra-kit: warning: blocks %llu..%llu are in none of the summaries\n",
                   static_cast<unsigned long long>(next), static_cast<unsigned long long>(s.firstBlock() - 1));
    }
    next = s.firstBlock() + s.blockCount();
    u.merge(s);
  }
  Laws laws;
  const bool histogram = needsHistogram(a.report);
  u.settle(laws, std::min(max_threads, std::max(1u, std::thread::hardware_concurrency())), histogram);
  return printReport(reportOf(u, laws, histogram), a.report, "the summaries have no blocks");
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
