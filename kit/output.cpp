#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app.h"

namespace lumbra::kit {

Output::~Output() {
  // NOTE: flush() may also throw std::bad_alloc; a destructor lets nothing
  // out, or the run would end in std::terminate.
  try {
    flush();
  } catch (...) {
  }
}

void Output::flush() {
  std::string pending;
  pending.swap(buf_);
  buf_.reserve(capacity);
  writeAll(pending.data(), pending.size());
}

void Output::spill(std::string_view s) {
  flush();
  if (s.size() >= capacity) writeAll(s.data(), s.size());
  else buf_.append(s);
}

void Output::writeAll(const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw Failure(std::string("can't write to standard output: ") + (w < 0 ? std::strerror(errno) : "nothing written"));
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

}  // namespace lumbra::kit
