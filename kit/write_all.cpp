#include "write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumbra::kit {

namespace {

// The loop of both: `put` writes what is left at `done` bytes from the start.
template <class Put>
int writeLoop(const void* p, std::size_t n, Put put) noexcept {
  const char* c = static_cast<const char*>(p);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = put(c + done, n - done, done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno;
    if (w == 0) return no_progress;
    done += static_cast<std::size_t>(w);
  }
  return 0;
}

}  // namespace

int writeAll(int fd, const void* p, std::size_t n) noexcept {
  return writeLoop(p, n, [fd](const char* c, std::size_t left, std::size_t) { return ::write(fd, c, left); });
}

int writeAllAt(int fd, const void* p, std::size_t n, std::uint64_t offset) noexcept {
  return writeLoop(p, n, [fd, offset](const char* c, std::size_t left, std::size_t done) {
    return ::pwrite(fd, c, left, static_cast<off_t>(offset + done));
  });
}

std::string writeFailure(int failure) { return failure == no_progress ? "nothing written" : std::strerror(failure); }

}  // namespace lumbra::kit
