// flawed_bytes SOURCE SIZE [SEED] > file
//
// Writes SIZE bytes from one of the sources bench/power tests, the same bytes
// for the same SEED everywhere (every random choice comes from splitmix64).
// Bits are written most significant first, as lumbra-kit reads them.
//
//   good           fair independent bits
//   balanced       every 1024-bit block has exactly 512 ones, uniformly placed
//   band:D         every 1024-bit block's walk kept within D of its start: a
//                  step that would leave is turned back
//   biased:P       independent bits, each a one with probability P
//   sticky:P       each bit equal to the one before with probability P
//   xorshift32     the 32-bit words of Marsaglia's xorshift (13, 17, 5),
//                  little-endian as a program on x86 writes them
//   randu          the top byte of each state of x' = 65539 x mod 2^31
//   lfsr32         a 32-bit Galois LFSR (taps 0x80200003), one bit a step
//   xorshift64     the top 32 bits of each output of xorshift (13, 7, 17) on
//                  64 bits, little-endian
//   minstd         the top byte of each state of x' = 16807 x mod 2^31 - 1
//   javarandom     the 32-bit outputs of a 48-bit LCG (0x5DEECE66D, 11,
//                  bits 47..16), little-endian
//   mt19937        the 32-bit outputs of the 19937-bit Mersenne twister,
//                  little-endian
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct SplitMix {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // True with probability p (53-bit resolution).
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1p-53 < p; }
};

// Collects bits most significant first and writes whole bytes.
class BitSink {
 public:
  explicit BitSink(std::size_t bytes) : left_(bytes) {}
  bool full() const { return left_ == 0; }
  void bit(int b) {
    if (left_ == 0) return;
    byte_ = static_cast<unsigned char>((byte_ << 1) | b);
    if (++bits_ == 8) byteOut(byte_);
  }
  void byteOut(unsigned char b) {
    if (left_ == 0) return;
    buf_.push_back(b);
    byte_ = 0;
    bits_ = 0;
    --left_;
    if (buf_.size() == 1 << 16 || left_ == 0) {
      if (std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size()) std::exit(2);
      buf_.clear();
    }
  }

 private:
  std::size_t left_;
  std::vector<unsigned char> buf_;
  unsigned char byte_ = 0;
  int bits_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s SOURCE SIZE [SEED]\n", argv[0]);
    return 1;
  }
  const std::string source = argv[1];
  BitSink out(std::strtoull(argv[2], nullptr, 10));
  SplitMix rng{argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1};
  const auto colon = source.find(':');
  const std::string kind = source.substr(0, colon);
  const double p = colon == std::string::npos ? 0 : std::strtod(source.c_str() + colon + 1, nullptr);

  if (kind == "good") {
    while (!out.full()) {
      const std::uint64_t w = rng.next();
      for (int i = 0; i < 8; ++i) out.byteOut(static_cast<unsigned char>(w >> (8 * i)));
    }
  } else if (kind == "balanced") {
    std::vector<int> block(1024);
    while (!out.full()) {
      for (int i = 0; i < 1024; ++i) block[i] = i < 512;
      for (int i = 1023; i > 0; --i) std::swap(block[i], block[rng.next() % static_cast<std::uint64_t>(i + 1)]);
      for (int b : block) out.bit(b);
    }
  } else if (kind == "band") {
    while (!out.full()) {
      int height = 0;
      for (int i = 0; i < 1024; ++i) {
        int b = static_cast<int>(rng.next() >> 63);
        const int reach = static_cast<int>(p);
        if (height + (b ? 1 : -1) > reach || height + (b ? 1 : -1) < -reach) b ^= 1;
        height += b ? 1 : -1;
        out.bit(b);
      }
    }
  } else if (kind == "biased") {
    while (!out.full()) out.bit(rng.chance(p) ? 1 : 0);
  } else if (kind == "sticky") {
    int last = static_cast<int>(rng.next() >> 63);
    while (!out.full()) {
      if (!rng.chance(p)) last ^= 1;
      out.bit(last);
    }
  } else if (kind == "xorshift32") {
    std::uint32_t x = static_cast<std::uint32_t>(rng.next()) | 1u;
    while (!out.full()) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      for (int i = 0; i < 4; ++i) out.byteOut(static_cast<unsigned char>(x >> (8 * i)));
    }
  } else if (kind == "randu") {
    std::uint32_t x = static_cast<std::uint32_t>(rng.next()) | 1u;
    x &= 0x7FFFFFFFu;
    while (!out.full()) {
      x = static_cast<std::uint32_t>((65539ull * x) & 0x7FFFFFFFull);
      out.byteOut(static_cast<unsigned char>(x >> 23));
    }
  } else if (kind == "lfsr32") {
    std::uint32_t x = static_cast<std::uint32_t>(rng.next()) | 1u;
    while (!out.full()) {
      const int b = static_cast<int>(x & 1u);
      x = (x >> 1) ^ (b ? 0x80200003u : 0u);
      out.bit(b);
    }
  } else if (kind == "xorshift64") {
    std::uint64_t x = rng.next() | 1u;
    while (!out.full()) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      for (int i = 0; i < 4; ++i) out.byteOut(static_cast<unsigned char>(x >> (32 + 8 * i)));
    }
  } else if (kind == "minstd") {
    std::uint64_t x = rng.next() % 0x7FFFFFFEull + 1;
    while (!out.full()) {
      x = 16807 * x % 0x7FFFFFFFull;
      out.byteOut(static_cast<unsigned char>(x >> 23));
    }
  } else if (kind == "javarandom") {
    std::uint64_t x = (rng.next() ^ 0x5DEECE66Dull) & ((1ull << 48) - 1);
    while (!out.full()) {
      x = (x * 0x5DEECE66Dull + 11) & ((1ull << 48) - 1);
      const auto v = static_cast<std::uint32_t>(x >> 16);
      for (int i = 0; i < 4; ++i) out.byteOut(static_cast<unsigned char>(v >> (8 * i)));
    }
  } else if (kind == "mt19937") {
    std::mt19937 mt(static_cast<std::uint32_t>(rng.next()));
    while (!out.full()) {
      const std::uint32_t v = mt();
      for (int i = 0; i < 4; ++i) out.byteOut(static_cast<unsigned char>(v >> (8 * i)));
    }
  } else {
    std::fprintf(stderr, "%s: unknown source %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
