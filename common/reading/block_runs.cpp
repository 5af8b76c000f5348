#include "reading/block_runs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "kova/hard_assert.h"

namespace lumbra {

namespace {

[[noreturn]] void throwErrno(const char* what) { throw ReadError(errno, std::generic_category(), what); }

// Reads up to n bytes, retrying after a signal: the count, 0 at the end.
std::size_t readSome(int fd, unsigned char* p, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, p, n);
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR) throwErrno("read");
  }
}

// The blocks of one size in a run: where the first starts in the run's
// bytes, which they are and their measures once taken.
struct Part {
  std::uint64_t offset = 0;  // the bit of the run's bytes where the first block starts
  std::uint64_t first = 0;   // the stream index of the first block
  std::size_t blocks = 0;
  int lastLength = 0;        // the length of the last block
  int n = 0;
  std::vector<BlockShape> measures;
  std::unique_ptr<RunDigest> digest;  // this place's, once made
  bool digestMade = false;
};

// One run of the stream: the bytes it lies in, and its blocks of each size
// (one part per size, in the order of the sizes).
struct Run {
  std::vector<unsigned char> bytes;
  std::vector<Part> parts;
  bool done = false;         // measured; guarded by the workers' mutex
  std::exception_ptr error;  // what measuring threw
};

MeasuredRun measured(const Part& p) { return {p.first, p.measures, p.n, p.lastLength, p.digest.get()}; }

void measureRun(Run& r, std::vector<std::unique_ptr<BlockMeter>>& meters, const DigestMaker& digests) {
  for (std::size_t p = 0; p < r.parts.size(); ++p) {
    Part& part = r.parts[p];
    BlockMeter& meter = *meters[p];
    // The whole blocks together where they start on a byte; the last,
    // perhaps short, by itself.
    const std::size_t whole = part.blocks > 0 && part.lastLength != part.n ? part.blocks - 1 : part.blocks;
    std::size_t i = 0;
    if (part.offset % 8 == 0) {
      meter.shapes(r.bytes.data() + part.offset / 8, whole, part.measures.data());
      i = whole;
    }
    for (; i < part.blocks; ++i) {
      const std::uint64_t bit = part.offset + i * static_cast<std::uint64_t>(part.n);
      part.measures[i] = meter.shape(r.bytes.data() + bit / 8, static_cast<int>(bit % 8),
                                     i + 1 == part.blocks ? part.lastLength : part.n);
    }
    if (!digests || part.blocks == 0) continue;
    if (!part.digestMade) {
      part.digest = digests(p);
      part.digestMade = true;
    }
    if (part.digest) part.digest->digest(measured(part));
  }
}

// A run holds about run_bits bits of the stream, and at most about
// run_blocks blocks, whose measures (28 bytes a block) then take 0.9 MiB.
// NOTE: runs much shorter cost their hand-overs and merges: runs of 8192
// blocks of 64 bits made `test -n 64 -j 2` a fifth slower.
constexpr std::uint64_t run_bits = std::uint64_t{1} << 22;
constexpr std::uint64_t run_blocks = 32768;

// Cuts the stream into runs: every block whole except the stream's last.
class RunReader {
 public:
  RunReader(int fd, int n, BlockSlice slice) : fd_(fd), n_(n), left_(slice.count), next_(slice.first) {
    runBlocks_ = std::clamp<std::uint64_t>(run_bits / static_cast<unsigned>(n), 1, run_blocks);
    const std::uint64_t start = slice.first * static_cast<std::uint64_t>(n);
    // NOTE: a slice whose first bit lies beyond 2^64 bits lies beyond any file.
    if (slice.first != 0 && start / static_cast<unsigned>(n) != slice.first) {
      left_ = 0;
      return;
    }
    skip(start / 8);
    offset_ = start % 8;
    struct stat st {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > at) {
      const std::uint64_t have = static_cast<std::uint64_t>(st.st_size - at);
      const std::uint64_t bits = left_ > (std::uint64_t{1} << 60) / static_cast<unsigned>(n)
                                     ? std::uint64_t{1} << 60
                                     : left_ * static_cast<unsigned>(n);
      total_ = std::min(have, (offset_ + bits + 7) / 8);
    }
  }

  // Fills r with the next run: false when the slice has no more blocks.
  bool next(Run& r) {
    if (left_ == 0 || ended_) return false;
    const std::uint64_t want = std::min(left_, runBlocks_);
    const std::uint64_t wantBytes = (offset_ + want * static_cast<unsigned>(n_) + 7) / 8;
    r.bytes.resize(wantBytes);
    std::copy(carry_.begin(), carry_.end(), r.bytes.begin());
    std::size_t have = carry_.size();
    while (have < wantBytes) {
      const std::size_t got = readSome(fd_, r.bytes.data() + have, wantBytes - have);
      if (got == 0) {
        ended_ = true;
        break;
      }
      have += got;
    }
    const std::uint64_t bits = have * 8 > offset_ ? have * 8 - offset_ : 0;
    std::uint64_t blocks = std::min(want, bits / static_cast<unsigned>(n_));
    int last = n_;
    if (blocks < want && bits % static_cast<unsigned>(n_) != 0) {
      ++blocks;
      last = static_cast<int>(bits % static_cast<unsigned>(n_));
      ended_ = true;
    }
    if (blocks == 0) return false;
    r.parts.resize(1);
    Part& part = r.parts[0];
    part.offset = offset_;
    part.first = next_;
    part.blocks = blocks;
    part.lastLength = last;
    part.n = n_;
    part.measures.resize(blocks);
    r.done = false;
    r.error = nullptr;
    // The partly used byte at the end is the next run's first byte.
    const std::uint64_t end = offset_ + (blocks - 1) * static_cast<unsigned>(n_) + static_cast<unsigned>(last);
    carry_.assign(r.bytes.begin() + static_cast<std::ptrdiff_t>(end / 8),
                  r.bytes.begin() + static_cast<std::ptrdiff_t>(have));
    read_ += have - carry_.size();
    offset_ = end % 8;
    next_ += blocks;
    left_ -= blocks;
    return true;
  }

  std::uint64_t read() const { return read_; }
  std::uint64_t total() const { return total_; }

 private:
  // Moves the stream `bytes` bytes on: a seek where the descriptor has one.
  void skip(std::uint64_t bytes) {
    if (bytes == 0) return;
    if (bytes <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
        ::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR) >= 0)
      return;
    if (errno != ESPIPE) throwErrno("seek");
    std::vector<unsigned char> sink(std::size_t{64} * 1024);
    while (bytes > 0) {
      const std::size_t got = readSome(fd_, sink.data(), std::min<std::uint64_t>(bytes, sink.size()));
      if (got == 0) {
        ended_ = true;
        return;
      }
      bytes -= got;
    }
  }

  int fd_;
  int n_;
  std::uint64_t left_;      // blocks still to hand out
  std::uint64_t next_;      // the index of the next block
  std::uint64_t offset_ = 0;
  std::uint64_t runBlocks_ = 1;
  std::vector<unsigned char> carry_;  // bytes read but not yet in a run
  std::uint64_t read_ = 0;
  std::uint64_t total_ = 0;
  bool ended_ = false;
};

// Cuts the stream, from its start, into runs for blocks of several sizes at
// once: a run is a stretch of the stream's bits, and holds for each size the
// blocks that start within it; its bytes reach past its end by the largest
// size, so that the last of them is whole (the stream's last blocks aside).
class SizesReader {
 public:
  SizesReader(int fd, std::span<const int> sizes) : fd_(fd), sizes_(sizes.begin(), sizes.end()) {
    longest_ = *std::max_element(sizes_.begin(), sizes_.end());
    // NOTE: the blocks of all sizes together about run_blocks a run, as
    // RunReader's, and a whole number of bytes, so that every run starts on
    // a byte.
    double blocksPerBit = 0;
    for (int n : sizes_) blocksPerBit += 1.0 / n;
    const auto span = static_cast<std::uint64_t>(run_blocks / blocksPerBit);
    spanBits_ = std::clamp<std::uint64_t>(span, 8, run_bits) / 8 * 8;
    struct stat st {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > at)
      total_ = static_cast<std::uint64_t>(st.st_size - at);
  }

  bool next(Run& r) {
    if (ended_ && carry_.empty()) return false;
    const std::size_t wantBytes = (spanBits_ + static_cast<unsigned>(longest_) + 7) / 8;
    r.bytes.resize(std::max(wantBytes, carry_.size()));
    std::copy(carry_.begin(), carry_.end(), r.bytes.begin());
    std::size_t have = carry_.size();
    while (!ended_ && have < wantBytes) {
      const std::size_t got = readSome(fd_, r.bytes.data() + have, wantBytes - have);
      if (got == 0) ended_ = true;
      have += got;
    }
    const std::uint64_t haveBits = std::uint64_t{8} * have;
    const std::uint64_t span = std::min(spanBits_, haveBits);
    if (span == 0) return false;
    r.parts.resize(sizes_.size());
    for (std::size_t i = 0; i < sizes_.size(); ++i) {
      const std::uint64_t n = static_cast<unsigned>(sizes_[i]);
      Part& part = r.parts[i];
      const std::uint64_t first = (start_ + n - 1) / n;       // the first block starting in the run
      const std::uint64_t end = (start_ + span + n - 1) / n;  // the first starting after it
      part.first = first;
      part.blocks = end - first;
      part.offset = first * n - start_;
      part.n = sizes_[i];
      part.lastLength = sizes_[i];
      // NOTE: only at the stream's end can a block reach past the bytes.
      if (part.blocks > 0 && part.offset + part.blocks * n > haveBits)
        part.lastLength = static_cast<int>(haveBits - (part.offset + (part.blocks - 1) * n));
      part.measures.resize(part.blocks);
    }
    r.done = false;
    r.error = nullptr;
    carry_.assign(r.bytes.begin() + static_cast<std::ptrdiff_t>(span / 8),
                  r.bytes.begin() + static_cast<std::ptrdiff_t>(have));
    read_ += span / 8;
    start_ += span;
    return true;
  }

  std::uint64_t read() const { return read_; }
  std::uint64_t total() const { return total_; }

 private:
  int fd_;
  std::vector<int> sizes_;
  int longest_ = 1;
  std::uint64_t spanBits_ = 8;
  std::uint64_t start_ = 0;  // the stream's bit where the next run starts
  std::vector<unsigned char> carry_;
  std::uint64_t read_ = 0;
  std::uint64_t total_ = 0;
  bool ended_ = false;
};

// A meter for each size, made when first used.
class Meters {
 public:
  Meters(std::span<const int> sizes, std::size_t budget, unsigned reads, const DigestMaker& digests)
      : sizes_(sizes), budget_(budget), reads_(reads), digests_(digests), meters_(sizes.size()) {}
  void measure(Run& r) {
    for (std::size_t i = 0; i < meters_.size(); ++i)
      if (!meters_[i]) meters_[i] = std::make_unique<BlockMeter>(sizes_[i], budget_, reads_);
    measureRun(r, meters_, digests_);
  }

 private:
  std::span<const int> sizes_;
  std::size_t budget_;
  unsigned reads_;
  const DigestMaker& digests_;
  std::vector<std::unique_ptr<BlockMeter>> meters_;
};

// The worker threads and the ring of runs they measure.
class Workers {
 public:
  Workers(std::vector<Run>& ring, std::span<const int> sizes, unsigned count, unsigned reads,
          const DigestMaker& digests)
      : ring_(ring),
        sizes_(sizes),
        lineBudget_(std::min(BlockMeter::line_budget, (std::size_t{16} << 20) / count / sizes.size())),
        reads_(reads),
        digests_(digests) {
    threads_.reserve(count);
    try {
      for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    } catch (...) {
      stop();
      throw;
    }
  }
  ~Workers() { stop(); }

  // Hands the run at ring position `filled` to the workers.
  void publish() {
    {
      std::lock_guard lock(mutex_);
      ++filled_;
    }
    wake_.notify_one();
  }
  // Waits until the run at ring position `i` is measured.
  void await(std::uint64_t i) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return ring_[i % ring_.size()].done; });
  }

 private:
  void work() {
    Meters meters(sizes_, lineBudget_, reads_, digests_);
    for (;;) {
      std::uint64_t i;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || taken_ < filled_; });
        if (stopping_) return;
        i = taken_++;
      }
      Run& r = ring_[i % ring_.size()];
      try {
        meters.measure(r);
      } catch (...) {
        r.error = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        r.done = true;
      }
      done_.notify_one();
    }
  }
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  std::vector<Run>& ring_;
  std::span<const int> sizes_;
  std::size_t lineBudget_;  // each meter's
  unsigned reads_;
  const DigestMaker& digests_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a run to measure, or stop
  std::condition_variable done_;  // a run measured
  std::uint64_t filled_ = 0;      // runs handed to the workers
  std::uint64_t taken_ = 0;       // runs a worker has started on
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Reads with `reader` and measures on `threads` threads (the calling one
// alone for threads <= 1), handing each run's parts to take in file order.
template <class Reader>
void measureWith(Reader& reader, std::span<const int> sizes, unsigned threads,
                 const std::function<void(std::size_t, const MeasuredRun&)>& take, const BlockProgress& progress,
                 unsigned reads, const DigestMaker& digests) {
  const auto hand = [&](const Run& r) {
    for (std::size_t i = 0; i < r.parts.size(); ++i)
      if (r.parts[i].blocks > 0) take(i, measured(r.parts[i]));
  };
  if (threads <= 1) {
    Meters meters(sizes, BlockMeter::line_budget / sizes.size(), reads, digests);
    Run r;
    while (reader.next(r)) {
      meters.measure(r);
      hand(r);
      if (progress) progress(reader.read(), reader.total());
    }
    return;
  }
  const unsigned count = std::min(threads, max_threads);
  std::vector<Run> ring(std::size_t{2} * count);
  Workers workers(ring, sizes, count, reads, digests);
  std::uint64_t filled = 0, taken = 0;
  std::uint64_t bytesTaken = 0;
  std::vector<std::uint64_t> bytesAt(ring.size());  // bytes read up to the end of each run
  bool more = true;
  for (;;) {
    if (more && filled - taken < ring.size()) {
      Run& r = ring[filled % ring.size()];
      more = reader.next(r);
      if (more) {
        bytesAt[filled % ring.size()] = reader.read();
        ++filled;
        workers.publish();
      }
      continue;
    }
    if (taken == filled) break;
    workers.await(taken);
    Run& r = ring[taken % ring.size()];
    if (r.error) std::rethrow_exception(r.error);
    hand(r);
    bytesTaken = bytesAt[taken % ring.size()];
    ++taken;
    if (progress) progress(bytesTaken, reader.total());
  }
}

}  // namespace

void measureRuns(int fd, int n, BlockSlice slice, unsigned threads,
                 const std::function<void(const MeasuredRun&)>& take, const BlockProgress& progress,
                 unsigned reads, const DigestMaker& digests) {
  hard_assert(n >= 1 && n <= 4096, "n>=1&&n<=4096");
  RunReader reader(fd, n, slice);
  const int sizes[] = {n};
  measureWith(reader, sizes, threads, [&](std::size_t, const MeasuredRun& r) { take(r); }, progress, reads,
              digests);
}

void measureSizes(int fd, std::span<const int> sizes, unsigned threads,
                  const std::function<void(std::size_t, const MeasuredRun&)>& take, const BlockProgress& progress,
                  unsigned reads, const DigestMaker& digests) {
  hard_assert(!sizes.empty(), "!sizes.empty()");
  for (int n : sizes) hard_assert(n >= 1 && n <= 4096, "n>=1&&n<=4096");
  SizesReader reader(fd, sizes);
  measureWith(reader, sizes, threads, take, progress, reads, digests);
}

}  // namespace lumbra
