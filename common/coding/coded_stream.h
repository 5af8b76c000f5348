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
#include <functional>
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

// The size of a stream that is not known before its end (a pipe).
inline constexpr std::uint64_t coded_size_unknown = UINT64_MAX;

// The fewest bits of coded data that any block of n bits costs: its k and d
// each narrow the coder's range by a symbol of a model whose other n counts
// are at least 1 and whose total is at most range_max_total. Zero bytes
// decode to blocks of almost that cost, so up to about 22700 times their
// size of output; this bound is what lets a decoder refuse a header that
// claims more than its stream can hold.
double leastBlockBits(int n);

// What a decoder is told besides its stream.
struct DecodeSettings {
  // A header announcing more bits is refused.
  std::uint64_t maxInputBits = UINT64_MAX;
  // The stream's whole size in bytes, the header included (a regular
  // file's), or coded_size_unknown.
  std::uint64_t streamBytes = coded_size_unknown;
  // Called after each batch of blocks (about 1 MiB of output) with the bytes
  // written so far and the header's total. It may throw, which ends the
  // decoding with that exception.
  std::function<void(std::uint64_t written, std::uint64_t total)> progress;
};

// Decodes a stream that encodeStream wrote and writes the original bytes.
// Anything else raises CorruptStream (with a line saying what is wrong)
// before or while bytes are written; a caller keeps the output only when it
// returns. A header announcing more than maxInputBits is refused. So is one
// announcing more blocks than the stream's bytes can hold at
// leastBlockBits each: before a byte is written when the stream's size is
// given, else as soon as the end of the source is seen, which the decoder
// reads up to 4 MiB ahead to find, so that a short forged stream from a pipe
// writes nothing either. Throws also TableTooBig, std::bad_alloc.
void decodeStream(ByteSource& in, ByteSink& out, SuffixCache& cache, const DecodeSettings& settings = {});

}  // namespace lumbra
