// lumbra-kit count N K D: C(N, K, D), its size, C(N, K) and P(D' <= D | N, K).
#include <gmp.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <string>

#include "app.h"
#include "commands.h"
#include "count/binomial_size.h"
#include "stats/laws_cost.h"
#include "count/count.h"
#include "count/mpz.h"
#include "lumbra/error.h"
#include "decimal.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "triangle/budget.h"

namespace lumbra::kit {

namespace {

struct CountArgs {
  int n = 0, k = 0, d = 0;
  std::string format;
  long long maxSeconds = -1;  // -1: no limit
  bool quiet = false;
};

// The bytes this command holds at its peak: showC's (the engine, the count
// and its text) and besides them C(n, k), its text, the two MPFR numbers of
// the ratio (each as wide as the larger number, 64 bits more) and the
// scratch of GMP's conversion to decimal, about as large as a number again.
double countBytes(int n, int k, int d) {
  const double bits = log2Binomial(n, k) + 2;
  const double number = bits / 8 + 16, text = bits * 0.30103 + 2;
  return showCMemory(n, k, d).total() + number + text + 2 * (number + 8) + number;
}

// The seconds this command takes: the count, C(n, k) once more, the ratio
// of the two (MPFR, about as long as a binomial) and the decimal texts of
// both (GMP's conversion: 2e-12 s times B log2(B)^3 for B bits, measured
// on the machine of docs/benchmarks.md).
double countSeconds(int n, int k, int d) {
  const double texts = 2 * 2e-12 * bigNumberWork(log2Binomial(n, k) + 2);
  return countWalksSeconds(n, k, d) + 2 * binomialSeconds(n, k) + texts;
}

int runCount(const CountArgs& a) {
  if (a.k > a.n) throw lumbra::ArgumentError("K must be 0 to N, not " + std::to_string(a.k));
  if (a.d > a.n) throw lumbra::ArgumentError("D must be 0 to N, not " + std::to_string(a.d));
  const std::string n = std::to_string(a.n), k = std::to_string(a.k), d = std::to_string(a.d);
  // What this command holds is checked first (it holds more than the count).
  const std::string shortfall = memoryShortfall(countBytes(a.n, a.k, a.d), memoryLimit());
  if (!shortfall.empty()) throw Failure("count " + n + " " + k + " " + d + " " + shortfall);
  const double seconds = countSeconds(a.n, a.k, a.d);
  if (a.maxSeconds >= 0 && seconds > static_cast<double>(a.maxSeconds))
    throw Failure("count " + n + " " + k + " " + d + " would take about " + durationText(seconds) +
                  ", more than --max-seconds " + std::to_string(a.maxSeconds));
  Progress progress(a.quiet);
  const bool shown = seconds > shown_above && progress.shows();
  if (shown) progress.note("count " + n + " " + k + " " + d + ": estimated at about " + durationText(seconds));
  Mpz count, total;
  const CountStop watch = [&](double done) {
    if (shown) progress.share("count", done);
    return false;
  };
  countWalks(count.get(), a.n, a.k, a.d, 0, watch);
  mpz_bin_uiui(total.get(), static_cast<unsigned long>(a.n), static_cast<unsigned long>(a.k));
  const std::string p = ratioText(count.get(), total.get(), a.format == "json" ? 17 : 6);
  const std::string countText = decimalText(count.get()), totalText = decimalText(total.get());
  const std::string bits = std::to_string(mpz_sgn(count.get()) == 0 ? 0 : mpz_sizeinbase(count.get(), 2));
  progress.finish();

  Output out;
  if (a.format == "json") {
    // NOTE: written by hand: the probability is decimal text that may be
    // below any double (1e-700 is a valid JSON number, a double would be 0).
    out << "{\"n\":" << n << ",\"k\":" << k << ",\"d\":" << d << ",\"count\":\"" << countText
        << "\",\"bits\":" << bits << ",\"total\":\"" << totalText << "\",\"probability\":" << p << "}\n";
  } else {
    out << "C(" << n << ", " << k << ", " << d << ") = " << countText << '\n'
        << "bits: " << bits << '\n'
        << "C(" << n << ", " << k << ") = " << totalText << '\n'
        << "P(D <= " << d << " | " << n << ", " << k << ") = " << p << '\n';
  }
  out.flush();
  return status_ok;
}

}  // namespace

void addCountCommand(CLI::App& app, int& status) {
  auto args = std::make_shared<CountArgs>();
  CLI::App* cmd = app.add_subcommand("count", "The exact count C(N, K, D) and the probability of a deviation");
  cmd->description(
      "The exact count C(N, K, D): how many N-bit blocks with K one bits have a walk that stays\n"
      "within D of the center line from (0, 0) to (N, 2K - N) (a one steps up, a zero down). Also its\n"
      "size in bits, the number C(N, K) of all N-bit blocks with K ones, and the probability\n"
      "P(D' <= D | N, K) = C(N, K, D) / C(N, K) that such a block's deviation D' is at most D.");
  cmd->add_option("N", args->n, "Bits per block, 1 to 2147483646")->required()->transform(decimal(1, 2147483646));
  cmd->add_option("K", args->k, "One bits per block, 0 to N")->required()->transform(decimal(0, 2147483646));
  cmd->add_option("D", args->d, "Half-width of the band, 0 to N")->required()->transform(decimal(0, 2147483646));
  addFormatOption(*cmd, args->format, {"text", "json"});
  cmd->add_option("--max-seconds", args->maxSeconds,
                  "Refuse a count estimated to take longer than S seconds on this machine (status 2)")
      ->type_name("S")
      ->transform(decimal(0, 1000000000));
  cmd->add_flag("-q,--quiet", args->quiet, "No estimate and no progress line on standard error");
  cmd->footer(
      "OUTPUT\n"
      "  text: four lines, 'C(N, K, D) = COUNT', 'bits: B', 'C(N, K) = TOTAL' and\n"
      "  \"P(D' <= D | N, K) = P\" with the numbers in place.\n"
      "  json: one line {\"n\":N, \"k\":K, \"d\":D, \"count\":\"COUNT\", \"bits\":B, \"total\":\"TOTAL\",\n"
      "  \"probability\":P}; the counts are decimal strings, since they exceed any JSON number.\n"
      "  P is correctly rounded (half to even) from the exact ratio, to six significant digits in\n"
      "  text (printf's %.6g) and to 17 in JSON (full precision), with no floor: 1e-700 prints\n"
      "  as such.\n"
      "\n"
      "TIME\n"
      "  Before it starts, count estimates its time from N, K and D (from the cells and\n"
      "  limbs of the rows it adds, or the closed form it takes). On a terminal, an\n"
      "  estimate above 3 seconds is shown, then a progress line that is wiped at the end\n"
      "  (not with --quiet). --max-seconds S refuses, with status 2, a count estimated\n"
      "  above S seconds. The estimate is within a factor of 2 or so of the time taken\n"
      "  where that is above a second; a loaded machine takes longer.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (work that needs more\n"
      "  memory than the machine has, or more time than --max-seconds, output that cannot\n"
      "  be written).\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit count 10 5 2\n"
      "  lumbra-kit count 1024 512 40 --format json\n"
      "  lumbra-kit count --max-seconds 60 4000000 2000000 1\n");
  cmd->callback([args, &status] { status = runCount(*args); });
}

}  // namespace lumbra::kit
