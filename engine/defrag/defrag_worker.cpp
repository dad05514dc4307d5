// The defragmentation worker: its volume loop, free-space check, folder walk, date
// record and report page.
//
// It visits the job's letters again after the analysis. Per volume: free-space check
// (at least 50 MiB free at engine start, or the minimum set for volumes of the volume
// map, else a message and the next volume), the volume's state (a file system the
// engine does not defragment or a set dirty bit: a message and the next volume, see
// core/volume_state.h), header link, bitmap and cell geometry, the walk that offers
// every eligible file to file relocation, the date record, in an in-depth job the
// in-depth pass, once the moves are durable the fingerprint of the allocation the job
// leaves, then the page. A volume that goes away mid-pass ends its pass with a
// message; no date is recorded and the job goes on with the next volume.
// Its walk (analysis/folder_walk.h) passes over names starting with ".", folders whose
// name contains an excluded-folder entry (case-sensitive), sparse files and excluded
// files; it enters read-only folders and offers read-only files, which relocation moves
// as well. A stop seen anywhere in the walk ends the volume as stopped: no date is
// recorded and no in-depth pass runs. Files it leaves in more than one piece (no run
// holds them, a move was refused, excluded by the Options lists) go to the
// left-fragmented list of the job (defrag/left_fragmented.h).
#include "defrag/defrag_worker.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>
#include <thread>

#include "analysis/folder_walk.h"
#include "analysis/pass_variant.h"
#include "analysis/volume_access.h"
#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/free_space_rule.h"
#include "core/job_control.h"
#include "core/volume_pass.h"
#include "core/volume_state.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/candidates.h"
#include "defrag/in_depth_pass.h"
#include "defrag/left_fragmented.h"
#include "defrag/pass_free_space.h"
#include "defrag/per_file.h"
#include "defrag/relocation.h"
#include "platform/message_box.h"
#include "report/fragmentation_verdict.h"
#include "report/job_report.h"
#include "settings/exclusions.h"

namespace vexa {
namespace {


// The defragmentation walk's own rules: excluded-folder entries match inside the
// folder's name, case-sensitively; read-only folders are entered and read-only files
// offered; over-long entries go uncounted; "system32" is looked for in the file's path.
WalkRules DefragWalkRules() {
  WalkRules rules;
  rules.folderMatch = WalkRules::FolderMatch::kContainedCaseSensitive;
  rules.systemRule = WalkRules::SystemRule::kFilePathExact;
  rules.passOverReadOnly = false;
  rules.countOverlongEntries = false;
  return rules;
}

// The per-file step of the walk: counts the file's clusters as processed and offers it
// to relocation.
void DefragFile(const WalkedFile& file, bool large, CandidateMap* candidates) {
  const std::uint64_t bytesPerCluster = gWork.bytesPerCluster.load(std::memory_order_relaxed);
  if (bytesPerCluster != 0) {
    gWork.processedClusters.store(gWork.processedClusters.load(std::memory_order_relaxed) + file.size / bytesPerCluster,
                                  std::memory_order_relaxed);
  }
  RelocateFile({file.path, file.size, file.attributes, file.system}, large, candidates);
}

// A file the Options lists exclude: named as left in pieces when it lies in more than
// one.
void NoteExcludedFile(const WalkedFile& file, char letter) {
  const platform::Handle handle = gMachine->OpenFileForQuery(file.path.c_str());
  if (handle == platform::kInvalidHandle) return;
  const bool read = ReadExtents(*gMachine, handle, gExtentBuffer, kExtentGrowthSmall);
  gMachine->CloseHandle(handle);
  if (!read) return;
  const std::uint32_t pieces = CountPieces(gExtentBuffer);
  if (pieces <= 1) return;
  std::uint64_t clusters = 0;
  for (std::uint32_t i = 0; i < gExtentBuffer.ExtentCount(); ++i) {
    const std::int64_t from = i == 0 ? gExtentBuffer.StartingVcn() : gExtentBuffer.NextVcn(i - 1);
    if (gExtentBuffer.Lcn(i) != platform::kVirtualLcn) clusters += static_cast<std::uint64_t>(gExtentBuffer.NextVcn(i) - from);
  }
  NoteLeftFragmented(letter, file.path, VEXA_LEFT_EXCLUDED, pieces, clusters, 0);
}

void DefragVolume(VolumeRecord& v, char letter, int number, std::int32_t mode) {
  if (std::uint64_t{v.bytesPerCluster} * v.freeClusters < MinimumFreeBytes(letter)) {
    const std::string text = "Not enough disk space, volume " + std::string(1, letter) + " can not be defragged.";
    platform::ShowMessage(text.c_str(), "Tolvane Disk Defrag");
    return;
  }
  // Checked before anything is moved: a dirty volume's bitmap may call clusters free
  // that a file still owns.
  if (const std::string reason = ReasonNotToMove(v, letter); !reason.empty()) {
    platform::ShowMessage(reason.c_str(), "Tolvane Disk Defrag");
    return;
  }
  gReport.AppendHeaderLink(report::ReportKind::kDefrag, number, letter);
  std::int64_t totalClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &totalClusters)) return;
  // The relocation walk works from this one bitmap, kept up to date after each move.
  gPassFreeSpace.Build(gBitmapBuffer.MutableBits(), totalClusters);
  const int slot = SlotOfLetter(letter);
  BeginVolumePass(v, slot, totalClusters);
  const std::shared_ptr<const ExclusionLists> exclusions = CurrentExclusions();
  CandidateMap candidates;
  gReport.ClearFragmentList();
  gReport.ClearInDepthList();
  gReport.RecordStartTime();
  (void)RefreshDefragmentationAge(slot);
  const PassVariant variant = ChooseVariant(v.fileSystem, v.usedClusters * v.bytesPerCluster);
  gWork.ntfs = variant.ntfs;

  CandidateMap* offered = mode == kJobOptimize ? &candidates : nullptr;
  WalkRules rules = DefragWalkRules();
  rules.searchFailed = [&v] { (void)NoteIfVolumeGone(v); };
  if (!WalkVolume(*gMachine, v.letterText, *exclusions, rules,
                  [&](const WalkedFile& file) { DefragFile(file, variant.large, offered); },
                  {[letter](const WalkedFile& file) { NoteExcludedFile(file, letter); }})) {
    gWork.stopped = true;
  }

  const bool recorded = !gWork.stopped && !gWork.volumeGone && RecordDefragmentation(slot);
  const bool inDepthPassRan = !gWork.stopped && !gWork.volumeGone && mode == kJobOptimize;
  if (inDepthPassRan) {
    gWork.optimizing.store(true, std::memory_order_relaxed);
    RunInDepthPass(candidates);
    gWork.optimizing.store(false, std::memory_order_relaxed);
  }
  // A volume that went away ends its pass with the reason, and the job goes on.
  if (gWork.volumeGone) platform::ShowMessage(VolumeGoneText(letter).c_str(), "Tolvane Disk Defrag");
  candidates.clear();
  gPassFreeSpace.Clear();
  // The volume's moves end here: the FAT provider makes them durable and marks the
  // volume clean. Nothing can be done about a failure but what the next job finds.
  (void)gMachine->FlushFileBuffers(v.volume);
  // The allocation as this job leaves it: while the volume keeps it, what is still in
  // pieces is what the job could not join.
  if (recorded) (void)RecordAllocation(slot);
  gReport.RecordFinishTime();
  report::ReportVolumeFigures figures = VolumeReportFigures(v, letter);
  const std::vector<VexaMapCell> cells = v.cells->Snapshot();
  figures.fragmentedCellsAfter = report::CountFragmentedCells(cells.data());
  gReport.FillDefragTable(figures, mode, inDepthPassRan);
  (void)gReport.WriteVolumePage(gWorkingFolder, report::ReportKind::kDefrag, number);
}

}  // namespace

namespace {

// The worker's body after the hand-over; may throw (memory, a provider), which
// DefragWorkerMain catches.
void DefragJob() {
  gWork.stopped = false;
  ClearLeftFragmented();
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
}

}  // namespace

void DefragWorkerMain() {
  // The analysis worker empties its slot right after starting this one; until it has,
  // the status would still report the analysis.
  while (gJob.analysisRunning.load(std::memory_order_acquire)) std::this_thread::yield();
  // No exception leaves the thread: a failure ends the job as a stop would (no date is
  // recorded for the volume it was on), and the slot is emptied either way.
  try {
    DefragJob();
  } catch (...) {
    EndJobAfterFailure();
    try {
      (void)gReport.WriteIndexPage(gWorkingFolder, report::ReportKind::kDefrag);
    } catch (...) {
    }
  }
  EmptySlot(gJob.defragRunning);
}

}  // namespace vexa
