// Tests for the report markup: templates, header links and the three row kinds.
#include "report/report_markup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vexa::report {
namespace {

// FNV-1a over the bytes, to pin each template to its exact text.
std::uint64_t Fingerprint(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size())) {
    ++count;
  }
  return count;
}

TEST(TableTemplates, HaveTheirExactBytes) {
  EXPECT_EQ(kAnalysisTableTemplate.size(), 3212u);
  EXPECT_EQ(kDefragTableTemplate.size(), 3163u);
  EXPECT_EQ(kInDepthTableTemplate.size(), 494u);
  EXPECT_EQ(Fingerprint(kAnalysisTableTemplate), 0x16bbea8f4b103703ull);
  EXPECT_EQ(Fingerprint(kDefragTableTemplate), 0x94f43fc1329cfbdeull);
  EXPECT_EQ(Fingerprint(kInDepthTableTemplate), 0x4c8746336edfe811ull);

  EXPECT_EQ(kAnalysisTableTemplate.substr(0, 36), "<TABLE class=infotable border=1 cell");
  EXPECT_TRUE(kAnalysisTableTemplate.ends_with("<!--fragmentlist--> </TBODY></TABLE>"));
  EXPECT_TRUE(kDefragTableTemplate.ends_with("</TBODY></TABLE><!--optimize-->"));
  EXPECT_TRUE(kInDepthTableTemplate.starts_with("<br><TABLE"));
  EXPECT_NE(kDefragTableTemplate.find("Defragment  Summary "), std::string_view::npos);
  EXPECT_NE(kDefragTableTemplate.find("<div align=left> 0.00%</div>"), std::string_view::npos);
  EXPECT_NE(kInDepthTableTemplate.find("colSpan=5>Optimization  Details"), std::string_view::npos);
}

TEST(TableTemplates, CarryEachPlaceholderOnce) {
  for (const char* name :
       {"<!--partition-->", "<!--filesystem-->", "<!--totalsize-->", "<!--totalclusters-->",
        "<!--usedsize-->", "<!--usedclusters-->", "<!--scanneddirectories-->",
        "<!--bytepercluster-->", "<!--scannedfiles-->", "<!--startingtime-->",
        "<!--smallfragmentfiles-->", "<!--finishingtime-->", "<!--fragmentfiles-->",
        "<!--usedtime-->", "<!--percentageoffragment-->", "<!--fragmentlist-->"}) {
    EXPECT_EQ(Occurrences(kAnalysisTableTemplate, name), 1u) << name;
  }
  for (const char* name :
       {"<!--partition-->", "<!--filesystem-->", "<!--totalsize-->", "<!--totalclusters-->",
        "<!--usedsize-->", "<!--usedclusters-->", "<!--scanneddirectories-->",
        "<!--bytepercluster-->", "<!--scannedfiles-->", "<!--startingtime-->",
        "<!--fragmentfiles-->", "<!--finishingtime-->", "<!--fragmentationbefore-->",
        "<!--usedtime-->", "<!--fragmentlist-->", "<!--optimize-->"}) {
    EXPECT_EQ(Occurrences(kDefragTableTemplate, name), 1u) << name;
  }
  EXPECT_EQ(Occurrences(kInDepthTableTemplate, "<!--optimizelist-->"), 1u);
  EXPECT_EQ(Occurrences(kAnalysisTableTemplate, "<!--"), 16u);
  EXPECT_EQ(Occurrences(kDefragTableTemplate, "<!--"), 16u);
}

TEST(HeaderLink, NamesPageNumberAndLetter) {
  std::string header;
  AppendHeaderLink(header, ReportKind::kAnalysis, 1, 'C');
  EXPECT_EQ(header,
            "<td class=header width=50><a href=analysisreport1.html target=mainFrame>C:\\</a></td>");
  AppendHeaderLink(header, ReportKind::kDefrag, 12, 'd');
  EXPECT_EQ(header,
            "<td class=header width=50><a href=analysisreport1.html target=mainFrame>C:\\</a></td>"
            "<td class=header width=50><a href=defragreport12.html target=mainFrame>d:\\</a></td>");
}

TEST(HeaderLink, EscapesALetterThatIsMarkup) {
  std::string header;
  AppendHeaderLink(header, ReportKind::kAnalysis, 3, '<');
  EXPECT_EQ(header,
            "<td class=header width=50><a href=analysisreport3.html target=mainFrame>&lt;:\\</a></td>");
}

TEST(AnalysisRow, ShowsExtentsSizeAndClusters) {
  std::string list;
  AppendAnalysisRow(list, "C:\\Data\\big.log", 7, 5000000, 4096);
  EXPECT_EQ(list,
            "<TR><TD class=foot><div align=left>C:\\Data\\big.log"
            "</div></TD><TD class=foot ><div align=center>7"
            "</div></TD><TD class=foot><div align=center>4883 KB"
            "</div></TD><TD class=foot><div align=center>1220"
            "</div></TD><TD class=foot><div align=center>Defragment</div></TD></TR>");
}

TEST(AnalysisRow, ExactKilobytesStillGetOneMore) {
  std::string list;
  AppendAnalysisRow(list, "a", 2, 3145728, 512);
  EXPECT_NE(list.find(">3073 KB<"), std::string::npos);
  EXPECT_NE(list.find(">6144<"), std::string::npos);
  list.clear();
  AppendAnalysisRow(list, "b", 2, 2097152, 4096);
  EXPECT_NE(list.find(">2049 KB<"), std::string::npos);
  list.clear();
  AppendAnalysisRow(list, "empty", 2, 0, 4096);
  EXPECT_NE(list.find(">1 KB<"), std::string::npos);
}

TEST(AnalysisRow, BeyondFourGigabytesAndZeroClusterSize) {
  std::string list;
  AppendAnalysisRow(list, "huge", 4294967295u, 10000000000ull, 65536);
  EXPECT_NE(list.find(">4294967295<"), std::string::npos);
  EXPECT_NE(list.find(">9765626 KB<"), std::string::npos);
  EXPECT_NE(list.find(">152587<"), std::string::npos);
  // A volume whose cluster size is unknown must not stop the report.
  list.clear();
  AppendAnalysisRow(list, "odd", 2, 8192, 0);
  EXPECT_NE(list.find("<div align=center>0</div></TD><TD class=foot><div align=center>Defragment"),
            std::string::npos);
}

TEST(AnalysisRow, EscapesThePath) {
  std::string list;
  AppendAnalysisRow(list, "C:\\a<b>&c.txt", 2, 1024, 512);
  EXPECT_TRUE(list.starts_with("<TR><TD class=foot><div align=left>C:\\a&lt;b&gt;&amp;c.txt</div>"));
  list.clear();
  AppendAnalysisRow(list, "C:\\\"><img src=x onerror='y'>.txt", 2, 1024, 512);
  EXPECT_EQ(list.find("<img"), std::string::npos);
  EXPECT_NE(list.find("&quot;&gt;&lt;img src=x onerror=&#39;y&#39;&gt;.txt"), std::string::npos);
}

TEST(DefragRow, ShowsExtentsBeforeAndNoneNow) {
  std::string list;
  AppendDefragRow(list, "C:\\Data\\big.log", 14, 5000000, 1221);
  EXPECT_EQ(list,
            "<TR><TD class=foot><div align=left>C:\\Data\\big.log"
            "</div></TD><TD class=foot ><div align=center>14"
            "</div></TD><TD class=foot><div align=center>4883 KB"
            "</div></TD><TD class=foot><div align=center>1221"
            "</div></TD><TD class=foot><div align=center>0</div></TD></TR>");
}

TEST(InDepthRow, ShowsOldAndNewPlace) {
  std::string list;
  AppendInDepthRow(list, "C:\\x&y.bin", 1000, 200, 100);
  EXPECT_EQ(list,
            "<TR><TD class=foot width=50%><div align=left>C:\\x&amp;y.bin"
            "</div></TD><TD class=foot width=21%><div align=center>1000 - 1099"
            "</div></TD><TD class=foot width=21%><div align=center>200 - 299"
            "</div></TD><TD class=foot width=8%><div align=center>Sequence</div></TD></TR>");
  AppendInDepthRow(list, "b", 5000, 300, 1);
  EXPECT_TRUE(list.ends_with("5000 - 5000</div></TD><TD class=foot width=21%><div align=center>"
                             "300 - 300</div></TD><TD class=foot width=8%><div align=center>"
                             "Sequence</div></TD></TR>"));
}

}  // namespace
}  // namespace vexa::report
