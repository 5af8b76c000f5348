#include "stats/file_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

using namespace lumbra;

// A plain UTF-8 encoder, and a decoder built on it: a sequence is valid
// when some code point (not a surrogate, at most U+10FFFF) encodes to it.
std::string encoded(std::uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xc0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xe0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    s += static_cast<char>(0xf0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  }
  return s;
}

bool plainValid(const std::string& s) {
  for (std::size_t at = 0; at < s.size();) {
    bool found = false;
    for (std::size_t length = 1; length <= 4 && at + length <= s.size() && !found; ++length) {
      std::uint32_t cp = static_cast<unsigned char>(s[at]) & (length == 1 ? 0x7fu : 0x7fu >> length);
      for (std::size_t i = 1; i < length; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[at + i]) & 0x3fu);
      if (cp <= 0x10ffff && (cp < 0xd800 || cp > 0xdfff) && encoded(cp) == s.substr(at, length)) {
        found = true;
        at += length;
      }
    }
    if (!found) return false;
  }
  return true;
}

// Random strings of bytes, most of them near UTF-8 (lead bytes, follow-up
// bytes, ASCII): validity agrees with the plain decoder; U+FFFD replaces
// exactly what is not valid; percent-encoding goes back to the bytes and
// holds only printable ASCII; XML text is valid UTF-8 with no control byte
// but tab and line feed.
TEST(Names, AgainstAPlainDecoder) {
  std::mt19937 rng(25);
  const unsigned char alphabet[] = {'a', '%', '<', '&', '"', '\t', '\n', 0x01, 0x7f, 0x80, 0xbf, 0xc0, 0xc2,
                                    0xdf, 0xe0, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xff, 0xa0, 0x9f, 0x90, 0x8f};
  for (int round = 0; round < 200000; ++round) {
    std::string s;
    const int length = static_cast<int>(rng() % 7);
    for (int i = 0; i < length; ++i) s += static_cast<char>(alphabet[rng() % sizeof alphabet]);
    SCOPED_TRACE(percentEncoded(s));
    ASSERT_EQ(validUtf8(s), plainValid(s));
    ASSERT_TRUE(plainValid(replacedUtf8(s)));
    if (plainValid(s)) {
      ASSERT_EQ(replacedUtf8(s), s);
    }
    std::string back;
    ASSERT_TRUE(percentDecoded(percentEncoded(s), back));
    ASSERT_EQ(back, s);
    for (const char c : percentEncoded(s)) ASSERT_TRUE(c > 0x20 && c < 0x7f);
    const std::string xml = xmlText(s);
    ASSERT_TRUE(plainValid(xml));
    for (const char c : xml) ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n');
    ASSERT_EQ(xml.find('<'), std::string::npos);
  }
  for (std::uint32_t cp = 0; cp <= 0x10ffff; cp += (cp < 0x800 ? 1 : 97))
    ASSERT_EQ(validUtf8(encoded(cp)), cp < 0xd800 || cp > 0xdfff) << cp;
  std::string bytes;
  for (const char* bad : {"%", "%4", "%G0", "a b", "\xff"}) EXPECT_FALSE(percentDecoded(bad, bytes)) << bad;
}

// The JSON members: a UTF-8 name alone, another with its bytes beside it.
TEST(Names, JsonMembers) {
  EXPECT_EQ(fileNameMembers("a/b.bin"), "\"file\":\"a/b.bin\"");
  EXPECT_EQ(fileNameMembers("inv\xff\x01.bin"), "\"file\":\"inv\xef\xbf\xbd\\u0001.bin\",\"file_bytes\":\"inv%FF%01.bin\"");
}

}  // namespace
