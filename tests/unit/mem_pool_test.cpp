#include "kova/mem_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Every request size against the layout worked out by hand: a class per 4
// bytes up to 256 and per 32 bytes up to 8192, objects rounded up to 8 or 32
// bytes, max(chunk_bytes / object, chunk_objs) objects per chunk (both terms
// win for some class with these numbers), a chunk array of 64 entries that
// doubles, and the heap beyond 8192 bytes. A request of a class seen before
// takes the block that the class's last request gave back; one of a new
// class takes a chunk of its own. Every block is aligned for pointers and
// limbs.
TEST(MemPool, ClassesChunksAndAlignmentOfEveryRequestSize) {
  mem_pool pool(4096, 8);
  recording_probe probe(pool);
  EXPECT_EQ(probe.chunks(), 0);  // an unused pool takes no chunk
  std::vector<void*> last(64 + 248 + 1, nullptr);
  for (std::size_t size = 1; size <= 8193; ++size) {
    SCOPED_TRACE(size);
    const std::size_t cls = size <= 256 ? (size + 3) / 4 : 64 + (size - 256 + 31) / 32;
    const std::size_t object = size <= 256 ? (cls * 4 + 7) / 8 * 8 : 256 + (cls - 64) * 32;
    const int chunks = probe.chunks();
    void* p = pool.alloc(size);
    EXPECT_EQ(addr(p) % 8, 0u);
    if (size > 8192) {
      EXPECT_EQ(probe.chunks(), chunks);
    } else if (last[cls] != nullptr) {
      EXPECT_EQ(p, last[cls]);
      EXPECT_EQ(probe.chunks(), chunks);
    } else {
      ASSERT_EQ(probe.chunks(), chunks + 1);
      EXPECT_EQ(probe.last_chunk_bytes(), std::max<std::size_t>(4096 / object, 8) * object);
      std::size_t capacity = 64;
      while (capacity < static_cast<std::size_t>(probe.chunks())) capacity *= 2;
      EXPECT_EQ(probe.array_capacity(), capacity);
      last[cls] = p;
    }
    pool.free(p, size);
  }
  EXPECT_EQ(probe.chunks(), 64 + 248);
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
