// big_endian: unsigned fields of the coded and shaped streams, most
// significant byte first.
#pragma once

#include <cstdint>

namespace lumbra {

// The low `bytes` bytes of v into p[0..bytes), most significant first.
inline void putBE(unsigned char* p, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}

// The value of p[0..bytes), most significant first (bytes <= 8).
inline std::uint64_t getBE(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

}  // namespace lumbra
