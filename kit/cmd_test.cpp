// lumbra-kit test FILE: the verdict on a whole file, from the p-values of
// its blocks.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "block_meter.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "test_summary.h"

namespace lumbra::kit {

namespace {

struct TestArgs {
  int n = default_block_size;
  std::string format;
  std::string file;
  double failBelow = -1;  // < 0: not asked for
};

struct Judged {
  StatisticFigures figures;
  Verdict verdict;
};

nlohmann::ordered_json optional(const std::optional<double>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json toJson(const Judged& j) {
  const StatisticFigures& f = j.figures;
  const Verdict& v = j.verdict;
  nlohmann::ordered_json t;
  t["passing"] = f.passing;
  t["passing_expected"] = f.passingExpected;
  t["passing_variance"] = f.passingVariance;
  t["passing_sd"] = v.passingSd;
  t["passing_z"] = optional(v.passingZ);
  t["bins_observed"] = f.binsObserved;
  t["bins_expected"] = f.binsExpected;
  t["chi2"] = optional(v.chi2);
  t["dof"] = v.dof ? nlohmann::ordered_json(*v.dof) : nlohmann::ordered_json(nullptr);
  t["p_value"] = optional(v.pValue);
  return t;
}

std::string printf_text(const char* spec, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, spec, v);
  return buf;
}

// A p-value for people: three digits; below the doubles, a bound.
std::string p_text(double p) { return p > 0 ? printf_text("%.3g", p) : "<1e-307"; }

// What a p-value says, in words.
std::string plain_words(const Verdict& v, const char* what) {
  if (!v.pValue) return std::string("too few blocks to judge ") + what;
  const double p = *v.pValue;
  const std::string ps = p > 0 ? " (p = " + p_text(p) + ")" : " (p < 1e-307)";
  if (p >= 0.01) return std::string(what) + " looks random" + ps;
  if (p >= 1e-4) return std::string(what) + " is suspicious" + ps;
  return std::string(what) + " is not random" + ps;
}

std::string text_row(const char* name, const Judged& j) {
  const StatisticFigures& f = j.figures;
  const Verdict& v = j.verdict;
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-10s %12llu %14.1f %8s %10s %4s %10s\n", name,
                static_cast<unsigned long long>(f.passing), f.passingExpected,
                v.passingZ ? printf_text("%.2f", *v.passingZ).c_str() : "-",
                v.chi2 ? printf_text("%.2f", *v.chi2).c_str() : "-",
                v.dof ? std::to_string(*v.dof).c_str() : "-",
                v.pValue ? p_text(*v.pValue).c_str() : "-");
  return buf;
}

int runTest(const TestArgs& a) {
  Input in(a.file);
  Laws laws;
  BlockMeter meter(a.n);
  TestSummary s(a.n);
  auto add = [&](int m, BlockMeasure b) { s.add(laws, m, b.ones, b.deviation); };
  forEachPiece(in, a.n, [&](const unsigned char* bytes, std::uint64_t blocks, int lastBits) {
    measureBlocks(meter, bytes, 0, a.n, blocks, add);
    if (lastBits > 0) {
      const std::uint64_t bit = blocks * static_cast<std::uint64_t>(a.n);
      add(lastBits, meter.measure(bytes + bit / 8, static_cast<int>(bit % 8), lastBits));
    }
  });

  Judged ones{s.onesFigures(laws), {}}, dev{s.deviationFigures(laws), {}};
  ones.verdict = judge(ones.figures);
  dev.verdict = judge(dev.figures);

  Output out;
  if (a.format == "json") {
    nlohmann::ordered_json j;
    j["block_size"] = a.n;
    j["first_block"] = s.firstBlock();
    j["block_count"] = s.blockCount();
    j["blocks"] = s.blockCount();
    j["bits"] = s.bits();
    j["ones"] = s.ones();
    j["ones_test"] = toJson(ones);
    j["deviation_test"] = toJson(dev);
    j["deviations"] = {{"observed", s.deviationsObserved()}, {"expected", s.deviationsExpected(laws)}};
    out << j.dump() << '\n';
  } else if (s.blockCount() == 0) {
    out << "blocks      0 of " << std::to_string(a.n) << " bits\n"
        << "nothing to judge: " << in.name() << " is empty\n";
  } else {
    out << "blocks      " << std::to_string(s.blockCount()) << " of " << std::to_string(a.n) << " bits ("
        << std::to_string(s.bits()) << " bits, "
        << printf_text("%.6f", static_cast<double>(s.ones()) / static_cast<double>(s.bits())) << " of them ones)\n"
        << "              passing       expected        z       chi2  dof    p-value\n"
        << text_row("ones", ones) << text_row("deviation", dev)
        << "ones:      " << plain_words(ones.verdict, "the balance of ones and zeros") << '\n'
        << "deviation: " << plain_words(dev.verdict, "the arrangement of the bits") << '\n';
  }
  out.flush();
  if (a.failBelow >= 0) {
    for (const Judged* j : {&ones, &dev})
      if (j->verdict.pValue && *j->verdict.pValue < a.failBelow) return status_verdict;
  }
  return status_ok;
}

}  // namespace

void addTestCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<TestArgs>();
  CLI::App* cmd = app.add_subcommand("test", "The verdict on a whole file: do its blocks look random?");
  cmd->description(
      "Cuts FILE into blocks of N bits as `blocks` does and judges the file by two statistics of\n"
      "its blocks: the ones (p_ones, the balance of the bits) and the deviation (p_deviation, the\n"
      "arrangement of the bits given their balance). For each:\n"
      "  passing   the blocks whose p-value is at least 0.01, against its exact expectation (the\n"
      "            sum over the blocks of the probability to pass, since the p-values are\n"
      "            discrete), its standard deviation and the z-score;\n"
      "  bins      the p-values in ten bins [0, 0.1), ..., [0.9, 1] (decided exactly), against the\n"
      "            expected count of each bin;\n"
      "  chi2      the chi-square statistic of observed against expected counts over groups of\n"
      "            adjacent bins (from the lowest bin up, a group closes once its expected count\n"
      "            reaches 5; a last group below 5 joins the one before), its degrees of freedom\n"
      "            (groups - 1) and its p-value; none with fewer than two groups.\n"
      "A small chi-square p-value says the blocks' p-values are not spread as those of a random\n"
      "source are.");
  addBlockSizeOption(*cmd, args->n);
  addFormatOption(*cmd, args->format, {"text", "json"});
  cmd->add_option("--fail-below", args->failBelow,
                  "Exit with status 3 when either chi-square p-value is below A (0 to 1)")
      ->check(CLI::Range(0.0, 1.0))
      ->type_name("A");
  addFileArgument(*cmd, args->file);
  cmd->footer(
      "OUTPUT\n"
      "  text: the blocks and bits, a table of both statistics (passing, expected, z, chi2, dof,\n"
      "  p-value; '-' where there is none) and one line in plain words for each. An empty file\n"
      "  has nothing to judge.\n"
      "  json: one line {\"block_size\", \"first_block\", \"block_count\", \"blocks\", \"bits\", \"ones\",\n"
      "  \"ones_test\": T, \"deviation_test\": T, \"deviations\": {\"observed\": [blocks with deviation\n"
      "  d, d = 0 .. the largest], \"expected\": [their expectation]}}, each T with \"passing\",\n"
      "  \"passing_expected\", \"passing_variance\", \"passing_sd\", \"passing_z\", \"bins_observed\",\n"
      "  \"bins_expected\", \"chi2\", \"dof\", \"p_value\" (null where there is none). Sums are written\n"
      "  at full precision, so that the summaries of parts of a file can be added up.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a file that cannot be read,\n"
      "  output that cannot be written); 3 with --fail-below, a p-value below A.\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit test random.bin\n"
      "  generator | head -c 100000000 | lumbra-kit test --fail-below 0.001 -\n"
      "  lumbra-kit test -n 256 --format json random.bin\n");
  cmd->callback([args, &status] { status = runTest(*args); });
}

}  // namespace lumbra::kit
