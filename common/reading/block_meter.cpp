#include "reading/block_meter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "kova/hard_assert.h"
#include "band/center_line.h"
#include "reading/block_lanes.h"
#include "exec/processor.h"
#include "stats/block_rank.h"
#include "stats/linear_complexity.h"
#include "stats/word_collisions.h"

#if defined(LUMBRA_SSE2)
#include <emmintrin.h>
#endif
#if defined(LUMBRA_X86_64)
#include <immintrin.h>
#endif

namespace lumbra {

namespace {

// The walk of byte b: its height after 1..8 of its bits, first bit first
// (at), and its height after all 8 in every lane (end).
struct ByteWalks {
  alignas(16) std::int16_t at[256][8];
  alignas(16) std::int16_t end[256][8];
  constexpr ByteWalks() : at{}, end{} {
    for (int b = 0; b < 256; ++b) {
      int w = 0;
      for (int i = 0; i < 8; ++i) {
        w += ((b >> (7 - i)) & 1) ? 1 : -1;
        at[b][i] = static_cast<std::int16_t>(w);
      }
      for (int i = 0; i < 8; ++i) end[b][i] = static_cast<std::int16_t>(w);
    }
  }
};
constexpr ByteWalks byte_walks;

// The one bits of the bytes p[0, bytes).
// NOTE: counted in the bytes of 64-bit words rather than by std::popcount,
// which without a popcount instruction in the target is a library call.
int count_ones(const unsigned char* p, int bytes) {
  constexpr std::uint64_t m1 = 0x5555555555555555u, m2 = 0x3333333333333333u, m4 = 0x0f0f0f0f0f0f0f0fu;
  std::uint64_t total = 0;
  int i = 0;
  for (; i + 8 <= bytes; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    w -= (w >> 1) & m1;
    w = (w & m2) + ((w >> 2) & m2);
    w = (w + (w >> 4)) & m4;
    total += (w * 0x0101010101010101u) >> 56;
  }
  int ones = static_cast<int>(total);
  for (; i < bytes; ++i) ones += (byte_walks.end[p[i]][0] + 8) / 2;
  return ones;
}

#if defined(LUMBRA_SSE2)
const bool has_sse2 = hasCpu(cpu_sse2);

// Widens hi to the greatest of the eight lanes of his and lo to the least of
// los, folded in halves in registers. Every lane of his is at least 0 and of
// los at most 0, so the zeros the shifts bring in change neither.
inline void foldLanes(__m128i his, __m128i los, int& hi, int& lo) {
  his = _mm_max_epi16(his, _mm_srli_si128(his, 8));
  los = _mm_min_epi16(los, _mm_srli_si128(los, 8));
  his = _mm_max_epi16(his, _mm_srli_si128(his, 4));
  los = _mm_min_epi16(los, _mm_srli_si128(los, 4));
  his = _mm_max_epi16(his, _mm_srli_si128(his, 2));
  los = _mm_min_epi16(los, _mm_srli_si128(los, 2));
  hi = std::max<int>(hi, static_cast<std::int16_t>(_mm_cvtsi128_si32(his)));
  lo = std::min<int>(lo, static_cast<std::int16_t>(_mm_cvtsi128_si32(los)));
}
#endif

#if defined(LUMBRA_X86_64)
#define LUMBRA_AVX512_BITS __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,avx512bitalg,popcnt")))

const bool has_avx512_bits =
    hasCpu(cpu_avx2 | cpu_avx512f | cpu_avx512bw | cpu_avx512vbmi | cpu_avx512bitalg | cpu_popcnt);

// The distances of the walk from the line over the first 8 * words bytes,
// 64 bits a round: the walk after each bit of a word is 2 * (the ones up to
// it) - (its place + 1), the ones being the ones of its own byte up to it
// (the byte under a mask of its leading bits, counted by vpopcntb) plus
// those of the bytes before it in the word (a prefix sum of the bytes'
// counts, taken by one multiplication). Both are at most 64, so the walk
// within the word, -64..64, fits a byte; it is widened to 16 bits to meet
// the line and the walk before the word. Returns the walk after the words
// and widens hi and lo to the farthest distances met.
LUMBRA_AVX512_BITS int wordExtremes(const unsigned char* bytes, int words, const std::int16_t* line, int& hi,
                                    int& lo) {
  alignas(64) static constexpr auto tables = [] {
    struct {
      std::uint8_t byteOf[64], lead[64], place[64];
    } t{};
    for (int l = 0; l < 64; ++l) {
      t.byteOf[l] = static_cast<std::uint8_t>(l / 8);
      t.lead[l] = static_cast<std::uint8_t>(0xff00u >> (l % 8 + 1));
      t.place[l] = static_cast<std::uint8_t>(l + 1);
    }
    return t;
  }();
  const __m512i byteOf = _mm512_load_si512(tables.byteOf);
  const __m512i lead = _mm512_load_si512(tables.lead);
  const __m512i place = _mm512_load_si512(tables.place);
  const __mmask64 all = ~__mmask64{0};
  __m512i vhi = _mm512_setzero_si512(), vlo = _mm512_setzero_si512();
  int w = 0;
  for (int i = 0; i < words; ++i) {
    std::uint64_t word;
    std::memcpy(&word, bytes + std::ptrdiff_t{8} * i, 8);
    std::uint64_t counts = word - ((word >> 1) & 0x5555555555555555u);
    counts = (counts & 0x3333333333333333u) + ((counts >> 2) & 0x3333333333333333u);
    counts = (counts + (counts >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    const std::uint64_t before = (counts * 0x0101010101010101u) << 8;  // the ones of the bytes before each
    // NOTE: the zero-masking forms throughout, whose unmasked twins hand
    // GCC 12 an undefined vector it then warns of.
    const __m512i own = _mm512_popcnt_epi8(
        _mm512_and_si512(_mm512_maskz_permutexvar_epi8(all, byteOf, _mm512_set1_epi64(static_cast<long long>(word))), lead));
    const __m512i ones = _mm512_add_epi8(
        own, _mm512_maskz_permutexvar_epi8(all, byteOf, _mm512_set1_epi64(static_cast<long long>(before))));
    const __m512i walk = _mm512_sub_epi8(_mm512_add_epi8(ones, ones), place);
    const __m512i base = _mm512_set1_epi16(static_cast<short>(w));
    const __m512i d0 = _mm512_sub_epi16(_mm512_add_epi16(_mm512_cvtepi8_epi16(_mm512_maskz_extracti64x4_epi64(0xff, walk, 0)), base),
                                        _mm512_loadu_si512(line + std::ptrdiff_t{64} * i));
    const __m512i d1 =
        _mm512_sub_epi16(_mm512_add_epi16(_mm512_cvtepi8_epi16(_mm512_maskz_extracti64x4_epi64(0xff, walk, 1)), base),
                         _mm512_loadu_si512(line + std::ptrdiff_t{64} * i + 32));
    vhi = _mm512_max_epi16(vhi, _mm512_max_epi16(d0, d1));
    vlo = _mm512_min_epi16(vlo, _mm512_min_epi16(d0, d1));
    w += 2 * static_cast<int>(_mm_popcnt_u64(word)) - 64;
  }
  // The lanes folded in halves, in registers.
  const __m256i h256 = _mm256_max_epi16(_mm512_maskz_extracti64x4_epi64(0xff, vhi, 0), _mm512_maskz_extracti64x4_epi64(0xff, vhi, 1));
  const __m256i l256 = _mm256_min_epi16(_mm512_maskz_extracti64x4_epi64(0xff, vlo, 0), _mm512_maskz_extracti64x4_epi64(0xff, vlo, 1));
  const __m128i h = _mm_max_epi16(_mm256_castsi256_si128(h256), _mm256_extracti128_si256(h256, 1));
  const __m128i l = _mm_min_epi16(_mm256_castsi256_si128(l256), _mm256_extracti128_si256(l256, 1));
  foldLanes(h, l, hi, lo);
  return w;
}
#endif

}  // namespace

BlockMeter::BlockMeter(int n, std::size_t budget, unsigned reads)
    : n_(n), budget_(budget), reads_(reads), lines_(static_cast<std::size_t>(n) + 1) {
  hard_assert(n >= 1 && n <= 4096, "n>=1&&n<=4096");
  shifted_.resize(static_cast<std::size_t>(n) / 8 + 2);
  words_.resize(2 * ((static_cast<std::size_t>(n) + 63) / 64));
}

const std::int16_t* BlockMeter::line(int k) {
  std::unique_ptr<std::int16_t[]>& l = lines_[static_cast<std::size_t>(k)];
  if (l) return l.get();
  const std::size_t len = (static_cast<std::size_t>(n_) + 7) / 8 * 8;
  if (lineBytes_ + len * sizeof(std::int16_t) > budget_) {
    for (auto& other : lines_) other.reset();
    lineBytes_ = 0;
  }
  l = std::make_unique<std::int16_t[]>(len);  // zeroed
  CenterLine c(n_, k);
  for (int x = 1; x <= n_; ++x) {
    c.next();
    l[static_cast<std::size_t>(x) - 1] = static_cast<std::int16_t>(c.value());
  }
  lineBytes_ += len * sizeof(std::int16_t);
  return l.get();
}

BlockMeasure BlockMeter::measureBits(const unsigned char* bytes, int bit, int m) {
  hard_assert(bit >= 0 && bit<8 && m >= 1, "bit>=0&&bit<8&&m>=1");
  int k = 0;
  for (int i = 0; i < m; ++i) k += (bytes[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1;
  CenterLine line(m, k);
  int d = 0, w = 0;
  for (int i = 0; i < m; ++i) {
    w += ((bytes[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1) ? 1 : -1;
    line.next();
    d = std::max(d, std::abs(w - line.value()));
  }
  return {k, d};
}

const unsigned char* BlockMeter::aligned(const unsigned char* bytes, int bit, int m) {
  if (bit == 0) return bytes;
  // Move the block to bit 0 of its own bytes; the byte after its last one
  // is read only when the block reaches into it.
  const int whole = m / 8, have = (bit + m + 7) / 8;
  for (int j = 0; j <= whole; ++j) {
    const unsigned next = j + 1 < have ? bytes[j + 1] : 0u;
    shifted_[static_cast<std::size_t>(j)] = static_cast<unsigned char>((bytes[j] << bit) | (next >> (8 - bit)));
  }
  return shifted_.data();
}

namespace {

// The ones of a block of m bits at bit 0.
int block_ones(const unsigned char* bytes, int m) {
  const int whole = m / 8, rest = m % 8;
  const unsigned last = rest ? bytes[whole] >> (8 - rest) : 0u;
  return count_ones(bytes, whole) + (rest ? (byte_walks.end[last][0] + 8) / 2 : 0);
}

}  // namespace

BlockMeasure BlockMeter::measure(const unsigned char* bytes, int bit, int m) {
  hard_assert(bit >= 0 && bit<8 && m >= 1 && m <= 4096, "bit>=0&&bit<8&&m>=1&&m<=4096");
  if (m != n_) return measureBits(bytes, bit, m);
  bytes = aligned(bytes, bit, m);
  const int k = block_ones(bytes, m);
  int hi = 0, lo = 0;
  extremes(bytes, k, hi, lo);
  return {k, std::max(hi, -lo)};
}

void BlockMeter::extremes(const unsigned char* bytes, int k, int& hi, int& lo) {
  const int m = n_, whole = m / 8, rest = m % 8;
  const unsigned last = rest ? bytes[whole] >> (8 - rest) : 0u;  // the last bits, low-aligned
  const std::int16_t* l = line(k);

  // The distance at each bit of a whole byte: the walk before the byte
  // plus the byte's own walk, less the line; its highest and lowest value.
  int w = 0;
  hi = 0, lo = 0;
  int j = 0;
#if defined(LUMBRA_X86_64)
  if (has_avx512_bits && whole >= 16) {
    w = wordExtremes(bytes, whole / 8, l, hi, lo);
    j = whole / 8 * 8;
  }
#endif
#if defined(LUMBRA_SSE2)
  if (has_sse2) {
    // The walk before the byte rides in every lane of vw.
    // NOTE: two bytes a round, with their own extremes, so that the rounds
    // do not wait on one another's maximum and minimum.
    __m128i vhi = _mm_set1_epi16(static_cast<short>(hi)), vlo = _mm_set1_epi16(static_cast<short>(lo));
    __m128i vw = _mm_set1_epi16(static_cast<short>(w));
    __m128i vhi2 = vhi, vlo2 = vlo;
    auto walkAt = [](unsigned b) { return _mm_load_si128(reinterpret_cast<const __m128i*>(byte_walks.at[b])); };
    auto endOf = [](unsigned b) { return _mm_load_si128(reinterpret_cast<const __m128i*>(byte_walks.end[b])); };
    auto lineAt = [l](int at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + std::ptrdiff_t{8} * at)); };
    for (; j + 2 <= whole; j += 2) {
      const unsigned b0 = bytes[j], b1 = bytes[j + 1];
      const __m128i vw1 = _mm_add_epi16(vw, endOf(b0));
      const __m128i d0 = _mm_sub_epi16(_mm_add_epi16(walkAt(b0), vw), lineAt(j));
      const __m128i d1 = _mm_sub_epi16(_mm_add_epi16(walkAt(b1), vw1), lineAt(j + 1));
      vhi = _mm_max_epi16(vhi, d0);
      vlo = _mm_min_epi16(vlo, d0);
      vhi2 = _mm_max_epi16(vhi2, d1);
      vlo2 = _mm_min_epi16(vlo2, d1);
      vw = _mm_add_epi16(vw1, endOf(b1));
    }
    for (; j < whole; ++j) {
      const unsigned b = bytes[j];
      const __m128i d0 = _mm_sub_epi16(_mm_add_epi16(walkAt(b), vw), lineAt(j));
      vhi = _mm_max_epi16(vhi, d0);
      vlo = _mm_min_epi16(vlo, d0);
      vw = _mm_add_epi16(vw, endOf(b));
    }
    vhi = _mm_max_epi16(vhi, vhi2);
    vlo = _mm_min_epi16(vlo, vlo2);
    w = static_cast<std::int16_t>(_mm_cvtsi128_si32(vw));
    foldLanes(vhi, vlo, hi, lo);
  }
#endif
  for (; j < whole; ++j) {
    const unsigned b = bytes[j];
    for (int i = 0; i < 8; ++i) {
      const int dist = w + byte_walks.at[b][i] - l[8 * j + i];
      hi = std::max(hi, dist);
      lo = std::min(lo, dist);
    }
    w += byte_walks.end[b][0];
  }
  for (int i = 0; i < rest; ++i) {
    w += ((last >> (rest - 1 - i)) & 1u) ? 1 : -1;
    const int dist = w - l[8 * whole + i];
    hi = std::max(hi, dist);
    lo = std::min(lo, dist);
  }
}

namespace {

// The one bits of a 64-bit word, in the same way as count_ones.
int ones_of_word(std::uint64_t w) {
  constexpr std::uint64_t m1 = 0x5555555555555555u, m2 = 0x3333333333333333u, m4 = 0x0f0f0f0f0f0f0f0fu;
  w -= (w >> 1) & m1;
  w = (w & m2) + ((w >> 2) & m2);
  w = (w + (w >> 4)) & m4;
  return static_cast<int>((w * 0x0101010101010101u) >> 56);
}

// The longest stretch of one bits in words[0, count), read as one string of
// bits from the top bit of words[0] on, counted word by word: the stretch
// open at the end of what has been read grows through a word of ones.
int longest_ones_by_words(const std::uint64_t* words, int count) {
  int longest = 0, open = 0;
  for (int j = 0; j < count; ++j) {
    const std::uint64_t w = words[j];
    if (~w == 0) {
      open += 64;
      continue;
    }
    const int lead = std::countl_one(w);
    longest = std::max(longest, open + lead);
    // The stretches inside the word: each round of x & (x << 1) shortens
    // every one of them by a bit.
    int inner = 0;
    for (std::uint64_t x = w << lead; x != 0; x &= x << 1) ++inner;
    longest = std::max(longest, inner);
    open = std::countr_one(w);
  }
  return std::max(longest, open);
}

// The longest stretch of one bits in words[0, count) as above; the words
// are overwritten.
// NOTE: each round shortens every stretch by one bit over all the words at
// once, without branches inside a round, so the short stretches of random
// bits take a few rounds; after 16 the stretches are counted word by word,
// which takes as long for any bits.
int longest_ones(std::uint64_t* words, int count, const std::uint64_t* original) {
  for (int rounds = 0; rounds < 16; ++rounds) {
    std::uint64_t any = 0;
    for (int j = 0; j < count; ++j) {
      const std::uint64_t carry = j + 1 < count ? words[j + 1] >> 63 : 0;
      any |= words[j];
      words[j] &= (words[j] << 1) | carry;
    }
    if (any == 0) return rounds;
  }
  return longest_ones_by_words(original, count);
}

}  // namespace

namespace {

// The ones of the words of a block and the neighbours in it that differ (a
// one of w ^ (w >> 1) with the previous word's last bit shifted in, the
// first bit its own previous), and, into same, the bits equal to the one
// before them; `valid` masks the last word's bits past the block.
template <class Popcount>
[[gnu::always_inline]] inline void count_words(const std::uint64_t* words, int count, std::uint64_t valid,
                                               std::uint64_t firstBit, std::uint64_t* same, int& ones, int& flips,
                                               Popcount popcount) {
  std::uint64_t previous = firstBit;
  for (int j = 0; j < count; ++j) {
    const std::uint64_t mask = j + 1 < count ? ~std::uint64_t{0} : valid;
    const std::uint64_t differ = (words[j] ^ ((words[j] >> 1) | (previous << 63))) & mask;
    ones += popcount(words[j]);
    flips += popcount(differ);
    same[j] = ~differ & mask;
    previous = words[j] & 1u;
  }
}

void count_words_plain(const std::uint64_t* words, int count, std::uint64_t valid, std::uint64_t firstBit,
                       std::uint64_t* same, int& ones, int& flips) {
  count_words(words, count, valid, firstBit, same, ones, flips, ones_of_word);
}

__attribute__((target("popcnt"))) void count_words_popcnt(const std::uint64_t* words, int count,
                                                           std::uint64_t valid, std::uint64_t firstBit,
                                                           std::uint64_t* same, int& ones, int& flips) {
  count_words(words, count, valid, firstBit, same, ones, flips,
              [](std::uint64_t w) { return __builtin_popcountll(w); });
}

// NOTE: the popcount instruction where the processor has it: without it
// the counts of a random file's blocks take a tenth of `test`'s time.
const bool has_popcnt = hasCpu(cpu_popcnt);

}  // namespace

namespace {

// The block of m bits at bit 0 of bytes into words[0, (m + 63) / 64), first
// bit on top, the bits past m 0; the mask of the last word's valid bits.
std::uint64_t loadWords(const unsigned char* bytes, int m, std::uint64_t* words) {
  const int have = (m + 7) / 8, count = (m + 63) / 64;
  for (int j = 0; j < count; ++j) {
    const unsigned char* from = bytes + std::ptrdiff_t{8} * j;
    const int left = have - 8 * j;  // bytes of the block from here on
    std::uint64_t w = 0;
    if (left >= 8) {
      std::memcpy(&w, from, 8);
      w = __builtin_bswap64(w);
    } else {
      for (int i = 0; i < 8; ++i) w = (w << 8) | (i < left ? from[i] : 0u);
    }
    words[j] = w;
  }
  const int tail = m % 64;
  const std::uint64_t valid = tail == 0 ? ~std::uint64_t{0} : ~std::uint64_t{0} << (64 - tail);
  words[count - 1] &= valid;
  return valid;
}

}  // namespace

void BlockMeter::readWords(const std::uint64_t* words, int m, BlockShape& s, unsigned reads) {
  if (reads & reads_rank) s.rank = blockRank(words, m);
  if (reads & reads_complexity) s.complexity = linearComplexity(words, m, scratch_);
  if (reads & reads_collisions) s.collisions = wordCollisions(words, m, seen_);
}

// The bits go into 64-bit words, first bit on top, and are counted there.
void BlockMeter::countBits(const unsigned char* bytes, int m, BlockShape& s, unsigned wordReads) {
  const int count = (m + 63) / 64;
  std::uint64_t* words = words_.data();
  std::uint64_t* same = words + count;
  const std::uint64_t valid = loadWords(bytes, m, words);
  if (wordReads != 0) readWords(words, m, s, wordReads);
  int ones = 0, flips = 0;
  s.firstBit = static_cast<int>(words[0] >> 63);
  s.lastBit = static_cast<int>((words[count - 1] >> (63 - (m - 1) % 64)) & 1u);
  (has_popcnt ? count_words_popcnt : count_words_plain)(words, count, valid, static_cast<std::uint64_t>(s.firstBit),
                                                         same, ones, flips);
  // The first bit has no neighbour before it.
  same[0] &= ~(std::uint64_t{1} << 63);
  s.ones = ones;
  s.runs = flips + 1;
  if ((reads_ & reads_longest_run) == 0) {
    s.longestRun = 0;
    return;
  }
  std::copy(same, same + count, words);
  s.longestRun = 1 + longest_ones(words, count, same);
}

namespace {

// The shape of a block bit by bit, for blocks of other lengths than the
// meter's.
BlockShape shape_bits(const unsigned char* bytes, int bit, int m) {
  auto at = [&](int i) { return (bytes[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1; };
  BlockShape s{0, 0, 0, 1, 1, at(0), at(m - 1)};
  for (int i = 0; i < m; ++i) s.ones += at(i);
  CenterLine line(m, s.ones);
  int w = 0, open = 0;
  for (int i = 0; i < m; ++i) {
    w += at(i) ? 1 : -1;
    line.next();
    s.up = std::max(s.up, w - line.value());
    s.down = std::max(s.down, line.value() - w);
    if (i > 0 && at(i) != at(i - 1)) ++s.runs, open = 0;
    s.longestRun = std::max(s.longestRun, ++open);
  }
  return s;
}

}  // namespace

BlockShape BlockMeter::shape(const unsigned char* bytes, int bit, int m) {
  hard_assert(bit >= 0 && bit<8 && m >= 1 && m <= 4096, "bit>=0&&bit<8&&m>=1&&m<=4096");
  if (m != n_) {
    BlockShape s = shape_bits(bytes, bit, m);
    if (reads_ & reads_of_words) {
      std::vector<std::uint64_t> words(static_cast<std::size_t>(m + 63) / 64);
      for (int i = 0; i < m; ++i)
        words[static_cast<std::size_t>(i) / 64] |=
            std::uint64_t{(bytes[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1u} << (63 - i % 64);
      readWords(words.data(), m, s, reads_ & reads_of_words);
    }
    return s;
  }
  return shapeOf(bytes, bit, reads_ & reads_of_words);
}

BlockShape BlockMeter::shapeOf(const unsigned char* bytes, int bit, unsigned wordReads) {
  const int m = n_;
  bytes = aligned(bytes, bit, m);
  BlockShape s{};
  countBits(bytes, m, s, wordReads);
  int hi = 0, lo = 0;
  extremes(bytes, s.ones, hi, lo);
  s.up = hi;
  s.down = -lo;
  return s;
}

void BlockMeter::shapes(const unsigned char* bytes, std::size_t count, BlockShape* out) {
  // Blocks of whole bytes have their ranks worked out several at once, in
  // vector lanes, after their shapes.
  const bool rankLanes = (reads_ & reads_rank) != 0 && n_ % 8 == 0;
  const unsigned wordReads = reads_ & reads_of_words & (rankLanes ? ~unsigned{reads_rank} : ~0u);
  std::size_t i = 0;
  if ((reads_ & reads_longest_run) == 0 && laneSize(n_)) {
    i = measureLanes(bytes, n_, count, out);
    if (wordReads != 0)
      for (std::size_t j = 0; j < i; ++j) {
        const std::uint64_t bit = j * static_cast<std::uint64_t>(n_);  // whole bytes: n is 64, 128 or 256
        loadWords(bytes + bit / 8, n_, words_.data());
        readWords(words_.data(), n_, out[j], wordReads);
      }
  }
  for (; i < count; ++i) {
    const std::uint64_t bit = i * static_cast<std::uint64_t>(n_);
    out[i] = shapeOf(bytes + bit / 8, static_cast<int>(bit % 8), wordReads);
  }
  if (!rankLanes) return;
  for (std::size_t j = blockRanks(bytes, n_, count, out); j < count; ++j) {
    loadWords(bytes + j * static_cast<std::size_t>(n_) / 8, n_, words_.data());
    out[j].rank = blockRank(words_.data(), n_);
  }
}

}  // namespace lumbra
