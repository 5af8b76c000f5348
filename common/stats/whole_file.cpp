#include "stats/whole_file.h"

#include <gmp.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>

#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

using u64 = std::uint64_t;

FileBits FileBits::slice(u64 bits, u64 ones, u64 runs, int firstBit, int lastBit) {
  FileBits f;
  f.bits = bits;
  f.ones = ones;
  f.runs = runs;
  f.firstBit = firstBit;
  f.lastBit = lastBit;
  return f;
}

void FileBits::append(const FileBits& next) {
  if (next.bits == 0) return;
  if (bits == 0) {
    *this = next;
    return;
  }
  if (next.bits > UINT64_MAX - bits) throw std::overflow_error("a file of more than 2^64 - 1 bits");
  bits += next.bits;
  ones += next.ones;
  // A run that crosses the seam was counted on both sides.
  runs += next.runs - (lastBit == next.firstBit ? 1 : 0);
  lastBit = next.lastBit;
}

double LogProbability::estimate() const { return std::exp((lnLow + lnHigh) / 2); }

bool LogProbability::surelyBelow(double alpha) const { return lnHigh < std::log(alpha); }

bool LogProbability::surelyAtLeast(double alpha) const { return lnLow >= std::log(alpha); }

namespace {

// Every number carries 192 bits: the log-gamma values of arguments up to
// 2^64 reach 2^70 and keep 2^-120 of it; the ratios are products of at most
// three 64-bit integers, exact in 192 bits.
constexpr mpfr_prec_t precision = 192;

class Real {
 public:
  Real() { mpfr_init2(v_, precision); }
  ~Real() { mpfr_clear(v_); }
  Real(const Real&) = delete;
  Real& operator=(const Real&) = delete;
  mpfr_ptr get() { return v_; }
  mpfr_srcptr get() const { return v_; }

 private:
  mpfr_t v_;
};

// A real number enclosed: lo <= x <= hi.
struct Interval {
  Real lo, hi;
  void set(u64 v, long add = 0) {
    mpfr_set_ui(lo.get(), v, MPFR_RNDN);  // exact: 64 bits
    mpfr_add_si(lo.get(), lo.get(), add, MPFR_RNDN);
    mpfr_set(hi.get(), lo.get(), MPFR_RNDN);
  }
};

// x += ln(v!) * sign.
void addLnFactorial(Interval& x, u64 v, int sign) {
  Real a, g;
  mpfr_set_ui(a.get(), v, MPFR_RNDN);
  mpfr_add_ui(a.get(), a.get(), 1, MPFR_RNDN);  // exact
  // lngamma rounds to nearest correctly: within half a unit of the last
  // place, so a unit either side encloses it.
  mpfr_lngamma(g.get(), a.get(), MPFR_RNDN);
  mpfr_set(a.get(), g.get(), MPFR_RNDN);
  mpfr_nextbelow(a.get());
  mpfr_nextabove(g.get());
  // Times sign (1, -1 or -2): exact, a power of two at most.
  mpfr_mul_si(a.get(), a.get(), sign, MPFR_RNDN);
  mpfr_mul_si(g.get(), g.get(), sign, MPFR_RNDN);
  if (sign < 0) mpfr_swap(a.get(), g.get());
  mpfr_add(x.lo.get(), x.lo.get(), a.get(), MPFR_RNDD);
  mpfr_add(x.hi.get(), x.hi.get(), g.get(), MPFR_RNDU);
}

// x += ln C(n, j) * sign.
void addLnChoose(Interval& x, u64 n, u64 j, int sign) {
  addLnFactorial(x, n, sign);
  addLnFactorial(x, j, -sign);
  addLnFactorial(x, n - j, -sign);
}

// x += sign ln v, for v > 0 and sign 1 or -1.
void addLn(Interval& x, u64 v, int sign = 1) {
  Real a, g;
  mpfr_set_ui(a.get(), v, MPFR_RNDN);
  // Rounded to nearest correctly, as lngamma above: a unit either side
  // encloses it, for one logarithm instead of one each way.
  mpfr_log(g.get(), a.get(), MPFR_RNDN);
  mpfr_set(a.get(), g.get(), MPFR_RNDN);
  mpfr_nextbelow(a.get());
  mpfr_nextabove(g.get());
  if (sign > 0) {
    mpfr_add(x.lo.get(), x.lo.get(), a.get(), MPFR_RNDD);
    mpfr_add(x.hi.get(), x.hi.get(), g.get(), MPFR_RNDU);
  } else {
    mpfr_sub(x.lo.get(), x.lo.get(), g.get(), MPFR_RNDD);
    mpfr_sub(x.hi.get(), x.hi.get(), a.get(), MPFR_RNDU);
  }
}

// The exact ratio num / den of two products of factors below 2^64, enclosed.
void setRatio(Interval& r, std::initializer_list<u64> num, std::initializer_list<u64> den) {
  Real n, d;
  mpfr_set_ui(n.get(), 1, MPFR_RNDN);
  mpfr_set_ui(d.get(), 1, MPFR_RNDN);
  for (u64 f : num) mpfr_mul_ui(n.get(), n.get(), f, MPFR_RNDN);  // exact within 192 bits
  for (u64 f : den) mpfr_mul_ui(d.get(), d.get(), f, MPFR_RNDN);
  mpfr_div(r.lo.get(), n.get(), d.get(), MPFR_RNDD);
  mpfr_div(r.hi.get(), n.get(), d.get(), MPFR_RNDU);
}

// A log-concave sequence u(s) > 0 for s in [first, last]: its logarithm,
// as a part that depends on s and a constant, and the ratio
// u(s + 1) / u(s), which does not grow with s.
// NOTE: the constant apart, since a tail needs it once and its terms only
// relative to its first: log-gamma values are what a tail costs.
class Sequence {
 public:
  virtual ~Sequence() = default;
  u64 first = 0, last = 0;
  // x += ln u(s) - constant.
  virtual void addLnTerm(Interval& x, u64 s) const = 0;
  // x += the constant.
  virtual void addConstant(Interval& x) const = 0;
  // For first <= s < last.
  virtual void ratio(Interval& out, u64 s) const = 0;

 protected:
  Sequence() = default;
  Sequence(const Sequence&) = default;
  Sequence& operator=(const Sequence&) = default;
};

// C(n, i): the ones of a file.
class Binomials final : public Sequence {
 public:
  explicit Binomials(u64 n) : n_(n) { last = n; }
  void addLnTerm(Interval& x, u64 i) const override {
    addLnFactorial(x, i, -1);
    addLnFactorial(x, n_ - i, -1);
  }
  void addConstant(Interval& x) const override { addLnFactorial(x, n_, 1); }
  void ratio(Interval& out, u64 i) const override { setRatio(out, {n_ - i}, {i + 1}); }

 private:
  u64 n_;
};

// The files of k ones and z zeros (both at least 1) with 2s runs,
// 2 C(k-1, s-1) C(z-1, s-1), s in [1, min(k, z)].
class EvenRuns final : public Sequence {
 public:
  EvenRuns(u64 k, u64 z) : k_(k), z_(z) { first = 1, last = std::min(k, z); }
  void addLnTerm(Interval& x, u64 s) const override {
    addLnFactorial(x, s - 1, -2);
    addLnFactorial(x, k_ - s, -1);
    addLnFactorial(x, z_ - s, -1);
  }
  void addConstant(Interval& x) const override {
    addLn(x, 2);
    addLnFactorial(x, k_ - 1, 1);
    addLnFactorial(x, z_ - 1, 1);
  }
  void ratio(Interval& out, u64 s) const override { setRatio(out, {k_ - s, z_ - s}, {s, s}); }

 private:
  u64 k_, z_;
};

// The same with 2s + 1 runs, C(k-1, s) C(z-1, s-1) + C(k-1, s-1) C(z-1, s)
// = C(k, s) C(z-1, s-1) (k + z - 2s) / k, s in [1, min(k, z)], less the last
// where k = z (no file has 2k + 1 runs then). A product of log-concave
// factors, so log-concave.
class OddRuns final : public Sequence {
 public:
  OddRuns(u64 k, u64 z) : k_(k), z_(z) { first = 1, last = std::min(k, z) - (k == z ? 1 : 0); }
  void addLnTerm(Interval& x, u64 s) const override {
    // s! (s - 1)! = s ((s - 1)!)^2
    addLnFactorial(x, s - 1, -2);
    addLn(x, s, -1);
    addLnFactorial(x, k_ - s, -1);
    addLnFactorial(x, z_ - s, -1);
    addLn(x, k_ + z_ - 2 * s);  // no overflow: k + z fits 64 bits
  }
  void addConstant(Interval& x) const override {
    addLnFactorial(x, k_, 1);
    addLnFactorial(x, z_ - 1, 1);
    addLn(x, k_, -1);
  }
  void ratio(Interval& out, u64 s) const override {
    setRatio(out, {k_ - s, z_ - s, k_ + z_ - 2 * s - 2}, {s + 1, s, k_ + z_ - 2 * s});
  }

 private:
  u64 k_, z_;
};

// G(r, h) = 1 + r + ... + r^(h-1), rounded in the direction rnd (it grows
// with r, so the enclosure of r's bound gives the bound).
void geometric(mpfr_ptr out, mpfr_srcptr r, u64 h, mpfr_rnd_t rnd) {
  const mpfr_rnd_t other = rnd == MPFR_RNDD ? MPFR_RNDU : MPFR_RNDD;
  const int side = mpfr_cmp_ui(r, 1);
  if (side == 0) {
    mpfr_set_ui(out, h, rnd);
    return;
  }
  Real p, d;
  if (side < 0) {  // (1 - r^h) / (1 - r)
    mpfr_pow_ui(p.get(), r, h, other);
    mpfr_ui_sub(p.get(), 1, p.get(), rnd);
    mpfr_ui_sub(d.get(), 1, r, other);
  } else {  // (r^h - 1) / (r - 1)
    mpfr_pow_ui(p.get(), r, h, rnd);
    mpfr_sub_ui(p.get(), p.get(), 1, rnd);
    mpfr_sub_ui(d.get(), r, 1, other);
  }
  mpfr_div(out, p.get(), d.get(), rnd);
}

// ln of the sum of u(s) over s from `from` outwards (upwards or downwards)
// to the end of the sequence, enclosed to a relative width of about
// `accuracy`.
void lnTail(Interval& out, const Sequence& seq, u64 from, bool upwards, double accuracy) {
  hard_assert(from >= seq.first && from <= seq.last, "from>=seq.first&&from<=seq.last");
  const u64 count = (upwards ? seq.last - from : from - seq.first) + 1;  // below 2^64: the sequences start at 0 or 1
  const auto at = [&](u64 l) { return upwards ? from + l : from - l; };
  // The ratio of term l + 1 to term l of the tail, for l + 1 < count.
  const auto step = [&](Interval& r, u64 l) {
    if (upwards) {
      seq.ratio(r, at(l));
      return;
    }
    Interval back;
    seq.ratio(back, at(l) - 1);
    mpfr_ui_div(r.lo.get(), 1, back.hi.get(), MPFR_RNDD);
    mpfr_ui_div(r.hi.get(), 1, back.lo.get(), MPFR_RNDU);
  };
  Interval first, term, w, r, r2, chunk;
  first.set(0);
  seq.addLnTerm(first, from);
  // The sum of term(l) / term(0), enclosed in [sumLo, sumHi].
  Real sumLo, sumHi, t, g, limit;
  mpfr_set_ui(sumLo.get(), 0, MPFR_RNDN);
  mpfr_set_ui(sumHi.get(), 0, MPFR_RNDN);
  u64 l = 0, h = 1;
  while (l < count) {
    // w = term(l) / term(0).
    if (l == 0) {
      mpfr_set_ui(w.lo.get(), 1, MPFR_RNDN);
      mpfr_set_ui(w.hi.get(), 1, MPFR_RNDN);
    } else {
      term.set(0);
      seq.addLnTerm(term, at(l));
      mpfr_sub(t.get(), term.lo.get(), first.hi.get(), MPFR_RNDD);
      mpfr_exp(w.lo.get(), t.get(), MPFR_RNDD);
      mpfr_sub(t.get(), term.hi.get(), first.lo.get(), MPFR_RNDU);
      mpfr_exp(w.hi.get(), t.get(), MPFR_RNDU);
    }
    const bool more = l + 1 < count;
    if (more) step(r, l);
    // Past a ratio below one the rest is at most w / (1 - r): stop once
    // that is small beside the sum.
    if (more && l > 0 && mpfr_cmp_ui(r.hi.get(), 1) < 0) {
      mpfr_ui_sub(t.get(), 1, r.hi.get(), MPFR_RNDD);
      mpfr_div(t.get(), w.hi.get(), t.get(), MPFR_RNDU);
      mpfr_mul_d(limit.get(), sumLo.get(), accuracy / 4, MPFR_RNDD);
      if (mpfr_cmp(t.get(), limit.get()) <= 0) {
        mpfr_add(sumHi.get(), sumHi.get(), t.get(), MPFR_RNDU);
        break;
      }
    }
    // The next h terms (as many as are left at most) lie between w G(r_least, h)
    // and w G(r_largest, h); halve h until their bounds are close enough.
    h = std::min(h, count - l);
    for (;;) {
      if (h == 1) {
        mpfr_set(chunk.lo.get(), w.lo.get(), MPFR_RNDN);
        mpfr_set(chunk.hi.get(), w.hi.get(), MPFR_RNDN);
        break;
      }
      step(r2, l + h - 2);
      geometric(g.get(), r2.lo.get(), h, MPFR_RNDD);
      mpfr_mul(chunk.lo.get(), w.lo.get(), g.get(), MPFR_RNDD);
      geometric(g.get(), r.hi.get(), h, MPFR_RNDU);
      mpfr_mul(chunk.hi.get(), w.hi.get(), g.get(), MPFR_RNDU);
      mpfr_sub(t.get(), chunk.hi.get(), chunk.lo.get(), MPFR_RNDU);
      mpfr_mul_d(limit.get(), chunk.lo.get(), accuracy / 4, MPFR_RNDD);
      if (mpfr_cmp(t.get(), limit.get()) <= 0) break;
      h /= 2;
    }
    mpfr_add(sumLo.get(), sumLo.get(), chunk.lo.get(), MPFR_RNDD);
    mpfr_add(sumHi.get(), sumHi.get(), chunk.hi.get(), MPFR_RNDU);
    l += h;
    if (h <= (UINT64_MAX >> 1)) h *= 2;
  }
  seq.addConstant(first);
  mpfr_log(t.get(), sumLo.get(), MPFR_RNDD);
  mpfr_add(out.lo.get(), first.lo.get(), t.get(), MPFR_RNDD);
  mpfr_log(t.get(), sumHi.get(), MPFR_RNDU);
  mpfr_add(out.hi.get(), first.hi.get(), t.get(), MPFR_RNDU);
}

// x = ln(e^x + e^y), both ends (each end grows with both arguments).
void addExp(Interval& x, const Interval& y) {
  const auto lse = [](mpfr_ptr a, mpfr_srcptr b, mpfr_rnd_t rnd) {
    Real big, d;
    const bool aBigger = mpfr_cmp(a, b) >= 0;
    mpfr_set(big.get(), aBigger ? a : b, MPFR_RNDN);
    mpfr_sub(d.get(), aBigger ? b : a, big.get(), rnd);
    mpfr_exp(d.get(), d.get(), rnd);
    mpfr_log1p(d.get(), d.get(), rnd);
    mpfr_add(a, big.get(), d.get(), rnd);
  };
  lse(x.lo.get(), y.lo.get(), MPFR_RNDD);
  lse(x.hi.get(), y.hi.get(), MPFR_RNDU);
}

LogProbability result(const Interval& x) {
  // A probability's logarithm is at most 0, whatever the rounding says.
  return {std::min(0.0, mpfr_get_d(x.lo.get(), MPFR_RNDD)), std::min(0.0, mpfr_get_d(x.hi.get(), MPFR_RNDU))};
}

void checkAccuracy(double accuracy) {
  hard_assert(accuracy >= 0x1p-60 && accuracy <= 0x1p-4, "accuracy>=0x1p-60&&accuracy<=0x1p-4");
}

}  // namespace

LogProbability balancePValue(u64 bits, u64 ones, double accuracy) {
  hard_assert(bits >= 1 && ones <= bits, "bits>=1&&ones<=bits");
  checkAccuracy(accuracy);
  const u64 j = std::min(ones, bits - ones);
  if (bits - j == j) return {0, 0};  // k = n/2: every file is as far
  // 2 P(K' <= j): the files with at most j ones or at most j zeros.
  Interval lnP;
  lnTail(lnP, Binomials(bits), j, false, accuracy);
  Interval scale;
  scale.set(0);
  addLn(scale, 2);
  Real t;
  mpfr_const_log2(t.get(), MPFR_RNDU);
  mpfr_mul_ui(t.get(), t.get(), bits, MPFR_RNDU);
  mpfr_sub(scale.lo.get(), scale.lo.get(), t.get(), MPFR_RNDD);
  mpfr_const_log2(t.get(), MPFR_RNDD);
  mpfr_mul_ui(t.get(), t.get(), bits, MPFR_RNDD);
  mpfr_sub(scale.hi.get(), scale.hi.get(), t.get(), MPFR_RNDU);
  mpfr_add(lnP.lo.get(), lnP.lo.get(), scale.lo.get(), MPFR_RNDD);
  mpfr_add(lnP.hi.get(), lnP.hi.get(), scale.hi.get(), MPFR_RNDU);
  return result(lnP);
}

LogProbability runsPValue(u64 bits, u64 ones, u64 runs, double accuracy) {
  hard_assert(bits >= 1 && ones <= bits, "bits>=1&&ones<=bits");
  checkAccuracy(accuracy);
  const u64 k = ones, z = bits - ones;
  if (k == 0 || z == 0) {
    hard_assert(runs == 1, "runs==1");
    return {0, 0};
  }
  const u64 most = 2 * std::min(k, z) + (k != z ? 1 : 0);
  hard_assert(runs >= 2 && runs <= most, "runs>=2&&runs<=most");
  // Everything times n: the mean is c / n with c = n + 2kz, and the runs as
  // far from it as r are those with |n r' - c| >= |n r - c| = dist.
  Mpz c, dist, t;
  const auto big = [](mpz_ptr to, u64 v) { mpz_import(to, 1, 1, sizeof v, 0, 0, &v); };
  Mpz n, kk, zz;
  big(n.get(), bits);
  big(kk.get(), k);
  big(zz.get(), z);
  mpz_mul(c.get(), kk.get(), zz.get());
  mpz_mul_2exp(c.get(), c.get(), 1);
  mpz_add(c.get(), c.get(), n.get());
  big(t.get(), runs);
  mpz_mul(dist.get(), t.get(), n.get());
  mpz_sub(dist.get(), dist.get(), c.get());
  mpz_abs(dist.get(), dist.get());
  if (mpz_sgn(dist.get()) == 0) return {0, 0};  // every file is as far
  // The tails r' >= up and r' <= down: up = ceil((c + dist) / n), down =
  // floor((c - dist) / n), within [2, most].
  const auto small = [](mpz_srcptr v) {
    u64 out = 0;
    if (mpz_sgn(v) > 0 && mpz_sizeinbase(v, 2) <= 64) mpz_export(&out, nullptr, 1, sizeof out, 0, 0, v);
    else if (mpz_sgn(v) > 0) out = UINT64_MAX;
    return out;
  };
  mpz_add(t.get(), c.get(), dist.get());
  mpz_cdiv_q(t.get(), t.get(), n.get());
  const u64 up = small(t.get());
  mpz_sub(t.get(), c.get(), dist.get());
  mpz_fdiv_q(t.get(), t.get(), n.get());
  const u64 down = small(t.get());  // 0 when negative

  const EvenRuns even(k, z);
  const OddRuns odd(k, z);
  Interval lnP;
  bool any = false;
  const auto add = [&](const Sequence& seq, u64 from, bool upwards) {
    if (seq.first > seq.last || from < seq.first || from > seq.last) return;
    Interval tail;
    lnTail(tail, seq, from, upwards, accuracy);
    if (!any) {
      mpfr_set(lnP.lo.get(), tail.lo.get(), MPFR_RNDN);
      mpfr_set(lnP.hi.get(), tail.hi.get(), MPFR_RNDN);
      any = true;
    } else {
      addExp(lnP, tail);
    }
  };
  // The even r' = 2s and the odd r' = 2s + 1 of each tail, each from its
  // value nearest the mean outwards; a tail that starts past a sequence's
  // end holds none of it.
  if (up <= most) {
    add(even, std::max<u64>((up + 1) / 2, even.first), true);
    add(odd, std::max<u64>(up / 2, odd.first), true);
  }
  if (down >= 2) {
    add(even, std::min<u64>(down / 2, even.last), false);
    add(odd, std::min<u64>((down - 1) / 2, odd.last), false);
  }
  hard_assert(any, "any");
  // Divided by C(n, k).
  Interval norm;
  norm.set(0);
  addLnChoose(norm, bits, k, 1);
  mpfr_sub(lnP.lo.get(), lnP.lo.get(), norm.hi.get(), MPFR_RNDD);
  mpfr_sub(lnP.hi.get(), lnP.hi.get(), norm.lo.get(), MPFR_RNDU);
  return result(lnP);
}

namespace {

template <class F>
bool atLeast(F&& pValue, double alpha) {
  hard_assert(alpha > 0 && alpha <= 1, "alpha>0&&alpha<=1");
  LogProbability p = pValue(file_p_accuracy);
  for (const double accuracy : {0x1p-24, 0x1p-40, 0x1p-60}) {
    if (p.surelyAtLeast(alpha)) return true;
    if (p.surelyBelow(alpha)) return false;
    p = pValue(accuracy);
  }
  return !p.surelyBelow(alpha);
}

}  // namespace

void releaseThreadCaches() { mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE); }

bool balanceAtLeast(u64 bits, u64 ones, double alpha) {
  return atLeast([&](double accuracy) { return balancePValue(bits, ones, accuracy); }, alpha);
}

bool runsAtLeast(u64 bits, u64 ones, u64 runs, double alpha) {
  return atLeast([&](double accuracy) { return runsPValue(bits, ones, runs, accuracy); }, alpha);
}

}  // namespace lumbra
