// scan: reading an input block by block for `test` and `blocks`: the options
// they share (-j, --first-block, --block-count, --quiet) and the reading
// itself, measured on worker threads with the progress line on a terminal.
//
// The measures come to the caller in file order and are the same for any -j
// (see common/block_measure.h). Nothing is kept beyond the call.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>

#include "reading/block_runs.h"

namespace CLI {
class App;
}

namespace lumbra::kit {

class Input;

struct ScanOptions {
  unsigned jobs = 0;  // threads that measure; 0: one per core
  std::uint64_t firstBlock = 0;
  std::uint64_t blockCount = std::numeric_limits<std::uint64_t>::max();
  bool quiet = false;  // no progress line
  unsigned reads = reads_longest_run;  // what to measure of each block besides its walk (BlockReads)
  DigestMaker digests;      // what the workers make of each run (see RunDigest)
};

// Adds -j/--jobs, --first-block, --block-count and -q/--quiet to `cmd`.
void addScanOptions(CLI::App& cmd, ScanOptions& options);

// The threads -j asks for: options.jobs, or one per core.
unsigned scanThreads(const ScanOptions& options);

// Reads `in` from where it stands and hands the measures of the chosen
// blocks of n bits to `take`, run after run in file order. Throws Failure
// ("can't read NAME: ...") when reading fails; what `take` throws passes,
// and so does the std::system_error of a thread that cannot start.
void scanBlocks(Input& in, int n, const ScanOptions& options, const std::function<void(const MeasuredRun&)>& take);

// Reads `in` from where it stands once and hands the measures of its blocks
// of each size in `sizes` to take(i, run), blocks of sizes[i] (see
// measureSizes); the slice options do not apply. Throws as scanBlocks.
void scanSizes(Input& in, std::span<const int> sizes, const ScanOptions& options,
               const std::function<void(std::size_t, const MeasuredRun&)>& take);

}  // namespace lumbra::kit
