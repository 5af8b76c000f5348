// lumbra-kit's standard output buffer: its destructor lets nothing out,
// whatever its last flush throws.
#include "output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace {
bool fail_allocations = false;
}

// NOTE: the whole test program's allocations, failing on demand.
void* operator new(std::size_t n) {
  if (fail_allocations) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(KitOutput, TheDestructorSwallowsAFailedAllocation) {
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    lumbra::kit::Output out(fd);
    out << "pending";
    fail_allocations = true;
  }
  fail_allocations = false;
  ::close(fd);
}

}  // namespace
