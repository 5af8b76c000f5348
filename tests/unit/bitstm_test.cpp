#include "bitstm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kova/exception.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::BitReader;
using lumbra_test::recording_probe;

namespace {

// A byte source standing in for a file: each read hands out at most `piece`
// bytes (a pipe that delivers small pieces; 0 for no limit), and the read
// numbered `fail_at` (from 1) fails as a read on a closed descriptor does.
class source final : public kova::file {
 public:
  source(mem_pool& pool, std::string data, int piece = 0) : kova::file(pool), data(std::move(data)), piece(piece) {}
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

std::vector<bool> bits_of(const std::string& bytes) {
  std::vector<bool> bits;
  for (char c : bytes)
    for (int b = 7; b >= 0; --b) bits.push_back((static_cast<unsigned char>(c) >> b) & 1);
  return bits;
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
  void TearDown() override { EXPECT_EQ(probe.live_blocks(), 0u); }

  mem_pool pool{16384, 1024};
  recording_probe probe{pool};
};

TEST_F(BitReaderTest, SmallFilesCutIntoBlocks) {
  struct row {
    std::string bytes;
    int n;
  } rows[] = {{"\x0F\x55", 8}, {"\x0F\x55", 5}, {"\xA5", 3}, {"abc", 10}, {"", 4}, {"\xFF", 1}, {"xy", 16}};
  for (const row& r : rows) {
    SCOPED_TRACE("n=" + std::to_string(r.n) + " size=" + std::to_string(r.bytes.size()));
    source src(pool, r.bytes);
    BitReader reader(src);
    expect_blocks(reader, r.bytes, r.n);
  }
}

// Blocks stay whole whatever pieces the source delivers, across many
// refills of the read-ahead buffer.
TEST_F(BitReaderTest, PipeInSmallPiecesGivesWholeBlocks) {
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

TEST_F(BitReaderTest, FailedReadRaisesAndLosesNoBits) {
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

}  // namespace
