// lumbra-kit blocks FILE: one record per block with its p-values.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstring>
#include <string>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <tuple>
#include <vector>

#include "reading/block_meter.h"
#include "commands.h"
#include "stats/file_names.h"
#include "decimal.h"
#include "stats/distribution.h"
#include "stats/statistic.h"
#include "stats/laws_cost.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "scan.h"

namespace lumbra::kit {

namespace {

struct BlocksArgs {
  int n = default_block_size;
  std::string format;
  std::string statisticNames;
  // The statistics of columns of their own: those named besides the ones
  // and the deviation.
  std::span<const Statistic* const> statistics;
  std::vector<std::string> files;
  ScanOptions scan;
  long long maxSeconds = -1;  // -1: no limit
};

// The texts of p_ones and p_deviation, each made once per (m, k) and
// (m, k, d): a file has few of them, and their blocks many. Those of the
// block size are found by index, those of the shorter last block by key.
//
// A p_deviation costs a band pass of m rows of d cells (in long double where
// the tail is tiny), and where its double cannot be rounded to six digits
// for sure an exact count besides: m d limb additions of m / 64 limbs. A
// crafted file meets one far deviation for every k (the k ones first),
// some 2000 passes of a thousand cells a row at m = 4096: each is estimated
// before it is made and the run refused once their sum passes maxSeconds
// (< 0: never). The texts of deviations of 256 or more are kept
// by key, not in the rows by k, which a block of each k would stretch to
// d + 1 texts each.
class PValueTexts {
 public:
  PValueTexts(int n, long long maxSeconds)
      : n_(n), maxSeconds_(maxSeconds), ones_(static_cast<std::size_t>(n) + 1), deviation_(ones_.size()) {}

  const std::string& ones(int m, int k) {
    std::string& t = m == n_ ? ones_[static_cast<std::size_t>(k)] : other_[key(m, k, -1)];
    if (t.empty()) {
      Mpz num, den;
      laws_.ones(m).tailCount(num.get(), k);
      mpz_setbit(den.get(), static_cast<mp_bitcnt_t>(m));
      t = ratioText(num.get(), den.get());
    }
    return t;
  }

  const std::string& deviation(int m, int k, int d) {
    std::string* t;
    if (m == n_ && d < dense_deviations) {
      std::vector<std::string>& byD = deviation_[static_cast<std::size_t>(k)];
      if (byD.size() <= static_cast<std::size_t>(d)) byD.resize(static_cast<std::size_t>(d) + 1);
      t = &byD[static_cast<std::size_t>(d)];
    } else {
      t = &other_[key(m, k, d)];
    }
    if (t->empty()) {
      DeviationLaw& law = laws_.deviation(m, k);
      std::optional<std::string> fast;
      if (d > 0) {
        spend(tailSeconds(m, d));
        fast = approxText(law.tail(d), law.tailError());
      }
      if (fast) {
        *t = *fast;
      } else {
        spend(exactSeconds(m, d));
        Mpz num, den;
        law.tailCount(num.get(), den.get(), d);
        *t = ratioText(num.get(), den.get());
      }
      law.release();  // its center line: a file of many (m, k) would keep one each
    }
    return *t;
  }

 private:
  static std::tuple<int, int, int> key(int m, int k, int d) { return {m, k, d}; }
  static constexpr int dense_deviations = 256;
  // Processor seconds of an exact tail, m d additions of m / 64 + 1 limbs:
  // 2049 of them with d = k (m - k) / m took 54 s at m = 4096 on the 2-core
  // Xeon of docs/benchmarks.md.
  static double exactSeconds(int m, int d) {
    return 1.5e-10 * static_cast<double>(m) * static_cast<double>(d) * (static_cast<double>(m) / 64 + 1);
  }
  // A tail in floating point: a band pass of m rows of d cells, taken again
  // in long double below 1e-250 (far deviations): 4.5 ns a cell, from the
  // crafted file's 50 s at m = 4096 on the same machine (some 1.1e10 cells
  // asked for; half of them shared by k and m - k).
  static double tailSeconds(int m, int d) { return 4.5e-9 * static_cast<double>(m) * static_cast<double>(d); }
  // Counts the estimate of the next p-value, refusing it when the sum would
  // pass the limit.
  void spend(double seconds) {
    spent_ += seconds;
    if (maxSeconds_ >= 0 && spent_ > static_cast<double>(maxSeconds_))
      throw Failure("the p-values of the blocks would take about " + durationText(spent_) +
                    " so far, more than --max-seconds " + std::to_string(maxSeconds_));
  }
  int n_;
  long long maxSeconds_;
  double spent_ = 0;
  Laws laws_;
  std::vector<std::string> ones_;                    // by k
  std::vector<std::vector<std::string>> deviation_;  // by k, then d
  std::map<std::tuple<int, int, int>, std::string> other_;  // d = -1 for p_ones
};

// The texts of the p-values of the other statistics, by (statistic, m, the
// law's ones, value), each made once.
class OtherTexts {
 public:
  explicit OtherTexts(std::span<const Statistic* const> statistics) : laws_(statistics) {}

  const std::string& pValue(std::size_t s, int m, int k, int v) {
    const Statistic& statistic = *laws_.statistics()[s];
    std::string& t = texts_[{s, m, statistic.lawOnes(m, k), v}];
    if (t.empty()) {
      StatisticLaw& law = laws_.law(s, m, k);
      if (auto fast = approxText(law.pValue(v), law.pValueError())) {
        t = *fast;
      } else {
        Mpz num, den;
        law.pValueCount(num.get(), den.get(), v);
        t = ratioText(num.get(), den.get());
      }
    }
    return t;
  }

 private:
  StatisticLaws laws_;
  std::map<std::tuple<std::size_t, int, int, int>, std::string> texts_;
};

char* put(char* p, std::uint64_t v) { return std::to_chars(p, p + 24, v).ptr; }
char* put(char* p, std::string_view s) {
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

// The records of one file; `name`, when given, starts each record (its JSON
// members in jsonl, see names.h; the plain name in tsv).
void blocksOf(const BlocksArgs& a, Input& in, PValueTexts& texts, OtherTexts& others, Output& out,
              const std::string* name) {
  const bool json = a.format == "jsonl";
  std::uint64_t index = a.scan.firstBlock;
  std::size_t room = 256 + (name ? name->size() : 0);
  for (const Statistic* s : a.statistics) room += 2 * s->name().size() + 64;
  std::vector<char> line(room);
  auto record = [&](int m, const BlockShape& b) {
    const std::string& po = texts.ones(m, b.ones);
    const std::string& pd = texts.deviation(m, b.ones, b.deviation());
    char* p = line.data();
    const std::uint64_t offset = index * static_cast<std::uint64_t>(a.n);
    if (json) {
      p = put(p, "{");
      if (name) p = put(put(p, *name), ",");
      p = put(put(p, "\"block\":"), index);
      p = put(put(p, ",\"offset\":"), offset);
      p = put(put(p, ",\"length\":"), static_cast<std::uint64_t>(m));
      p = put(put(p, ",\"ones\":"), static_cast<std::uint64_t>(b.ones));
      p = put(put(p, ",\"deviation\":"), static_cast<std::uint64_t>(b.deviation()));
      p = put(put(p, ",\"p_ones\":"), po);
      p = put(put(p, ",\"p_deviation\":"), pd);
      for (std::size_t s = 0; s < a.statistics.size(); ++s) {
        const Statistic& statistic = *a.statistics[s];
        const int v = statistic.value(b);
        p = put(put(put(put(put(p, ",\""), statistic.name()), "\":"), static_cast<std::uint64_t>(v)), ",\"p_");
        p = put(put(put(p, statistic.name()), "\":"), others.pValue(s, m, b.ones, v));
      }
      p = put(p, "}\n");
    } else {
      if (name) {
        p = put(p, *name);
        *p++ = '\t';
      }
      p = put(p, index);
      *p++ = '\t';
      p = put(p, offset);
      *p++ = '\t';
      p = put(p, static_cast<std::uint64_t>(m));
      *p++ = '\t';
      p = put(p, static_cast<std::uint64_t>(b.ones));
      *p++ = '\t';
      p = put(p, static_cast<std::uint64_t>(b.deviation()));
      *p++ = '\t';
      p = put(p, po);
      *p++ = '\t';
      p = put(p, pd);
      for (std::size_t s = 0; s < a.statistics.size(); ++s) {
        const int v = a.statistics[s]->value(b);
        *p++ = '\t';
        p = put(p, static_cast<std::uint64_t>(v));
        *p++ = '\t';
        p = put(p, others.pValue(s, m, b.ones, v));
      }
      *p++ = '\n';
    }
    out << std::string_view(line.data(), static_cast<std::size_t>(p - line.data()));
    ++index;
  };
  ScanOptions scan = a.scan;
  scan.reads = blockReads(a.statistics);
  scanBlocks(in, a.n, scan, [&](const MeasuredRun& r) {
    for (std::size_t i = 0; i < r.blocks.size(); ++i) record(r.length(i), r.blocks[i]);
  });
}

// Each file in turn, the p-values' texts shared; with several, every record
// starts with its file's name (a "file" column, a "file" key). A failure
// stops the run after the records of the files before it.
int runBlocks(const BlocksArgs& a) {
  requireStandardInputOnce(a.files);
  Output out;
  PValueTexts texts(a.n, a.maxSeconds);
  OtherTexts others(a.statistics);
  const bool json = a.format == "jsonl";
  const bool several = a.files.size() > 1;
  // The first file is opened before the header, so that one that cannot be
  // opened leaves no output.
  auto in = std::make_unique<Input>(a.files.front());
  if (!json) {
    out << (several ? "file\t" : "") << "block\toffset\tlength\tones\tdeviation\tp_ones\tp_deviation";
    for (const Statistic* s : a.statistics) out << "\t" << s->name() << "\tp_" << s->name();
    out << "\n";
  }
  for (std::size_t i = 0; i < a.files.size(); ++i) {
    if (i > 0) in = std::make_unique<Input>(a.files[i]);
    const std::string name = json ? fileNameMembers(in->name()) : in->name();
    blocksOf(a, *in, texts, others, out, several ? &name : nullptr);
  }
  out.flush();
  return status_ok;
}

}  // namespace

void addBlocksCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<BlocksArgs>();
  CLI::App* cmd = app.add_subcommand("blocks", "Every block's ones, deviation and exact p-values");
  cmd->description(
      "Cuts FILE into blocks of N bits, in file order, each byte's most significant bit first; the\n"
      "last block may be shorter. A block's walk steps up for a one and down for a zero; its\n"
      "deviation d is the largest distance of the walk from the straight line to its end point.\n"
      "For every block one record: its index (from 0), the offset of its first bit in the file,\n"
      "its length m, its ones k, its deviation d and two p-values, which are small when the block\n"
      "is unlikely for a random source:\n"
      "  p_ones      = P(|K' - m/2| >= |k - m/2|), K' binomial(m, 1/2): the balance of the bits;\n"
      "  p_deviation = P(D' >= d | m, k) = (C(m, k) - C(m, k, d - 1)) / C(m, k), 1 for d = 0: the\n"
      "                arrangement of the bits, given their balance (C(m, k, d) as `count` prints).");
  addBlockSizeOption(*cmd, args->n);
  addFormatOption(*cmd, args->format, {"tsv", "jsonl"});
  cmd->add_option("--statistics", args->statisticNames,
                  "More columns: each statistic named as test --statistics names them (runs, longest_run,\n"
                  "deviation_up, deviation_down, rank, linear_complexity, collisions, or all), its value\n"
                  "and its exact p-value p_NAME, after p_deviation")
      ->type_name("LIST");
  cmd->add_option("--max-seconds", args->maxSeconds,
                  "Stop with status 2 once the p-values the blocks need are estimated to take longer\n"
                  "than S seconds on this machine, before the one that would pass it")
      ->type_name("S")
      ->transform(decimal(0, 1000000000));
  addScanOptions(*cmd, args->scan);
  addFilesArgument(*cmd, args->files);
  cmd->footer(
      "OUTPUT\n"
      "  tsv: a header line 'block offset length ones deviation p_ones p_deviation' (tab-separated),\n"
      "  then one line per block.\n"
      "  jsonl: one JSON object per block with the same keys; no header.\n"
      "  --statistics adds two columns (keys) for each statistic named: its value and p_NAME.\n"
      "  Several files are read in turn; their records start with the file's name (a first column\n"
      "  'file', a first key \"file\").\n"
      "  The p-values have six significant digits, correctly rounded (half to even) from the exact\n"
      "  value, in the shape of printf's %.6g, with no floor: 1e-700 prints as such. An empty file\n"
      "  has no blocks.\n"
      "\n"
      "SLICES AND THREADS\n"
      "  --first-block I --block-count C shows blocks I .. I+C-1 alone, with their indexes and\n"
      "  offsets in the whole file; the first starts at bit I*N, anywhere in a byte. -j N measures\n"
      "  on N threads while one reads; the records are the same bytes for any N. On a terminal a\n"
      "  progress line shows on standard error (per cent, MB/s, time left) unless --quiet.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a file that cannot be read,\n"
      "  output that cannot be written). A reader that goes away ends the output quietly.\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit blocks -n 64 random.bin | head\n"
      "  head -c 4096 /dev/urandom | lumbra-kit blocks --format jsonl -\n"
      "  lumbra-kit blocks random.bin | awk -F'\\t' 'NR > 1 && $7 < 0.001'\n"
      "  lumbra-kit blocks -n 1000 --first-block 5000 --block-count 10 big.bin\n");
  cmd->callback([args, &status] {
    if (!args->statisticNames.empty()) args->statistics = statisticsOption(args->statisticNames).subspan(2);
    status = runBlocks(*args);
  });
}

}  // namespace lumbra::kit
