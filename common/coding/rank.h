// rank: a block's index among the blocks of its constrained triangle, and
// the block of an index.
//
// The m-bit blocks with k one bits whose walk stays within d of the center
// line of (m, k) (the band of Trian(m, k, d)) are ordered as binary numbers,
// first bit most significant; a block's index is the number of those blocks
// below it, so 0...01...1 has index 0 and the indexes run 0..C(m, k, d) - 1.
//
// SuffixCounts holds, for every point (x, y) of the band, the number of band
// paths from (x, y) to the end point (m, 2k - m); the count at (0, 0) is
// C(m, k, d). Ranking adds, for every one bit, the count of the paths that
// take a zero there instead; unranking walks the same counts down. A
// SuffixCounts owns its counts (one heap array of GMP limbs), never changes
// after its constructor and may be shared between threads for reading.
//
// SuffixCache keeps the SuffixCounts of recently used (m, k, d) within a
// stated number of bytes, least recently used out first. It hands out shared
// pointers, so a table stays alive while a caller holds it even after the
// cache has let it go: the memory in use is at most the cache's bound plus
// the tables callers still hold.
#pragma once

#include <gmp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lumbra {

// A block handed to SuffixCounts::rank that is not one of its table's.
class BlockOutsideBand : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

namespace detail {

// n values of T: on the stack up to N, on the heap beyond, so that the
// blocks lumbra-kit codes (up to 4096 bits) cost no allocation.
template <class T, std::size_t N>
class SmallBuffer {
 public:
  SmallBuffer() = default;
  explicit SmallBuffer(std::size_t n) { resize(n); }
  SmallBuffer(const SmallBuffer&) = delete;
  SmallBuffer& operator=(const SmallBuffer&) = delete;
  void resize(std::size_t n) {
    if (n > N) heap_.resize(n);
    data_ = n > N ? heap_.data() : local_;
    size_ = n;
  }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

 private:
  T local_[N];
  std::vector<T> heap_;
  T* data_ = local_;
  std::size_t size_ = 0;
};

__extension__ using WideLimb = unsigned __int128;

// index = the sum of col[i] * 2^(64 i), i < n: counts summed limb by limb
// in 128-bit columns (so that no addition carries), the carries taken once.
void setFromColumns(const WideLimb* col, std::size_t n, mpz_ptr index);

}  // namespace detail

class SuffixCounts {
 public:
  // The counts of the band of (m, k, d). Requires 1 <= m <= 2147483646,
  // 0 <= k <= m, 0 <= d <= m. Throws std::bad_alloc.
  SuffixCounts(int m, int k, int d) : SuffixCounts(m, k, d, {}) {}
  // The same, its counts kept in `storage` when its capacity suffices (the
  // storage of a table let go, so that building the next one touches no new
  // memory).
  SuffixCounts(int m, int k, int d, std::vector<mp_limb_t> storage);
  // The table's storage, handed over; the table is empty afterwards and may
  // only be destroyed.
  std::vector<mp_limb_t> releaseStorage() && { return std::move(limbs_); }

  // The bytes the table takes, before it is built (an upper bound, the one
  // the constructor reserves).
  static std::size_t estimateBytes(int m, int k, int d);

  int m() const { return m_; }
  int k() const { return k_; }
  int d() const { return d_; }
  std::size_t bytes() const;

  // Asks the processor to bring the whole table into its caches, ahead of
  // a run of rank or unrank calls (a hint; it changes nothing).
  void prefetch() const;

  // c = C(m, k, d); c is an initialised mpz owned by the caller.
  void total(mpz_ptr c) const;
  // c = the count of (x, o): the band paths from the point after x bits,
  // o of them ones, to the end; 0 outside the band. Requires 0 <= x <= m.
  void count(int x, std::int64_t o, mpz_ptr c) const;
  // The index of vb. Requires vb.size() == m. Throws BlockOutsideBand when
  // vb has other than k one bits or its walk strays more than d from the
  // line (walkStats gives k and its deviation); index is then unspecified.
  void rank(const std::vector<bool>& vb, mpz_ptr index) const;
  // The same for the m bits at bits[bit..bit + m) of bytes (bit 0..7), each
  // byte most significant bit first, as a coder reads them; no vector<bool>.
  // Throws BlockOutsideBand as above.
  void rank(const unsigned char* bytes, int bit, mpz_ptr index) const;
  // Replaces vb with the block of `index`. Requires 0 <= index < C(m, k, d).
  void unrank(mpz_srcptr index, std::vector<bool>& vb) const;
  // The same, the block's one bits or-ed into bytes[bit..bit + m) (bit 0..7,
  // each byte most significant bit first); its zero bits are left as they are.
  void unrank(mpz_srcptr index, unsigned char* bytes, int bit) const;
  // Where a block's bits lie: from bit `bit` (0..7) of bytes[0] on.
  struct BitPlace {
    unsigned char* bytes;
    int bit;
  };
  // The same for many blocks: the block of indexes[i] or-ed into places[i]
  // (the places must not overlap); faster than one at a time.
  void unrank(std::span<const mpz_srcptr> indexes, std::span<const BitPlace> places) const;

 private:
  // A block's bits, 64 to a word, the first the most significant of word 0.
  using Words = detail::SmallBuffer<std::uint64_t, 66>;
  template <class T>
  using Limbs = detail::SmallBuffer<T, 65>;

  // rank of the block in words.
  void rankWords(const std::uint64_t* words, mpz_ptr index) const;

  // Calls f.template operator()<W, Half>(x, end, w) for the runs of steps
  // x .. end - 1 whose next rows x + 1 .. end all take w limbs, with W = w
  // for the widths that have code of their own and W = 0 for the others,
  // and Half = half_.
  template <class F>
  void forEachRun(F f) const;

  // unrank of the L indexes index[0..L) into bits[0..L).
  template <int L>
  void unrankLanes(const mpz_srcptr* index, Words* bits) const;

  int m_, k_, d_;
  // Row x holds the counts of its band points by the ones o before them
  // (height 2o - x), each `width` limbs, least significant first: o = first
  // and o = last are zero counts on either side of the band, the count of o
  // starts at limbs_[origin + o * width]. A walk that takes a zero at
  // (x, o) goes to (x + 1, o), a one to (x + 1, o + 1); a point outside the
  // band reads the nearest zero count, so a step never needs a branch.
  // A row's counts are at most twice those of the row after it.
  //
  //
  // half_: the band is its own mirror image about the height 0 and ends
  // there (a flat center line: m even, k = m/2), so S(x, y) = S(x, -y) and
  // its rows keep only the heights y >= 0, o >= x/2: the count of o is read
  // at max(o, x - o) (heights 2o - x and x - 2o), whose least is first + 1,
  // and the table takes half the memory (61 MiB -> 32 MiB at m = 4096,
  // d = 58). The walks take Half as a template parameter, so that the
  // mirror costs them one subtraction a step and other bands nothing.
  struct Row {
    std::int64_t first, last;
    std::ptrdiff_t origin;
    std::int32_t width;
  };
  // The o whose count row r (the row of x) keeps for (x, o), clamped to
  // the row's zero counts.
  template <bool Half>
  static std::int64_t slot(const Row& r, std::int64_t x, std::int64_t o) {
    if constexpr (Half) return std::min(std::max(o, x - o), r.last);
    else return std::clamp(o, r.first, r.last);
  }
  // Whether (x, o) is in the band of row r, the row of x: first < o < last
  // (for o or its mirror image), with no branch.
  template <bool Half>
  static bool inside(const Row& r, std::int64_t x, std::int64_t o) {
    if constexpr (Half) return std::max(o, x - o) < r.last;
    else return static_cast<std::uint64_t>(o - r.first - 1) < static_cast<std::uint64_t>(r.last - r.first - 1);
  }
  // The count of (x, o) in row r, the row of x.
  const mp_limb_t* cell(const Row& r, std::int64_t x, std::int64_t o) const {
    return limbs_.data() + (r.origin + (half_ ? slot<true>(r, x, o) : slot<false>(r, x, o)) * r.width);
  }
  bool half_ = false;
  std::vector<Row> rows_;
  std::vector<mp_limb_t> limbs_;
  // The steps x = first .. end - 1 whose next rows all take `width` limbs.
  struct Run {
    int first, end;
    std::int32_t width;
  };
  std::vector<Run> runs_;
  std::size_t maxWidth_ = 1;  // the largest width
};

class SuffixCache {
 public:
  // Keeps at most maxBytes of tables.
  explicit SuffixCache(std::size_t maxBytes) : max_(maxBytes) {}
  // The table of (m, k, d), built on a miss (std::bad_alloc); null when its
  // estimateBytes is more than the whole bound, so the memory in use stays
  // below twice the bound while callers hold one table each.
  std::shared_ptr<const SuffixCounts> get(int m, int k, int d);
  std::size_t bytes() const { return used_; }
  std::size_t maxBytes() const { return max_; }

 private:
  struct Key {
    int m, k, d;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const noexcept;
  };
  using Entry = std::pair<Key, std::shared_ptr<SuffixCounts>>;
  // Lets the least recently used table go: its storage when no caller holds
  // the table any more, otherwise nothing.
  std::vector<mp_limb_t> dropOldest();
  std::size_t max_;
  std::size_t used_ = 0;  // the bytes of the tables in lru_
  std::list<Entry> lru_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index_;
};

}  // namespace lumbra
