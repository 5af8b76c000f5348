#include "kova/sh_ptr.h"

#include <gtest/gtest.h>

#include "kova/destroy.h"
#include "recording_probe.h"

using kova::mem_pool;
using kova::sh_ptr;

namespace {

int destroyed = 0;

// An interface with destroyable as a virtual base, as BigInt and file have.
struct shape : virtual kova::destroyable {
  virtual int area() const = 0;
};
struct square final : shape {
  explicit square(int s) : side(s) {}
  ~square() override { ++destroyed; }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
  int area() const override { return side * side; }
  int side;
  char payload[40] = {};  // a size of its own, so a wrong size given back shows
};

// A class with destroyable as its primary base, as the exceptions have.
struct node : kova::destroyable {
  ~node() override { ++destroyed; }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
  long value = 7;
};

class ShPtr : public lumbra_test::pool_test {
 protected:
  void SetUp() override { destroyed = 0; }
};

TEST_F(ShPtr, LastOfFourCopiesReleasesOnce) {
  {
    auto a = sh_ptr<shape>::adopt(pool, kova::pool_new<square>(pool, 3));
    {
      sh_ptr<shape> b = a, c = a, d = b;  // NOLINT(performance-unnecessary-copy-initialization): the copies are the test
      EXPECT_EQ(a.use_count(), 4);
      EXPECT_EQ(d->area(), 9);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a.use_count(), 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST_F(ShPtr, AssignmentReleasesTheOldObjectAndSelfAssignmentIsHarmless) {
  auto a = sh_ptr<node>::adopt(pool, kova::pool_new<node>(pool));
  auto b = sh_ptr<node>::adopt(pool, kova::pool_new<node>(pool));
  a = a;  // NOLINT(clang-diagnostic-self-assign-overloaded): the point of the test
  EXPECT_EQ(a.use_count(), 1);
  EXPECT_EQ(a->value, 7);
  a = b;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(b.use_count(), 2);
}

// A value may be assigned from inside the object it is about to release,
// as when walking a chain: cur = cur->next.
struct link final : kova::destroyable {
  explicit link(mem_pool& pool) : next(pool) {}
  ~link() override { ++destroyed; }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
  sh_ptr<link> next;
};

TEST_F(ShPtr, AssignmentFromInsideTheReleasedObject) {
  auto head = sh_ptr<link>::adopt(pool, kova::pool_new<link>(pool, pool));
  head->next = sh_ptr<link>::adopt(pool, kova::pool_new<link>(pool, pool));
  sh_ptr<link> cur = head;
  head = sh_ptr<link>(pool);
  cur = cur->next;  // releases the first link, which held the source
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(cur.use_count(), 1);
  cur = cur->next;
  EXPECT_FALSE(cur);
  EXPECT_EQ(destroyed, 2);
}

TEST_F(ShPtr, EmptyValueHasAControlBlockOfItsOwn) {
  sh_ptr<node> e(pool);
  EXPECT_FALSE(e);
  EXPECT_EQ(&e.pool(), &pool);
  EXPECT_EQ(probe.live_blocks(), 1u);  // just the control block
}

TEST(ShPtrFailure, ObjectIsReleasedWhenTheControlBlockCannotBeHad) {
  destroyed = 0;
  lumbra_test::expect_no_leak_on_any_failure(
      [](mem_pool& pool) { sh_ptr<shape>::adopt(pool, kova::pool_new<square>(pool, 2)); });
  EXPECT_EQ(destroyed, 2);  // once after the control block failed, once after success
}

}  // namespace
