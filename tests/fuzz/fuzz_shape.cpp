// Fuzz target: unshapeStream over arbitrary bytes. The first byte picks the
// word size, the depth and the alphabet; the rest is the stream. Checked: it
// returns or raises ShapeError, and nothing else happens (no crash, no other
// exception, no hang), and what it writes is never more than the stream
// could hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "coding/shaped_stream.h"
#include "memory_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // Bits 0-4: n = 2, 4, .., 62 (31: 256); bits 5-6: d = 1 .. 4 (at most
  // n / 2); bit 7: bits, or else text (bit 0 clear) or dna (bit 0 set).
  const int low = data[0] & 31;
  const int n = low == 31 ? 256 : 2 * (1 + low);
  const int d = std::min(n / 2, 1 + ((data[0] >> 5) & 3));
  const lumbra::Alphabet a = (data[0] & 0x80) == 0 ? lumbra::Alphabet::bits
                             : (data[0] & 1) == 0  ? lumbra::Alphabet::text
                                                   : lumbra::Alphabet::dna;
  const lumbra::Shaper s(n, d);
  lumbra_test::memory_source src(data + 1, size - 1);
  lumbra_test::memory_sink out;
  try {
    lumbra::unshapeStream(src, out, s, a);
  } catch (const lumbra::ShapeError&) {
  }
  if (out.bytes.size() > size) __builtin_trap();
  return 0;
}
