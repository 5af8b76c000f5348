#include "output.h"

#include <unistd.h>

#include <cstring>

namespace lumbra {

output_file::output_file(kova::mem_pool& pool, int fd) : kova::file(pool, fd) {
  if (!isatty(fd)) buf_ = static_cast<char*>(pool.alloc(capacity));
}

output_file::~output_file() {
  flush();
  if (buf_) pool().free(buf_, capacity);
}

int output_file::tryWrite(const void* buf, int n) {
  if (n <= 0) return 0;
  const char* p = static_cast<const char*>(buf);
  if (!buf_) {
    emit(p, n);
  } else if (len_ + n <= capacity) {
    std::memcpy(buf_ + len_, p, n);
    len_ += n;
  } else {
    flush();
    if (n < capacity) {
      std::memcpy(buf_, p, n);
      len_ = n;
    } else {
      emit(p, n);
    }
  }
  return n;
}

void output_file::flush() noexcept {
  if (len_ > 0) emit(buf_, len_);
  len_ = 0;
}

void output_file::emit(const char* p, int n) noexcept {
  while (n > 0) {
    int done = kova::file::tryWrite(p, n);
    if (done <= 0) {
      if (writeError_ == 0) writeError_ = done < 0 ? lastError() : 29;  // 29: I/O error
      return;
    }
    p += done;
    n -= done;
  }
}

}  // namespace lumbra
