// crc32: the CRC-32 of the coded and shaped streams (zlib's, the one of gzip
// and PNG), updated piece by piece; a piece may be longer than zlib takes in
// one call.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace lumbra {

// The CRC-32 of the bytes before and p[0..n), from crc, the CRC-32 of the
// bytes before (0 for none).
inline std::uint32_t crc32Update(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  uLong c = crc;
  while (n > 0) {
    const uInt piece = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    c = crc32(c, p, piece);
    p += piece;
    n -= piece;
  }
  return static_cast<std::uint32_t>(c);
}

}  // namespace lumbra
