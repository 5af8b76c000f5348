// coded_stream: a byte stream written as its blocks' (k, d, index) through
// the range coder, and read back.
//
// The layout (docs/format.md): a header of coded_header_bytes bytes (magic,
// format version, block size, the input's length in bits, the CRC-32 of the
// input), then one range-coded stream holding, per block of m bits, its
// number of one bits k and its deviation d through two adaptive models of
// 0..n, and its index among the blocks of (m, k, d) as a uniform value below
// C(m, k, d). The stream ends with the coder's last byte.
//
// Both functions own nothing beyond their call: they read a ByteSource and
// write a ByteSink they do not own, and take their suffix counts from the
// caller's cache. What the source and the sink throw passes unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "triangle/bitstm.h"
#include "coding/range_coder.h"
#include "coding/rank.h"

namespace lumbra {

inline constexpr std::size_t coded_header_bytes = 19;
inline constexpr std::uint8_t coded_format_version = 1;
inline constexpr int coded_max_block = 4096;

using CodedHeader = std::array<unsigned char, coded_header_bytes>;

// Where the bits of an encoded stream went. kBits, dBits and indexBits are
// what the coder was asked to spend: -log2 of each model probability and
// the digits of each index; idealIndexBits is the sum of log2 C(m, k, d).
// The payload is the range-coded part; it exceeds kBits + dBits + indexBits
// by the coder's own loss.
struct CodingStats {
  std::uint64_t inputBytes = 0;
  std::uint64_t blocks = 0;
  std::uint64_t headerBits = 8 * coded_header_bytes;
  std::uint64_t payloadBits = 0;
  double kBits = 0;
  double dBits = 0;
  double indexBits = 0;
  double idealIndexBits = 0;
};

// A table the cache will not build: the stream needs more memory than the
// cache is given.
class TableTooBig : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encodes all of `in` in blocks of n bits (1 <= n <= coded_max_block). The
// header goes to `out` first with its length and checksum zero; `header`
// receives the complete header, which the caller writes over those first
// bytes. Throws TableTooBig, std::bad_alloc.
CodingStats encodeStream(ByteSource& in, ByteSink& out, int n, SuffixCache& cache, CodedHeader& header);

// Decodes a stream that encodeStream wrote and writes the original bytes.
// Anything else raises CorruptStream (with a line saying what is wrong)
// before or while bytes are written; a caller keeps the output only when it
// returns. A header announcing more than maxInputBits is refused. Throws
// also TableTooBig, std::bad_alloc.
void decodeStream(ByteSource& in, ByteSink& out, SuffixCache& cache,
                  std::uint64_t maxInputBits = UINT64_MAX);

}  // namespace lumbra
