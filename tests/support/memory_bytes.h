// memory_source and memory_sink: a ByteSource over bytes in memory and a
// ByteSink that keeps what it is given, for the tests and fuzz targets of
// the bit streams and coders.
//
// A memory_source does not own its bytes: they must outlive it. It hands
// out at most `piece` bytes per get(), as a pipe may. A memory_sink owns a
// copy of everything put into it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "triangle/bitstm.h"

namespace lumbra_test {

class memory_source final : public lumbra::ByteSource {
 public:
  memory_source(const unsigned char* p, std::size_t n, std::size_t piece = SIZE_MAX)
      : p_(p), n_(n), piece_(piece) {}
  explicit memory_source(const std::vector<unsigned char>& b, std::size_t piece = SIZE_MAX)
      : memory_source(b.data(), b.size(), piece) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    n = std::min({n, n_, piece_});
    if (n > 0) std::memcpy(buf, p_, n);
    p_ += n;
    n_ -= n;
    return n;
  }

 private:
  const unsigned char* p_;
  std::size_t n_;
  std::size_t piece_;
};

class memory_sink final : public lumbra::ByteSink {
 public:
  void put(const unsigned char* p, std::size_t n) override { bytes.insert(bytes.end(), p, p + n); }
  std::vector<unsigned char> bytes;
};

}  // namespace lumbra_test
