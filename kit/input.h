// Input: the file a subcommand reads, named as on its command line ("-" is
// standard input), read front to back in pieces as large as asked for.
//
// The descriptor is the Input's own (standard input excepted) and is closed
// when it goes. Failures throw Failure with one line naming the file:
// "can't open NAME: reason", "can't read NAME: reason". It is also a
// ByteSource, for the coding's block reader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "triangle/bitstm.h"

namespace lumbra::kit {

class Input final : public lumbra::ByteSource {
 public:
  explicit Input(const std::string& name);
  ~Input() override;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // Fills buf[0, size) with the next bytes: all of them unless the input
  // ends first. Reads again after short reads, so a pipe that delivers
  // small pieces fills the buffer as a file does; returns what it read.
  std::size_t fill(unsigned char* buf, std::size_t size);
  // The same: a short count only at the end.
  std::size_t get(unsigned char* buf, std::size_t n) override { return fill(buf, n); }

  const std::string& name() const { return name_; }
  // The descriptor, for readers that seek or read on their own (scan.h).
  int fd() const { return fd_; }
  // Whether the input is a regular file, and then its size in bytes.
  bool regular() const { return regular_; }
  std::uint64_t size() const { return size_; }

 private:
  std::string name_;
  int fd_;
  bool regular_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace lumbra::kit

namespace lumbra::kit {

// Reads `in` to its end in pieces of whole blocks of n bits, each piece
// starting at a byte, and calls piece(bytes, blocks, lastBits) for each:
// `blocks` whole blocks at bytes[0..], then, only in the last piece, a
// shorter block of lastBits bits (0: none) right after them. The pieces
// (about 1 MiB) live in one heap buffer, reused.
template <class Piece>
void forEachPiece(Input& in, int n, Piece piece) {
  // NOTE: a multiple of 8 blocks is a whole number of bytes, so every
  // piece starts at bit 0 of its first byte.
  const std::size_t blocks = 8 * std::max<std::size_t>(1, (std::size_t{1} << 20) / static_cast<std::size_t>(n));
  const std::size_t bytes = blocks * static_cast<std::size_t>(n) / 8;
  std::vector<unsigned char> buf(bytes + 1);
  for (;;) {
    const std::size_t got = in.fill(buf.data(), bytes);
    if (got == bytes) {
      piece(buf.data(), static_cast<std::uint64_t>(blocks), 0);
      continue;
    }
    const std::uint64_t bits = 8 * static_cast<std::uint64_t>(got);
    const std::uint64_t whole = bits / static_cast<std::uint64_t>(n);
    const int last = static_cast<int>(bits % static_cast<std::uint64_t>(n));
    if (whole > 0 || last > 0) piece(buf.data(), whole, last);
    return;
  }
}

}  // namespace lumbra::kit
