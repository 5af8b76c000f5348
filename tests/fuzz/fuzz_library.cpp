// Fuzz target: the library's public entry points over arbitrary bytes, as a
// program or the Python module hands them what it read. The first byte
// picks the entry point, the next two its sizes; the rest is its input:
//   0 unshape (a stream of shaped words, n and d from the sizes)
//   1 rank (the bytes as a block of '0' and '1', other characters refused)
//   2 BigNat::from_string and back (decimal text)
//   3 block_stats (the bytes, blocks of 1 .. 4096 bits)
//   4 ks_2samp (the bytes as doubles, NaN and infinities included, split in two)
//   5 p_deviation_exact and to_double (m, k, d from the bytes, out of range too)
// Checked: each call returns or throws a lumbra::Error (a ResourceError for
// memory), nothing else happens; what comes back holds what it promises.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lumbra/lumbra.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void run(int what, int a, int b, const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  switch (what) {
    case 0: {
      const int n = 2 * (1 + a % 128), d = 1 + b % 8;
      const char* alphabets[] = {"bits", "text", "dna", "braille"};
      const std::string out = lumbra::unshape(bytes, n, d, alphabets[b / 8 % 4]);
      check(out.size() <= size);
      break;
    }
    case 1: {
      const lumbra::Ranked r = lumbra::rank(bytes);
      check(r.length == static_cast<int>(size) && r.ones <= r.length);
      check(lumbra::unrank(r.length, r.ones, r.deviation, r.index) == bytes);
      break;
    }
    case 2: {
      const lumbra::BigNat v = lumbra::BigNat::from_string(bytes);
      const std::string text = v.to_string();
      check(lumbra::BigNat::from_string(text).to_string() == text);
      break;
    }
    case 3: {
      const int n = 1 + (a * 256 + b) % 4096;
      const auto rows = lumbra::block_stats({data, size}, n);
      check(rows.size() == (8 * size + static_cast<std::size_t>(n) - 1) / static_cast<std::size_t>(n));
      for (const auto& r : rows) check(r.p_ones >= 0 && r.p_ones <= 1 && r.p_deviation >= 0 && r.p_deviation <= 1);
      break;
    }
    case 4: {
      std::vector<double> values(std::min<std::size_t>(size / sizeof(double), 512));
      if (!values.empty()) std::memcpy(values.data(), data, values.size() * sizeof(double));
      const std::size_t split = std::min<std::size_t>(values.size(), static_cast<std::size_t>(a));
      const std::vector<double> x(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(split)),
          y(values.begin() + static_cast<std::ptrdiff_t>(split), values.end());
      const auto alternative = static_cast<lumbra::SmirnovAlternative>(b % 3);
      const lumbra::SmirnovResult r = lumbra::ks_2samp(x, y, alternative, b % 2 == 0);
      check(r.pvalue >= 0 && r.pvalue <= 1);
      break;
    }
    default: {
      const int m = a * 16 + (size > 0 ? data[0] % 16 : 0) - 8, k = b * 16 - 8, d = size > 1 ? data[1] * 4 - 8 : 3;
      const double p = lumbra::to_double(lumbra::p_deviation_exact(m, k, d));
      check(p >= 0 && p <= 1 && p == lumbra::p_deviation(m, k, d));
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > 65536) return 0;
  try {
    run(data[0] % 6, data[1], data[2], data + 3, size - 3);
  } catch (const lumbra::Error&) {
  }
  return 0;
}
