#include "stats/smirnov_closed_forms.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>

#include "kova/hard_assert.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;
using u64 = unsigned long;  // NOTE: 64 bits where this builds (LP64), as mpfr_set_ui takes it.

// An interval [lo, hi] of MPFR numbers, each end rounded outward.
struct Iv {
  mpfr_t lo, hi;
  Iv() {
    mpfr_init2(lo, Enclosure::bits);
    mpfr_init2(hi, Enclosure::bits);
    mpfr_set_zero(lo, 1);
    mpfr_set_zero(hi, 1);
  }
  ~Iv() {
    mpfr_clear(lo);
    mpfr_clear(hi);
  }
  Iv(const Iv&) = delete;
  Iv& operator=(const Iv&) = delete;
  void set(const Iv& o) {
    mpfr_set(lo, o.lo, MPFR_RNDD);
    mpfr_set(hi, o.hi, MPFR_RNDU);
  }
};

// v += a, v -= a (the ends moved outward).
void add(Iv& v, const Iv& a) {
  mpfr_add(v.lo, v.lo, a.lo, MPFR_RNDD);
  mpfr_add(v.hi, v.hi, a.hi, MPFR_RNDU);
}
void sub(Iv& v, const Iv& a) {
  mpfr_sub(v.lo, v.lo, a.hi, MPFR_RNDD);
  mpfr_sub(v.hi, v.hi, a.lo, MPFR_RNDU);
}

// log C(n, k), 0 <= k <= n: lgamma(n + 1) - lgamma(k + 1) - lgamma(n - k + 1).
void logBinomial(Iv& v, i64 n, i64 k) {
  Iv g;
  const auto lg = [&](i64 x, mpfr_rnd_t rnd, mpfr_ptr out) {
    mpfr_set_ui(out, static_cast<u64>(x) + 1, MPFR_RNDN);  // exact: below 2^32
    mpfr_lngamma(out, out, rnd);
  };
  lg(n, MPFR_RNDD, v.lo);
  lg(n, MPFR_RNDU, v.hi);
  for (const i64 x : {k, n - k}) {
    lg(x, MPFR_RNDD, g.lo);
    lg(x, MPFR_RNDU, g.hi);
    sub(v, g);
  }
}

// v = exp(v), positive ends.
void expIv(Iv& v) {
  mpfr_exp(v.lo, v.lo, MPFR_RNDD);
  mpfr_exp(v.hi, v.hi, MPFR_RNDU);
}

// v *= num / den for positive integers below 2^64.
void mulRatio(Iv& v, u64 num, u64 den) {
  mpfr_t n, d;
  mpfr_init2(n, 64);
  mpfr_init2(d, 64);
  mpfr_set_ui(n, num, MPFR_RNDN);  // exact in 64 bits
  mpfr_set_ui(d, den, MPFR_RNDN);
  mpfr_mul(v.lo, v.lo, n, MPFR_RNDD);
  mpfr_div(v.lo, v.lo, d, MPFR_RNDD);
  mpfr_mul(v.hi, v.hi, n, MPFR_RNDU);
  mpfr_div(v.hi, v.hi, d, MPFR_RNDU);
  mpfr_clear(n);
  mpfr_clear(d);
}

// Whether term * r / (1 - r), with r = num / den < 1, is at most 2^-110 of
// `sum`: the rest of a sum whose ratios only fall from here on.
bool restNegligible(const Iv& term, u64 num, u64 den, const Iv& sum, mpfr_ptr rest) {
  if (num >= den) return false;
  // term num / (den - num), rounded up
  mpfr_t n, d;
  mpfr_init2(n, 64);
  mpfr_init2(d, 64);
  mpfr_set_ui(n, num, MPFR_RNDN);
  mpfr_set_ui(d, den - num, MPFR_RNDN);
  mpfr_mul(rest, term.hi, n, MPFR_RNDU);
  mpfr_div(rest, rest, d, MPFR_RNDU);
  mpfr_clear(n);
  mpfr_clear(d);
  return mpfr_cmp(rest, sum.lo) <= 0 && mpfr_get_exp(sum.lo) - mpfr_get_exp(rest) >= 110;
}

i64 floorDiv(i64 num, i64 den) { return num >= 0 ? num / den : -((-num + den - 1) / den); }
i64 ceilDiv(i64 num, i64 den) { return -floorDiv(-num, den); }

// The hypergeometric probability of i at check t: C(t, i) C(N - t, n1 - i) / C(N, n1).
void pointMass(Iv& v, i64 n1, i64 n2, i64 t, i64 i) {
  const i64 n = n1 + n2;
  Iv part;
  logBinomial(v, t, i);
  logBinomial(part, n - t, n1 - i);
  add(v, part);
  logBinomial(part, n, n1);
  sub(v, part);
  expIv(v);
}

// Adds to `sum` the masses of i = from, from + dir, ... while i stays within
// [least, most]; the masses are log-concave, so once the ratio of
// neighbours falls below 1 the rest is bounded by a geometric series.
void addTail(Iv& sum, i64 n1, i64 n2, i64 t, i64 from, int dir, i64 least, i64 most) {
  if (from < least || from > most) return;
  Iv term, rest;
  pointMass(term, n1, n2, t, from);
  add(sum, term);
  for (i64 i = from;;) {
    const i64 next = i + dir;
    if (next < least || next > most) return;
    // h(next) / h(i)
    const u64 num = dir > 0 ? static_cast<u64>(t - i) * static_cast<u64>(n1 - i)
                            : static_cast<u64>(i) * static_cast<u64>(n2 - t + i);
    const u64 den = dir > 0 ? static_cast<u64>(i + 1) * static_cast<u64>(n2 - t + i + 1)
                            : static_cast<u64>(t - i + 1) * static_cast<u64>(n1 - i + 1);
    if (mpfr_sgn(sum.lo) > 0 && restNegligible(term, num, den, sum, rest.hi)) {
      mpfr_add(sum.hi, sum.hi, rest.hi, MPFR_RNDU);
      return;
    }
    mulRatio(term, num, den);
    add(sum, term);
    i = next;
  }
}

// P(a path of m A steps and n B steps touches iA - iB = k).
void diagonal(Iv& v, i64 m, i64 n, i64 k) {
  if (k <= std::max<i64>(0, m - n)) {
    mpfr_set_ui(v.lo, 1, MPFR_RNDN);
    mpfr_set_ui(v.hi, 1, MPFR_RNDN);
    return;
  }
  if (m - k < 0) {
    mpfr_set_zero(v.lo, 1);
    mpfr_set_zero(v.hi, 1);
    return;
  }
  // Reflection at the first touch: C(N, m - k) of the C(N, m) paths.
  Iv all;
  logBinomial(v, m + n, m - k);
  logBinomial(all, m + n, m);
  sub(v, all);
  expIv(v);
}

// P(iA n - iB m >= c somewhere) for c >= 1, between two diagonal events:
// iA n - iB m = m (iA - iB) + (n - m) iA.
void oneSided(Iv& v, i64 m, i64 n, i64 c) {
  const i64 e = n - m, base = ceilDiv(c, m);
  Iv outer;
  diagonal(v, m, n, base + std::max<i64>(0, -e));      // inside the event: a lower bound
  diagonal(outer, m, n, base - std::max<i64>(0, e));   // holding it: an upper bound
  mpfr_set(v.hi, outer.hi, MPFR_RNDU);
}

void clampToOne(Iv& v) {
  if (mpfr_cmp_ui(v.hi, 1) > 0) mpfr_set_ui(v.hi, 1, MPFR_RNDN);
  if (mpfr_cmp_ui(v.lo, 1) > 0) mpfr_set_ui(v.lo, 1, MPFR_RNDN);
  if (mpfr_sgn(v.lo) < 0) mpfr_set_zero(v.lo, 1);
}

Enclosure fromIv(const Iv& v) {
  Enclosure e;
  mpfr_set(e.low(), v.lo, MPFR_RNDD);
  mpfr_set(e.high(), v.hi, MPFR_RNDU);
  return e;
}

}  // namespace

Enclosure::Enclosure() {
  mpfr_init2(low_, bits);
  mpfr_init2(high_, bits);
  mpfr_set_zero(low_, 1);
  mpfr_set_zero(high_, 1);
}
Enclosure::~Enclosure() {
  mpfr_clear(low_);
  mpfr_clear(high_);
}
Enclosure::Enclosure(const Enclosure& o) : Enclosure() { *this = o; }
Enclosure& Enclosure::operator=(const Enclosure& o) {
  mpfr_set(low_, o.low_, MPFR_RNDD);
  mpfr_set(high_, o.high_, MPFR_RNDU);
  return *this;
}

void Enclosure::middle(mpfr_ptr v) const {
  mpfr_t s;
  mpfr_init2(s, bits);
  mpfr_add(s, low_, high_, MPFR_RNDN);
  mpfr_mul(v, low_, high_, MPFR_RNDN);
  mpfr_mul_2ui(v, v, 1, MPFR_RNDN);
  mpfr_div(v, v, s, MPFR_RNDN);
  mpfr_clear(s);
}

double Enclosure::relativeError() const {
  // (high - low) / (high + low), rounded up, and the middle's own rounding.
  mpfr_t d, s;
  mpfr_init2(d, bits);
  mpfr_init2(s, bits);
  mpfr_sub(d, high_, low_, MPFR_RNDU);
  mpfr_add(s, high_, low_, MPFR_RNDD);
  mpfr_div(d, d, s, MPFR_RNDU);
  const double e = mpfr_get_d(d, MPFR_RNDU) + 0x1p-150;
  mpfr_clear(d);
  mpfr_clear(s);
  return e;
}

EnclosureText Enclosure::text() const {
  EnclosureText r;
  mpfr_t v;
  mpfr_init2(v, bits);
  middle(v);
  r.error = relativeError();
  char buf[128];
  mpfr_snprintf(buf, sizeof buf, "%.3Rg", v);
  r.words = buf;
  if (r.error > 1e-9) {
    r.value = buf;
    mpfr_snprintf(buf, sizeof buf, "%.3RDg", low_);
    r.low = buf;
    mpfr_snprintf(buf, sizeof buf, "%.3RUg", high_);
    r.high = buf;
  } else if (mpfr_cmp_d(v, DBL_MIN) >= 0) {
    const auto end = std::to_chars(buf, buf + sizeof buf, mpfr_get_d(v, MPFR_RNDN));
    r.value.assign(buf, end.ptr);
  } else {
    mpfr_snprintf(buf, sizeof buf, "%.17Rg", v);
    r.value = buf;
  }
  mpfr_clear(v);
  return r;
}

Enclosure oneCheckTail(i64 n1, i64 n2, i64 t, i64 d, int alt) {
  const i64 n = n1 + n2;
  hard_assert(n1 >= 1 && n2 >= 1 && t > 0 && t < n && d >= 1, "n1>=1&&n2>=1&&0<t<n&&d>=1");
  const i64 least = std::max<i64>(0, t - n2), most = std::min(t, n1);
  Iv sum;
  // Above: i N - t n1 >= d; below: i N - t n1 <= -d.
  if (alt != 1) addTail(sum, n1, n2, t, ceilDiv(t * n1 + d, n), 1, least, most);
  if (alt != 2) addTail(sum, n1, n2, t, floorDiv(t * n1 - d, n), -1, least, most);
  clampToOne(sum);
  return fromIv(sum);
}

Enclosure diagonalTail(i64 n1, i64 n2, i64 d, int alt) {
  hard_assert(n1 >= 1 && n2 >= 1 && d >= 1, "n1>=1&&n2>=1&&d>=1");
  Iv v;
  if (alt == 2) {
    oneSided(v, n1, n2, d);
  } else if (alt == 1) {
    oneSided(v, n2, n1, d);
  } else if (n1 == n2) {
    // 2 sum_{j >= 1} (-1)^(j-1) C(2n, n - j k) / C(2n, n): the terms fall,
    // so the sum lies within the next term of any partial sum.
    const i64 k = ceilDiv(d, n1);
    Iv term;
    for (i64 j = 1;; ++j) {
      diagonal(term, n1, n1, j * k);
      if (j > 1 && mpfr_sgn(v.lo) > 0 &&
          (mpfr_zero_p(term.hi) || (mpfr_cmp(term.hi, v.lo) <= 0 && mpfr_get_exp(v.lo) - mpfr_get_exp(term.hi) >= 112))) {
        mpfr_mul_2ui(term.hi, term.hi, 1, MPFR_RNDU);
        mpfr_sub(v.lo, v.lo, term.hi, MPFR_RNDD);
        mpfr_add(v.hi, v.hi, term.hi, MPFR_RNDU);
        break;
      }
      mpfr_mul_2ui(term.lo, term.lo, 1, MPFR_RNDD);
      mpfr_mul_2ui(term.hi, term.hi, 1, MPFR_RNDU);
      if (j % 2 == 1) add(v, term);
      else sub(v, term);
      if (mpfr_zero_p(term.hi)) break;
    }
  } else {
    Iv less;
    oneSided(v, n1, n2, d);
    oneSided(less, n2, n1, d);
    // max of the lower ends, sum of the upper ones
    if (mpfr_cmp(less.lo, v.lo) > 0) mpfr_set(v.lo, less.lo, MPFR_RNDD);
    mpfr_add(v.hi, v.hi, less.hi, MPFR_RNDU);
  }
  clampToOne(v);
  return fromIv(v);
}

double diagonalTerms(i64 n, i64 d) {
  const double k = static_cast<double>(ceilDiv(d, n));
  return std::sqrt(80 * static_cast<double>(n)) / k + 2;
}

}  // namespace lumbra
