// Ranking: a block's index among the blocks of its constrained triangle, and
// the block of an index. The m-bit blocks with k one bits whose walk stays
// within d of its center line are ordered as binary numbers, first bit most
// significant; a block's index is the number of them below it, so the
// indexes run 0 .. C(m, k, d) - 1 (lumbra-kit rank and unrank).
//
//   lumbra::rank("0100100001100101")  -> {16, 6, 3, 2235}
//   lumbra::unrank(16, 6, 3, 2235)    == "0100100001100101"
//
// Blocks are text of the characters '0' and '1', 1 to 4096 of them. Each
// call builds the counts of its (m, k, d) (at n = 4096, up to about 100 MiB;
// more than max_table_bytes is refused with ResourceError) and lets them go.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "lumbra/bignat.h"
#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

struct Ranked {
  int length = 0;     // m
  int ones = 0;       // k
  int deviation = 0;  // d: the block's own, the least band it fits
  BigNat index;
  friend bool operator==(const Ranked&, const Ranked&) = default;
};

inline constexpr std::size_t default_table_bytes = std::size_t{256} << 20;

// The block's length, ones, deviation and its index in the triangle of
// those three. ArgumentError for an empty or longer block or another
// character.
LUMBRA_API Ranked rank(std::string_view bits, std::size_t max_table_bytes = default_table_bytes);

// The block of `index`. Requires 1 <= m <= 4096, 0 <= k, d <= m and
// index < C(m, k, d) (ArgumentError: "INDEX must be below C(16, 7, 2) = 3267").
LUMBRA_API std::string unrank(int m, int k, int d, const BigNat& index,
                              std::size_t max_table_bytes = default_table_bytes);

}  // namespace lumbra
