#include "kova/mp_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kova/shared_text.h"
#include "mp_string_model.h"
#include "recording_probe.h"

using kova::ch_range;
using kova::mem_pool;
using kova::mp_string;
using kova::new_str;
using kova::sh_str;
using lumbra_test::recording_probe;

namespace {

std::string text(const mp_string& s) { return std::string(s.data(), s.size()); }

using MpString = lumbra_test::pool_test;

TEST(ChRange, FromCStringAndEquality) {
  ch_range a("showC");
  EXPECT_EQ(a.size(), 5);
  EXPECT_TRUE(a == ch_range("showC"));
  EXPECT_FALSE(a == ch_range("showc"));
  EXPECT_FALSE(a == ch_range("showCC"));
  EXPECT_FALSE(a == ch_range("show"));
  EXPECT_TRUE(ch_range("") == ch_range());
}

// A new text has room for exactly what it was made with, plus its zero.
TEST_F(MpString, NewTextsHaveRoomForWhatTheyWereMadeWith) {
  EXPECT_EQ(new_str(pool, ch_range())->capacity(), 1);
  EXPECT_STREQ(new_str(pool, ch_range())->c_str(), "");
  EXPECT_EQ(new_str(pool, ch_range("1234567"))->capacity(), 8);
  sh_str s = new_str(pool, 1024);
  EXPECT_EQ(s->capacity(), 1025);
  EXPECT_EQ(s->size(), 0);
  s << "n=" << -17 << ", " << 0 << "; " << 2147483647;
  EXPECT_EQ(text(*s), "n=-17, 0; 2147483647");
  sh_str copy = new_str(s, 2000);
  EXPECT_EQ(text(*copy), text(*s));
  EXPECT_EQ(copy->capacity(), 2001);
  EXPECT_NE(copy->data(), s->data());
}

// Random programs of text operations against std::string as a model (the
// fuzz target's check, see mp_string_model.h): assign, append (also of the
// text's own bytes), push_back, reserve, resize and shared copies, on texts
// with zero bytes, each growing by the rule.
TEST_F(MpString, RandomProgramsAgreeWithTheModel) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> program(rng() % 2000);
    for (std::uint8_t& b : program) b = static_cast<std::uint8_t>(rng());
    const char* e = lumbra_test::run_text_program(pool, program.data(), program.size());
    ASSERT_TRUE(e == nullptr) << e << " in round " << round;
  }
}

TEST_F(MpString, ResizeKeepsOldBytesAndAssignMayUseItsOwn) {
  sh_str s = new_str(pool, ch_range("hello world"));
  s->resize(5);
  EXPECT_STREQ(s->c_str(), "hello");
  s->resize(11);  // old bytes stay (resize does not clear); c_str left its zero
  EXPECT_EQ(text(*s), std::string("hello\0world", 11));
  s->assign(ch_range(s->data() + 2, s->data() + 5));
  EXPECT_EQ(text(*s), "llo");
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
