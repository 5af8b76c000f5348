// mem_pool: the size-class memory pool behind every object of a run.
//
// Requests of 1..256 bytes are served from 64 small classes (one per 4 bytes
// of request size), 257..8192 bytes from 248 large classes (one per 32 bytes);
// larger requests go straight to the heap. A class takes its memory from the
// heap in chunks of max(chunk_bytes / object size, chunk_objs) objects and
// keeps freed objects on a LIFO list. Objects carry no header, so free() must
// be given the very size that alloc() was given. Chunks go back to the heap
// only when the pool is destroyed; objects still in use then become invalid.
//
// NOTE: pointers are 8 bytes here, and a free object holds its list link in
// its first word. Object sizes are therefore rounded up to a multiple of 8
// (small classes) or 32 (large classes); the class of a request is the same
// as with 4-byte objects, but every small class whose object size is an odd
// multiple of 4 (4, 12, 20, ..., 252) takes objects of the next multiple of
// 8, the size of its upper neighbour. Every object is 8-byte aligned, enough
// for pointers, ints and GMP limbs.
//
// Heap exhaustion surfaces as std::bad_alloc; the pool stays consistent.
// Single-threaded: a pool must not be shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace kova {

// A test seam: an observer that sees every request of one pool. The pool
// calls it only while it is installed (set_probe), so it costs one predictable
// branch otherwise.
class pool_probe {
 public:
  // Before a request is served; may throw std::bad_alloc to simulate
  // exhaustion, in which case the pool changes nothing.
  virtual void before_alloc(std::size_t size) { (void)size; }
  virtual void after_alloc(void* p, std::size_t size) { (void)p, (void)size; }
  virtual void before_free(void* p, std::size_t size) { (void)p, (void)size; }
  // A chunk of `bytes` was taken; the chunk array now has room for
  // `array_capacity` entries.
  virtual void chunk_taken(std::size_t bytes, std::size_t array_capacity) {
    (void)bytes, (void)array_capacity;
  }

 protected:
  ~pool_probe() = default;
};

#if defined(__SANITIZE_ADDRESS__)
#define KOVA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOVA_ASAN 1
#endif
#endif

namespace detail {

// One size class. `head` is the LIFO list of freed objects. A new chunk is
// not threaded onto the list all at once: its objects are handed out from
// `carve` upwards as they are needed, which gives the same addresses in the
// same order as a fully linked chunk but touches a page only when an object
// on it is first used.
struct size_class {
  void* head = nullptr;
  char* carve = nullptr;
  char* carve_end = nullptr;
};

// The part of a pool's state that alloc() and free() read inline: the
// observer and the 64 small and 248 large classes.
struct pool_lists {
  pool_probe* probe = nullptr;
  size_class small_heads[64];
  size_class large_heads[248];
};

}  // namespace detail

class mem_pool {
 public:
  // Takes the state record and the 64-entry chunk array; no chunk yet.
  mem_pool(std::uint32_t chunk_bytes, std::uint32_t chunk_objs);
  ~mem_pool();
  mem_pool(const mem_pool&) = delete;
  mem_pool& operator=(const mem_pool&) = delete;

  // At least `size` bytes, 8-byte aligned; never null. Throws std::bad_alloc.
  void* alloc(std::size_t size) {
#ifndef KOVA_ASAN
    // NOTE: the common case, a class whose free list has an object and no
    // observer, is inlined; everything else (and every request under
    // AddressSanitizer, which poisons blocks) takes the out-of-line path.
    if (!st_->probe) [[likely]]
      if (detail::size_class* c = class_of(size))
        if (void* p = c->head) {
          c->head = *static_cast<void**>(p);
          return p;
        }
#endif
    return alloc_slow(size);
  }
  // Gives back a block; `size` is the byte count that alloc() was given.
  void free(void* p, std::size_t size) noexcept {
#ifndef KOVA_ASAN
    if (!st_->probe) [[likely]]
      if (detail::size_class* c = class_of(size)) {
        *static_cast<void**>(p) = c->head;
        c->head = p;
        return;
      }
#endif
    free_slow(p, size);
  }

  // Typed forms: the size is that of T, so no caller computes it by hand.
  template <class T>
  T* alloc_for() {
    return static_cast<T*>(alloc(sizeof(T)));
  }
  template <class T>
  void free_for(T* p) noexcept {
    free(p, sizeof(T));
  }

  // Installs (or with nullptr removes) the observer of this pool.
  void set_probe(pool_probe* probe) noexcept;

 private:
  struct state;  // derives from detail::pool_lists

  // The class of a request of 1..8192 bytes; null for larger requests (the
  // heap's) and for 0 bytes (which no caller makes; the slow path serves it).
  detail::size_class* class_of(std::size_t size) const noexcept {
    if (size - 1 < 256) return &st_->small_heads[(size - 1) >> 2];
    if (size - 257 < 8192 - 256) return &st_->large_heads[(size - 257) >> 5];
    return nullptr;
  }
  void* alloc_slow(std::size_t size);
  void free_slow(void* p, std::size_t size) noexcept;
  state& st() const noexcept;

  detail::pool_lists* st_;
};

// Takes storage for a T from `pool` and constructs it there; if the
// constructor throws, the storage goes back before the exception passes.
template <class T, class... Args>
T* pool_new(mem_pool& pool, Args&&... args) {
  void* p = pool.alloc(sizeof(T));
  try {
    return ::new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    pool.free(p, sizeof(T));
    throw;
  }
}

}  // namespace kova
