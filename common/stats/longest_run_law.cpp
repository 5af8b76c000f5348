#include "stats/longest_run_law.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "kova/hard_assert.h"

namespace lumbra {

namespace {

unsigned long ul(int v) { return static_cast<unsigned long>(v); }

class LongestRunStatistic final : public Statistic {
 public:
  std::string_view name() const override { return "longest_run"; }
  std::string_view measures() const override { return "the longest run of equal bits"; }
  std::string_view subject() const override { return "the longest run of equal bits"; }
  bool givenOnes() const override { return true; }
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

long double LongestRunLaw::probability(int l) {
  hard_assert(l >= least_ && l <= most_, "l>=least_&&l<=most_");
  Mpz num;
  mpz_sub(num.get(), shorterThan(l + 1), shorterThan(l));
  return exactRatio(num.get(), total_.get());
}

const Statistic& longestRunStatistic() {
  static const LongestRunStatistic statistic;
  return statistic;
}

}  // namespace lumbra
