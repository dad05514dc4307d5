// The exact bytes of the pages a small analysis job writes.
#include <gtest/gtest.h>

#include "core/engine.h"
#include "report/job_report.h"
#include "report/report_markup.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::ClusterRun;
using test::JobTest;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class AnalysisPageTest : public JobTest {};

TEST_F(AnalysisPageTest, SmallJobWritesExactlyTheseBytes) {
  // 1000 clusters of 4 KiB: one file of 11 scattered clusters, one in one piece.
  auto& c = machine.AddVolume('C', "NTFS", 1000);
  std::vector<ClusterRun> runs;
  for (int i = 0; i < 11; ++i) runs.push_back({100 + 10 * i, 1});
  c.AddFile("Docs\\R&D <draft>.doc", 11 * 4096, runs);
  c.AddFile("one.txt", 5000, {{500, 2}});
  Start();
  DLL_AnalyseVolume("C");

  // The fragmented file's 11 extents lie in 11 cells of one cluster each: 1.10%.
  const std::string row =
      "<TR><TD class=foot><div align=left>C:\\Docs\\R&amp;D &lt;draft&gt;.doc</div></TD><TD class=foot ><div "
      "align=center>11</div></TD><TD class=foot><div align=center>45 KB</div></TD><TD class=foot><div "
      "align=center>11</div></TD><TD class=foot><div align=center>Defragment</div></TD></TR>";
  std::string table(report::kAnalysisTableTemplate);
  const std::pair<const char*, std::string> values[] = {
      {"<!--totalsize-->", "0.0 GB"},
      {"<!--usedsize-->", "0.0 GB"},
      {"<!--scanneddirectories-->", "1"},
      {"<!--scannedfiles-->", "2"},
      {"<!--smallfragmentfiles-->", "0"},
      {"<!--fragmentfiles-->", "1"},
      {"<!--percentageoffragment-->", "Percentage of fragments is 1.10%"},
      {"<!--fragmentlist-->", row},
      {"<!--partition-->", "C:\\"},
      {"<!--filesystem-->", "NTFS"},
      {"<!--totalclusters-->", "1000"},
      {"<!--usedclusters-->", "13"},
      {"<!--bytepercluster-->", "4096"},
      {"<!--startingtime-->", gReport.startText()},
      {"<!--finishingtime-->", gReport.finishText()},
      {"<!--usedtime-->", gReport.elapsedText()},
  };
  for (const auto& [placeholder, value] : values) table = Replace(table, placeholder, value);
  const std::string model = Page("analysisreportmodel.html");
  ASSERT_NE(model.find("<!--table-->"), std::string::npos);
  EXPECT_EQ(Page("analysisreport1.html"), Replace(model, "<!--table-->", table));
  EXPECT_FALSE(gReport.startText().empty());
  EXPECT_TRUE(gReport.elapsedText() == "00:00:00" || gReport.elapsedText() == "00:00:01");

  const std::string link = "<td class=header width=50><a href=analysisreport1.html target=mainFrame>C:\\</a></td>";
  EXPECT_EQ(Page("analysisreporttop.html"), Replace(Page("analysisreporttopmodel.html"), "<!--partitionlist-->", link));
}

}  // namespace
}  // namespace vexa
