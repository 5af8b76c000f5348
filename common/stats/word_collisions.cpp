#include "stats/word_collisions.h"

#include <algorithm>

#include "kova/hard_assert.h"
#include "stats/counted_law.h"

namespace lumbra {

int collisionWidth(int m) {
  int t = 1;
  for (;; ++t) {
    const long long w = m / t;
    if (w * (w - 1) <= 10LL << t) return t;
  }
}

int collisionWords(int m) { return m / collisionWidth(m); }

int wordCollisions(const std::uint64_t* words, int m, std::vector<std::uint64_t>& seen) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  const int t = collisionWidth(m), w = m / t;
  const std::size_t cells = (std::size_t{1} << t) + 63;
  if (seen.size() < cells / 64) seen.resize(cells / 64, 0);
  std::uint64_t* marks = seen.data();
  const auto word = [&](int i) {
    const int at = i * t, q = at >> 6, s = at & 63;
    std::uint64_t v = words[q] << s;
    if (s + t > 64) v |= words[q + 1] >> (64 - s);
    return static_cast<std::uint32_t>(v >> (64 - t));
  };
  int repeats = 0;
  for (int i = 0; i < w; ++i) {
    const std::uint32_t v = word(i);
    const std::uint64_t bit = std::uint64_t{1} << (v & 63);
    repeats += (marks[v >> 6] & bit) != 0;
    marks[v >> 6] |= bit;
  }
  for (int i = 0; i < w; ++i) marks[word(i) >> 6] = 0;
  return repeats;
}

namespace {

class CollisionsStatistic final : public ValuesOf<CollisionsStatistic> {
 public:
  std::string_view name() const override { return "collisions"; }
  std::string_view measures() const override {
    return "the repeated values among the block's words of t bits, t by the block's size (11 for 1024 bits) "
           "(too many: outputs that lie on few planes)";
  }
  std::string_view subject() const override { return "the number of repeated words of the block"; }
  bool givenOnes() const override { return false; }
  unsigned reads() const override { return reads_collisions; }
  int value(const BlockShape& block) const override { return block.collisions; }
  std::unique_ptr<StatisticLaw> law(int m, int) const override { return collisionsLaw(m); }
};

}  // namespace

std::unique_ptr<StatisticLaw> collisionsLaw(int m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  return wordCollisionsLaw(collisionWidth(m), collisionWords(m));
}

std::unique_ptr<StatisticLaw> wordCollisionsLaw(int t, int w) {
  hard_assert(t >= 1 && t <= 20 && w >= 1 && w <= 4096, "t>=1&&t<=20&&w>=1&&w<=4096");
  const unsigned long cells = 1ul << t;
  // S(w, d) for d = 0..w by rows: S(n, d) = d S(n - 1, d) + S(n - 1, d - 1).
  std::vector<Mpz> stirling(static_cast<std::size_t>(w) + 1);
  mpz_set_ui(stirling[0].get(), 1);
  for (int n = 1; n <= w; ++n) {
    for (int d = n; d >= 1; --d) {
      mpz_ptr s = stirling[static_cast<std::size_t>(d)].get();
      mpz_mul_ui(s, s, static_cast<unsigned long>(d));
      mpz_add(s, s, stirling[static_cast<std::size_t>(d) - 1].get());
    }
    mpz_set_ui(stirling[0].get(), 0);
  }
  // The value c = w - d: at least w - min(w, M), at most w - 1.
  const int least = w - static_cast<int>(std::min<unsigned long>(static_cast<unsigned long>(w), cells));
  const int most = w - 1;
  std::vector<Mpz> counts(static_cast<std::size_t>(most - least) + 1);
  Mpz falling;  // M (M - 1) ... (M - d + 1)
  mpz_set_ui(falling.get(), 1);
  for (int d = 1; d <= w; ++d) {
    mpz_mul_ui(falling.get(), falling.get(), cells >= static_cast<unsigned long>(d) ? cells - static_cast<unsigned long>(d) + 1 : 0);
    const int c = w - d;
    if (c < least || c > most) continue;
    mpz_mul(counts[static_cast<std::size_t>(c - least)].get(), falling.get(), stirling[static_cast<std::size_t>(d)].get());
  }
  Mpz total;
  mpz_ui_pow_ui(total.get(), cells, static_cast<unsigned long>(w));
  return std::make_unique<CountedLaw>(least, std::move(counts), total.get(), CountedLaw::Tail::upper);
}

const Statistic& collisionsStatistic() {
  static const CollisionsStatistic statistic;
  return statistic;
}

}  // namespace lumbra
