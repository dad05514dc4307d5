// The analysis worker, its folder walk and its per-file step.
//
// Per volume: clear the map, read the bitmap, fix the cell geometry, build the
// free-run map, walk the folders from the root, then fill and write the volume's
// report page. The walk passes over names starting with ".", read-only and sparse
// entries, excluded folders and files, and in the large variants files of 1 MiB or
// less; the per-file step classifies each remaining file by its extents:
//   - one real extent: in one piece, marks every cell it covers as contiguous;
//   - more than 10 extents and smaller than the largest free run: marks each extent's
//     cell as fragmented until an extent turns out adjacent to the previous one or
//     virtual, which turns the marked extents into partly contiguous ones; a file
//     with neither finding is listed in the report as fragmented;
//   - otherwise: counted (2 to 10 extents make a small-fragment file), not marked.
// The stop flag is checked before each letter, at the start of each folder and before
// each directory entry.
#include "analysis/analysis_worker.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "analysis/free_runs.h"
#include "analysis/volume_access.h"
#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/text.h"
#include "core/volume_pass.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "settings/exclusions.h"

namespace vexa {
namespace {

constexpr std::uint64_t kLargeVolumeBytes = 1073741824;  // used bytes above this: large variant
constexpr std::uint64_t kLargeFileBytes = 1048576;       // large variant: only files above this
constexpr std::uint32_t kFragmentedExtents = 10;         // more extents than this: fragmented test
constexpr std::size_t kMaxFullPath = 999;

// The lists the current volume's walk started with.
std::shared_ptr<const ExclusionLists> gWalkExclusions;

bool IsDotName(const char* name) { return name[0] == '.'; }

std::uint64_t EntrySize(const platform::WIN32_FIND_DATAA& data) {
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
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
  gWalkExclusions = CurrentExclusions();
  gReport.ClearFragmentList();

  gReport.RecordStartTime();
  SetCurrentDefragmentationAge(DefragmentationAge(WorkingFile("defragdate"), slot, std::time(nullptr)));
  const PassVariant variant = ChooseVariant(v.fileSystem, v.usedClusters * v.bytesPerCluster);
  gWork.ntfs = variant.ntfs;
  AnalyseFolder(variant, v.letterText, true);
  gReport.RecordFinishTime();

  gWork.freeRuns.clear();
  gWalkExclusions.reset();
  const std::vector<VexaMapCell> cells = v.cells->Snapshot();
  v.fragmentationText = gReport.FillAnalysisTable(VolumeReportFigures(v, letter), cells.data());
  (void)gReport.WriteVolumePage(gWorkingFolder, report::ReportKind::kAnalysis, number);
}

}  // namespace

PassVariant ChooseVariant(const std::string& fileSystem, std::uint64_t usedBytes) {
  return {fileSystem == "NTFS", usedBytes > kLargeVolumeBytes};
}

void AnalyseFolder(const PassVariant& variant, const std::string& path, bool isRoot) {
  if (StopRequested()) return;
  const std::string pattern = isRoot ? path + ":\\*" : path + "\\*";
  platform::WIN32_FIND_DATAA data{};
  const platform::Handle search = gMachine->FindFirst(pattern.c_str(), &data);
  if (search == platform::kInvalidHandle) return;
  const std::string prefix(TrimChars(pattern, "*"));
  const bool parentSystem = gWork.systemFile;
  do {
    if (StopRequested()) break;
    data.cFileName[sizeof data.cFileName - 1] = 0;
    gWork.currentName.Set(data.cFileName);
    if (IsDotName(data.cFileName)) continue;
    const std::uint32_t attributes = data.dwFileAttributes;
    const bool skipped = (attributes & (platform::kAttributeReadOnly | platform::kAttributeSparseFile)) != 0;
    const std::size_t nameLength = std::strlen(data.cFileName);
    if (attributes & platform::kAttributeDirectory) {
      ++gWork.scannedFolders;
      if (skipped || IsFolderExcluded(*gWalkExclusions, data.cFileName)) continue;
      if (prefix.size() + nameLength > kMaxFullPath) continue;
      const std::string full = prefix + data.cFileName;
      gWork.systemFile = ContainsNoCase(full, "system32");
      AnalyseFolder(variant, full, false);
      gWork.systemFile = parentSystem;
    } else {
      ++gWork.scannedFiles;
      if (skipped) continue;
      const std::uint64_t size = EntrySize(data);
      if (variant.large && size <= kLargeFileBytes) continue;
      if (IsFileExcluded(*gWalkExclusions, data.cFileName)) continue;
      if (prefix.size() + nameLength > kMaxFullPath) continue;
      AnalyseFile(variant, prefix + data.cFileName, size);
    }
  } while (gMachine->FindNext(search, &data));
  gMachine->FindClose(search);
}

void AnalyseFile(const PassVariant& variant, const std::string& path, std::uint64_t size) {
  const platform::Handle file = gMachine->OpenFileForQuery(path.c_str());
  if (file == platform::kInvalidHandle) return;
  const std::uint64_t bytesPerCluster = gWork.bytesPerCluster.load(std::memory_order_relaxed);
  const std::uint64_t clusters = bytesPerCluster == 0 ? 0 : size / bytesPerCluster;
  auto addProcessed = [](std::uint64_t n) {
    gWork.processedClusters.store(gWork.processedClusters.load(std::memory_order_relaxed) + n,
                                  std::memory_order_relaxed);
  };
  if (!ReadExtents(*gMachine, file, gExtentBuffer, kExtentGrowthSmall)) {
    addProcessed(clusters);
    gMachine->CloseHandle(file);
    return;
  }
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  const ExtentBuffer& extents = gExtentBuffer;
  const std::uint32_t n = extents.ExtentCount();
  const bool system = gWork.systemFile;

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

void AnalysisWorkerMain() {
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
    if (mode == kJobAnalyse) (void)gReport.WriteIndexPage(gWorkingFolder, report::ReportKind::kAnalysis);
    gJob.mode.store(kJobAnalyse);
  }
  EmptySlot(gJob.analysisRunning);
}

}  // namespace vexa
