// lumbra-kit test FILE: the verdict on a whole file, from the p-values of
// its blocks.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <unistd.h>
#include <map>
#include <sys/stat.h>

#include "commands.h"
#include "app.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "scan.h"
#include "summary_report.h"
#include "reading/stream_summary.h"

namespace lumbra::kit {

namespace {

// The names of summaryStatistics(), by commas.
std::string defaultStatisticNames() {
  std::string names;
  for (const Statistic* s : summaryStatistics()) {
    if (!names.empty()) names += ',';
    names += s->name();
  }
  return names;
}

struct TestArgs {
  std::vector<int> sizes;
  std::string statisticNames = defaultStatisticNames();
  std::span<const Statistic* const> statistics = summaryStatistics();
  int n = default_block_size;  // the one size, when one is given
  std::vector<std::string> files;
  ReportOptions report;
  ScanOptions scan;
  long long maxSeconds = -1;  // -1: no limit
  // --doubling: a report at firstReport bytes and at every doubling after it.
  bool doubling = false;
  std::string firstReport = "1MiB";
  std::string maxBytes;
};

// The picture of `file` in --plot-dir: its last path component and .svg
// ("stdin.svg" for standard input).
std::string plotPath(const std::string& dir, const std::string& file) {
  if (file == "-") return dir + "/stdin.svg";
  std::string base = file;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::size_t slash = base.rfind('/');
  if (slash != std::string::npos) base.erase(0, slash + 1);
  return dir + "/" + base + ".svg";
}

// --plot-dir, before any file is read: the folder made when missing, and
// every picture's name checked, so that no run stops halfway for a name
// that two inputs share or a picture that exists (without --force).
void plotDestinations(const TestArgs& a) {
  const std::string& dir = a.report.plotDir;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT || ::mkdir(dir.c_str(), 0777) != 0)
      throw Failure("can't make the folder " + dir + " for --plot-dir: " + std::strerror(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    throw Failure("--plot-dir " + dir + " is not a folder");
  }
  std::map<std::string, const std::string*> drawnAs;
  for (const std::string& file : a.files) {
    const std::string path = plotPath(dir, file);
    const auto [at, added] = drawnAs.emplace(path, &file);
    if (!added) {
      std::string why = "--plot-dir: ";
      why.append(*at->second).append(" and ").append(file).append(" would both be drawn as ").append(path);
      throw UsageError(why.append("; give them in separate runs or with separate --plot-dir folders"));
    }
    if (!a.report.force && ::lstat(path.c_str(), &st) == 0)
      throw Failure(path + " exists; use --force to replace it");
  }
}

int testFile(const TestArgs& a, const std::string& file, bool several) {
  ReportOptions options = a.report;
  if (!a.report.plotDir.empty()) options.plot = plotPath(a.report.plotDir, file);
  openPlot(options);
  Input in(file);
  StatisticLaws laws(a.statistics);
  FileSummary s(a.n, a.scan.firstBlock, a.statistics);
  const bool drawn = !a.report.plot.empty() || !a.report.plotDir.empty();
  LeastPWindows where(a.scan.firstBlock, 1024, a.statistics);
  ScanOptions scan = a.scan;
  scan.reads = blockReads(a.statistics);
  const int size[] = {a.n};
  scan.digests = summaryDigests(size, a.statistics);
  scanBlocks(in, a.n, scan, [&](const MeasuredRun& r) {
    s.add(r);
    if (drawn)
      for (std::size_t i = 0; i < r.blocks.size(); ++i) where.add(r.length(i), r.blocks[i]);
  });
  const bool sliced = a.scan.firstBlock > 0 || a.scan.blockCount != ScanOptions{}.blockCount;
  const bool histogram = needsHistogram(a.report);
  refuseCostlyLaws(s, histogram, a.maxSeconds, in.name());
  {
    Progress progress(a.scan.quiet);
    s.settle(laws, scanThreads(a.scan), histogram,
             [&](std::size_t done, std::size_t total) { progress.count("laws", done, total, "(m, k)"); });
  }
  SummaryReport report = reportOf(s, laws, histogram);
  if (drawn) report.where = where.windows(laws);
  report.file = in.name();
  if (in.regular()) report.fileBits = 8 * in.size();
  return printReport(report, options,
                     sliced ? "the slice of " + in.name() + " has no blocks" : in.name() + " is empty", several);
}

// One file at several block sizes, read once.
int testSizes(const TestArgs& a, const std::string& file, bool several) {
  Input in(file);
  std::vector<FileSummary> summaries;
  for (int n : a.sizes) summaries.emplace_back(n, 0, a.statistics);
  ScanOptions scan = a.scan;
  scan.reads = blockReads(a.statistics);
  scan.digests = summaryDigests(a.sizes, a.statistics);
  scanSizes(in, a.sizes, scan, [&](std::size_t i, const MeasuredRun& r) {
    summaries[i].add(r);
  });
  const bool histogram = needsHistogram(a.report);
  std::vector<SummaryReport> reports;
  for (FileSummary& s : summaries) {
    // NOTE: the laws of one size serve no other (their blocks' lengths
    // differ), and are given back before the next size's are made.
    StatisticLaws laws(a.statistics);
    refuseCostlyLaws(s, histogram, a.maxSeconds, in.name() + " (n = " + std::to_string(s.blockSize()) + ")");
    {
      Progress progress(a.scan.quiet);
      const std::string what = "laws (n = " + std::to_string(s.blockSize()) + ")";
      s.settle(laws, scanThreads(a.scan), histogram, [&](std::size_t done, std::size_t total) {
        progress.count(what.c_str(), done, total, "(m, k)");
      });
    }
    reports.push_back(reportOf(s, laws, histogram));
    reports.back().file = in.name();
    if (in.regular()) reports.back().fileBits = 8 * in.size();
    s = FileSummary(s.blockSize(), 0, a.statistics);
  }
  return printSizes(reports, a.report, in.name() + " is empty", several);
}

// A size in bytes: a whole number, perhaps followed by KiB, MiB, GiB, TiB
// (powers of 1024) or KB, MB, GB, TB (of 1000), at least 1 and below 2^64.
std::uint64_t sizeOption(const std::string& option, const std::string& text) {
  static constexpr std::pair<const char*, std::uint64_t> units[] = {
      {"", 1},
      {"KiB", std::uint64_t{1} << 10}, {"MiB", std::uint64_t{1} << 20},
      {"GiB", std::uint64_t{1} << 30}, {"TiB", std::uint64_t{1} << 40},
      {"KB", 1000},                    {"MB", 1000000},
      {"GB", 1000000000},              {"TB", 1000000000000}};
  const auto refused = [&] {
    return UsageError(option + ": '" + text +
                      "' is not a size: a whole number of bytes from 1, alone or with KiB, MiB, GiB, TiB, KB, MB, GB or TB");
  };
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 19) throw refused();
  const std::string unit = text.substr(digits);
  for (const auto& [name, scale] : units) {
    if (unit != name) continue;
    const std::uint64_t count = std::stoull(text.substr(0, digits));
    std::uint64_t bytes = 0;
    if (count == 0 || __builtin_mul_overflow(count, scale, &bytes)) throw refused();
    return bytes;
  }
  throw refused();
}

// --doubling: the input read on, with the verdict on everything read so
// far at firstReport bytes and at every doubling after it, until a verdict
// is "not random" (status_verdict), the input ends or maxBytes are read.
// Each report is the output of `test` of the bytes read so far (its JSON to
// the byte), from running summaries that never read a byte twice.
int runDoubling(const TestArgs& a) {
  const std::uint64_t firstReport = sizeOption("--first-report", a.firstReport);
  const std::uint64_t maxBytes =
      a.maxBytes.empty() ? std::numeric_limits<std::uint64_t>::max() : sizeOption("--max-bytes", a.maxBytes);
  Input in(a.files.front());
  const unsigned threads = scanThreads(a.scan);
  std::deque<StreamSummary> streams;
  std::deque<StatisticLaws> laws;
  for (int n : a.sizes) {
    streams.emplace_back(n, a.statistics, threads);
    laws.emplace_back(a.statistics);
  }
  const bool json = a.report.format == "json";
  const double failBelow = a.report.failBelow < 0 ? 1e-4 : a.report.failBelow;
  std::uint64_t read = 0, reported = 0, target = std::min(firstReport, maxBytes);
  bool ended = false, anyReport = false;
  // One read at a time, at most to the target: so the reading stops there.
  const auto readTo = [&](unsigned char* p, std::size_t size) -> std::size_t {
    if (ended || read >= target) return 0;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, target - read));
    for (;;) {
      const ssize_t got = ::read(in.fd(), p, want);
      if (got > 0) {
        read += static_cast<std::uint64_t>(got);
        return static_cast<std::size_t>(got);
      }
      if (got == 0) {
        ended = true;
        return 0;
      }
      if (errno != EINTR) throw Failure("can't read " + in.name() + ": " + std::strerror(errno));
    }
  };
  std::vector<unsigned char> piece;
  // NOTE: a report's whole-file p-values (tens of ms in MPFR at 2^30 bits)
  // and its printing run on a thread of their own while the next bytes are
  // read; the next report waits for them, so the reports come in order and
  // the run stops at the first "not random", with the same output.
  std::future<int> printing;
  const auto printed = [&] { return printing.valid() ? printing.get() : status_ok; };
  for (;;) {
    if (streams.size() == 1) {
      streams.front().feed(readTo);
    } else {
      // NOTE: several sizes take the same bytes, a piece at a time.
      piece.resize(std::size_t{16} << 20);
      for (std::size_t got; (got = readTo(piece.data(), piece.size())) > 0;) {
        std::size_t more;
        while (got < piece.size() && (more = readTo(piece.data() + got, piece.size() - got)) > 0) got += more;
        for (StreamSummary& s : streams) s.feed(std::span<const unsigned char>(piece.data(), got));
      }
    }
    if (printed() == status_verdict) return status_verdict;
    if (read > reported || !anyReport) {
      auto reports = std::make_shared<std::vector<SummaryReport>>();
      const bool histogram = json;
      for (std::size_t i = 0; i < streams.size(); ++i) {
        const FileSummary s = streams[i].summary(laws[i], histogram);
        reports->push_back(reportOf(s, laws[i], histogram, false));
        reports->back().file = in.name();
        if (in.regular()) reports->back().fileBits = 8 * read;
      }
      const auto print = [reports, json, failBelow, bytes = read, options = a.report, name = in.name()]() mutable {
        const struct Release {
          ~Release() { releaseThreadCaches(); }
        } release;
        for (SummaryReport& r : *reports) {
          const bool runsHeld = r.wholeFile.bits.has_value();
          r.wholeFile = wholeFileOf(runsHeld ? *r.wholeFile.bits : FileBits{r.bits, r.ones, 0, 0, 0}, runsHeld);
        }
        if (!json) return printDoublingLine(*reports, bytes, failBelow);
        options.failBelow = failBelow;
        return reports->size() == 1 ? printReport(reports->front(), options, name + " is empty")
                                    : printSizes(*reports, options, name + " is empty");
      };
      try {
        printing = std::async(std::launch::async, print);
      } catch (const std::system_error&) {
        printing = std::async(std::launch::deferred, print);
      }
      reported = read;
      anyReport = true;
    }
    if (ended || read >= maxBytes) return printed();
    target = target > maxBytes / 2 ? maxBytes : std::min(maxBytes, 2 * target);
  }
}

// The help of --statistics, from the list of statistics: their names, the
// first two always judged, and the default, filled into lines of at most
// 90 characters.
std::string statisticsHelp() {
  std::string text = "The statistics to judge, by name:";
  const auto all = allStatistics();
  for (std::size_t i = 0; i < all.size(); ++i) {
    text += " ";
    text += all[i]->name();
    text += i == 1 ? " (always judged)," : i + 1 < all.size() ? "," : ";";
  }
  text += " or all (default " + defaultStatisticNames() + ")";
  std::string filled;
  std::size_t line = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::size_t word = end - at;
    if (line > 0 && line + 1 + word > 90) {
      filled += '\n';
      line = 0;
    } else if (line > 0) {
      filled += ' ';
      ++line;
    }
    filled.append(text, at, word);
    line += word;
    at = end + 1;
  }
  return filled;
}

// Each file in turn; the status is the worst of theirs (a failure stops the
// run, after the summaries of the files before it).
int runTest(const TestArgs& a) {
  const bool several = a.files.size() > 1;
  requireStandardInputOnce(a.files);
  if (several && !a.report.plot.empty())
    throw UsageError("--plot draws one file; with several, --plot-dir DIR draws one picture each");
  const bool sizes = a.sizes.size() > 1;
  for (std::size_t i = 0; i < a.sizes.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (a.sizes[i] == a.sizes[j])
        throw UsageError("-n: block size " + std::to_string(a.sizes[i]) + " is given twice");
  if (sizes && (a.scan.firstBlock != 0 || a.scan.blockCount != ScanOptions{}.blockCount))
    throw UsageError("--first-block and --block-count slice blocks of one size; give -n one size");
  if (sizes && (!a.report.plot.empty() || !a.report.plotDir.empty()))
    throw UsageError("--plot and --plot-dir draw blocks of one size; give -n one size");
  if (a.doubling) {
    if (several) throw UsageError("--doubling reads one input");
    if (!a.report.plot.empty() || !a.report.plotDir.empty())
      throw UsageError("--doubling prints reports; --plot and --plot-dir draw a whole file");
    if (a.scan.firstBlock != 0 || a.scan.blockCount != ScanOptions{}.blockCount)
      throw UsageError("--doubling reads from the start; --first-block and --block-count slice a file");
    return runDoubling(a);
  }
  if (!a.maxBytes.empty() || a.firstReport != TestArgs{}.firstReport)
    throw UsageError("--first-report and --max-bytes go with --doubling");
  if (!a.report.plotDir.empty()) plotDestinations(a);
  int status = status_ok;
  for (const std::string& file : a.files) {
    if (several && a.report.format != "json" && &file != &a.files.front()) {
      Output gap;  // a blank line between the summaries of the text form
      gap << '\n';
      gap.flush();
    }
    status = std::max(status, sizes ? testSizes(a, file, several) : testFile(a, file, several));
  }
  return status;
}

}  // namespace

void addTestCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<TestArgs>();
  CLI::App* cmd = app.add_subcommand("test", "The verdict on a whole file: do its blocks look random?");
  cmd->description(
      "Cuts FILE into blocks of N bits as `blocks` does and judges the file by four statistics\n"
      "of its blocks: the ones (p_ones, the balance of the bits), the deviation (p_deviation, the\n"
      "arrangement of the bits given their balance), the runs (the number of runs of equal\n"
      "bits given the balance, two-sided: too few, bits that stick; too many, bits that\n"
      "alternate) and the rank (the block as rows of 32 bits, 64 from 4096 bits, at most as\n"
      "many rows as columns, the bits past them unread: its rank over GF(2) given the block's\n"
      "length, a low rank extreme; a linear generator gives every block full rank);\n"
      "--statistics adds the longest run of equal bits and the walk's rise over and fall under\n"
      "its center line (each one-sided, given the balance), linear_complexity (the shortest\n"
      "linear feedback shift register that makes the bits, two-sided about half the length) and\n"
      "collisions (the repeated values among the block's words of t bits, t the least with at\n"
      "most 5 expected: 5 for 64 bits, 11 for 1024, 14 for 4096; too many extreme), each of the\n"
      "last two given the block's length alone. For each:\n"
      "  passing   the blocks whose p-value is at least 0.01, against its exact expectation (the\n"
      "            sum over the blocks of the probability to pass, since the p-values are\n"
      "            discrete), its standard deviation and the z-score;\n"
      "  bins      the p-values in ten bins [0, 0.1), ..., [0.9, 1] (decided exactly), against the\n"
      "            expected count of each bin;\n"
      "  chi2      the chi-square statistic of observed against expected counts over groups of\n"
      "            adjacent bins (from the lowest bin up, a group closes once its expected count\n"
      "            reaches 5; a last group below 5 joins the one before): the quadratic form of\n"
      "            observed - expected over the counts' exact covariance (the blocks' bin\n"
      "            probabilities differ with their ones), its degrees of freedom (the covariance's\n"
      "            rank, groups - 1 unless some groups cannot vary apart) and its p-value; none\n"
      "            with fewer than two groups.\n"
      "A small chi-square p-value says the blocks' p-values are not spread as those of a random\n"
      "source are. Beside the blocks, the whole file: its balance (its ones against fair coin\n"
      "flips) and its runs of equal bits given its ones (too few: bits that stick; too many: bits\n"
      "that alternate), each an exact two-sided p-value.");
  addBlockSizesOption(*cmd, args->sizes);
  cmd->add_option("--statistics", args->statisticNames, statisticsHelp())
      ->type_name("LIST");
  cmd->add_option("--max-seconds", args->maxSeconds,
                  "Refuse a file whose laws are estimated to take longer than S seconds on this machine\n"
                  "(status 2, before they are made)")
      ->type_name("S")
      ->transform(decimal(0, 1000000000));
  addReportOptions(*cmd, args->report, true);
  cmd->add_flag("--doubling", args->doubling,
                "Report on everything read so far at 1 MiB and at every doubling after it, and stop at the\n"
                "first report whose verdict is not random (--fail-below, 1e-4 unless given)");
  cmd->add_option("--first-report", args->firstReport, "With --doubling, the first report at SIZE (default 1MiB)")
      ->type_name("SIZE");
  cmd->add_option("--max-bytes", args->maxBytes, "With --doubling, stop after SIZE bytes, reporting there")
      ->type_name("SIZE");
  addScanOptions(*cmd, args->scan);
  addFilesArgument(*cmd, args->files);
  cmd->footer(
      "OUTPUT\n"
      "  text: the blocks and bits, then a row for each statistic ('-' where there is none):\n"
      "    passing   the blocks whose p-value is at least 0.01;\n"
      "    expected  how many would pass from a random source (their probabilities summed);\n"
      "    z         (passing - expected) / its standard deviation: beyond 3 either way is rare;\n"
      "    chi2      the chi-square statistic of the ten bins against their expected counts;\n"
      "    dof       its degrees of freedom (the rank of the counts' covariance: groups - 1);\n"
      "    p-value   the chance of a chi2 this large from a random source, however small (MPFR).\n"
      "  Then one line in plain words for each: 'looks random' for a chi-square p-value of at\n"
      "  least 0.01, 'is suspicious' from 1e-4 to 0.01, 'is not random' below 1e-4; or why there\n"
      "  is nothing to judge; and the same words for the whole file's balance and runs, by their\n"
      "  own p-values. The words read the chi-square p-value and nothing else: z is shown beside\n"
      "  it. A large |z| with a calm chi-square says that the blocks below 0.01 are too many (z\n"
      "  below 0) or too few, while the spread over the ten bins, which weighs that tail as one\n"
      "  bin of ten, is not unusual: worth a second look with more data, not a verdict. A good\n"
      "  source shows a line 'is suspicious' (or worse) in about 4 runs of 100 with the default\n"
      "  statistics (five lines, each about 1 in 100; measured: 39 of 1000 files of 256 KiB).\n"
      "  An empty file has nothing to judge. Several files: one summary each, after a line\n"
      "  'file NAME'; the status is the worst of theirs.\n"
      "  json: one line {\"block_size\", \"first_block\", \"block_count\", \"blocks\", \"bits\", \"ones\",\n"
      "  \"tests\": {\"ones\": T, \"deviation\": T}, \"whole_file\": {\"balance\": P,\n"
      "  \"runs\", \"first_bit\", \"last_bit\", \"runs_test\": P}, \"deviations\": {\"observed\":\n"
      "  [blocks with deviation d, d = 0 .. the largest], \"expected\": [their expectation]}}, each\n"
      "  P {\"p_value\", \"ln_p\": [low, high]} (null for an empty file), each T with \"passing\",\n"
      "  \"passing_expected\", \"passing_variance\", \"passing_sd\", \"passing_z\", \"bins_observed\",\n"
      "  \"bins_expected\", \"chi2\", \"dof\", \"p_value\" (null where there is none), and \"shapes\":\n"
      "  [[m, k, blocks] for every length m and ones k seen]. Sums are written at full precision;\n"
      "  the expected deviations leave out terms below 1e-30 of the blocks. With several files, one\n"
      "  line each with a first key \"file\".\n"
      "  first_block and block_count say which blocks a slice covered; `merge` takes the summaries\n"
      "  of slices to the summary of their union (summaries of lumbra-kit 1.0, with \"ones_test\"\n"
      "  and \"deviation_test\" alone, too: the union judges what all of them hold).\n"
      "  Several block sizes (-n 64,256,1024,4096): the file is read once; text, each size's\n"
      "  blocks line and table, then a verdict line for each statistic by its least chi-square\n"
      "  p-value over the sizes times the number of sizes that judged it (at most 1), and the\n"
      "  whole file's lines; json, one line {\"block_sizes\", \"summaries\": [each size's object\n"
      "  as above], \"verdict\": {NAME: {\"p_value\" (adjusted), \"least_p_value\", \"block_size\",\n"
      "  \"sizes_judged\"}}}. --fail-below then judges the adjusted p-values; slices and\n"
      "  pictures take one size.\n"
      "  --plot: the ten bins of each statistic (observed bars, expected marks, the chi-square\n"
      "  p-value in the title), the deviations against their expectation, and where in the file\n"
      "  the unusual blocks are (the least p-value of each window of blocks, on a log scale), as\n"
      "  one SVG with no script and no outside file or font. It is written beside FILE.svg and\n"
      "  renamed into place, after the summary is printed. With several files, --plot-dir DIR\n"
      "  draws DIR/NAME.svg each.\n"
      "\n"
      "SLICES AND THREADS\n"
      "  --first-block I --block-count C judges blocks I .. I+C-1 alone; the first starts at bit\n"
      "  I*N, anywhere in a byte. Slices of one file, judged apart (on other machines, say), merge\n"
      "  into the verdict on their union with `lumbra-kit merge`. -j N measures on N threads while\n"
      "  one reads; the output is the same for any N. On a terminal a progress line shows on\n"
      "  standard error (per cent, MB/s, time left) unless --quiet.\n"
      "\n"
      "A STREAM\n"
      "  --doubling reads one input (a file or -) on and reports at 1 MiB (--first-report SIZE)\n"
      "  and at every doubling after it on everything read so far: in text one line each (the\n"
      "  size read, the least p-value with its statistic and block size, and the words), in json\n"
      "  one line each, the summary test prints for those bytes. It stops at the first report\n"
      "  whose verdict is not random under --fail-below (1e-4 unless given; status 3), at the end\n"
      "  of the input or at --max-bytes SIZE (status 0). SIZE: bytes, or with KiB, MiB, GiB, TiB,\n"
      "  KB, MB, GB, TB.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (a file that cannot be read,\n"
      "  output or a picture that cannot be written); 3 with --fail-below, a chi-square (with\n"
      "  several sizes, an adjusted) or a whole-file p-value below A.\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit test random.bin\n"
      "  generator | head -c 100000000 | lumbra-kit test --fail-below 0.001 -\n"
      "  generator | lumbra-kit test --doubling --max-bytes 1GiB -\n"
      "  lumbra-kit test -n 256 --format json random.bin\n"
      "  lumbra-kit test -n 64,256,1024,4096 random.bin\n"
      "  lumbra-kit test --statistics all random.bin\n"
      "  lumbra-kit test --plot random.svg random.bin\n"
      "  lumbra-kit test --first-block 1000000 --block-count 1000000 --format json big.bin > s2.json\n");
  cmd->callback([args, &status] {
    args->n = args->sizes.front();
    args->statistics = statisticsOption(args->statisticNames);
    status = runTest(*args);
  });
}

}  // namespace lumbra::kit
