// Tests for a worker's report: filling the tables and writing volume and index pages.
#include "report/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/report/report_folder.h"
#include "report/time_texts.h"

namespace vexa::report {
namespace {

using testing::ReportFolder;

constexpr std::int64_t kStart = 1238162709;

std::vector<VexaMapCell> MapWithFragmentedCells(int count) {
  std::vector<VexaMapCell> cells(VEXA_MAP_CELLS, VexaMapCell{});
  for (int i = 0; i < count; ++i) cells[static_cast<std::size_t>(i)] = {1, 0, 0, 2, 1, 1};
  return cells;
}

ReportVolumeFigures SmallVolume() {
  ReportVolumeFigures figures;
  figures.letter = 'D';
  figures.totalSize = "31.9 MB";
  figures.usedSize = "2.1 MB";
  figures.fileSystem = "FAT<32>";
  figures.bytesPerCluster = 512;
  figures.usedClusters = 4200;
  figures.freeClusters = 61000;
  figures.scannedFolders = 3;
  figures.scannedFiles = 17;
  figures.bigFragmentFiles = 2;
  figures.smallFragmentFiles = 5;
  figures.defragAge = 0;
  return figures;
}

bool Contains(const std::string& text, std::string_view what) {
  return text.find(what) != std::string::npos;
}

TEST(Report, AssemblesAnAnalysisPageFromItsTemplate) {
  ReportFolder folder;
  const std::string head = "<!DOCTYPE html>\r\n<html><body>\n";
  const std::string tail = "\n</body></html>\n";
  folder.Put("analysisreportmodel.html", head + "<!--table-->" + tail);

  Report report;
  report.StartVolumeTable(ReportKind::kAnalysis);
  report.ClearFragmentList();
  report.RecordStartTime(kStart);
  report.AppendAnalysisRow("D:\\a<b>&c.txt", 3, 5000000, 4096);
  report.AppendAnalysisRow("D:\\<!--partition-->.log", 2, 1024, 512);
  report.RecordFinishTime(kStart + 90061);
  const auto cells = MapWithFragmentedCells(34);
  EXPECT_EQ(report.FillAnalysisTable(SmallVolume(), cells.data()), "3.40%");

  const std::string& table = report.tableText();
  EXPECT_TRUE(Contains(table,
      "<TR>  <TD class=foot align=right><div align=right>Target volume :</div></TD> "
      "<TD class=foot align=left><div align=left>  D:\\</div></TD>   <TD class=foot><div "
      "align=right>File system :</div></TD> <TD class=foot><div align=left>  FAT&lt;32&gt;  "
      "</div></TD> </TR> "));
  EXPECT_TRUE(Contains(table,
      "<div align=left> 31.9 MB </div></TD><TD class=foot><div align=right>Total clusters :"
      "</div></TD> <TD class=foot><div align=left> 65200 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 2.1 MB </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 4200 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 3 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 512</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 17 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>5 </div>"));
  EXPECT_TRUE(Contains(table, "Big Fragment files :</div></TD> <TD class=foot align=left>"
                              "<div align=left> 2</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> " + ClockText(kStart) + " </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> " + ClockText(kStart + 90061) + " </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 25:01:01 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> Percentage of fragments is 3.40%</div>"));
  EXPECT_TRUE(Contains(table, "Advice</div></TD></TR> <TR><TD class=foot><div align=left>"
                              "D:\\a&lt;b&gt;&amp;c.txt</div>"));
  // A name that looks like a placeholder is text, not a place for the drive letter.
  EXPECT_TRUE(Contains(table, "D:\\&lt;!--partition--&gt;.log"));
  EXPECT_TRUE(table.ends_with("Defragment</div></TD></TR> </TBODY></TABLE>"));
  EXPECT_FALSE(Contains(table, "<!--"));

  ASSERT_TRUE(report.WriteVolumePage(folder.working(), ReportKind::kAnalysis, 2));
  EXPECT_EQ(folder.Get("analysisreport2.html"), head + table + tail);
}

TEST(Report, RecentlyDefraggedVolumeShowsNoFragments) {
  Report report;
  report.StartVolumeTable(ReportKind::kAnalysis);
  report.AppendAnalysisRow("D:\\still-listed.bin", 9, 100000, 512);
  ReportVolumeFigures figures = SmallVolume();
  figures.defragAge = 1;
  figures.bigFragmentFiles = 9;
  const auto cells = MapWithFragmentedCells(400);
  EXPECT_EQ(report.FillAnalysisTable(figures, cells.data()), "0.00%");
  const std::string& table = report.tableText();
  EXPECT_TRUE(Contains(table, "Big Fragment files :</div></TD> <TD class=foot align=left>"
                              "<div align=left> 0</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> No need to defrag this volume.</div>"));
  EXPECT_TRUE(table.ends_with("Advice</div></TD></TR>  </TBODY></TABLE>"));
  EXPECT_FALSE(Contains(table, "still-listed"));
}

TEST(Report, AnalysisVerdictFollowsTheMapCells) {
  Report report;
  report.StartVolumeTable(ReportKind::kAnalysis);
  report.AppendAnalysisRow("D:\\f.bin", 2, 4096, 512);
  auto cells = MapWithFragmentedCells(123);
  EXPECT_EQ(report.FillAnalysisTable(SmallVolume(), cells.data()), "12.30%");
  EXPECT_TRUE(Contains(report.tableText(), "> Percentage of fragments is 12.30%<"));

  report.StartVolumeTable(ReportKind::kAnalysis);
  cells = MapWithFragmentedCells(0);
  EXPECT_EQ(report.FillAnalysisTable(SmallVolume(), cells.data()), "Low");
  EXPECT_TRUE(Contains(report.tableText(), "> Percentage of fragments is low<"));
}

TEST(Report, StartVolumeTableTakesAFreshCopy) {
  Report report;
  report.StartVolumeTable(ReportKind::kAnalysis);
  static_cast<void>(report.FillAnalysisTable(SmallVolume(), nullptr));
  report.StartVolumeTable(ReportKind::kAnalysis);
  EXPECT_EQ(report.tableText(), kAnalysisTableTemplate);
  report.StartVolumeTable(ReportKind::kDefrag);
  EXPECT_EQ(report.tableText(), kDefragTableTemplate);
}

TEST(Report, DefragTableShowsFragmentationBefore) {
  struct Case {
    const char* before;
    bool rows;
    const char* shown;
  };
  for (const Case& c : {Case{"0.00%", true, "Low"}, Case{"0.00%", false, "0.00%"},
                        Case{"3.40%", true, "3.40%"}, Case{"Low", false, "Low"}}) {
    Report report;
    report.StartVolumeTable(ReportKind::kDefrag);
    if (c.rows) report.AppendDefragRow("D:\\x.bin", 4, 9000, 18);
    ReportVolumeFigures figures = SmallVolume();
    figures.fragmentationText = c.before;
    figures.defraggedFiles = c.rows ? 1 : 0;
    report.FillDefragTable(figures, 1, false);
    EXPECT_TRUE(Contains(report.tableText(),
                         std::string("Fragment before :</div></TD><TD class=foot align=left>"
                                     "<div align=left>") + c.shown + " </div>"))
        << c.before << " " << c.rows;
  }
}

TEST(Report, DefragTableFillsEveryFigure) {
  Report report;
  report.StartVolumeTable(ReportKind::kDefrag);
  report.RecordStartTime(kStart);
  report.AppendDefragRow("D:\\x&y.bin", 14, 5000000, 1221);
  report.RecordFinishTime(kStart + 3661);
  ReportVolumeFigures figures = SmallVolume();
  figures.fragmentationText = "12.30%";
  figures.defraggedFiles = 1;
  report.FillDefragTable(figures, 1, false);
  const std::string& table = report.tableText();
  EXPECT_TRUE(Contains(table, "Target volume :</div></TD> <TD class=foot align=left>"
                              "<div align=left>D:\\</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> FAT&lt;32&gt; </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>31.9 MB </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 65200 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>2.1 MB </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left> 4200</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>3</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>512 </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>17</div>"));
  EXPECT_TRUE(Contains(table, "Defragged files :</div></TD> <TD class=foot align=left>"
                              "<div align=left> 1</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>" + ClockText(kStart) + "</div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>" + ClockText(kStart + 3661) + " </div>"));
  EXPECT_TRUE(Contains(table, "<div align=left>01:01:01 </div>"));
  EXPECT_TRUE(Contains(table, "Fragments now</div></TD></TR><TR><TD class=foot><div align=left>"
                              "D:\\x&amp;y.bin</div></TD><TD class=foot ><div align=center>14<"));
  // Job mode 1: the in-depth place stays an empty comment.
  EXPECT_TRUE(table.ends_with("</TR> </TBODY></TABLE><!--optimize-->"));
}

TEST(Report, InDepthTableOnlyInAnOptimizedRunThatWasNotStopped) {
  Report report;
  report.ClearInDepthList();
  report.AppendInDepthRow("D:\\big.iso", 1000, 200, 100);

  report.StartVolumeTable(ReportKind::kDefrag);
  report.FillDefragTable(SmallVolume(), 2, true);
  std::string inDepth(kInDepthTableTemplate);
  inDepth.replace(inDepth.find("<!--optimizelist-->"), 19, report.inDepthList());
  EXPECT_TRUE(report.tableText().ends_with("</TBODY></TABLE>" + inDepth));
  EXPECT_TRUE(Contains(report.tableText(), ">1000 - 1099<"));
  EXPECT_FALSE(Contains(report.tableText(), "<!--optimize"));

  report.StartVolumeTable(ReportKind::kDefrag);
  report.FillDefragTable(SmallVolume(), 2, /*inDepthPassRan=*/false);
  EXPECT_TRUE(report.tableText().ends_with("<!--optimize-->"));
  EXPECT_FALSE(Contains(report.tableText(), "Optimization"));

  report.StartVolumeTable(ReportKind::kDefrag);
  report.FillDefragTable(SmallVolume(), 1, false);
  EXPECT_TRUE(report.tableText().ends_with("<!--optimize-->"));
}

TEST(Report, TemplateWithTheMarkerTwiceGetsTheTableTwice) {
  ReportFolder folder;
  folder.Put("defragreportmodel.html", "<!--table--><hr><!--table-->");
  Report report;
  report.StartVolumeTable(ReportKind::kDefrag);
  report.FillDefragTable(SmallVolume(), 1, false);
  ASSERT_TRUE(report.WriteVolumePage(folder.working(), ReportKind::kDefrag, 1));
  EXPECT_EQ(folder.Get("defragreport1.html"), report.tableText() + "<hr>" + report.tableText());
}

TEST(Report, UnreadableTemplateSkipsOnlyThatPage) {
  ReportFolder folder;
  folder.Put("analysisreport1.html", "page of an earlier job");
  Report report;
  report.StartVolumeTable(ReportKind::kAnalysis);
  EXPECT_FALSE(report.WriteVolumePage(folder.working(), ReportKind::kAnalysis, 1));
  EXPECT_EQ(folder.Get("analysisreport1.html"), "page of an earlier job");
  EXPECT_FALSE(report.WriteVolumePage(folder.working(), ReportKind::kAnalysis, 2));
  EXPECT_FALSE(folder.Has("analysisreport2.html"));
  EXPECT_FALSE(report.WriteIndexPage(folder.working(), ReportKind::kAnalysis));
  EXPECT_FALSE(folder.Has("analysisreporttop.html"));

  // The next volume, once the template is back, is written as usual.
  folder.Put("analysisreportmodel.html", "[<!--table-->]");
  ASSERT_TRUE(report.WriteVolumePage(folder.working(), ReportKind::kAnalysis, 3));
  EXPECT_EQ(folder.Get("analysisreport3.html"), "[" + report.tableText() + "]");
}

TEST(Report, UnwritablePageIsSkipped) {
  ReportFolder folder;
  folder.Put("defragreporttopmodel.html", "<tr><!--partitionlist--></tr>");
  std::filesystem::create_directory(folder.file("defragreporttop.html"));
  Report report;
  report.StartHeaderList();
  report.AppendHeaderLink(ReportKind::kDefrag, 1, 'C');
  EXPECT_FALSE(report.WriteIndexPage(folder.working(), ReportKind::kDefrag));
  EXPECT_FALSE(report.WriteIndexPage(folder.working() + "gone/", ReportKind::kDefrag));
}

TEST(Report, IndexPageListsTheVolumesOfTheJob) {
  ReportFolder folder;
  folder.Put("analysisreporttopmodel.html", "<table><tr><!--partitionlist--></tr></table>");
  folder.Put("defragreporttopmodel.html", "<tr><!--partitionlist--></tr>");
  Report report;
  report.StartHeaderList();
  report.AppendHeaderLink(ReportKind::kAnalysis, 9, 'Z');
  report.StartHeaderList();  // a new worker forgets the links of the one before
  report.AppendHeaderLink(ReportKind::kAnalysis, 2, 'D');
  report.AppendHeaderLink(ReportKind::kAnalysis, 3, 'E');
  ASSERT_TRUE(report.WriteIndexPage(folder.working(), ReportKind::kAnalysis));
  EXPECT_EQ(folder.Get("analysisreporttop.html"),
            "<table><tr>"
            "<td class=header width=50><a href=analysisreport2.html target=mainFrame>D:\\</a></td>"
            "<td class=header width=50><a href=analysisreport3.html target=mainFrame>E:\\</a></td>"
            "</tr></table>");
  EXPECT_FALSE(folder.Has("defragreporttop.html"));

  report.StartHeaderList();
  ASSERT_TRUE(report.WriteIndexPage(folder.working(), ReportKind::kDefrag));
  EXPECT_EQ(folder.Get("defragreporttop.html"), "<tr></tr>");
}

}  // namespace
}  // namespace vexa::report
