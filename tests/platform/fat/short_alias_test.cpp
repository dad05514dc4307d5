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
  EXPECT_EQ(Stored(Name("Caf\xe9.txt")), "CAF_~1  TXT");     // no OEM form here: lossy

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

}  // namespace
}  // namespace platform::fat
