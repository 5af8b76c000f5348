#include "scan.h"

#include <CLI/CLI.hpp>
#include <thread>

#include "app.h"
#include "input.h"
#include "options.h"
#include "progress.h"

namespace lumbra::kit {

void addScanOptions(CLI::App& cmd, ScanOptions& options) {
  cmd.add_option("-j,--jobs", options.jobs,
                 "Threads that measure blocks while one reads (default: one per core; more than " +
                     std::to_string(max_threads) + " count as " + std::to_string(max_threads) +
                     "). The output is the same for any number.")
      ->transform(decimal(1, 4096))
      ->option_text("N");
  cmd.add_option("--first-block", options.firstBlock,
                 "Start at block I (from 0), at bit I * N of the input; no byte alignment is needed")
      ->transform(decimal(0, std::numeric_limits<std::uint64_t>::max()))
      ->option_text("I");
  cmd.add_option("--block-count", options.blockCount,
                 "Take at most C blocks; a slice past the end gives what is there")
      ->transform(decimal(0, std::numeric_limits<std::uint64_t>::max()))
      ->option_text("C");
  cmd.add_flag("-q,--quiet", options.quiet, "No progress line on standard error");
}

unsigned scanThreads(const ScanOptions& options) {
  return options.jobs != 0 ? std::min(options.jobs, max_threads) : std::max(1u, std::thread::hardware_concurrency());
}

void scanBlocks(Input& in, int n, const ScanOptions& options, const std::function<void(const MeasuredRun&)>& take) {
  // Block indexes and bit offsets are 64-bit numbers: a slice ends within
  // 2^64 bits, and an endless input is read that far at most.
  const std::uint64_t blocks = std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(n);
  const bool counted = options.blockCount != ScanOptions{}.blockCount;
  if (options.firstBlock > blocks || (counted && options.blockCount > blocks - options.firstBlock))
    throw UsageError("--first-block " + std::to_string(options.firstBlock) +
                     (counted ? " --block-count " + std::to_string(options.blockCount) : std::string()) +
                     ": blocks of " + std::to_string(n) + " bits that reach past 2^64 bits, where no input goes");
  const std::uint64_t count = std::min(options.blockCount, blocks - options.firstBlock);
  const unsigned jobs = scanThreads(options);
  Progress progress(options.quiet);
  try {
    measureRuns(in.fd(), n, {options.firstBlock, count}, jobs, take,
                  [&](std::uint64_t done, std::uint64_t total) { progress.update(done, total); }, options.reads,
                options.digests);
  } catch (const ReadError& e) {
    progress.finish();
    throw Failure("can't read " + in.name() + ": " + e.code().message());
  }
}

void scanSizes(Input& in, std::span<const int> sizes, const ScanOptions& options,
               const std::function<void(std::size_t, const MeasuredRun&)>& take) {
  Progress progress(options.quiet);
  try {
    measureSizes(in.fd(), sizes, scanThreads(options), take,
                 [&](std::uint64_t done, std::uint64_t total) { progress.update(done, total); }, options.reads,
                 options.digests);
  } catch (const ReadError& e) {
    progress.finish();
    throw Failure("can't read " + in.name() + ": " + e.code().message());
  }
}

}  // namespace lumbra::kit
