// recording_probe: a pool observer for tests.
//
// It records every block a pool hands out and checks every free against it:
// a block freed twice, a block the pool never gave, or a free with another
// size than the request is a test failure. It can also make the pool fail:
// with fail_after(n) the n+1-th request from now throws std::bad_alloc.
// pool_test is a test fixture with a pool and its probe.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <new>

#include "kova/mem_pool.h"

namespace lumbra_test {

class recording_probe : public kova::pool_probe {
 public:
  explicit recording_probe(kova::mem_pool& pool) : pool_(pool) { pool_.set_probe(this); }
  ~recording_probe() { pool_.set_probe(nullptr); }
  recording_probe(const recording_probe&) = delete;
  recording_probe& operator=(const recording_probe&) = delete;

  void before_alloc(std::size_t) override {
    if (countdown_ == 0) {
      countdown_ = -1;
      ++failures_;
      throw std::bad_alloc();
    }
    if (countdown_ > 0) --countdown_;
  }
  void after_alloc(void* p, std::size_t size) override {
    ++allocs_;
    auto [it, fresh] = live_.emplace(p, size);
    EXPECT_TRUE(fresh) << "block handed out twice: " << p;
    live_bytes_ += size;
    if (live_bytes_ > peak_bytes_) peak_bytes_ = live_bytes_;
  }
  void before_free(void* p, std::size_t size) override {
    auto it = live_.find(p);
    if (it == live_.end()) {
      ADD_FAILURE() << "free of a block that is not live: " << p << " (" << size << " bytes)";
      return;
    }
    EXPECT_EQ(it->second, size) << "block " << p << " freed with another size than it was taken";
    live_bytes_ -= it->second;
    live_.erase(it);
  }
  void chunk_taken(std::size_t bytes, std::size_t array_capacity) override {
    ++chunks_;
    last_chunk_bytes_ = bytes;
    array_capacity_ = array_capacity;
  }

  // The (n+1)-th request from now fails; -1 switches failing off.
  void fail_after(int n) { countdown_ = n; }

  std::size_t live_blocks() const { return live_.size(); }
  std::size_t live_bytes() const { return live_bytes_; }
  std::size_t peak_bytes() const { return peak_bytes_; }
  void reset_peak() { peak_bytes_ = live_bytes_; }
  long allocs() const { return allocs_; }
  int failures() const { return failures_; }
  int chunks() const { return chunks_; }
  std::size_t last_chunk_bytes() const { return last_chunk_bytes_; }
  std::size_t array_capacity() const { return array_capacity_; }

 private:
  kova::mem_pool& pool_;
  std::map<void*, std::size_t> live_;
  std::size_t live_bytes_ = 0;
  std::size_t peak_bytes_ = 0;
  long allocs_ = 0;
  int countdown_ = -1;
  int failures_ = 0;
  int chunks_ = 0;
  std::size_t last_chunk_bytes_ = 0;
  std::size_t array_capacity_ = 0;
};

// A test with a pool of its own under a recording probe: every block the
// test took must be back, with its size, when the test ends.
class pool_test : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(probe.live_blocks(), 0u); }

  kova::mem_pool pool{16384, 1024};
  recording_probe probe{pool};
};

// Runs `op` against a fresh pool once for every allocation it makes, failing
// that allocation, and checks that each failure leaves no block behind.
// `op(pool)` must let std::bad_alloc pass and release everything it made.
template <class Op>
void expect_no_leak_on_any_failure(Op op) {
  for (int i = 0;; ++i) {
    kova::mem_pool pool(16384, 1024);
    recording_probe probe(pool);
    probe.fail_after(i);
    bool failed = false;
    try {
      op(pool);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    EXPECT_EQ(probe.live_blocks(), 0u) << "blocks left after failing allocation #" << i;
    if (!failed) break;  // op made fewer than i+1 requests: every path is covered
    ASSERT_LT(i, 10000) << "op never completes";
  }
}

}  // namespace lumbra_test
