// byte_rank: the ranking of rank.h a byte of the block at a time.
//
// Ranking adds, for every one bit of a block, a count of the table. The
// counts that the eight bits of a byte add depend only on where the byte
// starts (bit x, a multiple of 8) and on the ones o before it, so
// ByteRanker keeps, for every point (x, o) of the band and every value of
// the byte, their sum and whether the byte's walk stays in the band: a block
// of m bits then takes m/8 additions instead of m steps. The sums take
// (m/8) × (the band's points at x) × 256 counts: 0.8 MiB at m = 256, d = 4,
// too much for wide words and bands, so a ranker is built only within a
// stated number of bytes (otherwise it is empty, and the caller ranks with
// its SuffixCounts).
//
// A ByteRanker owns its sums (it keeps no reference to the table it was
// built from), never changes after its constructor and may be shared
// between threads for reading. It throws std::bad_alloc only.
#pragma once

#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "coding/rank.h"

namespace lumbra {

class ByteRanker {
 public:
  // An empty ranker.
  ByteRanker() = default;
  // The ranker of `table`'s blocks when its sums take at most maxBytes;
  // otherwise an empty one.
  ByteRanker(const SuffixCounts& table, std::size_t maxBytes);

  // Whether it was built (and rank may be called).
  bool ready() const { return !chunks_.empty(); }
  std::size_t bytes() const;

  // The index in the table of the block of m bits at block[0 .. ceil(m/8)),
  // each byte most significant bit first (the bits after the m-th are not
  // read): true; false, with index unspecified, when the block is not one
  // of the table's (other than k ones, or its walk leaves the band).
  // Requires ready().
  bool rank(const unsigned char* block, mpz_ptr index) const;

 private:
  // The byte of bits x = 8p .. 8p + 7 (p from 0): its sums for the points
  // (x, o), o = olo .. olo + slots - 1, each `width` limbs, least
  // significant first, the sum of (o, byte b) at sums_[offset + (s * 256 +
  // b) * width] with s = o - olo, and whether b may follow (x, o) at bit
  // s * 256 + b of valid_[validOffset ..]. mask keeps the bits of the block
  // (the last byte may hold fewer).
  struct Chunk {
    std::int64_t olo;
    std::uint64_t slots;
    std::size_t offset, validOffset;
    std::int32_t width;
    unsigned mask;
  };
  std::vector<Chunk> chunks_;
  std::vector<mp_limb_t> sums_;
  std::vector<std::uint64_t> valid_;
  std::int32_t maxWidth_ = 1;
};

}  // namespace lumbra
