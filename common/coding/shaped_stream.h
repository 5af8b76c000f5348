// shaped_stream: any bytes as a stream of shaped words (shaper.h), and back.
//
// The stream is words only, so every bit of it obeys the band. Its payload
// is three sections, each cut into pieces of payloadBits() bits (the last
// piece of a section padded with zero bits), one piece per word:
//   the data's length in bytes, 64 bits, most significant bit first;
//   the data, byte after byte, each byte most significant bit first;
//   the data's CRC-32 (zlib's), 32 bits, most significant bit first.
// A piece of the bits and text alphabets is a word's value v < 2^b
// (b = Shaper::bits()). A piece of the dna alphabet holds b + n bits: the
// first b are v, the next n say which base of the chosen pair each base is.
// Alphabets (docs/shaping.md has the details):
//   bits  the words' bits one after another, bytes most significant bit
//         first; the last byte, when the words end inside it, is filled up
//         with the bits 1 0 1 0 ...;
//   text  one line per word: n characters 0 and 1, then a newline;
//   dna   one line per word: n bases, then a newline. A word's bit chooses
//         the pair (0: A or T, 1: C or G) and the next data bit the base in
//         it: A = 00, T = 01, C = 10, G = 11.
//
// Both functions read a ByteSource and write a ByteSink they do not own and
// keep nothing beyond their call; memory stays within a few MiB besides the
// Shaper's table. What the source and the sink throw passes unchanged.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "coding/shaper.h"
#include "triangle/bitstm.h"

namespace lumbra {

enum class Alphabet { bits, text, dna };

// A stream that is not one shapeStream writes: what() names the word, from
// 0 ("word 12: not balanced: 131 ones in 256 bits").
class ShapeError : public std::runtime_error {
 public:
  ShapeError(std::uint64_t word, const std::string& what)
      : std::runtime_error("word " + std::to_string(word) + ": " + what), word_(word) {}
  // The word that failed, from 0.
  std::uint64_t word() const { return word_; }

 private:
  std::uint64_t word_;
};

// The payload bits one word of `a` carries.
int payloadBits(const Shaper& s, Alphabet a);

// The words of the stream of `dataBytes` bytes: header, data and checksum.
struct StreamWords {
  std::uint64_t header, data, checksum;
  std::uint64_t total() const { return header + data + checksum; }
};
StreamWords streamWords(const Shaper& s, Alphabet a, std::uint64_t dataBytes);

// Writes the stream of all of `in` to `out`. The data's length is known only
// at the end: its words go out first as those of length 0, and `head`
// receives the bytes that the caller writes over the stream's first
// head.size() bytes. Returns the data's length in bytes. Throws
// std::bad_alloc.
std::uint64_t shapeStream(ByteSource& in, ByteSink& out, const Shaper& s, Alphabet a,
                          std::vector<unsigned char>& head);

// Reads a stream that shapeStream wrote and writes the data. Anything else
// raises ShapeError while or after bytes are written; a caller keeps the
// output only when it returns. Throws also std::bad_alloc.
void unshapeStream(ByteSource& in, ByteSink& out, const Shaper& s, Alphabet a);

// The bytes the header of a stream of N-bit words can take, in any alphabet
// and band: what readsWith() needs of a stream's start.
std::size_t headerBytesAtMost(int n);

// Other parameters of the same N that read the start of a stream (`start`:
// its first headerBytesAtMost(n) bytes, or all of it when shorter): each
// alphabet with the band width d, then each band width within `widths` of d
// with each alphabet, leaving out (d, a) itself. Of the pairs with which
// unshapeStream gets past the header and one word more, those that read
// furthest (the whole stream, or every word the start holds). What the one
// failing word of a stream read with other parameters cannot say, they can:
// "these words read with -d 3". Cheap: each try reads at most `start`.
// Throws std::bad_alloc.
struct ShapeParameters {
  int d;
  Alphabet alphabet;
};
std::vector<ShapeParameters> readsWith(const std::vector<unsigned char>& start, int n, int d, Alphabet a,
                                       int widths = 8);

}  // namespace lumbra
