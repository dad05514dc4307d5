// The volume map: which lines serve a letter, and the warnings for those that cannot.
#include "platform/volume_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace platform {
namespace {

TEST(VolumeMapTest, ServesGoodLinesAndNamesEveryBadOneByLine) {
  const std::string text =
      "; my images\n"
      "[other]\n"
      "nonsense outside the section\n"
      "[volumes]\n"
      "C = card.img\n"
      "e:=/dev/sdb1\n"
      "B=floppy.img\n"
      "just a path\n"
      "F=\n"
      "CD=two.img\n"
      "c=again.img\r\n";
  std::vector<std::string> warnings;
  const std::vector<VolumeMapEntry> map = ParseVolumeMap(text, "/maps/", &warnings);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].letter, 'C');
  EXPECT_EQ(map[0].path, "/maps/again.img") << "a later line for a letter wins";
  EXPECT_EQ(map[1].letter, 'E');
  EXPECT_EQ(map[1].path, "/dev/sdb1");
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_EQ(warnings[0], "line 7: \"B\" is not a drive letter from C to Z; passed over");
  EXPECT_EQ(warnings[1], "line 8: \"just a path\" has no \"=\" (LETTER=PATH); passed over");
  EXPECT_EQ(warnings[2], "line 9: no path for F: (LETTER=PATH); passed over");
  EXPECT_EQ(warnings[3], "line 10: \"CD\" is not a drive letter from C to Z; passed over");
}

class ScopedVolumesVariable {
 public:
  explicit ScopedVolumesVariable(const std::string& value) {
    if (const char* old = std::getenv("VEXA_VOLUMES")) saved_ = old;
    ::setenv("VEXA_VOLUMES", value.c_str(), 1);
  }
  ~ScopedVolumesVariable() {
    if (saved_.empty()) {
      ::unsetenv("VEXA_VOLUMES");
    } else {
      ::setenv("VEXA_VOLUMES", saved_.c_str(), 1);
    }
  }

 private:
  std::string saved_;
};

TEST(VolumeMapTest, WarnsAboutANamedMapThatIsMissingAndPrefixesTheFileName) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vexa-map-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "my.ini").string();
  {
    std::ofstream out(file);
    out << "[volumes]\nZ=z.img\nA=a.img\n";
  }
  std::vector<std::string> warnings;
  {
    ScopedVolumesVariable variable(file);
    const auto map = LoadVolumeMap("/nowhere/", &warnings);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].path, (dir / "z.img").string());
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], file + " line 3: \"A\" is not a drive letter from C to Z; passed over");

  warnings.clear();
  {
    ScopedVolumesVariable variable((dir / "missing.ini").string());
    EXPECT_TRUE(LoadVolumeMap("/nowhere/", &warnings).empty());
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("missing.ini, which cannot be read"), std::string::npos);
  // Without VEXA_VOLUMES a missing volumes.ini is simply no map.
  warnings.clear();
  {
    ScopedVolumesVariable variable("");
    EXPECT_TRUE(LoadVolumeMap(dir.string() + "/", &warnings).empty());
  }
  EXPECT_TRUE(warnings.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform
