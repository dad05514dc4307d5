// Report markup: the header link, the three built-in table templates and the detail rows.
#include "report/report_markup.h"

#include "report/html_escape.h"
#include "report/number_text.h"

namespace vexa::report {

namespace {

constexpr char kAnalysisTable[] =
    "<TABLE class=infotable border=1 cellSpacing=0 borderColor=white cellPadding=2 width=98%> <TBODY>  "
    "<TR> <TD class=header colSpan=4>Analysis Summary </TD></TR> "
    "<TR>  <TD class=content width=15%><div align=center>Item</div></TD>  <TD class=content width=33%><div align=center>Content</div></TD>    <TD width=14% class=content><div align=center>Item</div></TD> <TD width=38% class=content><div align=center>Content</div></TD> </TR>  "
    "<TR>  <TD class=foot align=right><div align=right>Target volume :</div></TD> <TD class=foot align=left><div align=left>  <!--partition--></div></TD>   <TD class=foot><div align=right>File system :</div></TD> <TD class=foot><div align=left>  <!--filesystem-->  </div></TD> </TR> "
    "<TR> <TD class=foot align=right><div align=right>Size :</div></TD>  <TD class=foot align=left><div align=left> <!--totalsize--> </div></TD><TD class=foot><div align=right>Total clusters :</div></TD> <TD class=foot><div align=left> <!--totalclusters--> </div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Used :</div></TD> <TD class=foot align=left><div align=left> <!--usedsize--> </div></TD> <TD class=foot><div align=right>Used clusters :</div></TD> <TD class=foot><div align=left> <!--usedclusters--> </div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Scanned directories :</div></TD> <TD class=foot align=left><div align=left> <!--scanneddirectories--> </div></TD> <TD class=foot><div align=right>Byte per cluster :</div></TD><TD class=foot><div align=left> <!--bytepercluster--></div></TD></TR>"
    "<TR> <TD class=foot align=right><div align=right>Scanned files :</div></TD> <TD class=foot align=left><div align=left> <!--scannedfiles--> </div></TD> <TD class=foot><div align=right>Starting time :</div></TD> <TD class=foot><div align=left> <!--startingtime--> </div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Small Fragment files : </div></TD> <TD class=foot align=left><div align=left><!--smallfragmentfiles--> </div></TD> <TD class=foot><div align=right>Finishing time :</div></TD><TD class=foot><div align=left> <!--finishingtime--> </div></TD> </TR> "
    "<TR> <TD class=foot align=right><div align=right>Big Fragment files :</div></TD> <TD class=foot align=left><div align=left> <!--fragmentfiles--></div></TD><TD class=foot><div align=right>Used time :</div></TD> <TD class=foot><div align=left> <!--usedtime--> </div></TD> </TR>"
    "<TR> <TD class=foot align=right><div align=right>Report :</div></TD> <TD class=foot align=left><div align=left> <!--percentageoffragment--></div></TD><TD class=foot><div align=right></div></TD> <TD class=foot><div align=left></div></TD> </TR></TBODY></TABLE>"
    "<BR><TABLE class=infotable border=1 cellSpacing=0 borderColor=white cellPadding=2  width=98%>  <TBODY> "
    "<TR> <TD class=header colSpan=5>Analysis Details</TD> </TR> "
    "<TR> <TD class=content width=68%><div align=center>Big Fragment files Path</div></TD> <TD class=content width=8% align=middle><div align=center>Fragments</div></TD> <TD class=content width=8%><div align=center>Size</div></TD> <TD class=content width=8% align=middle><div align=center>Clusters</div></TD> <TD width=8% class=content><div align=center>Advice</div></TD></TR> <!--fragmentlist--> </TBODY></TABLE>";

constexpr char kDefragTable[] =
    "<TABLE class=infotable border=1 cellSpacing=0 borderColor=white cellPadding=2 width=98%> <TBODY> "
    "<TR> <TD class=header colSpan=4>Defragment  Summary </TD></TR> "
    "<TR> <TD class=content width=15%><div align=center>Item</div></TD> <TD class=content width=33%><div align=center>Content</div></TD><TD width=14% class=content><div align=center>Item</div></TD> <TD width=38% class=content><div align=center>Content</div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Target volume :</div></TD> <TD class=foot align=left><div align=left><!--partition--></div></TD> <TD class=foot><div align=right>File system :</div></TD> <TD class=foot><div align=left> <!--filesystem--> </div></TD> </TR> "
    "<TR> <TD class=foot align=right><div align=right>Size :</div></TD> <TD class=foot align=left><div align=left><!--totalsize--> </div></TD> <TD class=foot><div align=right>Total clusters :</div></TD> <TD class=foot><div align=left> <!--totalclusters--> </div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Used :</div></TD> <TD class=foot align=left><div align=left><!--usedsize--> </div></TD> <TD class=foot><div align=right>Used clusters :</div></TD> <TD class=foot><div align=left> <!--usedclusters--></div></TD></TR>"
    "<TR><TD class=foot align=right><div align=right>Scanned directories :</div></TD><TD class=foot align=left><div align=left><!--scanneddirectories--></div></TD><TD class=foot><div align=right>Byte per cluster :</div></TD> <TD class=foot><div align=left><!--bytepercluster--> </div></TD></TR> "
    "<TR> <TD class=foot align=right><div align=right>Scanned files :</div></TD><TD class=foot align=left><div align=left><!--scannedfiles--></div></TD><TD class=foot><div align=right>Starting time :</div></TD> <TD class=foot><div align=left><!--startingtime--></div></TD></TR>"
    "<TR><TD class=foot align=right><div align=right>Defragged files :</div></TD> <TD class=foot align=left><div align=left> <!--fragmentfiles--></div></TD><TD class=foot><div align=right>Finishing time :</div></TD> <TD class=foot><div align=left><!--finishingtime--> </div></TD> </TR>"
    "<TR><TD class=foot align=right><div align=right>Fragment before :</div></TD><TD class=foot align=left><div align=left><!--fragmentationbefore--> </div></TD><TD class=foot><div align=right>Used time :</div></TD><TD class=foot><div align=left><!--usedtime--> </div></TD></TR> "
    "<TR><TD class=foot align=right><div align=right>Fragment now :</div></TD><TD class=foot align=left><div align=left> 0.00%</div></TD><TD class=foot><div align=right></div></TD><TD class=foot><div align=left></div></TD></TR></TBODY></TABLE>"
    "<BR><TABLE class=infotable border=1 cellSpacing=0 borderColor=white cellPadding=2 width=98%> <TBODY> "
    "<TR> <TD class=header colSpan=5>Defragment  Details</TD></TR> "
    "<TR> <TD class=content width=66%><div align=center>File Path</div></TD><TD class=content width=10% align=middle><div align=center>Fragments before</div></TD> <TD class=content width=8%><div align=center>Size</div></TD><TD class=content width=7% align=middle><div align=center>Clusters</div></TD> <TD width=9% class=content><div align=center>Fragments now</div></TD></TR><!--fragmentlist--> </TBODY></TABLE>"
    "<!--optimize-->";

constexpr char kInDepthTable[] =
    "<br><TABLE class=infotable border=1 cellSpacing=0 borderColor=white cellPadding=2 width=98%> <TBODY> "
    "<TR> <TD class=header colSpan=5>Optimization  Details</TD></TR> "
    "<TR> <TD class=content width=50%><div align=center>File Path</div></TD><TD class=content width=21% align=middle><div align=center>Location before</div></TD> <TD class=content width=21%><div align=center>Location now </div></TD><TD width=8% class=content><div align=center>State</div></TD></TR><!--optimizelist--> </TBODY></TABLE>";

static_assert(sizeof kAnalysisTable - 1 == 3212, "analysis table template");
static_assert(sizeof kDefragTable - 1 == 3163, "defragmentation table template");
static_assert(sizeof kInDepthTable - 1 == 494, "in-depth table template");

// Size column of both detail rows: one more KB than whole KB, so an exact multiple of
// 1024 bytes still shows one more.
void AppendSizeText(std::string& out, std::uint64_t fileSize) {
  AppendUnsigned(out, fileSize / 1024 + 1);
  out += " KB";
}

// The first seven pieces the analysis and defragmentation rows share.
void AppendDetailRowStart(std::string& list, std::string_view path, std::uint32_t extentCount,
                          std::uint64_t fileSize) {
  list += "<TR><TD class=foot><div align=left>";
  AppendEscapedHtml(list, path);
  list += "</div></TD><TD class=foot ><div align=center>";
  AppendUnsigned(list, extentCount);
  list += "</div></TD><TD class=foot><div align=center>";
  AppendSizeText(list, fileSize);
  list += "</div></TD><TD class=foot><div align=center>";
}

void AppendClusterRange(std::string& out, std::uint64_t first, std::uint64_t count) {
  AppendUnsigned(out, first);
  out += " - ";
  AppendUnsigned(out, first + count - 1);
}

}  // namespace

const std::string_view kAnalysisTableTemplate(kAnalysisTable, sizeof kAnalysisTable - 1);
const std::string_view kDefragTableTemplate(kDefragTable, sizeof kDefragTable - 1);
const std::string_view kInDepthTableTemplate(kInDepthTable, sizeof kInDepthTable - 1);

void AppendHeaderLink(std::string& headerText, ReportKind kind, int number, char letter) {
  headerText += kind == ReportKind::kAnalysis
                    ? "<td class=header width=50><a href=analysisreport"
                    : "<td class=header width=50><a href=defragreport";
  AppendSigned(headerText, number);
  headerText += ".html target=mainFrame>";
  AppendEscapedHtml(headerText, std::string_view(&letter, 1));
  headerText += ":\\</a></td>";
}

void AppendAnalysisRow(std::string& fragmentList, std::string_view path,
                       std::uint32_t extentCount, std::uint64_t fileSize,
                       std::uint32_t bytesPerCluster) {
  AppendDetailRowStart(fragmentList, path, extentCount, fileSize);
  AppendUnsigned(fragmentList, bytesPerCluster == 0 ? 0 : fileSize / bytesPerCluster);
  fragmentList += "</div></TD><TD class=foot><div align=center>Defragment</div></TD></TR>";
}

void AppendDefragRow(std::string& fragmentList, std::string_view path,
                     std::uint32_t extentCountBefore, std::uint64_t fileSize,
                     std::uint64_t totalClusters) {
  AppendDetailRowStart(fragmentList, path, extentCountBefore, fileSize);
  AppendUnsigned(fragmentList, totalClusters);
  fragmentList += "</div></TD><TD class=foot><div align=center>0</div></TD></TR>";
}

void AppendInDepthRow(std::string& inDepthList, std::string_view path,
                      std::uint64_t oldFirstCluster, std::uint64_t newFirstCluster,
                      std::uint64_t clusterCount) {
  inDepthList += "<TR><TD class=foot width=50%><div align=left>";
  AppendEscapedHtml(inDepthList, path);
  inDepthList += "</div></TD><TD class=foot width=21%><div align=center>";
  AppendClusterRange(inDepthList, oldFirstCluster, clusterCount);
  inDepthList += "</div></TD><TD class=foot width=21%><div align=center>";
  AppendClusterRange(inDepthList, newFirstCluster, clusterCount);
  inDepthList += "</div></TD><TD class=foot width=8%><div align=center>Sequence</div></TD></TR>";
}

}  // namespace vexa::report
