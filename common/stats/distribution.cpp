#include "stats/distribution.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "band/center_line.h"
#include "band/widest_deviation.h"
#include "count/count.h"
#include "kova/hard_assert.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumbra {

namespace {

// The edges of the bins from the top, then the passing mark: num / den.
constexpr int edge_num[bin_count] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 1};
constexpr int edge_den[bin_count] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 100};
constexpr int passing_edge = 9;

// One step of the walks that stay inside: dst[j] for j in [lo, hi] from
// src[j - 1] (a one step) and src[j] (a zero step).
template <class F>
void stepRow(F* __restrict dst, const F* src, const F* __restrict ow, const F* __restrict zb, F left, F inv, int lo,
             int hi) {
  for (int j = lo; j <= hi; ++j) dst[j] = (src[j - 1] * ow[j] + src[j] * (left + zb[j])) * inv;
}

#if defined(__x86_64__)
// The same for doubles, four at a time where the processor has AVX: the same
// roundings (no fused multiply-add), so the same tails on any processor.
__attribute__((target("avx"))) void stepRowAvx(double* __restrict dst, const double* src,
                                               const double* __restrict ow, const double* __restrict zb,
                                               double left, double inv, int lo, int hi) {
  const __m256d vl = _mm256_set1_pd(left), vi = _mm256_set1_pd(inv);
  int j = lo;
  for (; j + 3 <= hi; j += 4) {
    const __m256d one = _mm256_mul_pd(_mm256_loadu_pd(src + j - 1), _mm256_loadu_pd(ow + j));
    const __m256d zero = _mm256_mul_pd(_mm256_loadu_pd(src + j), _mm256_add_pd(vl, _mm256_loadu_pd(zb + j)));
    _mm256_storeu_pd(dst + j, _mm256_mul_pd(_mm256_add_pd(one, zero), vi));
  }
  for (; j <= hi; ++j) dst[j] = (src[j - 1] * ow[j] + src[j] * (left + zb[j])) * inv;
}

const bool has_avx = __builtin_cpu_supports("avx");
#endif

#if defined(__SSE2__)
// The same for doubles, two at a time, with the same roundings.
template <>
void stepRow<double>(double* __restrict dst, const double* src, const double* __restrict ow,
                     const double* __restrict zb, double left, double inv, int lo, int hi) {
#if defined(__x86_64__)
  if (has_avx) return stepRowAvx(dst, src, ow, zb, left, inv, lo, hi);
#endif
  const __m128d vl = _mm_set1_pd(left), vi = _mm_set1_pd(inv);
  int j = lo;
  for (; j < hi; j += 2) {
    const __m128d one = _mm_mul_pd(_mm_loadu_pd(src + j - 1), _mm_loadu_pd(ow + j));
    const __m128d zero = _mm_mul_pd(_mm_loadu_pd(src + j), _mm_add_pd(vl, _mm_loadu_pd(zb + j)));
    _mm_storeu_pd(dst + j, _mm_mul_pd(_mm_add_pd(one, zero), vi));
  }
  if (j == hi) dst[j] = (src[j - 1] * ow[j] + src[j] * (left + zb[j])) * inv;
}
#endif

// P(the walk of a block of (m, k) leaves the band of half-width h around
// its center line L), the bits drawn without replacement from k ones and
// m - k zeros. f holds, for the walks that stayed inside so far, the
// probability of each number j of ones seen (index j + 1); each step moves
// a one with probability (k - j) / (m - x) and a zero otherwise. What leaves
// the band is summed as it leaves, so the result is a sum of positive terms
// and keeps its relative accuracy however small it is.
// NOTE: every value is a sum of products of such steps: each step rounds at
// most five times and the exits are summed once more, so the result is
// within gamma(10 (m + 2)) of the exact tail, as long as the doubles'
// subnormal range adds nothing that matters (see DeviationLaw::tail).
template <class F>
F exitProbability(int m, int k, int h, const std::vector<int>& L) {
  std::vector<F> f(static_cast<std::size_t>(k) + 3, F(0)), g(f.size(), F(0));
  // The weights of a step into j: k - j + 1 ones were left before a one
  // step, and (m - x) + (j - k) zeros before a zero step.
  std::vector<F> oneWeight(f.size()), zeroBase(f.size());
  for (int j = 0; j <= k + 1; ++j) {
    oneWeight[static_cast<std::size_t>(j)] = F(k - j + 1);
    zeroBase[static_cast<std::size_t>(j)] = F(j - k);
  }
  auto lo = [&](int x) { return std::max({(x + L[static_cast<std::size_t>(x)] - h + 1) >> 1, 0, x - (m - k)}); };
  auto hi = [&](int x) { return std::min({(x + L[static_cast<std::size_t>(x)] + h) >> 1, k, x}); };
  f[1] = F(1);
  int curLo = 0, curHi = 0;
  F exits = F(0);
  for (int x = 0; x < m && curLo <= curHi; ++x) {
    const int nlo = lo(x + 1), nhi = hi(x + 1);
    const F inv = F(1) / F(m - x);
    F* src = f.data() + 1;  // src[j], zero outside [curLo, curHi]
    F* __restrict dst = g.data() + 1;
    const F* __restrict ow = oneWeight.data();
    const F* __restrict zb = zeroBase.data();
    const F left = F(m - x);
    stepRow(dst, src, ow, zb, left, inv, nlo, nhi);
    auto leave = [&](int j) {
      if (j < nlo || j > nhi) exits += src[j] * F(m - x - k + j) * inv;
      if (j + 1 < nlo || j + 1 > nhi) exits += src[j] * F(k - j) * inv;
    };
    const int leftEnd = std::min(curHi, nlo - 1), rightStart = std::max(curLo, nhi);
    if (leftEnd >= rightStart) {
      for (int j = curLo; j <= curHi; ++j) leave(j);
    } else {
      for (int j = curLo; j <= leftEnd; ++j) leave(j);
      for (int j = rightStart; j <= curHi; ++j) leave(j);
    }
    // NOTE: the band's ends move up by 0 or 1 a step, so the next step reads
    // only [nlo - 1, nhi]: a zero on either side of the new row is all the
    // clearing the row needs, not a pass over the old one.
    dst[nlo - 1] = F(0);
    dst[nhi + 1] = F(0);
    f.swap(g);
    curLo = nlo;
    curHi = nhi;
  }
  return exits;
}

}  // namespace

OnesLaw::OnesLaw(int m) : m_(m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  const std::size_t half = static_cast<std::size_t>(m) / 2;
  below_.resize(half + 1);
  Mpz c, total, lhs, rhs;
  mpz_set_ui(c.get(), 1);
  mpz_set_ui(below_[0].get(), 1);
  prob_.assign(static_cast<std::size_t>(m) + 1, 0.0);
  for (int i = 0; i <= m; ++i) {
    if (i > 0) {
      mpz_mul_ui(c.get(), c.get(), static_cast<unsigned long>(m) - static_cast<unsigned long>(i) + 1);
      mpz_divexact_ui(c.get(), c.get(), static_cast<unsigned long>(i));
      if (static_cast<std::size_t>(i) <= half) mpz_add(below_[static_cast<std::size_t>(i)].get(), below_[static_cast<std::size_t>(i) - 1].get(), c.get());
    }
    long e = 0;
    const double mant = mpz_get_d_2exp(&e, c.get());
    prob_[static_cast<std::size_t>(i)] = std::ldexp(mant, static_cast<int>(e) - m);
  }

  bins_.resize(static_cast<std::size_t>(m) + 1);
  passing_.resize(static_cast<std::size_t>(m) + 1);
  Mpz t;
  for (int k = 0; k <= m; ++k) {
    tailCount(t.get(), k);
    // p >= num / den  <=>  den * tail >= num * 2^m
    auto atLeast = [&](int i) {
      mpz_mul_ui(lhs.get(), t.get(), static_cast<unsigned long>(edge_den[i]));
      mpz_set_ui(rhs.get(), static_cast<unsigned long>(edge_num[i]));
      mpz_mul_2exp(rhs.get(), rhs.get(), static_cast<mp_bitcnt_t>(m));
      return mpz_cmp(lhs.get(), rhs.get()) >= 0;
    };
    int bin = 0;
    for (int i = 0; i < passing_edge; ++i) bin += atLeast(i);
    bins_[static_cast<std::size_t>(k)] = static_cast<unsigned char>(bin);
    passing_[static_cast<std::size_t>(k)] = atLeast(passing_edge);
    binProb_[static_cast<std::size_t>(bin)] += prob_[static_cast<std::size_t>(k)];
    if (passing(k)) passProb_ += prob_[static_cast<std::size_t>(k)];
  }
}

void OnesLaw::tailCount(mpz_ptr out, int k) const {
  hard_assert(k >= 0 && k <= m_, "k>=0&&k<=m_");
  const int t = std::abs(2 * k - m_);
  if (t == 0) {
    mpz_set_ui(out, 1);
    mpz_mul_2exp(out, out, static_cast<mp_bitcnt_t>(m_));
    return;
  }
  // The blocks at least t off on either side: twice those with at most
  // (m - t) / 2 ones.
  mpz_mul_2exp(out, below_[static_cast<std::size_t>((m_ - t) / 2)].get(), 1);
}

DeviationLaw::DeviationLaw(int m, int k)
    : m_(m), k_(k), err_(10.0 * (m + 2) * std::numeric_limits<double>::epsilon() / 2) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  // The walks with all ones first and with all zeros first go farthest.
  const WidestDeviation widest = widestDeviation(m, k);
  maxDev_ = static_cast<int>(std::max(widest.up, widest.down));
  tails_.push_back(1.0L);
}

long double DeviationLaw::tail(int d) {
  hard_assert(d >= 0, "d>=0");
  if (d > maxDev_) return 0.0L;
  const std::size_t i = static_cast<std::size_t>(d);
  if (i >= tails_.size()) tails_.resize(i + 1, -1.0L);
  if (tails_[i] < 0) {
    if (line_.empty()) centerLinePoints(m_, k_, line_);
    // NOTE: doubles first; a tail below 1e-250 is taken again in long
    // double, whose range holds every tail of m <= 4096 (>= 1/C(m, k)), so
    // that no part of it is lost below the doubles' smallest numbers.
    long double t = exitProbability<double>(m_, k_, d - 1, line_);
    if (t < 1e-250L) t = exitProbability<long double>(m_, k_, d - 1, line_);
    tails_[i] = t;
  }
  return tails_[i];
}

void DeviationLaw::tailCount(mpz_ptr num, mpz_ptr den, int d) const {
  hard_assert(d >= 0, "d>=0");
  mpz_bin_uiui(den, static_cast<unsigned long>(m_), static_cast<unsigned long>(k_));
  if (d == 0) {
    mpz_set(num, den);
  } else if (d > maxDev_) {
    mpz_set_ui(num, 0);
  } else {
    countWalks(num, m_, k_, d - 1, 1);
    mpz_sub(num, den, num);
  }
}

bool DeviationLaw::atLeast(int d, int num, int den) {
  const long double t = tail(d);
  const long double edge = static_cast<long double>(num) / den;
  const long double slack = 2 * err_ + 1e-17L;
  if (d == 0 || d > maxDev_) return t >= edge;  // exact values
  if (t * (1 - slack) > edge * (1 + 1e-17L)) return true;
  if (t * (1 + slack) < edge * (1 - 1e-17L)) return false;
  Mpz tn, td;
  tailCount(tn.get(), td.get(), d);
  mpz_mul_ui(tn.get(), tn.get(), static_cast<unsigned long>(den));
  mpz_mul_ui(td.get(), td.get(), static_cast<unsigned long>(num));
  return mpz_cmp(tn.get(), td.get()) >= 0;
}

int DeviationLaw::firstBelow(int lo, int guess, int num, int den) {
  // The least d in [lo, maxDev + 1] whose tail is below num / den; tails
  // do not grow with d, and the one past maxDev is 0.
  const int hi = maxDev_ + 1;
  auto above = [&](int d) { return d < hi && atLeast(d, num, den); };
  guess = std::clamp(guess, lo, hi);
  int a = lo, b = hi;  // the answer lies in [a, b]
  if (above(guess)) {
    a = guess + 1;
    for (int step = 1; a + step - 1 < hi; step *= 2) {
      if (!above(a + step - 1)) {
        b = a + step - 1;
        break;
      }
      a += step;
    }
  } else {
    b = guess;
    for (int step = 1; b - step >= lo; step *= 2) {
      if (above(b - step)) {
        a = b - step + 1;
        break;
      }
      b -= step;
    }
  }
  while (a < b) {
    const int mid = a + (b - a) / 2;
    if (above(mid)) a = mid + 1;
    else b = mid;
  }
  return a;
}

void DeviationLaw::settleBins() {
  if (settled_) return;
  // Each edge is crossed where the walk's deviation, as a Brownian bridge
  // of the steps' variance 4 p (1 - p) over m steps, leaves it about as
  // likely: P(D >= d) ~ 2 exp(-2 d^2 / (4 m p (1 - p))). The search starts
  // there and gallops to the exact crossing, so that only the tails near
  // the edges are computed, not every tail below them.
  const double spread = 4.0 * k_ * (m_ - k_) / m_;
  int d = 0;
  for (int i = 0; i < bin_count; ++i) {
    const double edge = static_cast<double>(edge_num[i]) / edge_den[i];
    const int guess = static_cast<int>(std::lround(std::sqrt(spread * std::log(2 / edge) / 2)));
    d = firstBelow(d, guess, edge_num[i], edge_den[i]);
    firstBelow_[static_cast<std::size_t>(i)] = d;
  }
  const auto fb = [&](int i) { return firstBelow_[static_cast<std::size_t>(i)]; };
  binProb_[9] = static_cast<double>(1.0L - tail(fb(0)));
  for (int b = 1; b <= 8; ++b) binProb_[static_cast<std::size_t>(b)] = static_cast<double>(tail(fb(8 - b)) - tail(fb(9 - b)));
  binProb_[0] = static_cast<double>(tail(fb(8)));
  passProb_ = static_cast<double>(1.0L - tail(fb(passing_edge)));
  settled_ = true;
}

int DeviationLaw::bin(int d) {
  settleBins();
  int bin = 0;
  for (int i = 0; i < passing_edge; ++i) bin += d < firstBelow_[static_cast<std::size_t>(i)];
  return bin;
}

bool DeviationLaw::passing(int d) {
  settleBins();
  return d < firstBelow_[passing_edge];
}

double DeviationLaw::passingProbability() {
  settleBins();
  return passProb_;
}

const BinArray& DeviationLaw::binProbabilities() {
  settleBins();
  return binProb_;
}

OnesLaw& Laws::ones(int m) {
  if (m == fastM_ && fastOnes_) return *fastOnes_;
  std::unique_ptr<OnesLaw>& law = ones_[m];
  if (!law) law = std::make_unique<OnesLaw>(m);
  if (fastM_ == 0) fastM_ = m;
  if (m == fastM_) fastOnes_ = law.get();
  return *law;
}

DeviationLaw& Laws::deviation(int m, int k) {
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  if (m == fastM_ && !fast_.empty() && fast_[static_cast<std::size_t>(k)]) return *fast_[static_cast<std::size_t>(k)];
  std::unique_ptr<DeviationLaw>& law = deviation_[{m, std::min(k, m - k)}];
  if (!law) law = std::make_unique<DeviationLaw>(m, std::min(k, m - k));
  if (fastM_ == 0) fastM_ = m;
  if (m == fastM_) {
    if (fast_.empty()) fast_.assign(static_cast<std::size_t>(m) + 1, nullptr);
    fast_[static_cast<std::size_t>(k)] = law.get();
  }
  return *law;
}

}  // namespace lumbra
