// destroyable: the root of every polymorphic object that lives in a pool.
//
// Such an object is taken from a mem_pool with its exact size and goes back
// to a pool only through destroy(pool), almost always called by the last
// sh_ptr that refers to it. The ordinary delete expression is forbidden: the
// class-level operator delete stops the process with a hard assertion.
#pragma once

#include "kova/hard_assert.h"
#include "kova/mem_pool.h"

namespace kova {

class destroyable {
 public:
  // Runs the object's destructor and returns its storage to `pool` with the
  // size of the concrete class (see destroy_as).
  virtual void destroy(mem_pool& pool) noexcept = 0;
  virtual ~destroyable() = default;

  // The line that the report of a forbidden delete gives; part of the output.
  static constexpr int delete_check = 39;
  static void operator delete(void*) noexcept { hard_assert_at(false, "false", delete_check); }

 protected:
  destroyable() = default;
  destroyable(const destroyable&) = default;
  destroyable& operator=(const destroyable&) = default;
};

// The body of destroy() for a concrete class T: `self` is the most derived
// object, so its own destructor runs (no virtual dispatch) and its storage
// goes back with sizeof(T).
template <class T>
void destroy_as(T* self, mem_pool& pool) noexcept {
  self->T::~T();
  pool.free(self, sizeof(T));
}

}  // namespace kova
