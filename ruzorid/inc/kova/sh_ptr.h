// sh_ptr<T>: a reference-counted pointer whose control block lives in a pool.
//
// Every sh_ptr points to a control block {pool, obj, refs}, an empty one too
// (obj null): empty values still know their pool. When the last reference
// goes, the object is released into the control block's pool and the block
// follows it:
//   - a shared text (T = mp_string): its buffer goes back to the text's own
//     pool with its capacity, then the record with sizeof(mp_string);
//   - a destroyable (as primary or as virtual base): destroy(pool).
// Counts are plain ints: sh_ptr values must stay on one thread. sh_ptr has
// no move operations on purpose, so no value is ever without its block.
#pragma once

#include <cstdint>
#include <type_traits>

#include "kova/destroy.h"
#include "kova/mem_pool.h"
#include "kova/mp_string.h"

namespace kova {

namespace detail {

template <class T>
void release_object(mem_pool& pool, T* obj) noexcept {
  if constexpr (std::is_same_v<T, mp_string>) {
    obj->~mp_string();
    pool.free(obj, sizeof(mp_string));
  } else {
    static_assert(std::is_base_of_v<destroyable, T>, "sh_ptr holds texts and destroyables");
    static_cast<destroyable*>(obj)->destroy(pool);
  }
}

}  // namespace detail

template <class T>
class sh_ptr {
 public:
  // An empty value with a control block of its own in `pool`.
  explicit sh_ptr(mem_pool& pool) : c_(make_ctrl(pool, nullptr)) {}

  // Wraps a freshly made object from `pool`. If the control block cannot be
  // taken, the object is released before the exception passes.
  static sh_ptr adopt(mem_pool& pool, T* obj) {
    ctrl* c;
    try {
      c = make_ctrl(pool, obj);
    } catch (...) {
      detail::release_object(pool, obj);
      throw;
    }
    return sh_ptr(c);
  }

  sh_ptr(const sh_ptr& o) noexcept : c_(o.c_) { ++c_->refs; }
  // Counts up the source before releasing the old block, so that assigning
  // a value to itself changes nothing.
  // The source's block is read before the release, which may destroy the
  // object that holds the source (cur = cur->nested).
  // NOLINTNEXTLINE(bugprone-unhandled-self-assignment): counting up first handles it
  sh_ptr& operator=(const sh_ptr& o) noexcept {
    ctrl* c = o.c_;
    ++c->refs;
    release();
    c_ = c;
    return *this;
  }
  ~sh_ptr() { release(); }

  T* get() const noexcept { return c_->obj; }
  T* operator->() const noexcept { return c_->obj; }
  T& operator*() const noexcept { return *c_->obj; }
  explicit operator bool() const noexcept { return c_->obj != nullptr; }

  // The pool of the control block (and of the object, for destroyables).
  mem_pool& pool() const noexcept { return *c_->pool; }
  int use_count() const noexcept { return c_->refs; }

 private:
  struct ctrl {
    mem_pool* pool;
    T* obj;
    std::int32_t refs;
  };

  explicit sh_ptr(ctrl* c) noexcept : c_(c) {}

  static ctrl* make_ctrl(mem_pool& pool, T* obj) {
    ctrl* c = pool.alloc_for<ctrl>();
    c->pool = &pool;
    c->obj = obj;
    c->refs = 1;
    return c;
  }

  void release() noexcept {
    if (--c_->refs == 0) {
      mem_pool& pool = *c_->pool;
      if (c_->obj) detail::release_object(pool, c_->obj);
      pool.free_for(c_);
    }
  }

  ctrl* c_;
};

}  // namespace kova
