#include "kova/file.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "kova/error_codes.h"
#include "kova/exception.h"
#include "kova/hard_assert.h"

namespace kova {

namespace {

// One function per system call: it makes the call once, whatever the
// descriptor, and leaves the library code of its errno (or 0) in `err`.

int sys_open(const char* path, int oflag, std::int32_t& err) {
  int r = ::open(path, oflag, 0600);
  err = r == -1 ? codeFromErrno(errno) : 0;
  return r;
}

bool sys_close(int fd, std::int32_t& err) {
  int r = ::close(fd);
  err = r == -1 ? codeFromErrno(errno) : 0;
  return r == 0;
}

int sys_read(int fd, void* buf, int n, std::int32_t& err) {
  ssize_t r = ::read(fd, buf, static_cast<std::size_t>(n));
  err = r == -1 ? codeFromErrno(errno) : 0;
  return static_cast<int>(r);  // at most n
}

int sys_write(int fd, const void* buf, int n, std::int32_t& err) {
  ssize_t r = ::write(fd, buf, static_cast<std::size_t>(n));
  err = r == -1 ? codeFromErrno(errno) : 0;
  return static_cast<int>(r);  // at most n
}

off_t sys_lseek(int fd, int offset, int whence, std::int32_t& err) {
  off_t r = ::lseek(fd, offset, whence);
  err = r == -1 ? codeFromErrno(errno) : 0;
  return r;
}

// NOTE: there is no binary flag to add: POSIX descriptors never translate
// line ends.
int open_flags(int access, int flags) {
  int o = access == wr ? O_WRONLY : access == rdwr ? O_RDWR : O_RDONLY;
  if (flags & open_append) o |= O_APPEND;
  if (flags & open_create) o |= O_CREAT;
  if (flags & open_excl) o |= O_EXCL;
  if (flags & open_trunc) o |= O_TRUNC;
  return o;
}

int seek_whence(int origin) {
  return origin == seek_cur ? SEEK_CUR : origin == seek_end ? SEEK_END : SEEK_SET;
}

}  // namespace

file::file(mem_pool& mp)
    : pool_(&mp), fd_(-1), owns_(false), name_(new_str(mp, ch_range())), lastError_(0) {}

file::file(mem_pool& mp, ch_range name, int access, int flags) : file(mp) {
  open(name, access, flags);
}

file::file(mem_pool& mp, int fd) : file(mp) { attach(fd); }

file::~file() {
  if (owns_ && fd_ != -1) {
    std::int32_t err;
    if (sys_close(fd_, err)) toClosed();
  }
}

void file::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

void file::toClosed() {
  fd_ = -1;
  owns_ = false;
  name_->resize(0);  // keeps the buffer, so it cannot fail
  lastError_ = 0;
}

// NOTE: the position of each raise below is a fixed line of this file, kept
// as a named constant beside the raise: it is part of every error text users
// see, so editing the file must not move it.
static constexpr src_pos raise_pos(int line) { return src_pos{__FILE__, line}; }

// The exception of a failed operation on this handle.
static sh_ptr<Exception> fileError(const file& f, int line, ch_range message) {
  return newFileErrorException(f.pool(), raise_pos(line), message, f.lastError(), f.name()->range());
}

int file::tryRead(void* buf, int n) {
  // A negative count would reach the system as a huge unsigned one.
  hard_assert(n >= 0, "n>=0");
  if (n == 0) {
    lastError_ = 0;
    return 0;
  }
  return sys_read(fd_, buf, n, lastError_);
}

int file::tryWrite(const void* buf, int n) {
  hard_assert(n >= 0, "n>=0");
  if (n == 0) {
    lastError_ = 0;
    return 0;
  }
  return sys_write(fd_, buf, n, lastError_);
}

constexpr int read_raise = 195;

int file::read(void* buf, int n) {
  int r = tryRead(buf, n);
  if (lastError_ != 0) throw fileError(*this, read_raise, "Can't read from file");
  return r;
}

constexpr int write_raise = 217;

int file::write(const void* buf, int n) {
  int r = tryWrite(buf, n);
  if (lastError_ != 0) throw fileError(*this, write_raise, "Can't write to file");
  return r;
}

int file::tryRead(const sh_str& text, int n) {
  hard_assert(n >= 0, "n>=0");
  text->resize(0);
  text->reserve(n);
  int r = tryRead(text->data(), n);
  if (r != -1) text->resize(r);
  return r;
}

constexpr int read_text_raise = 206;

int file::read(const sh_str& text, int n) {
  int r = tryRead(text, n);
  if (lastError_ != 0) throw fileError(*this, read_text_raise, "Can't read from file");
  return r;
}

int file::trySeek(int offset, int origin) {
  off_t r = sys_lseek(fd_, offset, seek_whence(origin), lastError_);
  // Positions are 32-bit: one beyond that range is a failure, not a
  // truncated number. The descriptor has moved all the same.
  if (r > std::numeric_limits<std::int32_t>::max()) {
    lastError_ = err_overflow;
    return -1;
  }
  return static_cast<int>(r);
}

constexpr int seek_raise = 239;

int file::seek(int offset, int origin) {
  int r = trySeek(offset, origin);
  if (lastError_ != 0) throw fileError(*this, seek_raise, "Can't seek on file");
  return r;
}

constexpr int tell_raise = 228;

int file::tell() {
  int r = trySeek(0, seek_cur);
  if (lastError_ != 0) throw fileError(*this, tell_raise, "Can't tell on file");
  return r;
}

bool file::openCopy(const sh_str& path, int access, int flags) {
  // Room for the new name before the call, so that nothing can fail once a
  // descriptor is open.
  name_->reserve(path->size());
  fd_ = sys_open(path->c_str(), open_flags(access, flags), lastError_);
  if (fd_ == -1) return false;
  owns_ = true;
  name_->assign(path->range());
  return true;
}

bool file::tryOpen(ch_range name, int access, int flags) {
  return openCopy(new_str(*pool_, name), access, flags);
}

constexpr int open_raise = 160;

void file::open(ch_range name, int access, int flags) {
  sh_str requested = new_str(*pool_, name);
  openCopy(requested, access, flags);
  if (lastError_ != 0) {
    throw newFileErrorException(*pool_, raise_pos(open_raise), "Can't open file", lastError_,
                                requested->range());
  }
}

bool file::tryAttach(int fd) {
  if (fd < 0) {
    lastError_ = err_badf;
    return false;
  }
  sh_str text = new_str(*pool_, 1024) << "(attached to " << fd << ")";
  name_->assign(text->range());
  fd_ = fd;
  owns_ = false;
  lastError_ = 0;
  return true;
}

constexpr int attach_raise = 178;

void file::attach(int fd) {
  tryAttach(fd);
  if (lastError_ != 0) {
    sh_str message = new_str(*pool_, 1024) << "Can't attach to \"" << fd << "\"";
    throw fileError(*this, attach_raise, message->range());
  }
}

bool file::tryClose() {
  if (!sys_close(fd_, lastError_)) return false;
  toClosed();
  return true;
}

constexpr int close_raise = 169;

void file::close() {
  tryClose();
  if (lastError_ != 0) throw fileError(*this, close_raise, "Can't close file");
}

bool file::detach() {
  toClosed();
  return true;
}

constexpr int check_error_raise = 151;

void file::checkError() {
  if (lastError_ != 0) throw fileError(*this, check_error_raise, "File error");
}

int file::tryRemove(mem_pool& mp, ch_range name) {
  sh_str path = new_str(mp, name);
  return std::remove(path->c_str()) == 0 ? 0 : codeFromErrno(errno);
}

constexpr int remove_raise = 306;

void file::remove(mem_pool& mp, ch_range name) {
  int code = tryRemove(mp, name);
  if (code != 0) throw newFileErrorException(mp, raise_pos(remove_raise), "Can't remove file", code, name);
}

sh_ptr<file> newFile(mem_pool& mp) { return sh_ptr<file>::adopt(mp, pool_new<file>(mp, mp)); }

sh_ptr<file> newFile(mem_pool& mp, ch_range name, int access, int flags) {
  return sh_ptr<file>::adopt(mp, pool_new<file>(mp, mp, name, access, flags));
}

sh_ptr<file> newFile(mem_pool& mp, int fd) {
  return sh_ptr<file>::adopt(mp, pool_new<file>(mp, mp, fd));
}

}  // namespace kova
