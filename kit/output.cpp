#include "output.h"

#include "app.h"
#include "write_all.h"

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
  put(pending.data(), pending.size());
}

void Output::spill(std::string_view s) {
  flush();
  if (s.size() >= capacity) put(s.data(), s.size());
  else buf_.append(s);
}

void Output::put(const char* p, std::size_t n) {
  if (const int failure = writeAll(fd_, p, n)) throw Failure("can't write to standard output: " + writeFailure(failure));
}

}  // namespace lumbra::kit
