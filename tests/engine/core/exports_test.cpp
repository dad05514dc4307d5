// The map and file exports and the status record of an idle engine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/volume_table.h"
#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::EngineTest;
using test::FileExists;
using test::ReadFile;

class ExportsTest : public EngineTest {};

TEST_F(ExportsTest, IdleStatusRightAfterLoad) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  const VexaWorkingStatus* status = DLL_GetWorkingStatus();
  EXPECT_EQ(status->state, VEXA_STATE_IDLE);
  EXPECT_EQ(status->letter, 0);
  EXPECT_STREQ(status->currentName, "");
  EXPECT_EQ(status->progressRange, 100);
  EXPECT_EQ(status->progressPosition, 1);
  EXPECT_EQ(status->moveSource, 0u);
}

TEST_F(ExportsTest, ColourTableOfAnUnknownVolumeIsAllZero) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  gVolumes[0].cells->Raise(0, CellKind::Fragmented, false);
  const int32_t* table = DLL_GetVolumeColorTable('C');
  EXPECT_EQ(table[0], VEXA_COLOR_FRAGMENTED);
  table = DLL_GetVolumeColorTable('K');
  for (int k = 0; k < 1000; ++k) ASSERT_EQ(table[k], 0);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', -1), 0);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 1000), 0);
}

TEST_F(ExportsTest, RecentDefragmentationShowsFragmentedCellsInTheirOwnColour) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  ASSERT_TRUE(WriteDefragDate(dir.File("defragdate"), 0, std::time(nullptr) - 3600));
  std::uint32_t serial = 0;
  ASSERT_TRUE(machine.VolumeSerialNumber('C', &serial));
  ASSERT_TRUE(WriteDefragVolume(dir.File("defragvol"), 0, serial));
  ASSERT_TRUE(RecordAllocation(0));
  gVolumes[0].cells->Raise(2, CellKind::Fragmented, false);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 2), VEXA_COLOR_FRAGMENTED);
  DLL_SetCurrentVolume('C');
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 2), VEXA_COLOR_FRAGMENTED_RECENT);
  EXPECT_EQ(DLL_GetVolumeColorTable('C')[2], VEXA_COLOR_FRAGMENTED_RECENT);
}

TEST_F(ExportsTest, FileListHasOnePathPerLineWithCrLf) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  gVolumes[0].lists->Add(4, "C:\\a.txt");
  gVolumes[0].lists->Add(4, "C:\\Dir\\b & c.txt");
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('C', 4), 1);
  EXPECT_EQ(ReadFile(dir.File("FileList.txt")), "C:\\a.txt\r\nC:\\Dir\\b & c.txt\r\n");
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('C', 5), 1);
  EXPECT_EQ(ReadFile(dir.File("FileList.txt")), "");
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('C', 1000), 1);
  EXPECT_EQ(ReadFile(dir.File("FileList.txt")), "");
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('Q', 4), 1);
  EXPECT_TRUE(FileExists(dir.File("FileList.txt")));
}

TEST_F(ExportsTest, FileListThatCannotBeCreatedGivesZero) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  std::filesystem::create_directory(dir.File("FileList.txt"));  // a folder stands in the way
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('C', 0), 0);
}

TEST_F(ExportsTest, FileDetailsRecord) {
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("Data\\big.bin", 10 * 4096 + 100, {{10, 3}, {20, 5}, {40, 3}});
  Start();
  const VexaFileDetails* details = DLL_GetVolumeSectorFileInfo("C:\\data\\BIG.bin");
  ASSERT_NE(details, nullptr);
  EXPECT_STREQ(details->extentCount, "3");
  EXPECT_STREQ(details->clusters, "10") << "the path's own volume, current or not";
  EXPECT_STREQ(details->bytes, "41060");
  DLL_SetCurrentVolume('C');
  details = DLL_GetVolumeSectorFileInfo("C:\\Data\\big.bin");
  EXPECT_STREQ(details->clusters, "10");
  EXPECT_EQ(DLL_GetVolumeSectorFileInfo("C:\\Data\\none.bin"), nullptr);
  EXPECT_EQ(DLL_GetVolumeSectorFileInfo(nullptr), nullptr);
  EXPECT_EQ(machine.OpenHandles(), 1u) << "only the volume handle stays open";
}

TEST_F(ExportsTest, AJobHoldsTheMachineJobLockAndAnotherHolderRefusesJobs) {
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("a.bin", 4096, {{10, 1}});
  bool heldDuringTheJob = false;
  c.OnOpenFile([&](const std::string&) {
    heldDuringTheJob = !platform::CreateMachineJobLock(dir.Path())->TryLock();
  });
  Start();
  EXPECT_EQ(DLL_AnalyseVolume("C"), 1);
  EXPECT_TRUE(heldDuringTheJob) << "the real lock of the working folder is held while the job runs";
  const int extentCalls = c.ExtentCalls();
  ASSERT_GT(extentCalls, 0);

  // Another process runs a job: every job export starts nothing and says so at once.
  auto other = platform::CreateMachineJobLock(dir.Path());
  ASSERT_TRUE(other->TryLock()) << "the job gave the lock back";
  EXPECT_EQ(DLL_AnalyseVolume("C"), 0);
  EXPECT_EQ(DLL_DefragVolume("C"), 0);
  EXPECT_EQ(DLL_OptimizedDefragVolume("C"), 0);
  EXPECT_EQ(c.ExtentCalls(), extentCalls) << "the refused jobs read nothing";
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  other->Unlock();
  EXPECT_EQ(DLL_AnalyseVolume("C"), 1);
  EXPECT_GT(c.ExtentCalls(), extentCalls);
}

TEST(JobLockEngineTest, AFakeLockStandsForAnotherProcess) {
  platform::sim::SimMachine machine;
  machine.AddVolume('C', "NTFS", 1000);
  test::TempDir dir;
  platform::FakeJobLockSite site;
  platform::FakeJobLock engineLock(site);
  platform::FakeJobLock otherProcess(site);
  gJobWaitMs = 2;
  Startup(machine, dir.Path(), &engineLock);
  ASSERT_TRUE(otherProcess.TryLock());
  EXPECT_EQ(DLL_DefragVolume("C"), 0);
  otherProcess.Unlock();
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_FALSE(site.held.load()) << "given back after the job";
  Shutdown();
}

TEST(ProgressPercentTest, FullCountsOfLargeVolumesStayWithinAHundred) {
  EXPECT_EQ(ProgressPercent(1, 200), 1);  // 0.5 rounds up, as MulDiv does
  EXPECT_EQ(ProgressPercent(1, 201), 0);
  EXPECT_EQ(ProgressPercent(5, 0), -1);
  // 2^31 and more used clusters: the low 32 bits alone would read as negative or tiny.
  EXPECT_EQ(ProgressPercent(1ULL << 31, 1ULL << 32), 50);
  EXPECT_EQ(ProgressPercent(3000000000ULL, 4000000000ULL), 75);
  EXPECT_EQ(ProgressPercent((1ULL << 32) + 5, 1ULL << 33), 50);
  EXPECT_EQ(ProgressPercent(UINT64_MAX - 1, UINT64_MAX), 100);
  EXPECT_EQ(ProgressPercent(UINT64_MAX / 3, UINT64_MAX), 33);
  EXPECT_EQ(ProgressPercent(7, 5), 100) << "more processed than used";
}

TEST(MulDivTest, RoundsHalvesAwayFromZeroAndFlagsFailures) {
  EXPECT_EQ(MulDiv(1, 100, 200), 1);     // 0.5 rounds up
  EXPECT_EQ(MulDiv(1, 100, 201), 0);
  EXPECT_EQ(MulDiv(-1, 100, 200), -1);   // -0.5 rounds away from zero
  EXPECT_EQ(MulDiv(250, 100, 1000), 25);
  EXPECT_EQ(MulDiv(5, 100, 0), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 100, 1), -1);
  EXPECT_EQ(MulDiv(-5, 100, -200), 3);   // 2.5
}

}  // namespace
}  // namespace vexa
