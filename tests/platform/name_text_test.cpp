// Names at the volume seam (Linux: UTF-8, 8.3 names in code page 437).
#include "platform/name_text.h"

#include <gtest/gtest.h>

#include <cstring>

#ifndef _WIN32
namespace platform {
namespace {

TEST(NameText, LinuxNamesAreUtf8) {
  std::string text;
  ASSERT_TRUE(NameFromUtf16(std::u16string{0x65E5, 0xD83D, 0xDE00}, &text));
  EXPECT_EQ(text, "\xE6\x97\xA5\xF0\x9F\x98\x80");
  // A lone surrogate is an error; the stand-in keeps everything else.
  EXPECT_FALSE(NameFromUtf16(std::u16string{u'a', 0xDC00, u'b'}, &text));
  EXPECT_EQ(text, "a\xEF\xBF\xBD" "b");
  std::u16string wide;
  EXPECT_FALSE(NameToUtf16("caf\xE9", &wide));
  EXPECT_EQ(NameFromOem("\x80" "A\x8E.TXT"), "\xC3\x87" "A\xC3\x84.TXT");  // ÇAÄ.TXT
}

TEST(NameText, PathSafeNamesHoldNoSeparatorWildcardOrControl) {
  EXPECT_TRUE(PathSafeName(u"\u65E5 a:b.txt"));
  for (const char16_t* bad : {u"a\\b", u"a/b", u"a*", u"?", u"tab\there"}) EXPECT_FALSE(PathSafeName(bad));
}

TEST(NameText, SameNameInAnyCase) {
  EXPECT_TRUE(SameNameText("\xC3\x91" "and\xC3\xBA.bin", "\xC3\xB1" "AND\xC3\x9A.BIN"));
  EXPECT_TRUE(SameNameText("Readme", "README"));
  EXPECT_FALSE(SameNameText("\xE6\x97\xA5-1", "\xE6\x97\xA5-2"));
  EXPECT_FALSE(SameNameText("a", "b"));
}

TEST(NameText, LengthInUtf16UnitsAndWholeCharacters) {
  EXPECT_EQ(NameTextLength("abc"), 3u);
  EXPECT_EQ(NameTextLength("\xE6\x97\xA5"), 1u);
  EXPECT_EQ(NameTextLength("\xF0\x9F\x98\x80"), 2u);
  char cut[] = "ab\xE6\x97";  // a three-byte character cut after two bytes
  CutToWholeCharacters(cut);
  EXPECT_STREQ(cut, "ab");
  char whole[] = "ab\xE6\x97\xA5";
  CutToWholeCharacters(whole);
  EXPECT_STREQ(whole, "ab\xE6\x97\xA5");
  char emoji[] = "x\xF0\x9F\x98";
  CutToWholeCharacters(emoji);
  EXPECT_STREQ(emoji, "x");
}

}  // namespace
}  // namespace platform
#endif
