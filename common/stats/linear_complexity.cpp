#include "stats/linear_complexity.h"

#include <algorithm>
#include <utility>

#include "kova/hard_assert.h"
#include "stats/counted_law.h"

namespace lumbra {

namespace {

// Bits [at, at + 64) of the bit array a (bit j of a[j / 64] at 1 << j % 64),
// which holds a word past them.
inline std::uint64_t wordAt(const std::uint64_t* a, int at) {
  const int q = at >> 6, s = at & 63;
  return s == 0 ? a[q] : (a[q] >> s) | (a[q + 1] << (64 - s));
}

}  // namespace

int linearComplexity(const std::uint64_t* words, int m, std::vector<std::uint64_t>& scratch) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  const int count = (m + 63) / 64, padded = 64 * count;
  // rev: the block reversed, bit p = s[padded - 1 - p] (0 past the block):
  // the words in reverse order, since the first bit is on top. c, b, t: the
  // connection polynomial, the one before its last change, and room for the
  // next, bit i the coefficient of x^i; each a word longer than needed.
  const std::size_t span = static_cast<std::size_t>(count) + 2;
  scratch.assign(4 * span, 0);
  std::uint64_t* rev = scratch.data();
  std::uint64_t *c = rev + span, *b = c + span, *t = b + span;
  for (int j = 0; j < count; ++j) rev[j] = words[count - 1 - j];
  c[0] = b[0] = 1;
  int length = 0, lengthB = 0, shift = 1;
  for (int n = 0; n < m; ++n) {
    // d = sum_{i <= L} c_i s[n - i]: s[n - i] is bit padded - 1 - n + i of rev.
    const int from = padded - 1 - n, used = (length >> 6) + 1;
    std::uint64_t acc = 0;
    for (int q = 0; q < used; ++q) acc ^= c[q] & wordAt(rev, from + 64 * q);
    if ((__builtin_popcountll(acc) & 1) == 0) {
      ++shift;
      continue;
    }
    // c + x^shift b, into t when c is to become the new b.
    const bool grows = 2 * length <= n;
    std::uint64_t* out = grows ? t : c;
    const int top = std::max(length, lengthB + shift), outWords = (top >> 6) + 1;
    const int q0 = shift >> 6, s = shift & 63;
    for (int q = 0; q < outWords; ++q) {
      // Bits [64q, 64q + 64) of b << shift.
      std::uint64_t shifted = 0;
      const int src = q - q0;
      if (src >= 0) shifted = s == 0 ? b[src] : (b[src] << s) | (src > 0 ? b[src - 1] >> (64 - s) : 0);
      out[q] = c[q] ^ shifted;
    }
    if (grows) {
      // b takes the old c; the old b's room is the next t.
      std::uint64_t* old = b;
      b = c;
      c = t;
      t = old;
      std::fill(t, t + span, 0);
      lengthB = length;
      length = n + 1 - length;
      shift = 1;
    } else {
      ++shift;
    }
  }
  return length;
}

namespace {

class LinearComplexityStatistic final : public ValuesOf<LinearComplexityStatistic> {
 public:
  std::string_view name() const override { return "linear_complexity"; }
  std::string_view measures() const override {
    return "the length of the shortest linear feedback shift register that makes the block's bits "
           "(too short: a small linear generator)";
  }
  std::string_view subject() const override { return "the linear complexity of the block's bits"; }
  bool givenOnes() const override { return false; }
  unsigned reads() const override { return reads_complexity; }
  int value(const BlockShape& block) const override { return block.complexity; }
  std::unique_ptr<StatisticLaw> law(int m, int) const override { return linearComplexityLaw(m); }
};

}  // namespace

std::unique_ptr<StatisticLaw> linearComplexityLaw(int m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  std::vector<Mpz> counts(static_cast<std::size_t>(m) + 1);
  mpz_set_ui(counts[0].get(), 1);
  for (int l = 1; l <= m; ++l)
    mpz_setbit(counts[static_cast<std::size_t>(l)].get(), static_cast<mp_bitcnt_t>(std::min(2 * l - 1, 2 * m - 2 * l)));
  Mpz total;
  mpz_setbit(total.get(), static_cast<mp_bitcnt_t>(m));
  return std::make_unique<CountedLaw>(0, std::move(counts), total.get(), CountedLaw::Tail::both, m);
}

const Statistic& linearComplexityStatistic() {
  static const LinearComplexityStatistic statistic;
  return statistic;
}

}  // namespace lumbra
