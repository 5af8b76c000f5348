#include "stats/smirnov.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "count/mpz.h"
#include "kova/hard_assert.h"
#include "stats/sort_values.h"

namespace lumbra {

namespace {

using i64 = std::int64_t;

// floor(num / den) and ceil(num / den) for den > 0.
i64 floorDiv(i64 num, i64 den) { return num >= 0 ? num / den : -((-num + den - 1) / den); }
i64 ceilDiv(i64 num, i64 den) { return -floorDiv(-num, den); }

}  // namespace

Smirnov::Smirnov(std::span<const double> x, std::span<const double> y)
    : n1_(static_cast<i64>(x.size())), n2_(static_cast<i64>(y.size())) {
  hard_assert(n1_ >= 1 && n2_ >= 1 && n1_ + n2_ <= max_band_steps, "n1>=1&&n2>=1&&n1+n2<=max_band_steps");
  std::vector<double> a(x.begin(), x.end()), b(y.begin(), y.end());
  sortValues(a);
  sortValues(b);
  hard_assert(!std::isnan(a.back()) && !std::isnan(b.back()) && !std::isnan(a.front()) && !std::isnan(b.front()),
              "no NaN");
  // Merge: each distinct value ends one run, after every copy of it in
  // either sample.
  ends_.reserve(a.size() + b.size());
  xs_.reserve(a.size() + b.size());
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const double v = j == b.size() || (i < a.size() && a[i] < b[j]) ? a[i] : b[j];
    while (i < a.size() && a[i] == v) ++i;
    while (j < b.size() && b[j] == v) ++j;
    ends_.push_back(static_cast<i64>(i + j));
    xs_.push_back(static_cast<i64>(i));
  }
  ties_ = n1_ + n2_ - static_cast<i64>(ends_.size());
}

i64 Smirnov::scaledStatistic(Alternative alt) const {
  i64 most = 0;
  for (std::size_t r = 0; r < ends_.size(); ++r) {
    const i64 i = xs_[r], j = ends_[r] - i;
    const i64 v = i * n2_ - j * n1_;  // (F1 - F2) n1 n2
    const i64 s = alt == Alternative::greater ? v : alt == Alternative::less ? -v : std::abs(v);
    most = std::max(most, s);
  }
  return most;
}

double Smirnov::statistic(Alternative alt) const {
  // Both integers below 2^64 are exact in long double; one division, one
  // rounding to double.
  return static_cast<double>(static_cast<long double>(scaledStatistic(alt)) /
                             (static_cast<long double>(n1_) * static_cast<long double>(n2_)));
}

GeneralBand Smirnov::band(Alternative alt, i64 scaled) const {
  GeneralBand g;
  g.a = n1_;
  g.b = n2_;
  const i64 n = n1_ + n2_;
  // Between the ends of runs every point is admitted.
  g.lo.assign(static_cast<std::size_t>(n) + 1, 0);
  g.hi.assign(static_cast<std::size_t>(n) + 1, n1_);
  // At the end of a run of t values: i n2 - (t - i) n1 = i N - t n1 must stay
  // within c = scaled - 1 (below scaled: the values are integers).
  // NOTE: t n1 + c < 2^31 2^31 + 2^60: no overflow.
  const i64 c = scaled - 1;
  for (const i64 t : ends_) {
    const auto k = static_cast<std::size_t>(t);
    if (alt != Alternative::less) g.hi[k] = floorDiv(t * n1_ + c, n);
    if (alt != Alternative::greater) g.lo[k] = ceilDiv(t * n1_ - c, n);
  }
  return g;
}

LeaveProbability Smirnov::pValue(Alternative alt, unsigned threads) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) return {1.0L, 0.0};  // every arrangement has D' >= 0
  return leaveProbability(band(alt, d), threads);
}

std::optional<LeaveProbability> Smirnov::pValue(Alternative alt, unsigned threads, const BandStop& stop) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) return LeaveProbability{1.0L, 0.0};
  LeaveProbability p;
  if (!leaveProbability(p, band(alt, d), threads, BandKernel::automatic, stop)) return std::nullopt;
  return p;
}

namespace {

int code(Alternative alt) { return alt == Alternative::less ? 1 : alt == Alternative::greater ? 2 : 0; }

// The seconds of one band cell and of one term of a closed form, about
// (measured on the machine of docs/benchmarks.md): for choosing between them.
constexpr double cell_seconds = 2e-9, term_seconds = 2e-4;

}  // namespace

std::optional<Enclosure> Smirnov::closedForm(Alternative alt) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) return std::nullopt;
  const double n = static_cast<double>(n1_ + n2_);
  // One check between the ends: the band's rows up to it are as wide as
  // the rectangle, N^2 / 4 cells; the tail a few standard deviations of
  // terms. Small samples keep the band (milliseconds either way).
  if (ends_.size() == 2 && n1_ + n2_ >= 2000) return oneCheckTail(n1_, n2_, ends_[0], d, code(alt));
  if (ties_ == 0 && n1_ == n2_) {
    const double cells = static_cast<double>(d) / static_cast<double>(n1_) * n + n;  // rows k wide
    const double terms = alt == Alternative::two_sided ? diagonalTerms(n1_, d) : 1;
    if (terms * term_seconds < cells * cell_seconds) return diagonalTail(n1_, n2_, d, code(alt));
  }
  return std::nullopt;
}

std::optional<Enclosure> Smirnov::bounds(Alternative alt) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) return std::nullopt;
  Enclosure all = diagonalTail(n1_, n2_, d, code(alt));
  if (ties_ == 0 && n1_ == n2_) return all;  // exact
  // Below (with ties; and without, where the inner diagonal holds no path,
  // as when the samples do not overlap): the tail at one check, whichever the first terms (in doubles,
  // only to choose) show likeliest to be left at, among at most 4096 checks
  // spread over the run (any check gives a lower bound; the last, the end,
  // never leaves).
  const i64 n = n1_ + n2_, checks = static_cast<i64>(ends_.size()) - 1;
  if (checks < 1) return std::nullopt;
  const auto logMass = [&](i64 t, i64 i) {
    if (i < std::max<i64>(0, t - n2_) || i > std::min(t, n1_)) return -HUGE_VAL;
    const auto lc = [](i64 a, i64 b) {
      return std::lgamma(static_cast<double>(a) + 1) - std::lgamma(static_cast<double>(b) + 1) -
             std::lgamma(static_cast<double>(a - b) + 1);
    };
    return lc(t, i) + lc(n - t, n1_ - i);
  };
  i64 best = ends_[0];
  double most = -HUGE_VAL;
  const auto consider = [&](i64 t) {
    double m = -HUGE_VAL;
    if (alt != Alternative::less) m = std::max(m, logMass(t, ceilDiv(t * n1_ + d, n)));
    if (alt != Alternative::greater) m = std::max(m, logMass(t, floorDiv(t * n1_ - d, n)));
    if (m > most) most = m, best = t;
  };
  // The check where the observed statistic is reached leaves for sure.
  for (std::size_t r = 0; r + 1 < ends_.size(); ++r) {
    const i64 i = xs_[r], v = i * n2_ - (ends_[r] - i) * n1_;
    if ((alt == Alternative::greater ? v : alt == Alternative::less ? -v : std::abs(v)) == d) {
      consider(ends_[r]);
      break;
    }
  }
  const i64 stride = std::max<i64>(1, checks / 4096);
  for (i64 r = 0; r < checks; r += stride) consider(ends_[static_cast<std::size_t>(r)]);
  const Enclosure at = oneCheckTail(n1_, n2_, best, d, code(alt));
  if (ties_ != 0 || mpfr_cmp(at.low(), all.low()) > 0) mpfr_set(all.low(), at.low(), MPFR_RNDD);
  return all;
}

std::optional<Enclosure> Smirnov::withoutBand(Alternative alt) const {
  if (auto form = closedForm(alt)) return form;
  // An upper end first, the one-sided ones' sum (a few log-gammas, where
  // the two-sided sum of equal sizes near p = 1 would take thousands of
  // terms): most p-values are far above the doubles' range.
  const i64 d = scaledStatistic(alt);
  if (d == 0) return std::nullopt;
  Enclosure high = diagonalTail(n1_, n2_, d, alt == Alternative::two_sided ? 2 : code(alt));
  if (alt == Alternative::two_sided)
    mpfr_add(high.high(), high.high(), diagonalTail(n1_, n2_, d, 1).high(), MPFR_RNDU);
  if (mpfr_cmp_d(high.high(), DBL_MIN) >= 0) return std::nullopt;
  std::optional<Enclosure> b = bounds(alt);
  if (!b || mpfr_cmp_d(b->high(), DBL_MIN) >= 0) return std::nullopt;
  if (countInsideWork(band(alt, scaledStatistic(alt))) <= quick_exact_work) return std::nullopt;
  return b;
}

double Smirnov::bandWork(Alternative alt) const {
  const i64 d = scaledStatistic(alt);
  return d == 0 ? 0 : leaveProbabilityWork(band(alt, d));
}

void Smirnov::exactPValue(mpq_ptr p, Alternative alt) const {
  const BandStop none;
  exactPValue(p, alt, none);
}

bool Smirnov::exactPValue(mpq_ptr p, Alternative alt, const BandStop& stop) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) {
    mpq_set_ui(p, 1, 1);
    return true;
  }
  Mpz inside, all;
  if (!countInside(inside.get(), band(alt, d), 0, stop)) return false;
  mpz_bin_uiui(all.get(), static_cast<unsigned long>(n1_ + n2_), static_cast<unsigned long>(n1_));
  mpz_sub(mpq_numref(p), all.get(), inside.get());
  mpz_set(mpq_denref(p), all.get());
  mpq_canonicalize(p);
  return true;
}

bool Smirnov::exactIsBetter(const LeaveProbability& p, Alternative alt) const {
  if (!(p.error > 1e-12)) return false;
  const i64 d = scaledStatistic(alt);
  return d > 0 && countInsideWork(band(alt, d)) <= quick_exact_work;
}

double Smirnov::exactPValueBytes(Alternative alt) const {
  const i64 d = scaledStatistic(alt);
  if (d == 0) return 0;
  // The band itself, then the count's rows.
  return 16.0 * static_cast<double>(n1_ + n2_ + 1) + countInsideBytes(band(alt, d));
}

}  // namespace lumbra
