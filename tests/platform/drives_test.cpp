// The drives seam: mapped images listed as fixed drives, the fake table, the listing loop.
#include "platform/drives.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win_types.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

using vexa::test::TempDir;
using vexa::test::WriteFile;

TEST(DrivesTest, MappedImagesAreFixedDrivesWithTheirLabelAndSizes) {
  TempDir dir;
  const std::string image = dir.File("data.img");
  const std::string make = "mkfs.fat -C -F 16 -n DATAVOL -s 4 '" + image + "' 32768 >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WriteFile(dir.File("volumes.ini"), "[volumes]\nE=data.img\nG=missing.img\n");

  auto drives = CreateSystemDrives(dir.Path());
  const std::vector<DriveFacts> list = ListDrives(*drives);
  ASSERT_EQ(list.size(), 1u);  // the missing image names no drive
  const DriveFacts& e = list[0];
  EXPECT_EQ(e.letter, 'E');
  EXPECT_EQ(e.type, kDriveFixed);
  EXPECT_EQ(e.label, "DATAVOL");
  EXPECT_EQ(e.fileSystem, "FAT16");
  EXPECT_GT(e.totalBytes, 30u * 1024 * 1024);
  EXPECT_LE(e.totalBytes, 32u * 1024 * 1024);
  EXPECT_GT(e.freeBytes, 0u);
  EXPECT_LE(e.freeBytes, e.totalBytes);
  EXPECT_EQ(drives->DriveType('G'), kDriveNoRootDir);
}

TEST(DrivesTest, FailedCallsListTheDriveWithEmptyFacts) {
  auto drives = CreateFakeDrives({{'C', kDriveFixed, "System", "NTFS", 100, 40},
                                  {'D', kDriveCdrom, "", "", 0, 0},
                                  {'F', kDriveFixed, "", "", 0, 0}});
  const std::vector<DriveFacts> list = ListDrives(*drives);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].label, "System");
  EXPECT_EQ(list[0].totalBytes, 100u);
  EXPECT_EQ(list[1].type, kDriveCdrom);
  EXPECT_EQ(list[2].letter, 'F');
  EXPECT_EQ(list[2].fileSystem, "");
  EXPECT_EQ(list[2].freeBytes, 0u);
}

}  // namespace
}  // namespace platform
