// 8.3 names of new entries: what Windows stores for a long name, and the numeric tail
// when the basis name is lossy, too long or taken.
#include "platform/fat/short_alias.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/fat/dir_entry.h"

namespace platform::fat {
namespace {

std::string Stored(const EntryNames& names) { return std::string(reinterpret_cast<const char*>(names.shortName), 11); }

EntryNames Name(const std::string& longName, const std::set<std::string>& taken = {}) {
  EntryNames names;
  EXPECT_TRUE(NameNewEntry(
      longName, [&](const std::uint8_t* n) { return taken.count(std::string(reinterpret_cast<const char*>(n), 11)) > 0; },
      &names))
      << longName;
  return names;
}

TEST(ShortAliasTest, NamesThatFitStayShortWithCaseFlagsOrGetAnAliasWithoutTail) {
  EntryNames upper = Name("README.TXT");
  EXPECT_EQ(Stored(upper), "README  TXT");
  EXPECT_FALSE(upper.needsLongName);
  EXPECT_EQ(upper.caseFlags, 0);

  EntryNames lower = Name("game.iso");
  EXPECT_EQ(Stored(lower), "GAME    ISO");
  EXPECT_FALSE(lower.needsLongName);
  EXPECT_EQ(lower.caseFlags, kLowerBase | kLowerExtension);

  // Mixed case in one part: the case needs the long name, the alias needs no tail.
  EntryNames mixed = Name("Readme.txt");
  EXPECT_EQ(Stored(mixed), "README  TXT");
  EXPECT_TRUE(mixed.needsLongName);
  EXPECT_EQ(mixed.caseFlags, 0);
}

TEST(ShortAliasTest, LongOrLossyNamesGetTheFirstFreeNumericTail) {
  EXPECT_EQ(Stored(Name("My Long File Name.iso")), "MYLONG~1ISO");
  EXPECT_EQ(Stored(Name("My Long File Name.iso", {"MYLONG~1ISO"})), "MYLONG~2ISO");
  EXPECT_EQ(Stored(Name("archive.tar.gz")), "ARCHIV~1GZ ");  // periods but the last dropped
  EXPECT_EQ(Stored(Name("photo.jpeg")), "PHOTO~1 JPE");      // extension cut to three
  EXPECT_EQ(Stored(Name("a+b=c.txt")), "A_B_C~1 TXT");       // lossy characters
  EXPECT_EQ(Stored(Name(".profile")), "PROFIL~1   ");        // leading period dropped
#ifdef _WIN32
  EXPECT_EQ(Stored(Name("Caf\xe9.txt")), "CAF_~1  TXT");     // no OEM form here: lossy
#endif

  // Tails grow into the base: ~10 leaves five characters of it.
  std::set<std::string> taken;
  for (int i = 1; i <= 9; ++i) taken.insert("MYLONG~" + std::to_string(i) + "ISO");
  EXPECT_EQ(Stored(Name("My Long File Name.iso", taken)), "MYLON~10ISO");

  // A short name already taken by another entry gets a tail too.
  EntryNames clash = Name("README.TXT", {"README  TXT"});
  EXPECT_EQ(Stored(clash), "README~1TXT");
  EXPECT_TRUE(clash.needsLongName);
}

TEST(ShortAliasTest, LongNamesAreCleanedAsWindowsStoresThemAndBadOnesRefused) {
  std::string cleaned;
  ASSERT_TRUE(CleanLongName("name. . ", &cleaned));
  EXPECT_EQ(cleaned, "name");
  ASSERT_TRUE(CleanLongName(" leading space kept.bin", &cleaned));
  EXPECT_EQ(cleaned, " leading space kept.bin");
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "tab\there",
                                std::string(256, 'x')}) {
    EXPECT_FALSE(CleanLongName(bad, &cleaned)) << bad;
  }
  EXPECT_TRUE(CleanLongName(std::string(255, 'x'), &cleaned));
}

#ifndef _WIN32
// Names are UTF-8 off Windows: the basis keeps what code page 437 holds in upper case.
TEST(ShortAliasTest, Utf8NamesGetTheAliasWindowsForms) {
  // Café.txt: É is 0x90 in code page 437, so nothing is lost and no tail is needed.
  EntryNames cafe = Name("Caf\xC3\xA9.txt");
  EXPECT_EQ(Stored(cafe), "CAF\x90    TXT");
  EXPECT_TRUE(cafe.needsLongName);
  // Ñandú – 日本語.bin: Ñ is 0xA5; Ú, the dash and the CJK characters have no form.
  EXPECT_EQ(Stored(Name("\xC3\x91" "and\xC3\xBA \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.bin")),
            "\xA5" "AND__~1BIN");
  // An emoji is a surrogate pair: two lossy characters.
  EXPECT_EQ(Stored(Name("\xF0\x9F\x98\x80.txt")), "__~1    TXT");
  // Names that are not UTF-8 are refused.
  EntryNames names;
  EXPECT_FALSE(NameNewEntry("caf\xE9.txt", [](const std::uint8_t*) { return false; }, &names));
  std::string cleaned;
  EXPECT_FALSE(CleanLongName("caf\xE9.txt", &cleaned));
  // 255 UTF-16 units fit however many bytes they take; 256 do not.
  std::string cjk255;
  for (int i = 0; i < 255; ++i) cjk255 += "\xE6\x97\xA5";
  EXPECT_TRUE(CleanLongName(cjk255, &cleaned));
  EXPECT_FALSE(CleanLongName(cjk255 + "\xE6\x97\xA5", &cleaned));
  std::string emoji128;
  for (int i = 0; i < 128; ++i) emoji128 += "\xF0\x9F\x98\x80";  // 256 units
  EXPECT_FALSE(CleanLongName(emoji128, &cleaned));
}
#endif

}  // namespace
}  // namespace platform::fat
