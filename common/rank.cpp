#include "rank.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "kova/hard_assert.h"
#include "trian.h"

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

// The band of Trian(m, k, d): heights of the parity of x within d of L(x),
// within -x..x and within m - x steps of the end point 2k - m.
void bandRows(int m, int k, int d, std::vector<std::int32_t>& lo, std::vector<std::int32_t>& hi) {
  lo.resize(static_cast<std::size_t>(m) + 1);
  hi.resize(static_cast<std::size_t>(m) + 1);
  CenterLineCursor line(m, k);
  const std::int64_t e = 2 * std::int64_t{k} - m;
  for (int x = 0; x <= m; ++x, line.next()) {
    const std::int64_t r = m - x;
    std::int64_t a = std::max<std::int64_t>({-x, std::int64_t{line.value()} - d, e - r});
    std::int64_t b = std::min<std::int64_t>({x, std::int64_t{line.value()} + d, e + r});
    a += (a ^ x) & 1;
    b -= (b ^ x) & 1;
    lo[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(a);
    hi[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(b);
  }
}

std::size_t cellCount(std::int32_t lo, std::int32_t hi) {
  return lo > hi ? 0 : static_cast<std::size_t>((hi - lo) / 2 + 1);
}

// The width bound of row x: its counts are at most 2^(m - x) and C(m, k).
std::size_t widthBound(int m, int x, std::size_t binLimbs) {
  return std::min(binLimbs, static_cast<std::size_t>(m - x) / GMP_NUMB_BITS + 1);
}

// NOTE: counts below 2^128 are added and compared as native 128-bit
// integers: per bit a GMP call costs more than the arithmetic itself.
__extension__ using Narrow = unsigned __int128;

Narrow narrowOf(const mp_limb_t* p, std::int32_t width) {
  return Narrow{p[0]} | (width > 1 ? Narrow{p[1]} << 64 : Narrow{0});
}

}  // namespace

std::size_t SuffixCounts::estimateBytes(int m, int k, int d) {
  std::vector<std::int32_t> lo, hi;
  bandRows(m, k, d, lo, hi);
  const std::size_t bin = binomialLimbs(m, k);
  std::size_t limbs = 0;
  for (int x = 0; x <= m; ++x) limbs += cellCount(lo[static_cast<std::size_t>(x)], hi[static_cast<std::size_t>(x)]) * widthBound(m, x, bin);
  return limbs * sizeof(mp_limb_t) + (static_cast<std::size_t>(m) + 1) * sizeof(Row);
}

SuffixCounts::SuffixCounts(int m, int k, int d) : m_(m), k_(k), d_(d) {
  hard_assert(m>0, "m>0");
  hard_assert(m <= 2147483646, "m<=2147483646");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  hard_assert(d >= 0 && d <= m, "d>=0&&d<=m");
  std::vector<std::int32_t> lo, hi;
  bandRows(m, k, d, lo, hi);
  const std::size_t rows = static_cast<std::size_t>(m) + 1;
  rows_.resize(rows);
  for (std::size_t x = 0; x < rows; ++x) rows_[x] = Row{lo[x], hi[x], 1, 0};
  const std::size_t bin = binomialLimbs(m, k);
  std::size_t total = 0;
  for (int x = 0; x <= m; ++x) total += cellCount(lo[static_cast<std::size_t>(x)], hi[static_cast<std::size_t>(x)]) * widthBound(m, x, bin);
  // NOTE: reserved once at the bound, so rows are appended without moving
  // the ones made before and the table never takes more than estimateBytes.
  limbs_.reserve(total);

  // The end point: one path.
  const std::size_t last = static_cast<std::size_t>(m);
  if (cellCount(lo[last], hi[last]) == 1) limbs_.push_back(1);
  else limbs_.push_back(0);  // cannot happen: the end point is in every band
  for (int x = m - 1; x >= 0; --x) {
    const std::size_t ux = static_cast<std::size_t>(x);
    const std::size_t cells = cellCount(lo[ux], hi[ux]);
    const std::size_t next = static_cast<std::size_t>(rows_[ux + 1].width);
    // Room for a carry, within the row's bound.
    const std::size_t room = std::min(next + 1, widthBound(m, x, bin));
    const std::size_t base = limbs_.size();
    rows_[ux].offset = base;
    limbs_.resize(base + cells * room);
    mp_limb_t* row = limbs_.data() + base;
    std::size_t used = 1;
    for (std::size_t i = 0; i < cells; ++i) {
      const std::int64_t y = lo[ux] + 2 * static_cast<std::int64_t>(i);
      mp_limb_t* c = row + i * room;
      const mp_limb_t* a = at(x + 1, y - 1);
      const mp_limb_t* b = at(x + 1, y + 1);
      std::fill(c, c + room, mp_limb_t{0});
      mp_limb_t carry = 0;
      if (a && b) carry = mpn_add_n(c, a, b, static_cast<mp_size_t>(next));
      else if (a || b) std::copy(a ? a : b, (a ? a : b) + next, c);
      if (next < room) c[next] = carry;
      else hard_assert(carry == 0, "carry==0");
      std::size_t n = room;
      while (n > 1 && c[n - 1] == 0) --n;
      used = std::max(used, n);
    }
    // Down to the width the row needs.
    if (used < room) {
      for (std::size_t i = 1; i < cells; ++i) std::memmove(row + i * used, row + i * room, used * sizeof(mp_limb_t));
      limbs_.resize(base + cells * used);
    }
    rows_[ux].width = static_cast<std::int32_t>(used);
  }
  limbs_.shrink_to_fit();
  for (const Row& r : rows_) maxWidth_ = std::max(maxWidth_, static_cast<std::size_t>(r.width));
  narrow_ = m;
  while (narrow_ > 0 && rows_[static_cast<std::size_t>(narrow_) - 1].width <= 2) --narrow_;
}

std::size_t SuffixCounts::bytes() const {
  return limbs_.capacity() * sizeof(mp_limb_t) + rows_.capacity() * sizeof(Row);
}

void SuffixCounts::prefetch() const {
  const char* p = reinterpret_cast<const char*>(limbs_.data());
  const char* end = p + limbs_.size() * sizeof(mp_limb_t);
  for (; p < end; p += 64) __builtin_prefetch(p);
}

void SuffixCounts::total(mpz_ptr c) const {
  const mp_limb_t* p = at(0, 0);
  if (!p) {
    mpz_set_ui(c, 0);
    return;
  }
  mpz_import(c, static_cast<std::size_t>(rows_[0].width), -1, sizeof(mp_limb_t), 0, 0, p);
}

void SuffixCounts::rank(const std::vector<bool>& vb, mpz_ptr index) const {
  hard_assert(vb.size() == static_cast<std::size_t>(m_), "vb.size()==static_cast<std::size_t>(m_)");
  rankBits([&vb](int x) { return bool{vb[static_cast<std::size_t>(x)]}; }, index);
}

void SuffixCounts::rank(const unsigned char* bytes, int bit, mpz_ptr index) const {
  hard_assert(bit >= 0 && bit < 8, "bit>=0&&bit<8");
  rankBits([bytes, bit](int x) { return ((bytes[(bit + x) >> 3] >> (7 - ((bit + x) & 7))) & 1u) != 0; }, index);
}

template <class OneAt>
void SuffixCounts::rankBits(OneAt oneAt, mpz_ptr index) const {
  const mp_size_t n = static_cast<mp_size_t>(maxWidth_) + 1;
  mp_limb_t* acc = mpz_limbs_write(index, n);
  std::fill(acc, acc + n, mp_limb_t{0});
  // First the counts to add, found without a branch on the bits (random
  // bits would mispredict every other step), then the additions.
  // NOTE: on the stack up to 4096 bits, the largest block of lumbra-kit.
  struct Add {
    std::size_t offset;
    mp_size_t width;
  };
  constexpr int on_stack = 4096;
  Add small[on_stack];
  std::vector<Add> big(m_ <= on_stack ? 0 : static_cast<std::size_t>(m_));
  Add* adds = m_ <= on_stack ? small : big.data();
  std::size_t count = 0;
  std::int64_t y = 0;
  int x = 0;
  for (; x < narrow_; ++x) {
    // Every block that has a zero here and the same bits before is smaller:
    // S(x + 1, y - 1) of them, when (x + 1, y - 1) is in the band.
    const bool one = oneAt(x);
    const Row& r = rows_[static_cast<std::size_t>(x) + 1];
    const std::int64_t z = y - 1;
    adds[count] = Add{r.offset + static_cast<std::size_t>((z - r.lo) / 2) * static_cast<std::size_t>(r.width), r.width};
    count += static_cast<std::size_t>(one && z >= r.lo && z <= r.hi);
    y += one ? 1 : -1;
  }
  // The rest adds up to less than S(narrow_, y) < 2^128.
  static constexpr mp_limb_t none[2] = {0, 0};
  Narrow tail = 0;
  for (; x < m_; ++x) {
    const bool one = oneAt(x);
    const Row& r = rows_[static_cast<std::size_t>(x) + 1];
    const std::int64_t z = y - 1;
    const bool in = one && z >= r.lo && z <= r.hi;
    const mp_limb_t* p = in ? limbs_.data() + r.offset + static_cast<std::size_t>((z - r.lo) / 2) * static_cast<std::size_t>(r.width) : none;
    tail += narrowOf(p, r.width);
    y += one ? 1 : -1;
  }
  for (std::size_t i = 0; i < count; ++i) mpn_add(acc, acc, n, limbs_.data() + adds[i].offset, adds[i].width);
  const mp_limb_t tailLimbs[2] = {static_cast<mp_limb_t>(tail), static_cast<mp_limb_t>(tail >> 64)};
  mpn_add(acc, acc, n, tailLimbs, 2);
  // A walk that left the band would have missed counts on the way; one that
  // stayed ends at the end point.
  hard_assert(y == 2*std::int64_t{k_}-m_, "y==2*std::int64_t{k_}-m_");
  mp_size_t used = n;
  while (used > 0 && acc[used - 1] == 0) --used;
  mpz_limbs_finish(index, used);
}

void SuffixCounts::unrank(mpz_srcptr index, std::vector<bool>& vb) const {
  vb.assign(static_cast<std::size_t>(m_), false);
  unrankBits(index, [&vb](int x, bool one) { vb[static_cast<std::size_t>(x)] = one; });
}

void SuffixCounts::unrank(mpz_srcptr index, unsigned char* bytes, int bit) const {
  hard_assert(bit >= 0 && bit < 8, "bit>=0&&bit<8");
  unrankBits(index, [bytes, bit](int x, bool one) {
    bytes[(bit + x) >> 3] |= static_cast<unsigned char>(static_cast<unsigned>(one) << (7 - ((bit + x) & 7)));
  });
}

template <class SetOne>
void SuffixCounts::unrankBits(mpz_srcptr index, SetOne setOne) const {
  hard_assert(mpz_sgn(index) >= 0, "mpz_sgn(index)>=0");
  const std::size_t n = maxWidth_ + 1;
  hard_assert(mpz_size(index) <= n, "mpz_size(index)<=n");
  // NOTE: the remainder lives on the stack up to 64 limbs (m <= 4096 needs
  // at most that), so a call makes no allocation.
  mp_limb_t small[65];
  std::vector<mp_limb_t> big(n <= 65 ? 0 : n);
  const std::span<mp_limb_t> r(n <= 65 ? small : big.data(), n);
  std::fill(r.begin(), r.end(), mp_limb_t{0});
  mpz_export(r.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, index);
  std::int64_t y = 0;
  int x = 0;
  for (; x < narrow_; ++x) {
    // A zero here leads to (x + 1, y - 1): the first S(x + 1, y - 1) indexes.
    // r < S(x, y) has no limb set from row x's width on, so the comparison and
    // the subtraction reach no further than the wider of the two.
    const mp_limb_t* z = at(x + 1, y - 1);
    bool one = z == nullptr;
    if (z) {
      const std::size_t w = static_cast<std::size_t>(rows_[static_cast<std::size_t>(x) + 1].width);
      const std::size_t span = std::max(w, static_cast<std::size_t>(rows_[static_cast<std::size_t>(x)].width));
      one = std::any_of(r.begin() + static_cast<std::ptrdiff_t>(w), r.begin() + static_cast<std::ptrdiff_t>(span),
                        [](mp_limb_t l) { return l != 0; }) ||
            mpn_cmp(r.data(), z, static_cast<mp_size_t>(w)) >= 0;
      if (one) mpn_sub(r.data(), r.data(), static_cast<mp_size_t>(span), z, static_cast<mp_size_t>(w));
    }
    setOne(x, one);
    y += one ? 1 : -1;
  }
  // From here on r < S(x, y) < 2^128 (r's other limbs are zero), and the
  // choice of each step is made without a branch: on random indexes it is a
  // coin toss.
  Narrow rest = narrowOf(r.data(), 2);
  for (; x < m_; ++x) {
    const mp_limb_t* z = at(x + 1, y - 1);
    const Narrow c = z ? narrowOf(z, rows_[static_cast<std::size_t>(x) + 1].width) : 0;
    const bool one = rest >= c;
    rest -= one ? c : 0;
    setOne(x, one);
    y += one ? 1 : -1;
  }
  r[0] = static_cast<mp_limb_t>(rest);
  r[1] = static_cast<mp_limb_t>(rest >> 64);
  hard_assert(y == 2*std::int64_t{k_}-m_, "y==2*std::int64_t{k_}-m_");
  hard_assert(std::all_of(r.begin(), r.end(), [](mp_limb_t l) { return l == 0; }),
              "std::all_of(r.begin(),r.end(),[](mp_limb_t l){return l==0;})");
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
  if (SuffixCounts::estimateBytes(m, k, d) > max_) return nullptr;
  auto table = std::make_shared<const SuffixCounts>(m, k, d);
  const std::size_t size = table->bytes();
  while (used_ + size > max_) {
    used_ -= lru_.back().second->bytes();
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  lru_.emplace_front(key, table);
  index_.emplace(key, lru_.begin());
  used_ += size;
  return table;
}

}  // namespace lumbra
