// block_runs: the blocks of a byte stream measured by several threads and
// handed on in file order.
//
// The stream is cut into blocks exactly as BitReader cuts it (most
// significant bit first, n bits a block, the last block shorter, a pipe's
// pieces making whole blocks). measureRuns reads it on the calling thread,
// cuts it into runs of whole blocks, lets worker threads measure each block
// with a BlockMeter of their own (its shape: ones k and deviation d as
// walkStats gives them, the sides of the walk, the runs of equal bits) and hands the runs to `take` on the calling thread, one after
// the other in file order: the same calls with the same values for any
// number of threads.
//
// Memory: at most 2 * min(threads, max_threads) runs are in flight, each
// about 1.4 MiB of bytes and measures at most, and the workers' meters keep
// at most 16 MiB of center lines between them, whatever the file's size; all
// of it is owned by the call and given back before it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <system_error>

#include "reading/block_meter.h"

namespace lumbra {

// A read or seek of the stream that failed; code() holds the errno. Apart
// from the std::system_error of a thread that cannot start, so that a caller
// never reports the one as the other.
class ReadError : public std::system_error {
 public:
  using std::system_error::system_error;
};

class RunDigest;

// A run of consecutive blocks, measured: blocks first, first + 1, ... of
// the stream, each n bits long but perhaps the last (lastLength bits, the
// stream's last block); and what the worker that measured it made of it,
// if anything (see RunDigest). Valid during the call that hands it on.
struct MeasuredRun {
  std::uint64_t first;
  std::span<const BlockShape> blocks;
  int n;
  int lastLength;
  RunDigest* digest = nullptr;
  int length(std::size_t i) const { return i + 1 == blocks.size() ? lastLength : n; }
};

// What a caller makes of a run of blocks on the thread that measured it,
// while the measures are still in that thread's cache: the blocks counted
// into a summary of their own, say, which take() then merges in file order,
// so that the calling thread, which also reads, is not left to count them
// all. A digest belongs to a place in the ring of runs in flight and serves
// every run that passes through it: digest() of one run, then take() of the
// same run reading what it made, then the next run's digest(), and so on.
class RunDigest {
 public:
  virtual ~RunDigest() = default;
  virtual void digest(const MeasuredRun& run) = 0;
};

// Makes a digest for the blocks of sizes[i] (i = 0 for measureRuns), or
// null where that size's runs go to take() as they are; called on the worker
// threads, several at once, once for each place in the ring.
using DigestMaker = std::function<std::unique_ptr<RunDigest>(std::size_t i)>;

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
// `slice` to `take`, a run at a time. threads <= 1 measures on the calling
// thread; otherwise min(threads, max_threads) workers measure while the
// calling thread reads.
// Requires 1 <= n <= 4096. A failed read throws ReadError (its code the
// errno); an exception from take or progress passes after the
// workers have stopped. Throws std::bad_alloc, std::system_error when a
// thread cannot start. The blocks' shapes hold what `reads` names of the
// measures a meter takes only when asked, and 0 for the rest (BlockReads
// of block_meter.h).
// With `digests`, each run is first digested on the thread that measured
// it (see RunDigest), and take() gets it with its digest.
void measureRuns(int fd, int n, BlockSlice slice, unsigned threads,
                 const std::function<void(const MeasuredRun&)>& take, const BlockProgress& progress = {},
                 unsigned reads = reads_longest_run, const DigestMaker& digests = {});

// Several block sizes in one reading: every block of each size in `sizes`
// (each 1..4096, at least one) from the stream's start, the blocks of each
// size as measureRuns cuts them. take(i, run) gets runs of blocks of
// sizes[i]; the runs of each size come in file order, the sizes' calls
// interleaved (a run of the stream at a time). Throws as measureRuns.
void measureSizes(int fd, std::span<const int> sizes, unsigned threads,
                  const std::function<void(std::size_t, const MeasuredRun&)>& take,
                  const BlockProgress& progress = {}, unsigned reads = reads_longest_run, const DigestMaker& digests = {});

}  // namespace lumbra
