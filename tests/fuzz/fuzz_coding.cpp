// Fuzz target: decode(encode(x)) == x. Bytes 0 and 1 choose the block size
// (1 + value % 1024 bits); the rest is x. Checked: decodeStream gives back
// every byte of x, and the stream's size is what the statistics say.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "coding/coded_stream.h"
#include "memory_bytes.h"

using lumbra_test::memory_sink;
using lumbra_test::memory_source;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int n = 1 + (data[0] << 8 | data[1]) % 1024;
  lumbra::SuffixCache cache(std::size_t{32} << 20);
  memory_source src(data + 2, size - 2, 7);  // small pieces, as a pipe may deliver them
  memory_sink coded;
  lumbra::CodedHeader header;
  lumbra::CodingStats stats;
  try {
    stats = lumbra::encodeStream(src, coded, n, cache, header);
  } catch (const lumbra::TableTooBig&) {
    return 0;
  }
  std::copy(header.begin(), header.end(), coded.bytes.begin());
  if (stats.headerBits + stats.payloadBits != 8 * coded.bytes.size()) __builtin_trap();
  memory_source back(coded.bytes);
  memory_sink decoded;
  lumbra::decodeStream(back, decoded, cache);
  if (decoded.bytes.size() != size - 2 || !std::equal(decoded.bytes.begin(), decoded.bytes.end(), data + 2))
    __builtin_trap();
  return 0;
}
