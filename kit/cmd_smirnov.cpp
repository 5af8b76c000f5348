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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app.h"
#include "commands.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "stats/laws_cost.h"
#include "count/mpz.h"
#include "stats/smirnov.h"
#include "triangle/budget.h"

namespace lumbra::kit {

namespace {

struct SmirnovArgs {
  std::string x, y, alternative = "two-sided", format, delimiter = "auto";
  bool exact = false, quiet = false;
  // "": every number of every line; digits: that column (from 1); else the
  // column of that name in the header line. The per-input ones win.
  std::string column, columnX, columnY;
  long long maxSeconds = -1;
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

// At most 40 bytes of a field, as a message shows it: quoted, with bytes
// outside printable ASCII (control bytes, NUL, escape sequences, bytes of
// other encodings) and the backslash escaped, "..." where it is cut.
std::string shownField(std::string_view w) {
  std::string out = "'";
  for (std::size_t i = 0; i < w.size() && i < 40; ++i) {
    const auto c = static_cast<unsigned char>(w[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", c);
      out += b;
    }
  }
  out += w.size() > 40 ? "...'" : "'";
  return out;
}

// Whether a decimal number that no double holds lies below the doubles
// (its first significant digit at a negative power of ten) rather than above.
bool belowTheDoubles(std::string_view w) {
  std::size_t i = 0;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
  long long magnitude = 0;  // the power of ten of the first significant digit, plus one
  bool point = false, significant = false;
  for (; i < w.size() && (w[i] == '.' || (w[i] >= '0' && w[i] <= '9')); ++i) {
    if (w[i] == '.') {
      point = true;
    } else if (!significant && w[i] == '0') {
      if (point) --magnitude;
    } else {
      significant = true;
      if (!point) ++magnitude;
    }
  }
  if (!significant) return true;
  long long e = 0;
  if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
    ++i;
    const bool negative = i < w.size() && w[i] == '-';
    if (i < w.size() && (w[i] == '-' || w[i] == '+')) ++i;
    for (; i < w.size(); ++i) e = std::min(e * 10 + (w[i] - '0'), 1000000000000LL);
    if (negative) e = -e;
  }
  return magnitude + e <= 0;
}

// Why `word` is no finite decimal number (an optional sign, digits with an
// optional point, an optional exponent), or nullptr with `v` set. A number
// below the doubles' range reads as zero, as one just above reads as the
// nearest double; one above the range is refused.
const char* readNumber(std::string_view word, double& v) {
  std::string_view w = word;
  if (w.size() > 1 && w.front() == '+' && w[1] != '-') w.remove_prefix(1);
  const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v, std::chars_format::general);
  if (ec == std::errc::invalid_argument || end != w.data() + w.size()) return "is not a number";
  if (ec == std::errc::result_out_of_range) {
    if (!belowTheDoubles(w)) return "is out of the range of numbers";
    v = w.front() == '-' ? -0.0 : 0.0;
    return nullptr;
  }
  if (!std::isfinite(v)) return "is not a finite number";
  return nullptr;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// How the fields of a line are split.
enum class Split { automatic, comma, tab, space };

Split splitOf(const std::string& word) {
  return word == "comma" ? Split::comma : word == "tab" ? Split::tab : word == "space" ? Split::space : Split::automatic;
}

const char* splitName(Split s) {
  return s == Split::comma ? "commas" : s == Split::tab ? "tabs" : "spaces";
}

// The fields of one line, trimmed; a field in double quotes is one field
// whatever it holds ("" inside it is one quote), and loses its quotes.
void fieldsOf(std::string_view line, Split split, std::vector<std::string>& out) {
  out.clear();
  std::size_t i = 0;
  const char sep = split == Split::comma ? ',' : '\t';
  for (;;) {
    if (split == Split::space) {
      while (i < line.size() && blank(line[i])) ++i;
      if (i == line.size()) return;
    } else {
      while (i < line.size() && line[i] != sep && blank(line[i])) ++i;
    }
    std::string field;
    if (i < line.size() && line[i] == '"') {
      for (++i; i < line.size(); ++i) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        field += line[i];
      }
      field = std::string(trim(field));
      while (i < line.size() && (split == Split::space ? !blank(line[i]) : line[i] != sep)) field += line[i++];
    } else {
      const std::size_t from = i;
      while (i < line.size() && (split == Split::space ? !blank(line[i]) : line[i] != sep)) ++i;
      field = std::string(trim(line.substr(from, i - from)));
    }
    out.push_back(std::move(field));
    if (i >= line.size()) return;
    if (split != Split::space) ++i;  // the separator
  }
}

// The split the first lines show (a header line may have one field only):
// tabs if one of the first 16 lines holds one, else commas if one does,
// else runs of blanks.
Split splitOfLines(std::string_view text) {
  bool comma = false;
  std::size_t at = 0;
  for (int lines = 0; lines < 16 && at < text.size(); ++lines) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view s = text.substr(at, end - at);
    if (s.find('\t') != std::string_view::npos) return Split::tab;
    comma = comma || s.find(',') != std::string_view::npos;
    at = end + 1;
  }
  return comma ? Split::comma : Split::space;
}

// The sample in file `name`: every number of every line, or those of one
// column (`column`: a number from 1 or a name in the header line).
std::vector<double> readSample(const std::string& name, const std::string& column, Split split) {
  Input in(name);
  std::string text = readAll(in);
  // A byte-order mark says only that the text is UTF-8.
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<double> values;
  std::string header;  // " (line N taken as a header)" once one was
  const auto fail = [&](std::size_t line, const std::string& what) {
    throw Failure(in.name() + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what + header);
  };
  std::size_t want = 0;  // the column, from 1; 0: every number
  bool first = true;
  std::vector<std::string> fields;
  std::size_t line = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view s(text.data() + at, end - at);
    at = end + 1;
    ++line;
    if (column.empty()) {
      for (std::size_t i = 0; i < s.size();) {
        while (i < s.size() && (blank(s[i]) || s[i] == ',')) ++i;
        std::size_t j = i;
        if (j < s.size() && s[j] == '"') {
          // A quoted word is one word, commas and all: "2,5" is no number.
          j = s.find('"', j + 1);
          j = j == std::string_view::npos ? s.size() : j + 1;
        }
        while (j < s.size() && !blank(s[j]) && s[j] != ',') ++j;
        if (j > i) {
          std::string_view word = s.substr(i, j - i);
          if (word.size() >= 2 && word.front() == '"' && word.back() == '"') word = trim(word.substr(1, word.size() - 2));
          double v = 0;
          if (const char* why = readNumber(word, v)) fail(line, shownField(word) + " " + why);
          values.push_back(v);
        }
        i = j;
      }
      continue;
    }
    if (trim(s).empty()) continue;
    if (first) {
      first = false;
      if (split == Split::automatic) split = splitOfLines(std::string_view(text).substr(at - s.size() - 1));
      fieldsOf(s, split, fields);
      bool numbers = true;
      for (const std::string& f : fields) {
        double v = 0;
        numbers = numbers && readNumber(f, v) == nullptr;
      }
      const bool byNumber = column.find_first_not_of("0123456789") == std::string::npos;
      if (byNumber) want = std::stoul(column);
      if (!numbers) {
        header = " (line " + std::to_string(line) + " was a header)";
        if (!byNumber) {
          for (std::size_t k = 0; k < fields.size() && want == 0; ++k)
            if (fields[k] == column) want = k + 1;
          if (want == 0) fail(line, "no column named " + shownField(column) + " in the header");
        }
        continue;
      }
      if (!byNumber) fail(line, "no header line to find column " + shownField(column) + " in: the first line is numbers");
    } else {
      fieldsOf(s, split, fields);
    }
    if (fields.size() < want)
      fail(line, "no column " + std::to_string(want) + ": the line has " + std::to_string(fields.size()) +
                     (fields.size() == 1 ? " field" : " fields") + " split on " + splitName(split));
    const std::string& field = fields[want - 1];
    double v = 0;
    if (const char* why = readNumber(field, v)) fail(line, shownField(field) + " " + why);
    values.push_back(v);
  }
  if (values.empty()) fail(0, "no numbers");
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
  int k = static_cast<int>(std::floor(std::log10(e))) - 1;
  double m = std::ceil(e / std::pow(10.0, k) * (1 - 1e-12));
  if (m >= 100) {  // rounded up to the next power of ten: 0.9992 is 1.0e0, not 10.0e-1
    m = 10;
    ++k;
  }
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

// The p-value as printed.
struct Printed {
  std::string pv, words, low, high;
  double error = 0;
};

// The seconds of one cell of the band's pass on this machine, about
// (docs/smirnov.md: 3e10 cells in 44 s on two threads).
constexpr double band_cell_seconds = 1.5e-9;

void runSmirnov(const SmirnovArgs& a) {
  if (a.x == "-" && a.y == "-") throw UsageError("standard input can be only one of X and Y");
  const Split split = splitOf(a.delimiter);
  const std::vector<double> x = readSample(a.x, a.columnX.empty() ? a.column : a.columnX, split),
                            y = readSample(a.y, a.columnY.empty() ? a.column : a.columnY, split);
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
  std::string fraction;
  Printed shown;
  // A closed form where one holds; bounds from closed forms where they put
  // the p-value below the doubles' range and no quick exact count can do
  // better; otherwise the band.
  std::optional<Enclosure> enclosed;
  if (!a.exact) enclosed = test.withoutBand(alt);
  if (enclosed) {
    const EnclosureText t = enclosed->text();
    shown = {t.value, t.words, t.low, t.high, t.error};
  } else {
    // The band, and with --exact the count's limb additions (about 1e9 a second).
    double seconds = test.bandWork(alt) * band_cell_seconds;
    if (a.exact && test.scaledStatistic(alt) > 0)
      seconds += countInsideWork(test.band(alt, test.scaledStatistic(alt))) * 1e-9;
    if (a.maxSeconds >= 0 && seconds > static_cast<double>(a.maxSeconds))
      throw Failure("the p-value would take about " + durationText(seconds) + ", more than --max-seconds " +
                    std::to_string(a.maxSeconds));
    Progress progress(a.quiet);
    const bool showing = seconds > shown_above && progress.shows();
    if (showing) progress.note("smirnov: the p-value is estimated at about " + durationText(seconds));
    const BandStop watch = [&](double done) {
      if (showing) progress.share("p-value", done);
      return false;
    };
    LeaveProbability p = *test.pValue(alt, 0, watch);
    progress.finish();
    mpq_t exact;
    mpq_init(exact);
    std::optional<Enclosure> bounds;
    // An exact count where asked for, or where it is better and fits; the
    // bounds where the band's terms fell below the doubles and took its
    // accuracy with them.
    if (a.exact || (test.exactIsBetter(p, alt) && exactFits().empty())) {
      // A line of its own: its time left is the count's.
      Progress counting(a.quiet);
      const BandStop countWatch = [&](double done) {
        if (showing) counting.share("exact count", done);
        return false;
      };
      test.exactPValue(exact, alt, countWatch);
      counting.finish();
      p.error = 0;
      shown.pv = exactText(exact, shown.words);
      if (a.exact) fraction = fractionText(exact);
    } else if (!(p.error <= Smirnov::lost_accuracy) && (bounds = test.bounds(alt)) &&
               bounds->relativeError() < p.error) {
      const EnclosureText t = bounds->text();
      shown = {t.value, t.words, t.low, t.high, t.error};
      p.error = t.error;
    } else {
      shown.pv = pText(p.value);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.3Lg", p.value);
      shown.words = buf;
    }
    mpq_clear(exact);
    shown.error = p.error;
  }
  // The printed text rounds once more: at most 2^-53 of the value.
  const double error = shown.error + 0x1p-53;
  const std::string d = shortest(test.statistic(alt));
  const std::string n1 = std::to_string(test.n1()), n2 = std::to_string(test.n2()),
                    ties = std::to_string(test.ties());

  Output out;
  if (a.format == "json") {
    out << "{\"n1\":" << n1 << ",\"n2\":" << n2 << ",\"statistic\":" << d << ",\"ties\":" << ties
        << ",\"alternative\":\"" << a.alternative << "\",\"pvalue\":" << shown.pv
        << ",\"error_bound\":" << (std::isfinite(error) ? boundText(error) : "null");
    if (!shown.low.empty()) out << ",\"pvalue_low\":" << shown.low << ",\"pvalue_high\":" << shown.high;
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
        << "p-value: " << shown.pv << '\n'
        << "error bound: " << boundText(error) << " (relative)\n";
    if (!shown.low.empty()) out << "p-value between: " << shown.low << " and " << shown.high << '\n';
    if (a.exact) out << "p-value exact: " << fraction << '\n';
    out << "If both samples came from one distribution, a statistic at least this large would turn up with "
           "probability "
        << shown.words << (test.ties() > 0 ? " (given the ties as they are)" : "") << ".\n";
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
      "any sample size, or a closed form where one holds (two distinct values in all, or equal\n"
      "sizes without ties); --exact adds it as a fraction of two integers.");
  cmd->add_option("X", args->x, "The first sample: numbers separated by blanks, commas or lines; - reads standard input")
      ->required();
  cmd->add_option("Y", args->y, "The second sample, read the same way")->required();
  cmd->add_option("--alternative", args->alternative,
                  "two-sided (max|F1 - F2|), less (max(F2 - F1): X's distribution function lies below\n"
                  "Y's) or greater (max(F1 - F2)); default two-sided")
      ->check(CLI::IsMember({"two-sided", "less", "greater"}))
      ->type_name("WORD");
  cmd->add_flag("--exact", args->exact, "Also print the p-value as an exact fraction NUM/DEN in lowest terms");
  // A column: a number from 1, or a name (some byte that is not a digit).
  const CLI::Validator columnSpec(
      [](std::string& v) -> std::string {
        if (v.empty()) return "a column is a number from 1 or a name";
        if (v.find_first_not_of("0123456789") != std::string::npos) return {};
        if (v.size() > 7 || std::stoul(v) < 1 || std::stoul(v) > 1000000)
          return "Value " + v + " not in range 1 to 1000000";
        return {};
      },
      "N|NAME");
  cmd->add_option("--column", args->column,
                  "Read one column of each input: N (from 1) or the NAME in its header line\n"
                  "(a first line that is not all numbers is a header and is skipped)")
      ->check(columnSpec)
      ->type_name("N|NAME");
  cmd->add_option("--column-x", args->columnX, "The column of X alone (instead of --column)")
      ->check(columnSpec)
      ->type_name("N|NAME");
  cmd->add_option("--column-y", args->columnY, "The column of Y alone (instead of --column)")
      ->check(columnSpec)
      ->type_name("N|NAME");
  cmd->add_option("--delimiter", args->delimiter,
                  "How columns are split: comma, tab, space (runs of blanks) or auto (default: tabs if\n"
                  "the first line has one, else commas if it has one, else spaces)")
      ->check(CLI::IsMember({"auto", "comma", "tab", "space"}))
      ->type_name("WORD");
  addFormatOption(*cmd, args->format, {"text", "json"});
  cmd->add_option("--max-seconds", args->maxSeconds,
                  "Refuse a p-value estimated to take longer than S seconds on this machine (status 2)")
      ->type_name("S")
      ->transform(decimal(0, 1000000000));
  cmd->add_flag("-q,--quiet", args->quiet, "No estimate and no progress line on standard error");
  cmd->footer(
      "OUTPUT\n"
      "  text: n1, n2, the statistic, the ties (pooled values equal to their predecessor), the\n"
      "  alternative, the p-value, its relative error bound (the printed value included), with\n"
      "  --exact the fraction, and one line in plain words.\n"
      "  json: one line {\"n1\":N1, \"n2\":N2, \"statistic\":D, \"ties\":T, \"alternative\":\"WORD\",\n"
      "  \"pvalue\":P, \"error_bound\":E} (with --exact also \"pvalue_exact\":\"NUM/DEN\"); D and P are\n"
      "  the shortest texts that read back as their doubles (P below 1e-308 with 17 digits).\n"
      "  Far below 1e-308, where only bounds are quick (sizes apart, no ties), P is known within\n"
      "  an enclosure: P has three digits, E its relative bound, and text adds 'p-value between:\n"
      "  LOW and HIGH', json \"pvalue_low\":LOW, \"pvalue_high\":HIGH. P is never 0.\n"
      "\n"
      "INPUT\n"
      "  Every number of every line, or with --column one column: fields split on tabs, commas or\n"
      "  runs of blanks (what the first lines show; --delimiter forces it), a field in double\n"
      "  quotes one field. A first line that is not all numbers is a header (a column may be\n"
      "  named from it); messages say when one was skipped. A UTF-8 byte-order mark is skipped;\n"
      "  a number below the doubles' range reads as 0, one above it is refused.\n"
      "\n"
      "TIME\n"
      "  A closed form or bounds take milliseconds; the band about N times its width (2e-9 s a\n"
      "  cell). On a terminal an estimate above 3 seconds is shown, then a progress line (not\n"
      "  with --quiet); --max-seconds S refuses, with status 2, a band estimated above S seconds.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a file that cannot be\n"
      "  read, a value that is not a number, NaN or infinite, an empty sample, --exact where\n"
      "  the count needs more memory than there is, or more time than --max-seconds).\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit smirnov before.txt after.txt\n"
      "  lumbra-kit smirnov a.txt b.txt --alternative less --exact --format json\n"
      "  cut -f2 runs.tsv | lumbra-kit smirnov - reference.txt\n"
      "  lumbra-kit smirnov --column 3 trial-a.csv trial-b.csv\n"
      "  lumbra-kit smirnov --column-x score --column-y 1 --delimiter tab a.tsv b.txt\n");
  cmd->callback([args, &status] {
    runSmirnov(*args);
    status = status_ok;
  });
}

}  // namespace lumbra::kit
