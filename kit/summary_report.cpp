#include "summary_report.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mpfr.h>

#include "app.h"
#include "options.h"
#include "output.h"
#include "atomic_output.h"
#include "stats/file_names.h"
#include "plot.h"

namespace lumbra::kit {

namespace {

struct Judged {
  StatisticFigures figures;
  Verdict verdict;
};

nlohmann::ordered_json optional(const std::optional<double>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

std::string printf_text(const char* conversion, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, conversion, v);
  return buf;
}

// A p-value for people: three digits.
std::string p_text(const Verdict& v) { return pValueText(*v.pValue, *v.chi2, *v.dof, 3); }

// A row of the table: the name in a column of 10 and the passing blocks
// right-aligned to the 23rd character; a longer name takes room from the
// number, so the columns after it stay where they are.
std::string text_row(const std::string& name, const Judged& j) {
  const StatisticFigures& f = j.figures;
  const Verdict& v = j.verdict;
  const int width = 12 - std::max(0, static_cast<int>(name.size()) - 10);
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-10s %*llu %14.1f %8s %10s %4s %10s\n", name.c_str(), std::max(width, 1),
                static_cast<unsigned long long>(f.passing), f.passingExpected,
                v.passingZ ? printf_text("%.2f", *v.passingZ).c_str() : "-",
                v.chi2 ? printf_text("%.2f", *v.chi2).c_str() : "-",
                v.dof ? std::to_string(*v.dof).c_str() : "-",
                v.pValue ? p_text(v).c_str() : "-");
  return buf;
}

}  // namespace

void addReportOptions(CLI::App& cmd, ReportOptions& options, bool plotDir) {
  addFormatOption(cmd, options.format, {"text", "json"});
  cmd.add_option("--fail-below", options.failBelow,
                 "Exit with status 3 when any statistic's chi-square p-value or a whole-file p-value is below A (0 to 1)")
      ->check(CLI::Validator(
          [](const std::string& v) {
            // NOTE: checked before CLI11 converts it, so by strtod, which
            // throws nothing: a word that is no number fails here too.
            char* end = nullptr;
            const double a = std::strtod(v.c_str(), &end);
            const bool ok = end != v.c_str() && *end == '\0' && a >= 0 && a <= 1;
            return ok ? std::string() : "A must be a number in 0..1, not '" + v + "'";
          },
          "0..1"))
      ->type_name("A");
  cmd.add_option("--plot", options.plot,
                 "Also draw the bins and the deviations as one self-contained SVG picture in FILE")
      ->check(fileName())
      ->type_name("FILE.svg");
  if (plotDir) {
    cmd.add_option("--plot-dir", options.plotDir,
                   "Draw one picture per input file in folder DIR, named after the file (NAME.svg)")
        ->type_name("DIR")
        ->excludes("--plot");
  }
  addForceFlag(cmd, options.force, "Let --plot replace an existing file");
}

std::string verdictWords(const Verdict& v, const BinArray& binsExpected, const std::string& what) {
  if (!v.pValue) {
    int bins = 0;
    for (double e : binsExpected) bins += e > 0;
    // NOTE: every block sure to fall in the top bin is every block's p-value
    // sure to be 1: where the p-values of ones or deviation are not all 1,
    // the least is at most 1/2 (ones of m >= 2 bits; deviations checked for
    // every (m, k) up to m = 160).
    if (bins == 1 && binsExpected[bin_count - 1] > 0)
      return what + " cannot vary in blocks like these: every block's p-value is 1, nothing to judge";
    if (bins <= 1) return "nothing to judge in " + what + ": every block's p-value is sure to fall in one bin";
    return "too few blocks to judge " + what + ": fewer than two groups of 5 expected";
  }
  const std::string ps = " (p = " + p_text(v) + ")";
  if (*v.pValue >= 0.01) return what + " looks random" + ps;
  if (*v.pValue >= 1e-4) return what + " is suspicious" + ps;
  return what + " is not random" + ps;
}

void refuseCostlyLaws(const FileSummary& s, bool histogram, long long maxSeconds, const std::string& name) {
  const std::string why = lawsRefusal(s.lawsCost(histogram), name, static_cast<double>(maxSeconds));
  if (!why.empty()) throw Failure(why);
}

void openPlot(ReportOptions& options) {
  if (!options.plot.empty()) options.plotOutput = std::make_shared<AtomicOutput>(options.plot, options.force);
}

bool needsHistogram(const ReportOptions& options) {
  return options.format == "json" || !options.plot.empty() || !options.plotDir.empty();
}

namespace {

// The words of a whole-file line.
std::string fileWords(const LogProbability& p, const std::string& what) {
  const std::string ps = " (p = " + logPText(p, 3) + ")";
  if (p.surelyAtLeast(0.01) || p.estimate() >= 0.01) return what + " looks random" + ps;
  if (p.estimate() >= 1e-4) return what + " is suspicious" + ps;
  return what + " is not random" + ps;
}

// "NAME:" padded to the verdict lines' column, `column` wide.
std::string label(const std::string& name, std::size_t column) {
  std::string s = name + ":";
  s.resize(std::max(column, s.size() + 1), ' ');
  return s;
}

// The column where the verdict lines' words start: past the longest of the
// statistics' "NAME: ", and at least where "file runs: " ends.
template <class Named>
std::size_t verdictColumn(const std::vector<Named>& statistics) {
  std::size_t column = 11;
  for (const Named& s : statistics) column = std::max(column, s.name.size() + 2);
  return column;
}

}  // namespace

namespace {

std::vector<Judged> judgeAll(const SummaryReport& r) {
  std::vector<Judged> judged;
  for (const StatisticReport& t : r.tests) judged.push_back({t.figures, judge(t.figures)});
  return judged;
}

// The blocks line and the table of a report with blocks.
void printTable(Output& out, const SummaryReport& r, const std::vector<Judged>& judged) {
  out << "blocks      " << std::to_string(r.blockCount) << " of " << std::to_string(r.blockSize) << " bits ("
      << std::to_string(r.bits) << " bits, "
      << printf_text("%.6f", static_cast<double>(r.ones) / static_cast<double>(r.bits)) << " of them ones)\n"
      << "              passing       expected        z       chi2  dof    p-value\n";
  for (std::size_t i = 0; i < judged.size(); ++i) out << text_row(r.tests[i].name, judged[i]);
}

// The whole file's verdict lines.
std::vector<VerdictLine> wholeFileLines(const SummaryReport& r) {
  std::vector<VerdictLine> lines;
  if (r.wholeFile.balance) lines.push_back({"balance", fileWords(*r.wholeFile.balance, "the balance of the whole file")});
  // NOTE: bits all alike have one run, whatever the order.
  if (r.wholeFile.runs)
    lines.push_back({"file runs", r.ones == 0 || r.ones == r.bits
                                      ? "the number of runs in the whole file cannot vary: every bit is alike, nothing to judge"
                                      : fileWords(*r.wholeFile.runs, "the number of runs in the whole file")});
  return lines;
}

void printWholeFile(Output& out, const SummaryReport& r, std::size_t column) {
  for (const VerdictLine& line : wholeFileLines(r)) out << label(line.label, column) << line.words << '\n';
}

// Whether a whole-file p-value lies below a.
// NOTE: the report's enclosures are the first that balanceAtLeast and
// runsAtLeast work out; where they settle it, they are not worked out again
// (a tenth of a second a report at 2^33 bits).
bool wholeFileBelow(const SummaryReport& r, double a) {
  const auto below = [a](const LogProbability& p, const auto& exactly) {
    if (p.surelyAtLeast(a)) return false;
    if (p.surelyBelow(a)) return true;
    return !exactly();
  };
  if (r.wholeFile.balance && below(*r.wholeFile.balance, [&] { return balanceAtLeast(r.bits, r.ones, a); }))
    return true;
  return r.wholeFile.runs &&
         below(*r.wholeFile.runs, [&] { return runsAtLeast(r.bits, r.ones, r.wholeFile.bits->runs, a); });
}

}  // namespace

int printReport(const SummaryReport& r, const ReportOptions& options, const std::string& nothing, bool headed) {
  const std::vector<Judged> judged = judgeAll(r);
  Output out;
  if (options.format == "json") {
    out << summaryJson(r, headed) << '\n';
  } else {
    if (headed) out << "file        " << r.file << '\n';
    if (r.blockCount == 0) {
      out << "blocks      0 of " << std::to_string(r.blockSize) << " bits\n"
          << "nothing to judge: " << nothing << '\n';
    } else {
      printTable(out, r, judged);
      const std::size_t column = verdictColumn(r.tests);
      for (std::size_t i = 0; i < judged.size(); ++i)
        out << label(r.tests[i].name, column)
            << verdictWords(judged[i].verdict, judged[i].figures.binsExpected, r.tests[i].subject) << '\n';
      printWholeFile(out, r, column);
    }
  }
  out.flush();
  if (options.plotOutput || !options.plot.empty()) {
    std::vector<VerdictLine> lines;
    if (r.blockCount > 0) {
      for (std::size_t i = 0; i < judged.size(); ++i)
        lines.push_back({r.tests[i].name, verdictWords(judged[i].verdict, judged[i].figures.binsExpected, r.tests[i].subject)});
      for (VerdictLine& line : wholeFileLines(r)) lines.push_back(std::move(line));
    }
    if (options.plotOutput) {
      options.plotOutput->put(plotSvg(toJson(r), r.file, r.where, lines));
      options.plotOutput->commit();
    } else {
      writePlot(toJson(r), options.plot, options.force, r.file, r.where, lines);
    }
  }
  return reportStatus(r, options.failBelow);
}

int reportStatus(const SummaryReport& r, double failBelow) {
  if (failBelow > 0) {
    for (const StatisticReport& t : r.tests) {
      const Verdict v = judge(t.figures);
      if (v.pValue && *v.pValue < failBelow) return status_verdict;
    }
    if (wholeFileBelow(r, failBelow)) return status_verdict;
  }
  return status_ok;
}

std::vector<SizesVerdict> acrossSizes(const std::vector<SummaryReport>& reports) {
  std::vector<int> sizes(reports.size());
  for (std::size_t i = 0; i < reports.size(); ++i) sizes[i] = reports[i].blockSize;
  std::vector<SizesVerdict> out;
  for (std::size_t t = 0; t < reports.front().tests.size(); ++t) {
    std::vector<Verdict> verdicts(reports.size());
    for (std::size_t i = 0; i < reports.size(); ++i) verdicts[i] = judge(reports[i].tests[t].figures);
    SizesVerdict a;
    static_cast<AcrossSizes&>(a) = lumbra::acrossSizes(verdicts, sizes);
    a.name = reports.front().tests[t].name;
    a.subject = reports.front().tests[t].subject;
    out.push_back(a);
  }
  return out;
}

std::string SizesVerdict::adjustedText(int digits) const {
  if (*least.pValue >= std::numeric_limits<double>::min())
    return printf_text(("%." + std::to_string(digits) + "g").c_str(), adjusted());
  return chiSquareTailText(*least.chi2, *least.dof, digits, static_cast<unsigned>(judged));
}

namespace {

std::string sizesWords(const SizesVerdict& a) {
  if (!a.least.pValue) return "nothing to judge in " + a.subject + " at these block sizes";
  const std::string ps = " (p = " + a.adjustedText(3) + ": " + p_text(a.least) + " at n = " +
                         std::to_string(a.blockSize) + ", times " + std::to_string(a.judged) + ")";
  const double p = a.adjusted();
  if (p >= 0.01) return a.subject + " looks random" + ps;
  if (p >= 1e-4) return a.subject + " is suspicious" + ps;
  return a.subject + " is not random" + ps;
}

nlohmann::ordered_json toJson(const SizesVerdict& a) {
  nlohmann::ordered_json j;
  j["p_value"] = a.least.pValue ? nlohmann::ordered_json(a.adjusted()) : nlohmann::ordered_json(nullptr);
  j["least_p_value"] = optional(a.least.pValue);
  j["block_size"] = a.least.pValue ? nlohmann::ordered_json(a.blockSize) : nlohmann::ordered_json(nullptr);
  j["sizes_judged"] = a.judged;
  return j;
}

}  // namespace

int printSizes(const std::vector<SummaryReport>& reports, const ReportOptions& options, const std::string& nothing,
               bool headed) {
  const SummaryReport& first = reports.front();
  const std::vector<SizesVerdict> verdicts = acrossSizes(reports);
  Output out;
  if (options.format == "json") {
    nlohmann::ordered_json head;
    if (headed) putFileName(head, first.file);
    head["block_sizes"] = nlohmann::ordered_json::array();
    for (const SummaryReport& r : reports) head["block_sizes"].push_back(r.blockSize);
    std::string text = head.dump();
    text.pop_back();
    text += ",\"summaries\":[";
    for (const SummaryReport& r : reports) text += summaryJson(r) + (&r == &reports.back() ? "]" : ",");
    nlohmann::ordered_json verdict = nlohmann::ordered_json::object();
    for (const SizesVerdict& a : verdicts) verdict[a.name] = toJson(a);
    std::string verdictText = verdict.dump();
    for (const SizesVerdict& a : verdicts) {
      if (!a.least.pValue || *a.least.pValue >= std::numeric_limits<double>::min()) continue;
      const std::size_t key = verdictText.find("\"" + a.name + "\":{");
      replaceJsonNumber(verdictText, key, "\"p_value\":", a.adjustedText(17));
      replaceJsonNumber(verdictText, key, "\"least_p_value\":", pValueText(*a.least.pValue, *a.least.chi2, *a.least.dof, 17));
    }
    out << text << ",\"verdict\":" << verdictText << "}\n";
  } else {
    if (headed) out << "file        " << first.file << '\n';
    if (first.blockCount == 0) {
      out << "blocks      0\n"
          << "nothing to judge: " << nothing << '\n';
    } else {
      for (const SummaryReport& r : reports) {
        printTable(out, r, judgeAll(r));
        out << '\n';
      }
      out << "over " << std::to_string(reports.size())
          << " block sizes (the least chi-square p-value, times the sizes that judged it):\n";
      const std::size_t column = verdictColumn(verdicts);
      for (const SizesVerdict& a : verdicts) out << label(a.name, column) << sizesWords(a) << '\n';
      printWholeFile(out, first, column);
    }
  }
  out.flush();
  return sizesStatus(reports, options.failBelow);
}

int sizesStatus(const std::vector<SummaryReport>& reports, double failBelow) {
  if (failBelow > 0) {
    for (const SizesVerdict& a : acrossSizes(reports))
      if (a.least.pValue && a.adjusted() < failBelow) return status_verdict;
    if (wholeFileBelow(reports.front(), failBelow)) return status_verdict;
  }
  return status_ok;
}

namespace {

// A size in bytes as the largest unit that holds it whole: "4 MiB",
// "1536 KiB", "1000 bytes".
std::string sizeText(std::uint64_t bytes) {
  static constexpr std::pair<int, const char*> units[] = {{40, "TiB"}, {30, "GiB"}, {20, "MiB"}, {10, "KiB"}};
  for (const auto& [shift, name] : units)
    if (bytes > 0 && bytes % (std::uint64_t{1} << shift) == 0)
      return std::to_string(bytes >> shift) + " " + name;
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace

int printDoublingLine(const std::vector<SummaryReport>& reports, std::uint64_t bytes, double failBelow) {
  // The least p-value: of each statistic's chi-square (adjusted over the
  // sizes when there are several) and of the whole file's balance and runs.
  std::optional<double> least;
  std::string leastText, where;
  const auto consider = [&](double p, const std::string& text, const std::string& what) {
    if (least && p >= *least) return;
    least = p;
    leastText = text;
    where = what;
  };
  const SummaryReport& first = reports.front();
  if (reports.size() == 1) {
    for (const StatisticReport& t : first.tests) {
      const Verdict v = judge(t.figures);
      if (v.pValue)
        consider(*v.pValue, p_text(v), t.name + ", n = " + std::to_string(first.blockSize));
    }
  } else {
    for (const SizesVerdict& a : acrossSizes(reports))
      if (a.least.pValue)
        consider(a.adjusted(), a.adjustedText(3), a.name + ", n = " + std::to_string(a.blockSize) + " of " +
                                                      std::to_string(reports.size()) + " sizes");
  }
  // NOTE: a whole-file p-value below the doubles' range counts as 0 here,
  // the least of all; its text stays its value.
  if (first.wholeFile.balance)
    consider(first.wholeFile.balance->estimate(), logPText(*first.wholeFile.balance, 3), "balance of the whole file");
  if (first.wholeFile.runs && first.ones != 0 && first.ones != first.bits)
    consider(first.wholeFile.runs->estimate(), logPText(*first.wholeFile.runs, 3), "runs of the whole file");
  const int status = reports.size() == 1 ? reportStatus(first, failBelow) : sizesStatus(reports, failBelow);
  Output out;
  out << sizeText(bytes) << ": ";
  if (!least) {
    out << "nothing to judge yet\n";
  } else {
    out << "least p = " << leastText << " (" << where << "): "
        << (status == status_verdict ? "not random" : *least < 0.01 ? "suspicious" : "looks random") << '\n';
  }
  out.flush();
  return status;
}

}  // namespace lumbra::kit
