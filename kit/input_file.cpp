#include "input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app.h"

namespace lumbra::kit {

InputFile::InputFile(const std::string& path)
    : name_(path == "-" ? "standard input" : path), fd_(path == "-" ? 0 : ::open(path.c_str(), O_RDONLY)), owned_(path != "-") {
  if (fd_ < 0) throw Failure("can't open " + name_ + ": " + std::strerror(errno));
}

InputFile::~InputFile() {
  if (owned_) ::close(fd_);
}

std::size_t InputFile::get(unsigned char* buf, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd_, buf, n);
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR) throw Failure("can't read " + name_ + ": " + std::strerror(errno));
  }
}

}  // namespace lumbra::kit
