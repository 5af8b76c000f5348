// StreamSummary: the running summary of a stream that may never end, fed
// in pieces of any length, whose summary can be asked for at any point: the
// summary of every byte fed so far, equal to that of a FileSummary of the
// same bytes read at once (the same counts, so the same report to the
// last digit).
//
// It keeps the summary of the whole blocks (settled as reports ask, the new
// blocks only) and the bits after the last whole block, which summary()
// counts as the stream's last, shorter block without taking them from the
// running summary. Nothing fed is kept or read again: memory is that of the
// summary (its counts by (length, ones) and by value, at most some
// (n + 1)^2 counts a statistic) and, while feed() runs, the reading's runs
// in flight (block_runs.h), whatever the stream's length.
//
// Not safe to use from several threads at once; feed() measures on
// `threads` threads of its own. After an exception the summary is to be
// dropped.
#pragma once

#include <cstdint>
#include <span>

#include "reading/block_runs.h"
#include "stats/file_summary.h"
#include "stats/statistic.h"

namespace lumbra {

class StreamSummary {
 public:
  // Blocks of n bits (1..4096) judged by `statistics`, measured on up to
  // `threads` threads.
  StreamSummary(int n, std::span<const Statistic* const> statistics, unsigned threads);

  // The next bytes: what `read` gives until it returns 0. Throws what read
  // throws, std::bad_alloc, std::system_error when a thread cannot start.
  void feed(const ReadBytes& read);
  // The next bytes, read where they lie.
  void feed(std::span<const unsigned char> bytes);

  int blockSize() const { return whole_.blockSize(); }
  std::uint64_t bytes() const { return bytes_; }

  // The summary of every byte fed so far, settled with `laws` (of the same
  // statistics, kept by the caller from report to report so that each law
  // is made once): what FileSummary gives for the same bytes.
  FileSummary summary(StatisticLaws& laws, bool histogram = true);

 private:
  std::span<const Statistic* const> statistics_;
  unsigned threads_;
  FileSummary whole_;  // the whole blocks
  Waiting waiting_;    // the bits after them
  std::uint64_t bytes_ = 0;
};

}  // namespace lumbra
