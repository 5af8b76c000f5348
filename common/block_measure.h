// block_measure: the blocks of a byte stream measured by several threads and
// handed on in file order.
//
// The stream is cut into blocks exactly as BitReader cuts it (most
// significant bit first, n bits a block, the last block shorter, a pipe's
// pieces making whole blocks). measureBlocks reads it on the calling thread,
// cuts it into runs of whole blocks, lets worker threads measure each block
// (its length m, ones k and deviation d, as walkStats gives them) and hands
// the measures to `take` on the calling thread, run after run, in file order:
// the same calls with the same values for any number of threads.
//
// Memory: at most 2 * min(threads, max_threads) runs are in flight, each at
// most about 1 MiB of bytes and measures, whatever the file's size; all of it
// is owned by the call and given back before it returns.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>

namespace lumbra {

// One measured block.
struct BlockMeasure {
  std::uint64_t index;  // the block's index in the stream, from 0
  int length;           // m: n, or fewer for the stream's last block
  int ones;             // k
  int deviation;        // d: the largest distance of the walk from the center line of (m, k)
  bool operator==(const BlockMeasure&) const = default;
};

// Which blocks: first, first + 1, ..., first + count - 1 of the stream; the
// first of them starts at bit first * n. A slice past the end gives what the
// stream has.
struct BlockSlice {
  std::uint64_t first = 0;
  std::uint64_t count = std::numeric_limits<std::uint64_t>::max();
};

// Worker threads beyond this many would only wait: the reader feeds them.
inline constexpr unsigned max_threads = 16;

// How far the slice has got, after each run handed on: bytes of the stream
// read for the runs taken so far, and the bytes the slice will read in all
// (0 when that is not known: a pipe, a terminal).
using BlockProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Reads the descriptor fd from its current position and hands every block of
// `slice` to `take`. threads <= 1 measures on the calling thread; otherwise
// min(threads, max_threads) workers measure while the calling thread reads.
// Requires 1 <= n <= BlockMeter::max_block. A failed read throws std::system_error (its
// code the errno); an exception from take or progress passes after the
// workers have stopped. Throws std::bad_alloc, std::system_error when a
// thread cannot start.
void measureBlocks(int fd, int n, BlockSlice slice, unsigned threads,
                   const std::function<void(std::span<const BlockMeasure>)>& take,
                   const BlockProgress& progress = {});

// BlockMeter: measures single blocks, what walkStats gives for the same
// bits, keeping the center lines of the (m, k) it has met (at most about
// 1 MiB of them, owned by the meter). One meter per thread.
class BlockMeter {
 public:
  BlockMeter();
  ~BlockMeter();
  BlockMeter(const BlockMeter&) = delete;
  BlockMeter& operator=(const BlockMeter&) = delete;

  // The ones k and deviation d of the m bits that start `offset` bits into
  // `bytes`. Requires 1 <= m <= max_block. Throws std::bad_alloc.
  void measure(const unsigned char* bytes, std::uint64_t offset, int m, int& k, int& d);

  static constexpr int max_block = 8192;

 private:
  struct Lines;
  Lines* lines_;
};

}  // namespace lumbra
