#include "lumbra/smirnov.h"

#include <gmp.h>

#include <cmath>
#include <string>

#include "bridge.h"
#include "guard.h"
#include "stats/smirnov.h"
#include "triangle/budget.h"

namespace lumbra {

namespace {

void requireSample(const std::vector<double>& v, const char* name) {
  if (v.empty()) throw ArgumentError(std::string(name) + ": no numbers");
  for (std::size_t i = 0; i < v.size(); ++i)
    if (!std::isfinite(v[i]))
      throw ArgumentError(std::string(name) + "[" + std::to_string(i) + "]: '" + std::to_string(v[i]) +
                          "' is not a finite number");
}

Alternative internal(SmirnovAlternative a) {
  return a == SmirnovAlternative::less ? Alternative::less
         : a == SmirnovAlternative::greater ? Alternative::greater
                                            : Alternative::two_sided;
}

// An mpq_t for the length of a call.
class Mpq {
 public:
  Mpq() { mpq_init(q_); }
  ~Mpq() { mpq_clear(q_); }
  Mpq(const Mpq&) = delete;
  Mpq& operator=(const Mpq&) = delete;
  mpq_ptr get() { return q_; }

 private:
  mpq_t q_;
};

}  // namespace

SmirnovResult ks_2samp(const std::vector<double>& x, const std::vector<double>& y, SmirnovAlternative alt,
                       bool exact_fraction) {
  return api::guarded([&]() -> SmirnovResult {
    requireSample(x, "x");
    requireSample(y, "y");
    if (static_cast<double>(x.size()) + static_cast<double>(y.size()) > static_cast<double>(max_band_steps))
      throw ArgumentError("more than " + std::to_string(max_band_steps) + " values in all");
    const Smirnov test(x, y);
    const Alternative a = internal(alt);
    // Work the machine cannot hold is refused before it starts.
    const auto exactFits = [&] { return memoryShortfall(test.exactPValueBytes(a), memoryLimit()); };
    if (exact_fraction) {
      const std::string shortfall = exactFits();
      if (!shortfall.empty()) throw ResourceError("the exact p-value " + shortfall);
    }
    SmirnovResult r;
    r.n1 = test.n1();
    r.n2 = test.n2();
    r.ties = test.ties();
    r.statistic = test.statistic(a);
    const LeaveProbability p = test.pValue(a);
    r.pvalue = static_cast<double>(p.value);
    // The rounding to a double adds at most 2^-53 of the value.
    r.error_bound = p.error + 0x1p-53;
    // As lumbra-kit smirnov: the exact count where asked for, or where it is
    // better and fits.
    if (exact_fraction || (test.exactIsBetter(p, a) && exactFits().empty())) {
      Mpq exact;
      test.exactPValue(exact.get(), a);
      r.pvalue = api::nearestDouble(mpq_numref(exact.get()), mpq_denref(exact.get()));
      r.error_bound = 0x1p-53;
      if (exact_fraction) r.pvalue_exact = api::fractionOf(mpq_numref(exact.get()), mpq_denref(exact.get()));
    }
    return r;
  });
}

}  // namespace lumbra
