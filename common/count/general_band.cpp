#include "count/general_band.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include "count/binomial_size.h"
#include "count/limb_rows.h"
#include "exec/processor.h"
#include "kova/hard_assert.h"

#if defined(LUMBRA_X86_64)
#include <immintrin.h>
#endif

namespace lumbra {

namespace {

using i64 = std::int64_t;

// The band cut to the rectangle every path keeps to, and then to the points
// from which some path goes on to the end without leaving: row t admits
// [low(t), high(t)], empty when low > high. A path that steps beyond these
// rows is bound to leave the band later, so counting it as leaving at once
// changes no count and no probability; it keeps the rows as narrow as the
// band's tightest rows ahead allow (with ties, a band admits everything
// between two checks, and only a few hundred cells of such a row matter).
// NOTE: 32-bit bounds (a <= max_band_steps): half the memory of the band's.
struct Rows {
  const GeneralBand& g;
  i64 n;
  std::vector<std::int32_t> lo, hi;
  explicit Rows(const GeneralBand& band) : g(band), n(band.a + band.b) {
    hard_assert(band.a >= 0 && band.b >= 0 && band.a + band.b <= max_band_steps, "a>=0&&b>=0&&a+b<=max_band_steps");
    hard_assert(band.lo.size() == static_cast<std::size_t>(n) + 1 && band.hi.size() == band.lo.size(),
                "lo.size()==n+1&&hi.size()==lo.size()");
    lo.resize(static_cast<std::size_t>(n) + 1);
    hi.resize(lo.size());
    // From the end back: a point of row t goes on only to i and i + 1.
    i64 nextLo = band.a, nextHi = band.a;
    for (i64 t = n; t >= 0; --t) {
      const auto k = static_cast<std::size_t>(t);
      const i64 l = std::max({band.lo[k], i64{0}, t - band.b, nextLo - 1});
      const i64 h = std::min({band.hi[k], t, band.a, nextHi});
      nextLo = l;
      nextHi = h;
      // An empty row (any one makes every path leave) stays empty in 32 bits.
      lo[k] = static_cast<std::int32_t>(std::min(l, max_band_steps));
      hi[k] = static_cast<std::int32_t>(std::max(h, i64{-1}));
    }
  }
  i64 low(i64 t) const { return lo[static_cast<std::size_t>(t)]; }
  i64 high(i64 t) const { return hi[static_cast<std::size_t>(t)]; }
  bool anyEmpty() const {
    for (i64 t = 0; t <= n; ++t)
      if (low(t) > high(t)) return true;
    return false;
  }
  // Whether the band admits the whole rectangle: then no path leaves.
  bool everything() const {
    for (i64 t = 0; t <= n; ++t)
      if (low(t) > std::max(i64{0}, t - g.b) || high(t) < std::min(t, g.a)) return false;
    return true;
  }
};

// ---- Exact counts -------------------------------------------------------

// The rows of the exact count: Rows also cut to the points a path reaches
// from (0, 0) inside the band, so that every cell lies on some path through
// it, as the limb rows require.
class CountRows final : public RowRanges {
 public:
  explicit CountRows(const GeneralBand& band) : r_(band) {
    for (i64 t = 1; t <= r_.n; ++t) {
      const auto k = static_cast<std::size_t>(t);
      r_.lo[k] = std::max(r_.lo[k], r_.lo[k - 1]);
      r_.hi[k] = std::min(r_.hi[k], r_.hi[k - 1] + 1);
    }
  }
  const Rows& cut() const { return r_; }

  void rows(i64 t, int dir, std::size_t count, i64* low, i64* cells) const override {
    for (std::size_t j = 0; j < count; ++j, t += dir) {
      low[j] = r_.low(t);
      cells[j] = std::max(i64{0}, r_.high(t) - r_.low(t) + 1);
    }
  }

  // The rows' room, and the limb additions they cost on one thread.
  RowsShape shape() const {
    i64 widest = 1;
    for (i64 t = 0; t <= r_.n; ++t) widest = std::max(widest, r_.high(t) - r_.low(t) + 1);
    return {r_.n, r_.g.a, widest, 2 * (widest - 1)};
  }
  double work() const {
    const double all = log2BinomialAbove(r_.n, r_.g.a);
    double sum = 0;
    for (i64 t = 0; t <= r_.n; ++t)
      sum += rowLimbs(static_cast<double>(std::max(i64{0}, r_.high(t) - r_.low(t) + 1)),
                      static_cast<double>(std::min(t, r_.n - t)), all);
    return sum;
  }

 private:
  Rows r_;
};

// ---- Double-word arithmetic -------------------------------------------------
//
// A value is hi + lo with |lo| <= ulp(hi) / 2. The building blocks and their
// relative error bounds (u = 2^-53), from Joldes, Muller and Popescu, "Tight
// and rigorous error bounds for basic building blocks of double-word
// arithmetic" (2017): a double-word times a double (their DWTimesFP3), 2u^2;
// the sum of two double-words of one sign (SloppyDWPlusDW; for operands of
// one sign no cancellation occurs), 3u^2; a double-word times a double-word
// (DWTimesDW3), 4u^2. They need a correctly rounded fused multiply-add and
// no contraction of other products (the unit is built with -ffp-contract=off).

struct DW {
  double h = 0, l = 0;
};

inline DW fastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

inline DW twoSum(double a, double b) {
  const double s = a + b, bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

inline DW mulD(DW x, double y) {
  const double c = x.h * y;
  return fastTwoSum(c, std::fma(x.l, y, std::fma(x.h, y, -c)));
}

inline DW add(DW x, DW y) {
  const DW s = twoSum(x.h, y.h);
  return fastTwoSum(s.h, s.l + (x.l + y.l));
}

inline DW mul(DW x, DW y) {
  const double c = x.h * y.h;
  const double c1 = std::fma(x.h, y.h, -c);
  const double c2 = std::fma(x.l, y.h, std::fma(x.h, y.l, x.l * y.l));
  return fastTwoSum(c, c1 + c2);
}

// 1/m for an integer m >= 1 below 2^53: the residual 1 - h m is exact.
inline DW inverse(double m) {
  const double h = 1 / m;
  return fastTwoSum(h, std::fma(-h, m, 1.0) / m);
}

// The error of one row, relative. A row holds its probabilities divided by
// a scale s, a double-word in [1/2, 1) carried beside it (see Scale). A cell
// is the sum of two products of a cell of the row before and a weight, the
// power of two of the scale folded in (2u^2 each, then 3u^2): 5u^2. The
// scale is the one before over m (the inverse u^2, the product 4u^2) times
// a power of two: 5u^2; backward also its inverse, the one before times m
// (2u^2). A term that leaves is a cell times its weight (2u^2) times s / m
// (4u^2); the halves meet in a sum of products of cells (4u^2 each) times
// the product of the two scales (4u^2 twice). In all at most 12u^2 a row
// and 12u^2 more: within 16u^2 a row, with two rows to spare.
constexpr double u2 = 0x1p-106;
constexpr double step_error = 16 * u2;
constexpr double sum_error = 3 * u2;
constexpr double product_error = 6 * u2;
// The absolute error any one of these operations can add when its result or
// a part of it falls below the doubles' normal range, in units of
// probability (every cell and weight product here is a probability <= 1
// over a scale in [1/2, 1): an error in a cell is one in probability times
// the scale, no larger).
constexpr double underflow_error = 8 * 0x1p-1074;

// A row of double-words in two arrays, only as wide as the band's widest
// row: cell i at index i - base + 1, with a slot on either side for the
// zeros (or ones) the next step reads beside the cells.
struct Row {
  std::vector<double> h, l;
  i64 base = 0;
  explicit Row(std::size_t slots) : h(slots, 0.0), l(slots, 0.0) {}
  std::size_t at(i64 i) const { return static_cast<std::size_t>(i - base + 1); }
  DW get(i64 i) const { return {h[at(i)], l[at(i)]}; }
  void set(i64 i, DW v) {
    h[at(i)] = v.h;
    l[at(i)] = v.l;
  }
};

// The scale of a pass's rows. A row's probabilities are the weighted sums
// of the row before over m (the steps left); dividing by m in every cell
// would cost a double-word product each. Instead the row carries
// probability / s, and s follows the rows: s' = s / m 2^-e, with the power
// of two 2^-e chosen to bring s' back into [1/2, 1). A cell is then the
// weighted sum of the cells before times 2^e: an exact power of two, folded
// into the weights (integers below 2^32 times it, exact).
struct Scale {
  DW s{1, 0};
  DW u{1, 0};  // 1 / s, for the backward pass's cells outside (probability 1)
  // Moves s on to the next row; returns s / m (before the power of two).
  DW next(double m, double& unit) {
    const DW r = mul(s, inverse(m));
    // r.h = f 2^e with f in [1/2, 1); r.h lies in [2^-33, 1), a normal
    // number, so e is its exponent field less 1022.
    // NOTE: the powers of two from their bits: the library's ldexp and
    // frexp are calls, a few per row, 2 % of the whole run at 10^4.
    const auto e = static_cast<std::int64_t>((std::bit_cast<std::uint64_t>(r.h) >> 52) & 0x7ff) - 1022;
    const double down = std::bit_cast<double>(static_cast<std::uint64_t>(1023 - e) << 52);
    s = {r.h * down, r.l * down};
    unit = std::bit_cast<double>(static_cast<std::uint64_t>(1023 + e) << 52);
    return r;
  }
  // The same for u: u' = u m 2^e.
  void nextInverse(double m, double unit) {
    const DW r = mulD(u, m);
    u = {r.h * unit, r.l * unit};
  }
};

// One row step over the cells i = from .. from + count - 1:
//   dst[k] = (ac - i unit) x[k] + (bc + i unit) y[k],  k = i - from,
// where x and y are the row before, seen where cell `from` takes its two
// parts from. The weights are integers below 2^32 times the row's power of
// two `unit` (ac and bc already carry it), exact.
struct Step {
  double* dh;
  double* dl;
  const double* xh;
  const double* xl;
  const double* yh;
  const double* yl;
  double ac, bc, unit;
  i64 from, count;
};

inline DW cell(const Step& s, i64 k) {
  const auto j = static_cast<std::size_t>(k);
  const double di = static_cast<double>(s.from + k) * s.unit;
  const DW p = mulD({s.xh[j], s.xl[j]}, s.ac - di);
  const DW q = mulD({s.yh[j], s.yl[j]}, s.bc + di);
  return add(p, q);
}

// The step one cell at a time: the reference the vector kernels below
// agree with to the bit.
void stepPlain(const Step& s) {
  for (i64 k = 0; k < s.count; ++k) {
    const DW v = cell(s, k);
    s.dh[static_cast<std::size_t>(k)] = v.h;
    s.dl[static_cast<std::size_t>(k)] = v.l;
  }
}

#if defined(LUMBRA_X86_64)
#define LUMBRA_WIDE __attribute__((target("avx2,fma"), always_inline)) inline

// fastTwoSum, four at a time: returns the sum, lo gets its error.
LUMBRA_WIDE __m256d fastWide(__m256d a, __m256d b, __m256d& lo) {
  const __m256d sum = _mm256_add_pd(a, b);
  lo = _mm256_sub_pd(b, _mm256_sub_pd(sum, a));
  return sum;
}

// mulD, four at a time.
LUMBRA_WIDE __m256d timesWide(__m256d xh, __m256d xl, __m256d w, __m256d& lo) {
  const __m256d c = _mm256_mul_pd(xh, w);
  return fastWide(c, _mm256_fmadd_pd(xl, w, _mm256_fmsub_pd(xh, w, c)), lo);
}

// Four cells from k on; the lanes where `mask` is clear are neither read nor
// written (what they compute from zeros is dropped).
LUMBRA_WIDE void cellsWide(const Step& s, i64 k, __m256d vi, __m256i mask) {
  const auto j = static_cast<std::size_t>(k);
  __m256d pl, ql;
  const __m256d ph = timesWide(_mm256_maskload_pd(s.xh + j, mask), _mm256_maskload_pd(s.xl + j, mask),
                               _mm256_sub_pd(_mm256_set1_pd(s.ac), vi), pl);
  const __m256d qh = timesWide(_mm256_maskload_pd(s.yh + j, mask), _mm256_maskload_pd(s.yl + j, mask),
                               _mm256_add_pd(_mm256_set1_pd(s.bc), vi), ql);
  // add: twoSum of the highs, then the lows
  const __m256d sh = _mm256_add_pd(ph, qh), bb = _mm256_sub_pd(sh, ph);
  const __m256d se = _mm256_add_pd(_mm256_sub_pd(ph, _mm256_sub_pd(sh, bb)), _mm256_sub_pd(qh, bb));
  __m256d rl;
  const __m256d rh = fastWide(sh, _mm256_add_pd(se, _mm256_add_pd(pl, ql)), rl);
  _mm256_maskstore_pd(s.dh + j, mask, rh);
  _mm256_maskstore_pd(s.dl + j, mask, rl);
}

// The same as stepPlain, four cells at a time, the last few under a mask:
// the same operations in the same order, so the same bytes.
__attribute__((target("avx2,fma"))) void stepWide(const Step& s) {
  const double f = static_cast<double>(s.from);
  // (from + k) unit, exact as in cell()
  __m256d vi = _mm256_mul_pd(_mm256_set_pd(f + 3, f + 2, f + 1, f), _mm256_set1_pd(s.unit));
  const __m256d four = _mm256_set1_pd(4 * s.unit);
  const __m256i all = _mm256_set1_epi64x(-1);
  i64 k = 0;
  for (; k + 4 <= s.count; k += 4) {
    cellsWide(s, k, vi, all);
    vi = _mm256_add_pd(vi, four);
  }
  if (k < s.count) {
    const __m256i lanes = _mm256_set_epi64x(3, 2, 1, 0);
    cellsWide(s, k, vi, _mm256_cmpgt_epi64(_mm256_set1_epi64x(s.count - k), lanes));
  }
}
#undef LUMBRA_WIDE

#define LUMBRA_WIDER __attribute__((target("avx512f"), always_inline)) inline

LUMBRA_WIDER __m512d fastWider(__m512d a, __m512d b, __m512d& lo) {
  const __m512d sum = _mm512_add_pd(a, b);
  lo = _mm512_sub_pd(b, _mm512_sub_pd(sum, a));
  return sum;
}

LUMBRA_WIDER __m512d timesWider(__m512d xh, __m512d xl, __m512d w, __m512d& lo) {
  const __m512d c = _mm512_mul_pd(xh, w);
  return fastWider(c, _mm512_fmadd_pd(xl, w, _mm512_fmsub_pd(xh, w, c)), lo);
}

// cellsWide with eight cells.
LUMBRA_WIDER void cellsWider(const Step& s, i64 k, __m512d vi, __mmask8 mask) {
  const auto j = static_cast<std::size_t>(k);
  __m512d pl, ql;
  const __m512d ph = timesWider(_mm512_maskz_loadu_pd(mask, s.xh + j), _mm512_maskz_loadu_pd(mask, s.xl + j),
                                _mm512_sub_pd(_mm512_set1_pd(s.ac), vi), pl);
  const __m512d qh = timesWider(_mm512_maskz_loadu_pd(mask, s.yh + j), _mm512_maskz_loadu_pd(mask, s.yl + j),
                                _mm512_add_pd(_mm512_set1_pd(s.bc), vi), ql);
  const __m512d sh = _mm512_add_pd(ph, qh), bb = _mm512_sub_pd(sh, ph);
  const __m512d se = _mm512_add_pd(_mm512_sub_pd(ph, _mm512_sub_pd(sh, bb)), _mm512_sub_pd(qh, bb));
  __m512d rl;
  const __m512d rh = fastWider(sh, _mm512_add_pd(se, _mm512_add_pd(pl, ql)), rl);
  _mm512_mask_storeu_pd(s.dh + j, mask, rh);
  _mm512_mask_storeu_pd(s.dl + j, mask, rl);
}

// stepWide with eight cells at a time.
__attribute__((target("avx512f"))) void stepWider(const Step& s) {
  const double f = static_cast<double>(s.from);
  __m512d vi = _mm512_mul_pd(_mm512_set_pd(f + 7, f + 6, f + 5, f + 4, f + 3, f + 2, f + 1, f), _mm512_set1_pd(s.unit));
  const __m512d eight = _mm512_set1_pd(8 * s.unit);
  i64 k = 0;
  for (; k + 8 <= s.count; k += 8) {
    cellsWider(s, k, vi, 0xff);
    vi = _mm512_add_pd(vi, eight);
  }
  if (k < s.count) cellsWider(s, k, vi, static_cast<__mmask8>((1u << (s.count - k)) - 1));
}
#undef LUMBRA_WIDER

// 8: AVX-512, 4: AVX2 with FMA, 1: neither.
int stepWidth() {
  static const int width = hasCpu(cpu_avx512f) ? 8 : hasCpu(cpu_avx2 | cpu_fma) ? 4 : 1;
  return width;
}

// Whether the processor has a fused multiply-add, so that the passes' own
// double-word arithmetic (the exits, the steps without vectors) runs on it
// rather than on the library's function.
bool hasFma() {
  static const bool fma = hasCpu(cpu_fma);
  return fma;
}
#endif

void step(const Step& s, BandKernel kernel) {
#if defined(LUMBRA_X86_64)
  const int width = kernel == BandKernel::plain ? 1 : stepWidth();
  if (width == 8) return stepWider(s);
  if (width == 4) return stepWide(s);
#endif
  (void)kernel;
  stepPlain(s);
}

// Runs pass.body() with the fused multiply-add as an instruction where the
// processor has one (the same operations, correctly rounded either way, so
// the same bytes).
#if defined(LUMBRA_X86_64)
template <class Pass>
__attribute__((target("fma"), flatten)) void runWithFma(Pass& pass) {
  pass.body();
}
#endif

template <class Pass>
void runPass(Pass& pass) {
#if defined(LUMBRA_X86_64)
  if (pass.kernel != BandKernel::plain && hasFma()) return runWithFma(pass);
#endif
  pass.body();
}

// The rows from t = 0 to `to`: f[i] is the probability that the path is at
// i after t steps and has not left, over the scale; what steps out is added
// to `left`.
struct Forward {
  const Rows& r;
  i64 to;
  BandKernel kernel;
  Row p, q;
  Scale scale;
  i64 cl = 0, ch = 0;  // the cells a path can reach without leaving
  DW left;
  double terms = 0;  // the terms summed into left
  double cells = 0;
  bool allLeave = false;

  Forward(const Rows& rows, i64 middle, std::size_t slots, BandKernel k)
      : r(rows), to(middle), kernel(k), p(slots), q(slots) {}

  void run() { runPass(*this); }

  void body() {
    const i64 a = r.g.a, b = r.g.b;
    p.base = 0;
    p.set(0, {1, 0});
    for (i64 t = 0; t < to; ++t) {
      const i64 bl = r.low(t + 1), bh = r.high(t + 1);
      double unit = 0;
      const DW over = scale.next(static_cast<double>(r.n - t), unit);  // this row's scale / m
      // What steps out: an A step from j to j + 1, a B step from j to j.
      const auto leave = [&](i64 j) {
        const DW f = p.get(j);
        if ((j + 1 < bl || j + 1 > bh) && j < a) left = add(left, mul(mulD(f, static_cast<double>(a - j)), over)), ++terms;
        if ((j < bl || j > bh) && t - j < b) left = add(left, mul(mulD(f, static_cast<double>(b - t + j)), over)), ++terms;
      };
      const i64 lowEnd = std::min(ch, bl - 1), highStart = std::max(cl, bh);
      if (lowEnd >= highStart - 1) {
        for (i64 j = cl; j <= ch; ++j) leave(j);
      } else {
        for (i64 j = cl; j <= lowEnd; ++j) leave(j);
        for (i64 j = highStart; j <= ch; ++j) leave(j);
      }
      const i64 nl = std::max(bl, cl), nh = std::min(bh, ch + 1);
      if (nl > nh) {
        allLeave = true;
        return;
      }
      // Cell i from i - 1 (an A step, weight a - i + 1) and i (a B step,
      // weight b - t + i); the slots beside [cl, ch] are zero.
      q.base = nl;
      const std::size_t x = p.at(nl - 1), y = p.at(nl), d = q.at(nl);
      const Step s{q.h.data() + d,
                   q.l.data() + d,
                   p.h.data() + x,
                   p.l.data() + x,
                   p.h.data() + y,
                   p.l.data() + y,
                   static_cast<double>(a + 1) * unit,
                   static_cast<double>(b - t) * unit,
                   unit,
                   nl,
                   nh - nl + 1};
      step(s, kernel);
      q.set(nl - 1, {});
      q.set(nh + 1, {});
      cells += static_cast<double>(nh - nl + 1);
      std::swap(p, q);
      cl = nl;
      ch = nh;
    }
  }
};

// The rows from t = n down to `to`: g[i] is the probability that a path at
// (t, i), inside, leaves the band later, over the scale; a point outside
// counts 1 (1 / s in the row).
struct Backward {
  const Rows& r;
  i64 to;
  BandKernel kernel;
  Row p, q;
  Scale scale;
  double cells = 0;

  Backward(const Rows& rows, i64 middle, std::size_t slots, BandKernel k)
      : r(rows), to(middle), kernel(k), p(slots), q(slots) {}

  void run() { runPass(*this); }

  void body() {
    const i64 a = r.g.a, b = r.g.b;
    // Row n: the end point, inside (no row is empty), leaves with probability 0.
    p.base = a;
    p.set(a, {});
    for (i64 t = r.n - 1; t >= to; --t) {
      const i64 bl = r.low(t), bh = r.high(t), nl = r.low(t + 1), nh = r.high(t + 1);
      // The points of row t + 1 that row t steps to, outside: probability 1.
      // (Row t lies within one cell of row t + 1 on either side.)
      for (i64 j = bl; j <= std::min(bh + 1, nl - 1); ++j) p.set(j, scale.u);
      for (i64 j = std::max(bl, nh + 1); j <= bh + 1; ++j) p.set(j, scale.u);
      const double m = static_cast<double>(r.n - t);
      double unit = 0;
      scale.next(m, unit);
      scale.nextInverse(m, unit);
      // Cell i to i + 1 (an A step, weight a - i) and to i (weight b - t + i).
      q.base = bl;
      const std::size_t x = p.at(bl + 1), y = p.at(bl), d = q.at(bl);
      const Step s{q.h.data() + d,
                   q.l.data() + d,
                   p.h.data() + x,
                   p.l.data() + x,
                   p.h.data() + y,
                   p.l.data() + y,
                   static_cast<double>(a) * unit,
                   static_cast<double>(b - t) * unit,
                   unit,
                   bl,
                   bh - bl + 1};
      step(s, kernel);
      cells += static_cast<double>(bh - bl + 1);
      std::swap(p, q);
    }
  }
};

// Cell steps below which a second thread costs more than it saves.
constexpr double thread_worth = 2e5;

}  // namespace

void countInside(mpz_ptr c, const GeneralBand& band, unsigned threads) {
  const CountRows rows(band);
  if (rows.cut().anyEmpty()) {
    mpz_set_ui(c, 0);
    return;
  }
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const std::function<bool(double)> none;
  Stopper never(none);
  countByLimbRows(c, rows, rows.shape(), threads, rows.work(), never);
}

double countInsideWork(const GeneralBand& band) { return CountRows(band).work(); }

double countInsideBytes(const GeneralBand& band) {
  const CountRows rows(band);
  // The cut rows (two 32-bit bounds each), the limb rows, and the dot
  // product: the sum and the scratch of one product, of C(n, a)'s size.
  const double count = log2BinomialAbove(rows.cut().n, band.a) / 8 + 16;
  return 8 * static_cast<double>(rows.cut().n + 1) + limbRowsBytes(rows.shape()) + 3 * count;
}

LeaveProbability leaveProbability(const GeneralBand& band, unsigned threads, BandKernel kernel) {
  const Rows r(band);
  if (r.anyEmpty()) return {1.0L, 0.0};
  if (r.everything()) return {0.0L, 0.0};
  const i64 middle = r.n / 2;
  // Every row of either pass lies within the cut rows: the widest of them,
  // and a slot on either side, is all a row needs.
  i64 widest = 1;
  for (i64 t = 0; t <= r.n; ++t) widest = std::max(widest, r.high(t) - r.low(t) + 1);
  const auto slots = static_cast<std::size_t>(widest) + 3;
  Forward fwd(r, middle, slots, kernel);
  Backward bwd(r, middle, slots, kernel);
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  // Roughly the cell steps of the whole run.
  double work = 0;
  for (i64 t = 0; t <= r.n; t += std::max<i64>(1, r.n / 64))
    work += static_cast<double>(r.high(t) - r.low(t) + 1) * static_cast<double>(std::max<i64>(1, r.n / 64));
  bool together = threads >= 2 && work >= thread_worth;
  if (together) {
    try {
      std::thread other([&fwd] { fwd.run(); });
      bwd.run();
      other.join();
    } catch (const std::system_error&) {
      together = false;  // no thread to be had: both halves on this one
    }
  }
  if (!together) {
    fwd.run();
    if (!fwd.allLeave) bwd.run();
  }
  if (fwd.allLeave) return {1.0L, 0.0};
  // The two halves meet: the mass still inside at the middle row times the
  // probability that it leaves afterwards, both over their scales.
  DW met;
  double terms = fwd.terms;
  for (i64 i = fwd.cl; i <= fwd.ch; ++i) {
    met = add(met, mul(fwd.p.get(i), bwd.p.get(i)));
    ++terms;
  }
  const DW sum = add(fwd.left, mul(met, mul(fwd.scale.s, bwd.scale.s)));
  const long double value = static_cast<long double>(sum.h) + static_cast<long double>(sum.l);
  // Every term went through at most n steps (the two halves together), one
  // product, and at most `terms` sums.
  const double steps = static_cast<double>(r.n) + 2;
  const double rel = (steps * step_error + product_error + terms * sum_error) * 1.01 + 0x1p-63;
  const double absolute = underflow_error * (fwd.cells + bwd.cells + 4 * terms + 4);
  // Some path leaves, so P >= 1 / C(n, a) > 0: a value of 0 is all underflow.
  if (!(value > 0)) return {0.0L, HUGE_VAL};
  const double lowest = static_cast<double>(value) * (1 - rel);
  const double error = lowest > 0 ? rel + absolute / lowest : HUGE_VAL;
  return {value, error};
}

}  // namespace lumbra
