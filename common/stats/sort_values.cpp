#include "stats/sort_values.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace lumbra {

namespace {

using u64 = std::uint64_t;

constexpr u64 sign = u64{1} << 63;

u64 keyOf(double v) {
  const auto u = std::bit_cast<u64>(v);
  return (u & sign) != 0 ? ~u : u | sign;
}

double valueOf(u64 key) { return std::bit_cast<double>((key & sign) != 0 ? key & ~sign : ~key); }

}  // namespace

void sortValues(std::span<double> values) {
  const std::size_t n = values.size();
  if (n < 2) return;
  std::vector<u64> keys(n), other(n);
  // The counts of every byte of every key, taken in one pass.
  std::vector<std::array<std::size_t, 256>> counts(8);
  for (std::size_t i = 0; i < n; ++i) {
    const u64 k = keyOf(values[i]);
    keys[i] = k;
    for (std::size_t d = 0; d < 8; ++d) ++counts[d][(k >> (8 * d)) & 255];
  }
  for (std::size_t d = 0; d < 8; ++d) {
    auto& c = counts[d];
    if (c[(keys[0] >> (8 * d)) & 255] == n) continue;  // one byte for all: the order stands
    std::size_t sum = 0;
    for (std::size_t& e : c) sum += std::exchange(e, sum);
    for (const u64 k : keys) other[c[(k >> (8 * d)) & 255]++] = k;
    keys.swap(other);
  }
  for (std::size_t i = 0; i < n; ++i) values[i] = valueOf(keys[i]);
}

}  // namespace lumbra
