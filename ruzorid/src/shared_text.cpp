#include "kova/shared_text.h"

#include <cstdio>

namespace kova {

sh_str new_str(mem_pool& pool, ch_range r) {
  return sh_str::adopt(pool, pool_new<mp_string>(pool, pool, r));
}

sh_str new_str(mem_pool& pool, int n) {
  sh_str s = new_str(pool, ch_range());
  s->reserve(n);  // on failure `s` releases the new text on the way out
  return s;
}

sh_str new_str(const sh_str& other, int n) {
  sh_str s = new_str(other.pool(), other->range());
  s->reserve(n);
  return s;
}

const sh_str& operator<<(const sh_str& s, ch_range r) {
  s->append(r);
  return s;
}

const sh_str& operator<<(const sh_str& s, const char* cstr) { return s << ch_range(cstr); }

const sh_str& operator<<(const sh_str& s, int value) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%d", value);
  return s << ch_range(buf, buf + n);
}

}  // namespace kova
