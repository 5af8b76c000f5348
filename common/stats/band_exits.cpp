#include "stats/band_exits.h"

#include <algorithm>
#include <array>
#include <cmath>
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
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& L, BandSide side,
               const int* cuts, F* lost) {
  // The weights of a step into j: k - j + 1 ones were left before a one
  // step, and (m - x) + (j - k) zeros before a zero step.
  std::vector<F> oneWeight(static_cast<std::size_t>(k) + 3), zeroBase(oneWeight.size());
  for (int j = 0; j <= k + 1; ++j) {
    oneWeight[static_cast<std::size_t>(j)] = F(k - j + 1);
    zeroBase[static_cast<std::size_t>(j)] = F(j - k);
  }
  struct Band {
    int h, cut = -1, curLo = 0, curHi = 0;  // cut: the open side's bound, -1 none
    F exits = F(0), lost = F(0);
    std::vector<F> f, g;
  };
  std::vector<Band> bands(static_cast<std::size_t>(count));
  for (int b = 0; b < count; ++b) {
    Band& band = bands[static_cast<std::size_t>(b)];
    band.h = widths[b];
    if (side != BandSide::both && cuts) band.cut = cuts[b];
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
      const int below = side == BandSide::up ? band.cut : band.h, above = side == BandSide::down ? band.cut : band.h;
      const int nlo = below < 0 ? floor : std::max((line - below + 1) >> 1, floor);
      const int nhi = above < 0 ? ceiling : std::min((line + above) >> 1, ceiling);
      F* src = band.f.data() + 1;  // src[j], zero outside [curLo, curHi]
      F* __restrict dst = band.g.data() + 1;
      stepRow(dst, src, ow, zb, left, inv, nlo, nhi);
      // What leaves through the open side's cut is summed apart.
      F& under = side == BandSide::up ? band.lost : band.exits;
      F& over = side == BandSide::down ? band.lost : band.exits;
      auto leave = [&](int j) {
        if (j < nlo) under += src[j] * F(m - x - k + j) * inv;
        else if (j > nhi) over += src[j] * F(m - x - k + j) * inv;
        if (j + 1 < nlo) under += src[j] * F(k - j) * inv;
        else if (j + 1 > nhi) over += src[j] * F(k - j) * inv;
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
  for (int b = 0; b < count; ++b) {
    out[b] = bands[static_cast<std::size_t>(b)].exits;
    if (lost) lost[b] = bands[static_cast<std::size_t>(b)].lost;
  }
}


template void bandExits<double>(int, int, const int*, int, double*, const std::vector<int>&, BandSide, const int*,
                                double*);
template void bandExits<long double>(int, int, const int*, int, long double*, const std::vector<int>&, BandSide,
                                     const int*, long double*);

void sideExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side) {
  // The walk falls more than c under the line (rises over it) with a chance
  // of about exp(-2 c^2 / spread), the bridge's: a cut at c^2 = h^2 + 21.5
  // spread loses about 2^-62 of the tail. Whatever it loses is measured and
  // must be below 2^-53 of the tail, else the band goes again uncut.
  const double spread = 4.0 * k * (m - k) / m;
  std::vector<int> cuts(static_cast<std::size_t>(count));
  std::vector<double> lost(cuts.size());
  for (int b = 0; b < count; ++b)
    cuts[static_cast<std::size_t>(b)] = std::min(m, static_cast<int>(std::sqrt(static_cast<double>(h[b]) * h[b] + 21.5 * spread)) + 2);
  bandExits<double>(m, k, h, count, out, line, side, cuts.data(), lost.data());
  for (int b = 0; b < count; ++b)
    if (!(lost[static_cast<std::size_t>(b)] <= 0x1p-53 * out[b])) bandExits<double>(m, k, h + b, 1, out + b, line, side);
}

double bandExitError(int m, double u) {
  const double nu = 10.0 * (m + 2) * u;
  return nu / (1 - nu);
}

namespace {

// The widest band, in cells, that the passes in registers hold, and the
// most bands a pass.
constexpr int widest_in_registers = 128;
constexpr int bands_in_registers = 4;

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

// The pass of bandExits for B bands of half-widths h[0 .. B) >= 1, each
// row of at most NV vectors in registers, cell i the chance of j = lo + i
// ones. What the reference does with guard cells and the cells that leave
// comes down to this: the band's ends move up by 0 or 1 a step, so the
// walks that leave are a zero step from the row's bottom cell when the
// bottom moves up and a one step from its top cell when the top stays, at
// most two terms a row, added in the reference's order. Each cell is the
// same expression on the same numbers, so with T = double each result is
// the reference's double. Returns false (the caller then runs the
// reference) where a row breaks these assumptions.
// NOTE: measured at m = 4096 on the cmake binary, the reference's rows in
// memory spent most of their time waiting on the row just stored (each
// cell reads the one beside it, so a vector's load straddles two stores);
// in registers the shift is a lane permute. A narrow band's row is a chain
// of a permute and four roundings, so bands go several a pass.
template <class Lanes, int NV, int B>
LUMBRA_AVX512 bool exitsInRegisters(int m, int k, const int* h, const typename Lanes::T* ow,
                                    const typename Lanes::T* zb, const int* L, double* out) {
  using T = typename Lanes::T;
  using V = typename Lanes::V;
  constexpr int n = Lanes::lanes;
  constexpr unsigned full = (1u << n) - 1;
  // row[b][0] and row[b][NV + 1] stay zero: the cells beside the row.
  V row[B][NV + 2];
  alignas(64) T cells[B][NV * n] = {};
  int curLo[B] = {}, curHi[B] = {};
  T exits[B] = {};
  for (int b = 0; b < B; ++b) {
    for (V& r : row[b]) r = Lanes::zero();
    cells[b][0] = T(1);
    row[b][1] = Lanes::loadu(cells[b]);
  }
  for (int x = 0; x < m; ++x) {
    const T inv = T(1) / T(m - x);
    const T left = T(m - x);
    const int line = x + 1 + L[x + 1];
    const int floor = std::max(0, x + 1 - (m - k)), ceiling = std::min(k, x + 1);
    const V vl = Lanes::set1(left), vi = Lanes::set1(inv);
    // Every loop unrolled, so that the rows' indices are constants and the
    // rows stay in registers.
#pragma GCC unroll 4
    for (int b = 0; b < B; ++b) {
      const int lo = std::max((line - h[b] + 1) >> 1, floor), hi = std::min((line + h[b]) >> 1, ceiling);
      const int s = lo - curLo[b];
      if (s < 0 || s > 1 || hi < curHi[b] || hi > curHi[b] + 1 || hi < lo || hi - lo + 1 > NV * n) return false;
      if (s) exits[b] += cells[b][0] * T(m - x - k + curLo[b]) * inv;
      if (hi == curHi[b]) exits[b] += cells[b][curHi[b] - curLo[b]] * T(k - curHi[b]) * inv;
      const __m512i below = Lanes::index(n - 1 + s), here = Lanes::index(s);
      const int w = hi - lo + 1;
      V next[NV];
#pragma GCC unroll 16
      for (int t = 0; t < NV; ++t) {
        const V one = Lanes::mul(Lanes::pick(row[b][t], below, row[b][t + 1]), Lanes::loadu(ow + lo + t * n));
        const V zero = Lanes::mul(Lanes::pick(row[b][t + 1], here, row[b][t + 2]),
                                  Lanes::add(vl, Lanes::loadu(zb + lo + t * n)));
        const int live = std::clamp(w - t * n, 0, n);
        next[t] = Lanes::maskzMul(live == n ? full : (1u << live) - 1, Lanes::add(one, zero), vi);
      }
#pragma GCC unroll 16
      for (int t = 0; t < NV; ++t) {
        row[b][t + 1] = next[t];
        Lanes::store(cells[b] + t * n, next[t]);
      }
      curLo[b] = lo;
      curHi[b] = hi;
    }
  }
  for (int b = 0; b < B; ++b) out[b] = static_cast<double>(exits[b]);
  return true;
}

// The bands a pass in registers for rows of NV vectors: as many as the 32
// vector registers hold with a row in the making, at most four.
constexpr int bandsFor(int vectors) { return std::clamp((26 - vectors) / vectors, 1, bands_in_registers); }

template <class Lanes>
using RegisterPass = bool (*)(int, int, const int*, const typename Lanes::T*, const typename Lanes::T*, const int*,
                              double*);

template <class Lanes, int NV, int B>
constexpr RegisterPass<Lanes> registerPass() {
  if constexpr (B <= bandsFor(NV)) return &exitsInRegisters<Lanes, NV, B>;
  else return nullptr;
}

template <class Lanes, int NV, int... B>
constexpr std::array<RegisterPass<Lanes>, sizeof...(B)> registerPasses(std::integer_sequence<int, B...>) {
  return {registerPass<Lanes, NV, B + 1>()...};
}

template <class Lanes, int... V>
constexpr auto registerTable(std::integer_sequence<int, V...>) {
  return std::array{registerPasses<Lanes, V + 1>(std::make_integer_sequence<int, bands_in_registers>())...};
}

// The bands in groups of one row length, as many a pass as bandsFor
// allows, in registers; those that do not fit go to the reference pass
// (whose doubles are the same and within the float's bound).
template <class Lanes>
void exitsInRegisters(int m, int k, const int* h, int count, const std::vector<int>& line, double* out) {
  using T = typename Lanes::T;
  constexpr int n = Lanes::lanes;
  constexpr int most = widest_in_registers / n;
  static constexpr auto passes = registerTable<Lanes>(std::make_integer_sequence<int, most>());
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
  std::sort(order.begin(), order.end(), [&](int a, int b) { return h[a] < h[b]; });
  const auto vectors = [&](int width) { return width < 1 || width + 1 > widest_in_registers ? 0 : (width + n) / n; };
  // The weights of a step into j, as bandExits has them, for every j a
  // vector may touch.
  std::vector<T> ow, zb;
  if (has_avx512) {
    ow.resize(static_cast<std::size_t>(k) + widest_in_registers + 2);
    zb.resize(ow.size());
    for (std::size_t j = 0; j < ow.size(); ++j) {
      ow[j] = T(k - static_cast<int>(j) + 1);
      zb[j] = T(static_cast<int>(j) - k);
    }
  }
  std::array<int, bands_in_registers> hs{};
  std::array<double, bands_in_registers> got{};
  for (std::size_t first = 0; first < order.size();) {
    const int nv = has_avx512 ? vectors(h[order[first]]) : 0;
    std::size_t size = 1;
    const std::size_t room = nv > 0 ? static_cast<std::size_t>(bandsFor(nv)) : static_cast<std::size_t>(bands_in_registers);
    while (first + size < order.size() && size < room && (has_avx512 ? vectors(h[order[first + size]]) : 0) == nv) ++size;
    for (std::size_t b = 0; b < size; ++b) hs[b] = h[order[first + b]];
    const int bands = static_cast<int>(size);
    if (nv == 0 || !passes[static_cast<std::size_t>(nv) - 1][size - 1](m, k, hs.data(), ow.data(), zb.data(), line.data(), got.data()))
      bandExits<double>(m, k, hs.data(), bands, got.data(), line);
    for (std::size_t b = 0; b < size; ++b) out[order[first + b]] = got[b];
    first += size;
  }
}

#endif

}  // namespace

void fastBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side) {
  if (side != BandSide::both) return sideExits(m, k, h, count, out, line, side);
#if defined(__x86_64__)
  exitsInRegisters<Doubles>(m, k, h, count, line, out);
#else
  bandExits<double>(m, k, h, count, out, line);
#endif
}

void approxBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                     BandSide side) {
  if (side != BandSide::both) return sideExits(m, k, h, count, out, line, side);
#if defined(__x86_64__)
  exitsInRegisters<Floats>(m, k, h, count, line, out);
#else
  bandExits<double>(m, k, h, count, out, line);
#endif
}

}  // namespace lumbra
