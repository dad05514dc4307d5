// The report of one worker: its four texts, its time texts, and the steps that fill and
// write volume pages and the index page.
#include "report/report.h"

#include "report/fragmentation_verdict.h"
#include "report/html_escape.h"
#include "report/number_text.h"
#include "report/placeholder.h"
#include "report/report_files.h"

namespace vexa::report {

namespace {

// The value cell of the defragmentation table's "Fragment now :" row as the built-in
// template holds it; the figure after the space is the one replaced.
constexpr std::string_view kFragmentNowCell =
    "Fragment now :</div></TD><TD class=foot align=left><div align=left> 0.00%</div>";
constexpr std::string_view kFragmentNowFigure = "0.00%";

std::string PartitionText(char letter) {
  std::string text = EscapeHtml(std::string_view(&letter, 1));
  text += ":\\";
  return text;
}

}  // namespace

void Report::StartHeaderList() { indexHeader_.clear(); }

void Report::AppendHeaderLink(ReportKind kind, int number, char letter) {
  report::AppendHeaderLink(indexHeader_, kind, number, letter);
}

void Report::StartVolumeTable(ReportKind kind) {
  table_.assign(kind == ReportKind::kAnalysis ? kAnalysisTableTemplate : kDefragTableTemplate);
}

void Report::ClearFragmentList() { fragmentList_.clear(); }

void Report::ClearInDepthList() { inDepthList_.clear(); }

void Report::AppendAnalysisRow(std::string_view path, std::uint32_t extentCount,
                               std::uint64_t fileSize, std::uint32_t bytesPerCluster) {
  report::AppendAnalysisRow(fragmentList_, path, extentCount, fileSize, bytesPerCluster);
}

void Report::AppendDefragRow(std::string_view path, std::uint32_t extentCountBefore,
                             std::uint64_t fileSize, std::uint64_t totalClusters) {
  report::AppendDefragRow(fragmentList_, path, extentCountBefore, fileSize, totalClusters);
}

void Report::AppendInDepthRow(std::string_view path, std::uint64_t oldFirstCluster,
                              std::uint64_t newFirstCluster, std::uint64_t clusterCount) {
  report::AppendInDepthRow(inDepthList_, path, oldFirstCluster, newFirstCluster, clusterCount);
}

void Report::RecordStartTime(std::int64_t now) {
  startTime_ = now;
  startText_ = ClockText(now);
}

void Report::RecordFinishTime(std::int64_t now) {
  finishTime_ = now;
  finishText_ = ClockText(now);
  elapsedText_ = ElapsedText(finishTime_ - startTime_);
}

// The placeholders both tables open with: sizes and walk counts, in this order.
void Report::FillSizesAndCounts(const ReportVolumeFigures& figures) {
  ReplaceAll(table_, "<!--totalsize-->", EscapeHtml(figures.totalSize));
  ReplaceAll(table_, "<!--usedsize-->", EscapeHtml(figures.usedSize));
  ReplaceAll(table_, "<!--scanneddirectories-->", UnsignedText(figures.scannedFolders));
  ReplaceAll(table_, "<!--scannedfiles-->", UnsignedText(figures.scannedFiles));
}

// The placeholders both tables share after their own: volume, clusters and times.
void Report::FillVolumeAndTimes(const ReportVolumeFigures& figures) {
  ReplaceAll(table_, "<!--partition-->", PartitionText(figures.letter));
  ReplaceAll(table_, "<!--filesystem-->", EscapeHtml(figures.fileSystem));
  ReplaceAll(table_, "<!--totalclusters-->",
             UnsignedText(figures.usedClusters + figures.freeClusters));
  ReplaceAll(table_, "<!--usedclusters-->", UnsignedText(figures.usedClusters));
  ReplaceAll(table_, "<!--bytepercluster-->",
             SignedText(static_cast<std::int32_t>(figures.bytesPerCluster)));
  ReplaceAll(table_, "<!--startingtime-->", startText_);
  ReplaceAll(table_, "<!--finishingtime-->", finishText_);
  ReplaceAll(table_, "<!--usedtime-->", elapsedText_);
}

std::string Report::FillAnalysisTable(const ReportVolumeFigures& figures,
                                      const VexaMapCell* cells) {
  const bool recentlyDefragged = figures.defragAge == 1;
  const FragmentationVerdict verdict = JudgeFragmentation(
      figures.defragAge, cells, fragmentList_.empty(), figures.bigFragmentFiles);

  FillSizesAndCounts(figures);
  ReplaceAll(table_, "<!--smallfragmentfiles-->", SignedText(figures.smallFragmentFiles));
  ReplaceAll(table_, "<!--fragmentfiles-->",
             recentlyDefragged ? std::string("0") : SignedText(figures.bigFragmentFiles));
  ReplaceAll(table_, "<!--percentageoffragment-->", verdict.verdict);
  ReplaceAll(table_, "<!--fragmentlist-->",
             recentlyDefragged ? std::string_view() : std::string_view(fragmentList_));
  FillVolumeAndTimes(figures);
  return verdict.percentText;
}

void Report::FillDefragTable(const ReportVolumeFigures& figures, int jobMode,
                             bool inDepthPassRan) {
  const std::string_view before =
      !fragmentList_.empty() && figures.fragmentationText == "0.00%"
          ? std::string_view("Low")
          : figures.fragmentationText;

  FillSizesAndCounts(figures);
  ReplaceAll(table_, "<!--fragmentfiles-->", SignedText(figures.defraggedFiles));
  ReplaceAll(table_, "<!--fragmentationbefore-->", EscapeHtml(before));
  FillVolumeAndTimes(figures);
  ReplaceAll(table_, "<!--fragmentlist-->", fragmentList_);
  const std::size_t now = table_.find(kFragmentNowCell);
  if (now != std::string::npos) {
    const std::size_t figure = now + kFragmentNowCell.find(kFragmentNowFigure);
    table_.replace(figure, kFragmentNowFigure.size(), FragmentationPercentText(figures.fragmentedCellsAfter));
  }
  if (jobMode == 2 && inDepthPassRan) {
    std::string inDepthTable(kInDepthTableTemplate);
    ReplaceAll(inDepthTable, "<!--optimizelist-->", inDepthList_);
    ReplaceAll(table_, "<!--optimize-->", inDepthTable);
  }
}

bool Report::WriteVolumePage(const std::string& workingFolder, ReportKind kind,
                             int number) const {
  const char* pageTemplate =
      kind == ReportKind::kAnalysis ? kAnalysisPageTemplate : kDefragPageTemplate;
  return PourIntoTemplate(workingFolder + pageTemplate, kTableMarker, table_,
                          VolumePagePath(workingFolder, kind, number));
}

bool Report::WriteIndexPage(const std::string& workingFolder, ReportKind kind) const {
  const bool analysis = kind == ReportKind::kAnalysis;
  return PourIntoTemplate(workingFolder + (analysis ? kAnalysisIndexTemplate : kDefragIndexTemplate),
                          kPartitionListMarker, indexHeader_,
                          workingFolder + (analysis ? kAnalysisIndexPage : kDefragIndexPage));
}

}  // namespace vexa::report
