// output_file: the run's standard output.
//
// It is a file attached to a descriptor whose tryWrite collects the bytes in
// a 64 KiB buffer (taken from the run's pool) and hands them to the
// descriptor when the buffer is full and when flush() is called, so that a
// command may write piece by piece without one system call per piece. The
// bytes and their order are exactly those written. On a terminal nothing is
// held back: every write goes straight through. The buffer goes back to the
// pool when the handle goes, after a last flush.
//
// NOTE: unlike a plain file's single system call, a short write is
// continued until every byte is out, and a write that takes 0 bytes counts
// as a failure (I/O error): nothing written to standard output is lost
// without a report.
//
// Errors are deferred and sticky. A write that is only collected returns n;
// if collected bytes later fail to reach the descriptor, the write or flush
// that hands them over learns it. The first failure is kept (writeError):
// from then on nothing more is written, and tryWrite returns -1 without a
// system call, so a command can stop at once (failed()) and the run can
// report that first failure instead of ending with success.
#pragma once

#include "kova/file.h"
#include "kova/mem_pool.h"

namespace lumbra {

class output_file final : public kova::file {
 public:
  output_file(kova::mem_pool& pool, int fd);
  ~output_file() override;

  // n when the bytes are collected or written, -1 once a write has failed
  // (this one or an earlier one). Requires n >= 0.
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

// What a command needs of its output besides writing, for any file: an
// output_file, or a plain file, which holds nothing back and whose last write
// tells whether writing failed. The kind of file is looked up once, since
// the commands ask after every block. Refers to `out`, which must outlive it.
class output_state {
 public:
  explicit output_state(kova::file& out) noexcept : out_(out), sink_(dynamic_cast<output_file*>(&out)) {}
  // Whether a write has failed, so that nothing further can reach a reader.
  bool failed() const noexcept { return sink_ ? sink_->writeError() != 0 : out_.lastError() != 0; }
  // Hands over what the output holds back, before the command waits for input.
  void flush() noexcept {
    if (sink_) sink_->flush();
  }

 private:
  kova::file& out_;
  output_file* sink_;
};

}  // namespace lumbra
