#include "test_report.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mpfr.h>

#include "app.h"
#include "options.h"
#include "output.h"
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

std::string text_row(const char* name, const Judged& j) {
  const StatisticFigures& f = j.figures;
  const Verdict& v = j.verdict;
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-10s %12llu %14.1f %8s %10s %4s %10s\n", name,
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
                 "Exit with status 3 when either chi-square p-value is below A (0 to 1)")
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
  cmd.add_flag("--force", options.force, "Let --plot replace an existing file");
}

std::string pValueText(double p, double chi2, int dof, int digits) {
  if (p >= std::numeric_limits<double>::min()) return printf_text(("%." + std::to_string(digits) + "g").c_str(), p);
  return chiSquareTailText(chi2, dof, digits);
}

std::string chiSquareTailText(double chi2, int dof, int digits) {
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
    if (bins <= 1) return "nothing to judge in " + what + ": every block's p-value is sure to fall in one bin";
    return "too few blocks to judge " + what + ": fewer than two groups of 5 expected";
  }
  const std::string ps = " (p = " + p_text(v) + ")";
  if (*v.pValue >= 0.01) return what + " looks random" + ps;
  if (*v.pValue >= 1e-4) return what + " is suspicious" + ps;
  return what + " is not random" + ps;
}

bool needsHistogram(const ReportOptions& options) {
  return options.format == "json" || !options.plot.empty() || !options.plotDir.empty();
}

TestReport reportOf(const TestSummary& s, Laws& laws, bool histogram) {
  TestReport r;
  r.blockSize = s.blockSize();
  r.firstBlock = s.firstBlock();
  r.blockCount = s.blockCount();
  r.bits = s.bits();
  r.ones = s.ones();
  r.onesFigures = s.onesFigures(laws);
  r.deviationFigures = s.deviationFigures(laws);
  r.deviationsObserved = s.deviationsObserved();
  if (histogram) r.deviationsExpected = s.deviationsExpected(laws);
  r.shapes = s.counts().shapes;
  if (s.blockCount() > 0) r.ranges = {{s.firstBlock(), s.blockCount()}};
  return r;
}

nlohmann::ordered_json toJson(const TestReport& r) {
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
  j["ones_test"] = toJson(Judged{r.onesFigures, judge(r.onesFigures)});
  j["deviation_test"] = toJson(Judged{r.deviationFigures, judge(r.deviationFigures)});
  j["deviations"] = {{"observed", r.deviationsObserved}, {"expected", r.deviationsExpected}};
  j["shapes"] = r.shapes;
  return j;
}

int printReport(const TestReport& r, const ReportOptions& options, const std::string& nothing, bool headed) {
  const Judged ones{r.onesFigures, judge(r.onesFigures)}, dev{r.deviationFigures, judge(r.deviationFigures)};
  Output out;
  if (options.format == "json") {
    nlohmann::ordered_json j;
    if (headed) j["file"] = r.file;
    j.update(toJson(r));
    std::string text = j.dump();
    // NOTE: a p-value below the doubles' normal range is written as its
    // value from MPFR, which no double holds: the number's text is put in
    // place of the one the JSON library wrote.
    for (const auto& [key, judged] : {std::pair{"\"ones_test\":{", &ones}, std::pair{"\"deviation_test\":{", &dev}}) {
      const Verdict& v = judged->verdict;
      if (!v.pValue || *v.pValue >= std::numeric_limits<double>::min()) continue;
      const std::size_t at = text.find("\"p_value\":", text.find(key)) + 10;
      text.replace(at, text.find_first_of(",}", at) - at, pValueText(*v.pValue, *v.chi2, *v.dof, 17));
    }
    out << text << '\n';
  } else {
    if (headed) out << "file        " << r.file << '\n';
    if (r.blockCount == 0) {
      out << "blocks      0 of " << std::to_string(r.blockSize) << " bits\n"
          << "nothing to judge: " << nothing << '\n';
    } else {
      out << "blocks      " << std::to_string(r.blockCount) << " of " << std::to_string(r.blockSize) << " bits ("
          << std::to_string(r.bits) << " bits, "
          << printf_text("%.6f", static_cast<double>(r.ones) / static_cast<double>(r.bits)) << " of them ones)\n"
          << "              passing       expected        z       chi2  dof    p-value\n"
          << text_row("ones", ones) << text_row("deviation", dev)
          << "ones:      " << verdictWords(ones.verdict, r.onesFigures.binsExpected, "the balance of ones and zeros")
          << '\n'
          << "deviation: " << verdictWords(dev.verdict, r.deviationFigures.binsExpected, "the arrangement of the bits")
          << '\n';
    }
  }
  out.flush();
  if (!options.plot.empty()) writePlot(toJson(r), options.plot, options.force, r.file, r.where);
  if (options.failBelow >= 0) {
    for (const Judged* j : {&ones, &dev})
      if (j->verdict.pValue && *j->verdict.pValue < options.failBelow) return status_verdict;
  }
  return status_ok;
}

}  // namespace lumbra::kit
