// output_file: the run's standard output.
//
// It is a file attached to a descriptor whose tryWrite collects the bytes in
// a 64 KiB buffer (taken from the run's pool) and hands them to the
// descriptor when the buffer is full and when flush() is called, so that a
// command may write piece by piece without one system call per piece. The
// bytes and their order are exactly those written. On a terminal nothing is
// held back: every write goes straight through.
//
// Writes are never retried and their failures do not stop a command, but the
// first failure is remembered (writeError) so that the run can report it
// once the command is done instead of ending with success.
#pragma once

#include "kova/file.h"
#include "kova/mem_pool.h"

namespace lumbra {

class output_file final : public kova::file {
 public:
  output_file(kova::mem_pool& pool, int fd);
  ~output_file() override;

  int tryWrite(const void* buf, int n) override;
  // Hands everything collected to the descriptor.
  void flush() noexcept;
  // The library error code of the first write that failed, 0 if none did.
  int writeError() const { return writeError_; }

  void destroy(kova::mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }

 private:
  // One or more system writes of [p, p+n); a short write is continued, a
  // failed one is recorded and ends the transfer.
  void emit(const char* p, int n) noexcept;

  static constexpr int capacity = 64 * 1024;
  char* buf_ = nullptr;  // null when unbuffered (a terminal)
  int len_ = 0;
  int writeError_ = 0;
};

}  // namespace lumbra
