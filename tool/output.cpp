#include "output.h"

#include <unistd.h>

#include <cstring>

#include "kova/error_codes.h"
#include "kova/hard_assert.h"

namespace lumbra {

output_file::output_file(kova::mem_pool& pool, int fd) : kova::file(pool, fd) {
  if (!isatty(fd)) buf_ = static_cast<char*>(pool.alloc(capacity));
}

output_file::~output_file() {
  flush();
  if (buf_) pool().free(buf_, capacity);
}

int output_file::tryWrite(const void* buf, int n) {
  hard_assert(n >= 0, "n>=0");
  if (writeError_ != 0) return -1;
  const char* p = static_cast<const char*>(buf);
  if (!buf_) {
    emit(p, n);
  } else if (len_ + n <= capacity) {
    std::memcpy(buf_ + len_, p, static_cast<std::size_t>(n));
    len_ += n;
  } else {
    flush();
    if (n < capacity) {
      std::memcpy(buf_, p, static_cast<std::size_t>(n));
      len_ = n;
    } else {
      emit(p, n);
    }
  }
  return writeError_ != 0 ? -1 : n;
}

void output_file::flush() noexcept {
  if (len_ > 0) emit(buf_, len_);
  len_ = 0;
}

void output_file::emit(const char* p, int n) noexcept {
  while (n > 0 && writeError_ == 0) {
    const int done = kova::file::tryWrite(p, n);
    if (done <= 0) {
      writeError_ = done < 0 ? lastError() : kova::err_io;
      return;
    }
    p += done;
    n -= done;
  }
}

}  // namespace lumbra
