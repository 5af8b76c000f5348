// BlockMeter: the ones count k and the deviation d of bit blocks read
// straight from bytes, as walkStats measures them from a vector<bool>; and,
// by shape(), the same walk's farthest rise over and fall under the center
// line and the block's runs of equal bits, in the same pass.
//
// A block is m consecutive bits of a byte array, most significant bit of
// each byte first, starting `bit` bits (0..7) into its first byte. Its walk
// steps up for a one and down for a zero; d is the largest distance of the
// walk from the center line of (m, k) (see band/center_line.h). The meter
// keeps the center lines of the block size it was made for, one per k met
// so far, on the heap (at most its budget, line_budget bytes unless it was
// given less; past that it starts over), so a block of that size costs a
// few vector operations per byte. Blocks of any other length are measured
// bit by bit. A meter is used by one thread at a time; give each thread its
// own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumbra {

struct BlockMeasure {
  int ones;
  int deviation;
};

// What shape() measures of a block of m >= 1 bits: its ones k; how far its
// walk rises over the center line of (m, k) (up) and falls under it (down),
// both at least 0, since the walk starts and ends on the line, and the
// deviation is the larger of the two; the number of runs of equal bits
// (1 + the number of neighbours that differ); the length of the longest;
// its first and last bit, where the runs of neighbouring blocks meet; and,
// when asked for, its rank as a matrix over GF(2), its linear complexity and
// the collisions of its words (stats/block_rank.h, linear_complexity.h,
// word_collisions.h). (What a meter is not asked to read is left 0.)
struct BlockShape {
  int ones;
  int up;
  int down;
  int runs;
  int longestRun;
  int firstBit;
  int lastBit;
  int rank = 0;
  int complexity = 0;
  int collisions = 0;
  int deviation() const { return up > down ? up : down; }
  bool operator==(const BlockShape&) const = default;
};

// What a meter reads of a block besides its walk and runs, by bits: the
// statistics that need them ask (Statistic::reads).
enum BlockReads : unsigned {
  reads_longest_run = 1u,
  reads_rank = 2u,
  reads_complexity = 4u,
  reads_collisions = 8u,
};
// The reads measured on the words of a block's bits.
inline constexpr unsigned reads_of_words = reads_rank | reads_complexity | reads_collisions;

class BlockMeter {
 public:
  // The block size whose lines are kept: 1..4096; they take at most
  // `budget` bytes (line_budget or less). shape() measures what `reads`
  // names (BlockReads) and leaves the rest 0.
  // NOTE: the longest run of a block of the meter's size costs about as
  // much as the rest of its shape (a round over its words for each bit of
  // the run); what judges no longest run does without it.
  explicit BlockMeter(int n, std::size_t budget = line_budget, unsigned reads = reads_longest_run);

  // The block of m bits (1..4096) at bits[bit..bit + m) of bytes, which
  // holds at least (bit + m + 7) / 8 bytes. Throws std::bad_alloc.
  BlockMeasure measure(const unsigned char* bytes, int bit, int m);

  // The same block measured bit by bit: the reference the fast path equals.
  static BlockMeasure measureBits(const unsigned char* bytes, int bit, int m);

  // The shape of the same block: its walk and its runs in one pass over its
  // bytes, the walk as measure() takes it. Throws std::bad_alloc.
  BlockShape shape(const unsigned char* bytes, int bit, int m);

  // The shapes of count blocks of the meter's size, one after the other
  // from bit 0 of bytes, into out[0, count): shape() of each. Blocks of 64,
  // 128 and 256 bits go 64 at a time where the processor can
  // (block_lanes.h), unless the meter measures longest runs; their words'
  // reads, when asked, after.
  void shapes(const unsigned char* bytes, std::size_t count, BlockShape* out);

  static constexpr std::size_t line_budget = 8u << 20;

 private:
  // L(1)..L(n) of (n, k), padded with zeros to a whole number of bytes' bits.
  const std::int16_t* line(int k);
  // The block at bit 0 of bytes, moved to shifted_ when it starts later.
  const unsigned char* aligned(const unsigned char* bytes, int bit, int m);
  // The walk of a block of n_ bits at bit 0, with its ones k: the largest
  // distance over the line (hi) and under it (-lo), both at least 0.
  void extremes(const unsigned char* bytes, int k, int& hi, int& lo);
  // Of a block of m bits at bit 0: its ones, end bits and runs of equal
  // bits into s (all but the walk).
  void countBits(const unsigned char* bytes, int m, BlockShape& s, unsigned wordReads);
  // Of the block of m bits in words (first bit on top): what `reads` (of
  // reads_of_words) asks of its words, into s.
  void readWords(const std::uint64_t* words, int m, BlockShape& s, unsigned reads);
  // shape() of a block of the meter's size, reading `wordReads` of its words.
  BlockShape shapeOf(const unsigned char* bytes, int bit, unsigned wordReads);

  int n_;
  std::size_t budget_;
  unsigned reads_;
  std::size_t lineBytes_ = 0;  // what the kept lines take
  std::vector<std::unique_ptr<std::int16_t[]>> lines_;  // by k; null until met
  std::vector<unsigned char> shifted_;  // a block moved to start at bit 0
  std::vector<std::uint64_t> words_;    // a block's bits and its equal neighbours, by 64
  std::vector<std::uint64_t> scratch_;  // the linear complexity's polynomials
  std::vector<std::uint64_t> seen_;     // the collisions' bitmap, all 0 between blocks
};

}  // namespace lumbra

namespace lumbra {

// Measures `count` blocks of n bits, one after the other from `bit` bits
// into bytes, and calls f(m, measure) for each in order: a run of whole
// blocks, as a thread or a slice measures it.
template <class F>
void measureBlocks(BlockMeter& meter, const unsigned char* bytes, std::uint64_t bit, int n, std::uint64_t count, F&& f) {
  for (std::uint64_t i = 0; i < count; ++i, bit += static_cast<std::uint64_t>(n))
    f(n, meter.measure(bytes + bit / 8, static_cast<int>(bit % 8), n));
}

}  // namespace lumbra
