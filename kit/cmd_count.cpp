// lumbra-kit count N K D: C(N, K, D), its size, C(N, K) and P(D' <= D | N, K).
#include <gmp.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <string>

#include "commands.h"
#include "triangle/budget.h"
#include "count/count.h"
#include "decimal.h"
#include "stats/distribution.h"
#include "options.h"
#include "output.h"

namespace lumbra::kit {

namespace {

struct CountArgs {
  int n = 0, k = 0, d = 0;
  std::string format;
};

std::string digits(mpz_srcptr v) {
  std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, v);
  s.resize(std::char_traits<char>::length(s.c_str()));
  return s;
}

// The bytes count holds at its peak: showC's (the engine, the count and its
// text) and besides them C(n, k), its text, the two MPFR numbers of the
// ratio (each as wide as the larger number, 64 bits more) and the scratch
// of GMP's conversion to decimal, about as large as a number again.
double countBytes(int n, int k, int d) {
  const double bits = (std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0)) / std::log(2.0) + 2;
  const double number = bits / 8 + 16, text = bits * 0.30103 + 2;
  return showCMemory(n, k, d).total() + number + text + 2 * (number + 8) + number;
}

int runCount(const CountArgs& a) {
  if (a.n < 1 || a.n > 2147483646) throw UsageError("N must be 1 to 2147483646, not " + std::to_string(a.n));
  if (a.k < 0 || a.k > a.n) throw UsageError("K must be 0 to N, not " + std::to_string(a.k));
  if (a.d < 0 || a.d > a.n) throw UsageError("D must be 0 to N, not " + std::to_string(a.d));
  // Work the machine cannot hold is refused before it starts.
  const std::string shortfall = memoryShortfall(countBytes(a.n, a.k, a.d), memoryLimit());
  if (!shortfall.empty())
    throw Failure("count " + std::to_string(a.n) + " " + std::to_string(a.k) + " " + std::to_string(a.d) + " " +
                  shortfall);
  Mpz count, total;
  countWalks(count.get(), a.n, a.k, a.d);
  mpz_bin_uiui(total.get(), static_cast<unsigned long>(a.n), static_cast<unsigned long>(a.k));
  const std::size_t bits = mpz_sgn(count.get()) == 0 ? 0 : mpz_sizeinbase(count.get(), 2);
  const std::string p = ratioText(count.get(), total.get());
  const std::string n = std::to_string(a.n), k = std::to_string(a.k), d = std::to_string(a.d);

  Output out;
  if (a.format == "json") {
    // NOTE: written by hand: the probability is decimal text that may be
    // below any double (1e-700 is a valid JSON number, a double would be 0).
    out << "{\"n\":" << n << ",\"k\":" << k << ",\"d\":" << d << ",\"count\":\"" << digits(count.get())
        << "\",\"bits\":" << std::to_string(bits) << ",\"total\":\"" << digits(total.get())
        << "\",\"probability\":" << p << "}\n";
  } else {
    out << "C(" << n << ", " << k << ", " << d << ") = " << digits(count.get()) << '\n'
        << "bits: " << std::to_string(bits) << '\n'
        << "C(" << n << ", " << k << ") = " << digits(total.get()) << '\n'
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
