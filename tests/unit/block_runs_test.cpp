#include "reading/block_runs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "triangle/bitstm.h"
#include "kova/file.h"
#include "triangle/trian.h"

namespace {

using lumbra::BlockSlice;

// A block as the test sees it: its index, length, ones and deviation.
struct Block {
  std::uint64_t index;
  int length, ones, deviation;
  bool operator==(const Block&) const = default;
};

// The blocks of `path` as the plain reader cuts them, measured by walkStats.
std::vector<Block> reference(const std::string& path, int n) {
  kova::mem_pool pool(16384, 1024);
  kova::file in(pool, kova::ch_range(path.c_str()), kova::rd, 0);
  lumbra::BitReader reader(in);
  std::vector<Block> out;
  std::vector<bool> vb;
  for (std::uint64_t i = 0;; ++i) {
    reader.read(n, vb);
    if (vb.empty()) return out;
    Block b{i, static_cast<int>(vb.size()), 0, 0};
    lumbra::walkStats(vb, b.ones, b.deviation);
    out.push_back(b);
  }
}

std::vector<Block> measured(int fd, int n, BlockSlice slice, unsigned threads) {
  std::vector<Block> out;
  lumbra::measureRuns(fd, n, slice, threads, [&](const lumbra::MeasuredRun& run) {
    for (std::size_t i = 0; i < run.blocks.size(); ++i)
      out.push_back({run.first + i, run.length(i), run.blocks[i].ones, run.blocks[i].deviation()});
  });
  return out;
}

// What a worker made of a run: its first block, blocks and ones.
class Tally final : public lumbra::RunDigest {
 public:
  void digest(const lumbra::MeasuredRun& run) override {
    first = run.first;
    blocks = run.blocks.size();
    ones = 0;
    for (const lumbra::BlockShape& b : run.blocks) ones += static_cast<std::uint64_t>(b.ones);
  }
  std::uint64_t first = 0, blocks = 0, ones = 0;
};

// Each size's blocks from one reading of several sizes; the runs of every
// other size digested by the workers, and each digest the run's own.
std::vector<std::vector<Block>> measuredSizes(int fd, const std::vector<int>& sizes, unsigned threads) {
  std::vector<std::vector<Block>> out(sizes.size());
  const lumbra::DigestMaker tallies = [](std::size_t s) -> std::unique_ptr<lumbra::RunDigest> {
    return s % 2 == 0 ? std::make_unique<Tally>() : nullptr;
  };
  lumbra::measureSizes(fd, sizes, threads, [&](std::size_t s, const lumbra::MeasuredRun& run) {
    EXPECT_EQ(run.n, sizes[s]);
    std::uint64_t ones = 0;
    for (std::size_t i = 0; i < run.blocks.size(); ++i) {
      out[s].push_back({run.first + i, run.length(i), run.blocks[i].ones, run.blocks[i].deviation()});
      ones += static_cast<std::uint64_t>(run.blocks[i].ones);
    }
    ASSERT_EQ(run.digest != nullptr, s % 2 == 0);
    if (const auto* t = dynamic_cast<const Tally*>(run.digest)) {
      EXPECT_EQ(t->first, run.first);
      EXPECT_EQ(t->blocks, run.blocks.size());
      EXPECT_EQ(t->ones, ones);
    }
  }, {}, false, tallies);
  return out;
}

// Random files, block sizes (most not a multiple of 8), slices and thread
// counts: the measures equal the plain reader's, whatever the threads.
TEST(BlockRuns, SlicesAndThreadsMeasureAsThePlainReader) {
  std::mt19937_64 rng(14);
  // The process id in the name: other builds may run this test at the same time.
  const std::string path = ::testing::TempDir() + "block_runs_test." + std::to_string(::getpid()) + ".bin";
  for (int round = 0; round < 40; ++round) {
    const int n = round % 5 == 0 ? 4096 : static_cast<int>(rng() % 300) + 1;
    // Biased bytes now and then, so that k strays far from m/2.
    const unsigned bias = round % 3 == 0 ? 0xf0u : 0;
    std::string data(rng() % (round % 4 == 0 ? 3000000 : 5000), '\0');
    for (char& c : data) c = static_cast<char>((rng() | bias) & 0xff);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    const std::vector<Block> whole = reference(path, n);
    const std::uint64_t blocks = whole.size();
    BlockSlice slice;
    if (round % 2 == 1) {
      slice.first = rng() % (blocks + 3);
      slice.count = rng() % (blocks + 3);
    }
    const std::uint64_t from = std::min(slice.first, blocks);
    const std::vector<Block> want(whole.begin() + static_cast<std::ptrdiff_t>(from),
                                         whole.begin() + static_cast<std::ptrdiff_t>(std::min(blocks, from + std::min(slice.count, blocks))));
    const unsigned threads = static_cast<unsigned>(round % 4) + 1;
    SCOPED_TRACE("n=" + std::to_string(n) + " bytes=" + std::to_string(data.size()) + " first=" +
                 std::to_string(slice.first) + " count=" + std::to_string(slice.count) + " threads=" + std::to_string(threads));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(measured(fd, n, slice, threads) == want);
    ::close(fd);

    // Several sizes in one reading, each cut as it is alone: through the
    // file or through a pipe that delivers odd pieces.
    if (round % 2 == 0) {
      // One of the sizes measured in vector lanes where the processor has them.
      std::vector<int> sizes = {n, static_cast<int>(rng() % 4096) + 1, static_cast<int>(rng() % 9) + 1, 64 << (round % 3)};
      if (n == sizes[3]) sizes.pop_back();
      std::vector<std::vector<Block>> wants = {whole};
      for (std::size_t s = 1; s < sizes.size(); ++s) wants.push_back(reference(path, sizes[s]));
      int p[2] = {-1, -1};
      std::thread writer;
      if (round % 4 == 2) {
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(::pipe(p), 0);
        writer = std::thread([&] {
          for (std::size_t at = 0; at < data.size();) {
            const std::size_t piece = std::min<std::size_t>(data.size() - at, rng() % 777 + 1);
            if (::write(p[1], data.data() + at, piece) < 0) break;
            at += piece;
          }
          ::close(p[1]);
        });
      }
      const int in = p[0] >= 0 ? p[0] : ::open(path.c_str(), O_RDONLY);
      ASSERT_GE(in, 0);
      const auto got = measuredSizes(in, sizes, threads);
      for (std::size_t s = 0; s < sizes.size(); ++s) EXPECT_TRUE(got[s] == wants[s]) << "size " << sizes[s];
      ::close(in);
      if (writer.joinable()) writer.join();
    }

    // Once through a pipe that delivers odd pieces: the slice is skipped by reading.
    if (round % 8 == 1) {
      std::signal(SIGPIPE, SIG_IGN);
      int p[2];
      ASSERT_EQ(::pipe(p), 0);
      std::thread writer([&] {
        for (std::size_t at = 0; at < data.size();) {
          const std::size_t piece = std::min<std::size_t>(data.size() - at, rng() % 777 + 1);
          if (::write(p[1], data.data() + at, piece) < 0) break;
          at += piece;
        }
        ::close(p[1]);
      });
      EXPECT_TRUE(measured(p[0], n, slice, threads) == want);
      // A slice that ends early leaves the writer to a closed pipe.
      ::close(p[0]);
      writer.join();
    }
  }
  std::remove(path.c_str());
}

}  // namespace
