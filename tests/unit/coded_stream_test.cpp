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

Bytes decode(const Bytes& in, std::size_t piece = 1 << 20, bool sizeKnown = false) {
  lumbra::SuffixCache cache(64 << 20);
  memory_source src(in, piece);
  memory_sink out;
  lumbra::DecodeSettings settings;
  if (sizeKnown) settings.streamBytes = in.size();
  lumbra::decodeStream(src, out, cache, settings);
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

// The least cost of a block holds for every stream the encoder writes, and
// a decoder told the stream's size (or finding its end) never refuses one:
// degenerate inputs (zero bytes, whose blocks cost nearly the least, 0xFF,
// 0x55, bytes of one k each) and random bytes, at block sizes from 1 to the
// largest, read whole and in small pieces.
TEST(CodedStream, NeverRefusesWhatTheEncoderWrote) {
  std::mt19937_64 rng(21);
  const struct {
    const char* what;
    int fill;  // a byte, or -1 random
    std::size_t bytes;
  } inputs[] = {{"zeros", 0, 1 << 16}, {"ones", 0xFF, 1 << 14}, {"0x55", 0x55, 1 << 12},
                {"k = 4", 0x0F, 1 << 12}, {"k = 1", 0x01, 1 << 12}, {"random", -1, 1 << 11}};
  for (const auto& input : inputs) {
    for (const int n : {1, 2, 7, 64, 255, 1024, 4096}) {
      if (input.fill == -1 && n > 1024) continue;  // a table of about 90 MiB
      Bytes in(input.bytes);
      for (auto& c : in) c = static_cast<unsigned char>(input.fill >= 0 ? input.fill : static_cast<int>(rng() & 0xFF));
      const Bytes coded = encode(in, n);
      const std::uint64_t blocks = (8 * in.size() + static_cast<std::uint64_t>(n) - 1) / static_cast<std::uint64_t>(n);
      const double payload = static_cast<double>(coded.size() - lumbra::coded_header_bytes);
      const double least = static_cast<double>(blocks) * lumbra::leastBlockBits(n);
      EXPECT_LE(least, 8 * payload - 32) << input.what << " n=" << n;
      EXPECT_EQ(decode(coded, 1 << 20, true), in) << input.what << " n=" << n;
      EXPECT_EQ(decode(coded, 4093, false), in) << input.what << " n=" << n;
    }
  }
}

// A sink that refuses to take more than a few bytes: a decoder must find
// the forgery before it writes.
class tiny_sink final : public lumbra::ByteSink {
 public:
  void put(const unsigned char*, std::size_t n) override {
    written += n;
    if (written > limit) throw std::runtime_error("wrote " + std::to_string(written) + " bytes");
  }
  std::size_t written = 0;
  std::size_t limit = 4096;
};

// A header that claims 2^60 bytes before 100 KB of zero bytes (which decode
// to all-zero blocks at almost no cost): refused before a byte is written,
// whether the stream's size is told or found by reading ahead in pieces;
// and so is one that claims one block more than the bytes can hold.
TEST(CodedStream, RefusesAHeaderThatClaimsMoreThanItsBytesHold) {
  Bytes bomb = {0x89, 'L', 'K', 'C', 1, 0x10, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  bomb.resize(bomb.size() + std::size_t{100} * 1024, 0);
  const std::string refused =
      "the header's length of 1152921504606846976 bytes is more than 102400 bytes of coded data can hold";
  for (const bool sizeKnown : {true, false}) {
    lumbra::SuffixCache cache(64 << 20);
    memory_source src(bomb, 1000);
    tiny_sink out;
    lumbra::DecodeSettings settings;
    if (sizeKnown) settings.streamBytes = bomb.size();
    try {
      lumbra::decodeStream(src, out, cache, settings);
      ADD_FAILURE() << "decoded";
    } catch (const CorruptStream& e) {
      EXPECT_EQ(std::string(e.what()), refused);
    }
    EXPECT_EQ(out.written, 0u);
  }
  // The most blocks of 4096 bits that 1000 coded bytes can hold, and one
  // more: the claim above is refused at once, the one below is decoded (for
  // a while: zero bytes cost a little more than the least).
  const double most = 8 * (1000.0 - 4) / lumbra::leastBlockBits(4096);
  for (const std::uint64_t blocks : {static_cast<std::uint64_t>(most) + 1, static_cast<std::uint64_t>(most) - 1}) {
    Bytes s = {0x89, 'L', 'K', 'C', 1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) s[7 + i] = static_cast<unsigned char>((blocks * 4096) >> (56 - 8 * i));
    s.resize(s.size() + 1000, 0);
    lumbra::SuffixCache cache(64 << 20);
    memory_source src(s);
    tiny_sink out;
    out.limit = SIZE_MAX;
    lumbra::DecodeSettings settings;
    settings.streamBytes = s.size();
    EXPECT_THROW(lumbra::decodeStream(src, out, cache, settings), CorruptStream);
    EXPECT_EQ(out.written == 0, static_cast<double>(blocks) > most) << blocks << " blocks";
  }
}

}  // namespace
