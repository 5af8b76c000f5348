#include "input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app.h"

namespace lumbra::kit {

Input::Input(const std::string& name) : name_(name == "-" ? "standard input" : name) {
  if (name == "-") {
    fd_ = 0;
  } else {
    do fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw Failure("can't open " + name_ + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      if (fd_ != 0) ::close(fd_);
      throw Failure("can't read " + name_ + ": " + std::strerror(EISDIR));
    }
    regular_ = S_ISREG(st.st_mode);
    size_ = regular_ ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
}

Input::~Input() {
  if (fd_ != 0) ::close(fd_);
}

std::size_t Input::fill(unsigned char* buf, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t r = ::read(fd_, buf + got, size - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw Failure("can't read " + name_ + ": " + std::strerror(errno));
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

}  // namespace lumbra::kit
