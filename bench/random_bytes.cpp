// random_bytes SIZE [SEED] > file
//
// Writes SIZE pseudo-random bytes to standard output, the same bytes for the
// same SEED on every machine (splitmix64, little-endian), so that the file
// walk is measured on the same input everywhere.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s SIZE [SEED]\n", argv[0]);
    return 1;
  }
  size_t left = std::strtoull(argv[1], nullptr, 10);
  uint64_t state = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 1;

  std::vector<unsigned char> buf(1 << 16);
  while (left > 0) {
    const size_t size = left < buf.size() ? left : buf.size();
    for (size_t i = 0; i < size; i += 8) {
      uint64_t z = (state += 0x9E3779B97F4A7C15u);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
      z ^= z >> 31;
      for (size_t j = 0; j < 8 && i + j < size; ++j) buf[i + j] = (unsigned char)(z >> (8 * j));
    }
    if (::write(1, buf.data(), size) != ssize_t(size)) {
      std::perror("write");
      return 2;
    }
    left -= size;
  }
  return 0;
}
