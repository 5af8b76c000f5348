#include "kova/hard_assert.h"

#include <cstdio>
#include <cstdlib>

namespace kova {

void hard_assert_failed(const char* expr, const char* path, int line) noexcept {
  std::fprintf(stderr, "\nHard assertion failed: %s, file %s, line %d\n", expr, path, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace kova
