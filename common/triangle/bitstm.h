// BitReader: an open file read as one stream of bits, block by block.
// BitWriter, its writing half: blocks of bits packed into bytes for a
// ByteSink. ByteSource and ByteSink: where bytes come from and go to when
// no file handle is behind them (a coder's input and output).
//
// The stream is the file's bytes in file order, each byte most significant
// bit first; a set bit is a one bit (true). read(n, vb) hands out the next n
// bits; bits of a byte that a block boundary cuts are carried over to the
// next block. The reader reads ahead: it asks the file for as many bytes as
// its buffer has room for. The buffer, 64 KiB or the bytes of one block if
// that is more, comes from the file's pool and goes back to it when the
// reader goes. The reader does not own the file, which must outlive its
// reads; it neither closes nor otherwise touches it, and going away it
// touches nothing of the file.
#pragma once

#include <cstddef>
#include <vector>

#include "kova/file.h"

namespace lumbra {

class BitReader {
 public:
  // Takes the read-ahead buffer from src's pool (std::bad_alloc); reads nothing.
  explicit BitReader(kova::file& src);
  ~BitReader();
  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;

  // Replaces vb with the next block: n bits while the file has them, the
  // remaining bits at its end, and no bits once the stream is exhausted.
  // The file is read until the block is whole or a read returns 0 bytes, so
  // a pipe that delivers small pieces gives the same blocks as a disk file.
  // A failed read raises the file's error; vb is then empty and the bits not
  // yet handed out are as they were. Requires n > 0.
  void read(int n, std::vector<bool>& vb);

 private:
  kova::file& src;
  // The file's pool, kept so that going away touches nothing of the file.
  kova::mem_pool& pool;
  int capacity = 64 * 1024;  // bytes of the buffer; set before it is taken
  // Bytes taken from the file: bytes[pos, end) hold the bits not yet handed
  // out, of which the first `bit` bits of bytes[pos] are already gone.
  char* bytes;
  int pos = 0;
  int end = 0;
  int bit = 0;  // 0..7
};

// A source of bytes. get() fills buf with at most n > 0 bytes and returns
// how many, 0 only at the end; a failure is thrown by the implementation.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t get(unsigned char* buf, std::size_t n) = 0;
};

// A sink of bytes. put() takes all n bytes or throws.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void put(const unsigned char* p, std::size_t n) = 0;
};

// Cuts the bytes of a ByteSource into blocks as BitReader cuts a file's:
// n bits while the source has them, the rest at its end, then nothing. A
// source that delivers small pieces gives the same blocks. The reader does
// not own the source, which must outlive it.
class BlockReader {
 public:
  explicit BlockReader(ByteSource& src) : src_(src), buf_(std::size_t{64} * 1024) {}
  // Replaces vb with the next block; false once the source is exhausted.
  // Requires n > 0.
  bool read(int n, std::vector<bool>& vb);

 private:
  ByteSource& src_;
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0, end_ = 0;  // bytes taken and not yet cut
  int bit_ = 0;                    // bits of buf_[pos_] already cut
};

// Packs bits into bytes in the order BitReader unpacks them: each byte most
// significant bit first, a block's bits following the previous block's
// without a gap. Whole bytes go to the sink in pieces of up to 64 KiB; a
// last partial byte is padded with zero bits by finish(). The writer does
// not own the sink, which must outlive it; what the sink throws passes.
class BitWriter {
 public:
  explicit BitWriter(ByteSink& dst) : dst_(dst) { bytes_.reserve(capacity); }
  BitWriter(const BitWriter&) = delete;
  BitWriter& operator=(const BitWriter&) = delete;

  void write(const std::vector<bool>& vb);
  // Hands over the whole bytes written so far.
  void flush();
  // Pads the last byte with zero bits and hands everything over.
  void finish();
  // The bits written so far.
  unsigned long long bits() const { return bits_; }

 private:
  static constexpr std::size_t capacity = std::size_t{64} * 1024;
  ByteSink& dst_;
  std::vector<unsigned char> bytes_;  // whole bytes not yet handed over
  unsigned acc_ = 0;                  // the bits of the partial byte, low end
  int have_ = 0;                      // 0..7 bits in acc_
  unsigned long long bits_ = 0;
};

}  // namespace lumbra
