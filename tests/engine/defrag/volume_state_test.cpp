// The volume's own state during a job: a dirty volume (FSCTL_IS_VOLUME_DIRTY) is
// analysed but never moved on, and a volume that goes away mid-job (ERROR_NOT_READY)
// ends its own pass with the reason while the job goes on with the next volume.
#include "core/volume_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "defrag/left_fragmented.h"
#include "platform/message_box.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::ClusterRun;
using platform::sim::SimVolume;

constexpr std::uint32_t kCluster = 4096;

std::vector<std::string> gMessages;
void CaptureMessage(const char* text) { gMessages.emplace_back(text); }

class VolumeStateTest : public test::JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    gMessages.clear();
    platform::SetMessageHandler(&CaptureMessage);
  }
  void TearDown() override {
    platform::SetMessageHandler(nullptr);
    JobTest::TearDown();
  }
  // A volume of 2000 clusters, free from 1000 on, holding `files` files of 4 pieces.
  SimVolume& Fragmented(char letter, int files) {
    auto& v = VolumeWithFreeRuns(letter, "NTFS", 2000, kCluster, {{1000, 1000}});
    for (int i = 0; i < files; ++i) {
      const std::int64_t at = 10 + i * 40;
      v.AddFile("F\\file" + std::to_string(i) + ".bin", 8 * kCluster, {{at, 2}, {at + 10, 2}, {at + 20, 2}, {at + 30, 2}});
    }
    return v;
  }
};

TEST_F(VolumeStateTest, DirtyVolumeIsAnalysedButNeverMovedOnAndTheNextVolumeIsDefragmented) {
  auto& c = Fragmented('C', 3);
  auto& d = Fragmented('D', 3);
  c.SetDirty();
  Start();
  EXPECT_EQ(DLL_DefragVolume("CD"), 1);
  EXPECT_EQ(c.MoveCalls(), 0) << "not one move call on a dirty volume";
  EXPECT_GT(c.ExtentCalls(), 0) << "the analysis still ran";
  EXPECT_EQ(c.RunsOf("F\\file0.bin")->size(), 4u);
  EXPECT_EQ(gMessages, std::vector<std::string>{"C: needs a disk check (chkdsk) before it can be defragmented"});
  EXPECT_EQ(d.RunsOf("F\\file0.bin")->size(), 1u);
  EXPECT_EQ(d.RunsOf("F\\file2.bin")->size(), 1u);
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);

  // Once checked, the same volume is defragmented.
  c.SetDirty(false);
  gMessages.clear();
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_TRUE(gMessages.empty());
  EXPECT_EQ(c.RunsOf("F\\file1.bin")->size(), 1u);
}

TEST_F(VolumeStateTest, OnlyNtfsAndTheFatVariantsAreDefragmentedOthersAreAnalysedAndListedWithTheReason) {
  auto& refs = VolumeWithFreeRuns('E', "ReFS", 2000, kCluster, {{1000, 1000}});
  refs.AddFile("a.bin", 4 * kCluster, {{10, 2}, {20, 2}});
  auto& odd = VolumeWithFreeRuns('F', "", 2000, kCluster, {{1000, 1000}});
  odd.AddFile("a.bin", 4 * kCluster, {{10, 2}, {20, 2}});
  auto& fat = VolumeWithFreeRuns('G', "FAT16", 2000, kCluster, {{1000, 1000}});
  fat.AddFile("a.bin", 4 * kCluster, {{10, 2}, {20, 2}});
  Start();
  EXPECT_EQ(DLL_DefragVolume("EFG"), 1);
  EXPECT_EQ(refs.MoveCalls(), 0);
  EXPECT_EQ(odd.MoveCalls(), 0);
  EXPECT_GT(refs.ExtentCalls(), 0) << "analysed";
  EXPECT_EQ(fat.RunsOf("a.bin")->size(), 1u);
  EXPECT_EQ(gMessages, (std::vector<std::string>{
                           "E: has a ReFS file system, which this program analyses but does not defragment",
                           "F: has an unknown file system, which this program analyses but does not defragment"}));
  EXPECT_TRUE(HasPage("analysisreport1.html"));
}

TEST_F(VolumeStateTest, VolumeGoneMidDefragmentationEndsItsPassWithTheReasonNotAFailurePerFile) {
  auto& c = Fragmented('C', 20);
  auto& d = Fragmented('D', 2);
  Start();
  // Pulled while the defragmentation walk opens its fourth file.
  int opened = 0;
  bool defragmenting = false;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) { defragmenting = true; });
  c.OnOpenFile([&](const std::string&) {
    if (defragmenting && ++opened == 4) c.GoAway();
  });
  EXPECT_EQ(DLL_OptimizedDefragVolume("CD"), 1);
  EXPECT_EQ(gMessages, std::vector<std::string>{VolumeGoneText('C')});
  EXPECT_EQ(VolumeGoneText('C'), "C: is no longer available (removed or dismounted): its pass ended there");
  // The pass ended at once: no call on the vanished volume was refused file after file.
  EXPECT_EQ(c.RefusedMoves(), 0);
  EXPECT_LE(opened, 5);
  EXPECT_TRUE(LeftFragmentedOf('C').empty());
  // The job went on: D was defragmented in full.
  EXPECT_EQ(d.RunsOf("F\\file0.bin")->size(), 1u);
  EXPECT_EQ(d.RunsOf("F\\file1.bin")->size(), 1u);
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  // The index page links both volumes; the job was not reported as stopped.
  const std::string top = Page("defragreporttop.html");
  EXPECT_NE(top.find(">D:\\</a>"), std::string::npos);
}

TEST_F(VolumeStateTest, VolumeGoneMidAnalysisEndsTheWalkAndTheDefragmentationSaysWhy) {
  auto& c = Fragmented('C', 20);
  c.AddFolder("G");
  for (int i = 0; i < 5; ++i) c.AddFile("G\\g" + std::to_string(i) + ".bin", kCluster, {{1990 - i, 1}});
  Start();
  int opened = 0;
  c.OnOpenFile([&](const std::string&) {
    if (++opened == 3) c.GoAway();
  });
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(opened, 3) << "no file was opened after the volume went away";
  EXPECT_EQ(c.MoveCalls(), 0);
  // Once for the analysis, once when the defragmentation found it gone.
  EXPECT_EQ(gMessages, (std::vector<std::string>{VolumeGoneText('C'), VolumeGoneText('C')}));
}

TEST_F(VolumeStateTest, OnlyTheVolumesOwnAnswerCallsItGone) {
  // A file that cannot be opened (locked, deleted meanwhile) leaves the volume's pass
  // going.
  auto& c = Fragmented('C', 3);
  c.FailOpen("F\\file0.bin");
  c.FailSearch("F");
  c.AddFile("H\\h.bin", 4 * kCluster, {{1500, 2}, {1510, 2}});
  Start();
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_TRUE(gMessages.empty());
  EXPECT_EQ(c.RunsOf("H\\h.bin")->size(), 1u);
  EXPECT_TRUE(IsVolumeGoneError(platform::kErrorNotReady));
  EXPECT_TRUE(IsVolumeGoneError(platform::kErrorInvalidHandle));
  EXPECT_FALSE(IsVolumeGoneError(platform::kErrorAccessDenied));
}

}  // namespace
}  // namespace vexa
