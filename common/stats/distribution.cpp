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
// The same for doubles, four or eight at a time where the processor has AVX
// or AVX-512: the same roundings (no fused multiply-add: this unit is built
// with -ffp-contract=off), so the same tails on any processor.
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

__attribute__((target("avx512f"))) void stepRowAvx512(double* __restrict dst, const double* src,
                                                      const double* __restrict ow, const double* __restrict zb,
                                                      double left, double inv, int lo, int hi) {
  const __m512d vl = _mm512_set1_pd(left), vi = _mm512_set1_pd(inv);
  int j = lo;
  for (; j + 7 <= hi; j += 8) {
    const __m512d one = _mm512_mul_pd(_mm512_loadu_pd(src + j - 1), _mm512_loadu_pd(ow + j));
    const __m512d zero = _mm512_mul_pd(_mm512_loadu_pd(src + j), _mm512_add_pd(vl, _mm512_loadu_pd(zb + j)));
    _mm512_storeu_pd(dst + j, _mm512_mul_pd(_mm512_add_pd(one, zero), vi));
  }
  if (j <= hi) {
    // The last one to seven in one masked step.
    const __mmask8 k = static_cast<__mmask8>((1u << (hi - j + 1)) - 1);
    const __m512d one = _mm512_mul_pd(_mm512_maskz_loadu_pd(k, src + j - 1), _mm512_maskz_loadu_pd(k, ow + j));
    const __m512d zero =
        _mm512_mul_pd(_mm512_maskz_loadu_pd(k, src + j), _mm512_add_pd(vl, _mm512_maskz_loadu_pd(k, zb + j)));
    _mm512_mask_storeu_pd(dst + j, k, _mm512_mul_pd(_mm512_add_pd(one, zero), vi));
  }
}

const bool has_avx = __builtin_cpu_supports("avx");
const bool has_avx512 = __builtin_cpu_supports("avx512f");

#endif

#if defined(__SSE2__)
// The same for doubles, two at a time, with the same roundings.
template <>
void stepRow<double>(double* __restrict dst, const double* src, const double* __restrict ow,
                     const double* __restrict zb, double left, double inv, int lo, int hi) {
#if defined(__x86_64__)
  if (has_avx512) return stepRowAvx512(dst, src, ow, zb, left, inv, lo, hi);
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

// For each half-width h of widths[0 .. count): P(the walk of a block of
// (m, k) leaves the band of half-width h around its center line L), the bits drawn without replacement from k ones and
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
void exitProbabilities(int m, int k, const int* widths, int count, F* out, const std::vector<int>& L) {
  // The weights of a step into j: k - j + 1 ones were left before a one
  // step, and (m - x) + (j - k) zeros before a zero step.
  std::vector<F> oneWeight(static_cast<std::size_t>(k) + 3), zeroBase(oneWeight.size());
  for (int j = 0; j <= k + 1; ++j) {
    oneWeight[static_cast<std::size_t>(j)] = F(k - j + 1);
    zeroBase[static_cast<std::size_t>(j)] = F(j - k);
  }
  struct Band {
    int h, curLo = 0, curHi = 0;
    F exits = F(0);
    std::vector<F> f, g;
  };
  std::vector<Band> bands(static_cast<std::size_t>(count));
  for (int b = 0; b < count; ++b) {
    Band& band = bands[static_cast<std::size_t>(b)];
    band.h = widths[b];
    band.f.assign(oneWeight.size(), F(0));
    band.g.assign(oneWeight.size(), F(0));
    band.f[1] = F(1);
  }
  const F* __restrict ow = oneWeight.data();
  const F* __restrict zb = zeroBase.data();
  for (int x = 0, live = count; x < m && live > 0; ++x) {
    const F inv = F(1) / F(m - x);
    const F left = F(m - x);
    const int line = x + 1 + L[static_cast<std::size_t>(x) + 1];
    const int floor = std::max(0, x + 1 - (m - k)), ceiling = std::min(k, x + 1);
    live = 0;
    // NOTE: the bands do not wait on each other: their rows interleaved, the
    // processor overlaps one band's step with the next one's.
    for (Band& band : bands) {
      if (band.curLo > band.curHi) continue;
      ++live;
      const int nlo = std::max((line - band.h + 1) >> 1, floor), nhi = std::min((line + band.h) >> 1, ceiling);
      F* src = band.f.data() + 1;  // src[j], zero outside [curLo, curHi]
      F* __restrict dst = band.g.data() + 1;
      stepRow(dst, src, ow, zb, left, inv, nlo, nhi);
      auto leave = [&](int j) {
        if (j < nlo || j > nhi) band.exits += src[j] * F(m - x - k + j) * inv;
        if (j + 1 < nlo || j + 1 > nhi) band.exits += src[j] * F(k - j) * inv;
      };
      const int leftEnd = std::min(band.curHi, nlo - 1), rightStart = std::max(band.curLo, nhi);
      if (leftEnd >= rightStart) {
        for (int j = band.curLo; j <= band.curHi; ++j) leave(j);
      } else {
        for (int j = band.curLo; j <= leftEnd; ++j) leave(j);
        for (int j = rightStart; j <= band.curHi; ++j) leave(j);
      }
      // NOTE: the band's ends move up by 0 or 1 a step, so the next step
      // reads only [nlo - 1, nhi]: a zero on either side of the new row is
      // all the clearing the row needs, not a pass over the old one.
      dst[nlo - 1] = F(0);
      dst[nhi + 1] = F(0);
      band.f.swap(band.g);
      band.curLo = nlo;
      band.curHi = nhi;
    }
  }
  for (int b = 0; b < count; ++b) out[b] = bands[static_cast<std::size_t>(b)].exits;
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
  computeTails({d});
  return tails_[static_cast<std::size_t>(d)];
}

void DeviationLaw::computeTails(std::vector<int> ds) {
  // The tails not yet known, widest first: a batch of similar widths.
  std::erase_if(ds, [&](int d) {
    return d <= 0 || d > maxDev_ || (static_cast<std::size_t>(d) < tails_.size() && tails_[static_cast<std::size_t>(d)] >= 0);
  });
  if (ds.empty()) return;
  std::sort(ds.begin(), ds.end(), std::greater<>());
  ds.erase(std::unique(ds.begin(), ds.end()), ds.end());
  if (static_cast<std::size_t>(ds.front()) >= tails_.size()) tails_.resize(static_cast<std::size_t>(ds.front()) + 1, -1.0L);
  if (line_.empty()) centerLinePoints(m_, k_, line_);
  // NOTE: four bands a pass: measured at m = 4096, k = 2048 on the shared
  // 2-core machine, each band of a pass of four cost 0.8 to 0.9 of a band
  // alone (the rows of different bands overlap in the processor).
  constexpr std::size_t batch = 4;
  std::array<int, batch> widths{};
  std::array<double, batch> exits{};
  for (std::size_t first = 0; first < ds.size(); first += batch) {
    const std::size_t count = std::min(batch, ds.size() - first);
    for (std::size_t b = 0; b < count; ++b) widths[b] = ds[first + b] - 1;
    exitProbabilities<double>(m_, k_, widths.data(), static_cast<int>(count), exits.data(), line_);
    for (std::size_t b = 0; b < count; ++b) {
      // NOTE: doubles first; a tail below 1e-250 is taken again in long
      // double, whose range holds every tail of m <= 4096 (>= 1/C(m, k)),
      // so that no part of it is lost below the doubles' smallest numbers.
      long double t = exits[b];
      if (t < 1e-250L) exitProbabilities<long double>(m_, k_, &widths[b], 1, &t, line_);
      tails_[static_cast<std::size_t>(ds[first + b])] = t;
    }
  }
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

void DeviationLaw::settleBins() {
  if (settled_) return;
  // For each edge the answer, the least d whose tail is below it, lies in
  // [lo, hi]: tail(lo - 1) is at least the edge (tail(0) = 1), tail(hi) is
  // below it (tail(maxDev + 1) = 0). Each round narrows every interval with
  // the tails known, then computes, in batched passes, the two tails around
  // each open edge's predicted crossing: a right prediction settles the
  // edge in one round.
  std::array<int, bin_count> lo{}, hi{};
  lo.fill(1);
  hi.fill(maxDev_ + 1);
  const auto known = [&](int d) {
    return d == 0 || d > maxDev_ || (static_cast<std::size_t>(d) < tails_.size() && tails_[static_cast<std::size_t>(d)] >= 0);
  };
  // The Brownian bridge of the steps' variance 4 p (1 - p) over m steps
  // leaves the band of half-width d with P(D >= d) ~ 2 exp(-2 d^2 / spread);
  // the spread is fitted to a tail already known where there is one.
  const auto crossing = [](double spread, double edge) { return std::sqrt(spread * std::log(2 / edge) / 2); };
  const double spread = 4.0 * k_ * (m_ - k_) / m_;
  for (bool open = true; open;) {
    open = false;
    std::vector<int> probes;
    for (int i = 0; i < bin_count; ++i) {
      int& a = lo[static_cast<std::size_t>(i)];
      int& b = hi[static_cast<std::size_t>(i)];
      for (int d = a; d < b; ++d) {
        if (!known(d)) continue;
        if (atLeast(d, edge_num[i], edge_den[i])) a = d + 1;
        else b = d;
      }
      if (a == b) continue;
      open = true;
      const double edge = static_cast<double>(edge_num[i]) / edge_den[i];
      const auto tailAt = [&](int d) { return static_cast<double>(tail(d)); };  // known: no pass
      double guess = 0;
      const bool below = a - 1 >= 1 && known(a - 1), above = b <= maxDev_ && known(b);
      if (below && above && tailAt(a - 1) > 0 && tailAt(b) > 0) {
        // Between two known tails: log-linear in d.
        const double l1 = std::log(tailAt(a - 1)), l2 = std::log(tailAt(b));
        guess = (a - 1) + (b - a + 1) * (l1 - std::log(edge)) / std::max(l1 - l2, 1e-300);
      } else if (below || above) {
        const int d = below ? a - 1 : b;
        const double t = std::clamp(tailAt(d), 1e-300, 0.99);
        guess = crossing(2.0 * d * d / std::log(2 / t), edge);
      } else {
        guess = crossing(spread, edge);
      }
      // The answer is the first d past the crossing.
      const int p = std::clamp(static_cast<int>(std::floor(std::min(guess, 1e6))) + 1, a, b);
      if (p - 1 >= a) probes.push_back(p - 1);
      if (p < b) probes.push_back(p);
    }
    computeTails(std::move(probes));
  }
  firstBelow_ = hi;
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
