// BitReader: an open file read as one stream of bits, block by block.
//
// The stream is the file's bytes in file order, each byte most significant
// bit first; a set bit is a one bit (true). read(n, vb) hands out the next n
// bits; bits of a byte that a block boundary cuts (at most 7) are carried
// over to the next block. The reader does not own the file, which must
// outlive it; it neither closes nor otherwise touches it.
#pragma once

#include <vector>

#include "kova/file.h"

namespace lumbra {

class BitReader {
 public:
  explicit BitReader(kova::file& src) : src(src) {}

  // Replaces vb with the next block: n bits while the file has them, the
  // remaining bits at its end, and no bits once the stream is exhausted.
  // A failed read raises the file's error; vb is then empty and the carried
  // bits are as they were. Requires n > 0.
  void read(int n, std::vector<bool>& vb);

 private:
  kova::file& src;
  std::vector<bool> buf;  // bits taken from the file, not yet handed out
};

}  // namespace lumbra
