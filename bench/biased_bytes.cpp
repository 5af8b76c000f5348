// biased_bytes SIZE PERMILLE [SEED] > file
//
// Writes SIZE bytes whose bits are independent, each a one with probability
// PERMILLE/1000, the same bytes for the same SEED everywhere (splitmix64).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s SIZE PERMILLE [SEED]\n", argv[0]);
    return 1;
  }
  std::size_t left = std::strtoull(argv[1], nullptr, 10);
  const std::uint64_t permille = std::strtoull(argv[2], nullptr, 10);
  std::uint64_t state = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1;
  auto next = [&] {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  std::vector<unsigned char> buf(1 << 16);
  while (left > 0) {
    const std::size_t n = left < buf.size() ? left : buf.size();
    for (std::size_t i = 0; i < n; ++i) {
      unsigned b = 0;
      for (int j = 0; j < 8; ++j) b = (b << 1) | (next() % 1000 < permille ? 1u : 0u);
      buf[i] = static_cast<unsigned char>(b);
    }
    if (std::fwrite(buf.data(), 1, n, stdout) != n) return 1;
    left -= n;
  }
  return 0;
}
