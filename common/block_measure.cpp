#include "block_measure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
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

// Eight steps of a walk at once, in GCC's portable vector extension.
using Steps = std::int16_t __attribute__((vector_size(16)));

// The walk after 1..8 bits of each byte, most significant bit first, and
// the same walk mirrored.
struct PrefixWalks {
  Steps up[256];
  Steps down[256];
};
const PrefixWalks prefix_walks = [] {
  PrefixWalks t{};
  for (int b = 0; b < 256; ++b) {
    int w = 0;
    for (int j = 0; j < 8; ++j) {
      w += (b >> (7 - j)) & 1 ? 1 : -1;
      t.up[b][j] = static_cast<std::int16_t>(w);
      t.down[b][j] = static_cast<std::int16_t>(-w);
    }
  }
  return t;
}();

// The `count` (1..8) bits at bit position `bit` of bytes, as the high bits of
// a byte; reads no byte beyond the last of those bits.
inline unsigned char bitsAt(const unsigned char* bytes, std::uint64_t bit, int count) {
  const std::uint64_t i = bit >> 3;
  const int s = static_cast<int>(bit & 7);
  unsigned v = static_cast<unsigned>(bytes[i]) << 8;
  if (s + count > 8) v |= bytes[i + 1];
  return static_cast<unsigned char>((v >> (8 - s)) & (0xff00u >> count));
}

// The one bits of a word.
// NOTE: by hand, since std::popcount becomes a library call on the baseline
// x86-64 that has no popcnt instruction.
inline int ones(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

}  // namespace

// The center lines met so far, direct-mapped by k, and the block's bytes
// moved to a byte boundary.
struct BlockMeter::Lines {
  static constexpr std::size_t slots = 512;
  static constexpr std::size_t budget = 1 << 20;  // bytes of lines held at most
  struct Line {
    int m = 0, k = -1;
    // |L(x)| for x = 1..m at [x - 1].
    std::vector<std::int16_t> at;
  };
  std::vector<Line> line{slots};
  std::size_t held = 0;
  std::vector<unsigned char> bits;

  const std::int16_t* get(int m, int k) {
    Line& l = line[static_cast<std::size_t>(k) % slots];
    if (l.m == m && l.k == k) return l.at.data();
    const std::size_t bytes = static_cast<std::size_t>(m) * sizeof(std::int16_t);
    if (held - l.at.capacity() * sizeof(std::int16_t) + bytes > budget) {
      for (Line& o : line) std::vector<std::int16_t>().swap(o.at), o.k = -1;
      held = 0;
    }
    held -= l.at.capacity() * sizeof(std::int16_t);
    l.at.resize(static_cast<std::size_t>(m));
    held += l.at.capacity() * sizeof(std::int16_t);
    l.m = m;
    l.k = k;
    const std::int64_t step = std::abs(2 * std::int64_t{k} - m);
    for (int x = 1; x <= m; ++x) l.at[static_cast<std::size_t>(x - 1)] = static_cast<std::int16_t>(x * step / m);
    return l.at.data();
  }
};

BlockMeter::BlockMeter() : lines_(new Lines) {}
BlockMeter::~BlockMeter() { delete lines_; }

void BlockMeter::measure(const unsigned char* bytes, std::uint64_t offset, int m, int& k, int& d) {
  hard_assert(m>=1&&m<=max_block);
  const std::size_t whole = static_cast<std::size_t>(m / 8);
  const int tail = m % 8;
  std::vector<unsigned char>& b = lines_->bits;
  b.resize(whole + 1);
  if (offset % 8 == 0) {
    std::memcpy(b.data(), bytes + offset / 8, whole);
  } else {
    for (std::size_t i = 0; i < whole; ++i) b[i] = bitsAt(bytes, offset + 8 * i, 8);
  }
  b[whole] = tail > 0 ? bitsAt(bytes, offset + 8 * whole, tail) : 0;
  k = 0;
  std::size_t i = 0;
  for (; i + 8 <= b.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, b.data() + i, 8);
    k += ones(word);
  }
  for (; i < b.size(); ++i) k += ones(b[i]);

  // The walk against |L(x)|, mirrored when the line falls: |w - L| = |(-w) - |L||.
  const std::int16_t* line = lines_->get(m, k);
  const Steps* walks = 2 * k < m ? prefix_walks.down : prefix_walks.up;
  Steps hi{}, lo{};
  std::int16_t base = 0;
  for (std::size_t j = 0; j < whole; ++j) {
    const unsigned char c = b[j];
    Steps l;
    std::memcpy(&l, line + 8 * j, sizeof l);
    const Steps diff = walks[c] + base - l;
    hi = hi > diff ? hi : diff;
    lo = lo < diff ? lo : diff;
    base = static_cast<std::int16_t>(base + walks[c][7]);
  }
  int top = 0, bottom = 0;
  for (int j = 0; j < 8; ++j) {
    top = std::max<int>(top, hi[j]);
    bottom = std::min<int>(bottom, lo[j]);
  }
  for (int j = 0; j < tail; ++j) {
    const int diff = base + walks[b[whole]][j] - line[8 * whole + static_cast<std::size_t>(j)];
    top = std::max(top, diff);
    bottom = std::min(bottom, diff);
  }
  d = std::max(top, -bottom);
}

namespace {

[[noreturn]] void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Reads up to n bytes, retrying after a signal: the count, 0 at the end.
std::size_t readSome(int fd, unsigned char* p, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, p, n);
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR) throwErrno("read");
  }
}

// One run of blocks: the bytes they lie in, and their measures once taken.
struct Run {
  std::vector<unsigned char> bytes;
  std::uint64_t offset = 0;  // bits of bytes[0] before the first block: 0..7
  std::uint64_t first = 0;   // the stream index of the first block
  std::size_t blocks = 0;
  int lastLength = 0;        // the length of the last block
  std::vector<BlockMeasure> measures;
  bool done = false;         // measured; guarded by the workers' mutex
  std::exception_ptr error;  // what measuring threw
};

void measureRun(Run& r, int n, BlockMeter& meter) {
  for (std::size_t i = 0; i < r.blocks; ++i) {
    BlockMeasure& b = r.measures[i];
    b.index = r.first + i;
    b.length = i + 1 == r.blocks ? r.lastLength : n;
    meter.measure(r.bytes.data(), r.offset + i * static_cast<std::uint64_t>(n), b.length, b.ones, b.deviation);
  }
}

// Cuts the stream into runs: every block whole except the stream's last.
class RunReader {
 public:
  RunReader(int fd, int n, BlockSlice slice) : fd_(fd), n_(n), left_(slice.count), next_(slice.first) {
    // NOTE: about 512 KiB of bits a run, and at most 8192 blocks, so that the
    // measures of a run stay as small as its bytes.
    runBlocks_ = std::clamp<std::uint64_t>((std::uint64_t{1} << 22) / static_cast<unsigned>(n), 1, 8192);
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
    std::memcpy(r.bytes.data(), carry_.data(), carry_.size());
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
    r.offset = offset_;
    r.first = next_;
    r.blocks = blocks;
    r.lastLength = last;
    r.measures.resize(blocks);
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
    std::vector<unsigned char> sink(64 * 1024);
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

// The worker threads and the ring of runs they measure.
class Workers {
 public:
  Workers(std::vector<Run>& ring, int n, unsigned count) : ring_(ring), n_(n) {
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
    std::unique_ptr<BlockMeter> meter;
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
        if (!meter) meter = std::make_unique<BlockMeter>();
        measureRun(r, n_, *meter);
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
  int n_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a run to measure, or stop
  std::condition_variable done_;  // a run measured
  std::uint64_t filled_ = 0;      // runs handed to the workers
  std::uint64_t taken_ = 0;       // runs a worker has started on
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

void measureBlocks(int fd, int n, BlockSlice slice, unsigned threads,
                   const std::function<void(std::span<const BlockMeasure>)>& take,
                   const BlockProgress& progress) {
  hard_assert(n>=1&&n<=BlockMeter::max_block);
  RunReader reader(fd, n, slice);
  if (threads <= 1) {
    BlockMeter meter;
    Run r;
    while (reader.next(r)) {
      measureRun(r, n, meter);
      take(r.measures);
      if (progress) progress(reader.read(), reader.total());
    }
    return;
  }
  const unsigned count = std::min(threads, max_threads);
  std::vector<Run> ring(2 * count);
  Workers workers(ring, n, count);
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
    take(r.measures);
    bytesTaken = bytesAt[taken % ring.size()];
    ++taken;
    if (progress) progress(bytesTaken, reader.total());
  }
}

}  // namespace lumbra
