// Code page 437 as Linux's FAT driver reads 8.3 names by default.
#include "platform/cp437.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Cp437, UpperHalfReadsAsTheCodePage) {
  EXPECT_EQ(Cp437ToUnicode('A'), u'A');
  EXPECT_EQ(Cp437ToUnicode(0x80), u'\u00C7');  // Ç
  EXPECT_EQ(Cp437ToUnicode(0x8E), u'\u00C4');  // Ä
  EXPECT_EQ(Cp437ToUnicode(0x90), u'\u00C9');  // É
  EXPECT_EQ(Cp437ToUnicode(0x9A), u'\u00DC');  // Ü
  EXPECT_EQ(Cp437ToUnicode(0xA5), u'\u00D1');  // Ñ
  EXPECT_EQ(Cp437ToUnicode(0xE1), u'\u00DF');  // ß
  EXPECT_EQ(Cp437ToUnicode(0xE4), u'\u03A3');  // Σ
  EXPECT_EQ(Cp437ToUnicode(0xFF), u'\u00A0');
}

TEST(Cp437, EveryByteComesBack) {
  for (int b = 0; b < 256; ++b) {
    std::uint8_t back = 0;
    ASSERT_TRUE(UnicodeToCp437(Cp437ToUnicode(static_cast<std::uint8_t>(b)), &back)) << b;
    EXPECT_EQ(back, b);
  }
  std::uint8_t out = 0;
  EXPECT_FALSE(UnicodeToCp437(u'\u00DA', &out));  // Ú has no place in code page 437
  EXPECT_FALSE(UnicodeToCp437(u'\u65E5', &out));
}

}  // namespace
}  // namespace platform
