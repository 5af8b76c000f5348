// Fuzz target: decodeStream over arbitrary bytes. Checked: it returns or
// raises CorruptStream or TableTooBig, and nothing else happens (no crash,
// no other exception, no hang, no unbounded memory: the cache is small and
// a header announcing more than 2^16 bits is refused).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "coded_stream.h"

namespace {

class Source final : public lumbra::ByteSource {
 public:
  Source(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    n = std::min(n, n_);
    if (n > 0) std::memcpy(buf, p_, n);
    p_ += n;
    n_ -= n;
    return n;
  }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

class Sink final : public lumbra::ByteSink {
 public:
  void put(const unsigned char*, std::size_t n) override { count += n; }
  std::size_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Source src(data, size);
  Sink out;
  lumbra::SuffixCache cache(std::size_t{2} << 20);
  try {
    lumbra::decodeStream(src, out, cache, std::uint64_t{1} << 16);
  } catch (const lumbra::CorruptStream&) {
  } catch (const lumbra::TableTooBig&) {
  }
  if (out.count > 8192) __builtin_trap();
  return 0;
}
