// Analysis jobs on simulated volumes, driven through the exports.
#include "analysis/analysis_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/job_control.h"
#include "core/volume_table.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::ClusterRun;
using test::JobTest;

constexpr std::uint32_t kCluster = 4096;

// 20 one-cluster extents, ten clusters apart from `first` on.
std::vector<ClusterRun> Scattered(std::int64_t first, int count = 20) {
  std::vector<ClusterRun> runs;
  for (int i = 0; i < count; ++i) runs.push_back({first + 10 * i, 1});
  return runs;
}

class AnalysisTest : public JobTest {
 protected:
  // A 10,000-cluster NTFS volume (10 clusters per cell) with one file of every kind.
  platform::sim::SimVolume& Populate() {
    auto& c = machine.AddVolume('C', "NTFS", 10000);
    c.AddFile("one.bin", 5 * kCluster, {{2500, 5}});
    c.AddFile("a<b>&c.bin", 20 * kCluster, Scattered(100));
    auto adjacent = Scattered(3000);
    adjacent[5].lcn = adjacent[4].lcn + 1;  // extents 4 and 5 back to back
    c.AddFile("adjacent.bin", 20 * kCluster, adjacent);
    auto holey = Scattered(4000);
    holey[0].lcn = platform::kVirtualLcn;
    c.AddFile("holey.bin", 20 * kCluster, holey);
    c.AddFile("five.bin", 5 * kCluster, Scattered(6000, 5));
    c.AddFile(".profile", kCluster, {{7000, 1}});
    c.AddFile("readonly.bin", kCluster, {{7002, 1}}, platform::kAttributeReadOnly);
    c.AddFolder("Locked", platform::kAttributeDirectory | platform::kAttributeReadOnly);
    c.AddFile("Locked\\inside.bin", kCluster, {{7004, 1}});
    c.AddFile("Windows\\System32\\drv.sys", 3 * kCluster, {{5000, 3}});
    c.AddFile("Windows\\fonts\\skip.ttf", kCluster, {{7006, 1}});  // built-in exclusion "Fonts"
    return c;
  }
  VexaMapCell CellOf(char letter, int k) { return gVolumes[SlotOfLetter(letter)].cells->Get(k); }
};

TEST_F(AnalysisTest, ClassifiesFilesMarksTheMapAndWritesThePages) {
  Populate();
  Start();
  EXPECT_EQ(DLL_AnalyseVolume("C"), 1);

  // In one piece: cell 249 (cluster 2500 is the last of that cell), listed.
  EXPECT_EQ(CellOf('C', 249).contiguousCount, 1);
  EXPECT_EQ(gVolumes[0].lists->List(249), std::vector<std::string>{"C:\\one.bin"});
  // Fragmented: every extent's cell counts one fragmented extent and lists the path once.
  for (int i = 0; i < 20; ++i) {
    const int k = 9 + i;  // cluster 100 + 10 i
    ASSERT_EQ(CellOf('C', k).fragmentedCount, 1) << k;
    ASSERT_EQ(gVolumes[0].lists->List(k), std::vector<std::string>{"C:\\a<b>&c.bin"}) << k;
  }
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 9), VEXA_COLOR_FRAGMENTED);
  // Adjacent extents 4 and 5: extents 0 to 5 become partly contiguous, the rest unmarked.
  for (int i = 0; i < 20; ++i) {
    const int k = CellOfCluster(3000 + 10 * i, 10);
    const VexaMapCell cell = CellOf('C', i == 5 ? CellOfCluster(3041, 10) : k);
    if (i <= 5) {
      EXPECT_EQ(cell.partlyCount, 1) << i;
      EXPECT_EQ(cell.fragmentedCount, 0) << i;
    } else {
      EXPECT_EQ(cell.inUse, 0) << i;
    }
  }
  // A leading virtual extent: nothing marked.
  for (int i = 1; i < 20; ++i) ASSERT_EQ(CellOf('C', CellOfCluster(4000 + 10 * i, 10)).inUse, 0);
  // Five extents: counted as small, not marked.
  EXPECT_EQ(CellOf('C', CellOfCluster(6000, 10)).inUse, 0);
  // Under System32: a system entry.
  EXPECT_EQ(CellOf('C', 499).systemCount, 1);
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 499), VEXA_COLOR_SYSTEM);
  // Passed over: dot names, read-only files, excluded folders; a read-only folder is
  // walked, so its file is the one entry of its cell.
  EXPECT_EQ(CellOf('C', CellOfCluster(7000, 10)).inUse, 0);
  EXPECT_EQ(CellOf('C', CellOfCluster(7004, 10)).contiguousCount, 1);

  const std::string page = Page("analysisreport1.html");
  EXPECT_NE(page.find("C:\\a&lt;b&gt;&amp;c.bin"), std::string::npos);
  EXPECT_EQ(page.find("a<b>"), std::string::npos);
  EXPECT_EQ(page.find("adjacent.bin"), std::string::npos);
  // Folders: Locked, Windows, System32, fonts; files: every non-dot entry met.
  EXPECT_NE(page.find("Scanned directories :</div></TD> <TD class=foot align=left><div align=left> 4 </div>"),
            std::string::npos);
  EXPECT_NE(page.find("Scanned files :</div></TD> <TD class=foot align=left><div align=left> 8 </div>"),
            std::string::npos);
  EXPECT_EQ(page.find("<!--smallfragmentfiles-->"), std::string::npos);
  EXPECT_NE(page.find("Small Fragment files : </div></TD> <TD class=foot align=left><div align=left>1 </div>"),
            std::string::npos);
  EXPECT_NE(page.find("Big Fragment files :</div></TD> <TD class=foot align=left><div align=left> 1</div>"),
            std::string::npos);
  EXPECT_NE(Page("analysisreporttop.html").find("<a href=analysisreport1.html target=mainFrame>C:\\</a>"),
            std::string::npos);
  EXPECT_EQ(machine.OpenHandles(), 1u) << "every file and search handle is closed";
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
}

TEST_F(AnalysisTest, MissingVolumeKeepsItsReportNumberUnused) {
  machine.AddVolume('E', "FAT32", 2000).AddFile("x.bin", kCluster, {{10, 1}});
  Start();
  DLL_AnalyseVolume("DE");
  EXPECT_FALSE(HasPage("analysisreport1.html"));
  EXPECT_TRUE(HasPage("analysisreport2.html"));
  const std::string top = Page("analysisreporttop.html");
  EXPECT_NE(top.find("analysisreport2.html target=mainFrame>E:\\</a>"), std::string::npos);
  EXPECT_EQ(top.find("analysisreport1.html"), std::string::npos);
  // FAT numbering: logical cluster 10 is cluster number 12, cell 5 at 2 clusters per cell.
  EXPECT_EQ(CellOf('E', 5).contiguousCount, 1);
}

TEST_F(AnalysisTest, SavedStateIsWhatUnloadingSavesAndTheEngineRunsOn) {
  Populate();
  Start();
  const std::string empty = Page("diskdata");
  DLL_AnalyseVolume("C");
  EXPECT_EQ(VexaSaveState(), 1);
  const std::string saved = Page("diskdata");
  EXPECT_NE(saved, empty) << "the analysed map reached the file";
  EXPECT_EQ(CellOf('C', 249).contiguousCount, 1) << "the table stays as it was";
  DLL_AnalyseVolume("C");  // and the engine goes on working
  Stop();
  EXPECT_EQ(Page("diskdata"), saved) << "the unload writes the same";
  EXPECT_EQ(VexaSaveState(), 0) << "a stopped engine saves nothing";
}

TEST_F(AnalysisTest, EmptyLetterStringStillWritesTheIndexPage) {
  machine.AddVolume('C', "NTFS", 1000);
  Start();
  EXPECT_EQ(DLL_AnalyseVolume(""), 1);
  EXPECT_TRUE(HasPage("analysisreporttop.html"));
  EXPECT_EQ(Page("analysisreporttop.html").find("analysisreport1.html"), std::string::npos);
}

TEST_F(AnalysisTest, UnreadableBitmapKeepsTheLinkButWritesNoPage) {
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("x.bin", kCluster, {{10, 1}});
  Start();
  gVolumes[0].cells->Raise(3, CellKind::Fragmented, false);
  c.FailBitmap();
  DLL_AnalyseVolume("C");
  EXPECT_FALSE(HasPage("analysisreport1.html"));
  EXPECT_NE(Page("analysisreporttop.html").find("analysisreport1.html"), std::string::npos);
  EXPECT_EQ(CellOf('C', 3).inUse, 0) << "the map is cleared before the bitmap read";
}

TEST_F(AnalysisTest, StopDuringTheFirstVolumeEndsTheJobWithItsPage) {
  auto& c = Populate();
  auto& d = machine.AddVolume('D', "NTFS", 1000);
  d.AddFile("d.bin", kCluster, {{10, 1}});
  c.OnOpenFile([](const std::string&) { DLL_WorkingStop(); });
  Start();
  gVolumes[1].cells->Raise(0, CellKind::Contiguous, false);
  EXPECT_EQ(DLL_DefragVolume("CD"), 1);
  EXPECT_TRUE(HasPage("analysisreport1.html"));
  EXPECT_FALSE(HasPage("analysisreport2.html"));
  EXPECT_FALSE(HasPage("defragreport1.html")) << "no defragmentation after a stop";
  // The job's own index page, listing the volume it reached, so no earlier job's page
  // stands in for this one.
  ASSERT_TRUE(HasPage("defragreporttop.html"));
  EXPECT_NE(Page("defragreporttop.html").find("analysisreport1.html"), std::string::npos);
  EXPECT_EQ(Page("defragreporttop.html").find("report2.html"), std::string::npos);
  EXPECT_FALSE(HasPage("analysisreporttop.html")) << "a defragmentation job writes no analysis index";
  EXPECT_EQ(CellOf('D', 0).contiguousCount, 1) << "D was never visited";
  EXPECT_EQ(d.ExtentCalls(), 0);
  EXPECT_EQ(machine.OpenHandles(), 2u);
}

TEST_F(AnalysisTest, StatusDuringTheWalk) {
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("Data\\first.bin", 400 * kCluster, {{100, 400}});
  c.AddFile("Data\\second.bin", kCluster, {{600, 1}});
  VexaWorkingStatus seen{};
  int32_t secondJob = 0;
  c.OnOpenFile([&](const std::string& path) {
    if (path == "C:\\Data\\second.bin") {
      seen = *DLL_GetWorkingStatus();
      secondJob = DLL_AnalyseVolume("C");  // a job is running: returns at once
    }
  });
  Start();
  DLL_AnalyseVolume("c");
  EXPECT_EQ(secondJob, 1);
  EXPECT_EQ(seen.state, VEXA_STATE_ANALYSING);
  EXPECT_EQ(seen.letter, 'c');
  EXPECT_STREQ(seen.currentName, "second.bin");
  EXPECT_EQ(seen.progressRange, 100);
  // 1 + 400 processed of 401 used clusters.
  EXPECT_EQ(seen.progressPosition, 100);
}

TEST_F(AnalysisTest, NoUsedClustersGivesProgressMinusOne) {
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  c.AddFile("x.bin", kCluster, {{10, 1}});
  c.SetReportedFreeSpace({8, 512, 1000, 1000});
  std::int32_t position = 0;
  c.OnOpenFile([&](const std::string&) { position = DLL_GetWorkingStatus()->progressPosition; });
  Start();
  DLL_AnalyseVolume("C");
  EXPECT_EQ(position, -1);
}

TEST_F(AnalysisTest, PollingWhileAJobRuns) {
  Populate();
  Start();
  std::atomic<bool> done{false};
  std::atomic<int> polls{0};
  std::thread poller([&] {
    while (!done.load()) {
      const VexaWorkingStatus* s = DLL_GetWorkingStatus();
      const int32_t* colours = DLL_GetVolumeColorTable(s->letter == 0 ? 'C' : s->letter);
      ASSERT_GE(colours[0], 0);
      polls.fetch_add(1);
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 3; ++i) DLL_AnalyseVolume("CC");
  done.store(true);
  poller.join();
  EXPECT_GT(polls.load(), 0);
  EXPECT_EQ(CellOf('C', 249).contiguousCount, 1);
}

TEST_F(AnalysisTest, LettersOutsideCToZVisitVolumeC) {
  machine.AddVolume('C', "NTFS", 1000).AddFile("x.bin", kCluster, {{10, 1}});
  Start();
  DLL_AnalyseVolume("1");
  EXPECT_TRUE(HasPage("analysisreport1.html"));
  EXPECT_NE(Page("analysisreporttop.html").find("analysisreport1.html target=mainFrame>1:\\</a>"), std::string::npos);
  EXPECT_EQ(CellOf('C', 9).contiguousCount, 1);
}

TEST_F(AnalysisTest, LongLetterStringsKeepTheirFirst255Letters) {
  Start();
  const std::string letters(300, 'Q');
  EXPECT_EQ(DLL_AnalyseVolume(letters.c_str()), 1);
  EXPECT_EQ(std::string(gJob.letters), std::string(255, 'Q'));
  EXPECT_EQ(gJob.letters[255], 0);
}

TEST(PassVariantTest, ChosenByNameAndUsedBytes) {
  EXPECT_TRUE(ChooseVariant("NTFS", 1073741824).ntfs);
  EXPECT_FALSE(ChooseVariant("NTFS", 1073741824).large);
  EXPECT_TRUE(ChooseVariant("NTFS", 1073741825).large);
  EXPECT_FALSE(ChooseVariant("FAT32", 0).ntfs);
  // The cell shift of two belongs to the FAT variants alone (their clusters count
  // from 2); ReFS and names the engine does not know use logical numbering.
  for (const char* fat : {"FAT", "FAT12", "FAT16", "FAT32", "exFAT"}) EXPECT_FALSE(ChooseVariant(fat, 0).ntfs) << fat;
  for (const char* other : {"ReFS", "UDF", "", "ntfs"}) EXPECT_TRUE(ChooseVariant(other, 0).ntfs) << other;
}

}  // namespace
}  // namespace vexa
