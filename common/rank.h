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

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace lumbra {

class SuffixCounts {
 public:
  // The counts of the band of (m, k, d). Requires 1 <= m <= 2147483646,
  // 0 <= k <= m, 0 <= d <= m. Throws std::bad_alloc.
  SuffixCounts(int m, int k, int d);

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
  // The index of vb. Requires vb.size() == m, k one bits and a walk within
  // d of the line (walkStats gives k and a deviation <= d).
  void rank(const std::vector<bool>& vb, mpz_ptr index) const;
  // The same for the m bits at bits[bit..bit + m) of bytes (bit 0..7), each
  // byte most significant bit first, as a coder reads them; no vector<bool>.
  void rank(const unsigned char* bytes, int bit, mpz_ptr index) const;
  // Replaces vb with the block of `index`. Requires 0 <= index < C(m, k, d).
  void unrank(mpz_srcptr index, std::vector<bool>& vb) const;
  // The same, the block's one bits or-ed into bytes[bit..bit + m) (bit 0..7,
  // each byte most significant bit first); its zero bits are left as they are.
  void unrank(mpz_srcptr index, unsigned char* bytes, int bit) const;

 private:
  // rank of the block whose bit x is oneAt(x).
  template <class OneAt>
  void rankBits(OneAt oneAt, mpz_ptr index) const;

  // unrank, calling setOne(x) for the one bits x of the block.
  template <class SetOne>
  void unrankBits(mpz_srcptr index, SetOne setOne) const;

  // The count at (x, y), `width(x)` limbs, or null when (x, y) lies outside
  // the band (also for the wrong parity).
  const mp_limb_t* at(int x, std::int64_t y) const {
    const Row& r = rows_[static_cast<std::size_t>(x)];
    if (y < r.lo || y > r.hi) return nullptr;
    return limbs_.data() + r.offset + static_cast<std::size_t>((y - r.lo) / 2) * static_cast<std::size_t>(r.width);
  }

  int m_, k_, d_;
  // Row x holds the heights lo, lo + 2, ..., hi (none when lo > hi); each
  // count takes `width` limbs, least significant first, starting at
  // limbs_[offset]. One record per row, so that a step of a walk reads one
  // place. A row's counts are at most twice those of the row after it.
  struct Row {
    std::int32_t lo, hi;
    std::int32_t width;
    std::size_t offset;
  };
  std::vector<Row> rows_;
  std::vector<mp_limb_t> limbs_;
  std::size_t maxWidth_ = 1;  // the largest width
  // The first row from which on every row's counts fit two limbs: a walk's
  // remaining steps from there on rank and unrank in 128-bit integers.
  int narrow_ = 0;
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
  using Entry = std::pair<Key, std::shared_ptr<const SuffixCounts>>;
  std::size_t max_;
  std::size_t used_ = 0;  // the bytes of the tables in lru_
  std::list<Entry> lru_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index_;
};

}  // namespace lumbra
