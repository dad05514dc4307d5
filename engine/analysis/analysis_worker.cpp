// The analysis worker and its per-file step.
//
// Per volume: clear the map, read the bitmap, fix the cell geometry, build the
// free-run map, walk the folders from the root, then fill and write the volume's
// report page. Its walk (analysis/folder_walk.h) passes over names starting with ".",
// read-only files, sparse entries, links (name-surrogate reparse points), excluded folders (whole names, any case) and files, and
// in the large variants files of 1 MiB or less; the per-file step classifies each remaining file by its extents:
//   - one real extent: in one piece, marks every cell it covers as contiguous;
//   - more than 10 extents and smaller than the largest free run: marks each extent's
//     cell as fragmented until an extent turns out adjacent to the previous one or
//     virtual, which turns the marked extents into partly contiguous ones; a file
//     with neither finding is listed in the report as fragmented;
//   - otherwise: counted (2 to 10 extents make a small-fragment file), not marked.
// The stop flag is checked before each letter, at the start of each folder and before
// each directory entry.
#include "analysis/analysis_worker.h"

#include <ctime>
#include <memory>
#include <vector>

#include "analysis/contiguous_marking.h"
#include "analysis/folder_walk.h"
#include "analysis/free_runs.h"
#include "analysis/volume_access.h"
#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/volume_pass.h"
#include "core/volume_state.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "platform/message_box.h"
#include "report/job_report.h"
#include "settings/exclusions.h"

namespace vexa {
namespace {

// The per-file step: classifies the file by its extents, marks the map and lists it.
void AnalyseFile(const PassVariant& variant, const WalkedFile& walked) {
  const std::string& path = walked.path;
  const std::uint64_t size = walked.size;
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  const platform::Handle file = gMachine->OpenFileForQuery(path.c_str());
  if (file == platform::kInvalidHandle) {
    (void)NoteIfVolumeGone(v);
    return;
  }
  const std::uint64_t bytesPerCluster = gWork.bytesPerCluster.load(std::memory_order_relaxed);
  const std::uint64_t clusters = bytesPerCluster == 0 ? 0 : size / bytesPerCluster;
  auto addProcessed = [](std::uint64_t n) {
    gWork.processedClusters.store(gWork.processedClusters.load(std::memory_order_relaxed) + n,
                                  std::memory_order_relaxed);
  };
  if (!ReadExtents(*gMachine, file, gExtentBuffer, kExtentGrowthSmall)) {
    addProcessed(clusters);
    gMachine->CloseHandle(file);
    (void)NoteIfVolumeGone(v);
    return;
  }
  const ExtentBuffer& extents = gExtentBuffer;
  const std::uint32_t n = extents.ExtentCount();
  const bool system = walked.system;

  if (n == 1 && extents.Lcn(0) != platform::kVirtualLcn) {
    gWork.currentCellSet = true;
    addProcessed(static_cast<std::uint64_t>(extents.NextVcn(0)));
    MarkContiguousFile(*v.cells, v.lists.get(), extents.Lcn(0), extents.NextVcn(0) - extents.StartingVcn(),
                       gWork.clustersPerCell, variant.ntfs, system, path);
    gMachine->CloseHandle(file);
    return;
  }

  addProcessed(clusters);
  if (static_cast<std::int64_t>(clusters) < gWork.largestFreeRun && n > kFragmentedExtents) {
    auto cellOf = [&](std::int64_t lcn) { return CellOfCluster(gWork.CellCluster(lcn), gWork.clustersPerCell); };
    bool finding = false;
    std::uint32_t j = 0;
    for (; j < n; ++j) {
      const std::int64_t lcn = extents.Lcn(j);
      if (lcn == platform::kVirtualLcn) {
        finding = true;
        break;
      }
      const int k = cellOf(lcn);
      gWork.currentCellSet = true;
      if (!v.lists->Contains(k, path)) v.lists->Add(k, path);
      v.cells->Raise(k, CellKind::Fragmented, system);
      const std::int64_t before = j >= 2 ? extents.NextVcn(j - 2) : extents.StartingVcn();
      if (j >= 1 && lcn == extents.Lcn(j - 1) + extents.NextVcn(j - 1) - before) {
        finding = true;
        break;
      }
    }
    if (finding && j >= 1) {
      for (std::int64_t i = j; i >= 0; --i) {
        const std::int64_t lcn = extents.Lcn(static_cast<std::uint32_t>(i));
        if (lcn != platform::kVirtualLcn) v.cells->Reclassify(cellOf(lcn), system);
      }
    }
    if (!finding && CurrentDefragmentationAge() != 1) {
      gReport.AppendAnalysisRow(path, n, size, static_cast<std::uint32_t>(bytesPerCluster));
      ++gWork.bigFragmentFiles;
    }
  } else if (n <= kFragmentedExtents) {
    ++gWork.smallFragmentFiles;
  }
  gMachine->CloseHandle(file);
}

// Analyses volume `letter` of report number `number`; the volume is open.
void AnalyseVolume(VolumeRecord& v, char letter, int number) {
  gReport.AppendHeaderLink(report::ReportKind::kAnalysis, number, letter);
  v.cells->Clear();
  std::int64_t totalClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &totalClusters)) return;
  const int slot = SlotOfLetter(letter);
  BeginVolumePass(v, slot, totalClusters);
  BuildFreeRunMap(gBitmapBuffer.Bits(), totalClusters, gWork.freeRuns);
  gWork.largestFreeRun = LargestFreeRun(gWork.freeRuns);
  v.lists->Clear();
  const std::shared_ptr<const ExclusionLists> exclusions = CurrentExclusions();
  gReport.ClearFragmentList();

  gReport.RecordStartTime();
  (void)RefreshDefragmentationAge(slot);
  const PassVariant variant = ChooseVariant(v.fileSystem, v.usedClusters * v.bytesPerCluster);
  gWork.ntfs = variant.ntfs;
  WalkRules rules;
  rules.smallFileBytes = variant.large ? kLargeFileBytes : 0;
  rules.searchFailed = [&v] { (void)NoteIfVolumeGone(v); };
  (void)WalkVolume(*gMachine, v.letterText, *exclusions, rules,
                   [&](const WalkedFile& file) { AnalyseFile(variant, file); });
  gReport.RecordFinishTime();
  if (gWork.volumeGone) platform::ShowMessage(VolumeGoneText(letter).c_str(), "Tolvane Disk Defrag");

  gWork.freeRuns.clear();
  const std::vector<VexaMapCell> cells = v.cells->Snapshot();
  v.fragmentationText = gReport.FillAnalysisTable(VolumeReportFigures(v, letter), cells.data());
  (void)gReport.WriteVolumePage(gWorkingFolder, report::ReportKind::kAnalysis, number);
}

}  // namespace

PassVariant ChooseVariant(const std::string& fileSystem, std::uint64_t usedBytes) {
  // Only the FAT variants number clusters from 2; every other file system's cells use
  // the logical cluster as it is.
  return {!IsFatVariant(fileSystem), usedBytes > kLargeVolumeBytes};
}

namespace {

// The worker's body; may throw (memory, a provider), which AnalysisWorkerMain catches.
void AnalyseJob() {
  gReport.StartHeaderList();
  int number = 0;
  for (std::size_t i = 0; !StopRequested() && i < sizeof gJob.letters && gJob.letters[i] != 0; ++i) {
    ++number;
    gReport.StartVolumeTable(report::ReportKind::kAnalysis);
    const char letter = gJob.letters[i];
    gJob.currentLetter.store(letter, std::memory_order_relaxed);
    gJob.currentSlot.store(SlotOfLetter(letter), std::memory_order_relaxed);
    VolumeRecord* v = OpenVolumeOfSlot(SlotOfLetter(letter));
    if (v == nullptr) continue;
    AnalyseVolume(*v, letter, number);
  }
  const std::int32_t mode = gJob.mode.load();
  bool handedOver = false;
  if (mode != kJobAnalyse && !StopRequested()) handedOver = StartDefragWorker();
  if (!handedOver) {
    gJob.stop.store(true);
    // A defragmentation that ends here (a stop during its analysis) still writes its own
    // index page, linking the analysis pages of the volumes it reached, so no earlier
    // job's page stands in for it.
    (void)gReport.WriteIndexPage(gWorkingFolder,
                                 mode == kJobAnalyse ? report::ReportKind::kAnalysis : report::ReportKind::kDefrag);
    gJob.mode.store(kJobAnalyse);
  }
}

}  // namespace

void AnalysisWorkerMain() {
  // No exception leaves the thread: a failure ends the job as a stop would, with its
  // index page when that can still be written, and the slot is emptied either way.
  try {
    AnalyseJob();
  } catch (...) {
    const bool analysisJob = gJob.mode.load() == kJobAnalyse;
    EndJobAfterFailure();
    try {
      (void)gReport.WriteIndexPage(gWorkingFolder,
                                   analysisJob ? report::ReportKind::kAnalysis : report::ReportKind::kDefrag);
    } catch (...) {
    }
  }
  EmptySlot(gJob.analysisRunning);
}

}  // namespace vexa
