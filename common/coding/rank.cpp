#include "coding/rank.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "exec/processor.h"

#if defined(LUMBRA_X86_64)
#include <immintrin.h>
#endif

#include "band/band_rows.h"
#include "band/center_line.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

// Limbs of C(m, k), a bound of every count in the table: a band point (x, y)
// leaves at most k ones and m - k zeros to the end, so its paths are at most
// C(a, b) with b <= k and a - b <= m - k.
std::size_t binomialLimbs(int m, int k) {
  mpz_t c;
  mpz_init(c);
  mpz_bin_uiui(c, static_cast<unsigned long>(m), static_cast<unsigned long>(k));
  const std::size_t n = std::max<std::size_t>(1, mpz_size(c));
  mpz_clear(c);
  return n;
}

// The band of Trian(m, k, d), row by row (see band/band_rows.h).
void bandRows(int m, int k, int d, std::vector<std::int32_t>& lo, std::vector<std::int32_t>& hi) {
  lo.resize(static_cast<std::size_t>(m) + 1);
  hi.resize(static_cast<std::size_t>(m) + 1);
  const Band band(m, k, d, d);
  CenterLine line(m, k);
  for (int x = 0; x <= m; ++x, line.next()) {
    const BandRow r = band.row(x, line.value());
    lo[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(r.lo);
    hi[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(r.hi);
  }
}

// Whether the band is its own mirror image about the height 0 and ends at
// 0, so that S(x, y) = S(x, -y); if so, lo is raised to the heights kept,
// y >= 0 (0 or 1 by the parity of x).
bool keepUpperHalf(int m, int k, std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi) {
  if (2 * std::int64_t{k} != m || !std::equal(lo.begin(), lo.end(), hi.begin(), [](std::int32_t a, std::int32_t b) {
        return a == -b;
      }))
    return false;
  for (std::size_t x = 0; x < lo.size(); ++x) lo[x] = std::max<std::int32_t>(lo[x], static_cast<std::int32_t>(x & 1));
  return true;
}

std::size_t cellCount(std::int32_t lo, std::int32_t hi) {
  return lo > hi ? 0 : static_cast<std::size_t>((hi - lo) / 2 + 1);
}

// The width bound of row x: its counts are at most 2^(m - x) and C(m, k).
std::size_t widthBound(int m, int x, std::size_t binLimbs) {
  return std::min(binLimbs, static_cast<std::size_t>(m - x) / GMP_NUMB_BITS + 1);
}

// The limbs row x may take: its cells and the zero count on either side.
std::size_t rowLimbsBound(int m, int x, std::size_t cells, std::size_t binLimbs) {
  return (cells + 2) * widthBound(m, x, binLimbs);
}

// NOTE: the counts a rank adds are summed limb by limb in 128-bit columns,
// and unrank compares and subtracts counts of a few limbs in registers: per
// bit a GMP call costs more than the arithmetic itself.
using Wide = detail::WideLimb;

// q -= c if q >= c, both W limbs: whether it did. No branch: the subtraction
// is made either way and kept or dropped by a mask.
template <int W>
inline bool subtractIfNotLess(mp_limb_t* q, const mp_limb_t* c) {
  mp_limb_t d[W];
#if defined(LUMBRA_X86_64)
  unsigned char borrow = 0;
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) {
    unsigned long long v;
    borrow = _subborrow_u64(borrow, q[i], c[i], &v);
    d[i] = v;
  }
#else
  mp_limb_t borrow = 0;
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) {
    const Wide v = Wide{q[i]} - c[i] - borrow;
    d[i] = static_cast<mp_limb_t>(v);
    borrow = static_cast<mp_limb_t>(v >> 64) & 1;
  }
#endif
  const mp_limb_t keep = mp_limb_t{borrow} - 1;
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) q[i] ^= (q[i] ^ d[i]) & keep;
  return borrow == 0;
}

#if defined(LUMBRA_X86_64)
// NOTE: the widths of the words lumbra-kit shapes most (up to 256 bits) in
// assembly, q in memory: with the intrinsics above the compiler stored each
// limb of the difference and selected with vector masks, and these steps
// are most of the time of shape (at N = 256, D = 4, 8 MiB: 0.23 s -> 0.16 s
// with the walk's state in locals).
// A 0 or 1 from a flag, so known to the compiler.
inline bool settled(std::uint64_t one) {
  if (one > 1) __builtin_unreachable();
  return one != 0;
}
template <>
inline bool subtractIfNotLess<1>(mp_limb_t* q, const mp_limb_t* c) {
  mp_limb_t t[1];
  std::uint64_t one;
  asm("xor %k[one], %k[one]\n\t"
      "mov %[q0], %[t0]\n\t"
      "sub %[c0], %[t0]\n\t"
      "cmovb %[q0], %[t0]\n\t"
      "mov %[t0], %[q0]\n\t"
      "setae %b[one]"
      : [q0] "+m"(q[0]), [t0] "=&r"(t[0]), [one] "=&r"(one)
      : [c0] "m"(c[0])
      : "cc");
  return settled(one);
}
template <>
inline bool subtractIfNotLess<2>(mp_limb_t* q, const mp_limb_t* c) {
  mp_limb_t t[2];
  std::uint64_t one;
  asm("xor %k[one], %k[one]\n\t"
      "mov %[q0], %[t0]\n\t"
      "sub %[c0], %[t0]\n\t"
      "mov %[q1], %[t1]\n\t"
      "sbb %[c1], %[t1]\n\t"
      "cmovb %[q0], %[t0]\n\t"
      "mov %[t0], %[q0]\n\t"
      "cmovb %[q1], %[t1]\n\t"
      "mov %[t1], %[q1]\n\t"
      "setae %b[one]"
      : [q0] "+m"(q[0]), [q1] "+m"(q[1]), [t0] "=&r"(t[0]), [t1] "=&r"(t[1]), [one] "=&r"(one)
      : [c0] "m"(c[0]), [c1] "m"(c[1])
      : "cc");
  return settled(one);
}
template <>
inline bool subtractIfNotLess<3>(mp_limb_t* q, const mp_limb_t* c) {
  mp_limb_t t[3];
  std::uint64_t one;
  asm("xor %k[one], %k[one]\n\t"
      "mov %[q0], %[t0]\n\t"
      "sub %[c0], %[t0]\n\t"
      "mov %[q1], %[t1]\n\t"
      "sbb %[c1], %[t1]\n\t"
      "mov %[q2], %[t2]\n\t"
      "sbb %[c2], %[t2]\n\t"
      "cmovb %[q0], %[t0]\n\t"
      "mov %[t0], %[q0]\n\t"
      "cmovb %[q1], %[t1]\n\t"
      "mov %[t1], %[q1]\n\t"
      "cmovb %[q2], %[t2]\n\t"
      "mov %[t2], %[q2]\n\t"
      "setae %b[one]"
      : [q0] "+m"(q[0]), [q1] "+m"(q[1]), [q2] "+m"(q[2]), [t0] "=&r"(t[0]), [t1] "=&r"(t[1]), [t2] "=&r"(t[2]), [one] "=&r"(one)
      : [c0] "m"(c[0]), [c1] "m"(c[1]), [c2] "m"(c[2])
      : "cc");
  return settled(one);
}
template <>
inline bool subtractIfNotLess<4>(mp_limb_t* q, const mp_limb_t* c) {
  mp_limb_t t[4];
  std::uint64_t one;
  asm("xor %k[one], %k[one]\n\t"
      "mov %[q0], %[t0]\n\t"
      "sub %[c0], %[t0]\n\t"
      "mov %[q1], %[t1]\n\t"
      "sbb %[c1], %[t1]\n\t"
      "mov %[q2], %[t2]\n\t"
      "sbb %[c2], %[t2]\n\t"
      "mov %[q3], %[t3]\n\t"
      "sbb %[c3], %[t3]\n\t"
      "cmovb %[q0], %[t0]\n\t"
      "mov %[t0], %[q0]\n\t"
      "cmovb %[q1], %[t1]\n\t"
      "mov %[t1], %[q1]\n\t"
      "cmovb %[q2], %[t2]\n\t"
      "mov %[t2], %[q2]\n\t"
      "cmovb %[q3], %[t3]\n\t"
      "mov %[t3], %[q3]\n\t"
      "setae %b[one]"
      : [q0] "+m"(q[0]), [q1] "+m"(q[1]), [q2] "+m"(q[2]), [q3] "+m"(q[3]), [t0] "=&r"(t[0]), [t1] "=&r"(t[1]), [t2] "=&r"(t[2]), [t3] "=&r"(t[3]), [one] "=&r"(one)
      : [c0] "m"(c[0]), [c1] "m"(c[1]), [c2] "m"(c[2]), [c3] "m"(c[3])
      : "cc");
  return settled(one);
}
#endif

// A block's bits as 64-bit words, the first bit the most significant of
// words[0]; bits past the block's end are zero.
constexpr int word_bits = 64;

// Room for the words of m bits, and one after them that a byte at the end
// may spill into.
std::size_t wordCount(int m) { return static_cast<std::size_t>(m) / word_bits + 2; }

// The m bits from bit `bit` (0..7) of bytes[0] on, into words.
void packBits(const unsigned char* bytes, int bit, int m, std::uint64_t* words) {
  std::fill(words, words + wordCount(m), std::uint64_t{0});
  const int nbytes = (bit + m + 7) / 8;
  for (int i = 0; i < nbytes; ++i) {
    // Byte i holds block bits 8i - bit .. 8i - bit + 7.
    const int x = 8 * i - bit;
    const std::uint64_t b = bytes[i];
    if (x < 0) {
      words[0] |= b << (word_bits - 8 - x);
    } else {
      const int s = x % word_bits;
      const std::size_t w = static_cast<std::size_t>(x / word_bits);
      words[w] |= s <= word_bits - 8 ? b << (word_bits - 8 - s) : b >> (s - (word_bits - 8));
      if (s > word_bits - 8) words[w + 1] |= b << (2 * word_bits - 8 - s);
    }
  }
  // Clear what follows the block.
  const int tailBits = m % word_bits;
  words[static_cast<std::size_t>(m / word_bits)] &= tailBits == 0 ? 0 : ~std::uint64_t{0} << (word_bits - tailBits);
  words[static_cast<std::size_t>(m / word_bits) + 1] = 0;
}

// Or-s the m bits of words into bytes from bit `bit` (0..7) of bytes[0] on.
void unpackBits(const std::uint64_t* words, int m, unsigned char* bytes, int bit) {
  const int nbytes = (bit + m + 7) / 8;
  for (int i = 0; i < nbytes; ++i) {
    const int x = 8 * i - bit;
    std::uint64_t b;
    if (x < 0) {
      b = words[0] >> (word_bits - 8 - x);
    } else {
      const int s = x % word_bits;
      const std::size_t w = static_cast<std::size_t>(x / word_bits);
      b = words[w] << s >> (word_bits - 8);
      if (s > word_bits - 8) b |= words[w + 1] >> (2 * word_bits - 8 - s);
    }
    bytes[i] |= static_cast<unsigned char>(b);
  }
}

bool bitAt(const std::uint64_t* words, int x) {
  const auto ux = static_cast<unsigned>(x);
  return ((words[ux / word_bits] >> (word_bits - 1 - ux % word_bits)) & 1) != 0;
}

// acc += c, c W limbs, acc W + 1 limbs, the sum below 2^(64 (W + 1)).
template <int W>
inline void addInto(mp_limb_t* acc, const mp_limb_t* c) {
#if defined(LUMBRA_X86_64)
  unsigned char carry = 0;
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) {
    unsigned long long v;
    carry = _addcarry_u64(carry, acc[i], c[i], &v);
    acc[i] = v;
  }
#else
  mp_limb_t carry = 0;
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) {
    const Wide v = Wide{acc[i]} + c[i] + carry;
    acc[i] = static_cast<mp_limb_t>(v);
    carry = static_cast<mp_limb_t>(v >> 64);
  }
#endif
  acc[W] += carry;
}

// acc += c, c W <= 4 limbs, the sum below 2^(64 (W + 1)) (acc's limbs
// from W + 1 on stay zero). NOTE: five scalars, not an array: the compiler
// keeps those in registers over a walk and stored an array's limbs at
// every step.
struct Acc {
  mp_limb_t a0 = 0, a1 = 0, a2 = 0, a3 = 0, a4 = 0;
};
template <int W>
inline void addInto(Acc& acc, const mp_limb_t* c) {
  static_assert(W >= 1 && W <= 4);
  mp_limb_t a[5] = {acc.a0, acc.a1, acc.a2, acc.a3, acc.a4};
  addInto<W>(a, c);
  acc = {a[0], a[1], a[2], a[3], a[4]};
}
#if defined(LUMBRA_X86_64)
template <>
inline void addInto<1>(Acc& acc, const mp_limb_t* c) {
  auto& [a0, a1, a2, a3, a4] = acc;
  asm("add %[c0], %[a0]\n\t"
      "adc $0, %[a1]"
      : [a0] "+r"(a0), [a1] "+r"(a1)
      : [c0] "m"(c[0])
      : "cc");
}
template <>
inline void addInto<2>(Acc& acc, const mp_limb_t* c) {
  auto& [a0, a1, a2, a3, a4] = acc;
  asm("add %[c0], %[a0]\n\t"
      "adc %[c1], %[a1]\n\t"
      "adc $0, %[a2]"
      : [a0] "+r"(a0), [a1] "+r"(a1), [a2] "+r"(a2)
      : [c0] "m"(c[0]), [c1] "m"(c[1])
      : "cc");
}
template <>
inline void addInto<3>(Acc& acc, const mp_limb_t* c) {
  auto& [a0, a1, a2, a3, a4] = acc;
  asm("add %[c0], %[a0]\n\t"
      "adc %[c1], %[a1]\n\t"
      "adc %[c2], %[a2]\n\t"
      "adc $0, %[a3]"
      : [a0] "+r"(a0), [a1] "+r"(a1), [a2] "+r"(a2), [a3] "+r"(a3)
      : [c0] "m"(c[0]), [c1] "m"(c[1]), [c2] "m"(c[2])
      : "cc");
}
template <>
inline void addInto<4>(Acc& acc, const mp_limb_t* c) {
  auto& [a0, a1, a2, a3, a4] = acc;
  asm("add %[c0], %[a0]\n\t"
      "adc %[c1], %[a1]\n\t"
      "adc %[c2], %[a2]\n\t"
      "adc %[c3], %[a3]\n\t"
      "adc $0, %[a4]"
      : [a0] "+r"(a0), [a1] "+r"(a1), [a2] "+r"(a2), [a3] "+r"(a3), [a4] "+r"(a4)
      : [c0] "m"(c[0]), [c1] "m"(c[1]), [c2] "m"(c[2]), [c3] "m"(c[3])
      : "cc");
}
#endif

// One step of unrank in GMP, for any width: whether r >= c (w limbs), r
// spanning `span` limbs; if so r -= c.
bool stepAny(mp_limb_t* r, const mp_limb_t* c, std::size_t w, std::size_t span) {
  // r >= c when r - c does not borrow; then r becomes the difference.
  const bool one = std::any_of(r + w, r + span, [](mp_limb_t v) { return v != 0; }) ||
                   mpn_cmp(r, c, static_cast<mp_size_t>(w)) >= 0;
  if (one) mpn_sub(r, r, static_cast<mp_size_t>(span), c, static_cast<mp_size_t>(w));
  return one;
}

}  // namespace

std::size_t SuffixCounts::estimateBytes(int m, int k, int d) {
  std::vector<std::int32_t> lo, hi;
  bandRows(m, k, d, lo, hi);
  keepUpperHalf(m, k, lo, hi);
  const std::size_t bin = binomialLimbs(m, k);
  std::size_t limbs = 0;
  for (int x = 0; x <= m; ++x)
    limbs += rowLimbsBound(m, x, cellCount(lo[static_cast<std::size_t>(x)], hi[static_cast<std::size_t>(x)]), bin);
  return limbs * sizeof(mp_limb_t) + (static_cast<std::size_t>(m) + 1) * sizeof(Row) +
         static_cast<std::size_t>(m) * sizeof(Run);
}

SuffixCounts::SuffixCounts(int m, int k, int d, std::vector<mp_limb_t> storage)
    : m_(m), k_(k), d_(d), limbs_(std::move(storage)) {
  hard_assert(m>0, "m>0");
  hard_assert(m <= 2147483646, "m<=2147483646");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  hard_assert(d >= 0 && d <= m, "d>=0&&d<=m");
  std::vector<std::int32_t> lo, hi;
  bandRows(m, k, d, lo, hi);
  half_ = keepUpperHalf(m, k, lo, hi);
  const std::size_t rows = static_cast<std::size_t>(m) + 1;
  rows_.resize(rows);
  const std::size_t bin = binomialLimbs(m, k);
  std::size_t total = 0;
  for (std::size_t x = 0; x < rows; ++x) {
    const std::size_t cells = cellCount(lo[x], hi[x]);
    // The ones before height lo at x: (lo + x) / 2 (lo has x's parity).
    const std::int64_t olo = cells > 0 ? (lo[x] + static_cast<std::int64_t>(x)) / 2 : 0;
    rows_[x] = Row{olo - 1, olo + static_cast<std::int64_t>(cells), 0, 1};
    total += rowLimbsBound(m, static_cast<int>(x), cells, bin);
  }
  // NOTE: reserved once at the bound, so rows are appended without moving
  // the ones made before and the table never takes more than estimateBytes.
  // Storage handed in is kept when it holds the bound and is not more than
  // twice what the table needs; otherwise it goes.
  limbs_.clear();
  if (limbs_.capacity() < total || limbs_.capacity() > 2 * total) std::vector<mp_limb_t>().swap(limbs_);
  limbs_.reserve(total);

  // The end point: one path (it is in every band).
  Row& endRow = rows_[static_cast<std::size_t>(m)];
  endRow.origin = -endRow.first;
  limbs_.assign(static_cast<std::size_t>(endRow.last - endRow.first + 1), 0);
  if (endRow.last - endRow.first == 2) limbs_[1] = 1;
  for (int x = m - 1; x >= 0; --x) {
    const std::size_t ux = static_cast<std::size_t>(x);
    Row& row = rows_[ux];
    const Row& next = rows_[ux + 1];
    const std::size_t counts = static_cast<std::size_t>(row.last - row.first + 1);
    const std::size_t nw = static_cast<std::size_t>(next.width);
    // Room for a carry, within the row's bound.
    const std::size_t room = std::min(nw + 1, widthBound(m, x, bin));
    const std::size_t base = limbs_.size();
    limbs_.resize(base + counts * room, 0);
    mp_limb_t* p = limbs_.data() + base;
    std::size_t used = 1;
    for (std::int64_t o = row.first + 1; o < row.last; ++o) {
      mp_limb_t* c = p + static_cast<std::size_t>(o - row.first) * room;
      // Out of the next row's band, cell() reads one of its zero counts.
      const mp_limb_t carry = mpn_add_n(c, cell(next, x + 1, o), cell(next, x + 1, o + 1), static_cast<mp_size_t>(nw));
      if (nw < room) c[nw] = carry;
      else hard_assert(carry == 0, "carry==0");
      std::size_t w = room;
      while (w > 1 && c[w - 1] == 0) --w;
      used = std::max(used, w);
    }
    // Down to the width the row needs.
    if (used < room) {
      for (std::size_t i = 1; i < counts; ++i) std::memmove(p + i * used, p + i * room, used * sizeof(mp_limb_t));
      limbs_.resize(base + counts * used);
    }
    row.width = static_cast<std::int32_t>(used);
    row.origin = static_cast<std::ptrdiff_t>(base) - static_cast<std::ptrdiff_t>(row.first) * row.width;
  }
  if (limbs_.capacity() > 2 * limbs_.size()) limbs_.shrink_to_fit();
  for (const Row& r : rows_) maxWidth_ = std::max(maxWidth_, static_cast<std::size_t>(r.width));
  for (int x = 0; x < m;) {
    const std::int32_t w = rows_[static_cast<std::size_t>(x) + 1].width;
    int end = x + 1;
    while (end < m && rows_[static_cast<std::size_t>(end) + 1].width == w) ++end;
    runs_.push_back({x, end, w});
    x = end;
  }
  runs_.shrink_to_fit();
}

std::size_t SuffixCounts::bytes() const {
  return limbs_.capacity() * sizeof(mp_limb_t) + rows_.capacity() * sizeof(Row) + runs_.capacity() * sizeof(Run);
}

void SuffixCounts::prefetch() const {
  const char* p = reinterpret_cast<const char*>(limbs_.data());
  const char* end = p + limbs_.size() * sizeof(mp_limb_t);
  for (; p < end; p += 64) __builtin_prefetch(p);
}

void SuffixCounts::total(mpz_ptr c) const {
  const Row& r = rows_[0];
  mpz_import(c, static_cast<std::size_t>(r.width), -1, sizeof(mp_limb_t), 0, 0, cell(r, 0, 0));
}

void SuffixCounts::count(int x, std::int64_t o, mpz_ptr c) const {
  hard_assert(x >= 0 && x <= m_, "x>=0&&x<=m_");
  const Row& r = rows_[static_cast<std::size_t>(x)];
  if (o < 0 || o > x || !(half_ ? inside<true>(r, x, o) : inside<false>(r, x, o))) {
    mpz_set_ui(c, 0);
    return;
  }
  mpz_import(c, static_cast<std::size_t>(r.width), -1, sizeof(mp_limb_t), 0, 0, cell(r, x, o));
}

void SuffixCounts::rank(const std::vector<bool>& vb, mpz_ptr index) const {
  hard_assert(vb.size() == static_cast<std::size_t>(m_), "vb.size()==static_cast<std::size_t>(m_)");
  Words words(wordCount(m_));
  std::fill(words.begin(), words.end(), std::uint64_t{0});
  for (int x = 0; x < m_; ++x)
    words[static_cast<std::size_t>(x / word_bits)] |=
        std::uint64_t{vb[static_cast<std::size_t>(x)]} << (word_bits - 1 - x % word_bits);
  rankWords(words.data(), index);
}

void SuffixCounts::rank(const unsigned char* bytes, int bit, mpz_ptr index) const {
  hard_assert(bit >= 0 && bit < 8, "bit>=0&&bit<8");
  Words words(wordCount(m_));
  packBits(bytes, bit, m_, words.data());
  rankWords(words.data(), index);
}

void SuffixCounts::rankWords(const std::uint64_t* words, mpz_ptr index) const {
  // Every block that has a zero where this one has a one, and the same bits
  // before, is smaller: the count of (x + 1, o) of them. The counts are
  // summed limb by limb in 128-bit columns (m < 2^31 limbs of 64 bits fit
  // without a carry) and the carries taken at the end; a zero bit adds the
  // row's zero count, so the bits cause no branch.
  const std::size_t n = maxWidth_ + 1;
  Limbs<Wide> col(n);
  std::fill(col.begin(), col.end(), Wide{0});
  std::int64_t o = 0;
  bool outside = false;
  const Row* const rows = rows_.data();
  const mp_limb_t* const limbs = limbs_.data();
  forEachRun([&]<int W, bool Half>(int x, int end, int w) {
    // NOTE: W > 0 sums in registers, W + 1 limbs (at most 2^31 counts of W
    // limbs); otherwise in memory, w limbs a count. The walk's state is
    // local too, so that the compiler keeps it in registers.
    // At most four limbs in scalars (Acc), more in an array.
    std::conditional_t<(W > 0 && W <= 4), Acc, mp_limb_t[W + 1]> acc{};
    // The block's bits from x on, the next the most significant.
    std::uint64_t ahead = words[static_cast<std::size_t>(x / word_bits)] << (x % word_bits);
    std::int64_t ones = o;
    bool out = false;
    for (; x < end; ++x) {
      if (x % word_bits == 0) ahead = words[static_cast<std::size_t>(x / word_bits)];
      const std::int64_t one = static_cast<std::int64_t>(ahead >> (word_bits - 1));
      ahead <<= 1;
      const Row& r = rows[static_cast<std::size_t>(x) + 1];
      // NOTE: a mask, not a choice: a compiler turns the choice into a
      // branch, which random bits mispredict every other step.
      const std::int64_t at = r.first + ((slot<Half>(r, x + 1, ones) - r.first) & -one);
      const mp_limb_t* c = limbs + (r.origin + at * (W > 0 ? W : w));
      if constexpr (W > 0) {
        addInto<W>(acc, c);
      } else {
        for (int i = 0; i < w; ++i) col[static_cast<std::size_t>(i)] += c[i];
      }
      ones += one;
      out |= !inside<Half>(r, x + 1, ones);
    }
    o = ones;
    outside |= out;
    if constexpr (W > 0 && W <= 4) {
      const mp_limb_t sum[] = {acc.a0, acc.a1, acc.a2, acc.a3, acc.a4};
      for (int i = 0; i <= W; ++i) col[static_cast<std::size_t>(i)] += sum[i];
    } else if constexpr (W > 0) {
      for (int i = 0; i <= W; ++i) col[static_cast<std::size_t>(i)] += acc[i];
    }
  });
  // A walk that left the band has missed counts on the way, and one with
  // other than k ones ends elsewhere: neither has an index here.
  if (outside || o != k_)
    throw BlockOutsideBand("a block outside the band of (" + std::to_string(m_) + ", " + std::to_string(k_) + ", " +
                           std::to_string(d_) + ") has no index there");
  detail::setFromColumns(col.data(), n, index);
}

void detail::setFromColumns(const WideLimb* col, std::size_t n, mpz_ptr index) {
  mp_limb_t* sum = mpz_limbs_write(index, static_cast<mp_size_t>(n) + 1);
  WideLimb carry = 0;
  for (std::size_t i = 0; i < n; ++i) {
    carry += col[i];
    sum[i] = static_cast<mp_limb_t>(carry);
    carry >>= 64;
  }
  sum[n] = static_cast<mp_limb_t>(carry);
  mp_size_t used = static_cast<mp_size_t>(n) + 1;
  while (used > 0 && sum[used - 1] == 0) --used;
  mpz_limbs_finish(index, used);
}

template <class F>
void SuffixCounts::forEachRun(F f) const {
  const auto runs = [&]<bool Half>() {
    for (const Run& run : runs_) {
      switch (run.width) {
        case 1: f.template operator()<1, Half>(run.first, run.end, 1); break;
        case 2: f.template operator()<2, Half>(run.first, run.end, 2); break;
        case 3: f.template operator()<3, Half>(run.first, run.end, 3); break;
        case 4: f.template operator()<4, Half>(run.first, run.end, 4); break;
        case 5: f.template operator()<5, Half>(run.first, run.end, 5); break;
        case 6: f.template operator()<6, Half>(run.first, run.end, 6); break;
        default: f.template operator()<0, Half>(run.first, run.end, run.width); break;
      }
    }
  };
  if (half_) runs.template operator()<true>();
  else runs.template operator()<false>();
}

void SuffixCounts::unrank(mpz_srcptr index, std::vector<bool>& vb) const {
  Words words(wordCount(m_));
  unrankLanes<1>(&index, &words);
  vb.resize(static_cast<std::size_t>(m_));
  for (int x = 0; x < m_; ++x) vb[static_cast<std::size_t>(x)] = bitAt(words.data(), x);
}

void SuffixCounts::unrank(mpz_srcptr index, unsigned char* bytes, int bit) const {
  const BitPlace place{bytes, bit};
  unrank(std::span<const mpz_srcptr>(&index, 1), std::span<const BitPlace>(&place, 1));
}

void SuffixCounts::unrank(std::span<const mpz_srcptr> indexes, std::span<const BitPlace> places) const {
  hard_assert(indexes.size() == places.size(), "indexes.size()==places.size()");
  for (const BitPlace& p : places) hard_assert(p.bit >= 0 && p.bit < 8, "p.bit>=0&&p.bit<8");
  // NOTE: four walks at once: each step of a walk waits for the count it
  // reads and the comparison that picks the next, and the processor
  // overlaps the steps of independent walks.
  constexpr int lanes = 4;
  Words words[lanes];
  for (Words& w : words) w.resize(wordCount(m_));
  std::size_t i = 0;
  for (; i < indexes.size(); i += lanes) {
    const std::size_t count = std::min<std::size_t>(lanes, indexes.size() - i);
    if (count == lanes) {
      unrankLanes<lanes>(&indexes[i], words);
    } else if (count == 1) {
      unrankLanes<1>(&indexes[i], words);
    } else {
      // Two or three left: four abreast still, the last one repeated.
      mpz_srcptr rest[lanes];
      for (std::size_t l = 0; l < lanes; ++l) rest[l] = indexes[i + std::min(l, count - 1)];
      unrankLanes<lanes>(rest, words);
    }
    for (std::size_t l = 0; l < count; ++l) unpackBits(words[l].data(), m_, places[i + l].bytes, places[i + l].bit);
  }
}

template <int L>
void SuffixCounts::unrankLanes(const mpz_srcptr* index, Words* bits) const {
  const std::size_t n = maxWidth_;
  Limbs<mp_limb_t> r[L];
  for (int l = 0; l < L; ++l) {
    hard_assert(mpz_sgn(index[l]) >= 0, "mpz_sgn(index[l])>=0");
    hard_assert(mpz_size(index[l]) <= n, "mpz_size(index[l])<=n");
    r[l].resize(n);
    std::fill(r[l].begin(), r[l].end(), mp_limb_t{0});
    std::copy_n(mpz_limbs_read(index[l]), mpz_size(index[l]), r[l].data());
    std::fill(bits[l].begin(), bits[l].end(), std::uint64_t{0});
  }
  // The walk keeps r < S(x, o), so it never leaves the band, and r has no
  // limb set from row x's width on. A zero leads to (x + 1, o): the first
  // S(x + 1, o) indexes; a one subtracts them. The bit picks no branch: on
  // random indexes it is a coin toss, which a branch would mispredict.
  std::int64_t o[L] = {};
  const auto step = [&](int l, int x, bool one) {
    bits[l][static_cast<std::size_t>(x / word_bits)] |= std::uint64_t{one} << (word_bits - 1 - x % word_bits);
    o[l] += one ? 1 : 0;
  };
  forEachRun([&]<int W, bool Half>(int x, int end, int w) {
    // Row x may be a limb wider than the rows after it: its step in general.
    const std::size_t span = static_cast<std::size_t>(rows_[static_cast<std::size_t>(x)].width);
    if (span > static_cast<std::size_t>(w)) {
      const Row& next = rows_[static_cast<std::size_t>(x) + 1];
      for (int l = 0; l < L; ++l) step(l, x, stepAny(r[l].data(), cell(next, x + 1, o[l]), static_cast<std::size_t>(w), span));
      ++x;
    }
    if constexpr (W > 0) {
      // NOTE: the remainders on the stack, W limbs each (the steps of
      // widths 1 to 4 read and write them there: four lanes of four limbs
      // do not fit the registers, and the compiler's spills cost more), the
      // lanes' ones and the bits of the word in progress in registers,
      // shifted in one at a time (right-aligned) and stored when the word
      // is full and at the end of the run.
      mp_limb_t q[L][W];
      std::uint64_t word[L];
      std::int64_t ones[L];
      const int held = x % word_bits;
      for (int l = 0; l < L; ++l) {
        std::copy(r[l].data(), r[l].data() + W, q[l]);
        ones[l] = o[l];
        word[l] = held == 0 ? 0 : bits[l][static_cast<std::size_t>(x / word_bits)] >> (word_bits - held);
      }
      const mp_limb_t* const base = limbs_.data();
      for (; x < end; ++x) {
        // A copy, so that its fields stay in registers over the stores.
        const Row next = rows_[static_cast<std::size_t>(x) + 1];
        const mp_limb_t* const row = base + next.origin;
        for (int l = 0; l < L; ++l) {
          const mp_limb_t* c = row + slot<Half>(next, x + 1, ones[l]) * W;
          const std::uint64_t one = subtractIfNotLess<W>(q[l], c) ? 1 : 0;
          word[l] = word[l] << 1 | one;
          ones[l] += static_cast<std::int64_t>(one);
        }
        if (x % word_bits == word_bits - 1)
          for (int l = 0; l < L; ++l) bits[l][static_cast<std::size_t>(x / word_bits)] = std::exchange(word[l], 0);
      }
      if (const int left = x % word_bits; left != 0)
        for (int l = 0; l < L; ++l) bits[l][static_cast<std::size_t>(x / word_bits)] = word[l] << (word_bits - left);
      for (int l = 0; l < L; ++l) {
        std::copy(q[l], q[l] + W, r[l].data());
        o[l] = ones[l];
      }
    } else {
      for (; x < end; ++x) {
        const Row& next = rows_[static_cast<std::size_t>(x) + 1];
        for (int l = 0; l < L; ++l)
          step(l, x, stepAny(r[l].data(), cell(next, x + 1, o[l]), static_cast<std::size_t>(w), static_cast<std::size_t>(w)));
      }
    }
  });
  for (int l = 0; l < L; ++l) {
    hard_assert(o[l] == k_, "o[l]==k_");
    hard_assert(std::all_of(r[l].begin(), r[l].end(), [](mp_limb_t v) { return v == 0; }),
                "std::all_of(r[l].begin(),r[l].end(),[](mp_limb_t v){return v==0;})");
  }
}

std::size_t SuffixCache::KeyHash::operator()(const Key& key) const noexcept {
  std::uint64_t h = static_cast<std::uint32_t>(key.m);
  h = h * 0x9E3779B97F4A7C15ull + static_cast<std::uint32_t>(key.k);
  h = h * 0x9E3779B97F4A7C15ull + static_cast<std::uint32_t>(key.d);
  return static_cast<std::size_t>(h ^ (h >> 29));
}

std::shared_ptr<const SuffixCounts> SuffixCache::get(int m, int k, int d) {
  const Key key{m, k, d};
  if (auto it = index_.find(key); it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
  }
  const std::size_t need = SuffixCounts::estimateBytes(m, k, d);
  if (need > max_) return nullptr;
  // Room first; the storage of a table let go that no caller holds any more
  // is kept for the new one when the cache has room for it.
  std::vector<mp_limb_t> spare;
  while (used_ + need > max_ && !lru_.empty()) {
    std::vector<mp_limb_t> storage = dropOldest();
    if (storage.capacity() > spare.capacity()) spare.swap(storage);
  }
  if (used_ + spare.capacity() * sizeof(mp_limb_t) > max_) spare = {};
  auto table = std::make_shared<SuffixCounts>(m, k, d, std::move(spare));
  const std::size_t size = table->bytes();
  while (used_ + size > max_ && !lru_.empty()) dropOldest();
  lru_.emplace_front(key, table);
  index_.emplace(key, lru_.begin());
  used_ += size;
  return table;
}

std::vector<mp_limb_t> SuffixCache::dropOldest() {
  std::shared_ptr<SuffixCounts>& oldest = lru_.back().second;
  used_ -= oldest->bytes();
  std::vector<mp_limb_t> storage;
  if (oldest.use_count() == 1) storage = std::move(*oldest).releaseStorage();
  index_.erase(lru_.back().first);
  lru_.pop_back();
  return storage;
}

}  // namespace lumbra
