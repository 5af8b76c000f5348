#include "atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app.h"

namespace lumbra::kit {

namespace {

std::string shown(const std::string& path) { return path == "-" ? "standard output" : path; }

// The permission a new file gets: 0666 less the process's umask.
mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void writeAll(int fd, const unsigned char* p, std::size_t n, const std::string& name) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw Failure("can't write " + name + ": " + (w < 0 ? std::strerror(errno) : "nothing written"));
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

}  // namespace

AtomicOutput::AtomicOutput(std::string path, bool force) : path_(std::move(path)) {
  std::string dir;
  if (path_ == "-") {
    const char* t = std::getenv("TMPDIR");
    dir = t && *t ? std::string(t) + "/" : "/tmp/";
  } else {
    struct stat st;
    if (!force && ::lstat(path_.c_str(), &st) == 0)
      throw Failure(path_ + " exists; use --force to replace it");
    const std::size_t slash = path_.rfind('/');
    dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  }
  const std::size_t slash = path_.rfind('/');
  const std::string base = path_ == "-" ? "lumbra-kit" : path_.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string name = dir + "." + base + ".XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  fd_ = ::mkstemp(buf.data());
  if (fd_ < 0) throw Failure("can't create a temporary file beside " + shown(path_) + ": " + std::strerror(errno));
  temp_ = buf.data();
  if (path_ == "-") {
    // Standard output gets a copy, so the file needs no name: nothing is
    // left behind even when a signal ends the run.
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

AtomicOutput::~AtomicOutput() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicOutput::fail(const std::string& what) const {
  throw Failure("can't write " + shown(path_) + ": " + what);
}

void AtomicOutput::put(const unsigned char* p, std::size_t n) { writeAll(fd_, p, n, shown(path_)); }

void AtomicOutput::patch(std::uint64_t offset, const unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) fail(w < 0 ? std::strerror(errno) : "nothing written");
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += static_cast<std::uint64_t>(w);
  }
}

void AtomicOutput::commit() {
  if (path_ == "-") {
    // The temporary file, from its start, to standard output.
    std::vector<unsigned char> buf(std::size_t{64} * 1024);
    if (::lseek(fd_, 0, SEEK_SET) != 0) fail(std::strerror(errno));
    for (;;) {
      const ssize_t r = ::read(fd_, buf.data(), buf.size());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) fail(std::strerror(errno));
      if (r == 0) break;
      writeAll(1, buf.data(), static_cast<std::size_t>(r), "standard output");
    }
    return;
  }
  if (::fchmod(fd_, newFileMode()) != 0) fail(std::strerror(errno));
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(std::strerror(errno));
  if (::rename(temp_.c_str(), path_.c_str()) != 0) fail(std::strerror(errno));
  temp_.clear();
}

}  // namespace lumbra::kit
