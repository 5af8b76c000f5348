#include "coding/shaper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "count/count.h"
#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

// The most memory unshape's byte ranker may take: it fits beside the table
// in the processor's second-level cache (0.8 MiB at n = 256, d = 4).
constexpr std::size_t byte_ranker_bytes = std::size_t{2} << 20;

// floor(log2 C(n, n/2, d)), -1 when no word fits the band.
int wordBits(int n, int d) {
  Mpz c;
  balancedCount(c.get(), n, d);
  return mpz_sgn(c.get()) == 0 ? -1 : static_cast<int>(mpz_sizeinbase(c.get(), 2)) - 1;
}

// The smallest depth <= d whose band holds 2^bits words (counts grow with d).
int narrowestDepth(int n, int d, int bits) {
  int lo = 1, hi = d;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (wordBits(n, mid) >= bits) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

// The walk of one byte, most significant bit first: where it ends and the
// lowest and highest heights of its eight steps, from height 0.
struct ByteWalk {
  std::int8_t end, low, high;
};

constexpr std::array<ByteWalk, 256> byteWalks() {
  std::array<ByteWalk, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int h = 0, low = 8, high = -8;
    for (int b = 7; b >= 0; --b) {
      h += ((v >> b) & 1) != 0 ? 1 : -1;
      low = std::min(low, h);
      high = std::max(high, h);
    }
    t[static_cast<std::size_t>(v)] = {static_cast<std::int8_t>(h), static_cast<std::int8_t>(low),
                                      static_cast<std::int8_t>(high)};
  }
  return t;
}

constexpr std::array<ByteWalk, 256> byte_walks = byteWalks();

bool bitOf(const unsigned char* word, int x) { return ((word[x / 8] >> (7 - x % 8)) & 1) != 0; }

}  // namespace

std::string shapeRefusal(int n, int d) {
  if (n < 2 || n > shape_max_word || n % 2 != 0)
    return "N must be even, 2 to " + std::to_string(shape_max_word) + ", not " + std::to_string(n);
  if (d < 0 || d > n / 2)
    return "D must be 1 to N/2 = " + std::to_string(n / 2) + ", not " + std::to_string(d);
  if (wordBits(n, d) < 1) {
    int least = d + 1;
    while (wordBits(n, least) < 1) ++least;
    return "D = " + std::to_string(d) + " is too small: a word of " + std::to_string(n) +
           " bits carries no data; the smallest D that works is " + std::to_string(least);
  }
  return {};
}

double shapeCapacity(int d) { return std::log2(2 * std::cos(std::numbers::pi / (2.0 * d + 2.0))); }

Shaper::Shaper(int n, int d)
    : n_(n),
      d_(d),
      bits_(shapeRefusal(n, d).empty() ? wordBits(n, d) : 0),
      table_(n, n / 2, bits_ > 0 ? narrowestDepth(n, d, bits_) : 1),
      bytes_(table_, byte_ranker_bytes) {
  hard_assert(bits_ > 0, "shapeRefusal(n,d).empty()");
  Mpz total;
  table_.total(total.get());
  hard_assert(static_cast<int>(mpz_sizeinbase(total.get(), 2)) > bits_, "C(n,n/2,depth)>=2^bits");
}

void Shaper::shape(std::span<const mpz_srcptr> values, unsigned char* words) const {
  std::vector<SuffixCounts::BitPlace> places(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    hard_assert(mpz_sgn(values[i]) >= 0 && static_cast<int>(mpz_sizeinbase(values[i], 2)) <= bits_,
                "0<=value<2^bits");
    places[i] = {words + i * wordBytes(), 0};
  }
  table_.unrank(values, places);
}

WordCheck Shaper::unshape(const unsigned char* word, mpz_ptr value) const {
  // The walk's lowest and highest points, a byte at a time.
  int h = 0, low = 0, high = 0;
  const int whole = n_ / 8;
  for (int i = 0; i < whole; ++i) {
    const ByteWalk& w = byte_walks[word[i]];
    low = std::min(low, h + w.low);
    high = std::max(high, h + w.high);
    h += w.end;
  }
  for (int x = 8 * whole; x < n_; ++x) {
    h += bitOf(word, x) ? 1 : -1;
    low = std::min(low, h);
    high = std::max(high, h);
  }
  if (low < -d_ || high > d_) {
    int y = 0, x = 0;
    for (;; ++x) {
      y += bitOf(word, x) ? 1 : -1;
      if (y < -d_ || y > d_) break;
    }
    return {WordCheck::Fault::leaves_band, x};
  }
  if (h != 0) return {WordCheck::Fault::unbalanced, (n_ + h) / 2};
  if (low < -depth() || high > depth()) return {WordCheck::Fault::not_shaped, 0};
  if (bytes_.ready()) {
    if (!bytes_.rank(word, value)) return {WordCheck::Fault::not_shaped, 0};
  } else {
    table_.rank(word, 0, value);
  }
  if (static_cast<int>(mpz_sizeinbase(value, 2)) > bits_) return {WordCheck::Fault::not_shaped, 0};
  return {};
}

}  // namespace lumbra
