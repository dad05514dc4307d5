// Call budgets of a defragmentation on large simulated volumes: the volume bitmap is
// read once per pass (the relocation walk, the in-depth pass), not once per fragmented
// file or per in-depth candidate, and again only after a refused move.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::SimVolume;

constexpr std::uint32_t kCluster = 4096;
// Reads for the allocation's fingerprint, whatever the number of files: one when the job
// records it, one when the page's verdict compares the volume with it.
constexpr int kFingerprintReads = 2;

class CallBudgetTest : public test::JobTest {
 protected:
  // A volume of 2^20 clusters: `fragmented` files of 4 pieces near its start and
  // `whole` files in one piece near its end, behind a free stretch the in-depth pass
  // packs them into.
  SimVolume& Volume(char letter, int fragmented, int whole) {
    auto& v = machine.AddVolume(letter, "NTFS", std::int64_t{1} << 20, kCluster);
    v.SetReportedFreeSpace({8, 512, 500000, 1u << 20});
    v.MarkUsed(0, 100000);
    for (int i = 0; i < fragmented; ++i) {
      const std::int64_t at = 1000 + i * 40;
      v.AddFile("Frag\\f" + std::to_string(i) + ".bin", 8 * kCluster, {{at, 2}, {at + 10, 2}, {at + 20, 2}, {at + 30, 2}});
    }
    for (int i = 0; i < whole; ++i) {
      v.AddFile("Whole\\w" + std::to_string(i) + ".bin", 16 * kCluster, {{900000 + i * 20, 16}});
    }
    return v;
  }
};

TEST_F(CallBudgetTest, BitmapReadsPerPassDoNotGrowWithFragmentedFilesOrCandidates) {
  auto& small = Volume('C', 5, 5);
  auto& large = Volume('D', 200, 300);
  Start();
  const int smallBefore = small.BitmapCalls();
  const int largeBefore = large.BitmapCalls();
  ASSERT_EQ(DLL_OptimizedDefragVolume("CD"), 1);
  // Every fragmented file joined and every candidate packed forward.
  EXPECT_EQ(large.RunsOf("Frag\\f199.bin")->size(), 1u);
  EXPECT_LT(large.RunsOf("Whole\\w299.bin")->front().lcn, 900000);
  EXPECT_EQ(large.RefusedMoves(), 0);
  // The analysis, the relocation walk and the in-depth pass: one read each, whatever
  // the number of files.
  EXPECT_EQ(small.BitmapCalls() - smallBefore, 3 + kFingerprintReads);
  EXPECT_EQ(large.BitmapCalls() - largeBefore, 3 + kFingerprintReads);
}

TEST_F(CallBudgetTest, ARefusedMoveCostsOneMoreBitmapReadAndTheNextFileStillMoves) {
  auto& c = Volume('C', 20, 0);
  int moves = 0;
  // A program takes the target of the tenth move just before it is made.
  c.OnMove([&](const platform::MOVE_FILE_DATA& m) {
    if (++moves == 10) c.MarkUsed(m.StartingLcn, m.ClusterCount);
  });
  Start();
  const int before = c.BitmapCalls();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RefusedMoves(), 1);
  EXPECT_EQ(c.BitmapCalls() - before, 1 + 1 + 1 + kFingerprintReads);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(c.RunsOf("Frag\\f" + std::to_string(i) + ".bin")->size(), 1u) << i;
}

TEST_F(CallBudgetTest, WhenNoRunHoldsAFileTheClustersEarlierMovesFreedAreLookedForWithOneMoreRead) {
  // A nearly full FAT volume: a.bin's move to the only run of 4 frees 200-201, which
  // with the free 202-203 makes the run b.bin needs.
  auto& e = VolumeWithFreeRuns('E', "FAT32", 1000, kCluster, {{900, 4}, {202, 2}});
  e.AddFile("a.bin", 4 * kCluster, {{200, 2}, {500, 2}});
  e.AddFile("b.bin", 4 * kCluster, {{600, 2}, {700, 2}});
  Start();
  const int before = e.BitmapCalls();
  ASSERT_EQ(DLL_DefragVolume("E"), 1);
  EXPECT_EQ(e.RunsOf("a.bin"), (std::vector<platform::sim::ClusterRun>{{900, 4}}));
  EXPECT_EQ(e.RunsOf("b.bin"), (std::vector<platform::sim::ClusterRun>{{200, 4}}));
  EXPECT_EQ(e.BitmapCalls() - before, 1 + 1 + 1 + kFingerprintReads);
}

}  // namespace
}  // namespace vexa
