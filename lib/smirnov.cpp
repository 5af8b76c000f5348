#include "lumbra/smirnov.h"

#include <gmp.h>
#include <mpfr.h>

#include <cfloat>
#include <charconv>
#include <cstdio>

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

// The texts lumbra-kit smirnov prints: the shortest text of the double, or
// 17 digits below the doubles' normal range.
std::string textOf(long double p) {
  char buf[64];
  if (p == 0 || p >= static_cast<long double>(DBL_MIN)) {
    const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(p));
    return std::string(buf, end.ptr);
  }
  std::snprintf(buf, sizeof buf, "%.17Lg", p);
  return buf;
}

std::string exactText(mpq_srcptr q) {
  mpfr_t v;
  mpfr_init2(v, 128);
  mpfr_set_q(v, q, MPFR_RNDN);
  char buf[64];
  std::string text;
  if (mpfr_zero_p(v) || mpfr_cmp_d(v, DBL_MIN) >= 0) {
    text = textOf(mpfr_get_d(v, MPFR_RNDN));
  } else {
    mpfr_snprintf(buf, sizeof buf, "%.17Rg", v);
    text = buf;
  }
  mpfr_clear(v);
  return text;
}

}  // namespace

SmirnovResult ks_2samp(const std::vector<double>& x, const std::vector<double>& y, SmirnovAlternative alt,
                       bool exact_fraction, const std::function<bool()>& stop) {
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
    const auto answer = [&r](const Enclosure& e) {
      const EnclosureText t = e.text();
      mpfr_t v;
      mpfr_init2(v, Enclosure::bits);
      e.middle(v);
      r.pvalue = mpfr_get_d(v, MPFR_RNDN);
      mpfr_clear(v);
      r.error_bound = t.error + 0x1p-53;
      r.pvalue_text = t.value;
      r.pvalue_low = t.low;
      r.pvalue_high = t.high;
    };
    // As lumbra-kit smirnov: a closed form or bounds where they answer.
    if (!exact_fraction) {
      if (const std::optional<Enclosure> e = test.withoutBand(a)) {
        answer(*e);
        return r;
      }
    }
    const BandStop watch = [&stop](double) { return stop(); };
    const std::optional<LeaveProbability> done = test.pValue(a, 0, stop ? watch : BandStop());
    if (!done) throw Cancelled("the p-value was stopped");
    const LeaveProbability p = *done;
    r.pvalue = static_cast<double>(p.value);
    // The rounding to a double adds at most 2^-53 of the value.
    r.error_bound = p.error + 0x1p-53;
    r.pvalue_text = textOf(p.value);
    // The band's terms fell below the doubles: the bounds say more.
    if (!(p.error <= Smirnov::lost_accuracy) && !exact_fraction) {
      const std::optional<Enclosure> e = test.bounds(a);
      if (e && e->relativeError() < p.error) answer(*e);
    }
    // As lumbra-kit smirnov: the exact count where asked for, or where it is
    // better and fits.
    if (exact_fraction || (test.exactIsBetter(p, a) && exactFits().empty())) {
      Mpq exact;
      if (!test.exactPValue(exact.get(), a, stop ? watch : BandStop())) throw Cancelled("the p-value was stopped");
      r.pvalue = api::nearestDouble(mpq_numref(exact.get()), mpq_denref(exact.get()));
      r.error_bound = 0x1p-53;
      r.pvalue_text = exactText(exact.get());
      if (exact_fraction) r.pvalue_exact = api::fractionOf(mpq_numref(exact.get()), mpq_denref(exact.get()));
    }
    return r;
  });
}

}  // namespace lumbra
