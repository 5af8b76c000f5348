// Fuzz target: decode(encode(x)) == x. Bytes 0 and 1 choose the block size
// (1 + value % 1024 bits); the rest is x. Checked: decodeStream gives back
// every byte of x, and the stream's size is what the statistics say.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "coded_stream.h"

namespace {

class Source final : public lumbra::ByteSource {
 public:
  Source(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    // Small pieces, as a pipe may deliver them.
    n = std::min({n, n_, std::size_t{7}});
    if (n > 0) std::memcpy(buf, p_, n);
    p_ += n;
    n_ -= n;
    return n;
  }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

class Sink final : public lumbra::ByteSink {
 public:
  void put(const unsigned char* p, std::size_t n) override { b.insert(b.end(), p, p + n); }
  std::vector<unsigned char> b;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int n = 1 + (data[0] << 8 | data[1]) % 1024;
  lumbra::SuffixCache cache(std::size_t{32} << 20);
  Source src(data + 2, size - 2);
  Sink coded;
  lumbra::CodedHeader header;
  lumbra::CodingStats stats;
  try {
    stats = lumbra::encodeStream(src, coded, n, cache, header);
  } catch (const lumbra::TableTooBig&) {
    return 0;
  }
  std::copy(header.begin(), header.end(), coded.b.begin());
  if (stats.headerBits + stats.payloadBits != 8 * coded.b.size()) __builtin_trap();
  Source back(coded.b.data(), coded.b.size());
  Sink decoded;
  lumbra::decodeStream(back, decoded, cache);
  if (decoded.b.size() != size - 2 || !std::equal(decoded.b.begin(), decoded.b.end(), data + 2)) __builtin_trap();
  return 0;
}
