// Buffer growth of the bitmap and extent reads, against simulated volumes.
#include "analysis/volume_access.h"

#include <gtest/gtest.h>

#include "platform/sim_machine.h"

namespace vexa {
namespace {

using SimRun = platform::sim::ClusterRun;
using platform::sim::SimMachine;

TEST(VolumeAccess, FirstBitmapReadGrowsTheBufferOnceAndLaterReadsReuseIt) {
  SimMachine machine;
  auto& volume = machine.AddVolume('C', "NTFS", 10000);
  volume.MarkUsed(0, 3);
  const auto handle = machine.OpenVolume('C');
  BitmapBuffer buffer;
  std::int64_t total = 0;
  ASSERT_TRUE(ReadBitmap(machine, handle, buffer, &total));
  EXPECT_EQ(total, 10000);
  EXPECT_EQ(volume.BitmapCalls(), 2);
  EXPECT_EQ(buffer.Size(), 10000u / 8 + 25);
  EXPECT_EQ(buffer.Bits()[0], 0x07);
  ASSERT_TRUE(ReadBitmap(machine, handle, buffer, &total));
  EXPECT_EQ(volume.BitmapCalls(), 3);

  // A smaller volume reuses the larger buffer without growing it.
  machine.AddVolume('D', "FAT32", 80);
  const auto small = machine.OpenVolume('D');
  ASSERT_TRUE(ReadBitmap(machine, small, buffer, &total));
  EXPECT_EQ(total, 80);
  EXPECT_EQ(buffer.Size(), 10000u / 8 + 25);
}

TEST(VolumeAccess, BitmapReadFailureIsReported) {
  SimMachine machine;
  machine.AddVolume('C', "NTFS", 100).FailBitmap();
  BitmapBuffer buffer;
  std::int64_t total = -5;
  EXPECT_FALSE(ReadBitmap(machine, machine.OpenVolume('C'), buffer, &total));
  EXPECT_EQ(total, -5);
}

TEST(VolumeAccess, FileWithTwoHundredTwoExtentsGrowsTheBufferOnce) {
  SimMachine machine;
  auto& volume = machine.AddVolume('C', "NTFS", 2000);
  std::vector<SimRun> runs;
  for (int i = 0; i < 202; ++i) runs.push_back({i * 2, 1});
  volume.AddFile("many.bin", 202 * 4096, runs);
  volume.AddFile("few.bin", 2 * 4096, {{1000, 1}, {1002, 1}});
  ExtentBuffer buffer;
  const auto file = machine.OpenFileForQuery("C:\\many.bin");
  ASSERT_TRUE(ReadExtents(machine, file, buffer, kExtentGrowthSmall));
  EXPECT_EQ(volume.ExtentCalls(), 2);
  EXPECT_EQ(buffer.Size(), ExtentBuffer::kStartSize + kExtentGrowthSmall);
  EXPECT_EQ(buffer.ExtentCount(), 202u);
  EXPECT_EQ(buffer.Lcn(201), 402);
  EXPECT_EQ(buffer.NextVcn(201), 202);

  const auto other = machine.OpenFileForQuery("C:\\few.bin");
  ASSERT_TRUE(ReadExtents(machine, other, buffer, kExtentGrowthSmall));
  EXPECT_EQ(volume.ExtentCalls(), 3);
  EXPECT_EQ(buffer.Size(), ExtentBuffer::kStartSize + kExtentGrowthSmall);
  EXPECT_EQ(buffer.ExtentCount(), 2u);
}

TEST(VolumeAccess, ExtentReadOfAHundredThousandExtentsContinuesFromTheLastVcnReturned) {
  // FSCTL_GET_RETRIEVAL_POINTERS answers ERROR_MORE_DATA with as many extents as fit;
  // the next call starts at the last returned extent's NextVcn, so no extent is read
  // twice and the calls grow with the logarithm of the count.
  SimMachine machine;
  auto& volume = machine.AddVolume('C', "NTFS", 200001);
  constexpr int kExtents = 100000;
  std::vector<SimRun> runs;
  for (int i = 0; i < kExtents; ++i) runs.push_back({i * 2, 1});
  volume.AddFile("shredded.bin", std::uint64_t{kExtents} * 4096, runs);
  ExtentBuffer buffer;
  const auto file = machine.OpenFileForQuery("C:\\shredded.bin");
  ASSERT_TRUE(ReadExtents(machine, file, buffer, kExtentGrowthSmall));
  EXPECT_LE(volume.ExtentCalls(), 20);
  ASSERT_EQ(buffer.ExtentCount(), static_cast<std::uint32_t>(kExtents));
  EXPECT_EQ(buffer.StartingVcn(), 0);
  for (std::uint32_t i = 0; i < buffer.ExtentCount(); ++i) {
    ASSERT_EQ(buffer.Lcn(i), 2 * static_cast<std::int64_t>(i)) << i;
    ASSERT_EQ(buffer.NextVcn(i), static_cast<std::int64_t>(i) + 1) << i;
  }
  // The grown buffer serves the next file in one call.
  const int before = volume.ExtentCalls();
  ASSERT_TRUE(ReadExtents(machine, file, buffer, kExtentGrowthSmall));
  EXPECT_EQ(volume.ExtentCalls(), before + 1);
  EXPECT_EQ(buffer.ExtentCount(), static_cast<std::uint32_t>(kExtents));
}

TEST(VolumeAccess, ExtentReadOfAFileWithoutClustersFails) {
  SimMachine machine;
  auto& volume = machine.AddVolume('C', "FAT32", 100);
  volume.AddFile("empty.txt", 0, {});
  ExtentBuffer buffer;
  EXPECT_FALSE(ReadExtents(machine, machine.OpenFileForQuery("C:\\empty.txt"), buffer, kExtentGrowthSmall));
}

}  // namespace
}  // namespace vexa
