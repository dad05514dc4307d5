// File relocation: best-fit choice of a free run and the extent-by-extent moves.
#include "defrag/relocation.h"

#include <vector>

#include "analysis/cluster_map.h"
#include "analysis/contiguous_marking.h"
#include "analysis/free_runs.h"
#include "analysis/pass_variant.h"
#include "analysis/volume_access.h"
#include "core/engine.h"
#include "core/file_handle.h"
#include "core/job_control.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/left_fragmented.h"
#include "defrag/per_file.h"
#include "report/job_report.h"

namespace vexa {
namespace {

// An attribute word of exactly this (read-only and nothing else) keeps the map as it is.
constexpr std::uint32_t kReadOnlyAlone = platform::kAttributeReadOnly;

// One extent of the file as the walk found it: what its move needs.
struct Piece {
  std::int64_t firstVcn;  // first virtual cluster of the extent
  std::int64_t lcn;       // its logical cluster before the move
  std::int64_t length;    // in clusters
};


// After the moves, with the file's extents read again into gExtentBuffer: when the file
// now lies in one piece, mark it so in the map (the cell file lists stay as the
// analysis left them).
void Remark(VolumeRecord& v, bool system) {
  if (gExtentBuffer.ExtentCount() != 1 || gExtentBuffer.Lcn(0) == platform::kVirtualLcn) return;
  MarkContiguousFile(*v.cells, nullptr, gExtentBuffer.Lcn(0), gExtentBuffer.NextVcn(0) - gExtentBuffer.StartingVcn(),
                     gWork.clustersPerCell, gWork.ntfs, system, {});
}

// Why a move of the file failed, as the left-fragmented list says it.
std::int32_t ReasonOfFailedMove(std::uint32_t error, const RelocationFile& file, platform::Handle handle) {
  if (error == platform::kErrorWriteProtect) return VEXA_LEFT_READ_ONLY;
  // A file the file system can never move (an exFAT entry set across two sectors).
  if (error == platform::kErrorAccessDenied && gMachine->UnmovableReason(handle) != nullptr) {
    return VEXA_LEFT_ENTRY_SPANS_SECTORS;
  }
  const bool system = file.system || (file.attributes & platform::kAttributeSystem) != 0;
  if (error == platform::kErrorAccessDenied && system) return VEXA_LEFT_SYSTEM;
  return VEXA_LEFT_MOVE_FAILED;
}

enum class Relocated { kDone, kChanged };

// One attempt at the file open at `handle`: kChanged when the file turned out to have
// changed while it was moved (and no move failed), so that a second attempt may move
// it as it is now; the last attempt (`last`) names it as changed instead.
Relocated RelocateOnce(const RelocationFile& file, platform::Handle handle, bool large, CandidateMap* candidates,
                       bool last) {
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  const char letter = v.letterText.empty() ? '?' : v.letterText[0];
  // The extents as they are now, not as the walk's directory entry describes the file:
  // a file that grew since then is moved with its current clusters.
  if (!ReadExtents(*gMachine, handle, gExtentBuffer, kExtentGrowthLarge)) return Relocated::kDone;
  const ExtentBuffer& extents = gExtentBuffer;
  const std::uint32_t n = extents.ExtentCount();

  if (candidates != nullptr && n == 1 && extents.Lcn(0) != platform::kVirtualLcn) {
    AddCandidate(*candidates, extents.NextVcn(0) - extents.StartingVcn(), file.path,
                 static_cast<std::uint64_t>(extents.Lcn(0)));
  }
  if (n <= 1) return Relocated::kDone;

  // Holes and back-to-back pieces leave the file alone.
  std::uint64_t totalClusters = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t lcn = extents.Lcn(i);
    if (lcn == platform::kVirtualLcn) return Relocated::kDone;
    const std::int64_t before = i >= 2 ? extents.NextVcn(i - 2) : extents.StartingVcn();
    if (i >= 1 && extents.Lcn(i - 1) + (extents.NextVcn(i - 1) - before) == lcn) return Relocated::kDone;
    totalClusters += static_cast<std::uint64_t>(extents.NextVcn(i) - (i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1)));
  }
  const std::int64_t endVcn = extents.NextVcn(n - 1);

  std::int64_t volumeClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &volumeClusters)) {
    NoteLeftFragmented(letter, file.path, VEXA_LEFT_MOVE_FAILED, n, totalClusters, 0, platform::kErrorReadFault);
    return Relocated::kDone;
  }
  FreeRunMap freeRuns;
  BuildFreeRunMap(gBitmapBuffer.Bits(), volumeClusters, freeRuns);
  const std::uint64_t largestRun = freeRuns.empty() ? 0 : static_cast<std::uint64_t>(freeRuns.rbegin()->first);
  const auto chosen = freeRuns.lower_bound(static_cast<std::int64_t>(totalClusters));
  if (chosen == freeRuns.end()) {
    NoteLeftFragmented(letter, file.path, VEXA_LEFT_NO_RUN, n, totalClusters, largestRun);
    return Relocated::kDone;
  }
  const std::int64_t runStart = chosen->second;

  const bool mapUpdates = gWork.currentCellSet && file.attributes != kReadOnlyAlone &&
                          (!large || file.size > kLargeFileBytes);
  // The extents are read again after the moves, so keep what the moves need.
  std::vector<Piece> pieces;
  pieces.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t firstVcn = i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1);
    pieces.push_back({firstVcn, extents.Lcn(i), extents.NextVcn(i) - firstVcn});
  }

  BeginMove();
  std::int64_t target = runStart;
  std::int32_t failure = 0;
  std::uint32_t error = 0;
  for (const Piece& piece : pieces) {
    platform::MOVE_FILE_DATA move{};
    move.FileHandle = handle;
    move.StartingVcn = piece.firstVcn;
    move.StartingLcn = target;
    move.ClusterCount = static_cast<std::uint32_t>(piece.length);
    gWork.moveStartingVcn.store(static_cast<std::uint64_t>(move.StartingVcn), std::memory_order_relaxed);
    gWork.moveTargetLcn.store(static_cast<std::uint64_t>(move.StartingLcn), std::memory_order_relaxed);
    if (StopRequested()) {
      failure = VEXA_LEFT_STOPPED;
      break;
    }
    error = gMachine->MoveFile(v.volume, move);
    if (error != platform::kErrorSuccess) {
      failure = StopRequested() ? VEXA_LEFT_STOPPED : ReasonOfFailedMove(error, file, handle);
      break;
    }
    if (mapUpdates && n > kFragmentedExtents) {
      v.cells->LowerFragmented(CellOfCluster(gWork.CellCluster(piece.lcn), gWork.clustersPerCell), file.system);
    }
    target += piece.length;
  }

  // The file as it lies now. Only a file that is one piece of the clusters moved, where
  // they were moved to, is reported as defragmented: one that grew or shrank while
  // it was moved is passed over and named as changed.
  const bool reread = ReadExtents(*gMachine, handle, gExtentBuffer, kExtentGrowthSmall);
  if (reread && mapUpdates) Remark(v, file.system);
  const bool whole = reread && gExtentBuffer.ExtentCount() == 1 && gExtentBuffer.Lcn(0) == runStart &&
                     gExtentBuffer.StartingVcn() == pieces.front().firstVcn && gExtentBuffer.NextVcn(0) == endVcn;
  if (failure != 0 || !whole) {
    EndMove();
    if (failure == VEXA_LEFT_STOPPED) gWork.stopped = true;
    if (failure == 0 && !last) return Relocated::kChanged;
    const std::uint32_t piecesNow = reread ? CountPieces(gExtentBuffer) : n;
    std::uint64_t clustersNow = totalClusters;
    if (reread && gExtentBuffer.ExtentCount() > 0) {
      clustersNow = static_cast<std::uint64_t>(gExtentBuffer.NextVcn(gExtentBuffer.ExtentCount() - 1) -
                                               gExtentBuffer.StartingVcn());
    }
    if (piecesNow > 1) {
      NoteLeftFragmented(letter, file.path, failure != 0 ? failure : VEXA_LEFT_CHANGED, piecesNow, clustersNow,
                         largestRun, failure == VEXA_LEFT_MOVE_FAILED ? error : 0);
    }
    return Relocated::kDone;
  }
  // A second attempt moved the file as it is now: its row gives its size now.
  std::uint64_t size = file.size;
  if (last && gMachine->FileSize(handle, &size) != platform::kErrorSuccess) size = file.size;
  gReport.AppendDefragRow(file.path, n, size, totalClusters);
  ++gWork.defragmentedFiles;
  if (candidates != nullptr) {
    AddCandidate(*candidates, static_cast<std::int64_t>(totalClusters), file.path, static_cast<std::uint64_t>(runStart));
  }
  EndMove();
  return Relocated::kDone;
}

}  // namespace

void RelocateFile(const RelocationFile& file, bool large, CandidateMap* candidates) {
  FileHandle handle(gMachine->OpenFileForQuery(file.path.c_str()));
  if (handle.Get() == platform::kInvalidHandle) return;
  // A file that changed while it was moved gets one more attempt with its clusters as
  // they are then; a file that keeps changing is passed over.
  if (RelocateOnce(file, handle.Get(), large, candidates, false) == Relocated::kChanged) {
    (void)RelocateOnce(file, handle.Get(), large, candidates, true);
  }
}

}  // namespace vexa
