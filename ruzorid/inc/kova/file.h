// readable, writable and file: byte sources, byte sinks and the handle on an
// operating-system file descriptor.
//
// readable and writable are interfaces over a non-raising read and write, so
// that code can move bytes without knowing a file is behind them. Both have
// destroyable as a virtual base: a file, which is both, has one destroyable
// part, and an sh_ptr to either interface can release it.
//
// A file either opened its descriptor by name (then it owns it, and its
// destructor closes it) or was attached to a descriptor that exists already
// (standard output and error), which it never closes by itself. It holds a
// pointer to its pool, which must outlive it; the name text and every
// exception the handle raises are made in that pool. A file lives where it is
// declared, or in a pool through newFile and sh_ptr<file>.
//
// Every operation that touches the system makes exactly one system call: no
// retry (an interrupted call fails with code 27), no loop over partial
// transfers, no buffering. Operations come in two forms: the try-form never
// throws except std::bad_alloc from the pool and leaves a library error code
// (error_codes.h) in lastError(), 0 after success; the raising form throws a
// sh_ptr<Exception> holding a FileErrorException whenever that code is not 0.
//
// Opening or attaching does not close a descriptor the handle held before;
// close it first if it is owned.
#pragma once

#include <cstdint>

#include "kova/destroy.h"
#include "kova/mem_pool.h"
#include "kova/mp_string.h"
#include "kova/sh_ptr.h"
#include "kova/shared_text.h"

namespace kova {

class readable : public virtual destroyable {
 public:
  // Reads at most n bytes (n >= 0) into buf: the count read, 0 at the end,
  // -1 on failure.
  virtual int tryRead(void* buf, int n) = 0;
};

class writable : public virtual destroyable {
 public:
  // Writes at most n bytes (n >= 0) from buf: the count written, -1 on
  // failure.
  virtual int tryWrite(const void* buf, int n) = 0;
};

// Access modes of open; any other value counts as rd.
inline constexpr int rd = 0;
inline constexpr int wr = 1;
inline constexpr int rdwr = 2;

// Flags of open, a bit set; other bits are ignored. Files are always opened
// in binary mode, and a created file gets permission 0600 (before umask).
inline constexpr int open_append = 1;
inline constexpr int open_create = 2;
inline constexpr int open_excl = 4;  // with open_create: fail if the file exists
inline constexpr int open_trunc = 8;

// Origins of seek; any other value counts as seek_set.
inline constexpr int seek_set = 0;
inline constexpr int seek_cur = 1;
inline constexpr int seek_end = 2;

class file : public readable, public writable {
 public:
  // A closed handle whose empty name lives in `mp`.
  explicit file(mem_pool& mp);
  // A handle on the named file; throws if it cannot be opened.
  file(mem_pool& mp, ch_range name, int access, int flags);
  // A handle attached to `fd`; throws if fd is negative.
  file(mem_pool& mp, int fd);
  // Closes an owned descriptor; a failing close is ignored.
  ~file() override;
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  void destroy(mem_pool& pool) noexcept override;

  int tryRead(void* buf, int n) override;
  int tryWrite(const void* buf, int n) override;
  int read(void* buf, int n);
  int write(const void* buf, int n);

  // Replace the text with at most n bytes read from the file; the result is
  // that of tryRead, and on failure the text is left empty.
  int tryRead(const sh_str& text, int n);
  int read(const sh_str& text, int n);

  // The position from the file's beginning.
  int tell();
  // The new position from the file's beginning; trySeek gives -1 on failure.
  int seek(int offset, int origin);
  int trySeek(int offset, int origin);

  void open(ch_range name, int access, int flags);
  bool tryOpen(ch_range name, int access, int flags);
  void attach(int fd);
  bool tryAttach(int fd);
  // Closes the descriptor, owned or attached; on success the handle is
  // closed, on failure nothing but lastError() changes.
  void close();
  bool tryClose();
  // Back to the closed state without closing anything.
  bool detach();
  // Throws if lastError() is not 0.
  void checkError();

  // Deletes the named file; tryRemove gives the library error code.
  static void remove(mem_pool& mp, ch_range name);
  static int tryRemove(mem_pool& mp, ch_range name);

  mem_pool& pool() const { return *pool_; }
  int fd() const { return fd_; }
  bool owns() const { return owns_; }
  // The opened name, "(attached to <fd>)", or empty when closed.
  const sh_str& name() const { return name_; }
  int lastError() const { return lastError_; }

 private:
  // The state reached by a successful close or detach.
  void toClosed();
  // Opens the name held in `path`, a copy of the caller's name: the caller's
  // range may lie in name_, whose buffer may be replaced, and the system
  // needs the terminating zero.
  bool openCopy(const sh_str& path, int access, int flags);

  mem_pool* pool_;
  // -1 when the handle holds no descriptor (after a failed open too).
  std::int32_t fd_;
  // Only an owned descriptor is closed by the destructor.
  bool owns_;
  // In *pool_; emptied on close, its buffer kept.
  sh_str name_;
  std::int32_t lastError_;
};

// The constructors of file, with the handle's storage taken from `mp`. If
// the constructor throws, the storage goes back before the exception passes.
sh_ptr<file> newFile(mem_pool& mp);
sh_ptr<file> newFile(mem_pool& mp, ch_range name, int access, int flags);
sh_ptr<file> newFile(mem_pool& mp, int fd);

}  // namespace kova
