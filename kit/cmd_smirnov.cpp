// lumbra-kit smirnov X Y: the two-sample Smirnov test of two files of
// numbers, with its exact permutation p-value (ties included).
#include <gmp.h>
#include <mpfr.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "count/mpz.h"
#include "stats/smirnov.h"
#include "triangle/budget.h"

namespace lumbra::kit {

namespace {

struct SmirnovArgs {
  std::string x, y, alternative = "two-sided", format;
  bool exact = false;
  int column = 0;  // 0: every number of every line
};

// The whole input as text: a regular file in one read of its size (and a
// byte more, to see it end), anything else in pieces that double from 64 KiB.
std::string readAll(Input& in) {
  std::string text;
  std::size_t got = 0, piece = std::size_t{1} << 16;
  if (in.regular()) piece = std::max(piece, static_cast<std::size_t>(in.size()) + 1);
  for (;;) {
    text.resize(got + piece);
    const std::size_t n = in.fill(reinterpret_cast<unsigned char*>(text.data()) + got, piece);
    got += n;
    if (n < piece) break;
    piece = std::max(piece, got);
  }
  text.resize(got);
  return text;
}

// Where a value stands, for the line that refuses it: "NAME:LINE".
struct Place {
  const std::string& name;
  std::size_t line;
  std::string text() const { return name + ":" + std::to_string(line); }
};

// A decimal number, as the whole of `word`: an optional sign, digits with an
// optional point, an optional exponent. NaN and the infinities are refused.
void parseNumber(std::string_view word, const Place& where, std::vector<double>& out) {
  std::string_view w = word;
  if (w.size() > 1 && w.front() == '+' && w[1] != '-') w.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v, std::chars_format::general);
  if (ec == std::errc() && end == w.data() + w.size() && std::isfinite(v)) {
    out.push_back(v);
    return;
  }
  const std::string shown = "'" + std::string(word.substr(0, 40)) + (word.size() > 40 ? "...'" : "'");
  if (ec == std::errc::result_out_of_range) throw Failure(where.text() + ": " + shown + " is out of the range of numbers");
  if (ec != std::errc() || end != w.data() + w.size()) throw Failure(where.text() + ": " + shown + " is not a number");
  throw Failure(where.text() + ": " + shown + " is not a finite number");
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The sample in file `name`: every number, or those of one column of a CSV
// file after its header line.
std::vector<double> readSample(const std::string& name, int column) {
  Input in(name);
  const std::string text = readAll(in);
  std::vector<double> values;
  std::size_t line = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view s(text.data() + at, end - at);
    at = end + 1;
    ++line;
    const Place where{in.name(), line};
    if (column > 0) {
      if (line == 1 || trim(s).empty()) continue;
      std::size_t from = 0;
      for (int c = 1; c < column && from != std::string_view::npos; ++c) {
        from = s.find(',', from);
        if (from != std::string_view::npos) ++from;
      }
      if (from == std::string_view::npos) throw Failure(where.text() + ": no column " + std::to_string(column));
      std::string_view field = trim(s.substr(from, s.find(',', from) - from));
      if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = trim(field.substr(1, field.size() - 2));
      parseNumber(field, where, values);
      continue;
    }
    for (std::size_t i = 0; i < s.size();) {
      while (i < s.size() && (blank(s[i]) || s[i] == ',')) ++i;
      std::size_t j = i;
      while (j < s.size() && !blank(s[j]) && s[j] != ',') ++j;
      if (j > i) parseNumber(s.substr(i, j - i), where, values);
      i = j;
    }
  }
  if (values.empty()) throw Failure(in.name() + ": no numbers");
  return values;
}

Alternative alternativeOf(const std::string& word) {
  return word == "less" ? Alternative::less : word == "greater" ? Alternative::greater : Alternative::two_sided;
}

// The shortest text that reads back as the double v.
std::string shortest(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A p-value: the shortest text of its double, or, below the doubles' normal
// range, 17 digits of the long double with their own exponent.
std::string pText(long double p) {
  if (p == 0 || p >= static_cast<long double>(DBL_MIN)) return shortest(static_cast<double>(p));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Lg", p);
  return buf;
}

// An error bound with two significant digits, rounded up.
std::string boundText(double e) {
  if (!std::isfinite(e)) return "inf";
  if (e == 0) return "0";
  const int k = static_cast<int>(std::floor(std::log10(e))) - 1;
  const double m = std::ceil(e / std::pow(10.0, k) * (1 - 1e-12));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1fe%d", m / 10, k + 1);
  return buf;
}

std::string fractionText(mpq_srcptr q) {
  // q is canonical: its denominator is 1 when it is whole.
  return decimalText(mpq_numref(q)) + "/" + decimalText(mpq_denref(q));
}

// The exact p-value q as printed: the shortest text of its nearest double,
// or, below the doubles' normal range, 17 significant digits with their own
// exponent; `words` gets three digits. NOTE: MPFR, not long double, so that
// the text is the same wherever long double is only a double (as under
// valgrind).
std::string exactText(mpq_srcptr q, std::string& words) {
  mpfr_t v;
  mpfr_init2(v, 128);
  mpfr_set_q(v, q, MPFR_RNDN);
  char buf[64];
  mpfr_snprintf(buf, sizeof buf, "%.3Rg", v);
  words = buf;
  std::string text;
  if (mpfr_zero_p(v) || mpfr_cmp_d(v, DBL_MIN) >= 0) {
    text = shortest(mpfr_get_d(v, MPFR_RNDN));
  } else {
    mpfr_snprintf(buf, sizeof buf, "%.17Rg", v);
    text = buf;
  }
  mpfr_clear(v);
  return text;
}

void runSmirnov(const SmirnovArgs& a) {
  if (a.x == "-" && a.y == "-") throw UsageError("standard input can be only one of X and Y");
  const std::vector<double> x = readSample(a.x, a.column), y = readSample(a.y, a.column);
  if (static_cast<double>(x.size()) + static_cast<double>(y.size()) > static_cast<double>(max_band_steps))
    throw Failure("more than " + std::to_string(max_band_steps) + " values in all");
  const Smirnov test(x, y);
  const Alternative alt = alternativeOf(a.alternative);
  // Work the machine cannot hold is refused before it starts.
  const auto exactFits = [&] { return memoryShortfall(test.exactPValueBytes(alt), memoryLimit()); };
  if (a.exact) {
    const std::string shortfall = exactFits();
    if (!shortfall.empty()) throw Failure("--exact " + shortfall);
  }
  LeaveProbability p = test.pValue(alt);
  mpq_t exact;
  mpq_init(exact);
  std::string fraction, pv, words;
  // An exact count where asked for, or where it is better and fits.
  if (a.exact || (test.exactIsBetter(p, alt) && exactFits().empty())) {
    test.exactPValue(exact, alt);
    p.error = 0;
    pv = exactText(exact, words);
    if (a.exact) fraction = fractionText(exact);
  } else {
    pv = pText(p.value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3Lg", p.value);
    words = buf;
  }
  mpq_clear(exact);
  // The printed text rounds once more: at most 2^-53 of the value.
  const double error = p.error + 0x1p-53;
  const std::string d = shortest(test.statistic(alt));
  const std::string n1 = std::to_string(test.n1()), n2 = std::to_string(test.n2()),
                    ties = std::to_string(test.ties());

  Output out;
  if (a.format == "json") {
    out << "{\"n1\":" << n1 << ",\"n2\":" << n2 << ",\"statistic\":" << d << ",\"ties\":" << ties
        << ",\"alternative\":\"" << a.alternative << "\",\"pvalue\":" << pv
        << ",\"error_bound\":" << (std::isfinite(error) ? boundText(error) : "null");
    if (a.exact) out << ",\"pvalue_exact\":\"" << fraction << '"';
    out << "}\n";
  } else {
    const char* what = alt == Alternative::two_sided ? "D = max|F1 - F2|"
                       : alt == Alternative::greater ? "D+ = max(F1 - F2)"
                                                     : "D- = max(F2 - F1)";
    out << "n1: " << n1 << '\n'
        << "n2: " << n2 << '\n'
        << "statistic: " << d << " (" << what << ")\n"
        << "ties: " << ties << '\n'
        << "alternative: " << a.alternative << '\n'
        << "p-value: " << pv << '\n'
        << "error bound: " << boundText(error) << " (relative)\n";
    if (a.exact) out << "p-value exact: " << fraction << '\n';
    out << "If both samples came from one distribution, a statistic at least this large would turn up with "
           "probability "
        << words << (test.ties() > 0 ? " (given the ties as they are)" : "") << ".\n";
  }
  out.flush();
}

}  // namespace

void addSmirnovCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<SmirnovArgs>();
  CLI::App* cmd = app.add_subcommand("smirnov", "The two-sample Smirnov test with its exact p-value");
  cmd->description(
      "The two-sample Smirnov (Kolmogorov-Smirnov) test of the numbers in X against those in Y:\n"
      "the largest distance D between their distribution functions F1 and F2, and the exact\n"
      "probability of a D at least as large when the labels X and Y are dealt to the pooled\n"
      "values at random (the exact null law for continuous data; with ties, the law given them).\n"
      "The p-value is a sum of positive terms in 106-bit arithmetic with a proven error bound, at\n"
      "any sample size; --exact adds it as a fraction of two integers.");
  cmd->add_option("X", args->x, "The first sample: numbers separated by blanks, commas or lines; - reads standard input")
      ->required();
  cmd->add_option("Y", args->y, "The second sample, read the same way")->required();
  cmd->add_option("--alternative", args->alternative,
                  "two-sided (max|F1 - F2|), less (max(F2 - F1): X's distribution function lies below\n"
                  "Y's) or greater (max(F1 - F2)); default two-sided")
      ->check(CLI::IsMember({"two-sided", "less", "greater"}))
      ->type_name("WORD");
  cmd->add_flag("--exact", args->exact, "Also print the p-value as an exact fraction NUM/DEN in lowest terms");
  cmd->add_option("--column", args->column, "Read column N (from 1) of a CSV file with a header line")
      ->check(CLI::Range(1, 1000000))
      ->type_name("N");
  addFormatOption(*cmd, args->format, {"text", "json"});
  cmd->footer(
      "OUTPUT\n"
      "  text: n1, n2, the statistic, the ties (pooled values equal to their predecessor), the\n"
      "  alternative, the p-value, its relative error bound (the printed value included), with\n"
      "  --exact the fraction, and one line in plain words.\n"
      "  json: one line {\"n1\":N1, \"n2\":N2, \"statistic\":D, \"ties\":T, \"alternative\":\"WORD\",\n"
      "  \"pvalue\":P, \"error_bound\":E} (with --exact also \"pvalue_exact\":\"NUM/DEN\"); D and P are\n"
      "  the shortest texts that read back as their doubles (P below 1e-308 with 17 digits).\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a file that cannot be\n"
      "  read, a value that is not a number, NaN or infinite, an empty sample, --exact where\n"
      "  the count needs more memory than there is).\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit smirnov before.txt after.txt\n"
      "  lumbra-kit smirnov a.txt b.txt --alternative less --exact --format json\n"
      "  cut -f2 runs.tsv | lumbra-kit smirnov - reference.txt\n"
      "  lumbra-kit smirnov --column 3 trial-a.csv trial-b.csv\n");
  cmd->callback([args, &status] {
    runSmirnov(*args);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
