// Reading the figures and rows of a volume page back, and the JSON texts made from them.
#include "report_pages.h"

#include <gtest/gtest.h>

#include "json_text.h"

namespace cli {
namespace {

// The shape the engine writes: a summary table of label/value pairs and a details table.
constexpr char kPage[] =
    "<html><body><h1>Analysis report</h1>"
    "<TABLE class=infotable> <TBODY>  <TR> <TD class=header colSpan=4>Analysis Summary </TD></TR> "
    "<TR>  <TD class=content><div align=center>Item</div></TD>  <TD class=content><div align=center>Content</div></TD></TR>  "
    "<TR>  <TD class=foot align=right><div align=right>Target volume :</div></TD> <TD class=foot><div align=left>  C:\\</div></TD>"
    "   <TD class=foot><div align=right>File system :</div></TD> <TD class=foot><div align=left>  FAT32  </div></TD> </TR> "
    "<TR> <TD class=foot><div align=right>Small Fragment files : </div></TD> <TD class=foot><div align=left>118 </div></TD>"
    " <TD class=foot><div align=right>Used time :</div></TD> <TD class=foot><div align=left> 00:00:01 </div></TD></TR>"
    "<TR> <TD class=foot><div align=right>Report :</div></TD> <TD class=foot><div align=left> Low</div></TD>"
    "<TD class=foot><div align=right></div></TD> <TD class=foot><div align=left></div></TD> </TR></TBODY></TABLE>"
    "<BR><TABLE class=infotable>  <TBODY> <TR> <TD class=header colSpan=5>Analysis Details</TD> </TR> "
    "<TR> <TD class=content><div align=center>Big Fragment files Path</div></TD></TR> "
    "<TR><TD class=foot><div align=left>C:\\a &amp; b\\&lt;x&gt; &quot;q&quot; it&#39;s.bin</div></TD>"
    "<TD class=foot ><div align=center>12</div></TD><TD class=foot><div align=center>9 KB</div></TD>"
    "<TD class=foot><div align=center>16</div></TD><TD class=foot><div align=center>Defragment</div></TD></TR> "
    "</TBODY></TABLE></body></html>";

TEST(ReportPages, SummaryFiguresAndDetailRowsAreReadWithEscapesUndone) {
  const VolumePage page = ParseVolumePage(kPage);
  ASSERT_EQ(page.figures.size(), 5u);
  EXPECT_EQ(page.Figure("Target volume"), "C:\\");
  EXPECT_EQ(page.Figure("File system"), "FAT32");
  EXPECT_EQ(page.Figure("Small Fragment files"), "118");
  EXPECT_EQ(page.Figure("Used time"), "00:00:01");
  EXPECT_EQ(page.Figure("Report"), "Low");
  EXPECT_EQ(page.Figure("Missing"), "");
  ASSERT_EQ(page.files.size(), 1u);
  EXPECT_EQ(page.files[0][0], "C:\\a & b\\<x> \"q\" it's.bin");
  EXPECT_EQ(page.files[0][1], "12");
  EXPECT_EQ(page.files[0][3], "16");
  EXPECT_FALSE(page.hasOptimization);
}

TEST(ReportPages, AnInDepthTableIsSeenEvenWhenEmpty) {
  const std::string withTable = std::string(kPage) +
                                "<TABLE> <TBODY> <TR> <TD class=header colSpan=5>Optimization  Details</TD></TR>"
                                "<TR> <TD class=content><div align=center>File Path</div></TD></TR> </TBODY></TABLE>";
  const VolumePage page = ParseVolumePage(withTable);
  EXPECT_TRUE(page.hasOptimization);
  EXPECT_TRUE(page.optimizedFiles.empty());
  EXPECT_EQ(page.files.size(), 1u);
}

TEST(ReportPages, UnescapeLeavesUnknownEntitiesAlone) {
  EXPECT_EQ(UnescapeHtml("&amp;lt; &nbsp; &"), "&lt; &nbsp; &");
}

TEST(JsonText, StringsAreEscapedAndBytesOutsideUtf8ReadAsLatin1) {
  EXPECT_EQ(JsonString("C:\\dir\\\"x\"\n\t"), "\"C:\\\\dir\\\\\\\"x\\\"\\n\\t\"");
  EXPECT_EQ(JsonString(std::string("a\x01" "b", 3)), "\"a\\u0001b\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");     // valid UTF-8 passes
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\u00e9\"");            // a code-page byte
  EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\u00c0\\u00af\"");       // an overlong form is not UTF-8
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // nor a surrogate
}

TEST(JsonText, OnlyPlainIntegersBecomeNumbers) {
  EXPECT_EQ(JsonNumberOrString("1204"), "1204");
  EXPECT_EQ(JsonNumberOrString("-1"), "-1");
  EXPECT_EQ(JsonNumberOrString("0"), "0");
  EXPECT_EQ(JsonNumberOrString("007"), "\"007\"");
  EXPECT_EQ(JsonNumberOrString("3.40%"), "\"3.40%\"");
  EXPECT_EQ(JsonNumberOrString(""), "\"\"");
  EXPECT_EQ(JsonNumberOrString("-"), "\"-\"");
  EXPECT_EQ(JsonNumberOrString("1234567890123456789"), "\"1234567890123456789\"");
}

}  // namespace
}  // namespace cli
