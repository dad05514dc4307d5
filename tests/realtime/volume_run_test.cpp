// One run over the engine's exports, with the engine of this test binary started on
// simulated volumes: which volumes run, the figures read back, stops and messages.
#include "volume_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/solid_state_question.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace realtime {
namespace {

using platform::sim::ClusterRun;
using platform::sim::SimVolume;

constexpr std::uint32_t kCluster = 4096;

cli::EngineApi LinkedEngine() {
  cli::EngineApi api;
  api.analyseVolume = &DLL_AnalyseVolume;
  api.defragVolume = &DLL_DefragVolume;
  api.optimizedDefragVolume = &DLL_OptimizedDefragVolume;
  api.workingStop = &DLL_WorkingStop;
  api.getWorkingStatus = &DLL_GetWorkingStatus;
  api.getVolumeInfo = &DLL_GetVolumeInfo;
  api.showReport = &DLL_ShowReport;
  api.setMessageHandler = &VexaSetMessageHandler;
  return api;
}

class VolumeRunTest : public vexa::test::JobTest {
 protected:
  // A volume with `fragmented` files in two pieces each and plenty of free space.
  SimVolume& Volume(char letter, int fragmented, std::uint32_t freeClusters = 100000) {
    auto& v = machine.AddVolume(letter, "NTFS", 2000, kCluster);
    for (int i = 0; i < fragmented; ++i) {
      v.AddFile("f" + std::to_string(i) + ".bin", 4 * kCluster, {{100 + i * 10, 2}, {105 + i * 10, 2}});
    }
    v.AddFile("whole.bin", 4 * kCluster, {{1000, 4}});
    v.SetReportedFreeSpace({8, 512, freeClusters, 2000});
    return v;
  }

  std::vector<VolumeResult> Run(const std::string& letters, const std::function<bool(char)>& due) {
    std::vector<VolumeResult> results;
    RunEvents events;
    events.volumeStarted = [this](char letter) { started += letter; };
    events.volumeFinished = [&](const VolumeResult& result) {
      results.push_back(result);
      if (stopAfterFirst) stop = true;
    };
    DefragDueVolumes(LinkedEngine(), dir.Path(), letters, due, stop, events);
    return results;
  }

  std::string started;
  std::atomic<bool> stop{false};
  bool stopAfterFirst = false;
};

TEST_F(VolumeRunTest, DefragmentsEachDueVolumeInTurnAndReadsItsFigures) {
  auto& c = Volume('C', 3);
  auto& d = Volume('D', 2);
  auto& f = Volume('F', 1);
  Start();
  ASSERT_EQ(FixedVolumes(LinkedEngine()), "CDF");

  const auto results = Run("CDF", [](char letter) { return letter != 'D'; });
  EXPECT_EQ(started, "CF");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].letter, 'C');
  EXPECT_TRUE(results[0].ran);
  EXPECT_FALSE(results[0].stopped);
  EXPECT_EQ(results[0].filesDefragmented, 3);
  EXPECT_EQ(results[1].letter, 'F');
  EXPECT_EQ(results[1].filesDefragmented, 1);
  EXPECT_EQ(c.RunsOf("f2.bin")->size(), 1u);
  EXPECT_EQ(f.RunsOf("f0.bin")->size(), 1u);
  EXPECT_EQ(d.RunsOf("f0.bin")->size(), 2u);  // not due: untouched
}

TEST_F(VolumeRunTest, AStopBetweenVolumesStartsNoFurtherVolume) {
  Volume('C', 1);
  auto& d = Volume('D', 1);
  Start();
  stop = true;
  EXPECT_TRUE(Run("CD", [](char) { return true; }).empty());
  EXPECT_EQ(started, "");

  stop = false;
  stopAfterFirst = true;
  const auto results = Run("CD", [](char) { return true; });
  EXPECT_EQ(started, "C");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].stopped);  // C itself ran to its end
  EXPECT_EQ(d.RunsOf("f0.bin")->size(), 2u);
}

TEST_F(VolumeRunTest, AStopDuringAVolumeIsMarkedAndItsPageIsNotTakenFromAnEarlierJob) {
  auto& c = Volume('C', 6);
  Start();
  ASSERT_EQ(Run("C", [](char) { return true; })[0].filesDefragmented, 6);
  // Fragment C again and stop the job at its second move.
  c.AddFile("later/a.bin", 4 * kCluster, {{300, 2}, {305, 2}});
  c.AddFile("later/b.bin", 4 * kCluster, {{310, 2}, {315, 2}});
  int moves = 0;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    if (++moves == 2) {
      stop = true;
      DLL_WorkingStop();
    }
  });
  started.clear();
  const auto results = Run("C", [](char) { return true; });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].stopped);
  EXPECT_LT(results[0].filesDefragmented, 2);
  EXPECT_GE(results[0].filesDefragmented, 0);  // this job's page, not the first job's 6
}

TEST_F(VolumeRunTest, TheEnginesMessageIsCaughtInsteadOfShown) {
  Volume('C', 2, 10);  // far below the free space a defragmentation needs
  Start();
  const auto results = Run("C", [](char) { return true; });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].message, "Not enough disk space, volume C can not be defragged.");
}

TEST_F(VolumeRunTest, AVolumeWithoutSeekPenaltyIsPassedOverSayingSoAndAskedAboutByDefragShell) {
  // IOCTL_STORAGE_QUERY_PROPERTY / StorageDeviceSeekPenaltyProperty: IncursSeekPenalty
  // false on C's disk.
  auto& c = Volume('C', 2);
  auto& d = Volume('D', 2);
  c.SetSolidState();
  Start();
  ASSERT_NE(DLL_GetVolumeInfo('C'), nullptr);
  EXPECT_EQ(DLL_GetVolumeInfo('C')->solidState, 1);
  EXPECT_EQ(DLL_GetVolumeInfo('D')->solidState, 0);
  // Analysed as usual.
  EXPECT_EQ(DLL_AnalyseVolume("C"), 1);
  EXPECT_GT(c.ExtentCalls(), 0);

  const auto results = Run("CD", [](char) { return true; });
  EXPECT_EQ(started, "D") << "the job never starts on C";
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].letter, 'C');
  EXPECT_FALSE(results[0].ran);
  EXPECT_TRUE(results[0].solidState);
  EXPECT_EQ(results[0].message, SolidStatePassedOverText('C'));
  EXPECT_EQ(results[0].message,
            "C: is a solid-state drive: defragmenting it adds wear and does not make it faster, so it was passed over");
  EXPECT_EQ(c.MoveCalls(), 0);
  EXPECT_EQ(d.RunsOf("f1.bin")->size(), 1u);
  EXPECT_EQ(RunSummaryText(results, 0).rfind("C: passed over (solid-state drive), D: 2 files defragmented, ", 0), 0u);

  // DefragShell asks before defragmenting C, and only C.
  EXPECT_EQ(shell::SolidStateQuestion('C', DLL_GetVolumeInfo('C')),
            "C: is a solid-state drive: defragmenting it adds wear and does not make it faster. Defragment it "
            "anyway?");
  EXPECT_EQ(shell::SolidStateQuestion('D', DLL_GetVolumeInfo('D')), std::nullopt);
  EXPECT_EQ(shell::SolidStateQuestion('Q', DLL_GetVolumeInfo('Q')), std::nullopt);
}

}  // namespace
}  // namespace realtime
