#include "stats/block_rank.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "exec/processor.h"
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

// Row lanes: one block's row to a lane, a whole vector of them a row of
// every block of a group.
template <class Row>
using RowLanes [[gnu::vector_size(64)]] = Row;

// The ranks of the blocks of a group, in lanes: the elimination of
// eliminate(), each lane its own block, with no branch at all.
template <class Row>
[[gnu::always_inline]] inline void rankGroup(const unsigned char* bytes, std::size_t stride, int r, BlockShape* out) {
  using V = RowLanes<Row>;
  constexpr int lanes = 64 / sizeof(Row);
  V rows[64];
  for (int i = 0; i < r; ++i)
    for (int b = 0; b < lanes; ++b) {
      Row v;
      std::memcpy(&v, bytes + stride * static_cast<std::size_t>(b) + sizeof(Row) * static_cast<std::size_t>(i), sizeof v);
      rows[i][b] = v;
    }
  V rank = {};
  for (int i = 0; i < r; ++i) {
    const V pivot = rows[i];
    const V low = pivot & (V{} - pivot);
    rank -= reinterpret_cast<V>(pivot != 0);
    for (int j = i + 1; j < r; ++j) rows[j] ^= pivot & reinterpret_cast<V>((rows[j] & low) != 0);
  }
  for (int b = 0; b < lanes; ++b) out[b].rank = static_cast<int>(rank[b]);
}

template <class Row>
[[gnu::always_inline]] inline std::size_t ranksIn(const unsigned char* bytes, int n, std::size_t count, BlockShape* out) {
  constexpr std::size_t lanes = 64 / sizeof(Row);
  const std::size_t stride = static_cast<std::size_t>(n) / 8;
  const int r = rankRows(n);
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes) rankGroup<Row>(bytes + i * stride, stride, r, out + i);
  return i;
}

#if defined(LUMBRA_X86_64)
std::size_t ranksSse2(const unsigned char* bytes, int n, std::size_t count, BlockShape* out) {
  return n == 4096 ? ranksIn<std::uint64_t>(bytes, n, count, out) : ranksIn<std::uint32_t>(bytes, n, count, out);
}

__attribute__((target("avx2"))) std::size_t ranksAvx2(const unsigned char* bytes, int n, std::size_t count,
                                                       BlockShape* out) {
  return n == 4096 ? ranksIn<std::uint64_t>(bytes, n, count, out) : ranksIn<std::uint32_t>(bytes, n, count, out);
}

__attribute__((target("avx512f"))) std::size_t ranksAvx512(const unsigned char* bytes, int n, std::size_t count,
                                                            BlockShape* out) {
  return n == 4096 ? ranksIn<std::uint64_t>(bytes, n, count, out) : ranksIn<std::uint32_t>(bytes, n, count, out);
}

// NOTE: the widest vectors in use: the lanes of a group are one register
// at AVX-512, two at AVX2, four at SSE2; at the plain level none, and the
// meter eliminates one block at a time.
using RanksKernel = std::size_t (*)(const unsigned char*, int, std::size_t, BlockShape*);
const RanksKernel ranks_kernel = hasCpu(cpu_avx512f) ? ranksAvx512
                                 : hasCpu(cpu_avx2)  ? ranksAvx2
                                 : hasCpu(cpu_sse2)  ? ranksSse2
                                                     : nullptr;
#endif

}  // namespace

std::size_t blockRanks(const unsigned char* bytes, int n, std::size_t count, BlockShape* out) {
  hard_assert(n >= 1 && n <= 4096 && n % 8 == 0, "n>=1&&n<=4096&&n%8==0");
#if defined(LUMBRA_X86_64)
  if (ranks_kernel != nullptr) return ranks_kernel(bytes, n, count, out);
#else
  (void)bytes, (void)count, (void)out;
#endif
  return 0;
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
