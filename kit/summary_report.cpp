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
#include "names.h"
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

std::string pValueText(double p, double chi2, int dof, int digits) {
  if (p >= std::numeric_limits<double>::min()) return printf_text(("%." + std::to_string(digits) + "g").c_str(), p);
  return chiSquareTailText(chi2, dof, digits);
}

std::string chiSquareTailText(double chi2, int dof, int digits, unsigned factor) {
  // Q(a, x) = e^-x x^a / Gamma(a) times the continued fraction
  // 1 / (x + 1 - a - 1 (1 - a) / (x + 3 - a - 2 (2 - a) / (x + 5 - a - ...))),
  // a = dof / 2, x = chi2 / 2, evaluated from the back (x > a + 1 here, where
  // it converges in a few dozen terms); MPFR's exponents reach far below any
  // such tail.
  mpfr_t a, x, upper, t;
  mpfr_inits2(128, a, x, upper, t, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_si(a, dof, MPFR_RNDN);
  mpfr_div_2ui(a, a, 1, MPFR_RNDN);
  mpfr_set_d(x, chi2, MPFR_RNDN);
  mpfr_div_2ui(x, x, 1, MPFR_RNDN);
  mpfr_set_ui(upper, 0, MPFR_RNDN);
  for (long i = 200; i >= 1; --i) {
    // upper = -i (i - a) / (x + 2 i + 1 - a + upper)
    mpfr_add(upper, upper, x, MPFR_RNDN);
    mpfr_add_ui(upper, upper, static_cast<unsigned long>(2 * i + 1), MPFR_RNDN);
    mpfr_sub(upper, upper, a, MPFR_RNDN);
    mpfr_ui_sub(t, static_cast<unsigned long>(i), a, MPFR_RNDN);
    mpfr_mul_si(t, t, -i, MPFR_RNDN);
    mpfr_div(upper, t, upper, MPFR_RNDN);
  }
  mpfr_add(upper, upper, x, MPFR_RNDN);
  mpfr_add_ui(upper, upper, 1, MPFR_RNDN);
  mpfr_sub(upper, upper, a, MPFR_RNDN);
  mpfr_ui_div(upper, 1, upper, MPFR_RNDN);
  // times e^(a ln x - x - ln Gamma(a))
  mpfr_log(t, x, MPFR_RNDN);
  mpfr_mul(t, t, a, MPFR_RNDN);
  mpfr_sub(t, t, x, MPFR_RNDN);
  int sign = 0;
  mpfr_lgamma(a, &sign, a, MPFR_RNDN);
  mpfr_sub(t, t, a, MPFR_RNDN);
  mpfr_exp(t, t, MPFR_RNDN);
  mpfr_mul(upper, upper, t, MPFR_RNDN);
  mpfr_mul_ui(upper, upper, factor, MPFR_RNDN);
  char* text = nullptr;
  const int len = mpfr_asprintf(&text, ("%." + std::to_string(digits) + "Rg").c_str(), upper);
  std::string out = len > 0 ? std::string(text, static_cast<std::size_t>(len)) : std::string("0");
  if (text) mpfr_free_str(text);
  mpfr_clears(a, x, upper, t, static_cast<mpfr_ptr>(nullptr));
  return out;
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

void openPlot(ReportOptions& options) {
  if (!options.plot.empty()) options.plotOutput = std::make_shared<AtomicOutput>(options.plot, options.force);
}

bool needsHistogram(const ReportOptions& options) {
  return options.format == "json" || !options.plot.empty() || !options.plotDir.empty();
}

SummaryReport reportOf(const FileSummary& s, StatisticLaws& laws, bool histogram) {
  SummaryReport r;
  r.blockSize = s.blockSize();
  r.firstBlock = s.firstBlock();
  r.blockCount = s.blockCount();
  r.bits = s.bits();
  r.ones = s.ones();
  const auto statistics = laws.statistics();
  for (std::size_t i = 0; i < statistics.size(); ++i)
    if (s.holds(i))
      r.tests.push_back({std::string(statistics[i]->name()), std::string(statistics[i]->subject()), s.figures(laws, i)});
  if (s.bits() > 0) r.wholeFile.balance = balancePValue(s.bits(), s.ones());
  if (s.fileRunsHeld()) {
    r.wholeFile.bits = s.fileBits();
    if (s.bits() > 0) r.wholeFile.runs = runsPValue(s.bits(), s.ones(), s.fileBits().runs);
  }
  r.deviationsObserved = s.deviationsObserved();
  if (histogram) r.deviationsExpected = s.deviationsExpected(laws);
  r.shapes = s.counts().shapes;
  if (s.blockCount() > 0) r.ranges = {{s.firstBlock(), s.blockCount()}};
  return r;
}

std::string logPText(const LogProbability& p, int digits) {
  const double estimate = p.estimate();
  if (estimate >= std::numeric_limits<double>::min())
    return printf_text(("%." + std::to_string(digits) + "g").c_str(), estimate);
  // Below the doubles: the mantissa and the exponent from ln p.
  const double x = (p.lnLow + p.lnHigh) / 2 / std::log(10.0);
  double e = std::floor(x), mantissa = std::pow(10.0, x - e);
  if (mantissa >= 9.9999999) mantissa = 1, e += 1;
  return printf_text(("%." + std::to_string(std::max(0, digits - 1)) + "f").c_str(), mantissa) + "e" +
         printf_text("%.0f", e);
}

namespace {

nlohmann::ordered_json toJson(const LogProbability& p) {
  return {{"p_value", p.estimate()}, {"ln_p", {p.lnLow, p.lnHigh}}};
}

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

nlohmann::ordered_json toJson(const SummaryReport& r) {
  nlohmann::ordered_json j;
  j["block_size"] = r.blockSize;
  j["file_bits"] = r.fileBits ? nlohmann::ordered_json(*r.fileBits) : nlohmann::ordered_json(nullptr);
  j["first_block"] = r.firstBlock;
  j["block_count"] = r.blockCount;
  j["ranges"] = nlohmann::ordered_json::array();
  for (const BlockRange& b : r.ranges) j["ranges"].push_back({b.first, b.count});
  j["blocks"] = r.blockCount;
  j["bits"] = r.bits;
  j["ones"] = r.ones;
  nlohmann::ordered_json tests = nlohmann::ordered_json::object();
  for (const StatisticReport& t : r.tests) tests[t.name] = toJson(Judged{t.figures, judge(t.figures)});
  j["tests"] = tests;
  nlohmann::ordered_json file = nlohmann::ordered_json::object();
  file["balance"] = r.wholeFile.balance ? toJson(*r.wholeFile.balance) : nlohmann::ordered_json(nullptr);
  if (r.wholeFile.bits) {
    file["runs"] = r.wholeFile.bits->runs;
    file["first_bit"] = r.wholeFile.bits->firstBit;
    file["last_bit"] = r.wholeFile.bits->lastBit;
    file["runs_test"] = r.wholeFile.runs ? toJson(*r.wholeFile.runs) : nlohmann::ordered_json(nullptr);
  }
  j["whole_file"] = file;
  j["deviations"] = {{"observed", r.deviationsObserved}, {"expected", r.deviationsExpected}};
  j["shapes"] = r.shapes;
  return j;
}

namespace {

// Puts `value` in place of the number after the first `field` ("\"p_value\":")
// at or after `from` in JSON text: a value below the doubles' normal range
// is written as its value from MPFR, which no double holds.
void replaceNumber(std::string& text, std::size_t from, const std::string& field, const std::string& value) {
  const std::size_t at = text.find(field, from) + field.size();
  text.replace(at, text.find_first_of(",}", at) - at, value);
}

// The JSON text of `r` (with a first key "file" when `headed`).
std::string jsonText(const SummaryReport& r, const std::vector<Judged>& judged, bool headed) {
  nlohmann::ordered_json j;
  if (headed) putFileName(j, r.file);
  j.update(toJson(r));
  std::string text = j.dump();
  const std::size_t tests = text.find("\"tests\":{");
  for (std::size_t i = 0; i < judged.size(); ++i) {
    const Verdict& v = judged[i].verdict;
    if (!v.pValue || *v.pValue >= std::numeric_limits<double>::min()) continue;
    replaceNumber(text, text.find("\"" + r.tests[i].name + "\":{", tests), "\"p_value\":",
                  pValueText(*v.pValue, *v.chi2, *v.dof, 17));
  }
  // The same for the whole file's p-values, from their enclosures.
  const std::size_t file = text.find("\"whole_file\":{");
  const auto replaceFileP = [&](const char* key, const std::optional<LogProbability>& p) {
    if (!p || p->estimate() >= std::numeric_limits<double>::min()) return;
    replaceNumber(text, text.find(key, file), "\"p_value\":", logPText(*p, 4));
  };
  replaceFileP("\"balance\":{", r.wholeFile.balance);
  replaceFileP("\"runs_test\":{", r.wholeFile.runs);
  return text;
}

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
bool wholeFileBelow(const SummaryReport& r, double a) {
  if (r.wholeFile.balance && !balanceAtLeast(r.bits, r.ones, a)) return true;
  return r.wholeFile.runs && !runsAtLeast(r.bits, r.ones, r.wholeFile.bits->runs, a);
}

}  // namespace

int printReport(const SummaryReport& r, const ReportOptions& options, const std::string& nothing, bool headed) {
  const std::vector<Judged> judged = judgeAll(r);
  Output out;
  if (options.format == "json") {
    out << jsonText(r, judged, headed) << '\n';
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
  if (options.failBelow > 0) {
    for (const Judged& j : judged)
      if (j.verdict.pValue && *j.verdict.pValue < options.failBelow) return status_verdict;
    if (wholeFileBelow(r, options.failBelow)) return status_verdict;
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
    for (const SummaryReport& r : reports) text += jsonText(r, judgeAll(r), false) + (&r == &reports.back() ? "]" : ",");
    nlohmann::ordered_json verdict = nlohmann::ordered_json::object();
    for (const SizesVerdict& a : verdicts) verdict[a.name] = toJson(a);
    std::string verdictText = verdict.dump();
    for (const SizesVerdict& a : verdicts) {
      if (!a.least.pValue || *a.least.pValue >= std::numeric_limits<double>::min()) continue;
      const std::size_t key = verdictText.find("\"" + a.name + "\":{");
      replaceNumber(verdictText, key, "\"p_value\":", a.adjustedText(17));
      replaceNumber(verdictText, key, "\"least_p_value\":", pValueText(*a.least.pValue, *a.least.chi2, *a.least.dof, 17));
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
  if (options.failBelow > 0) {
    for (const SizesVerdict& a : verdicts)
      if (a.least.pValue && a.adjusted() < options.failBelow) return status_verdict;
    if (wholeFileBelow(first, options.failBelow)) return status_verdict;
  }
  return status_ok;
}

}  // namespace lumbra::kit
