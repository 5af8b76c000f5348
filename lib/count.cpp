#include "lumbra/count.h"

#include <limits>

#include "bridge.h"
#include "guard.h"
#include "count/binomial_size.h"
#include "count/count.h"
#include "count/mpz.h"
#include "triangle/budget.h"

namespace lumbra {

BigNat count(int n, int k, int d, const CountOptions& options) {
  return api::guarded([&]() -> BigNat {
    api::requireRange("N", n, 1, 2147483646);
    api::requireRange("K", k, 0, n, "N");
    api::requireRange("D", d, 0, n, "N");
    // Work the machine cannot hold is refused before it starts.
    const std::string shortfall = memoryShortfall(showCMemory(n, k, d).total(), memoryLimit());
    if (!shortfall.empty())
      throw ResourceError("count " + std::to_string(n) + " " + std::to_string(k) + " " + std::to_string(d) + " " +
                          shortfall);
    Mpz c;
    CountStop stop;
    if (options.stop) stop = [&options](double) { return options.stop(); };
    if (!countWalks(c.get(), n, k, d, options.threads, stop)) throw Cancelled("the count was stopped");
    return api::toBigNat(c.get());
  });
}

BigNat binomial(int n, int k) {
  return api::guarded([&]() -> BigNat {
    api::requireRange("N", n, 0, 2147483646);
    api::requireRange("K", k, 0, n, "N");
    // NOTE: mpz_bin_uiui keeps partial products about as large as the
    // result beside it, and the BigNat is a copy: four times the result.
    const double need = 4 * (log2BinomialAbove(n, k) / 8 + 64);
    const std::string shortfall = memoryShortfall(need, memoryLimit());
    if (!shortfall.empty())
      throw ResourceError("binomial " + std::to_string(n) + " " + std::to_string(k) + " " + shortfall);
    Mpz c;
    mpz_bin_uiui(c.get(), static_cast<unsigned long>(n), static_cast<unsigned long>(k));
    return api::toBigNat(c.get());
  });
}

}  // namespace lumbra
