// Unicode simple case folding.
#include "platform/case_fold.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CaseFold, FoldsByTheSimpleMappings) {
  EXPECT_EQ(SimpleCaseFold(U'A'), U'a');
  EXPECT_EQ(SimpleCaseFold(U'a'), U'a');
  EXPECT_EQ(SimpleCaseFold(U'\u00D1'), U'\u00F1');        // Ñ
  EXPECT_EQ(SimpleCaseFold(U'\u0130'), U'\u0130');        // İ has only a full folding
  EXPECT_EQ(SimpleCaseFold(U'\u1E9E'), U'\u00DF');        // ẞ: the S mapping
  EXPECT_EQ(SimpleCaseFold(U'\u03A3'), U'\u03C3');        // Σ
  EXPECT_EQ(SimpleCaseFold(U'\u03C2'), U'\u03C3');        // final sigma
  EXPECT_EQ(SimpleCaseFold(U'\u0410'), U'\u0430');        // Cyrillic А
  EXPECT_EQ(SimpleCaseFold(U'\uFF21'), U'\uFF41');        // fullwidth Ａ
  EXPECT_EQ(SimpleCaseFold(U'\U00010400'), U'\U00010428');  // Deseret, beyond the BMP
  EXPECT_EQ(SimpleCaseFold(U'\u65E5'), U'\u65E5');        // no case
}

TEST(CaseFold, UpperCaseIsTheWayBack) {
  EXPECT_EQ(SimpleUpperCase(U'a'), U'A');
  EXPECT_EQ(SimpleUpperCase(U'\u00E9'), U'\u00C9');
  EXPECT_EQ(SimpleUpperCase(U'\u03C3'), U'\u03A3');
  EXPECT_EQ(SimpleUpperCase(U'\u00DF'), U'\u00DF');  // ß stays
  EXPECT_TRUE(HasUpperCase(U'\u00FA'));
  EXPECT_FALSE(HasUpperCase(U'\u00DA'));
  EXPECT_FALSE(HasUpperCase(U'1'));
}

TEST(CaseFold, FoldsUtf8TextAndKeepsStrayBytes) {
  EXPECT_EQ(FoldUtf8("\xC3\x91" "AND\xC3\x9A"), "\xC3\xB1" "and\xC3\xBA");  // ÑANDÚ -> ñandú
  EXPECT_EQ(FoldUtf8("\xF0\x90\x90\x80"), "\xF0\x90\x90\xA8");              // 𐐀 -> 𐐨
  EXPECT_EQ(FoldUtf8("A\xFF" "B"), "a\xFF" "b");
  EXPECT_NE(FoldUtf8("\xE6\x97\xA5\xE6\x9C\xAC"), FoldUtf8("\xE6\x97\xA5\xE6\x9C\xAD"));
}

}  // namespace
}  // namespace platform
