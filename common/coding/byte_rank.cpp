#include "coding/byte_rank.h"

#include <algorithm>
#include <array>
#include <bit>

#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

constexpr int byte_bits = 8;
constexpr std::size_t byte_values = 256;
constexpr std::size_t valid_words = byte_values / 64;  // words of valid_ per point
// The one bits of each byte.
constexpr std::array<std::uint8_t, byte_values> byte_ones = [] {
  std::array<std::uint8_t, byte_values> t{};
  for (unsigned b = 0; b < byte_values; ++b) t[b] = static_cast<std::uint8_t>(std::popcount(b));
  return t;
}();
// The widest sums kept (counts of up to 4096 bits).
constexpr std::size_t max_width = 64;

}  // namespace

ByteRanker::ByteRanker(const SuffixCounts& table, std::size_t maxBytes) {
  const int m = table.m();
  const int nchunks = (m + byte_bits - 1) / byte_bits;
  // First the points of each byte and the width of their counts, which
  // bound the sums (the blocks from (x, o) whose byte is smaller number
  // fewer than the count of (x, o)); no sums when they would take more than
  // maxBytes.
  std::vector<Chunk> chunks(static_cast<std::size_t>(nchunks));
  std::size_t limbs = 0, words = 0;
  Mpz c;
  for (int p = 0; p < nchunks; ++p) {
    const int x = p * byte_bits;
    std::int64_t olo = -1, ohi = -1;
    std::size_t width = 1;
    for (std::int64_t o = 0; o <= x; ++o) {
      table.count(x, o, c.get());
      if (mpz_sgn(c.get()) == 0) continue;
      if (olo < 0) olo = o;
      ohi = o;
      width = std::max(width, mpz_size(c.get()));
    }
    // A band without paths (d = 0 off the line) or counts too wide: no sums.
    if (olo < 0 || width > max_width) return;
    const int len = std::min(byte_bits, m - x);
    Chunk& k = chunks[static_cast<std::size_t>(p)];
    k = {olo, static_cast<std::uint64_t>(ohi - olo + 1), limbs, words, static_cast<std::int32_t>(width),
         (0xFFu << (byte_bits - len)) & 0xFFu};
    limbs += k.slots * byte_values * width;
    words += k.slots * valid_words;
    if (limbs * sizeof(mp_limb_t) + words * sizeof(std::uint64_t) > maxBytes) return;
  }
  sums_.assign(limbs, 0);
  valid_.assign(words, 0);
  // The counts of the rows a byte reaches, for the ones it may hold.
  std::vector<Mpz> counts;
  Mpz sum;
  for (int p = 0; p < nchunks; ++p) {
    const Chunk& k = chunks[static_cast<std::size_t>(p)];
    const int x = p * byte_bits;
    const int len = std::min(byte_bits, m - x);
    const std::size_t span = k.slots + byte_bits;
    counts.resize(static_cast<std::size_t>(len + 1) * span);
    for (int j = 0; j <= len; ++j)
      for (std::size_t i = 0; i < span; ++i)
        table.count(x + j, k.olo + static_cast<std::int64_t>(i), counts[static_cast<std::size_t>(j) * span + i].get());
    const auto at = [&](int j, std::int64_t o) {
      return counts[static_cast<std::size_t>(j) * span + static_cast<std::size_t>(o - k.olo)].get();
    };
    for (std::uint64_t s = 0; s < k.slots; ++s) {
      for (unsigned b = 0; b < byte_values; ++b) {
        if ((b & ~k.mask) != 0) continue;
        std::int64_t o = k.olo + static_cast<std::int64_t>(s);
        bool in = mpz_sgn(at(0, o)) > 0;
        mpz_set_ui(sum.get(), 0);
        // A one bit counts the blocks that take a zero there instead; a
        // point of count 0 is outside the band (or leads nowhere in it).
        for (int j = 0; j < len && in; ++j) {
          if (((b >> (byte_bits - 1 - j)) & 1u) != 0) {
            mpz_add(sum.get(), sum.get(), at(j + 1, o));
            ++o;
          }
          in = mpz_sgn(at(j + 1, o)) > 0;
        }
        if (!in) continue;
        const std::size_t e = s * byte_values + b;
        valid_[k.validOffset + e / 64] |= std::uint64_t{1} << (e % 64);
        hard_assert(mpz_size(sum.get()) <= static_cast<std::size_t>(k.width), "a sum within its width");
        mpz_export(sums_.data() + k.offset + e * static_cast<std::size_t>(k.width), nullptr, -1, sizeof(mp_limb_t), 0,
                   0, sum.get());
      }
    }
    maxWidth_ = std::max(maxWidth_, k.width);
  }
  chunks_ = std::move(chunks);
}

std::size_t ByteRanker::bytes() const {
  return chunks_.capacity() * sizeof(Chunk) + sums_.capacity() * sizeof(mp_limb_t) +
         valid_.capacity() * sizeof(std::uint64_t);
}

bool ByteRanker::rank(const unsigned char* block, mpz_ptr index) const {
  hard_assert(ready(), "ready()");
  // The sums added limb by limb in 128-bit columns, the carries taken at
  // the end.
  using Wide = detail::WideLimb;
  const std::size_t n = static_cast<std::size_t>(maxWidth_);
  std::array<Wide, max_width> col;
  std::fill(col.begin(), col.begin() + static_cast<std::ptrdiff_t>(n), Wide{0});
  std::int64_t o = 0;
  for (std::size_t p = 0; p < chunks_.size(); ++p) {
    const Chunk& k = chunks_[p];
    const std::uint64_t s = static_cast<std::uint64_t>(o - k.olo);
    if (s >= k.slots) return false;
    const unsigned b = block[p] & k.mask;
    const std::size_t e = s * byte_values + b;
    if (((valid_[k.validOffset + e / 64] >> (e % 64)) & 1) == 0) return false;
    const mp_limb_t* v = sums_.data() + k.offset + e * static_cast<std::size_t>(k.width);
    for (std::int32_t i = 0; i < k.width; ++i) col[static_cast<std::size_t>(i)] += v[i];
    o += byte_ones[b];
  }
  detail::setFromColumns(col.data(), n, index);
  return true;
}

}  // namespace lumbra
