// The statistics of a byte string's blocks, the rows of lumbra-kit blocks:
// the bits are read most significant bit of each byte first and cut into
// blocks of n bits, the last one perhaps shorter.
//
//   auto rows = lumbra::block_stats(bytes, 1024);   // rows[i].p_deviation ...
//
// The p-values are the doubles of laws.h (correctly rounded), each worked
// out once per distinct (m, k) and (m, k, d) of the call. Nothing is kept
// after the call; safe from several threads at once.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

struct BlockStats {
  std::uint64_t block = 0;   // its index, from 0
  std::uint64_t offset = 0;  // the index of its first bit
  int length = 0;            // m
  int ones = 0;              // k
  int deviation = 0;         // d
  double p_ones = 0;
  double p_deviation = 0;
  friend bool operator==(const BlockStats&, const BlockStats&) = default;
};

inline constexpr std::uint64_t all_bits = std::numeric_limits<std::uint64_t>::max();

// The blocks of the first `bits` bits of `bytes` (all of them by default).
// Requires 1 <= n <= 4096 (ArgumentError: "N must be 1 to 4096, not 0") and
// bits <= 8 * bytes.size() or all_bits.
LUMBRA_API std::vector<BlockStats> block_stats(std::span<const unsigned char> bytes, int n = 1024,
                                               std::uint64_t bits = all_bits);

}  // namespace lumbra
