#include "coding/coded_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "memory_bytes.h"

using lumbra::CorruptStream;
using Bytes = std::vector<unsigned char>;
using lumbra_test::memory_sink;
using lumbra_test::memory_source;

namespace {

Bytes encode(const Bytes& in, int n, std::size_t piece = 1 << 20) {
  lumbra::SuffixCache cache(64 << 20);
  memory_source src(in, piece);
  memory_sink out;
  lumbra::CodedHeader h;
  const lumbra::CodingStats s = lumbra::encodeStream(src, out, n, cache, h);
  std::copy(h.begin(), h.end(), out.bytes.begin());
  EXPECT_EQ(s.inputBytes, in.size());
  EXPECT_EQ(s.headerBits + s.payloadBits, 8 * out.bytes.size());
  return out.bytes;
}

Bytes decode(const Bytes& in, std::size_t piece = 1 << 20) {
  lumbra::SuffixCache cache(64 << 20);
  memory_source src(in, piece);
  memory_sink out;
  lumbra::decodeStream(src, out, cache);
  return out.bytes;
}

std::string decodeError(const Bytes& in) {
  try {
    decode(in);
  } catch (const CorruptStream& e) {
    return e.what();
  }
  return "no error";
}

// Inputs of every length class (empty, one byte, lengths that end in a
// partial block) with block sizes from 1 to the largest, read in pieces of
// one byte and whole: decode gives every byte back.
TEST(CodedStream, RoundTrips) {
  std::mt19937_64 rng(3);
  for (int round = 0; round < 60; ++round) {
    const std::size_t len = round < 3 ? static_cast<std::size_t>(round) : rng() % 3000;
    // NOTE: n = 4096 only for bytes of few one bits: a random block of 4096
    // bits needs a table of about 90 MiB.
    const int n = round % 5 == 0 ? 4096 : 1 + static_cast<int>(rng() % 700);
    const unsigned density = n == 4096 ? 3 : static_cast<unsigned>(rng() % 4);
    Bytes in(len);
    for (auto& c : in) c = static_cast<unsigned char>(density == 3 ? (rng() % 64 == 0) : density == 0 ? rng() : rng() & rng() & (density == 1 ? rng() : 0xFF));
    const Bytes coded = encode(in, n, round % 2 ? 1 : 1 << 20);
    EXPECT_EQ(decode(coded, round % 3 ? 1 << 20 : 1), in) << round << " n=" << n << " len=" << len;
  }
}

// Each way a stream can be wrong is refused; every proper prefix of a stream
// is, and so is a stream with a bit flipped anywhere in its coded data.
TEST(CodedStream, RefusesInvalidStreams) {
  Bytes in(200);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 37 + 11);
  const Bytes good = encode(in, 64);
  ASSERT_EQ(decode(good), in);

  // The wrong magic number, a newer version, a checksum mismatch and trailing
  // bytes are refused with their texts end to end in kit_decode_errors.
  Bytes b = good;
  b[5] = 0x20;  // block size 8256
  EXPECT_EQ(decodeError(b), "block size 8256 is out of range 1..4096");
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    b.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_NE(decodeError(b), "no error") << cut;
  }
  // Flipped bits anywhere in the coded data: refused, never a crash.
  for (std::size_t i = lumbra::coded_header_bytes; i < good.size(); ++i) {
    b = good;
    b[i] ^= 0x10;
    EXPECT_NE(decodeError(b), "no error") << i;
  }
}

// A stream made by hand whose one block of 32 bits, k = 16 and d = 32, has
// an index above C(32, 16, 32) = C(32, 16) = 601080390: the largest top digit
// (below 36688, the top of 601080389 >> 14) and 14 one bits.
TEST(CodedStream, RefusesAnIndexNotBelowItsCount) {
  Bytes s = {0x89, 'L', 'K', 'C', 1, 0, 32, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 0};
  lumbra::RangeEncoder enc;
  lumbra::FrequencyModel k(33), d(33);
  k.encode(enc, 16);
  d.encode(enc, 32);
  enc.encode(36687, 1, 36688);
  enc.encodeBits(16383, 14);
  enc.finish();
  Bytes coded;
  enc.take(coded);
  s.insert(s.end(), coded.begin(), coded.end());
  EXPECT_EQ(decodeError(s), "block 0: the index is not below its count C(m, k, d)");
}

}  // namespace
