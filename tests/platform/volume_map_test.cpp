// The volume map: which lines serve a letter, and the warnings for those that cannot.
#include "platform/volume_map.h"

#include "platform/sim_machine.h"

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

TEST(VolumeMapTest, TheRouterPassesTheVolumeStateAndDataAccessCallsToTheLettersProvider) {
  auto provider = std::make_unique<sim::SimMachine>();
  sim::SimMachine& sim = *provider;
  auto& e = sim.AddVolume('E', "NTFS", 100);
  e.AddFile("secret.bin", 4096, {{10, 1}}, kAttributeEncrypted);
  e.DenyDataAccess("secret.bin");
  e.AddFile("plain.bin", 4096, {{20, 1}});
  e.SetDirty();
  RoutedMachine routed(CreateEmptyMachine());
  routed.Route('E', std::move(provider));
  const Handle volume = routed.OpenVolume('E');
  bool dirty = false;
  EXPECT_EQ(routed.IsVolumeDirty(volume, &dirty), kErrorSuccess);
  EXPECT_TRUE(dirty);
  EXPECT_EQ(routed.IsVolumeMounted(volume), kErrorSuccess);
  EXPECT_EQ(routed.OpenFileWithDataAccess("E:\\secret.bin"), kInvalidHandle);
  const Handle plain = routed.OpenFileWithDataAccess("E:\\plain.bin");
  EXPECT_NE(plain, kInvalidHandle);
  e.GoAway();
  EXPECT_EQ(routed.IsVolumeMounted(volume), kErrorNotReady);
  EXPECT_EQ(routed.IsVolumeMounted(plain + 1000), kErrorInvalidHandle);
  routed.CloseHandle(plain);
  routed.CloseHandle(volume);
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

TEST(VolumeMapTest, DevicePathsOfMountedVolumesAreRefused) {
  // A provider writing to \\.\E: or a physical drive would write beneath the file system
  // Windows has mounted there.
  const std::string text =
      "[volumes]\n"
      "E=\\\\.\\E:\n"
      "F=\\\\?\\Volume{0a1b2c3d-0000-0000-0000-100000000000}\\\n"
      "G=\\\\.\\PhysicalDrive1\n"
      "H=//./PhysicalDrive2\n"
      "I=\\\\server\\share\\card.img\n"
      "J=D:\\images\\card.img\n";
  std::vector<std::string> warnings;
  const std::vector<VolumeMapEntry> map = ParseVolumeMap(text, "/maps/", &warnings);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].letter, 'I') << "a file on a share is an image, not a device";
  EXPECT_EQ(map[1].path, "D:\\images\\card.img");
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_EQ(warnings[0],
            "line 2: E: names a device path (\\\\.\\E:); writing beneath a mounted file system is refused; "
            "passed over");
  EXPECT_NE(warnings[1].find("line 3: F: names a device path (\\\\?\\Volume{"), std::string::npos);
  EXPECT_NE(warnings[2].find("line 4: G: names a device path"), std::string::npos);
  EXPECT_NE(warnings[3].find("line 5: H: names a device path"), std::string::npos);
}

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
