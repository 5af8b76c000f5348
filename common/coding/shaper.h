// shaper: data bits into balanced words whose walk stays in a flat band, and
// back.
//
// A word of n bits (n even) with n/2 ones whose walk (up for a one, down for
// a zero) never leaves [-d, d] is DC-free: words strung together keep the
// running digital sum of the whole stream within ±d, and no run of equal
// bits is longer than 2d. There are C(n, n/2, d) such words; a word carries
// bits() = floor(log2 C(n, n/2, d)) bits of data: the value v < 2^bits()
// becomes the word of index v in the ranking of rank.h.
//
// NOTE: the ranking is that of the band of depth() <= d: the smallest depth
// whose band still holds 2^bits() words. It equals d unless d is large
// against sqrt(n), where the band hardly binds; there it keeps the table
// (and so the memory: under 32 MiB at n = 4096) of a narrow band, and the
// words written stay within the narrower band, which only helps. unshape
// accepts exactly the words shape writes.
//
// A Shaper owns its one table of suffix counts, never changes after its
// constructor and may be shared between threads for reading. Words are
// passed as bytes, most significant bit first, each word starting at bit 0
// of its first byte and taking wordBytes() bytes; the bits after the n-th
// are zero. Nothing here throws but std::bad_alloc; contract violations
// (parameters that shapeRefusal() refuses, a value not below 2^bits())
// end in a hard assertion.
#pragma once

#include <gmp.h>

#include <cstddef>
#include <span>
#include <string>

#include "coding/byte_rank.h"
#include "coding/rank.h"

namespace lumbra {

inline constexpr int shape_max_word = 4096;

// Why words of n bits within d cannot carry data, in words for a person
// ("n is odd: ..."), or empty when they can: n even in 2..shape_max_word,
// 1 <= d <= n / 2, at least one bit per word.
std::string shapeRefusal(int n, int d);

// log2 of the capacity of the channel whose running digital sum stays
// within ±d: log2(2 cos(pi / (2d + 2))) bits per bit. Requires d >= 1.
double shapeCapacity(int d);

// What unshape found in a word.
struct WordCheck {
  enum class Fault {
    none,
    leaves_band,  // the walk leaves [-d, d]; at = the bit (from 0) that leaves it
    unbalanced,   // not n/2 ones; at = the ones
    not_shaped,   // within the band and balanced, but not a word shape writes
  };
  Fault fault = Fault::none;
  int at = 0;
};

class Shaper {
 public:
  // Requires shapeRefusal(n, d) empty. Throws std::bad_alloc.
  Shaper(int n, int d);

  int n() const { return n_; }
  int d() const { return d_; }
  // The band the words actually keep to (see the NOTE above).
  int depth() const { return table_.d(); }
  int bits() const { return bits_; }
  std::size_t wordBytes() const { return static_cast<std::size_t>(n_ + 7) / 8; }

  // The word of values[i] or-ed into words + i * wordBytes(), whose bytes
  // the caller has zeroed. Requires every value below 2^bits().
  void shape(std::span<const mpz_srcptr> values, unsigned char* words) const;
  // The value of the word at `word` when it is one that shape writes;
  // otherwise the fault, and `value` is unspecified.
  WordCheck unshape(const unsigned char* word, mpz_ptr value) const;

 private:
  int n_, d_, bits_;
  SuffixCounts table_;
  // unshape's ranking a byte at a time, where its sums are few (n <= 256
  // and d small; see byte_rank.h); otherwise empty, and table_ ranks.
  ByteRanker bytes_;
};

}  // namespace lumbra
