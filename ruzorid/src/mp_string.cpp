#include "kova/mp_string.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "kova/hard_assert.h"

namespace kova {

mp_string::mp_string(mem_pool& pool, ch_range r)
    : pool_(&pool), data_(nullptr), capacity_(r.size() + 1), size_(r.size()) {
  data_ = static_cast<char*>(pool.alloc(capacity_));
  if (size_ > 0) std::memcpy(data_, r.begin, size_);
}

mp_string::~mp_string() { pool_->free(data_, capacity_); }

void mp_string::grow(std::int64_t need) {
  if (capacity_ >= need) return;
  std::int64_t cap = std::max<std::int64_t>(2 * std::int64_t{capacity_}, need);
  // NOTE: sizes are 32-bit signed; a text that would outgrow them is refused
  // rather than wrapped.
  if (cap > std::numeric_limits<std::int32_t>::max()) {
    if (need > std::numeric_limits<std::int32_t>::max()) throw std::length_error("mp_string too long");
    cap = std::numeric_limits<std::int32_t>::max();
  }
  char* fresh = static_cast<char*>(pool_->alloc(static_cast<std::size_t>(cap)));
  if (size_ > 0) std::memcpy(fresh, data_, size_);
  pool_->free(data_, capacity_);
  data_ = fresh;
  capacity_ = static_cast<std::int32_t>(cap);
}

mp_string& mp_string::assign(ch_range r) {
  grow(std::int64_t{r.size()} + 1);
  // memmove: r may lie inside this very text.
  if (r.size() > 0) std::memmove(data_, r.begin, r.size());
  size_ = r.size();
  return *this;
}

mp_string& mp_string::append(ch_range r) {
  int n = r.size();
  if (capacity_ < std::int64_t{size_} + n + 1) {
    // r may lie inside this text, whose buffer grow() is about to free.
    if (r.begin >= data_ && r.begin < data_ + capacity_) {
      std::ptrdiff_t off = r.begin - data_;
      grow(std::int64_t{size_} + n + 1);
      r = ch_range(data_ + off, data_ + off + n);
    } else {
      grow(std::int64_t{size_} + n + 1);
    }
  }
  if (n > 0) std::memmove(data_ + size_, r.begin, n);
  size_ += n;
  return *this;
}

mp_string& mp_string::push_back(char c) {
  grow(std::int64_t{size_} + 2);
  data_[size_++] = c;
  return *this;
}

void mp_string::reserve(int n) { grow(std::int64_t{n} + 1); }

void mp_string::resize(int n) {
  hard_assert(n >= 0, "n>=0");
  grow(std::int64_t{n} + 1);
  size_ = n;
}

const char* mp_string::c_str() {
  data_[size_] = '\0';
  return data_;
}

}  // namespace kova
