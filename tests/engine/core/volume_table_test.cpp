// The volume table built at start-up, "diskdata" kept across runs, and the volume
// exports.
#include "core/volume_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::EngineTest;
using test::ReadFile;
using test::WriteFile;

constexpr std::size_t kBlock = 24000;

TEST(SizeTextTest, CutsAfterOneDecimal) {
  EXPECT_EQ(SizeText(80026361856ull), "74.5 GB");
  EXPECT_EQ(SizeText(268435456ull), "0.2 GB");
  EXPECT_EQ(SizeText(2000000ull * 4096), "7.6 GB");
  EXPECT_EQ(SizeText(0), "0.0 GB");
  EXPECT_EQ(SizeText(1073741824ull * 1023), "1023.0 GB");
}

TEST(SlotOfLetterTest, LettersAndOtherCharacters) {
  EXPECT_EQ(SlotOfLetter('C'), 0);
  EXPECT_EQ(SlotOfLetter('c'), 0);
  EXPECT_EQ(SlotOfLetter('D'), 1);
  EXPECT_EQ(SlotOfLetter('z'), 23);
  EXPECT_EQ(SlotOfLetter('A'), 0);
  EXPECT_EQ(SlotOfLetter('1'), 0);
  EXPECT_EQ(SlotOfLetter(0), 0);
}

class VolumeTableTest : public EngineTest {};

TEST_F(VolumeTableTest, FixedDrivesAreOpenedAndOthersLeftOut) {
  machine.AddVolume('C', "NTFS", 2000000).MarkUsed(0, 500000);
  machine.AddVolume('D', "CDFS", 1000).SetDriveType(platform::kDriveCdrom);
  machine.AddVolume('E', "FAT32", 5000, 512);
  Start();
  EXPECT_EQ(gVolumeCount, 2);
  EXPECT_NE(OpenVolumeOfSlot(0), nullptr);
  EXPECT_EQ(OpenVolumeOfSlot(1), nullptr);
  EXPECT_NE(OpenVolumeOfSlot(2), nullptr);

  const VexaVolumeInfo* info = DLL_GetVolumeInfo('C');
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->fileSystem, "NTFS");
  EXPECT_STREQ(info->totalSize, "7.6 GB");
  EXPECT_STREQ(info->usedSize, "1.9 GB");
  EXPECT_EQ(info->clustersPerCell, 2000u);
  EXPECT_EQ(info->freeClusters, 1500000u);
  EXPECT_EQ(info->usedClusters, 500000u);
  EXPECT_EQ(info->bytesPerCluster, 4096u);
  const VexaVolumeInfo copy = *info;
  const VexaVolumeInfo* lower = DLL_GetVolumeInfo('c');
  EXPECT_EQ(std::memcmp(&copy, lower, sizeof copy), 0);
  const VexaVolumeInfo* a = DLL_GetVolumeInfo('A');  // other characters name slot 0
  EXPECT_EQ(std::memcmp(&copy, a, sizeof copy), 0);
  EXPECT_EQ(DLL_GetVolumeInfo('D'), nullptr);
  EXPECT_EQ(DLL_GetVolumeInfo('Q'), nullptr);
  EXPECT_STREQ(DLL_GetVolumeInfo('E')->fileSystem, "FAT32");
  EXPECT_EQ(DLL_GetVolumeInfo('E')->bytesPerCluster, 512u);
}

TEST_F(VolumeTableTest, VolumeThatCannotBeOpenedOrReadCountsButIsNotOpen) {
  machine.AddVolume('C', "NTFS", 1000).FailOpenVolume();
  machine.AddVolume('D', "NTFS", 1000).FailBitmap();
  Start();
  EXPECT_EQ(gVolumeCount, 2);
  EXPECT_EQ(DLL_GetVolumeInfo('C'), nullptr);
  EXPECT_EQ(DLL_GetVolumeInfo('D'), nullptr);
  EXPECT_EQ(machine.OpenHandles(), 0u) << "a volume whose bitmap cannot be read is closed";
}

TEST_F(VolumeTableTest, DataFilesAreCreatedZeroFilledWhenMissing) {
  Start();
  EXPECT_EQ(ReadFile(dir.File("diskdata")), std::string(26 * kBlock, '\0'));
  EXPECT_EQ(ReadFile(dir.File("defragdate")), std::string(26 * 16, '\0'));
}

TEST_F(VolumeTableTest, DiskdataBlocksOfOpenSlotsAreRestoredAndSaved) {
  machine.AddVolume('C', "NTFS", 1000);
  machine.AddVolume('D', "CDFS", 1000).SetDriveType(platform::kDriveCdrom);
  machine.AddVolume('E', "NTFS", 1000);
  // Block 0: cell 3 fragmented; block 1 (D, not fixed): a marker that must survive;
  // block 2: cell 999 contiguous.
  std::string data(26 * kBlock, '\0');
  auto put = [&](std::size_t block, int cell, int field, std::int32_t value) {
    const std::size_t at = block * kBlock + cell * 24 + field * 4;
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
  };
  put(0, 3, 0, 1);
  put(0, 3, 3, 7);
  put(1, 0, 0, 0x11223344);
  put(2, 999, 0, 1);
  put(2, 999, 4, 2);
  WriteFile(dir.File("diskdata"), data);
  Start();
  const int32_t* colours = DLL_GetVolumeColorTable('C');
  EXPECT_EQ(colours[3], VEXA_COLOR_FRAGMENTED);
  EXPECT_EQ(DLL_GetVolumeSectorColor('E', 999), VEXA_COLOR_CONTIGUOUS);
  gVolumes[0].cells->Raise(10, CellKind::Contiguous, false);
  Stop();
  const std::string saved = ReadFile(dir.File("diskdata"));
  std::string expected = data;
  expected[10 * 24] = 1;
  expected[10 * 24 + 16] = 1;
  EXPECT_EQ(saved, expected);
}

TEST_F(VolumeTableTest, ShortDiskdataLeavesTheRestOfTheCellsAtZero) {
  machine.AddVolume('C', "NTFS", 1000);
  machine.AddVolume('D', "NTFS", 1000);
  std::string data(kBlock + 24, '\0');
  data[kBlock] = 1;        // slot 1, cell 0: in use
  data[kBlock + 16] = 1;   // contiguous
  WriteFile(dir.File("diskdata"), data);
  Start();
  EXPECT_EQ(DLL_GetVolumeSectorColor('D', 0), VEXA_COLOR_CONTIGUOUS);
  for (int k = 1; k < 1000; ++k) ASSERT_EQ(DLL_GetVolumeSectorColor('D', k), VEXA_COLOR_EMPTY);
}

TEST_F(VolumeTableTest, EngineStartsAgainAfterShutdown) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  gVolumes[0].cells->Raise(0, CellKind::Fragmented, false);
  Stop();
  EXPECT_EQ(machine.OpenHandles(), 0u);
  Start();
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 0), VEXA_COLOR_FRAGMENTED);
}

}  // namespace
}  // namespace vexa
