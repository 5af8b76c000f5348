#include "triangle/utils.h"

#include <climits>

namespace lumbra {

bool parseInt(const char* text, int& value) {
  if (*text == '\0') return false;
  long long v = 0;
  bool fits = true;
  for (const char* p = text; *p != '\0'; ++p) {
    // The digit test of the C locale: exactly '0'..'9', whatever the locale.
    if (*p < '0' || *p > '9') return false;
    if (fits) {
      v = v * 10 + (*p - '0');
      fits = v <= INT_MAX;
    }
  }
  if (!fits) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace lumbra
