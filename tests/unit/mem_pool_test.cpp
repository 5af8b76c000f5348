#include "kova/mem_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "kova/destroy.h"
#include "kova/hard_assert.h"
#include "recording_probe.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

using kova::mem_pool;
using lumbra_test::recording_probe;

namespace {

std::uintptr_t addr(void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// Two requests share a class exactly when a freed block of one is handed out
// again for the other.
bool same_class(std::size_t a, std::size_t b) {
  mem_pool pool(16384, 1024);
  void* p = pool.alloc(a);
  pool.free(p, a);
  void* q = pool.alloc(b);
  pool.free(q, b);
  return p == q;
}

TEST(MemPool, ClassBoundaries) {
  EXPECT_TRUE(same_class(1, 4));
  EXPECT_TRUE(same_class(2, 3));
  EXPECT_FALSE(same_class(4, 5));
  EXPECT_TRUE(same_class(5, 8));
  EXPECT_TRUE(same_class(253, 256));
  EXPECT_FALSE(same_class(256, 257));
  EXPECT_TRUE(same_class(257, 288));
  EXPECT_FALSE(same_class(288, 289));
  EXPECT_TRUE(same_class(8161, 8192));
  EXPECT_FALSE(same_class(8192, 8193));
}

TEST(MemPool, ChunkSizesFollowTheClass) {
  struct row {
    std::size_t request, chunk_bytes;
  } rows[] = {
      {4, 16384},        // 8-byte objects (see mem_pool.h): 2048 per chunk
      {8, 16384},        {12, 16384},  // 16-byte objects: 1024 of them
      {16, 16384},       {32, 32768},      {256, 262144},
      {257, 294912},     {8192, 8388608},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.request);
    mem_pool pool(16384, 1024);
    recording_probe probe(pool);
    void* p = pool.alloc(r.request);
    EXPECT_EQ(probe.chunks(), 1);
    EXPECT_EQ(probe.last_chunk_bytes(), r.chunk_bytes);
    pool.free(p, r.request);
  }
}

TEST(MemPool, ChunkIsHandedOutInAscendingOrderThenANewOneIsTaken) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  std::vector<void*> blocks;
  blocks.reserve(1025);
  for (int i = 0; i < 1024; ++i) blocks.push_back(pool.alloc(16));
  EXPECT_EQ(probe.chunks(), 1);
  for (int i = 1; i < 1024; ++i) ASSERT_EQ(addr(blocks[i]), addr(blocks[i - 1]) + 16);
  blocks.push_back(pool.alloc(16));
  EXPECT_EQ(probe.chunks(), 2);
  for (void* p : blocks) pool.free(p, 16);
}

TEST(MemPool, FreedBlocksAreReusedLastInFirstOut) {
  mem_pool pool(16384, 1024);
  void* a = pool.alloc(16);
  void* b = pool.alloc(16);
  pool.free(a, 16);
  pool.free(b, 16);
  EXPECT_EQ(pool.alloc(13), b);
  EXPECT_EQ(pool.alloc(16), a);
  void* c = pool.alloc(14);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  pool.free(a, 16);
  pool.free(b, 16);
  pool.free(c, 14);
}

TEST(MemPool, ChunkArrayDoublesAfterSixtyFour) {
  mem_pool pool(8192, 1);
  recording_probe probe(pool);
  // 8192-byte objects, one per chunk with these numbers: every request takes a chunk.
  std::vector<void*> blocks;
  blocks.reserve(130);
  for (int i = 0; i < 64; ++i) blocks.push_back(pool.alloc(8192));
  EXPECT_EQ(probe.array_capacity(), 64u);
  blocks.push_back(pool.alloc(8192));
  EXPECT_EQ(probe.chunks(), 65);
  EXPECT_EQ(probe.array_capacity(), 128u);
  while (probe.chunks() < 129) blocks.push_back(pool.alloc(8192));
  EXPECT_EQ(probe.array_capacity(), 256u);
  for (void* p : blocks) pool.free(p, 8192);
}

TEST(MemPool, BlocksAreAlignedForPointersAndLimbs) {
  mem_pool pool(16384, 1024);
  for (std::size_t size : {1, 3, 4, 5, 12, 20, 100, 257, 300, 5000, 9000}) {
    void* p = pool.alloc(size);
    EXPECT_EQ(addr(p) % 8, 0u) << size;
    pool.free(p, size);
  }
}

TEST(MemPool, LargeRequestsGoToTheHeap) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  void* p = pool.alloc(8193);
  EXPECT_EQ(probe.chunks(), 0);
  pool.free(p, 8193);
}

TEST(MemPool, HeapExhaustionIsBadAllocAndLeavesThePoolUsable) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer's operator new ends the process instead of throwing";
#endif
#if __has_include(<valgrind/valgrind.h>)
  if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "valgrind's operator new ends the process instead of throwing";
#endif
  mem_pool pool(16384, 0xFFFFFFFFu);  // a chunk of 8192-byte objects cannot be had
  EXPECT_THROW(pool.alloc(8192), std::bad_alloc);
  EXPECT_THROW(pool.alloc(std::size_t{1} << 62), std::bad_alloc);
  mem_pool ok(16384, 1024);
  void* p = ok.alloc(100);
  ok.free(p, 100);
}

TEST(MemPool, ProbeFailureChangesNothing) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  void* a = pool.alloc(24);
  pool.free(a, 24);
  probe.fail_after(0);
  EXPECT_THROW(pool.alloc(24), std::bad_alloc);
  EXPECT_EQ(pool.alloc(24), a);  // the free list is as it was
  pool.free(a, 24);
}

TEST(MemPool, UnusedPoolTakesNoChunk) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  EXPECT_EQ(probe.chunks(), 0);
}

TEST(HardAssertDeathTest, ReportsConditionFileAndLine) {
  int n = -1;
  int line = __LINE__ + 1;
  auto fail = [&] { hard_assert(n >= 0, "n>=0"); };
  EXPECT_DEATH(fail(), "\nHard assertion failed: n>=0, file tests/unit/mem_pool_test.cpp, line " +
                           std::to_string(line) + "\n");
}

struct leaf : kova::destroyable {
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
};

TEST(HardAssertDeathTest, DeletingADestroyableStops) {
  auto del = [] {
    kova::destroyable* p = new leaf;  // NOLINT: the point of the test
    delete p;
  };
  EXPECT_DEATH(del(), "Hard assertion failed: false, file ruzorid/inc/kova/destroy.h, line 39\n");
}

}  // namespace
