#include "kova/mp_string.h"

#include <gtest/gtest.h>

#include <string>

#include "kova/shared_text.h"
#include "recording_probe.h"

using kova::ch_range;
using kova::mem_pool;
using kova::mp_string;
using kova::new_str;
using kova::sh_str;
using lumbra_test::recording_probe;

namespace {

std::string text(const mp_string& s) { return std::string(s.data(), s.size()); }

class MpString : public ::testing::Test {
 protected:
  mem_pool pool{16384, 1024};
  recording_probe probe{pool};
  void TearDown() override { EXPECT_EQ(probe.live_blocks(), 0u); }
};

TEST(ChRange, FromCStringAndEquality) {
  ch_range a("showC");
  EXPECT_EQ(a.size(), 5);
  EXPECT_TRUE(a == ch_range("showC"));
  EXPECT_FALSE(a == ch_range("showc"));
  EXPECT_FALSE(a == ch_range("showCC"));
  EXPECT_FALSE(a == ch_range("show"));
  EXPECT_TRUE(ch_range("") == ch_range());
}

TEST_F(MpString, EmptyRangeGivesOneByteBuffer) {
  sh_str s = new_str(pool, ch_range());
  EXPECT_EQ(s->size(), 0);
  EXPECT_EQ(s->capacity(), 1);
  EXPECT_STREQ(s->c_str(), "");
}

TEST_F(MpString, GrowthDoublesUnlessOneStepNeedsMore) {
  sh_str s = new_str(pool, ch_range("1234567"));
  EXPECT_EQ(s->capacity(), 8);
  s->push_back('8');  // size 7 -> 8 needs 9 bytes
  EXPECT_EQ(s->capacity(), 16);

  sh_str t = new_str(pool, 7);
  t->assign("123456");
  ASSERT_EQ(t->capacity(), 8);
  t->push_back('7');  // size 6 -> 7 fits in 8
  EXPECT_EQ(t->capacity(), 8);

  sh_str u = new_str(pool, 15);
  u->assign("0123456789");
  EXPECT_EQ(u->capacity(), 16);
  std::string hundred(100, 'x');
  u->append(ch_range(hundred.data(), hundred.data() + 100));
  EXPECT_EQ(u->capacity(), 111);
  EXPECT_EQ(text(*u), "0123456789" + hundred);
}

TEST_F(MpString, ReserveAndResize) {
  sh_str s = new_str(pool, 1024);
  EXPECT_EQ(s->capacity(), 1025);
  EXPECT_EQ(s->size(), 0);
  s->assign("hello world");
  s->resize(5);
  EXPECT_EQ(s->capacity(), 1025);
  EXPECT_STREQ(s->c_str(), "hello");
  s->resize(11);  // old bytes stay (resize does not clear); c_str left its zero
  EXPECT_EQ(text(*s), std::string("hello\0world", 11));
}

TEST_F(MpString, AssignAndAppendMayUseTheirOwnBytes) {
  sh_str s = new_str(pool, ch_range("abc"));
  s->append(s->range());  // grows while reading itself
  EXPECT_EQ(text(*s), "abcabc");
  s->assign(ch_range(s->data() + 2, s->data() + 5));
  EXPECT_EQ(text(*s), "cab");
}

TEST_F(MpString, TextsHoldZeroBytes) {
  const char raw[] = {'a', '\0', 'b'};
  sh_str s = new_str(pool, ch_range(raw, raw + 3));
  EXPECT_EQ(s->size(), 3);
  EXPECT_EQ(std::string(s->c_str(), 3), std::string(raw, 3));
}

TEST_F(MpString, ChainedAppendingOfStringsAndInts) {
  sh_str s = new_str(pool, 16) << "n=" << -17 << ", " << 0 << "; " << 2147483647;
  EXPECT_EQ(text(*s), "n=-17, 0; 2147483647");
  sh_str copy = new_str(s, 1024);
  EXPECT_EQ(text(*copy), text(*s));
  EXPECT_EQ(copy->capacity(), 1025);
  EXPECT_NE(copy->data(), s->data());
}

TEST(MpStringFailure, FailedGrowthKeepsTheText) {
  mem_pool pool(16384, 1024);
  recording_probe probe(pool);
  sh_str s = new_str(pool, ch_range("abc"));
  probe.fail_after(0);
  EXPECT_THROW(s->append("defgh"), std::bad_alloc);
  EXPECT_EQ(text(*s), "abc");
  EXPECT_EQ(s->capacity(), 4);
}

TEST(MpStringFailure, NewStrLosesNothingOnAnyFailure) {
  lumbra_test::expect_no_leak_on_any_failure([](mem_pool& pool) { new_str(pool, ch_range("abc")); });
  lumbra_test::expect_no_leak_on_any_failure([](mem_pool& pool) { new_str(pool, 1024); });
  lumbra_test::expect_no_leak_on_any_failure([](mem_pool& pool) {
    sh_str s = new_str(pool, ch_range("abc"));
    sh_str t = new_str(s, 5000) << "x" << 12;
  });
}

}  // namespace
