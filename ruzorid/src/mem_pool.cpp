#include "kova/mem_pool.h"

#include <algorithm>
#include <memory>
#include <vector>

#ifdef KOVA_ASAN
#include <sanitizer/asan_interface.h>
// Free objects and the uncarved rest of a chunk are poisoned, so that
// AddressSanitizer reports a use after free() even though the pool keeps the
// memory; only the link word of a free object stays readable.
#define KOVA_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KOVA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define KOVA_POISON(p, n) static_cast<void>(0)
#define KOVA_UNPOISON(p, n) static_cast<void>(0)
#endif

namespace kova {

namespace {

constexpr std::size_t small_limit = 256;
constexpr std::size_t large_limit = 8192;
constexpr std::size_t initial_chunk_slots = 64;

using detail::size_class;

void* next_of(void* obj) { return *static_cast<void**>(obj); }

}  // namespace

struct mem_pool::state : detail::pool_lists {
  std::uint32_t chunk_bytes;
  std::uint32_t chunk_objs;
  std::vector<void*> chunks;  // every chunk taken, in the order taken

  state(std::uint32_t bytes, std::uint32_t objs) : chunk_bytes(bytes), chunk_objs(objs) {
    chunks.reserve(initial_chunk_slots);
  }

  // The class serving a request of `size` bytes and its object size; null
  // for requests above 8192 bytes, which go to the heap. A request of 0
  // bytes (which no caller makes) is served as 1 byte.
  size_class* class_of(std::size_t size, std::size_t& obj_size) {
    if (size <= small_limit) {
      obj_size = size == 0 ? 8 : (size + 7) & ~std::size_t{7};
      return &small_heads[size == 0 ? 0 : (size - 1) >> 2];
    }
    if (size <= large_limit) {
      obj_size = (size + 31) & ~std::size_t{31};
      return &large_heads[(size - 257) >> 5];
    }
    return nullptr;
  }

  // Gives an empty class a new chunk of objects of `obj_size` bytes.
  void refill(size_class& c, std::size_t obj_size) {
    // Room for the entry first, so that recording the chunk cannot fail once
    // it has been taken.
    // NOTE: past the first 64 chunks the array doubles instead of growing by
    // one entry per chunk: growing by one copies the whole array for every
    // chunk, a cost that rises with the square of the chunk count and that
    // exceeded the work itself on the largest tables the memory check
    // admits (hundreds of thousands of chunks). Beyond the vector's maximum
    // size, reserve still raises std::length_error.
    if (chunks.size() == chunks.capacity()) chunks.reserve(std::max(chunks.size() * 2, chunks.size() + 1));
    std::size_t count = std::max<std::size_t>(chunk_bytes / obj_size, chunk_objs);
    std::size_t bytes = count * obj_size;
    char* chunk = static_cast<char*>(::operator new(bytes));
    chunks.push_back(chunk);
    KOVA_POISON(chunk, bytes);
    c.carve = chunk;
    c.carve_end = chunk + bytes;
    if (probe) probe->chunk_taken(bytes, chunks.capacity());
  }

  void* alloc_plain(std::size_t size) {
    std::size_t obj_size;
    size_class* c = class_of(size, obj_size);
    if (!c) return ::operator new(size);
    if (void* p = c->head) {
      c->head = next_of(p);
      KOVA_POISON(p, obj_size);
      KOVA_UNPOISON(p, size);
      return p;
    }
    if (c->carve == c->carve_end) refill(*c, obj_size);
    void* p = c->carve;
    c->carve += obj_size;
    KOVA_UNPOISON(p, size);
    return p;
  }

  void free_plain(void* p, std::size_t size) noexcept {
    std::size_t obj_size;
    size_class* c = class_of(size, obj_size);
    if (!c) {
      ::operator delete(p, size);
      return;
    }
    KOVA_UNPOISON(p, sizeof(void*));
    *static_cast<void**>(p) = c->head;
    c->head = p;
    KOVA_POISON(static_cast<char*>(p) + sizeof(void*), obj_size - sizeof(void*));
  }
};

mem_pool::mem_pool(std::uint32_t chunk_bytes, std::uint32_t chunk_objs)
    : st_(new state(chunk_bytes, chunk_objs)) {}

mem_pool::~mem_pool() {
  for (void* chunk : st().chunks) ::operator delete(chunk);
  delete &st();
}

mem_pool::state& mem_pool::st() const noexcept { return *static_cast<state*>(st_); }

void mem_pool::set_probe(pool_probe* probe) noexcept { st_->probe = probe; }

void* mem_pool::alloc_slow(std::size_t size) {
  if (pool_probe* probe = st_->probe) {
    probe->before_alloc(size);
    void* p = st().alloc_plain(size);
    probe->after_alloc(p, size);
    return p;
  }
  return st().alloc_plain(size);
}

void mem_pool::free_slow(void* p, std::size_t size) noexcept {
  if (pool_probe* probe = st_->probe) probe->before_free(p, size);
  st().free_plain(p, size);
}

}  // namespace kova
