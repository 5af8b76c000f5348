#include "stats/band_exits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "exec/processor.h"

#if defined(LUMBRA_X86_64)
#include <immintrin.h>
#elif defined(LUMBRA_SSE2)
#include <emmintrin.h>
#endif

namespace lumbra {

namespace {

// The cells a row pass reads and writes beyond the row: a vector step of n
// lanes touches up to 2n below cell 0 and n past the last.
constexpr int row_pad = 32;

// Cells -row_pad .. n + row_pad - 1 of F, all zero, cell 0 on a 64-byte
// boundary (so that the vector steps read and write whole aligned vectors).
template <class F>
class PaddedCells {
 public:
  explicit PaddedCells(int n) : mem_(static_cast<std::size_t>(n) + 2 * std::size_t{row_pad} + 64 / sizeof(F)) {
    void* p = mem_.data() + row_pad;
    std::size_t space = (mem_.size() - row_pad) * sizeof(F);
    at_ = static_cast<F*>(std::align(64, sizeof(F), p, space));
  }
  PaddedCells(const PaddedCells&) = delete;
  PaddedCells& operator=(const PaddedCells&) = delete;
  PaddedCells(PaddedCells&&) noexcept = default;
  PaddedCells& operator=(PaddedCells&&) noexcept = default;
  F* data() { return at_; }
  const F* data() const { return at_; }
  F& operator[](int j) { return at_[j]; }
  // The two rows trade places; their cells stay where they are.
  void swap(PaddedCells& other) noexcept {
    mem_.swap(other.mem_);
    std::swap(at_, other.at_);
  }

 private:
  std::vector<F> mem_;
  F* at_ = nullptr;
};

// One step of the walks that stay inside: dst[j] for j in [lo, hi] from
// src[j - 1] (a one step) and src[j] (a zero step), and zeros beside them
// (dst[lo - 1], dst[hi + 1]): the band's ends move up by 0 or 1 a step, so
// the next step reads only [lo - 1, hi + 1], and that is all the clearing
// the row needs.
template <class F>
void stepRowPlain(F* __restrict dst, const F* src, const F* __restrict ow, const F* __restrict zb, F left, F inv,
                  int lo, int hi) {
  for (int j = lo; j <= hi; ++j) dst[j] = (src[j - 1] * ow[j] + src[j] * (left + zb[j])) * inv;
  dst[lo - 1] = F(0);
  dst[hi + 1] = F(0);
}

template <class F>
void stepRow(F* __restrict dst, const F* src, const F* __restrict ow, const F* __restrict zb, F left, F inv, int lo,
             int hi) {
  stepRowPlain(dst, src, ow, zb, left, inv, lo, hi);
}

#if defined(LUMBRA_X86_64)
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
  dst[lo - 1] = 0;
  dst[hi + 1] = 0;
}

// The same in whole aligned vectors of AVX-512 lanes (below, after the
// lanes' operations).
struct Doubles;
struct Floats;
template <class Lanes, class T>
__attribute__((target("avx512f"))) void stepRowAligned(T* __restrict dst, const T* src, const T* __restrict ow,
                                                       const T* __restrict zb, T left, T inv, int lo, int hi);

const bool has_sse2 = hasCpu(cpu_sse2);
const bool has_avx = hasCpu(cpu_avx);
const bool has_avx512 = hasCpu(cpu_avx512f);

#endif

#if defined(LUMBRA_SSE2)
// The same for doubles, two at a time, with the same roundings.
template <>
void stepRow<double>(double* __restrict dst, const double* src, const double* __restrict ow,
                     const double* __restrict zb, double left, double inv, int lo, int hi) {
#if defined(LUMBRA_X86_64)
  if (has_avx512) return stepRowAligned<Doubles>(dst, src, ow, zb, left, inv, lo, hi);
  if (has_avx) return stepRowAvx(dst, src, ow, zb, left, inv, lo, hi);
  if (!has_sse2) return stepRowPlain(dst, src, ow, zb, left, inv, lo, hi);
#endif
  const __m128d vl = _mm_set1_pd(left), vi = _mm_set1_pd(inv);
  int j = lo;
  for (; j < hi; j += 2) {
    const __m128d one = _mm_mul_pd(_mm_loadu_pd(src + j - 1), _mm_loadu_pd(ow + j));
    const __m128d zero = _mm_mul_pd(_mm_loadu_pd(src + j), _mm_add_pd(vl, _mm_loadu_pd(zb + j)));
    _mm_storeu_pd(dst + j, _mm_mul_pd(_mm_add_pd(one, zero), vi));
  }
  if (j == hi) dst[j] = (src[j - 1] * ow[j] + src[j] * (left + zb[j])) * inv;
  dst[lo - 1] = 0;
  dst[hi + 1] = 0;
}
#endif

#if defined(LUMBRA_X86_64)
template <>
void stepRow<float>(float* __restrict dst, const float* src, const float* __restrict ow, const float* __restrict zb,
                    float left, float inv, int lo, int hi) {
  if (has_avx512) return stepRowAligned<Floats>(dst, src, ow, zb, left, inv, lo, hi);
  stepRowPlain(dst, src, ow, zb, left, inv, lo, hi);
}
#endif

// For each half-width h of widths[0 .. count): P(the walk of a block of
// (m, k) leaves the band of half-width h around its center line L), the
// bits drawn without replacement from k ones and m - k zeros. f holds, for the walks that stayed inside so far, the
// probability of each number j of ones seen (index j + 1); each step moves
// a one with probability (k - j) / (m - x) and a zero otherwise. What leaves
// the band is summed as it leaves, so the result is a sum of positive terms
// and keeps its relative accuracy however small it is.
// NOTE: the result is a sum of positive terms, one a path, each carrying a
// factor (1 + delta), |delta| <= u, for every rounding on its way. A cell of
// row x has four a step behind it (the product with its weight, the sum of
// the two, the product with inv, and inv itself; the weights and m - x are
// whole numbers, exact); an exit from row x adds three (two products and
// inv) and one for each addition to the sum from there on, at most two a
// row. That is at most 4 x + 3 + 2 (m - x) <= 4 (m + 1) factors, so the
// result is within gamma(4 (m + 1)) of the exact tail, as long as the
// subnormal range adds nothing that matters (see DeviationLaw::setTail).
}  // namespace

template <class F>
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& L, BandSide side,
               const int* cuts, F* lost) {
  const int cells = k + 2;  // j = 0 .. k + 1
  // The weights of a step into j: k - j + 1 ones were left before a one
  // step, and (m - x) + (j - k) zeros before a zero step.
  PaddedCells<F> oneWeight(cells), zeroBase(cells);
  for (int j = -row_pad; j < cells + row_pad; ++j) {
    oneWeight[j] = F(k - j + 1);
    zeroBase[j] = F(j - k);
  }
  struct Band {
    int h, cut = -1, curLo = 0, curHi = 0;  // cut: the open side's bound, -1 none
    F exits = F(0), lost = F(0);
    PaddedCells<F> f, g;
    explicit Band(int cells) : f(cells), g(cells) {}
  };
  std::vector<Band> bands;
  bands.reserve(static_cast<std::size_t>(count));
  for (int b = 0; b < count; ++b) {
    Band& band = bands.emplace_back(cells);
    band.h = widths[b];
    if (side != BandSide::both && cuts) band.cut = cuts[b];
    band.f[0] = F(1);
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
      const F* src = band.f.data();  // src[j], zero outside [curLo, curHi]
      F* __restrict dst = band.g.data();
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

namespace {

// The tails of one-sided bands in F, each cut on its open side where the
// walks beyond the cut are about e^(-2 reach) of its tail, and passed again
// uncut where what the cut lost is not below `loses` of the tail. The walk
// falls more than c under the line (rises over it) with a chance of about
// exp(-2 c^2 / spread), the bridge's: the cut is at c^2 = h^2 + reach
// spread.
template <class F>
void cutSideExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side,
                  double reach, F loses) {
  const double spread = 4.0 * k * (m - k) / m;
  std::vector<int> cuts(static_cast<std::size_t>(count));
  std::vector<F> got(cuts.size()), lost(cuts.size());
  for (int b = 0; b < count; ++b)
    cuts[static_cast<std::size_t>(b)] =
        std::min(m, static_cast<int>(std::sqrt(static_cast<double>(h[b]) * h[b] + reach * spread)) + 2);
  bandExits<F>(m, k, h, count, got.data(), line, side, cuts.data(), lost.data());
  for (int b = 0; b < count; ++b) {
    const auto i = static_cast<std::size_t>(b);
    if (!(lost[i] <= loses * got[i])) bandExits<F>(m, k, h + b, 1, &got[i], line, side);
    out[b] = got[i];
  }
}

}  // namespace

void sideExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side) {
  // A cut at 21.5 spreads loses about 2^-62 of the tail; it must lose less
  // than 2^-53.
  cutSideExits<double>(m, k, h, count, out, line, side, 21.5, 0x1p-53);
}

double bandExitError(int m, double u) {
  const double nu = 4.0 * (m + 1) * u;
  return nu / (1 - nu);
}

namespace {

// The widest band, in cells, that the passes in registers hold, and the
// most bands a pass.
constexpr int widest_in_registers = 128;
constexpr int bands_in_registers = 4;

#if defined(LUMBRA_X86_64)

#define LUMBRA_AVX512 __attribute__((target("avx512f")))

// The whole numbers 0 .. 4096 + widest_in_registers in T: the zero steps'
// weights (m - x) + (j - k) of every cell a vector may touch, read rather
// than added (the sum of two small whole numbers is exact, so the weight is
// the same number).
template <class T>
const T* wholeNumbers() {
  static const std::vector<T> numbers = [] {
    std::vector<T> v(4096 + widest_in_registers + 2);
    for (std::size_t c = 0; c < v.size(); ++c) v[c] = T(static_cast<int>(c));
    return v;
  }();
  return numbers.data();
}

// The masks of the live lanes of a vector whose first cell is c cells below
// the row's width: lanes[widest_in_registers + c] keeps the lanes below c.
template <int n>
constexpr std::array<std::uint16_t, 2 * widest_in_registers + 1> liveLanes() {
  std::array<std::uint16_t, 2 * widest_in_registers + 1> lanes{};
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    const int c = static_cast<int>(i) - widest_in_registers;
    lanes[i] = static_cast<std::uint16_t>(c <= 0 ? 0u : c >= n ? (1u << n) - 1 : (1u << c) - 1);
  }
  return lanes;
}

// A mask register read straight from memory, `offset` bytes from p: the
// intrinsics go through a general register, and the move from there takes
// a slot of the port the aligns need.
template <int offset>
LUMBRA_AVX512 inline __mmask16 loadMask(const std::uint16_t* p) {
  __mmask16 mask;
  asm("kmovw %c1(%2), %0" : "=k"(mask) : "i"(offset), "r"(p));
  return mask;
}

// The vector operations of the passes in registers, for doubles (8 a
// vector) and floats (16).
struct Doubles {
  using T = double;
  using V = __m512d;
  static constexpr int lanes = 8;
  static constexpr auto live = liveLanes<8>();
  LUMBRA_AVX512 static V zero() { return _mm512_setzero_pd(); }
  LUMBRA_AVX512 static V set1(T a) { return _mm512_set1_pd(a); }
  LUMBRA_AVX512 static V loadu(const T* p) { return _mm512_loadu_pd(p); }
  LUMBRA_AVX512 static void store(T* p, V v) { _mm512_store_pd(p, v); }
  LUMBRA_AVX512 static V add(V a, V b) { return _mm512_add_pd(a, b); }
  LUMBRA_AVX512 static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  LUMBRA_AVX512 static V maskzMul(__mmask16 mask, V a, V b) {
    return _mm512_maskz_mul_pd(static_cast<__mmask8>(mask), a, b);
  }
  LUMBRA_AVX512 static T first(V a) { return _mm512_cvtsd_f64(a); }
  // The cells one below and one above each lane, from a vector and the one
  // after it (an align leaves both inputs as they were: no copies; the zero-masking
  // form with every lane kept spares g++ 12 a false uninitialized warning).
  LUMBRA_AVX512 static V below(V a, V b) {
    return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(b), _mm512_castpd_si512(a), 7));
  }
  LUMBRA_AVX512 static V above(V a, V b) {
    return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(b), _mm512_castpd_si512(a), 1));
  }
};

struct Floats {
  using T = float;
  using V = __m512;
  static constexpr int lanes = 16;
  static constexpr auto live = liveLanes<16>();
  LUMBRA_AVX512 static V zero() { return _mm512_setzero_ps(); }
  LUMBRA_AVX512 static V set1(T a) { return _mm512_set1_ps(a); }
  LUMBRA_AVX512 static V loadu(const T* p) { return _mm512_loadu_ps(p); }
  LUMBRA_AVX512 static void store(T* p, V v) { _mm512_store_ps(p, v); }
  LUMBRA_AVX512 static V add(V a, V b) { return _mm512_add_ps(a, b); }
  LUMBRA_AVX512 static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
  LUMBRA_AVX512 static V maskzMul(__mmask16 mask, V a, V b) { return _mm512_maskz_mul_ps(mask, a, b); }
  LUMBRA_AVX512 static T first(V a) { return _mm512_cvtss_f32(a); }
  LUMBRA_AVX512 static V below(V a, V b) {
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(0xffff, _mm512_castps_si512(b), _mm512_castps_si512(a), 15));
  }
  LUMBRA_AVX512 static V above(V a, V b) {
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(0xffff, _mm512_castps_si512(b), _mm512_castps_si512(a), 1));
  }
};

// Cells a .. a + n - 1 of the row step below, the lanes outside keep
// cleared; `before` holds cells a - n .. a - 1, and then a .. a + n - 1.
template <class Lanes>
LUMBRA_AVX512 __attribute__((always_inline)) inline void stepAligned(
    typename Lanes::T* __restrict dst, const typename Lanes::T* src, const typename Lanes::T* __restrict ow,
    const typename Lanes::T* __restrict zb, typename Lanes::V vl, typename Lanes::V vi, int a, __mmask16 keep,
    typename Lanes::V& before) {
  using V = typename Lanes::V;
  const V here = Lanes::loadu(src + a);
  const V one = Lanes::mul(Lanes::below(before, here), Lanes::loadu(ow + a));
  const V zero = Lanes::mul(here, Lanes::add(vl, Lanes::loadu(zb + a)));
  Lanes::store(dst + a, Lanes::maskzMul(keep, Lanes::add(one, zero), vi));
  before = here;
}

// stepRow in whole aligned vectors, from the one holding lo - 1 to the one
// holding hi + 1, the lanes outside [lo, hi] cleared: the same roundings
// on the same numbers, so the same row. The rows and weights are aligned
// to 64 bytes at cell 0 with row_pad cells on either side (PaddedCells);
// the cells one below come from two aligned vectors by a lane align.
// NOTE: measured on the one-sided laws at m = 4096 (rows of some 200
// cells), the unaligned form (four loads a vector, src[j - 1] straddling
// two of the last row's stores, split stores) made a law take 1.25 times
// as long.
template <class Lanes, class T>
LUMBRA_AVX512 void stepRowAligned(T* __restrict dst, const T* src, const T* __restrict ow, const T* __restrict zb,
                                  T left, T inv, int lo, int hi) {
  static_assert(std::is_same_v<T, typename Lanes::T>);
  using V = typename Lanes::V;
  constexpr int n = Lanes::lanes;
  static_assert(row_pad >= 2 * n);
  const V vl = Lanes::set1(left), vi = Lanes::set1(inv);
  const int first = (lo - 1) & -n, last = (hi + 1) & -n;
  // The lanes of [lo, hi] in the first and the last vector (lo - first is
  // 1 to n, hi + 1 - last 0 to n - 1).
  const unsigned fromLo = ~((1u << (lo - first)) - 1), toHi = (1u << (hi + 1 - last)) - 1;
  V before = Lanes::loadu(src + first - n);
  if (first == last) {
    stepAligned<Lanes>(dst, src, ow, zb, vl, vi, first, static_cast<__mmask16>(fromLo & toHi), before);
    return;
  }
  stepAligned<Lanes>(dst, src, ow, zb, vl, vi, first, static_cast<__mmask16>(fromLo), before);
  for (int a = first + n; a < last; a += n) stepAligned<Lanes>(dst, src, ow, zb, vl, vi, a, 0xffff, before);
  stepAligned<Lanes>(dst, src, ow, zb, vl, vi, last, static_cast<__mmask16>(toHi), before);
}

// One step of a band's row in registers, row[1 .. NV] holding cells lo' ..
// (row[0] and row[NV + 1] zero), to the row of cells lo .. lo + w - 1, lo
// = lo' + S: cell j takes a one step from j - 1 and a zero step from j.
// With S = 0 the one steps come from the lane below and the zero steps
// from the same lane; with S = 1 the one steps from the same lane and the
// zero steps from the lane above: one align a vector either way. Vector t
// of the next row is (one * ow + zero * zw) * inv, its lanes past the row's
// end cleared (live: the masks of the row's width); the row is replaced in
// place, with S = 0 from the top down and with S = 1 from the bottom up, so
// that each vector is read before it is overwritten.
template <class Lanes, int NV, int S, int t>
LUMBRA_AVX512 __attribute__((always_inline)) inline void stepVectors(typename Lanes::V* row,
                                                                     const typename Lanes::T* ow,
                                                                     const typename Lanes::T* zw,
                                                                     typename Lanes::V inv,
                                                                     const std::uint16_t* live) {
  using V = typename Lanes::V;
  constexpr int n = Lanes::lanes;
  const V one = S == 0 ? Lanes::below(row[t], row[t + 1]) : row[t + 1];
  const V zero = S == 0 ? row[t + 1] : Lanes::above(row[t + 1], row[t + 2]);
  const V sum = Lanes::add(Lanes::mul(one, Lanes::loadu(ow + t * n)), Lanes::mul(zero, Lanes::loadu(zw + t * n)));
  row[t + 1] = Lanes::maskzMul(loadMask<-2 * t * n>(live), sum, inv);
  if constexpr (S == 0 && t > 0) stepVectors<Lanes, NV, S, t - 1>(row, ow, zw, inv, live);
  if constexpr (S == 1 && t + 1 < NV) stepVectors<Lanes, NV, S, t + 1>(row, ow, zw, inv, live);
}

template <class Lanes, int NV, int S>
LUMBRA_AVX512 __attribute__((always_inline)) inline void stepInRegisters(typename Lanes::V* row,
                                                                         const typename Lanes::T* ow,
                                                                         const typename Lanes::T* zw,
                                                                         typename Lanes::V inv, int w) {
  const std::uint16_t* live = Lanes::live.data() + widest_in_registers + w;
  stepVectors<Lanes, NV, S, S == 0 ? NV - 1 : 0>(row, ow, zw, inv, live);
}

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
// in registers the shift is a lane align. A row's vector then costs one
// align and four roundings; the weights and the masks of the live lanes are
// read, not computed (each computed one took a slot of the two vector ports
// the roundings need): 3.6 time-stamp ticks a vector and row at m = 4096,
// h = 120 against 4.9 with two permutes and computed masks and weights,
// for the same doubles.
template <class Lanes, int NV, int B>
LUMBRA_AVX512 bool exitsInRegisters(int m, int k, const int* h, const typename Lanes::T* ow, const int* L,
                                    double* out) {
  using T = typename Lanes::T;
  using V = typename Lanes::V;
  constexpr int n = Lanes::lanes;
  const T* whole = wholeNumbers<T>();
  // row[b][0] and row[b][NV + 1] stay zero: the cells beside the row.
  V row[B][NV + 2];
  alignas(64) T top[B][NV * n] = {};
  int curLo[B] = {}, curHi[B] = {};
  T exits[B] = {};
  for (int b = 0; b < B; ++b) {
    for (V& r : row[b]) r = Lanes::zero();
    top[b][0] = T(1);
    row[b][1] = Lanes::loadu(top[b]);
  }
  for (int x = 0; x < m; ++x) {
    const T inv = T(1) / T(m - x);
    const int line = x + 1 + L[x + 1];
    const int floor = std::max(0, x + 1 - (m - k)), ceiling = std::min(k, x + 1);
    const V vi = Lanes::set1(inv);
    // Every loop unrolled, so that the rows' indices are constants and the
    // rows stay in registers.
#pragma GCC unroll 4
    for (int b = 0; b < B; ++b) {
      const int lo = std::max((line - h[b] + 1) >> 1, floor), hi = std::min((line + h[b]) >> 1, ceiling);
      const int s = lo - curLo[b];
      if (s < 0 || s > 1 || hi < curHi[b] || hi > curHi[b] + 1 || hi < lo || hi - lo + 1 > NV * n) return false;
      if (s) exits[b] += Lanes::first(row[b][1]) * whole[m - x - k + curLo[b]] * inv;
      if (hi == curHi[b]) exits[b] += top[b][curHi[b] - curLo[b]] * ow[curHi[b] + 1] * inv;
      const T* zw = whole + (m - x - k + lo);
      if (s) stepInRegisters<Lanes, NV, 1>(row[b], ow + lo, zw, vi, hi - lo + 1);
      else stepInRegisters<Lanes, NV, 0>(row[b], ow + lo, zw, vi, hi - lo + 1);
      // The top cell, read by the next step's exits.
#pragma GCC unroll 16
      for (int t = 0; t < NV; ++t) Lanes::store(top[b] + t * n, row[b][t + 1]);
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
using RegisterPass = bool (*)(int, int, const int*, const typename Lanes::T*, const int*, double*);

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
  // The weights of a one step into j, as bandExits has them, for every j a
  // vector may touch.
  std::vector<T> ow;
  if (has_avx512) {
    ow.resize(static_cast<std::size_t>(k) + widest_in_registers + 2);
    for (std::size_t j = 0; j < ow.size(); ++j) ow[j] = T(k - static_cast<int>(j) + 1);
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
    if (nv == 0 || !passes[static_cast<std::size_t>(nv) - 1][size - 1](m, k, hs.data(), ow.data(), line.data(), got.data()))
      bandExits<double>(m, k, hs.data(), bands, got.data(), line);
    for (std::size_t b = 0; b < size; ++b) out[order[first + b]] = got[b];
    first += size;
  }
}

#endif

}  // namespace

void fastBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side) {
  if (side != BandSide::both) return sideExits(m, k, h, count, out, line, side);
#if defined(LUMBRA_X86_64)
  exitsInRegisters<Doubles>(m, k, h, count, line, out);
#else
  bandExits<double>(m, k, h, count, out, line);
#endif
}

namespace {

#if defined(LUMBRA_SSE2)
// While it lives, results below the normal range are zero (and read as
// zero): the float pass of a one-sided band reaches cells far from the
// line, whose chances fall through the floats' subnormal range, and the
// processor's slow path there costs more than the pass.
class FlushToZero {
 public:
  FlushToZero() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }  // flush to zero, denormals are zero
  ~FlushToZero() { _mm_setcsr(saved_); }
  FlushToZero(const FlushToZero&) = delete;
  FlushToZero& operator=(const FlushToZero&) = delete;

 private:
  unsigned saved_;
};
#else
// Nothing to set without SSE2: subnormals are kept, at their cost.
struct FlushToZero {
  FlushToZero() {}
};
#endif

// sideExits in float, for the search's decisions: within bandExitError(m,
// 2^-24) of each tail plus 1e-30, as the float pass in registers. Each
// band is cut where the walks cut off are about 2^-34 of its tail, and
// measured to be below 2^-30 of it (else it goes again uncut): far inside
// the float's own bound. What the flush to zero drops is below 2^-126 a
// rounding, some 7e7 of them at the most (m, k <= 4096): below 1e-30.
void roughSideExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                    BandSide side) {
  const FlushToZero flush;
  cutSideExits<float>(m, k, h, count, out, line, side, 12, 0x1p-30f);
}

}  // namespace

void approxBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                     BandSide side) {
  if (side != BandSide::both) return roughSideExits(m, k, h, count, out, line, side);
#if defined(LUMBRA_X86_64)
  exitsInRegisters<Floats>(m, k, h, count, line, out);
#else
  bandExits<double>(m, k, h, count, out, line);
#endif
}

}  // namespace lumbra
