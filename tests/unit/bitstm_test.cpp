#include "bitstm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kova/exception.h"
#include "kova/file.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::BitReader;

namespace {

using bits = std::vector<bool>;
using lumbra_test::recording_probe;

bits B(const char* s) {
  bits v;
  for (; *s; ++s) v.push_back(*s == '1');
  return v;
}

// A byte source standing in for a file: each read hands out at most `piece`
// bytes (a pipe that delivers small pieces; 0 for no limit), and the read
// numbered `fail_at` (from 1) fails as a read on a closed descriptor does.
class source final : public kova::file {
 public:
  source(mem_pool& pool, std::string bytes, int pieceSize = 0)
      : kova::file(pool), data(std::move(bytes)), piece(pieceSize) {}
  int tryRead(void* buf, int n) override {
    ++requests;
    if (requests == fail_at) return kova::file::tryRead(buf, n);  // closed: fails, code 8
    kova::file::tryRead(buf, 0);  // clears the error code
    int m = std::min<int>(n, static_cast<int>(data.size() - pos));
    if (piece > 0) m = std::min(m, piece);
    std::memcpy(buf, data.data() + pos, static_cast<std::size_t>(m));
    pos += static_cast<std::size_t>(m);
    return m;
  }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }

  std::string data;
  std::size_t pos = 0;
  int piece;
  int requests = 0;
  int fail_at = 0;
};

bits bits_of(const std::string& bytes) {
  bits all;
  for (char c : bytes)
    for (int b = 7; b >= 0; --b) all.push_back((static_cast<unsigned char>(c) >> b) & 1);
  return all;
}

// Reads the whole source in blocks of n and checks them against the bit
// stream cut plainly: n bits each, the rest last, then an empty block.
void expect_blocks(BitReader& reader, const std::string& bytes, int n) {
  const std::vector<bool> all = bits_of(bytes);
  std::vector<bool> vb;
  for (std::size_t at = 0; at < all.size(); at += static_cast<std::size_t>(n)) {
    reader.read(n, vb);
    const std::size_t len = std::min(all.size() - at, static_cast<std::size_t>(n));
    ASSERT_EQ(vb, std::vector<bool>(all.begin() + at, all.begin() + at + len)) << "block at bit " << at;
  }
  reader.read(n, vb);
  EXPECT_TRUE(vb.empty());
  reader.read(n, vb);
  EXPECT_TRUE(vb.empty());
}

std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class BitReaderTest : public ::testing::Test {
 protected:
  // A temporary file holding `bytes`, opened for reading.
  kova::file& open_with(const std::string& bytes) {
    char name[] = "/tmp/lumbra-bitstm-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    path = name;
    in.emplace(pool, kova::ch_range(name), kova::rd, 0);
    return *in;
  }
  // The blocks of size n up to and including the first empty one.
  std::vector<bits> blocks(BitReader& r, int n) {
    std::vector<bits> out;
    bits vb;
    do {
      r.read(n, vb);
      out.push_back(vb);
    } while (!vb.empty() && out.size() < 100000);
    return out;
  }
  void TearDown() override {
    in.reset();
    if (!path.empty()) unlink(path.c_str());
    EXPECT_EQ(probe.live_blocks(), 0u);
  }

  mem_pool pool{16384, 1024};
  lumbra_test::recording_probe probe{pool};
  std::optional<kova::file> in;  // destroyables are never deleted
  std::string path;
};

TEST_F(BitReaderTest, BlocksCarryTheBitsThatAByteBoundaryCuts) {
  struct row {
    std::string bytes;
    int n;
    std::vector<bits> expected;
  } rows[] = {
      {"\x0f\x55", 8, {B("00001111"), B("01010101"), B("")}},
      {"\x0f\x55", 5, {B("00001"), B("11101"), B("01010"), B("1"), B("")}},
      {"\xa5", 3, {B("101"), B("001"), B("01"), B("")}},
      {"\xa5\x3c\xff", 10, {B("1010010100"), B("1111001111"), B("1111"), B("")}},
      {"", 8, {B("")}},
      {"\x80", 1, {B("1"), B("0"), B("0"), B("0"), B("0"), B("0"), B("0"), B("0"), B("")}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.n);
    BitReader reader(open_with(r.bytes));
    EXPECT_EQ(blocks(reader, r.n), r.expected);
    in.reset();
    unlink(path.c_str());
    path.clear();
  }
}

TEST_F(BitReaderTest, ExhaustedStreamKeepsGivingEmptyBlocks) {
  BitReader reader(open_with("\xff"));
  bits vb;
  reader.read(8, vb);
  EXPECT_EQ(vb.size(), 8u);
  for (int i = 0; i < 3; ++i) {
    reader.read(8, vb);
    EXPECT_TRUE(vb.empty());
  }
}

TEST_F(BitReaderTest, PipeDeliveringSmallPiecesStillGivesWholeBlocks) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string data = "\x0f\x55\xd0\x01\x02\x03\x04";
  std::thread writer([&] {
    for (char c : data) {
      EXPECT_EQ(write(fds[1], &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(fds[1]);
  });
  kova::file end(pool, fds[0]);
  BitReader reader(end);
  std::vector<bits> got = blocks(reader, 24);
  writer.join();
  close(fds[0]);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].size(), 24u);
  EXPECT_EQ(got[1].size(), 24u);
  EXPECT_EQ(got[2].size(), 8u);  // 56 bits in all
  EXPECT_TRUE(got[3].empty());
  EXPECT_EQ(got[0], B("000011110101010111010000"));
}

TEST_F(BitReaderTest, FailedReadRaisesLeavesTheBlockEmptyAndKeepsCarriedBits) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "\xa5", 1), 1);
  kova::file src(pool, fds[0]);
  BitReader reader(src);
  bits vb;
  reader.read(5, vb);  // 10100, carrying 101
  EXPECT_EQ(vb, B("10100"));

  int dir = open("/tmp", O_RDONLY);  // reading a directory fails
  ASSERT_GE(dir, 0);
  src.attach(dir);
  try {
    reader.read(8, vb);
    ADD_FAILURE() << "no exception";
  } catch (const kova::sh_ptr<kova::Exception>& e) {
    auto* fe = dynamic_cast<kova::FileErrorException*>(e.get());
    ASSERT_NE(fe, nullptr);
    EXPECT_EQ(fe->errorCode, 31);
  }
  EXPECT_TRUE(vb.empty());

  src.attach(fds[0]);
  ASSERT_EQ(write(fds[1], "\xff", 1), 1);
  close(fds[1]);
  reader.read(8, vb);
  EXPECT_EQ(vb, B("10111111"));  // the carried 101, then the new byte
  close(dir);
  close(fds[0]);
}

// Blocks stay whole whatever pieces the source delivers, across many
// refills of the read-ahead buffer.
TEST_F(BitReaderTest, PiecesOfAnySizeGiveTheStreamAcrossRefills) {
  const std::string bytes = random_bytes(150000, 7);
  for (int n : {7, 8, 64, 2047, 2048}) {
    for (int piece : {1, 3, 1000, 0}) {
      SCOPED_TRACE("n=" + std::to_string(n) + " piece=" + std::to_string(piece));
      source src(pool, bytes, piece);
      BitReader reader(src);
      expect_blocks(reader, bytes, n);
    }
  }
}

TEST_F(BitReaderTest, ReadsAheadInLargeRequests) {
  const std::string bytes = random_bytes(200000, 8);
  source src(pool, bytes);
  BitReader reader(src);
  expect_blocks(reader, bytes, 8);
  // 64 KiB per request and the reads of 0 bytes at the end; not one per block.
  EXPECT_LE(src.requests, 200000 / 65536 + 4);
}

TEST_F(BitReaderTest, BlockLongerThanTheBuffer) {
  const std::string bytes = random_bytes(200000, 9);
  source src(pool, bytes, 4096);
  BitReader reader(src);
  expect_blocks(reader, bytes, 600001);
}

TEST_F(BitReaderTest, FailedReadInTheMiddleOfABlockLosesNoBits) {
  const std::string bytes = random_bytes(40, 10);
  source src(pool, bytes, 3);
  BitReader reader(src);
  std::vector<bool> vb;
  reader.read(5, vb);  // the first 3 bytes; 19 bits stay behind
  src.fail_at = src.requests + 2;
  try {
    reader.read(64, vb);
    FAIL() << "the failed read did not raise";
  } catch (const kova::sh_ptr<kova::Exception>& e) {
    EXPECT_EQ(std::string(e->message->data(), e->message->size()), "Can't read from file");
  }
  EXPECT_TRUE(vb.empty());
  // The stream goes on where the last whole block ended.
  std::vector<bool> all = bits_of(bytes), rest;
  reader.read(1000, rest);
  EXPECT_EQ(rest, std::vector<bool>(all.begin() + 5, all.end()));
}

// Blocks of any length written one after the other, flushed at random
// points: the bytes are the bits packed by a plain loop, the last byte padded
// with zeros, and the sink sees them in order.
TEST(BitWriterTest, PacksBlocksWithoutGapsLikeAPlainLoop) {
  struct memory_sink final : lumbra::ByteSink {
    std::vector<unsigned char> bytes;
    void put(const unsigned char* p, std::size_t n) override { bytes.insert(bytes.end(), p, p + n); }
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    memory_sink sink;
    lumbra::BitWriter writer(sink);
    bits all;
    const int blocks = static_cast<int>(rng() % 40);
    for (int b = 0; b < blocks; ++b) {
      bits vb(rng() % 300);
      for (std::size_t i = 0; i < vb.size(); ++i) vb[i] = (rng() & 1) != 0;
      writer.write(vb);
      all.insert(all.end(), vb.begin(), vb.end());
      if (rng() % 5 == 0) writer.flush();
    }
    EXPECT_EQ(writer.bits(), all.size());
    writer.finish();
    std::vector<unsigned char> want((all.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < all.size(); ++i)
      if (all[i]) want[i / 8] = static_cast<unsigned char>(want[i / 8] | (0x80u >> (i % 8)));
    EXPECT_EQ(sink.bytes, want);
  }
}

// A source whose read breaks its contract: a negative count without an error.
class negative_source final : public kova::file {
 public:
  using kova::file::file;
  int tryRead(void*, int) override { return -2; }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
};

TEST(BitReaderDeathTest, ContractViolationsStop) {
  mem_pool pool(16384, 1024);
  negative_source src(pool);
  BitReader reader(src);
  bits vb;
  EXPECT_DEATH(reader.read(0, vb), "Hard assertion failed: n>0, file common/bitstm.cpp, line 42\n");
  EXPECT_DEATH(reader.read(8, vb), "Hard assertion failed: n3>=0, file common/bitstm.cpp, line 53\n");
}

}  // namespace
