#include "stats/chi_square.h"

#include <cmath>
#include <limits>

#include "kova/hard_assert.h"

namespace lumbra {

namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr int max_terms = 100000;

// log of e^-x x^a / Gamma(a), the factor both expansions share.
double log_prefactor(double a, double x) { return a * std::log(x) - x - std::lgamma(a); }

// P(a, x) by its power series; converges fast for x < a + 1.
double lower_series(double a, double x) {
  double term = 1.0 / a, sum = term;
  for (int n = 1; n < max_terms; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * eps) break;
  }
  return sum * std::exp(log_prefactor(a, x));
}

// Q(a, x) by its continued fraction (modified Lentz); for x >= a + 1.
double upper_fraction(double a, double x) {
  constexpr double tiny = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / tiny, d = 1.0 / b, h = d;
  for (int i = 1; i < max_terms; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < eps) break;
  }
  return h * std::exp(log_prefactor(a, x));
}

}  // namespace

double upperGammaRegularized(double a, double x) {
  hard_assert(a>0 && x >= 0, "a>0&&x>=0");
  if (x == 0) return 1.0;
  if (x < a + 1.0) return 1.0 - lower_series(a, x);
  return upper_fraction(a, x);
}

double chiSquareUpperTail(double x, int dof) {
  hard_assert(dof >= 1, "dof>=1");
  return upperGammaRegularized(dof / 2.0, x / 2.0);
}

}  // namespace lumbra
