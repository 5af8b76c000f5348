#include "reading/block_lanes.h"

#include <cstdint>

#include "exec/processor.h"
#include "kova/hard_assert.h"

#if defined(LUMBRA_X86_64)
#include <immintrin.h>
#endif

namespace lumbra {

#if defined(LUMBRA_X86_64)

// NOTE: GCC 12's AVX-512 intrinsics start many results from an undefined
// vector, which it then warns of as uninitialized where they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

#define LUMBRA_LANES __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,avx512bitalg,avx512vpopcntdq")))

const bool has_lanes = hasCpu(cpu_avx2 | cpu_avx512f | cpu_avx512bw | cpu_avx512vbmi | cpu_avx512bitalg |
                              cpu_avx512vpopcntdq);

// What a group of 64 blocks comes to, by block.
struct Group {
  alignas(64) std::int16_t ones[64];
  alignas(64) std::int16_t up[64];
  alignas(64) std::int16_t down[64];
  alignas(64) std::int64_t flips[64];  // neighbours that differ
  alignas(64) std::int64_t first[64];
  alignas(64) std::int64_t last[64];
};

// Word t of blocks 8i .. 8i + 7 of the blocks of W words at p, as they
// lie in memory.
template <int W>
LUMBRA_LANES inline __m512i wordOf(const unsigned char* p, std::ptrdiff_t i, std::ptrdiff_t t) {
  const unsigned char* at = p + std::ptrdiff_t{64} * W * i + 8 * t;
  if constexpr (W == 1) {
    return _mm512_loadu_si512(at);
  } else {
    constexpr long long word = 8LL * W;  // bytes from one block to the next
    const __m512i apart = _mm512_set_epi64(7 * word, 6 * word, 5 * word, 4 * word, 3 * word, 2 * word, word, 0);
    return _mm512_i64gather_epi64(apart, at, 1);
  }
}

// Of a[0, 4), each holding in 128-bit lane L rows 2L (or 2L + 1) of two
// registers, those rows of all eight into rows[0], [2], [4], [6]: row r
// of rows[2j] from register r, the 64-bit row j' of it that a's lanes give.
LUMBRA_LANES inline void gatherRows(const __m512i* a, __m512i* rows) {
  const __m512i b0 = _mm512_shuffle_i64x2(a[0], a[1], 0x88), b1 = _mm512_shuffle_i64x2(a[0], a[1], 0xdd);
  const __m512i b2 = _mm512_shuffle_i64x2(a[2], a[3], 0x88), b3 = _mm512_shuffle_i64x2(a[2], a[3], 0xdd);
  rows[0] = _mm512_shuffle_i64x2(b0, b2, 0x88);
  rows[4] = _mm512_shuffle_i64x2(b0, b2, 0xdd);
  rows[2] = _mm512_shuffle_i64x2(b1, b3, 0x88);
  rows[6] = _mm512_shuffle_i64x2(b1, b3, 0xdd);
}

// The extremes of h of 32 lanes as distances into up and down: h / 2^shift
// rounded up where the line is truncated down (2k >= m), down where it falls.
template <int m, unsigned shift>
LUMBRA_LANES inline void distances(__m512i k, __m512i hi, __m512i lo, std::int16_t* up, std::int16_t* down) {
  const __m512i zero = _mm512_setzero_si512();
  const __mmask32 rising = _mm512_cmpge_epi16_mask(k, _mm512_set1_epi16(m / 2));
  const __m512i hiDown = _mm512_srai_epi16(hi, shift), loDown = _mm512_srai_epi16(lo, shift);
  const __m512i hiUp = _mm512_sub_epi16(zero, _mm512_srai_epi16(_mm512_sub_epi16(zero, hi), shift));
  const __m512i loUp = _mm512_sub_epi16(zero, _mm512_srai_epi16(_mm512_sub_epi16(zero, lo), shift));
  _mm512_store_si512(up, _mm512_mask_blend_epi16(rising, hiDown, hiUp));
  _mm512_store_si512(down, _mm512_sub_epi16(zero, _mm512_mask_blend_epi16(rising, loDown, loUp)));
}

// The 64 blocks of W words each at p, into out[0, 64). Block 8i + j is
// lane 8i + j throughout.
template <int W>
LUMBRA_LANES void measureGroup(const unsigned char* p, BlockShape* out) {
  constexpr int m = 64 * W;
  constexpr unsigned shift = W == 1 ? 5 : W == 2 ? 6 : 7;  // 2h / m = h / 2^shift
  static_assert(W == 1 || W == 2 || W == 4);
  alignas(64) static constexpr auto tables = [] {
    struct {
      std::uint8_t swap[64];       // each word's bytes reversed: its first bit on top
      std::uint8_t transpose[64];  // byte 8j + p of a register to 8p + j
    } t{};
    for (int b = 0; b < 64; ++b) {
      t.swap[b] = static_cast<std::uint8_t>((b % 16 < 8 ? 7 : 15) - b % 8);  // within its 16
      t.transpose[b] = static_cast<std::uint8_t>(8 * (b % 8) + b / 8);
    }
    return t;
  }();
  const __m512i swap = _mm512_load_si512(tables.swap);
  const __m512i transpose = _mm512_load_si512(tables.transpose);
  const __m512i zero = _mm512_setzero_si512();

  // The ones, the neighbours that differ (within each word, then across
  // each pair of words) and the end bits, 8 blocks a round.
  Group g;
  for (std::ptrdiff_t i = 0; i < 8; ++i) {
    __m512i ones = zero, flips = zero, first = zero, last = zero;
    for (std::ptrdiff_t t = 0; t < W; ++t) {
      const __m512i z = wordOf<W>(p, i, t);
      const __m512i be = _mm512_shuffle_epi8(z, swap);
      ones = _mm512_add_epi64(ones, _mm512_popcnt_epi64(z));
      const __m512i differ =
          _mm512_and_si512(_mm512_xor_si512(be, _mm512_srli_epi64(be, 1)), _mm512_set1_epi64(0x7fffffffffffffff));
      flips = _mm512_add_epi64(flips, _mm512_popcnt_epi64(differ));
      const __m512i top = _mm512_srli_epi64(be, 63);
      if (t == 0) first = top;
      else flips = _mm512_add_epi64(flips, _mm512_xor_si512(last, top));
      last = _mm512_and_si512(be, _mm512_set1_epi64(1));
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(g.ones + 8 * i), _mm512_cvtepi64_epi16(ones));
    _mm512_store_si512(g.flips + 8 * i, flips);
    _mm512_store_si512(g.first + 8 * i, first);
    _mm512_store_si512(g.last + 8 * i, last);
  }

  // The walks, a bit of every block a step: blocks 0..31 in the first
  // vector of h, 32..63 in the second.
  const __m512i k0 = _mm512_load_si512(g.ones), k1 = _mm512_load_si512(g.ones + 32);
  const __m512i size = _mm512_set1_epi16(m);
  const __m512i up0 = _mm512_sub_epi16(size, k0), up1 = _mm512_sub_epi16(size, k1);
  const __m512i down0 = _mm512_sub_epi16(zero, k0), down1 = _mm512_sub_epi16(zero, k1);
  __m512i h0 = zero, h1 = zero, hi0 = zero, hi1 = zero, lo0 = zero, lo1 = zero;
  for (std::ptrdiff_t t = 0; t < W; ++t) {
    // Byte b of bytes[p] is byte p of word t of block b: each word's bytes
    // spread over the rows (8 bytes to 8 rows in a register), then the
    // registers' rows gathered (an 8 x 8 transposition of 64-bit rows).
    __m512i y[8];
    for (std::ptrdiff_t i = 0; i < 8; ++i) y[i] = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, transpose, wordOf<W>(p, i, t));
    __m512i even[4], odd[4];
    for (std::size_t i = 0; i < 4; ++i) {
      even[i] = _mm512_unpacklo_epi64(y[2 * i], y[2 * i + 1]);
      odd[i] = _mm512_unpackhi_epi64(y[2 * i], y[2 * i + 1]);
    }
    __m512i bytes[8], oddRows[8];
    gatherRows(even, bytes);
    gatherRows(odd, oddRows);
    for (int r = 1; r < 8; r += 2) bytes[r] = oddRows[r - 1];
    for (__m512i b : bytes) {
      for (int q = 0; q < 8; ++q) {
        const __mmask64 bit = _mm512_movepi8_mask(b);  // bit q of each
        b = _mm512_add_epi8(b, b);
        h0 = _mm512_add_epi16(h0, _mm512_mask_blend_epi16(static_cast<__mmask32>(bit), down0, up0));
        h1 = _mm512_add_epi16(h1, _mm512_mask_blend_epi16(static_cast<__mmask32>(bit >> 32), down1, up1));
        hi0 = _mm512_max_epi16(hi0, h0);
        lo0 = _mm512_min_epi16(lo0, h0);
        hi1 = _mm512_max_epi16(hi1, h1);
        lo1 = _mm512_min_epi16(lo1, h1);
      }
    }
  }

  distances<m, shift>(k0, hi0, lo0, g.up, g.down);
  distances<m, shift>(k1, hi1, lo1, g.up + 32, g.down + 32);

  for (int b = 0; b < 64; ++b)
    out[b] = BlockShape{g.ones[b], g.up[b], g.down[b], static_cast<int>(g.flips[b]) + 1, 0,
                        static_cast<int>(g.first[b]), static_cast<int>(g.last[b])};
}

}  // namespace

bool laneSize(int n) { return has_lanes && (n == 64 || n == 128 || n == 256); }

std::size_t measureLanes(const unsigned char* bytes, int n, std::size_t count, BlockShape* out) {
  hard_assert(laneSize(n), "laneSize(n)");
  const std::size_t groups = count / 64, groupBytes = std::size_t{8} * static_cast<unsigned>(n);
  for (std::size_t i = 0; i < groups; ++i) {
    const unsigned char* at = bytes + i * groupBytes;
    BlockShape* to = out + 64 * i;
    if (n == 64) measureGroup<1>(at, to);
    else if (n == 128) measureGroup<2>(at, to);
    else measureGroup<4>(at, to);
  }
  return groups * 64;
}

#pragma GCC diagnostic pop

#else

bool laneSize(int) { return false; }

std::size_t measureLanes(const unsigned char*, int n, std::size_t, BlockShape*) {
  hard_assert(laneSize(n), "laneSize(n)");
  return 0;
}

#endif

}  // namespace lumbra
