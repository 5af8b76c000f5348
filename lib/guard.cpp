#include "guard.h"

#include <gmp.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace lumbra::api {

namespace {

// NOTE: the memory comes from the C heap as GMP's default functions take
// it, so a number made inside a call and freed outside (a Ranker's table,
// a BigNat's conversion) is freed by the function that matches. A program
// that gave GMP functions over another heap keeps them outside the calls.
void* allocate(std::size_t n) {
  void* p = std::malloc(n);
  if (p == nullptr && n > 0) throw std::bad_alloc();
  return p;
}

void* reallocate(void* p, std::size_t, std::size_t n) {
  void* q = std::realloc(p, n);
  if (q == nullptr && n > 0) throw std::bad_alloc();
  return q;
}

void release(void* p, std::size_t) { std::free(p); }

// The calls inside, and the functions that were in force before the first.
std::mutex mutex;
unsigned inside = 0;
void* (*previousAllocate)(std::size_t) = nullptr;
void* (*previousReallocate)(void*, std::size_t, std::size_t) = nullptr;
void (*previousRelease)(void*, std::size_t) = nullptr;
// Whether the first call in replaced them: only GMP's own are replaced.
bool installed = false;

// GMP's own functions, as in force when the library was loaded.
struct Defaults {
  void* (*allocate)(std::size_t) = nullptr;
  void* (*reallocate)(void*, std::size_t, std::size_t) = nullptr;
  void (*release)(void*, std::size_t) = nullptr;
  Defaults() { mp_get_memory_functions(&allocate, &reallocate, &release); }
};
const Defaults defaults;

}  // namespace

GmpMemoryGuard::GmpMemoryGuard() noexcept {
  const std::lock_guard lock(mutex);
  if (inside++ > 0) return;
  mp_get_memory_functions(&previousAllocate, &previousReallocate, &previousRelease);
  // A program that gave GMP functions of its own (lumbra's pool) keeps them:
  // they are its policy, and its numbers live in its heap.
  installed = previousAllocate == defaults.allocate && previousReallocate == defaults.reallocate &&
              previousRelease == defaults.release;
  if (installed) mp_set_memory_functions(allocate, reallocate, release);
}

GmpMemoryGuard::~GmpMemoryGuard() {
  const std::lock_guard lock(mutex);
  if (--inside > 0) return;
  if (installed) mp_set_memory_functions(previousAllocate, previousReallocate, previousRelease);
}

void throwOutOfMemory() { throw ResourceError("out of memory"); }

void throwThreadRefused(const std::system_error& e) {
  throw ResourceError("can't start a thread: " + e.code().message());
}

}  // namespace lumbra::api
