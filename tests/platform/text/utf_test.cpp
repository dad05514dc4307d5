// UTF-8 and UTF-16 conversions: exact both ways, refusing what is not valid.
#include "platform/utf.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Utf, RoundTripsLatinCjkAndSurrogatePairs) {
  struct Case {
    const char* utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"plain.txt", u"plain.txt"},
      {"\xC3\x91" "and\xC3\xBA", u"\u00D1and\u00FA"},                         // Ñandú
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", u"\u65E5\u672C\u8A9E"},         // 日本語
      {"\xF0\x9F\x98\x80.bin", std::u16string{0xD83D, 0xDE00} + u".bin"},      // 😀 U+1F600
      {"\xF4\x8F\xBF\xBF", std::u16string{0xDBFF, 0xDFFF}},                    // U+10FFFF
      {"\xEF\xBF\xBD", u"\uFFFD"},
      {"", u""},
  };
  for (const Case& c : cases) {
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16(c.utf8, &wide)) << c.utf8;
    EXPECT_EQ(wide, c.utf16) << c.utf8;
    std::string back;
    ASSERT_TRUE(Utf16ToUtf8(wide, &back)) << c.utf8;
    EXPECT_EQ(back, c.utf8);
    EXPECT_TRUE(IsValidUtf8(c.utf8));
  }
}

TEST(Utf, RefusesInvalidUtf8) {
  const char* bad[] = {
      "\x80",                  // a continuation byte alone
      "a\xC3",                 // cut short
      "\xC3\x28",              // lead without its continuation
      "\xC0\xAF",              // overlong '/'
      "\xE0\x80\xAF",          // overlong '/' in three bytes
      "\xF0\x80\x80\xAF",      // overlong in four bytes
      "\xED\xA0\x80",          // an encoded high surrogate
      "\xED\xBF\xBF",          // an encoded low surrogate
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xFF",                  // never a UTF-8 byte
      "caf\xE9.txt",           // Latin-1, not UTF-8
  };
  for (const char* b : bad) {
    std::u16string wide;
    EXPECT_FALSE(Utf8ToUtf16(b, &wide)) << b;
    EXPECT_FALSE(IsValidUtf8(b)) << b;
  }
}

TEST(Utf, RefusesLoneSurrogatesInUtf16) {
  const std::u16string bad[] = {
      std::u16string{0xD83D},               // high at the end
      std::u16string{0xD83D, u'a'},         // high before a non-surrogate
      std::u16string{0xDE00, 0xD83D},       // low before high
      std::u16string{u'x', 0xDC00, u'y'},   // low alone
      std::u16string{0xD83D, 0xD83D, 0xDE00},
  };
  for (const std::u16string& b : bad) {
    std::string out;
    EXPECT_FALSE(Utf16ToUtf8(b, &out));
  }
}

TEST(Utf, NextCodePointStepsOverWholeCharacters) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80";
  std::size_t at = 0;
  char32_t c = 0;
  ASSERT_TRUE(NextCodePoint(text, &at, &c));
  EXPECT_EQ(c, U'a');
  ASSERT_TRUE(NextCodePoint(text, &at, &c));
  EXPECT_EQ(c, U'\u00E9');
  EXPECT_EQ(at, 3u);
  ASSERT_TRUE(NextCodePoint(text, &at, &c));
  EXPECT_EQ(c, U'\U0001F600');
  EXPECT_EQ(at, text.size());
  EXPECT_FALSE(NextCodePoint(text, &at, &c));
}

}  // namespace
}  // namespace platform
