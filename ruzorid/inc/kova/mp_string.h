// ch_range and mp_string: the system's text types.
//
// ch_range is a non-owning view of bytes [begin, end); it is how text is
// handed to an mp_string. mp_string is a growable byte buffer whose memory
// comes from a mem_pool and goes back to that same pool with its capacity.
// Texts may hold zero bytes; the terminating zero is written only by c_str().
// Growth takes the new buffer before anything changes, so a text whose growth
// fails (std::bad_alloc from the pool) keeps its old buffer, size and capacity.
#pragma once

#include <cstdint>
#include <cstring>

#include "kova/mem_pool.h"

namespace kova {

struct ch_range {
  const char* begin = nullptr;
  const char* end = nullptr;

  ch_range() = default;
  ch_range(const char* b, const char* e) : begin(b), end(e) {}
  // Spans a C string without its zero byte.
  ch_range(const char* cstr) : begin(cstr), end(cstr + std::strlen(cstr)) {}  // NOLINT: implicit

  int size() const { return static_cast<int>(end - begin); }
  bool empty() const { return begin == end; }

  // Same length and same bytes.
  friend bool operator==(ch_range a, ch_range b) {
    return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.begin, b.begin, a.size()) == 0);
  }
};

class mp_string {
 public:
  // A copy of `r`, with capacity r.size() + 1 (an empty range: 1 byte).
  mp_string(mem_pool& pool, ch_range r);
  ~mp_string();
  mp_string(const mp_string&) = delete;
  mp_string& operator=(const mp_string&) = delete;

  mp_string& assign(ch_range r);
  mp_string& append(ch_range r);
  mp_string& push_back(char c);
  // Room for n bytes of text (capacity >= n + 1); the text is unchanged.
  void reserve(int n);
  // Sets the size to n, growing first if needed; new bytes are not cleared.
  void resize(int n);
  // Writes the terminating zero behind the text and returns the buffer.
  const char* c_str();

  char* data() { return data_; }
  const char* data() const { return data_; }
  int size() const { return size_; }
  int capacity() const { return capacity_; }
  mem_pool& pool() const { return *pool_; }
  ch_range range() const { return ch_range(data_, data_ + size_); }

 private:
  // Makes capacity at least `need`: the larger of twice the capacity and need.
  void grow(std::int64_t need);

  // Invariant: capacity_ >= size_ + 1, so c_str() always has room.
  mem_pool* pool_;
  char* data_;
  std::int32_t capacity_;
  std::int32_t size_;
};

}  // namespace kova
