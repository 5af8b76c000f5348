#include "triangle/bitstm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kova/exception.h"
#include "kova/file.h"
#include "memory_bytes.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::BitReader;

namespace {

using bits = std::vector<bool>;

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

using BitReaderTest = lumbra_test::pool_test;

// Blocks stay whole whatever pieces the source delivers, across many
// refills of the read-ahead buffer and for blocks longer than the buffer;
// the reader asks for 64 KiB at a time, not a request per block. The bytes
// of real files and pipes are pinned end to end by the showFile cases.
TEST_F(BitReaderTest, PiecesOfAnySizeGiveTheStreamAcrossRefills) {
  const std::string bytes = random_bytes(150000, 7);
  for (const std::string& in : {std::string(), std::string("\xa5"), bytes.substr(0, 3), bytes}) {
    for (int n : {1, 7, 8, 64, 2047, 2048, 600001}) {
      for (int piece : {1, 3, 1000, 0}) {
        if (n == 1 && in.size() > 3) continue;  // a million blocks add nothing
        SCOPED_TRACE("size=" + std::to_string(in.size()) + " n=" + std::to_string(n) +
                     " piece=" + std::to_string(piece));
        source src(pool, in, piece);
        BitReader reader(src);
        expect_blocks(reader, in, n);
        if (piece == 0) {
          EXPECT_LE(src.requests, static_cast<int>(in.size()) / 65536 + 4);
        }
      }
    }
  }
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
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    lumbra_test::memory_sink sink;
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
  EXPECT_DEATH(reader.read(0, vb), "Hard assertion failed: n>0, file common/triangle/bitstm.cpp, line 42\n");
  EXPECT_DEATH(reader.read(8, vb), "Hard assertion failed: n3>=0, file common/triangle/bitstm.cpp, line 53\n");
}

}  // namespace
