// The moves NTFS accepts, on a simulated NTFS volume that refuses what NTFS refuses
// (MOVE_FILE_DATA and "Defragmenting Files"): compression units, the cluster-rounded
// size, encrypted files' data access, clusters taken or freed after the bitmap was
// read, and which refusals name a system file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "defrag/left_fragmented.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::MOVE_FILE_DATA;
using platform::sim::ClusterRun;
using platform::sim::SimMachine;
using platform::sim::SimVolume;

constexpr std::uint32_t kCluster = 4096;

MOVE_FILE_DATA Move(platform::Handle file, std::int64_t vcn, std::int64_t lcn, std::uint32_t count) {
  MOVE_FILE_DATA move{};
  move.FileHandle = file;
  move.StartingVcn = vcn;
  move.StartingLcn = lcn;
  move.ClusterCount = count;
  return move;
}

TEST(SimNtfsRules, TheSimulatedVolumeRefusesWhatNtfsRefusesAndFatVolumesDoNot) {
  SimMachine machine;
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("packed.bin", 40 * kCluster, {{100, 7}, {200, 13}, {300, 20}}, platform::kAttributeCompressed);
  c.AddFile("secret.bin", 4 * kCluster, {{400, 2}, {410, 2}}, platform::kAttributeEncrypted);
  c.AddFile("locked.bin", 4 * kCluster, {{420, 2}, {430, 2}}, platform::kAttributeEncrypted);
  c.DenyDataAccess("locked.bin");
  c.AddFile("grown.bin", 5 * kCluster, {{440, 3}, {450, 5}});  // 3 clusters preallocated
  const auto volume = machine.OpenVolume('C');

  // Compressed: whole 16-cluster units only; the last unit may be short.
  const auto packed = machine.OpenFileForQuery("C:\\packed.bin");
  EXPECT_EQ(machine.MoveFile(volume, Move(packed, 3, 600, 4)), platform::kErrorInvalidParameter);
  EXPECT_EQ(machine.MoveFile(volume, Move(packed, 0, 600, 7)), platform::kErrorInvalidParameter);
  EXPECT_EQ(machine.MoveFile(volume, Move(packed, 0, 600, 16)), platform::kErrorSuccess);
  EXPECT_EQ(machine.MoveFile(volume, Move(packed, 32, 632, 8)), platform::kErrorSuccess);

  // Encrypted: only through a handle with data access.
  const auto secret = machine.OpenFileForQuery("C:\\secret.bin");
  EXPECT_EQ(machine.MoveFile(volume, Move(secret, 0, 700, 2)), platform::kErrorAccessDenied);
  const auto secretData = machine.OpenFileWithDataAccess("C:\\secret.bin");
  ASSERT_NE(secretData, platform::kInvalidHandle);
  EXPECT_EQ(machine.MoveFile(volume, Move(secretData, 0, 700, 2)), platform::kErrorSuccess);
  EXPECT_EQ(machine.OpenFileWithDataAccess("C:\\locked.bin"), platform::kInvalidHandle);

  // Past the size rounded up to whole clusters: refused.
  const auto grown = machine.OpenFileForQuery("C:\\grown.bin");
  EXPECT_EQ(machine.MoveFile(volume, Move(grown, 3, 800, 5)), platform::kErrorInvalidParameter);
  EXPECT_EQ(machine.MoveFile(volume, Move(grown, 3, 800, 2)), platform::kErrorSuccess);

  // Clusters a move freed (secret.bin's 400-401) stay refused until the bitmap is read.
  EXPECT_FALSE(c.IsUsed(400));
  const auto plain = machine.OpenFileWithDataAccess("C:\\secret.bin");
  EXPECT_EQ(machine.MoveFile(volume, Move(plain, 1, 400, 1)), platform::kErrorAccessDenied);
  std::vector<std::uint64_t> bitmap(1 + 1000 / 64 + 2);
  (void)machine.GetVolumeBitmap(volume, 0, reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(bitmap.data()),
                                static_cast<std::uint32_t>(bitmap.size() * 8));
  EXPECT_EQ(machine.MoveFile(volume, Move(plain, 1, 400, 1)), platform::kErrorSuccess);
  EXPECT_EQ(c.RefusedMoves(), 5);

  // None of it on FAT.
  auto& f = machine.AddVolume('F', "FAT32", 1000);
  f.AddFile("packed.bin", kCluster, {{100, 7}, {200, 13}}, platform::kAttributeCompressed);
  const auto fVolume = machine.OpenVolume('F');
  const auto fPacked = machine.OpenFileForQuery("F:\\packed.bin");
  EXPECT_EQ(machine.MoveFile(fVolume, Move(fPacked, 3, 600, 4)), platform::kErrorSuccess);
  EXPECT_EQ(machine.MoveFile(fVolume, Move(fPacked, 0, 300, 3)), platform::kErrorSuccess);
  EXPECT_EQ(machine.MoveFile(fVolume, Move(fPacked, 0, 100, 1)), platform::kErrorSuccess);
}

class NtfsMovesTest : public test::JobTest {
 protected:
  SimVolume& Volume() { return VolumeWithFreeRuns('C', "NTFS", 4000, kCluster, {{2000, 2000}}); }
  std::vector<LeftFragmentedFile> Left() { return LeftFragmentedOf('C'); }
};

TEST_F(NtfsMovesTest, CompressedFilesMoveInWholeUnitsAndPreallocatedTailsStay) {
  auto& c = Volume();
  c.AddFile("packed.bin", 40 * kCluster, {{100, 7}, {200, 13}, {300, 20}}, platform::kAttributeCompressed);
  // 10 clusters of data in three pieces, then 4 preallocated clusters past the size.
  c.AddFile("prealloc.bin", 10 * kCluster - 100, {{400, 4}, {500, 4}, {600, 6}});
  std::vector<MOVE_FILE_DATA> moves;
  c.OnMove([&](const MOVE_FILE_DATA& m) { moves.push_back(m); });
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RefusedMoves(), 0) << "every move the engine asked for is one NTFS takes";
  ASSERT_EQ(c.RunsOf("packed.bin")->size(), 1u);
  EXPECT_EQ(c.RunsOf("packed.bin")->front().length, 40);
  // The data clusters joined; the tail where it was (602-605).
  const auto prealloc = *c.RunsOf("prealloc.bin");
  ASSERT_EQ(prealloc.size(), 2u);
  EXPECT_EQ(prealloc[0].length, 10);
  EXPECT_EQ(prealloc[1], (ClusterRun{602, 4}));
  int unitMoves = 0;
  for (const MOVE_FILE_DATA& m : moves) {
    if (m.ClusterCount == 16 || m.StartingVcn == 32) {
      ++unitMoves;
      EXPECT_EQ(m.StartingVcn % 16, 0);
    }
  }
  EXPECT_EQ(unitMoves, 3);
  EXPECT_TRUE(Left().empty());
  EXPECT_NE(Page("defragreport1.html").find("C:\\packed.bin"), std::string::npos);
  EXPECT_NE(Page("defragreport1.html").find("C:\\prealloc.bin"), std::string::npos);
}

TEST_F(NtfsMovesTest, EncryptedFilesMoveThroughADataHandleOrArePassedOverWithTheReason) {
  auto& c = Volume();
  c.AddFile("secret.bin", 4 * kCluster, {{400, 2}, {410, 2}}, platform::kAttributeEncrypted);
  c.AddFile("theirs.bin", 4 * kCluster, {{420, 2}, {430, 2}}, platform::kAttributeEncrypted);
  c.DenyDataAccess("theirs.bin");
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("secret.bin")->size(), 1u);
  EXPECT_EQ(c.RunsOf("theirs.bin")->size(), 2u);
  EXPECT_EQ(c.RefusedMoves(), 0) << "no move was tried through a handle NTFS refuses";
  const auto left = Left();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, "C:\\theirs.bin");
  EXPECT_EQ(left[0].figures.reason, VEXA_LEFT_ENCRYPTED);
  EXPECT_EQ(left[0].figures.pieces, 2u);
}

TEST_F(NtfsMovesTest, ATargetTakenAfterTheBitmapWasReadGetsOneFreshRunAndNeverAHalfMovedFileReportedWhole) {
  // Free: 20 at 2000..., best fit for 6 clusters: the run of 6 at 1000.
  auto& c = VolumeWithFreeRuns('C', "NTFS", 4000, kCluster, {{1000, 6}, {1100, 8}, {2000, 2000}});
  c.AddFile("a.bin", 6 * kCluster, {{100, 2}, {200, 2}, {300, 2}});
  c.AddFile("b.bin", 6 * kCluster, {{400, 2}, {500, 2}, {600, 2}});
  // Another program takes the target's second half while a.bin's first piece moves;
  // it takes the third and fourth cluster of each run b.bin's first piece moves to, so
  // b.bin's one retry fails as well.
  std::string current;
  c.OnOpenFile([&](const std::string& path) { current = path; });
  bool tookA = false;
  c.OnMove([&](const MOVE_FILE_DATA& m) {
    if (current == "C:\\a.bin" && !tookA && m.StartingLcn == 1000) {
      tookA = true;
      c.MarkUsed(1002, 4);
    }
    if (current == "C:\\b.bin" && m.StartingVcn == 0) c.MarkUsed(m.StartingLcn + 2, 2);
  });
  Start();
  const int bitmapReads = c.BitmapCalls();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  // a.bin: its first piece went to 1000, the second was refused, the bitmap read again,
  // and the whole file moved once more into a fresh run (the 8 at 1100).
  ASSERT_EQ(c.RunsOf("a.bin")->size(), 1u);
  EXPECT_EQ(c.RunsOf("a.bin")->front(), (ClusterRun{1100, 6}));
  // b.bin: refused in its first run and in its fresh one: left in pieces and named so,
  // without a row.
  EXPECT_GT(c.RunsOf("b.bin")->size(), 1u);
  const auto left = Left();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, "C:\\b.bin");
  EXPECT_EQ(left[0].figures.reason, VEXA_LEFT_MOVE_FAILED);
  EXPECT_EQ(left[0].figures.pieces, c.RunsOf("b.bin")->size());
  const std::string page = Page("defragreport1.html");
  EXPECT_NE(page.find("C:\\a.bin"), std::string::npos);
  EXPECT_EQ(page.find("C:\\b.bin"), std::string::npos);
  // One bitmap read for the analysis, one for the pass, one after each refusal, and two
  // for the allocation's fingerprint (recorded by the job, compared by the page).
  EXPECT_EQ(c.BitmapCalls() - bitmapReads, 1 + 1 + c.RefusedMoves() + 2);
}

TEST_F(NtfsMovesTest, MovesKeepA16KiBMultipleFromTheFilesStartOnClustersUnder16KiB) {
  // MOVE_FILE_DATA remarks: blocks moved by a multiple of 16 KB spare shadow copies.
  // 4 KiB clusters: a multiple of 4 clusters; 16 KiB clusters: any place is one; FAT:
  // no shadow copies, the run's start.
  auto& c = VolumeWithFreeRuns('C', "NTFS", 2000, 4096, {{1001, 12}, {1100, 7}});
  // a.bin: best fit 7 at 1100, whose aligned place 1102 leaves no room for 6.
  c.AddFile("a.bin", 6 * 4096, {{102, 3}, {200, 3}});
  // b.bin then: best fit 5 at 1008 (aligned 1010: no room), so 7 at 1100 (aligned 1102).
  c.AddFile("b.bin", 4 * 4096, {{302, 2}, {400, 2}});
  auto& big = VolumeWithFreeRuns('D', "NTFS", 2000, 16384, {{1001, 12}});
  big.AddFile("a.bin", 6 * 16384, {{101, 3}, {200, 3}});
  auto& fat = VolumeWithFreeRuns('E', "FAT32", 2000, 4096, {{1001, 12}});
  fat.AddFile("a.bin", 6 * 4096, {{101, 3}, {200, 3}});
  Start();
  ASSERT_EQ(DLL_DefragVolume("CDE"), 1);
  // a.bin: the smallest run with room for any alignment (12 at 1001), one cluster in.
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{1002, 6}}));
  // b.bin: two clusters into the 7 at 1100, so that 1102 - 302 is a multiple of 4.
  EXPECT_EQ(c.RunsOf("b.bin"), (std::vector<ClusterRun>{{1102, 4}}));
  EXPECT_EQ(c.RefusedMoves(), 0);
  EXPECT_EQ(big.RunsOf("a.bin"), (std::vector<ClusterRun>{{1001, 6}}));
  EXPECT_EQ(fat.RunsOf("a.bin"), (std::vector<ClusterRun>{{1001, 6}}));
}

TEST_F(NtfsMovesTest, TheInDepthPassOpensEncryptedFilesWithDataAccessAndLeavesPreallocatedOnesWhole) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 4000, 4096, {{100, 1000}});
  c.AddFile("enc.bin", 8 * 4096, {{3000, 8}}, platform::kAttributeEncrypted);
  c.AddFile("pre.bin", 4 * 4096, {{3100, 8}});  // 4 clusters preallocated past its size
  c.AddFile("plain.bin", 8 * 4096, {{3200, 8}});
  Start();
  ASSERT_EQ(DLL_OptimizedDefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("enc.bin"), (std::vector<ClusterRun>{{100, 8}}));
  EXPECT_EQ(c.RunsOf("pre.bin"), (std::vector<ClusterRun>{{3100, 8}})) << "never split by a partial move";
  EXPECT_EQ(c.RunsOf("plain.bin"), (std::vector<ClusterRun>{{108, 8}}));
  EXPECT_EQ(c.RefusedMoves(), 0);
}

TEST_F(NtfsMovesTest, ARefusalNamesASystemFileOnlyWhenTheFileIsOne) {
  auto& c = Volume();
  c.AddFile("Windows\\System32\\driver.dll", 2 * kCluster, {{200, 1}, {300, 1}});
  c.AddFile("pagefile.sys", 2 * kCluster, {{400, 1}, {500, 1}},
            platform::kAttributeSystem | platform::kAttributeHidden);
  c.RefuseMoves();
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  const auto left = Left();
  ASSERT_EQ(left.size(), 2u);
  for (const auto& file : left) {
    if (file.path == "C:\\pagefile.sys") {
      EXPECT_EQ(file.figures.reason, VEXA_LEFT_SYSTEM);
    } else {
      EXPECT_EQ(file.path, "C:\\Windows\\System32\\driver.dll");
      EXPECT_EQ(file.figures.reason, VEXA_LEFT_MOVE_FAILED);
      EXPECT_EQ(file.figures.error, platform::kErrorAccessDenied);
    }
  }
}

}  // namespace
}  // namespace vexa
