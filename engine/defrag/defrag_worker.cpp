// The defragmentation worker: its volume loop, free-space check, folder walk, date
// record and report page.
//
// It visits the job's letters again after the analysis. Per volume: free-space check
// (at least 50 MiB free at engine start, or the minimum set for volumes of the volume
// map, else a message and the next volume), header
// link, bitmap and cell geometry, the walk that offers every eligible file to file
// relocation, the date record, in an in-depth job the in-depth pass, then the page.
// The walk passes over names starting with ".", folders whose name contains an
// excluded-folder entry (case-sensitive), sparse files and excluded files; it enters
// read-only folders and offers read-only files, which relocation moves as well.
#include "defrag/defrag_worker.h"

#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "analysis/analysis_worker.h"
#include "analysis/volume_access.h"
#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/free_space_rule.h"
#include "core/job_control.h"
#include "core/text.h"
#include "core/volume_pass.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/candidates.h"
#include "defrag/in_depth_pass.h"
#include "defrag/relocation.h"
#include "platform/message_box.h"
#include "settings/exclusions.h"

namespace vexa {
namespace {

constexpr std::size_t kMaxFullPath = 999;

std::shared_ptr<const ExclusionLists> gDefragExclusions;

// Whether the folder's own name contains an excluded-folder entry (case-sensitive).
bool FolderNameExcluded(const char* name) {
  const std::string_view folder(name);
  for (const auto& entry : gDefragExclusions->folders) {
    if (!entry.empty() && folder.find(entry) != std::string_view::npos) return true;
  }
  return false;
}

void DefragFolder(const std::string& path, bool isRoot, bool large, CandidateMap* candidates) {
  if (StopRequested()) {
    gWork.stopped = true;
    return;
  }
  const std::string pattern = isRoot ? path + ":\\*" : path + "\\*";
  platform::WIN32_FIND_DATAA data{};
  const platform::Handle search = gMachine->FindFirst(pattern.c_str(), &data);
  if (search == platform::kInvalidHandle) return;
  const std::string prefix(TrimChars(pattern, "*"));
  do {
    if (StopRequested()) break;
    data.cFileName[sizeof data.cFileName - 1] = 0;
    gWork.currentName.Set(data.cFileName);
    if (data.cFileName[0] == '.') continue;
    const std::size_t nameLength = std::strlen(data.cFileName);
    if (prefix.size() + nameLength > kMaxFullPath) continue;
    if (data.dwFileAttributes & platform::kAttributeDirectory) {
      ++gWork.scannedFolders;
      if (FolderNameExcluded(data.cFileName)) continue;
      DefragFolder(prefix + data.cFileName, false, large, candidates);
    } else {
      ++gWork.scannedFiles;
      if (data.dwFileAttributes & platform::kAttributeSparseFile) continue;
      if (IsFileExcluded(*gDefragExclusions, data.cFileName)) continue;
      const std::string full = prefix + data.cFileName;
      const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      const std::uint64_t bytesPerCluster = gWork.bytesPerCluster.load(std::memory_order_relaxed);
      if (bytesPerCluster != 0) {
        gWork.processedClusters.store(gWork.processedClusters.load(std::memory_order_relaxed) + size / bytesPerCluster,
                                      std::memory_order_relaxed);
      }
      RelocateFile({full, size, data.dwFileAttributes, full.find("system32") != std::string::npos}, large,
                   candidates);
    }
  } while (gMachine->FindNext(search, &data));
  gMachine->FindClose(search);
}

void DefragVolume(VolumeRecord& v, char letter, int number, std::int32_t mode) {
  if (std::uint64_t{v.bytesPerCluster} * v.freeClusters < MinimumFreeBytes(letter)) {
    const std::string text = "Not enough disk space, volume " + std::string(1, letter) + " can not be defragged.";
    platform::ShowMessage(text.c_str(), "Tolvane Disk Defrag");
    return;
  }
  gReport.AppendHeaderLink(report::ReportKind::kDefrag, number, letter);
  std::int64_t totalClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &totalClusters)) return;
  const int slot = SlotOfLetter(letter);
  BeginVolumePass(v, slot, totalClusters);
  gDefragExclusions = CurrentExclusions();
  CandidateMap candidates;
  gReport.ClearFragmentList();
  gReport.RecordStartTime();
  SetCurrentDefragmentationAge(DefragmentationAge(WorkingFile("defragdate"), slot, std::time(nullptr)));
  const PassVariant variant = ChooseVariant(v.fileSystem, v.usedClusters * v.bytesPerCluster);
  gWork.ntfs = variant.ntfs;

  DefragFolder(v.letterText, true, variant.large, mode == kJobOptimize ? &candidates : nullptr);
  gDefragExclusions.reset();

  if (!gWork.stopped && WriteDefragDate(WorkingFile("defragdate"), slot, std::time(nullptr))) {
    SetCurrentDefragmentationAge(1);
  }
  if (!gWork.stopped && mode == kJobOptimize) {
    gReport.ClearInDepthList();
    gWork.optimizing.store(true, std::memory_order_relaxed);
    RunInDepthPass(candidates);
    gWork.optimizing.store(false, std::memory_order_relaxed);
  }
  candidates.clear();
  gReport.RecordFinishTime();
  gReport.FillDefragTable(VolumeReportFigures(v, letter), mode, gWork.stopped);
  (void)gReport.WriteVolumePage(gWorkingFolder, report::ReportKind::kDefrag, number);
}

}  // namespace

void DefragWorkerMain() {
  // The analysis worker empties its slot right after starting this one; until it has,
  // the status would still report the analysis.
  while (gJob.analysisRunning.load(std::memory_order_acquire)) std::this_thread::yield();
  gWork.stopped = false;
  gReport.StartHeaderList();
  const std::int32_t mode = gJob.mode.load();
  int number = 0;
  for (std::size_t i = 0; !StopRequested() && i < sizeof gJob.letters && gJob.letters[i] != 0; ++i) {
    ++number;
    gReport.StartVolumeTable(report::ReportKind::kDefrag);
    const char letter = gJob.letters[i];
    gJob.currentLetter.store(letter, std::memory_order_relaxed);
    gJob.currentSlot.store(SlotOfLetter(letter), std::memory_order_relaxed);
    VolumeRecord* v = OpenVolumeOfSlot(SlotOfLetter(letter));
    if (v == nullptr) continue;
    DefragVolume(*v, letter, number, mode);
  }
  gJob.stop.store(true);
  gJob.mode.store(kJobAnalyse);
  (void)gReport.WriteIndexPage(gWorkingFolder, report::ReportKind::kDefrag);
  gJob.defragRunning.store(false, std::memory_order_release);
}

}  // namespace vexa
