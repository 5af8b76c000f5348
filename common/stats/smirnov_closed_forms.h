// smirnov_closed_forms: the Smirnov p-value where a closed form holds it,
// and bounds on it from closed forms where none does, as rigorous
// enclosures [low, high] that no exponent range cuts short.
//
// The arrangements of the pooled values are lattice paths from (0, 0) to
// (n1, n2) (smirnov.h); the forms here count those that reach the
// statistic observed:
// - one check (the pooled values take two distinct values): the path's
//   point at that check is hypergeometric, and the p-value is its tail;
// - every point a check (no ties) and n1 = n2 = n: the statistic is
//   |i - j| n, and reflection gives P(max (i - j) >= k) = C(2n, n - k) /
//   C(2n, n), the two-sided law the alternating sum of such terms;
// - every point a check and n1 != n2: i n2 - j n1 = n1 (i - j) + (n2 - n1) i
//   lies between n1 (i - j) and that plus (n2 - n1) n1, so each one-sided
//   event lies between two diagonal ones, each a reflection term; the
//   two-sided p-value lies between the larger one-sided lower bound and the
//   sum of the upper ones. Within a small factor where n2 - n1 is small.
//
// Arithmetic: MPFR at 160 bits with directed rounding (lower ends rounded
// down, upper ends up; MPFR's log-gamma is correctly rounded in either
// direction), so every enclosure holds what its form says, and MPFR's
// exponents reach far below 1e-1000000. A sum of infinitely many terms is
// cut where the rest is proven below 2^-110 of it, and the rest is added to
// the upper end. Costs: the terms summed, each a few log-gammas; at most a
// few tens of thousands even where the form is slowest (p near 1).
//
// An Enclosure owns its two MPFR numbers; values, not shared while written.
// Throws std::bad_alloc (MPFR's memory aside, which aborts on exhaustion:
// these numbers are 160 bits).
#pragma once

#include <mpfr.h>

#include <cstdint>
#include <string>

namespace lumbra {

// An enclosure as the front ends print it: `value` its middle (the shortest
// text of the nearest double, or 17 significant digits below the doubles'
// normal range, or three digits where the ends lie more than 1e-9 apart,
// relatively), `words` three digits, `low` and `high` three digits rounded
// outward where it is that wide (empty otherwise), `error` the relative
// bound of `value` before its own rounding.
struct EnclosureText {
  std::string value, words, low, high;
  double error = 0;
};

class Enclosure {
 public:
  Enclosure();
  ~Enclosure();
  Enclosure(const Enclosure& o);
  Enclosure& operator=(const Enclosure& o);

  mpfr_ptr low() { return low_; }
  mpfr_ptr high() { return high_; }
  mpfr_srcptr low() const { return low_; }
  mpfr_srcptr high() const { return high_; }

  // The value within the enclosure closest to both ends in relative terms
  // (2 low high / (low + high)), and its relative error: every P in
  // [low, high] is within error * P of it. Requires 0 < low <= high.
  void middle(mpfr_ptr v) const;
  double relativeError() const;
  EnclosureText text() const;

  static constexpr mpfr_prec_t bits = 160;

 private:
  mpfr_t low_, high_;
};

// P(the hypergeometric point at the one check t leaves the band): the
// point i of (t, i) among paths from (0, 0) to (n1, n2) with
// |i (n1 + n2) - t n1| >= d (greater: i N - t n1 >= d; less: <= -d).
// alt: 0 two-sided, 1 less, 2 greater. Requires 0 < t < n1 + n2, d >= 1.
Enclosure oneCheckTail(std::int64_t n1, std::int64_t n2, std::int64_t t, std::int64_t d, int alt);

// The p-value of scaled statistic d (>= 1) with every point a check (no
// ties): exact when n1 == n2, else the bounds above. alt as above.
Enclosure diagonalTail(std::int64_t n1, std::int64_t n2, std::int64_t d, int alt);

// The terms the two-sided sum of equal sizes adds for scaled statistic d,
// about (for choosing it over the band).
double diagonalTerms(std::int64_t n, std::int64_t d);

}  // namespace lumbra
