// The engine's machine: letters of the volume map served from images, a letter whose
// image is missing answering as no volume, and the rest left to the native provider.
#include "platform/engine_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "fat_tools.h"
#include "platform/fat_image_builder.h"

namespace platform {
namespace {

void BuildImage(const std::string& path, fat::FatType type, std::uint64_t size, const std::string& label) {
  auto b = fat::FatImageBuilder::Create({type, size, 2048, label}, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->AddFolder("Data"));
  ASSERT_TRUE(b->AddFile("Data/file.bin", fattest::RandomBytes(5000, 4), {{7, 1}, {3, 2}}));
  ASSERT_TRUE(b->Save(path)) << b->Error();
}

TEST(EngineMachineTest, ServesTheLettersOfTheVolumeMap) {
  fattest::ScratchDir dir;
  BuildImage(dir / "one.img", fat::FatType::kFat16, 9u << 20, "ONE");
  std::filesystem::create_directory(dir / "images");
  BuildImage(dir / "images/two.img", fat::FatType::kFat12, 2u << 20, "TWO");
  fattest::WriteAll(dir / "volumes.ini",
                    "; test map\n[volumes]\ne=one.img\nF = images/two.img\nG=missing.img\n[other]\nH=one.img\n");
  const char* saved = std::getenv("VEXA_VOLUMES");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::unsetenv("VEXA_VOLUMES");

  std::vector<MappedVolume> report;
  auto m = CreateEngineMachine(dir.Path() + "/", &report);
  if (saved != nullptr) ::setenv("VEXA_VOLUMES", savedValue.c_str(), 1);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0].letter, 'E');
  EXPECT_EQ(report[0].status, fat::FatOpenStatus::kOk);
  EXPECT_EQ(report[1].status, fat::FatOpenStatus::kOk);
  EXPECT_EQ(report[2].letter, 'G');
  EXPECT_EQ(report[2].status, fat::FatOpenStatus::kNotFound);

  char label[261];
  char fs[261];
  EXPECT_EQ(m->DriveType('E'), kDriveFixed);
  ASSERT_TRUE(m->VolumeInformation('E', label, sizeof label, fs, sizeof fs));
  EXPECT_STREQ(fs, "FAT16");
  EXPECT_STREQ(label, "ONE");
  EXPECT_EQ(m->DriveType('f'), kDriveFixed);
  ASSERT_TRUE(m->VolumeInformation('F', label, sizeof label, fs, sizeof fs));
  EXPECT_STREQ(fs, "FAT12");
  EXPECT_STREQ(label, "TWO");
  EXPECT_EQ(m->DriveType('G'), kDriveNoRootDir);
  EXPECT_EQ(m->OpenVolume('G'), kInvalidHandle);
  EXPECT_EQ(m->DriveType('H'), kDriveNoRootDir) << "outside [volumes]";

  // Both volumes answer through the router with their own handles.
  for (char letter : {'E', 'F'}) {
    const auto seen = fattest::Walk(*m, letter);
    ASSERT_EQ(seen.count("Data/file.bin"), 1u) << letter;
    EXPECT_EQ(seen.at("Data/file.bin").runs, (fattest::Runs{{7, 1}, {3, 2}}));
    const Handle v = m->OpenVolume(letter);
    ASSERT_NE(v, kInvalidHandle);
    const std::string path = std::string(1, letter) + ":\\Data\\file.bin";
    const Handle f = m->OpenFileForQuery(path.c_str());
    EXPECT_EQ(m->MoveFile(v, {f, 0, 20, 3}), kErrorSuccess);
    m->CloseHandle(f);
    m->CloseHandle(v);
    EXPECT_EQ(fattest::Extents(*m, path), (fattest::Runs{{20, 3}}));
  }
  m.reset();
  std::string out;
  EXPECT_EQ(fattest::Run("fsck.fat -n " + fattest::Quote(dir / "one.img"), &out), 0) << out;
  EXPECT_EQ(fattest::Run("fsck.fat -n " + fattest::Quote(dir / "images/two.img"), &out), 0) << out;
}

}  // namespace
}  // namespace platform
