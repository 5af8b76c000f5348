#include "stats/summary_json.h"

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <system_error>
#include <limits>
#include <stdexcept>

#include "band/widest_deviation.h"
#include "stats/file_names.h"

namespace lumbra {

namespace {

std::string printf_text(const char* conversion, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, conversion, v);
  return buf;
}

nlohmann::ordered_json optional(const std::optional<double>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json toJson(const StatisticFigures& f, const Verdict& v) {
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

nlohmann::ordered_json toJson(const LogProbability& p) {
  return {{"p_value", p.estimate()}, {"ln_p", {p.lnLow, p.lnHigh}}};
}

}  // namespace

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

WholeFileReport wholeFileOf(const FileBits& bits, bool runsHeld) {
  WholeFileReport w;
  if (bits.bits > 0) w.balance = balancePValue(bits.bits, bits.ones);
  if (runsHeld) {
    w.bits = bits;
    if (bits.bits > 0) w.runs = runsPValue(bits.bits, bits.ones, bits.runs);
  }
  return w;
}

SummaryReport reportOf(const FileSummary& s, StatisticLaws& laws, bool histogram, bool wholeFile) {
  SummaryReport r;
  r.blockSize = s.blockSize();
  r.firstBlock = s.firstBlock();
  r.blockCount = s.blockCount();
  r.bits = s.bits();
  r.ones = s.ones();
  // NOTE: the whole file's p-values (some 10 ms each at 2^30 bits, in MPFR)
  // are worked out on a thread of their own while the statistics' figures
  // are drawn from the laws here; where no thread starts, here after them.
  const FileBits bits = s.fileBits();
  const bool runsHeld = s.fileRunsHeld();
  std::future<WholeFileReport> file;
  if (wholeFile && bits.bits > 0) {
    try {
      file = std::async(std::launch::async, [bits, runsHeld] {
        const struct Release {
          ~Release() { releaseThreadCaches(); }
        } release;
        return wholeFileOf(bits, runsHeld);
      });
    } catch (const std::system_error&) {
      // worked out below
    }
  }
  const auto statistics = laws.statistics();
  for (std::size_t i = 0; i < statistics.size(); ++i)
    if (s.holds(i))
      r.tests.push_back({std::string(statistics[i]->name()), std::string(statistics[i]->subject()), s.figures(laws, i)});
  r.deviationsObserved = s.deviationsObserved();
  if (histogram) r.deviationsExpected = s.deviationsExpected(laws);
  r.shapes = s.counts().shapes;
  if (s.blockCount() > 0) r.ranges = {{s.firstBlock(), s.blockCount()}};
  if (file.valid()) r.wholeFile = file.get();
  else if (wholeFile) r.wholeFile = wholeFileOf(bits, runsHeld);
  else if (runsHeld) r.wholeFile.bits = bits;
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
  for (const StatisticReport& t : r.tests) tests[t.name] = toJson(t.figures, judge(t.figures));
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

void replaceJsonNumber(std::string& text, std::size_t from, const std::string& field, const std::string& value) {
  const std::size_t at = text.find(field, from) + field.size();
  text.replace(at, text.find_first_of(",}", at) - at, value);
}

std::string summaryJson(const SummaryReport& r, bool headed) {
  nlohmann::ordered_json j;
  if (headed) putFileName(j, r.file);
  j.update(toJson(r));
  std::string text = j.dump();
  // A p-value below the doubles' normal range is written as its value from
  // MPFR, which no double holds.
  const std::size_t tests = text.find("\"tests\":{");
  for (const StatisticReport& t : r.tests) {
    const Verdict v = judge(t.figures);
    if (!v.pValue || *v.pValue >= std::numeric_limits<double>::min()) continue;
    replaceJsonNumber(text, text.find("\"" + t.name + "\":{", tests), "\"p_value\":",
                      pValueText(*v.pValue, *v.chi2, *v.dof, 17));
  }
  // The same for the whole file's p-values, from their enclosures.
  const std::size_t file = text.find("\"whole_file\":{");
  const auto replaceFileP = [&](const char* key, const std::optional<LogProbability>& p) {
    if (!p || p->estimate() >= std::numeric_limits<double>::min()) return;
    replaceJsonNumber(text, text.find(key, file), "\"p_value\":", logPText(*p, 4));
  };
  replaceFileP("\"balance\":{", r.wholeFile.balance);
  replaceFileP("\"runs_test\":{", r.wholeFile.runs);
  return text;
}

namespace {

using nlohmann::json;

// What a summary does not hold; the text says what.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// nlohmann's texts start with "[json.exception.KIND.N] "; the rest says it.
std::string reason(const std::exception& e) {
  std::string s = e.what();
  const std::size_t close = s.rfind("] ", s.find(' '));
  return close == std::string::npos ? s : s.substr(close + 2);
}

const json& member(const json& j, const char* key) {
  if (!j.is_object()) throw Refused(std::string("no object where ") + key + " should be");
  const auto it = j.find(key);
  if (it == j.end()) throw Refused(std::string("no ") + key);
  return *it;
}

// A whole number 0 .. most: nlohmann keeps a non-negative integer written
// without fraction or exponent as number_unsigned, anything else otherwise.
std::uint64_t whole(const json& v, const std::string& what,
                    std::uint64_t most = std::numeric_limits<std::uint64_t>::max(), std::uint64_t least = 0) {
  if (!v.is_number_unsigned() || v.get<std::uint64_t>() > most || v.get<std::uint64_t>() < least)
    throw Refused(what + " is " + v.dump().substr(0, 40) + ", not a whole number from " + std::to_string(least) +
                  " to " + std::to_string(most));
  return v.get<std::uint64_t>();
}

const json& array(const json& v, const std::string& what, std::size_t least, std::size_t most) {
  if (!v.is_array() || v.size() < least || v.size() > most)
    throw Refused(what + " is not an array of " +
                  (least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most)) +
                  " values");
  return v;
}

ReadSummary fromJson(const json& j, const std::string& name) {
  const int n = static_cast<int>(whole(member(j, "block_size"), "block_size", 4096, 1));
  FileSummary::Counts c;
  c.blocks = whole(member(j, "block_count"), "block_count");
  if (j.contains("blocks") && whole(j.at("blocks"), "blocks") != c.blocks)
    throw Refused("blocks and block_count differ");
  // The input's name, when one of several files wrote it: text, and for a
  // name that is not UTF-8 its bytes percent-encoded (see file_names.h).
  if (j.contains("file") && !j.at("file").is_string()) throw Refused("file is not text");
  if (j.contains("file_bytes")) {
    std::string bytes;
    const json& encoded = j.at("file_bytes");
    if (!encoded.is_string() || !percentDecoded(encoded.get<std::string>(), bytes) || !j.contains("file") ||
        replacedUtf8(bytes) != j.at("file").get<std::string>())
      throw Refused("file_bytes is not the percent-encoded bytes of file");
  }
  c.bits = whole(member(j, "bits"), "bits");
  c.ones = whole(member(j, "ones"), "ones");
  // The statistics by name in "tests"; the older form has the first two
  // alone, as "ones_test" and "deviation_test". A statistic a summary lacks
  // is not held, and the merge leaves it out.
  const auto statistics = allStatistics();
  const json* tests = j.contains("tests") ? &j.at("tests") : nullptr;
  if (tests && !tests->is_object()) throw Refused("tests is not an object");
  // Every statistic a summary names it holds, and it holds the ones and the
  // deviation always: a merge must not drop what a slice judged.
  if (tests) {
    for (const auto& [key, value] : tests->items()) {
      const bool known = std::any_of(statistics.begin(), statistics.end(),
                                     [&, &key = key](const Statistic* s) { return s->name() == key; });
      if (!known) throw Refused("tests." + key.substr(0, 40) + " is no statistic");
    }
    for (const char* always : {"ones", "deviation"})
      if (!tests->contains(always))
        throw Refused(std::string("no tests.") + always + ": every summary holds the ones and the deviation");
  }
  for (std::size_t s = 0; s < statistics.size(); ++s) {
    const std::string statistic(statistics[s]->name());
    const std::string key = tests ? statistic : statistic + "_test";
    const json& where = tests ? *tests : j;
    FileSummary::Observed o;
    if (where.contains(key)) {
      const json& t = where.at(key);
      o.held = true;
      o.passing = whole(member(t, "passing"), key + ".passing");
      const json& bins = array(member(t, "bins_observed"), key + ".bins_observed", bin_count, bin_count);
      for (std::size_t b = 0; b < static_cast<std::size_t>(bin_count); ++b)
        o.bins[b] = whole(bins[b], key + ".bins_observed");
    } else if (!tests && s < 2) {
      throw Refused("no " + key);
    }
    c.statistics.push_back(o);
  }
  // The whole file's runs and end bits, when the summary has them.
  if (j.contains("whole_file") && member(j, "whole_file").contains("runs")) {
    const json& f = j.at("whole_file");
    c.file = FileBits{c.bits, c.ones, whole(f.at("runs"), "whole_file.runs"),
                      static_cast<int>(whole(member(f, "first_bit"), "whole_file.first_bit", 1)),
                      static_cast<int>(whole(member(f, "last_bit"), "whole_file.last_bit", 1))};
  }
  for (const json& v : array(member(member(j, "deviations"), "observed"), "deviations.observed", 0,
                             static_cast<std::size_t>(n) + 1))
    c.deviations.push_back(whole(v, "deviations.observed"));
  // Blocks of n bits by k, and at most one shorter block.
  for (const json& s : array(member(j, "shapes"), "shapes", 0, static_cast<std::size_t>(n) + 2)) {
    const json& t = array(s, "a shape", 3, 3);
    c.shapes.push_back({whole(t[0], "a shape's length", static_cast<std::uint64_t>(n)),
                        whole(t[1], "a shape's ones", static_cast<std::uint64_t>(n)), whole(t[2], "a shape's blocks")});
  }
  ReadSummary r{name, FileSummary(n, 0, statistics), std::nullopt, {}};
  const std::uint64_t first = whole(member(j, "first_block"), "first_block");
  try {
    r.summary = FileSummary::restored(n, first, c, statistics);
  } catch (const std::invalid_argument& e) {
    throw Refused(e.what());
  }

  // Where the blocks lie. A summary of the old form is one range.
  if (j.contains("ranges")) {
    std::uint64_t held = 0;
    for (const json& v : array(j.at("ranges"), "ranges", 0, max_summary_values)) {
      const json& p = array(v, "a range", 2, 2);
      const BlockRange b{whole(p[0], "a range's first block"), whole(p[1], "a range's block count")};
      if (b.count == 0 || b.first + b.count < b.first) throw Refused("a range that is empty or past 2^64 blocks");
      if (!r.ranges.empty() && b.first <= r.ranges.back().first + r.ranges.back().count)
        throw Refused("ranges that are out of order, touch or overlap");
      r.ranges.push_back(b);
      held += b.count;
    }
    if (held != c.blocks) throw Refused("ranges that hold " + std::to_string(held) + " blocks, not block_count");
    if (!r.ranges.empty() && r.ranges.front().first != first) throw Refused("first_block is not the first range's");
  } else if (c.blocks > 0) {
    if (first + c.blocks < first) throw Refused("blocks past 2^64");
    r.ranges = {{first, c.blocks}};
  }
  if (j.contains("file_bits") && !j.at("file_bits").is_null()) r.fileBits = whole(j.at("file_bits"), "file_bits");

  // A shorter block is the file's last: only one, and at the end.
  std::uint64_t shorter = 0, shortLength = 0;
  for (const auto& s : c.shapes)
    if (s[0] < static_cast<std::uint64_t>(n)) {
      shorter += s[2];
      shortLength = s[0];
    }
  if (shorter > 1) throw Refused(std::to_string(shorter) + " shorter blocks, where a file has one at most");
  if (r.fileBits) {
    const std::uint64_t un = static_cast<std::uint64_t>(n);
    const std::uint64_t fileBlocks = *r.fileBits / un + (*r.fileBits % un != 0 ? 1 : 0);
    const bool holdsLast = !r.ranges.empty() && r.ranges.back().first + r.ranges.back().count == fileBlocks;
    if (!r.ranges.empty() && r.ranges.back().first + r.ranges.back().count > fileBlocks)
      throw Refused("blocks past the end of a file of " + std::to_string(*r.fileBits) + " bits");
    if (shorter != (holdsLast && *r.fileBits % un != 0 ? 1 : 0) || (shorter == 1 && shortLength != *r.fileBits % un))
      throw Refused("a last block that does not fit a file of " + std::to_string(*r.fileBits) + " bits");
  }
  // NOTE: without the size, merge checks the shorter block against the
  // other summaries' ranges.
  return r;
}

// Parses with limits: nesting and the number of values (each costs the
// DOM some bytes), refused as soon as they are passed.
json parseBounded(const std::string& text) {
  std::size_t values = 0;
  return json::parse(text, [&](int depth, json::parse_event_t, json&) {
    if (depth > 4) throw Refused("values nested more than four deep");
    if (++values > max_summary_values) throw Refused("more than " + std::to_string(max_summary_values) + " values");
    return true;
  });
}

}  // namespace

std::vector<ReadSummary> readSummaries(std::string_view text, const std::string& name) {
  if (text.size() > max_summary_bytes)
    throw SummaryError(name + ": more than " + std::to_string(max_summary_bytes >> 20) + " MiB, larger than any summary");
  std::vector<std::pair<std::string, std::string>> parts;  // (name, text)
  if (json::accept(text)) {
    parts.emplace_back(name, std::string(text));
  } else {
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size(); ++line) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      std::string part(text.substr(at, end - at));
      at = end + 1;
      if (part.find_first_not_of(" \t\r") != std::string::npos)
        parts.emplace_back(name + " line " + std::to_string(line + 1), std::move(part));
    }
  }
  if (parts.empty()) throw SummaryError(name + ": no summary in it");
  std::vector<ReadSummary> out;
  for (const auto& [where, part] : parts) {
    try {
      out.push_back(fromJson(parseBounded(part), where));
    } catch (const json::exception& e) {
      // A syntax error, or a number no double holds (1e400).
      throw SummaryError(where + ": not JSON: " + reason(e));
    } catch (const Refused& e) {
      throw SummaryError(where + ": not a summary of `lumbra-kit test --format json`: " + e.what());
    }
  }
  return out;
}

namespace {

std::string rangeText(const BlockRange& b) {
  return std::to_string(b.first) + ".." + std::to_string(b.first + b.count - 1);
}

}  // namespace

MergedSummary mergeSummaries(const std::vector<ReadSummary>& slices,
                             const std::function<void(const std::string&)>& warn) {
  if (slices.empty()) throw std::invalid_argument("no summaries to merge");
  const ReadSummary& head = slices.front();
  const int n = head.summary.blockSize();
  std::optional<std::uint64_t> fileBits;
  const ReadSummary* sized = nullptr;
  for (const ReadSummary& x : slices) {
    if (x.summary.blockSize() != n)
      throw SummaryError(head.name + " has blocks of " + std::to_string(n) + " bits, " + x.name + " of " +
                    std::to_string(x.summary.blockSize()) + ": slices of one file share one block size");
    if (!x.fileBits) continue;
    if (sized && *x.fileBits != *fileBits)
      throw SummaryError(sized->name + " is of a file of " + std::to_string(*fileBits) + " bits, " + x.name + " of one of " +
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
        throw SummaryError(p.from->name + " (blocks " + rangeText(p.range) + ") and " + pieces[i].from->name + " (blocks " +
                      rangeText(b) + ") overlap");
      if (b.first > next && warn) warn("blocks " + rangeText({next, b.first - next}) + " are in none of the summaries");
    }
    if (!ranges.empty() && ranges.back().first + ranges.back().count == b.first) ranges.back().count += b.count;
    else ranges.push_back(b);
  }
  for (const ReadSummary& x : slices) {
    const FileSummary::Counts c = x.summary.counts();
    const bool shorter = !c.shapes.empty() && c.shapes.front()[0] < static_cast<std::uint64_t>(n);
    if (shorter && x.ranges.back().first != pieces.back().range.first)
      throw SummaryError(x.name + " holds a shorter block, the last of a file, but other summaries hold blocks after it");
  }

  // Blocks apart from each other number below 2^64; their bits need not.
  std::uint64_t bits = 0;
  for (const ReadSummary& x : slices)
    if (__builtin_add_overflow(bits, x.summary.bits(), &bits))
      throw SummaryError("the summaries hold more than 2^64 bits together, more than any file");
  // In file order, so that the runs of the whole file meet at the seams.
  std::vector<const ReadSummary*> ordered;
  ordered.reserve(slices.size());
  for (const ReadSummary& x : slices) ordered.push_back(&x);
  std::stable_sort(ordered.begin(), ordered.end(), [](const ReadSummary* p, const ReadSummary* q) {
    return (p->ranges.empty() ? 0 : p->ranges.front().first) < (q->ranges.empty() ? 0 : q->ranges.front().first);
  });
  MergedSummary u{FileSummary(n, ranges.empty() ? 0 : ranges.front().first, allStatistics()), fileBits, ranges};
  for (const ReadSummary* x : ordered) u.summary.merge(x->summary);
  return u;
}

}  // namespace lumbra
