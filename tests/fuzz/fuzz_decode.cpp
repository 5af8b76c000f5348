// Fuzz target: decodeStream over arbitrary bytes. Checked: it returns or
// raises CorruptStream or TableTooBig, and nothing else happens (no crash,
// no other exception, no hang, no unbounded memory: the cache is small and
// a header announcing more than 2^16 bits is refused).
#include <cstddef>
#include <cstdint>

#include "coding/coded_stream.h"
#include "memory_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumbra_test::memory_source src(data, size);
  lumbra_test::memory_sink out;
  lumbra::SuffixCache cache(std::size_t{2} << 20);
  lumbra::DecodeSettings settings;
  settings.maxInputBits = std::uint64_t{1} << 16;
  // Half the inputs with their size told, as a regular file's is.
  if (size % 2 == 1) settings.streamBytes = size;
  try {
    lumbra::decodeStream(src, out, cache, settings);
  } catch (const lumbra::CorruptStream&) {
  } catch (const lumbra::TableTooBig&) {
  }
  if (out.bytes.size() > 8192) __builtin_trap();
  return 0;
}
