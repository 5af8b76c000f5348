#include "stats/block_rank.h"

#include <algorithm>
#include <vector>

#include "kova/hard_assert.h"
#include "stats/counted_law.h"

namespace lumbra {

int rankColumns(int m) { return m < 4096 ? 32 : 64; }

int rankRows(int m) { return std::min(m / rankColumns(m), rankColumns(m)); }

namespace {

// Rank of rows[0, r) by one pivot a step: the first row left that is not 0
// gives up its lowest one, which is cleared from the rows after it.
template <class Row>
[[gnu::always_inline]] inline int eliminate(Row* rows, int r) {
  int rank = 0;
  for (int i = 0; i < r; ++i) {
    const Row pivot = rows[i];
    if (pivot == 0) continue;
    ++rank;
    const Row low = pivot & (~pivot + 1);
    const int at = __builtin_ctzll(low);
    for (int j = i + 1; j < r; ++j) rows[j] ^= pivot & (Row{0} - ((rows[j] >> at) & 1u));
  }
  return rank;
}

}  // namespace

int blockRank(const std::uint64_t* words, int m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  const int r = rankRows(m);
  if (rankColumns(m) == 64) {
    std::uint64_t rows[64];
    std::copy(words, words + r, rows);
    return eliminate(rows, r);
  }
  std::uint32_t rows[32];
  for (int i = 0; i < r; ++i)
    rows[i] = static_cast<std::uint32_t>(words[i / 2] >> (i % 2 == 0 ? 32 : 0));
  return eliminate(rows, r);
}

namespace {

class RankStatistic final : public ValuesOf<RankStatistic> {
 public:
  std::string_view name() const override { return "rank"; }
  std::string_view measures() const override {
    return "the rank over GF(2) of the block as rows of 32 bits (64 from 4096 bits), at most 32 (64) rows "
           "(too low: bits in linear dependence; always full: a linear generator)";
  }
  std::string_view subject() const override { return "the rank of the block's bits as a matrix"; }
  bool givenOnes() const override { return false; }
  unsigned reads() const override { return reads_rank; }
  int value(const BlockShape& block) const override { return block.rank; }
  std::unique_ptr<StatisticLaw> law(int m, int) const override { return rankLaw(m); }
};

}  // namespace

std::unique_ptr<StatisticLaw> rankLaw(int m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  return matrixRankLaw(rankRows(m), rankColumns(m));
}

std::unique_ptr<StatisticLaw> matrixRankLaw(int r, int c) {
  hard_assert(r >= 0 && c >= 1 && c <= 64 && r * c <= 4096, "r>=0&&c>=1&&c<=64&&r*c<=4096");
  const int most = std::min(r, c);
  const auto bits = [](int e) { return static_cast<mp_bitcnt_t>(e); };
  std::vector<Mpz> counts(static_cast<std::size_t>(most) + 1);
  // N(rho): the product of the numerators over that of the denominators,
  // each kept whole, then one exact division.
  Mpz num, den, a, b;
  mpz_set_ui(num.get(), 1);
  mpz_set_ui(den.get(), 1);
  for (int rho = 0; rho <= most; ++rho) {
    if (rho > 0) {
      // The factor of i = rho - 1 joins the numerator; the denominator is
      // prod_{i < rho} (2^rho - 2^i), made anew for each rho.
      const int i = rho - 1;
      mpz_set_ui(a.get(), 0);
      mpz_setbit(a.get(), bits(r));
      mpz_set_ui(b.get(), 0);
      mpz_setbit(b.get(), bits(i));
      mpz_sub(a.get(), a.get(), b.get());
      mpz_mul(num.get(), num.get(), a.get());
      mpz_set_ui(a.get(), 0);
      mpz_setbit(a.get(), bits(c));
      mpz_sub(a.get(), a.get(), b.get());
      mpz_mul(num.get(), num.get(), a.get());
      mpz_set_ui(den.get(), 1);
      for (int j = 0; j < rho; ++j) {
        mpz_set_ui(a.get(), 0);
        mpz_setbit(a.get(), bits(rho));
        mpz_set_ui(b.get(), 0);
        mpz_setbit(b.get(), bits(j));
        mpz_sub(a.get(), a.get(), b.get());
        mpz_mul(den.get(), den.get(), a.get());
      }
    }
    mpz_divexact(counts[static_cast<std::size_t>(rho)].get(), num.get(), den.get());
  }
  Mpz total;
  mpz_setbit(total.get(), bits(r * c));
  return std::make_unique<CountedLaw>(0, std::move(counts), total.get(), CountedLaw::Tail::lower);
}

const Statistic& rankStatistic() {
  static const RankStatistic statistic;
  return statistic;
}

}  // namespace lumbra
