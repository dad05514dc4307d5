// The report of one worker: its four texts, its time texts, and the steps that fill and
// write volume pages and the index page.
//
// A worker (analysis or defragmentation) owns the Report while it runs and calls, in
// order: StartHeaderList before its first volume; per volume StartVolumeTable,
// AppendHeaderLink, ClearFragmentList, RecordStartTime, the pass (which appends rows),
// RecordFinishTime, FillAnalysisTable or FillDefragTable, WriteVolumePage; and at its
// end WriteIndexPage. The table text starts as a copy of a built-in template and its
// placeholders are replaced one after the other, each replacement scanning the text as
// the previous ones left it. Texts that come from the volume (paths, file-system name,
// size texts, letter) are HTML-escaped on the way in, so none of them can add markup or
// be mistaken for a placeholder.
//
// Threads: a Report is plain data with no locking; one thread at a time uses it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report/report_markup.h"
#include "report/time_texts.h"
#include "vexa/vexa.h"

namespace vexa::report {

// The figures of one volume that its report shows. The views must stay valid for the
// call they are passed to; nothing is kept.
struct ReportVolumeFigures {
  char letter = 0;                      // drive letter, shown as "C:\"
  std::string_view totalSize;           // volume's total-size text, "74.5 GB"
  std::string_view usedSize;            // volume's used-size text
  std::string_view fileSystem;          // "FAT32", "NTFS", ...
  std::string_view fragmentationText;   // defragmentation only: the text the last
                                        // analysis left ("Low", "0.00%", "3.40%")
  std::uint32_t bytesPerCluster = 0;
  std::uint64_t usedClusters = 0;
  std::uint64_t freeClusters = 0;
  std::uint64_t scannedFolders = 0;
  std::uint64_t scannedFiles = 0;
  std::int32_t bigFragmentFiles = 0;    // analysis
  std::int32_t smallFragmentFiles = 0;  // analysis
  std::int32_t defraggedFiles = 0;      // defragmentation
  int fragmentedCellsAfter = 0;         // defragmentation: fragmented map cells after the job
  int defragAge = 0;                    // 0 no record, 1 defragmented < 2 days ago, 2 older
};

class Report {
 public:
  // Empties the index header text. Before a worker's first volume.
  void StartHeaderList();
  // Appends the header link of volume page `number` for `letter`.
  void AppendHeaderLink(ReportKind kind, int number, char letter);
  // Replaces the table text by a fresh copy of the built-in table template of `kind`.
  void StartVolumeTable(ReportKind kind);
  // Empties the fragment list (before each volume's pass) or the in-depth list (before
  // each in-depth pass).
  void ClearFragmentList();
  void ClearInDepthList();

  // Rows appended by the passes; the arguments are those of the report_markup.h rows.
  void AppendAnalysisRow(std::string_view path, std::uint32_t extentCount,
                         std::uint64_t fileSize, std::uint32_t bytesPerCluster);
  void AppendDefragRow(std::string_view path, std::uint32_t extentCountBefore,
                       std::uint64_t fileSize, std::uint64_t totalClusters);
  void AppendInDepthRow(std::string_view path, std::uint64_t oldFirstCluster,
                        std::uint64_t newFirstCluster, std::uint64_t clusterCount);

  // Takes `now` (seconds since 1970) as the start time and makes the start text.
  void RecordStartTime(std::int64_t now = CurrentTime());
  // Takes `now` as the finish time, makes the finish text and the elapsed-time text.
  void RecordFinishTime(std::int64_t now = CurrentTime());

  // Replaces the placeholders of the analysis table text. `cells` are the volume's
  // VEXA_MAP_CELLS map cells (null counts as none fragmented). Returns the volume's
  // fragmentation text ("No need..." age gives "0.00%"; otherwise "Low" or "12.30%"),
  // which the caller stores with the volume for the next defragmentation report.
  [[nodiscard]] std::string FillAnalysisTable(const ReportVolumeFigures& figures,
                                              const VexaMapCell* cells);
  // Replaces the placeholders of the defragmentation table text; the "Fragment now :" row
  // shows figures.fragmentedCellsAfter by the analysis page's percentage rule. In job mode
  // 2 when the in-depth pass ran (to its end, or to a stop: the rows of the files it
  // moved are the record of what changed on disk) the in-depth table, holding the in-depth
  // list, goes in place of "<!--optimize-->"; otherwise that comment stays and shows
  // nothing.
  void FillDefragTable(const ReportVolumeFigures& figures, int jobMode, bool inDepthPassRan);

  // Writes "analysisreport"/"defragreport" `number` ".html" in `workingFolder` (which
  // ends with its separator) from the kind's page template with the table text in place
  // of every "<!--table-->". False, writing nothing, when the template cannot be read;
  // false when the page cannot be written. The job goes on either way.
  [[nodiscard]] bool WriteVolumePage(const std::string& workingFolder, ReportKind kind,
                                     int number) const;
  // Writes "analysisreporttop.html"/"defragreporttop.html" from the kind's index template
  // with the index header text in place of every "<!--partitionlist-->". Same failures.
  [[nodiscard]] bool WriteIndexPage(const std::string& workingFolder, ReportKind kind) const;

  const std::string& indexHeaderText() const { return indexHeader_; }
  const std::string& tableText() const { return table_; }
  const std::string& fragmentList() const { return fragmentList_; }
  const std::string& inDepthList() const { return inDepthList_; }
  const std::string& startText() const { return startText_; }
  const std::string& finishText() const { return finishText_; }
  const std::string& elapsedText() const { return elapsedText_; }

 private:
  void FillSizesAndCounts(const ReportVolumeFigures& figures);
  void FillVolumeAndTimes(const ReportVolumeFigures& figures);

  std::string indexHeader_;
  std::string table_;
  std::string fragmentList_;
  std::string inDepthList_;
  std::int64_t startTime_ = 0;
  std::int64_t finishTime_ = 0;
  std::string startText_;
  std::string finishText_;
  std::string elapsedText_;
};

}  // namespace vexa::report
