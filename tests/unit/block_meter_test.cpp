#include "reading/block_meter.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "triangle/trian.h"

namespace {

// The fast path, both alignments and blocks of other lengths, against
// walkStats on the same bits as a vector<bool>.
TEST(BlockMeterTest, EqualsWalkStatsOnRandomBlocks) {
  std::mt19937 rng(7);
  std::vector<unsigned char> bytes(4096 / 8 + 2);
  for (int round = 0; round < 3000; ++round) {
    // Short blocks often, every length now and then; some bytes all ones
    // or zeros, so that k reaches 0, m and the large deviations.
    const int n = round % 10 == 0 ? 1 + static_cast<int>(rng() % 4096) : 1 + static_cast<int>(rng() % 300);
    const int m = round % 7 == 0 ? 1 + static_cast<int>(rng() % static_cast<unsigned>(n)) : n;
    const int bit = static_cast<int>(rng() % 8);
    const unsigned bias = rng() % 4;
    for (unsigned char& b : bytes) b = bias == 0 ? 0 : bias == 1 ? 0xff : static_cast<unsigned char>(rng());
    if (bias < 2) bytes[rng() % bytes.size()] ^= static_cast<unsigned char>(rng());

    std::vector<bool> vb;
    vb.reserve(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) vb.push_back((bytes[static_cast<std::size_t>((bit + i) / 8)] >> (7 - (bit + i) % 8)) & 1);
    int k = 0, d = 0;
    lumbra::walkStats(vb, k, d);
    lumbra::BlockMeter meter(n);
    const lumbra::BlockMeasure got = meter.measure(bytes.data(), bit, m);
    ASSERT_EQ(got.ones, k) << "n " << n << " m " << m << " bit " << bit;
    ASSERT_EQ(got.deviation, d) << "n " << n << " m " << m << " bit " << bit;
  }
}

// A run of blocks is cut as the bit stream cuts it: block i starts at bit
// i * n, whatever the byte boundaries.
TEST(BlockMeterTest, RunsCutAtMultiplesOfTheBlockSize) {
  const std::vector<unsigned char> bytes = {0x0f, 0x55, 0xd0, 0xa5, 0x3c};
  lumbra::BlockMeter meter(5);
  std::vector<int> seen;
  lumbra::measureBlocks(meter, bytes.data(), 3, 5, 7, [&](int m, lumbra::BlockMeasure b) {
    EXPECT_EQ(m, 5);
    seen.push_back(b.ones);
  });
  // bits from 3: 01111 01010 10111 01000 01010 01010 01111 (then 00)
  EXPECT_EQ(seen, (std::vector<int>{4, 2, 4, 1, 2, 2, 4}));
}

// The shape of the block of m bits at bits[bit..) of bytes by a plain loop
// over its bits: the walk against the line x(2k - m)/m, the runs by
// neighbours that differ.
lumbra::BlockShape plainShape(const unsigned char* bytes, int bit, int m) {
  auto at = [&](int i) { return (bytes[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1; };
  lumbra::BlockShape want{0, 0, 0, 1, 0, at(0), at(m - 1)};
  for (int i = 0; i < m; ++i) want.ones += at(i);
  long w = 0;
  for (int i = 0, run = 0; i < m; ++i) {
    w += at(i) ? 1 : -1;
    const long line = (i + 1L) * (2L * want.ones - m) / m;
    want.up = std::max(want.up, static_cast<int>(w - line));
    want.down = std::max(want.down, static_cast<int>(line - w));
    run = i > 0 && at(i) == at(i - 1) ? run + 1 : 1;
    want.runs += i > 0 && at(i) != at(i - 1);
    want.longestRun = std::max(want.longestRun, run);
  }
  return want;
}

// Bytes of every kind: random, sticky (long runs across bytes), all ones
// or zeros with a flaw, alternating.
void fillKind(std::mt19937& rng, unsigned kind, unsigned char* bytes, std::size_t count) {
  unsigned char last = 0;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char& b = bytes[i];
    if (kind == 0) b = static_cast<unsigned char>(rng());
    else if (kind == 1) b = rng() % 3 ? last : static_cast<unsigned char>(rng());
    else if (kind == 2) b = 0xff;
    else if (kind == 3) b = 0x55;
    else b = 0;
    last = b;
  }
  if (kind >= 2) bytes[rng() % count] ^= static_cast<unsigned char>(rng());
}

// The shape of blocks of the meter's size (the byte tables, both
// alignments) and of other sizes against the plain loop.
TEST(BlockMeterTest, ShapeEqualsAPlainLoopOverTheBits) {
  std::mt19937 rng(22);
  std::vector<unsigned char> bytes(4096 / 8 + 2);
  for (int round = 0; round < 3000; ++round) {
    const int n = round % 10 == 0 ? 1 + static_cast<int>(rng() % 4096) : 1 + static_cast<int>(rng() % 300);
    const int m = round % 7 == 0 ? 1 + static_cast<int>(rng() % static_cast<unsigned>(n)) : n;
    const int bit = static_cast<int>(rng() % 8);
    const unsigned kind = rng() % 4;
    fillKind(rng, kind, bytes.data(), bytes.size());
    const lumbra::BlockShape want = plainShape(bytes.data(), bit, m);
    lumbra::BlockMeter meter(n);
    const lumbra::BlockShape got = meter.shape(bytes.data(), bit, m);
    ASSERT_EQ(got, want) << "n " << n << " m " << m << " bit " << bit << " kind " << kind;
    ASSERT_EQ(meter.measure(bytes.data(), bit, m).deviation, want.deviation());
  }
}

// Many blocks at once (in lanes, 64 at a time, where the size and the
// processor allow) against the plain loop: each block of its own kind, so
// that the lanes of a group differ, from k = 0 to k = m.
TEST(BlockMeterTest, ShapesOfManyBlocksEqualThePlainLoop) {
  std::mt19937 rng(23);
  for (int round = 0; round < 120; ++round) {
    const int sizes[] = {64, 128, 256, 8, 72, 1024};
    const int n = sizes[round % 6];
    const std::size_t count = 1 + rng() % 200, blockBytes = static_cast<std::size_t>(n) / 8;
    std::vector<unsigned char> bytes(count * blockBytes);
    for (std::size_t b = 0; b < count; ++b) fillKind(rng, static_cast<unsigned>(rng() % 5), bytes.data() + b * blockBytes, blockBytes);
    lumbra::BlockMeter meter(n, lumbra::BlockMeter::line_budget, false);
    std::vector<lumbra::BlockShape> got(count);
    meter.shapes(bytes.data(), count, got.data());
    for (std::size_t b = 0; b < count; ++b) {
      lumbra::BlockShape want = plainShape(bytes.data() + b * blockBytes, 0, n);
      want.longestRun = 0;
      ASSERT_EQ(got[b], want) << "n " << n << " block " << b << " of " << count;
    }
  }
}

}  // namespace
