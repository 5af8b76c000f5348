// BitReader: an open file read as one stream of bits, block by block.
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

}  // namespace lumbra
