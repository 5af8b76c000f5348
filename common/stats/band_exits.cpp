#include "stats/band_exits.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumbra {

namespace {

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
// (m, k) leaves the band of half-width h around its center line L), the
// bits drawn without replacement from k ones and m - k zeros. f holds, for the walks that stayed inside so far, the
// probability of each number j of ones seen (index j + 1); each step moves
// a one with probability (k - j) / (m - x) and a zero otherwise. What leaves
// the band is summed as it leaves, so the result is a sum of positive terms
// and keeps its relative accuracy however small it is.
// NOTE: every value is a sum of products of such steps: each step rounds at
// most five times and the exits are summed once more, so the result is
// within gamma(10 (m + 2)) of the exact tail, as long as the doubles'
// subnormal range adds nothing that matters (see DeviationLaw::computeTails).
}  // namespace

template <class F>
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& L) {
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


template void bandExits<double>(int, int, const int*, int, double*, const std::vector<int>&);
template void bandExits<long double>(int, int, const int*, int, long double*, const std::vector<int>&);

double bandExitError(int m, double u) {
  const double nu = 10.0 * (m + 2) * u;
  return nu / (1 - nu);
}

namespace {

// The widest band, in cells, that the passes in registers hold.
constexpr int widest_in_registers = 128;

#if defined(__x86_64__)

#define LUMBRA_AVX512 __attribute__((target("avx512f")))

// The vector operations of the passes in registers, for doubles (8 a
// vector) and floats (16).
struct Doubles {
  using T = double;
  using V = __m512d;
  static constexpr int lanes = 8;
  LUMBRA_AVX512 static V zero() { return _mm512_setzero_pd(); }
  LUMBRA_AVX512 static V set1(T a) { return _mm512_set1_pd(a); }
  LUMBRA_AVX512 static V loadu(const T* p) { return _mm512_loadu_pd(p); }
  LUMBRA_AVX512 static void store(T* p, V v) { _mm512_store_pd(p, v); }
  LUMBRA_AVX512 static V add(V a, V b) { return _mm512_add_pd(a, b); }
  LUMBRA_AVX512 static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  LUMBRA_AVX512 static V maskzMul(unsigned mask, V a, V b) {
    return _mm512_maskz_mul_pd(static_cast<__mmask8>(mask), a, b);
  }
  // Lanes base .. base + 7 of a and b side by side.
  LUMBRA_AVX512 static __m512i index(int base) {
    return _mm512_add_epi64(_mm512_set1_epi64(base), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
  }
  LUMBRA_AVX512 static V pick(V a, __m512i index, V b) { return _mm512_permutex2var_pd(a, index, b); }
};

struct Floats {
  using T = float;
  using V = __m512;
  static constexpr int lanes = 16;
  LUMBRA_AVX512 static V zero() { return _mm512_setzero_ps(); }
  LUMBRA_AVX512 static V set1(T a) { return _mm512_set1_ps(a); }
  LUMBRA_AVX512 static V loadu(const T* p) { return _mm512_loadu_ps(p); }
  LUMBRA_AVX512 static void store(T* p, V v) { _mm512_store_ps(p, v); }
  LUMBRA_AVX512 static V add(V a, V b) { return _mm512_add_ps(a, b); }
  LUMBRA_AVX512 static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
  LUMBRA_AVX512 static V maskzMul(unsigned mask, V a, V b) {
    return _mm512_maskz_mul_ps(static_cast<__mmask16>(mask), a, b);
  }
  LUMBRA_AVX512 static __m512i index(int base) {
    return _mm512_add_epi32(_mm512_set1_epi32(base),
                            _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
  }
  LUMBRA_AVX512 static V pick(V a, __m512i index, V b) { return _mm512_permutex2var_ps(a, index, b); }
};

// The pass of bandExits for one band of half-width h >= 1, its row of at
// most NV vectors in registers, cell i the chance of j = lo + i ones. What
// the reference does with guard cells and the cells that leave comes down
// to this: the band's ends move up by 0 or 1 a step, so the walks that
// leave are a zero step from the row's bottom cell when the bottom moves
// up and a one step from its top cell when the top stays, at most two
// terms a row, added in the reference's order. Each cell is the same
// expression on the same numbers, so with T = double the result is the
// reference's double. Returns false (the caller then runs the reference)
// where a row breaks these assumptions.
// NOTE: measured at m = 4096 on the cmake binary, the reference's rows in
// memory spent most of their time waiting on the row just stored (each
// cell reads the one beside it, so a vector's load straddles two stores);
// in registers the shift is a lane permute.
template <class Lanes, int NV>
LUMBRA_AVX512 bool exitInRegisters(int m, int k, int h, const typename Lanes::T* ow,
                                   const typename Lanes::T* zb, const int* L, double& out) {
  using T = typename Lanes::T;
  using V = typename Lanes::V;
  constexpr int n = Lanes::lanes;
  constexpr unsigned full = (1u << n) - 1;
  // row[0] and row[NV + 1] stay zero: the cells beside the row.
  V row[NV + 2];
  for (V& r : row) r = Lanes::zero();
  alignas(64) T cells[NV * n] = {};
  cells[0] = T(1);
  row[1] = Lanes::loadu(cells);
  int curLo = 0, curHi = 0;
  T exits = T(0);
  for (int x = 0; x < m; ++x) {
    const T inv = T(1) / T(m - x);
    const T left = T(m - x);
    const int line = x + 1 + L[x + 1];
    const int lo = std::max((line - h + 1) >> 1, std::max(0, x + 1 - (m - k)));
    const int hi = std::min((line + h) >> 1, std::min(k, x + 1));
    const int s = lo - curLo;
    if (s < 0 || s > 1 || hi < curHi || hi > curHi + 1 || hi < lo || hi - lo + 1 > NV * n) return false;
    if (s) exits += cells[0] * T(m - x - k + curLo) * inv;
    if (hi == curHi) exits += cells[curHi - curLo] * T(k - curHi) * inv;
    const __m512i below = Lanes::index(n - 1 + s), here = Lanes::index(s);
    const V vl = Lanes::set1(left), vi = Lanes::set1(inv);
    const int w = hi - lo + 1;
    V next[NV];
    for (int t = 0; t < NV; ++t) {
      const V a = Lanes::pick(row[t], below, row[t + 1]);
      const V b = Lanes::pick(row[t + 1], here, row[t + 2]);
      const V one = Lanes::mul(a, Lanes::loadu(ow + lo + t * n));
      const V zero = Lanes::mul(b, Lanes::add(vl, Lanes::loadu(zb + lo + t * n)));
      const int live = std::clamp(w - t * n, 0, n);
      next[t] = Lanes::maskzMul(live == n ? full : (1u << live) - 1, Lanes::add(one, zero), vi);
    }
    for (int t = 0; t < NV; ++t) {
      row[t + 1] = next[t];
      Lanes::store(cells + t * n, next[t]);
    }
    curLo = lo;
    curHi = hi;
  }
  out = static_cast<double>(exits);
  return true;
}

template <class Lanes>
using RegisterPass = bool (*)(int, int, int, const typename Lanes::T*, const typename Lanes::T*, const int*, double&);

template <class Lanes, int... V>
constexpr std::array<RegisterPass<Lanes>, sizeof...(V)> registerPasses(std::integer_sequence<int, V...>) {
  return {&exitInRegisters<Lanes, V + 1>...};
}

// The pass in registers of the fewest vectors that hold the band.
template <class Lanes>
bool exitInRegisters(int m, int k, int h, const std::vector<int>& line, double& out) {
  using T = typename Lanes::T;
  constexpr int n = Lanes::lanes;
  constexpr int most = widest_in_registers / n;
  static constexpr auto passes = registerPasses<Lanes>(std::make_integer_sequence<int, most>());
  if (!has_avx512 || h < 1 || h + 1 > widest_in_registers) return false;
  // The weights of a step into j, as bandExits has them, for every j a
  // vector may touch.
  std::vector<T> ow(static_cast<std::size_t>(k) + widest_in_registers + 2), zb(ow.size());
  for (std::size_t j = 0; j < ow.size(); ++j) {
    ow[j] = T(k - static_cast<int>(j) + 1);
    zb[j] = T(static_cast<int>(j) - k);
  }
  const int vectors = (h + 1 + n - 1) / n;
  return passes[static_cast<std::size_t>(vectors) - 1](m, k, h, ow.data(), zb.data(), line.data(), out);
}

#endif

}  // namespace

bool fastBandExit(int m, int k, int h, double& out, const std::vector<int>& line) {
#if defined(__x86_64__)
  return exitInRegisters<Doubles>(m, k, h, line, out);
#else
  (void)m, (void)k, (void)h, (void)out, (void)line;
  return false;
#endif
}

double approxBandExit(int m, int k, int h, const std::vector<int>& line) {
  double out = 0;
#if defined(__x86_64__)
  if (exitInRegisters<Floats>(m, k, h, line, out)) return out;
#endif
  // The reference's double is within the bound too.
  bandExits<double>(m, k, &h, 1, &out, line);
  return out;
}

}  // namespace lumbra
