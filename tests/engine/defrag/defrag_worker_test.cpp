// Defragmentation jobs on simulated volumes, driven through the exports: the best-fit
// choice, the map updates, the rows, the free-space check, stops and the status.
#include "defrag/defrag_worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/free_space_rule.h"
#include "core/volume_table.h"
#include "platform/message_box.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::ClusterRun;
using platform::sim::SimVolume;
using test::JobTest;

constexpr std::uint32_t kCluster = 4096;

std::vector<std::string> gMessages;
void CaptureMessage(const char* text) { gMessages.emplace_back(text); }

class DefragTest : public JobTest {
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
  SimVolume& VolumeWithFreeRuns(char letter, const std::string& fs, std::int64_t total,
                                const std::vector<ClusterRun>& free) {
    return JobTest::VolumeWithFreeRuns(letter, fs, total, kCluster, free);
  }
  static std::vector<ClusterRun> Pieces(std::int64_t first, int count, std::int64_t length, std::int64_t gap) {
    std::vector<ClusterRun> runs;
    for (int i = 0; i < count; ++i) runs.push_back({first + i * (length + gap), length});
    return runs;
  }
};

TEST_F(DefragTest, EachFileGoesToTheSmallestRunThatHoldsIt) {
  // Free: 20 at 10, 8 at 40, 5 at 100, 8 at 900; everything else in use.
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{10, 20}, {40, 8}, {100, 5}, {900, 8}});
  c.AddFile("a.bin", 8 * kCluster, {{200, 4}, {300, 4}});
  c.AddFile("b.bin", 6 * kCluster, {{400, 2}, {410, 2}, {420, 2}});
  c.AddFile("c.bin", 21 * kCluster, {{500, 11}, {600, 10}});
  c.AddFile("touching.bin", 4 * kCluster, {{700, 2}, {702, 2}});  // back to back: left alone
  auto holey = std::vector<ClusterRun>{{800, 2}, {platform::kVirtualLcn, 2}, {810, 2}};
  c.AddFile("holey.bin", 6 * kCluster, holey);
  Start();
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  // a: the first run of length 8 (at 40); b: runs now 4 at 200 and 300, 5 at 100, 8 at
  // 900, 20 at 10, so the smallest that holds 6 is at 900; c: 21 clusters fit nowhere.
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{40, 8}}));
  EXPECT_EQ(c.RunsOf("b.bin"), (std::vector<ClusterRun>{{900, 6}}));
  EXPECT_EQ(c.RunsOf("c.bin"), (std::vector<ClusterRun>{{500, 11}, {600, 10}}));
  EXPECT_EQ(c.RunsOf("touching.bin"), (std::vector<ClusterRun>{{700, 2}, {702, 2}}));
  EXPECT_EQ(c.RunsOf("holey.bin")->size(), 3u);
  EXPECT_EQ(c.MoveCalls(), 2 + 3);

  const std::string page = Page("defragreport1.html");
  EXPECT_NE(page.find("C:\\a.bin"), std::string::npos);
  EXPECT_NE(page.find("C:\\b.bin"), std::string::npos);
  EXPECT_EQ(page.find("C:\\c.bin"), std::string::npos);
  EXPECT_EQ(page.find("touching.bin"), std::string::npos);
  EXPECT_NE(page.find("<!--optimize-->"), std::string::npos) << "a quick job leaves the in-depth table out";
  EXPECT_NE(Page("defragreporttop.html").find("defragreport1.html target=mainFrame>C:\\</a>"), std::string::npos);
  EXPECT_EQ(machine.OpenHandles(), 1u);
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
}

TEST_F(DefragTest, RowsCountClustersFromSizeInTheAnalysisAndFromExtentsAfterTheMove) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{8000, 2000}});
  c.AddFile("five-million.bin", 5000000, Pieces(100, 11, 111, 50));  // 1,221 clusters
  Start();
  DLL_DefragVolume("C");
  const std::string cell = "</div></TD><TD class=foot><div align=center>";
  EXPECT_NE(Page("analysisreport1.html").find(">11" + cell + "4883 KB" + cell + "1220" + cell + "Defragment<"),
            std::string::npos);
  EXPECT_NE(Page("defragreport1.html").find(">11" + cell + "4883 KB" + cell + "1221" + cell + "0<"),
            std::string::npos);
}

TEST_F(DefragTest, MovedExtentsLeaveTheirCellsAndTheFileIsMarkedWhole) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{9000, 1000}});
  c.AddFile("frag.bin", 12 * kCluster, Pieces(100, 12, 1, 99));  // clusters 100, 200, ... 1200
  c.AddFile("ro.bin", 12 * kCluster, Pieces(2000, 12, 1, 9), platform::kAttributeReadOnly);
  c.AddFile("roa.bin", 12 * kCluster, Pieces(4000, 12, 1, 9),
            platform::kAttributeReadOnly | platform::kAttributeArchive);
  Start();
  DLL_DefragVolume("C");
  const ClusterMap& map = *gVolumes[0].cells;
  // frag.bin's old cells (10 clusters per cell: 100 is cell 9, 200 cell 19, ...) are empty.
  for (int i = 0; i < 12; ++i) EXPECT_EQ(map.Get(CellOfCluster(100 + 100 * i, 10)).fragmentedCount, 0) << i;
  // Its new place: 12 clusters from 9000, which are cluster numbers 8991-9000 (cell
  // 899), 9001-9010 (cell 900) and 9011 (cell 901).
  EXPECT_EQ(c.RunsOf("frag.bin"), (std::vector<ClusterRun>{{9000, 12}}));
  EXPECT_EQ(map.Get(899).contiguousCount, 1);
  EXPECT_EQ(map.Get(900).contiguousCount, 1);
  // Read-only alone (9012-9023, cells 901 and 902): moved, but no mark of its own.
  EXPECT_EQ(c.RunsOf("ro.bin"), (std::vector<ClusterRun>{{9012, 12}}));
  EXPECT_EQ(map.Get(901).contiguousCount, 1);
  // Read-only with archive (9024-9035, cells 902 and 903): marked.
  EXPECT_EQ(c.RunsOf("roa.bin"), (std::vector<ClusterRun>{{9024, 12}}));
  EXPECT_EQ(map.Get(902).contiguousCount, 1);
  EXPECT_EQ(map.Get(903).contiguousCount, 1);
  // A second analysis finds nothing left to join.
  DLL_AnalyseVolume("C");
  EXPECT_NE(Page("analysisreport1.html")
                .find("Big Fragment files :</div></TD> <TD class=foot align=left><div align=left> 0</div>"),
            std::string::npos);
}

TEST_F(DefragTest, LargeVariantChangesCellsOnlyForFilesAboveOneMebibyte) {
  // 300,000 clusters of 4 KiB with 290,000 in use: more than 1 GiB used.
  auto& c = VolumeWithFreeRuns('C', "NTFS", 300000, {{290000, 10000}});
  c.SetReportedFreeSpace({8, 512, 20000, 300000});
  c.AddFile("big.bin", 768 * kCluster, Pieces(1000, 12, 64, 1000));      // 3 MiB
  c.AddFile("small.bin", 228 * kCluster, Pieces(100000, 12, 19, 1000));  // 912 KiB
  Start();
  DLL_DefragVolume("C");
  const ClusterMap& map = *gVolumes[0].cells;
  EXPECT_EQ(c.RunsOf("big.bin")->size(), 1u);
  EXPECT_EQ(c.RunsOf("small.bin")->size(), 1u);
  EXPECT_EQ(map.Get(CellOfCluster(1000, 300)).fragmentedCount, 0);
  EXPECT_EQ(map.Get(CellOfCluster(290000, 300)).contiguousCount, 1);
  // The small file was never examined by the analysis and changes no cell.
  EXPECT_EQ(map.Get(CellOfCluster(100000, 300)).inUse, 0);
  // big.bin now covers cells 966 to 969; small.bin lies in cell 969 and adds nothing.
  EXPECT_EQ(c.RunsOf("small.bin"), (std::vector<ClusterRun>{{290768, 228}}));
  EXPECT_EQ(map.Get(966).contiguousCount, 1);
  EXPECT_EQ(map.Get(969).contiguousCount, 1);
}

TEST_F(DefragTest, TooLittleFreeSpaceSkipsTheVolumeWithAMessage) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.SetReportedFreeSpace({8, 512, 10239, 20000});  // 10,239 x 4096 bytes: just under 40 MiB
  c.AddFile("a.bin", 8 * kCluster, {{200, 4}, {300, 4}});
  auto& d = VolumeWithFreeRuns('D', "NTFS", 1000, {{900, 100}});
  d.SetReportedFreeSpace({8, 512, 12800, 20000});  // exactly 50 MiB
  d.AddFile("a.bin", 8 * kCluster, {{200, 4}, {300, 4}});
  Start();
  DLL_DefragVolume("CD");
  EXPECT_EQ(gMessages, std::vector<std::string>{"Not enough disk space, volume C can not be defragged."});
  EXPECT_EQ(c.MoveCalls(), 0);
  EXPECT_EQ(d.MoveCalls(), 2);
  EXPECT_FALSE(HasPage("defragreport1.html"));
  EXPECT_TRUE(HasPage("defragreport2.html"));
  const std::string top = Page("defragreporttop.html");
  EXPECT_EQ(top.find("defragreport1.html"), std::string::npos);
  EXPECT_NE(top.find("defragreport2.html"), std::string::npos);
}

TEST_F(DefragTest, AnotherMinimumAppliesToVolumesOfTheVolumeMapOnly) {
  auto& c = VolumeWithFreeRuns('C', "FAT16", 1000, {{900, 100}});
  c.SetReportedFreeSpace({8, 512, 256, 20000});  // 1 MiB free: a small image
  c.AddFile("a.bin", 8 * kCluster, {{200, 4}, {300, 4}});
  auto& d = VolumeWithFreeRuns('D', "NTFS", 1000, {{900, 100}});
  d.SetReportedFreeSpace({8, 512, 256, 20000});  // the same, but a native volume
  d.AddFile("a.bin", 8 * kCluster, {{200, 4}, {300, 4}});
  Start();
  SetMappedLetters("C");
  VexaSetMappedMinimumFree(1048577);  // one byte more than C has
  DLL_DefragVolume("CD");
  EXPECT_EQ(c.MoveCalls(), 0);
  VexaSetMappedMinimumFree(1048576);
  DLL_DefragVolume("CD");
  EXPECT_EQ(c.MoveCalls(), 2);
  EXPECT_EQ(d.MoveCalls(), 0) << "a native volume keeps the engine's 50 MiB";
  EXPECT_EQ(gMessages, (std::vector<std::string>{"Not enough disk space, volume C can not be defragged.",
                                                 "Not enough disk space, volume D can not be defragged.",
                                                 "Not enough disk space, volume D can not be defragged."}));
  Stop();
  EXPECT_EQ(MinimumFreeBytes('C'), kDefaultMinimumFreeBytes) << "the next start has the engine's rule again";
}

TEST_F(DefragTest, StopBetweenTwoExtentsKeepsWhatMovedAndSkipsTheDate) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 3 * kCluster, {{200, 1}, {300, 1}, {400, 1}});
  c.AddFile("b.bin", 2 * kCluster, {{500, 1}, {600, 1}});
  int moves = 0;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    if (++moves == 2) DLL_WorkingStop();
  });
  Start();
  DLL_DefragVolume("C");
  EXPECT_EQ(moves, 2);
  // The second move was made; the stop is seen before the third.
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{900, 2}, {400, 1}}));
  EXPECT_EQ(c.RunsOf("b.bin"), (std::vector<ClusterRun>{{500, 1}, {600, 1}}));
  const std::string page = Page("defragreport1.html");
  EXPECT_EQ(page.find("a.bin"), std::string::npos) << "no row for a file cut short";
  EXPECT_TRUE(HasPage("defragreporttop.html"));
  EXPECT_EQ(test::ReadFile(dir.File("defragdate")), std::string(26 * 16, '\0'));
}

TEST_F(DefragTest, FinishedVolumeRecordsTheDateAndShowsRecentColours) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  Start();
  DLL_DefragVolume("C");
  const std::string date = test::ReadFile(dir.File("defragdate"));
  ASSERT_EQ(date.size(), 26u * 16);
  EXPECT_NE(date.substr(0, 2), std::string(2, '\0'));
  gVolumes[0].cells->Raise(0, CellKind::Fragmented, false);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 0), VEXA_COLOR_FRAGMENTED_RECENT);
  // An analysis right after: the report says there is no need.
  DLL_AnalyseVolume("C");
  EXPECT_NE(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);
}

// "No need to defrag" holds only while the volume's allocation is what the job left:
// a file written in pieces afterwards is reported at once, and so is any volume whose
// fingerprint record is missing or damaged.
TEST_F(DefragTest, RecentDefragmentationHidesNothingWrittenSinceTheJob) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{600, 400}});
  c.AddFile("big.bin", 30 * kCluster, Pieces(100, 15, 2, 10));
  Start();
  DLL_DefragVolume("C");
  ASSERT_EQ(c.RunsOf("big.bin")->size(), 1u);
  DLL_AnalyseVolume("C");
  EXPECT_NE(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos)
      << "unchanged since the job";

  // Written in 12 pieces after the job, into the space the job left free.
  c.AddFile("new.bin", 12 * kCluster, Pieces(101, 12, 1, 3));
  DLL_AnalyseVolume("C");
  const std::string changed = Page("analysisreport1.html");
  EXPECT_EQ(changed.find("No need to defrag this volume."), std::string::npos);
  EXPECT_NE(changed.find("C:\\new.bin"), std::string::npos) << "the new fragmented file is listed";
}

TEST_F(DefragTest, MissingOrDamagedFingerprintCountsAsChanged) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{600, 400}});
  c.AddFile("a.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  Start();
  DLL_DefragVolume("C");
  DLL_AnalyseVolume("C");
  ASSERT_NE(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);
  std::string print = test::ReadFile(dir.File("defragprint"));
  ASSERT_EQ(print.size(), 26u * 16);
  EXPECT_EQ(print.substr(0, 4), std::string("\x01\0\0\0", 4)) << "slot C holds a fingerprint";
  EXPECT_EQ(print.substr(16), std::string(25 * 16, '\0')) << "no other slot was touched";

  print[9] = static_cast<char>(print[9] ^ 0x40);  // one bit of the fingerprint
  test::WriteFile(dir.File("defragprint"), print);
  DLL_AnalyseVolume("C");
  EXPECT_EQ(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);

  std::filesystem::remove(dir.File("defragprint"));
  DLL_AnalyseVolume("C");
  EXPECT_EQ(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);
}

TEST_F(DefragTest, StatusWhileAFileMoves) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 2 * kCluster, {{200, 1}, {300, 1}});
  std::vector<VexaWorkingStatus> seen;
  c.OnMove([&](const platform::MOVE_FILE_DATA& move) {
    if (move.StartingVcn != 1) return;
    for (int i = 0; i < 5; ++i) seen.push_back(*DLL_GetWorkingStatus());
  });
  Start();
  DLL_DefragVolume("C");
  ASSERT_EQ(seen.size(), 5u);
  for (std::uint64_t i = 0; i < 5; ++i) {
    EXPECT_EQ(seen[i].state, VEXA_STATE_DEFRAGMENTING);
    EXPECT_EQ(seen[i].moveSource, 1 + i + 1) << "starting virtual cluster 1 plus the poll count";
    EXPECT_EQ(seen[i].moveTarget, 901 + i + 1);
    EXPECT_STREQ(seen[i].currentName, "a.bin");
  }
}

TEST_F(DefragTest, InDepthPassMovesWholeFilesTowardTheStart) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{100, 50}, {300, 150}, {2000, 500}});
  c.AddFile("big.bin", 100 * kCluster, {{5000, 100}});
  c.AddFile("first.bin", 10 * kCluster, {{10, 10}});  // nothing free before it
  Start();
  DLL_OptimizedDefragVolume("C");
  EXPECT_EQ(c.RunsOf("big.bin"), (std::vector<ClusterRun>{{300, 100}}));
  EXPECT_EQ(c.RunsOf("first.bin"), (std::vector<ClusterRun>{{10, 10}}));
  const std::string page = Page("defragreport1.html");
  EXPECT_EQ(page.find("<!--optimize-->"), std::string::npos);
  EXPECT_NE(page.find("5000 - 5099"), std::string::npos);
  EXPECT_NE(page.find("300 - 399"), std::string::npos);
  EXPECT_NE(page.find("Sequence"), std::string::npos);
}

TEST_F(DefragTest, InDepthPassLeavesAFileWhoseOnlyLargeRunLiesAfterIt) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{100, 50}, {6000, 1000}});
  c.AddFile("big.bin", 100 * kCluster, {{5000, 100}});
  Start();
  DLL_OptimizedDefragVolume("C");
  EXPECT_EQ(c.RunsOf("big.bin"), (std::vector<ClusterRun>{{5000, 100}}));
  EXPECT_EQ(c.MoveCalls(), 0);
}

TEST_F(DefragTest, InDepthPassOnFatUsesRealClusters) {
  auto& c = VolumeWithFreeRuns('C', "FAT32", 10000, {{300, 100}});
  c.AddFile("big.bin", 100 * kCluster, {{5000, 100}});
  Start();
  DLL_OptimizedDefragVolume("C");
  EXPECT_EQ(c.RunsOf("big.bin"), (std::vector<ClusterRun>{{300, 100}}));
  const std::string page = Page("defragreport1.html");
  EXPECT_NE(page.find("5000 - 5099"), std::string::npos);
  EXPECT_NE(page.find("300 - 399"), std::string::npos);
}

TEST_F(DefragTest, InDepthCandidatesLargestFirstInInsertionOrder) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{100, 1000}, {1200, 500}});
  c.AddFile("a500.bin", 500 * kCluster, {{5000, 500}});
  c.AddFile("b20.bin", 20 * kCluster, {{6000, 20}});
  c.AddFile("c500.bin", 500 * kCluster, {{7000, 500}});
  std::vector<std::int32_t> indexes;
  std::vector<std::int32_t> ranges;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    const VexaWorkingStatus* s = DLL_GetWorkingStatus();
    EXPECT_EQ(s->state, VEXA_STATE_OPTIMIZING);
    indexes.push_back(s->progressPosition);
    ranges.push_back(s->progressRange);
  });
  Start();
  DLL_OptimizedDefragVolume("C");
  // a500 takes 100..599 (first run long enough), c500 600..1099, b20 1100..1119? No:
  // the remaining run at 1100 is 0 long, so b20 goes to the next run that fits, at 1200.
  EXPECT_EQ(c.RunsOf("a500.bin"), (std::vector<ClusterRun>{{100, 500}}));
  EXPECT_EQ(c.RunsOf("c500.bin"), (std::vector<ClusterRun>{{600, 500}}));
  EXPECT_EQ(c.RunsOf("b20.bin"), (std::vector<ClusterRun>{{1200, 20}}));
  EXPECT_EQ(indexes, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(ranges, (std::vector<std::int32_t>{3, 3, 3}));
}

TEST_F(DefragTest, StopDuringTheInDepthPassEndsWithItsRows) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{100, 1000}});
  c.AddFile("a.bin", 300 * kCluster, {{5000, 300}});
  c.AddFile("b.bin", 200 * kCluster, {{6000, 200}});
  std::string movingName;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    movingName = DLL_GetWorkingStatus()->currentName;
    DLL_WorkingStop();
  });
  Start();
  DLL_OptimizedDefragVolume("C");
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{100, 300}}));
  EXPECT_EQ(c.RunsOf("b.bin"), (std::vector<ClusterRun>{{6000, 200}}));
  EXPECT_EQ(movingName, "a.bin") << "the status names the file the in-depth pass moves";
  EXPECT_TRUE(HasPage("defragreporttop.html"));
  // The moved file keeps its row: the record of what changed on disk.
  const std::string page = Page("defragreport1.html");
  EXPECT_NE(page.find("C:\\a.bin"), std::string::npos);
  EXPECT_NE(page.find("5000 - 5299"), std::string::npos);
  EXPECT_NE(page.find("100 - 399"), std::string::npos);
  EXPECT_EQ(page.find("C:\\b.bin"), std::string::npos);
  EXPECT_EQ(page.find("<!--optimize-->"), std::string::npos);
}

TEST_F(DefragTest, FragmentNowShowsTheMapAfterTheJob) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  c.RefuseMoves();
  Start();
  DLL_DefragVolume("C");
  // Twelve cells of one cluster each stay fragmented: 12 / 1000.
  EXPECT_NE(Page("defragreport1.html").find("Fragment now :</div></TD><TD class=foot align=left><div align=left> 1.20%</div>"),
            std::string::npos);
  c.RefuseMoves(false);
  DLL_DefragVolume("C");
  EXPECT_NE(Page("defragreport1.html").find("Fragment now :</div></TD><TD class=foot align=left><div align=left> 0.00%</div>"),
            std::string::npos);
}

TEST_F(DefragTest, ExcludedFilesAndFoldersAreNotMoved) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("setup.exe", 2 * kCluster, {{200, 1}, {300, 1}});
  c.AddFile("MyRECYCLER\\x.bin", 2 * kCluster, {{400, 1}, {500, 1}});
  c.AddFile("recycler\\y.bin", 2 * kCluster, {{600, 1}, {700, 1}});
  test::WriteFile(dir.File("preset.ini"), "[folder]\r\n[file]\r\n[type]\r\nexe");
  Start();
  DLL_DefragVolume("C");
  EXPECT_EQ(c.RunsOf("setup.exe")->size(), 2u);
  EXPECT_EQ(c.RunsOf("MyRECYCLER\\x.bin")->size(), 2u);
  EXPECT_EQ(c.RunsOf("recycler\\y.bin")->size(), 1u) << "folder entries match case-sensitively";
}

// --- which volume a recent date belongs to ---

TEST_F(DefragTest, RecentDateHoldsOnlyForTheVolumeThatWasDefragmented) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  Start();
  DLL_DefragVolume("C");
  ASSERT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{900, 12}}));
  Stop();

  // Another volume is put under C within the two days, with a badly fragmented file.
  c.SetSerialNumber(0x0BADF00D);
  c.AddFile("b.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  Start();
  DLL_AnalyseVolume("C");
  const std::string page = Page("analysisreport1.html");
  EXPECT_EQ(page.find("No need to defrag this volume."), std::string::npos);
  EXPECT_NE(page.find("C:\\b.bin"), std::string::npos) << "its fragmented file is listed";
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', CellOfCluster(100, 1)), VEXA_COLOR_FRAGMENTED);

  // Defragmenting it records the new identity; the first volume is then the stranger.
  DLL_DefragVolume("C");
  DLL_AnalyseVolume("C");
  EXPECT_NE(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);
  Stop();
  c.SetSerialNumber(0x5100 + 'C');
  Start();
  DLL_AnalyseVolume("C");
  EXPECT_EQ(Page("analysisreport1.html").find("No need to defrag this volume."), std::string::npos);
}

TEST_F(DefragTest, EachMapIsPaintedWithItsOwnVolumesAge) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 12 * kCluster, Pieces(100, 12, 1, 9));
  VolumeWithFreeRuns('D', "NTFS", 1000, {{900, 100}});
  Start();
  DLL_DefragVolume("C");
  DLL_AnalyseVolume("D");  // D is now the engine's current volume
  gVolumes[SlotOfLetter('C')].cells->Raise(0, CellKind::Fragmented, false);
  gVolumes[SlotOfLetter('D')].cells->Raise(0, CellKind::Fragmented, false);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 0), VEXA_COLOR_FRAGMENTED_RECENT);
  EXPECT_EQ(DLL_GetVolumeColorTable('C')[0], VEXA_COLOR_FRAGMENTED_RECENT);
  EXPECT_EQ(DLL_GetVolumeSectorColor('D', 0), VEXA_COLOR_FRAGMENTED);
  DLL_SetCurrentVolume('C');
  EXPECT_EQ(DLL_GetVolumeColorTable('D')[0], VEXA_COLOR_FRAGMENTED);
  // After a restart each map still has its own age.
  Stop();
  Start();
  gVolumes[SlotOfLetter('C')].cells->Raise(0, CellKind::Fragmented, false);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 0), VEXA_COLOR_FRAGMENTED_RECENT);
}

TEST_F(DefragTest, FileDetailsCountClustersOfTheVolumeThePathNames) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 8 * kCluster, {{200, 8}});
  auto& d = VolumeWithFreeRuns('D', "NTFS", 1000, {{900, 100}});
  d.SetReportedFreeSpace({1, 512, 100000, 1000});  // 512-byte clusters
  Start();
  DLL_AnalyseVolume("CD");  // the job leaves D current
  const VexaFileDetails* details = DLL_GetVolumeSectorFileInfo("C:\\a.bin");
  ASSERT_NE(details, nullptr);
  EXPECT_STREQ(details->clusters, "8");
  EXPECT_STREQ(details->bytes, "32768");
}

// --- stops ---

TEST_F(DefragTest, StopBetweenEntriesCountsAsStopped) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 10000, {{100, 1000}});
  c.AddFile("a.bin", 300 * kCluster, {{5000, 300}});  // in one piece: nothing to move
  c.AddFile("b.bin", 2 * kCluster, {{6000, 1}, {6002, 1}});
  c.OnMove([&](const platform::MOVE_FILE_DATA&) { ADD_FAILURE() << "no move after the stop"; });
  c.OnOpenFile([&](const std::string& path) {
    if (DLL_GetWorkingStatus()->state == VEXA_STATE_DEFRAGMENTING && path == "C:\\a.bin") DLL_WorkingStop();
  });
  Start();
  DLL_OptimizedDefragVolume("C");
  EXPECT_EQ(c.RunsOf("b.bin")->size(), 2u);
  EXPECT_EQ(test::ReadFile(dir.File("defragdate")), std::string(26 * 16, '\0')) << "no date for a stopped job";
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{5000, 300}})) << "no in-depth pass after a stop";
  EXPECT_TRUE(HasPage("defragreporttop.html"));
}

TEST_F(DefragTest, StopOnTheSecondOfThreeVolumes) {
  for (char letter : {'C', 'D', 'E'}) {
    auto& v = VolumeWithFreeRuns(letter, "NTFS", 1000, {{900, 100}});
    v.AddFile("a.bin", 2 * kCluster, {{200, 1}, {300, 1}});
    v.AddFile("b.bin", 2 * kCluster, {{400, 1}, {500, 1}});
  }
  machine.Volume('D')->OnMove([&](const platform::MOVE_FILE_DATA&) { DLL_WorkingStop(); });
  Start();
  DLL_DefragVolume("CDE");
  EXPECT_EQ(machine.Volume('C')->MoveCalls(), 4);
  EXPECT_EQ(machine.Volume('E')->MoveCalls(), 0);
  EXPECT_TRUE(HasPage("defragreport1.html"));
  EXPECT_TRUE(HasPage("defragreport2.html"));
  EXPECT_FALSE(HasPage("defragreport3.html"));
  const std::string top = Page("defragreporttop.html");
  EXPECT_NE(top.find("defragreport2.html"), std::string::npos);
  EXPECT_EQ(top.find("defragreport3.html"), std::string::npos);
  const std::string date = test::ReadFile(dir.File("defragdate"));
  EXPECT_NE(date.substr(0, 16), std::string(16, '\0')) << "C finished";
  EXPECT_EQ(date.substr(16, 32), std::string(32, '\0')) << "D stopped, E never reached";
}

TEST_F(DefragTest, EmptyLetterStringWritesAnEmptyIndexPage) {
  VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  Start();
  EXPECT_EQ(DLL_DefragVolume(""), 1);
  EXPECT_TRUE(HasPage("defragreporttop.html"));
  EXPECT_FALSE(HasPage("defragreport1.html"));
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
}

TEST_F(DefragTest, FreeSpaceCheckAtFiftyMebibytesLessOneByte) {
  // 17 x 23 x 134,089 = 52,428,799 bytes: one byte short of the limit.
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("a.bin", 2 * kCluster, {{200, 1}, {300, 1}});
  c.SetReportedFreeSpace({17 * 23, 1, 134089, 200000});
  Start();
  DLL_DefragVolume("C");
  EXPECT_EQ(gMessages, std::vector<std::string>{"Not enough disk space, volume C can not be defragged."});
  EXPECT_EQ(c.MoveCalls(), 0);
}

// --- failures inside a worker ---

TEST_F(DefragTest, AFailureInsideAWorkerEndsTheJobAsAStop) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("Data\\a.bin", 2 * kCluster, {{200, 1}, {300, 1}});
  c.AddFile("Data\\b.bin", 2 * kCluster, {{400, 1}, {500, 1}});
  bool fail = true;
  // Out of memory in the middle of the analysis walk.
  c.OnOpenFile([&](const std::string& path) {
    if (fail && path == "C:\\Data\\a.bin") throw std::bad_alloc();
  });
  Start();
  EXPECT_EQ(DLL_DefragVolume("C"), 1) << "the export returns";
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  EXPECT_EQ(c.MoveCalls(), 0) << "no defragmentation after the failed analysis";
  EXPECT_TRUE(HasPage("defragreporttop.html"));
  EXPECT_EQ(machine.OpenHandles(), 1u) << "the searches were closed; only the volume stays open";

  // A provider failure in the middle of a move: the defragmentation ends there.
  fail = false;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) { throw std::runtime_error("device gone"); });
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  EXPECT_EQ(test::ReadFile(dir.File("defragdate")), std::string(26 * 16, '\0')) << "no date for a failed job";
  EXPECT_EQ(machine.OpenHandles(), 1u);

  // The engine takes the next job as usual.
  c.OnMove(nullptr);
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("Data\\a.bin"), (std::vector<ClusterRun>{{900, 2}}));
  // b.bin at 16 KiB (4 clusters) from its old start, sparing shadow copies.
  EXPECT_EQ(c.RunsOf("Data\\b.bin"), (std::vector<ClusterRun>{{904, 2}}));
}

TEST_F(DefragTest, FilesThatCannotBeOpenedReadOrSearchedArePassedOver) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 1000, {{900, 100}});
  c.AddFile("closed.bin", 2 * kCluster, {{200, 1}, {300, 1}});
  c.AddFile("unreadable.bin", 2 * kCluster, {{210, 1}, {310, 1}});
  c.AddFile("Hidden\\inside.bin", 2 * kCluster, {{220, 1}, {320, 1}});
  c.AddFile("fine.bin", 2 * kCluster, {{230, 1}, {330, 1}});
  c.FailOpen("closed.bin");
  c.FailExtents("unreadable.bin");
  c.FailSearch("Hidden");
  Start();
  DLL_DefragVolume("C");
  // 16 KiB (4 clusters) apart from its old start at 230, sparing shadow copies.
  EXPECT_EQ(c.RunsOf("fine.bin"), (std::vector<ClusterRun>{{902, 2}}));
  EXPECT_EQ(c.RunsOf("closed.bin")->size(), 2u);
  EXPECT_EQ(c.RunsOf("unreadable.bin")->size(), 2u);
  EXPECT_EQ(c.RunsOf("Hidden\\inside.bin")->size(), 2u);
  EXPECT_NE(Page("defragreport1.html").find("C:\\fine.bin"), std::string::npos);
  EXPECT_NE(test::ReadFile(dir.File("defragdate")).substr(0, 16), std::string(16, '\0')) << "the job finished";
}

}  // namespace
}  // namespace vexa
