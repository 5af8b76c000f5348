#include "lumbra/laws.h"

#include "bridge.h"
#include "guard.h"
#include "count/mpz.h"
#include "stats/distribution.h"

namespace lumbra {

namespace {

void checkBlock(int m, int k) {
  api::requireRange("M", m, 1, 4096);
  api::requireRange("K", k, 0, m, "M");
}

// p_ones as num / den.
void onesRatio(mpz_ptr num, mpz_ptr den, int m, int k) {
  checkBlock(m, k);
  OnesLaw(m).tailCount(num, k);
  mpz_set_ui(den, 0);
  mpz_setbit(den, static_cast<mp_bitcnt_t>(m));
}

void deviationRatio(mpz_ptr num, mpz_ptr den, int m, int k, int d) {
  checkBlock(m, k);
  api::requireRange("D", d, 0, m, "M");
  DeviationLaw(m, k).tailCount(num, den, d);
}

}  // namespace

double p_ones(int m, int k) {
  return api::guarded([&]() -> double {
    Mpz num, den;
    onesRatio(num.get(), den.get(), m, k);
    return api::nearestDouble(num.get(), den.get());
  });
}

Fraction p_ones_exact(int m, int k) {
  return api::guarded([&]() -> Fraction {
    Mpz num, den;
    onesRatio(num.get(), den.get(), m, k);
    return api::fractionOf(num.get(), den.get());
  });
}

double p_deviation(int m, int k, int d) {
  return api::guarded([&]() -> double {
    Mpz num, den;
    deviationRatio(num.get(), den.get(), m, k, d);
    return api::nearestDouble(num.get(), den.get());
  });
}

Fraction p_deviation_exact(int m, int k, int d) {
  return api::guarded([&]() -> Fraction {
    Mpz num, den;
    deviationRatio(num.get(), den.get(), m, k, d);
    return api::fractionOf(num.get(), den.get());
  });
}

double to_double(const Fraction& f) {
  return api::guarded([&]() -> double {
    if (f.denominator.is_zero()) throw ArgumentError("a fraction's denominator must not be 0");
    Mpz num, den;
    api::toMpz(f.numerator, num.get());
    api::toMpz(f.denominator, den.get());
    return api::nearestDouble(num.get(), den.get());
  });
}

}  // namespace lumbra
