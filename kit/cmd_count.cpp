// lumbra-kit count N K D: C(N, K, D), its size, C(N, K) and P(D' <= D | N, K).
#include <CLI/CLI.hpp>
#include <cmath>
#include <string>

#include "commands.h"
#include "count/binomial_size.h"
#include "decimal.h"
#include "lumbra/count.h"
#include "options.h"
#include "output.h"
#include "triangle/budget.h"

namespace lumbra::kit {

namespace {

struct CountArgs {
  int n = 0, k = 0, d = 0;
  std::string format;
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

int runCount(const CountArgs& a) {
  // The library refuses N, K, D out of range (status 1) and a count the
  // machine cannot hold (status 2) in the words this command prints; what
  // this command holds besides the count is checked here first.
  if (a.n >= 1 && a.k >= 0 && a.k <= a.n && a.d >= 0 && a.d <= a.n) {
    const std::string shortfall = memoryShortfall(countBytes(a.n, a.k, a.d), memoryLimit());
    if (!shortfall.empty())
      throw Failure("count " + std::to_string(a.n) + " " + std::to_string(a.k) + " " + std::to_string(a.d) + " " +
                    shortfall);
  }
  const BigNat count = lumbra::count(a.n, a.k, a.d);
  const BigNat total = lumbra::binomial(a.n, a.k);
  const std::string p = ratioText(count, total);
  const std::string n = std::to_string(a.n), k = std::to_string(a.k), d = std::to_string(a.d);

  Output out;
  if (a.format == "json") {
    // NOTE: written by hand: the probability is decimal text that may be
    // below any double (1e-700 is a valid JSON number, a double would be 0).
    out << "{\"n\":" << n << ",\"k\":" << k << ",\"d\":" << d << ",\"count\":\"" << count.to_string()
        << "\",\"bits\":" << std::to_string(count.bit_length()) << ",\"total\":\"" << total.to_string()
        << "\",\"probability\":" << p << "}\n";
  } else {
    out << "C(" << n << ", " << k << ", " << d << ") = " << count.to_string() << '\n'
        << "bits: " << std::to_string(count.bit_length()) << '\n'
        << "C(" << n << ", " << k << ") = " << total.to_string() << '\n'
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
  cmd->footer(
      "OUTPUT\n"
      "  text: four lines, 'C(N, K, D) = COUNT', 'bits: B', 'C(N, K) = TOTAL' and\n"
      "  \"P(D' <= D | N, K) = P\" with the numbers in place.\n"
      "  json: one line {\"n\":N, \"k\":K, \"d\":D, \"count\":\"COUNT\", \"bits\":B, \"total\":\"TOTAL\",\n"
      "  \"probability\":P}; the counts are decimal strings, since they exceed any JSON number.\n"
      "  P has six significant digits, correctly rounded (half to even) from the exact ratio, in\n"
      "  the shape of printf's %.6g, and no floor: 1e-700 prints as such.\n"
      "\n"
      "EXIT STATUS\n"
      "  0 done; 1 a refused command line; 2 a failure while running (work that needs more\n"
      "  memory than the machine has, output that cannot be written).\n"
      "\n"
      "EXAMPLES\n"
      "  lumbra-kit count 10 5 2\n"
      "  lumbra-kit count 1024 512 40 --format json\n");
  cmd->callback([args, &status] { status = runCount(*args); });
}

}  // namespace lumbra::kit
