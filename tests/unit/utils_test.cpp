#include "triangle/utils.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseInt, AcceptsDigitStringsThatFitAnInt) {
  struct row {
    const char* text;
    int value;
  } rows[] = {{"0", 0}, {"7", 7}, {"007", 7}, {"0004", 4}, {"2147483647", 2147483647},
              {"00000000000000000000042", 42}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    int v = -1;
    EXPECT_TRUE(lumbra::parseInt(r.text, v));
    EXPECT_EQ(v, r.value);
  }
}

TEST(ParseInt, RefusesEverythingElseAndLeavesTheValueAlone) {
  const char* bad[] = {"",   "+1", "-1", " 1", "1 ", "1a",   "x", "1.0", "\xd9\xa4",  // an Arabic-Indic 4
                       "2147483648", "12345678901",
                       "9999999999999999999999999999999999999999999999999999999999999999999999"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    int v = 123;
    EXPECT_FALSE(lumbra::parseInt(text, v));
    EXPECT_EQ(v, 123);
  }
}

}  // namespace
