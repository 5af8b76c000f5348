#include "decimal.h"

#include <mpfr.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "count/mpz.h"

namespace lumbra::kit {

namespace {

std::string format(const char* conversion, mpfr_srcptr x) {
  char buf[64];
  mpfr_snprintf(buf, sizeof buf, conversion, x);
  return buf;
}

// An MPFR number with the lifetime of its scope.
struct Mpfr {
  explicit Mpfr(mpfr_prec_t prec) { mpfr_init2(v, prec); }
  ~Mpfr() { mpfr_clear(v); }
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;
  mpfr_t v;
};

}  // namespace

std::string ratioText(mpz_srcptr num, mpz_srcptr den, int digits) {
  if (mpz_sgn(num) == 0) return "0";
  // NOTE: with 64 bits more than the denominator, the two binary neighbours
  // of num / den are closer together than num / den can come to a decimal
  // tie without being one (a tie of `digits` digits, at most 17, is a
  // multiple of 1 / (2 10^k) with 10^k below 10^digits / x < 2^57 / x, and
  // differs from num / den by at least 1 / (den 2 10^k) unless it equals
  // it). So where the neighbours round differently, the value is the tie
  // itself, and it goes to the even digit.
  const mpfr_prec_t prec = static_cast<mpfr_prec_t>(std::max(mpz_sizeinbase(num, 2), mpz_sizeinbase(den, 2)) + 64);
  Mpfr a(prec), q(prec);
  mpfr_set_z(a.v, num, MPFR_RNDN);  // exact: prec covers num
  const int inexact = mpfr_div_z(q.v, a.v, den, MPFR_RNDD);
  const std::string g = "%." + std::to_string(digits) + "RNg", e = "%." + std::to_string(digits - 1) + "RNe";
  std::string low = format(g.c_str(), q.v);
  if (inexact == 0) return low;
  mpfr_nextabove(q.v);
  std::string high = format(g.c_str(), q.v);
  if (low == high) return high;
  // A tie: the last digit of the lower neighbour's rounding decides.
  mpfr_nextbelow(q.v);
  const std::string lowDigits = format(e.c_str(), q.v);
  const char last = lowDigits[lowDigits.find('e') - 1];
  return (last - '0') % 2 == 0 ? low : high;
}

std::optional<std::string> approxText(long double v, double relErr) {
  // The bounds carry the error and the rounding of this very product.
  const long double slack = static_cast<long double>(relErr) + 4 * std::numeric_limits<long double>::epsilon();
  const long double lo = v * (1 - slack), hi = v * (1 + slack);
  if (!(lo > 0) || !(hi < std::numeric_limits<long double>::infinity())) return std::nullopt;
  char a[64], b[64];
  std::snprintf(a, sizeof a, "%.6Lg", lo);
  std::snprintf(b, sizeof b, "%.6Lg", hi);
  if (std::string_view(a) != b) return std::nullopt;
  return std::string(a);
}

std::string ratioText(const BigNat& num, const BigNat& den, int digits) {
  Mpz n, d;
  mpz_import(n.get(), num.words().size(), -1, sizeof(std::uint64_t), 0, 0, num.words().data());
  mpz_import(d.get(), den.words().size(), -1, sizeof(std::uint64_t), 0, 0, den.words().data());
  return ratioText(n.get(), d.get(), digits);
}

}  // namespace lumbra::kit
