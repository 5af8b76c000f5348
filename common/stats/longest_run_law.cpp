#include "stats/longest_run_law.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "exec/processor.h"
#include "kova/hard_assert.h"
#include "stats/runs_law.h"

namespace lumbra {

namespace {

unsigned long ul(int v) { return static_cast<unsigned long>(v); }

class LongestRunStatistic final : public ValuesOf<LongestRunStatistic> {
 public:
  std::string_view name() const override { return "longest_run"; }
  std::string_view measures() const override { return "the longest run of equal bits"; }
  std::string_view subject() const override { return "the longest run of equal bits"; }
  bool givenOnes() const override { return true; }
  unsigned reads() const override { return reads_longest_run; }
  // The complement of a block has the same runs.
  int lawOnes(int m, int k) const override { return std::min(k, m - k); }
  int value(const BlockShape& block) const override { return block.longestRun; }
  std::unique_ptr<StatisticLaw> law(int m, int k) const override { return std::make_unique<LongestRunLaw>(m, k); }
};

}  // namespace

namespace {

// c(n, a) by inclusion and exclusion: O(n^2 / most) big-integer products,
// for a large `most` (for a small one the rows cost less).
void byExclusion(std::vector<Mpz>& parts, int n, int most) {
  Mpz first, choose, below, term;
  mpz_set_ui(first.get(), 1);  // C(n - 1, a - 1), for a = 1
  for (int a = 1; a <= n; ++a) {
    if (a > 1) {
      mpz_mul_ui(first.get(), first.get(), ul(n - a + 1));
      mpz_divexact_ui(first.get(), first.get(), ul(a - 1));
    }
    if (static_cast<long long>(a) * most < n) continue;  // a parts hold at most a * most
    mpz_ptr sum = parts[static_cast<std::size_t>(a)].get();
    mpz_set(sum, first.get());
    mpz_set_ui(choose.get(), 1);        // C(a, j)
    mpz_set(below.get(), first.get());  // C(top, a - 1), top = n - j most - 1
    const int last = std::min(a, (n - a) / most);
    for (int j = 1, top = n - 1; j <= last; ++j) {
      mpz_mul_ui(choose.get(), choose.get(), ul(a - j + 1));
      mpz_divexact_ui(choose.get(), choose.get(), ul(j));
      top -= most;
      mpz_bin_uiui(below.get(), ul(top), ul(a - 1));
      mpz_mul(term.get(), choose.get(), below.get());
      if (j % 2) mpz_sub(sum, sum, term.get());
      else mpz_add(sum, sum, term.get());
    }
  }
}

// c(n', a) for every n' <= n row by row, additions only:
//   c(n, a) = c(n - 1, a - 1) + c(n - 1, a) - c(n - most - 1, a - 1)
// (the compositions of n into a parts, less those whose last part would
// pass `most`), keeping the last most + 2 rows. O(n^2) additions; a row is
// copied out at each n' in `wanted`.
void byRows(const std::vector<std::pair<int, std::vector<Mpz>*>>& wanted, int n, int most) {
  const std::size_t keep = static_cast<std::size_t>(most) + 2, width = static_cast<std::size_t>(n) + 1;
  std::vector<std::vector<Mpz>> rows(keep, std::vector<Mpz>(width));
  const auto row = [&](int r) -> std::vector<Mpz>& { return rows[static_cast<std::size_t>(r) % keep]; };
  mpz_set_ui(row(0)[0].get(), 1);
  for (int r = 0; r <= n; ++r) {
    std::vector<Mpz>& cur = row(r);
    if (r > 0) {
      const std::vector<Mpz>& prev = row(r - 1);
      mpz_set_ui(cur[0].get(), 0);
      for (int a = 1; a <= r; ++a) {
        const std::size_t i = static_cast<std::size_t>(a);
        mpz_add(cur[i].get(), prev[i - 1].get(), prev[i].get());
        if (r - most - 1 >= 0) mpz_sub(cur[i].get(), cur[i].get(), row(r - most - 1)[i - 1].get());
      }
      // (The row whose slot this was, r - most - 2, was shorter: nothing of
      // it is left beyond r.)
    }
    for (const auto& [at, out] : wanted)
      if (at == r)
        for (std::size_t i = 0; i < out->size(); ++i) mpz_set((*out)[i].get(), cur[i].get());
  }
}

// The rows take (most + 2) rows of n + 1 numbers: past this many parts,
// inclusion and exclusion (whose terms grow fewer as `most` grows) instead.
constexpr int rows_limit = 32;

}  // namespace

void boundedCompositions(std::vector<Mpz>& parts, int n, int most) {
  hard_assert(n >= 0 && most >= 1, "n>=0&&most>=1");
  parts.assign(static_cast<std::size_t>(n) + 1, Mpz());
  if (n == 0) {
    mpz_set_ui(parts[0].get(), 1);
    return;
  }
  if (most <= rows_limit) byRows({{n, &parts}}, n, most);
  else byExclusion(parts, n, most);
}

LongestRunLaw::LongestRunLaw(int m, int k) : m_(m), k_(k) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  const int z = m - k, lo = std::min(k, z), hi = std::max(k, z);
  least_ = (hi + lo) / (lo + 1);  // ceil(hi / (lo + 1))
  most_ = hi;
  mpz_bin_uiui(total_.get(), ul(m), ul(k));
}

mpz_srcptr LongestRunLaw::shorterThan(int l) {
  hard_assert(l >= 0, "l>=0");
  const int z = m_ - k_;
  l = std::min(l, most_ + 1);
  auto it = below_.find(l);
  if (it != below_.end()) return it->second.get();
  Mpz& n = below_[l];
  if (l > most_) {
    mpz_set(n.get(), total_.get());
  } else if (l >= 2) {
    std::vector<Mpz> ones, zeros;
    if (l - 1 <= rows_limit) {
      // Both sides from one run of rows.
      ones.resize(static_cast<std::size_t>(k_) + 1);
      zeros.resize(static_cast<std::size_t>(z) + 1);
      byRows({{k_, &ones}, {z, &zeros}}, std::max(k_, z), l - 1);
    } else {
      boundedCompositions(ones, k_, l - 1);
      boundedCompositions(zeros, z, l - 1);
    }
    auto at = [&](int b) -> mpz_srcptr {
      return b >= 0 && b <= z ? zeros[static_cast<std::size_t>(b)].get() : nullptr;
    };
    Mpz ways;
    for (int a = 0; a <= k_; ++a) {
      mpz_srcptr c = ones[static_cast<std::size_t>(a)].get();
      if (mpz_sgn(c) == 0) continue;
      mpz_set_ui(ways.get(), 0);
      if (mpz_srcptr b = at(a - 1)) mpz_add(ways.get(), ways.get(), b);
      if (mpz_srcptr b = at(a)) mpz_addmul_ui(ways.get(), b, 2);
      if (mpz_srcptr b = at(a + 1)) mpz_add(ways.get(), ways.get(), b);
      mpz_addmul(n.get(), c, ways.get());
    }
  }  // l <= 1: no block has runs shorter than one bit
  return n.get();
}

void LongestRunLaw::pValueCount(mpz_ptr num, mpz_ptr den, int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  mpz_sub(num, total_.get(), shorterThan(l));
  mpz_set(den, total_.get());
}

namespace {

constexpr double unit = 0x1p-53;  // the doubles' unit roundoff
// The edges of the bins from the top, then the passing mark: num / 100.
constexpr int edge_num[bin_count] = {90, 80, 70, 60, 50, 40, 30, 20, 10, 1};
constexpr int passing_edge = 9;
// The runs of ones whose chance is below this share of the likeliest are
// left out (their chance counted in the error).
constexpr double negligible = 1e-40;

}  // namespace

void LongestRunLaw::weigh() {
  if (weighed_) return;
  weighed_ = true;
  const int z = m_ - k_, top = std::min(k_, z);
  if (top == 0) return;
  // w(a, a) = 2 E(a), w(a, a - 1) = E(a - 1) (k - a + 1) / (a - 1) and
  // w(a, a + 1) = E(a) (z - a) / a, E the runs law's chance of a runs of
  // each symbol in one order (past min(k, z) only a = z + 1 < k + 1, with
  // z runs of zeros). The a whose E is negligible beside the likeliest are
  // left out.
  const std::vector<long double> e = runPairChances(m_, k_);
  const auto at = [&](int s) { return static_cast<double>(e[static_cast<std::size_t>(s)]); };
  int mode = 1;
  for (int s = 2; s <= top; ++s)
    if (e[static_cast<std::size_t>(s)] > e[static_cast<std::size_t>(mode)]) mode = s;
  int lo = mode, hi = mode;
  while (lo > 1 && at(lo - 1) >= negligible * at(mode)) --lo;
  while (hi < top && at(hi + 1) >= negligible * at(mode)) ++hi;
  const int last = hi == top ? std::min(k_, z + 1) : hi;
  first_ = lo;
  weight_.assign(static_cast<std::size_t>(last - lo) + 1, {0.0, 0.0, 0.0});
  for (int a = lo; a <= last; ++a) {
    std::array<double, 3>& w = weight_[static_cast<std::size_t>(a - lo)];
    if (a >= 2) w[0] = at(a - 1) * (static_cast<double>(k_ - a + 1) / (a - 1));
    if (a <= top) w[1] = 2 * at(a);
    if (a < z && a <= top) w[2] = at(a) * (static_cast<double>(z - a) / a);
  }
  // What is left out: E is log-concave, so past each cut it falls at least
  // as fast as at the cut, and a geometric series bounds it; each left-out
  // a weighs at most (m + 2) times the E of a or a - 1.
  double out = 0;
  if (lo > 1) out += at(lo - 1) / (1 - at(lo - 1) / at(lo));
  if (hi < top) out += at(hi) + at(hi + 1) / (1 - at(hi + 1) / at(hi));
  leftOut_ = out * (m_ + 2) * 1.01;
  // E's bound, and a division, a product and a rounding to double.
  weightError_ = runPairError(m_) + 4 * unit * 1.01;
}

namespace {

// The b factors of a term, for every lane x: next[x] times (N - i + 1 -
// parts[x]) / (N - i) for i = 0 .. factors - 1, 1 / (N - i) read from over.
// The same roundings in any lanes (two products, no sum to fuse them with).
inline void scaleTermsOf(double* __restrict next, const double* __restrict parts, std::size_t count,
                         const double* __restrict over, int top, int factors) {
  for (int i = 0; i < factors; ++i) {
    const double o = over[top - i], t = top - i + 1;
    for (std::size_t x = 0; x < count; ++x) next[x] *= (t - parts[x]) * o;
  }
}

#if defined(LUMBRA_X86_64)
__attribute__((target("avx512f"))) void scaleTermsWide(double* __restrict next, const double* __restrict parts,
                                                        std::size_t count, const double* __restrict over, int top,
                                                        int factors) {
  scaleTermsOf(next, parts, count, over, top, factors);
}
const bool has_avx512 = hasCpu(cpu_avx512f);
#endif

void scaleTerms(double* next, const double* parts, std::size_t count, const double* over, int top, int factors) {
#if defined(LUMBRA_X86_64)
  if (has_avx512) return scaleTermsWide(next, parts, count, over, top, factors);
#endif
  scaleTermsOf(next, parts, count, over, top, factors);
}

}  // namespace

void LongestRunLaw::compositionTails(int n, int from, int to, int l, std::vector<double>& g,
                                     std::vector<double>& error) const {
  const int b = l - 1;  // the longest part allowed
  g.assign(static_cast<std::size_t>(to - from) + 1, 0.0);
  error.assign(g.size(), 0.0);
  std::vector<double> inverse(static_cast<std::size_t>(std::max(n, 1)) + 1, 0.0);
  for (int i = 1; i <= n; ++i) inverse[static_cast<std::size_t>(i)] = 1.0 / i;
  // The sums still going, one lane an a, all stepped together (the lanes'
  // products do not wait on each other).
  struct Lane {
    int a;
    double t = 1, sum = 0, absSum = 0;
  };
  std::vector<Lane> lanes;
  for (int a = from; a <= to; ++a) {
    double& out = g[static_cast<std::size_t>(a - from)];
    double& err = error[static_cast<std::size_t>(a - from)];
    if (a < 1 || a > n) {
      err = 1;  // no such composition: never weighed
    } else if (static_cast<long long>(a) * b < n) {
      out = 1;  // a parts of at most b cannot hold n
    } else if (n - a + 1 > b) {  // else no part can reach l: G = 0
      lanes.push_back({a});
    }
  }
  std::vector<double> next(lanes.size()), parts(lanes.size());  // parts[x]: lanes[x].a, apart for the inner loop
  // t_j = C(a, j) C(N_j, a - 1) / C(n - 1, a - 1), N_j = n - j b - 1, each
  // from the one before: a division and a product, then b factors of three
  // roundings (1 / N from the table, its product with the numerator, the
  // running product).
  for (int j = 0, nj = n - 1; !lanes.empty(); ++j, nj -= b) {
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      next[i] = lanes[i].t * (static_cast<double>(lanes[i].a - j) / (j + 1));
      parts[i] = lanes[i].a;
    }
    scaleTerms(next.data(), parts.data(), lanes.size(), inverse.data(), nj, std::min(b, nj + 1));
    const double roundings = static_cast<double>(j + 1) * (3.0 * b + 2) + j + 2;
    std::size_t kept = 0;
    for (std::size_t x = 0; x < lanes.size(); ++x) {
      Lane& lane = lanes[x];
      const double term = next[x];
      // Where the sum ends: a factor of exactly 0 (no rest); a term below
      // 2^-1000 (the true one is below 2^-999: the factors are at most 1);
      // a term falling and negligible. The ratio of terms falls with j (each
      // factor does), and is below 1 from the first term on when that term
      // is (it is at most t_1 / (j + 1)), so past a falling term the rest of
      // the alternating sum is at most that term.
      double rest = -1;
      if (lane.a - j <= 0 || nj - b < lane.a - 1) rest = 0;
      else if (!(term >= 0x1p-1000)) rest = 0x1p-999;
      else if (j >= 1 && term < lane.t && term <= 0x1p-60 * std::abs(lane.sum)) rest = term;
      if (rest < 0) {
        // NOTE: the lane kept is written whole from registers: updated in
        // place and then copied, it was read back while its stores were on
        // their way, a stall each (half of this loop's time).
        const Lane stepped{lane.a, term, lane.sum + ((j % 2 == 0) ? term : -term), lane.absSum + term};
        if (stepped.absSum < 0x1p40) {
          lanes[kept++] = stepped;
          continue;
        }
        lane = stepped;
      }
      double& out = g[static_cast<std::size_t>(lane.a - from)];
      double& err = error[static_cast<std::size_t>(lane.a - from)];
      if (rest < 0) {  // a sum that cancels this much says nothing
        out = 0.5;
        err = 1;
        continue;
      }
      // Each term within gamma(its roundings), the sum one rounding a term
      // more; and the rest.
      out = std::clamp(lane.sum, 0.0, 1.0);
      err = std::min(1.0, roundings * unit * 1.01 * lane.absSum + rest);
    }
    lanes.resize(kept);
  }
}

LongestRunLaw::Tail LongestRunLaw::fastTail(int l) {
  if (l <= least_) return {1, 0};
  if (l > most_) return {0, 0};
  auto it = tails_.find(l);
  if (it != tails_.end()) return it->second;
  weigh();
  const int z = m_ - k_;
  const int last = first_ + static_cast<int>(weight_.size()) - 1;
  std::vector<double> gk, ek, gz, ez;
  compositionTails(k_, first_, last, l, gk, ek);
  compositionTails(z, first_ - 1, last + 1, l, gz, ez);
  double p = 0, error = 0;
  for (int a = first_; a <= last; ++a) {
    const std::size_t i = static_cast<std::size_t>(a - first_);
    const double g = gk[i], f = 1 - g;
    for (int s = 0; s < 3; ++s) {
      const double w = weight_[i][static_cast<std::size_t>(s)];
      if (w == 0) continue;
      const std::size_t bi = i + static_cast<std::size_t>(s);  // b = a - 1 + s, at index b - (first - 1)
      p += w * (g + f * gz[bi]);
      error += w * std::min(1.0, 2 * ek[i] + ez[bi] + ek[i] * ez[bi]);
    }
  }
  // Each term of p rounds four times (1 - g, the product, the weight, the
  // sum) on its own size: relative to p.
  const double terms = 3.0 * static_cast<double>(weight_.size()) + 8;
  error = (error + (weightError_ + terms * unit) * p + leftOut_) * 1.01;
  const Tail tail{std::min(p, 1.0), error};
  tails_.emplace(l, tail);
  return tail;
}

bool LongestRunLaw::tailAtLeast(int l, int num, int den) {
  const Tail t = fastTail(l);
  const double edge = static_cast<double>(num) / den;
  if (t.p - t.error > edge * (1 + 1e-15)) return true;
  if (t.p + t.error < edge * (1 - 1e-15)) return false;
  if (l <= least_ || l > most_) return t.p >= edge;  // exact values
  Mpz pn, pd;
  pValueCount(pn.get(), pd.get(), l);
  mpz_mul_ui(pn.get(), pn.get(), ul(den));
  mpz_mul_ui(pd.get(), pd.get(), ul(num));
  return mpz_cmp(pn.get(), pd.get()) >= 0;
}

void LongestRunLaw::findCrossings() {
  if (crossed_) return;
  crossed_ = true;
  // p(l) falls with l, from 1 at least(). The usual longest run is near
  // log2 of the runs of a symbol; from there down to an l whose tail is
  // surely above the top edge and up to one surely below the passing mark,
  // every l has a tail in doubles, and each edge is crossed between them.
  const auto sure = [&](int l, double edge, bool above) {
    const Tail t = fastTail(l);
    return above ? t.p - t.error > edge * (1 + 1e-15) : t.p + t.error < edge * (1 - 1e-15);
  };
  // With a runs of n bits, a symbol's runs are about geometric of ratio
  // 1 - a / n: the longest is near where a (1 - a / n)^(l - 1) is 1.
  const int n = std::max(k_, m_ - k_);
  const double a = std::max(1.0, static_cast<double>(k_) * (m_ - k_) / m_);
  const double guess = a >= n ? 1 : 1 + std::log(a) / -std::log1p(-a / n);
  const int start = std::clamp(static_cast<int>(std::min(guess, 1e6)), least_, most_ + 1);
  int down = start, up = start;
  while (down > least_ && !sure(down, 0.9, true)) --down;
  while (up <= most_ && !sure(up, 0.01, false)) ++up;
  int l = down + 1;
  for (int i = 0; i < bin_count; ++i) {
    while (l < up && tailAtLeast(l, edge_num[i], 100)) ++l;
    firstBelow_[static_cast<std::size_t>(i)] = l;
  }
  const auto tail = [&](int at) { return fastTail(at).p; };
  const auto fb = [&](int i) { return firstBelow_[static_cast<std::size_t>(i)]; };
  binChances_[9] = 1 - tail(fb(0));
  for (int b = 1; b <= 8; ++b) binChances_[static_cast<std::size_t>(b)] = tail(fb(8 - b)) - tail(fb(9 - b));
  binChances_[0] = tail(fb(8));
  passChance_ = 1 - tail(fb(passing_edge));
}

int LongestRunLaw::bin(int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  findCrossings();
  int bin = 0;
  for (int i = 0; i < passing_edge; ++i) bin += l < firstBelow_[static_cast<std::size_t>(i)];
  return bin;
}

bool LongestRunLaw::passing(int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  findCrossings();
  return l < firstBelow_[passing_edge];
}

double LongestRunLaw::passingProbability() {
  findCrossings();
  return passChance_;
}

const BinArray& LongestRunLaw::binProbabilities() {
  findCrossings();
  return binChances_;
}

long double LongestRunLaw::pValue(int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  const Tail t = fastTail(l);
  if (t.error <= longest_run_error * t.p) return t.p;
  Mpz num, den;
  pValueCount(num.get(), den.get(), l);
  return exactRatio(num.get(), den.get());
}

long double LongestRunLaw::probability(int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  const Tail t = fastTail(l), next = fastTail(l + 1);
  const double p = t.p - next.p;
  if (t.error + next.error + unit * t.p <= longest_run_error * p) return p;
  Mpz num;
  mpz_sub(num.get(), shorterThan(l + 1), shorterThan(l));
  return exactRatio(num.get(), total_.get());
}

const Statistic& longestRunStatistic() {
  static const LongestRunStatistic statistic;
  return statistic;
}

}  // namespace lumbra
