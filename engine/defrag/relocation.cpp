// File relocation: best-fit choice of a free run and the extent-by-extent moves.
#include "defrag/relocation.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "analysis/cluster_map.h"
#include "analysis/contiguous_marking.h"
#include "analysis/free_runs.h"
#include "analysis/pass_variant.h"
#include "analysis/volume_access.h"
#include "core/engine.h"
#include "core/file_handle.h"
#include "core/job_control.h"
#include "core/volume_state.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/left_fragmented.h"
#include "defrag/pass_free_space.h"
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

// Why a move of the file failed, as the left-fragmented list says it. A refusal names
// the file a system file only when it is one (its System attribute): lying under
// System32 does not make a refusal the file's fault.
std::int32_t ReasonOfFailedMove(std::uint32_t error, const RelocationFile& file, platform::Handle handle) {
  if (error == platform::kErrorWriteProtect) return VEXA_LEFT_READ_ONLY;
  // A file the file system can never move (an exFAT entry set across two sectors).
  if (error == platform::kErrorAccessDenied && gMachine->UnmovableReason(handle) != nullptr) {
    return VEXA_LEFT_ENTRY_SPANS_SECTORS;
  }
  if (error == platform::kErrorAccessDenied && (file.attributes & platform::kAttributeSystem) != 0) {
    return VEXA_LEFT_SYSTEM;
  }
  return VEXA_LEFT_MOVE_FAILED;
}

// The pass's free space, read from the volume when it is not known (the first file of
// the pass, or after a refused move). False when the bitmap cannot be read.
bool EnsureFreeSpace(VolumeRecord& v) {
  if (gPassFreeSpace.Ready()) return true;
  std::int64_t volumeClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &volumeClusters)) {
    (void)NoteIfVolumeGone(v);
    return false;
  }
  gPassFreeSpace.Build(gBitmapBuffer.MutableBits(), volumeClusters);
  return true;
}

// Whether any of `count` clusters from `first` is in use in a bitmap just read: a
// refused move's target was taken by another program after the pass read the bitmap.
bool TakenSince(std::int64_t first, std::int64_t count) {
  const std::uint8_t* bits = gBitmapBuffer.Bits();
  for (std::int64_t c = first; c < first + count; ++c) {
    if ((bits[c / 8] >> (c % 8)) & 1) return true;
  }
  return false;
}

// The move calls that put the file's clusters [firstVcn, endVcn) at `runStart` on.
// Compressed and sparse files move in whole compression units of 16 clusters, as NTFS
// moves nothing else of them ("Defragmenting Files": the unit of a compressed or sparse
// file's move is its compression unit); other files move extent by extent.
std::vector<Piece> MoveCalls(const std::vector<Piece>& pieces, bool inUnits, std::int64_t runStart,
                             std::int64_t endVcn) {
  constexpr std::int64_t kCompressionUnit = 16;
  std::vector<Piece> calls;
  const std::int64_t firstVcn = pieces.front().firstVcn;
  if (!inUnits) {
    for (const Piece& piece : pieces) {
      const std::int64_t length = std::min(piece.length, endVcn - piece.firstVcn);
      if (length > 0) calls.push_back({piece.firstVcn, runStart + (piece.firstVcn - firstVcn), length});
    }
    return calls;
  }
  for (std::int64_t vcn = firstVcn; vcn < endVcn;) {
    const std::int64_t next = std::min(endVcn, (vcn / kCompressionUnit + 1) * kCompressionUnit);
    calls.push_back({vcn, runStart + (vcn - firstVcn), next - vcn});
    vcn = next;
  }
  return calls;
}

// The move alignment that spares shadow copies, in clusters: 16 KiB on NTFS volumes
// whose clusters are smaller (and divide it), else 1 (none).
std::int64_t AlignmentClusters(bool ntfs, std::uint32_t bytesPerCluster) {
  constexpr std::uint32_t kShadowCopyBlock = 16384;
  if (!ntfs || bytesPerCluster == 0 || bytesPerCluster >= kShadowCopyBlock || kShadowCopyBlock % bytesPerCluster != 0) {
    return 1;
  }
  return kShadowCopyBlock / bytesPerCluster;
}

enum class Relocated { kDone, kAgain };

// One attempt at the file open at `handle`: kAgain when the file turned out to have
// changed while it was moved, or a move was refused because its target was taken after
// the bitmap was read (and no other move failed), so that a second attempt may move it
// as it is then into a fresh run; the last attempt (`last`) names it as left instead.
Relocated RelocateOnce(const RelocationFile& file, platform::Handle handle, bool large, CandidateMap* candidates,
                       bool last) {
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  const char letter = v.letterText.empty() ? '?' : v.letterText[0];
  // The extents as they are now, not as the walk's directory entry describes the file:
  // a file that grew since then is moved with its current clusters.
  if (!ReadExtents(*gMachine, handle, gExtentBuffer, kExtentGrowthLarge)) {
    (void)NoteIfVolumeGone(v);
    return Relocated::kDone;
  }
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

  // The extents are read again after the moves, so keep what the moves need.
  std::vector<Piece> pieces;
  pieces.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t firstVcn = i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1);
    pieces.push_back({firstVcn, extents.Lcn(i), extents.NextVcn(i) - firstVcn});
  }

  // NTFS moves a file's clusters only up to its size rounded up to whole clusters
  // (FSCTL_MOVE_FILE refuses preallocated clusters past it): the file is joined up to
  // there and its preallocated tail stays where it is.
  std::int64_t movedEnd = endVcn;
  const bool ntfs = v.fileSystem == "NTFS";
  if (ntfs) {
    std::uint64_t size = file.size;
    if (gMachine->FileSize(handle, &size) != platform::kErrorSuccess) size = file.size;
    const std::uint64_t bytesPerCluster = v.bytesPerCluster == 0 ? 1 : v.bytesPerCluster;
    const auto rounded = static_cast<std::int64_t>((size + bytesPerCluster - 1) / bytesPerCluster);
    movedEnd = std::min(endVcn, std::max(rounded, pieces.front().firstVcn));
    std::uint32_t piecesInSize = 0;
    for (const Piece& piece : pieces) piecesInSize += piece.firstVcn < movedEnd ? 1 : 0;
    if (piecesInSize <= 1) return Relocated::kDone;
  }
  const std::int64_t movedClusters = movedEnd - pieces.front().firstVcn;

  if (!EnsureFreeSpace(v)) {
    NoteLeftFragmented(letter, file.path, VEXA_LEFT_MOVE_FAILED, n, totalClusters, 0, platform::kErrorReadFault);
    return Relocated::kDone;
  }
  std::optional<std::int64_t> chosen = gPassFreeSpace.SmallestHolding(movedClusters);
  // No run holds the file, but earlier moves freed clusters: on a nearly full volume
  // those may make the run, so the bitmap is read again once (file systems other than
  // NTFS can use freed clusters at once; on NTFS a move into them is refused until the
  // file system has released them, and the refusal costs one more read).
  if (!chosen && gPassFreeSpace.FreedSinceRead()) {
    gPassFreeSpace.MarkStale();
    if (EnsureFreeSpace(v)) chosen = gPassFreeSpace.SmallestHolding(movedClusters);
  }
  const auto largestRun = static_cast<std::uint64_t>(gPassFreeSpace.Largest());
  if (!chosen) {
    NoteLeftFragmented(letter, file.path, VEXA_LEFT_NO_RUN, n, static_cast<std::uint64_t>(movedClusters), largestRun);
    return Relocated::kDone;
  }
  // Where the file goes: the start of the chosen run, or on NTFS volumes of clusters
  // under 16 KiB the first cluster of a run at a multiple of 16 KiB from the file's
  // current start. MOVE_FILE_DATA: "move data in blocks aligned relative to each other
  // in 16-kilobyte (KB) increments", else Volume Shadow Copy copies more and the user's
  // restore points are pushed out sooner. The best-fit run is kept when the aligned
  // place fits in it; otherwise the smallest run with room for any alignment; failing
  // both, the best-fit run unaligned. The clusters skipped before the aligned place are
  // left unused for the rest of the pass.
  std::int64_t runStart = *chosen;
  std::int64_t target = runStart;
  const std::int64_t align = AlignmentClusters(ntfs, v.bytesPerCluster);
  if (align > 1) {
    const auto aligned = [&](std::int64_t start) {
      return start + ((pieces.front().lcn - start) % align + align) % align;
    };
    std::optional<std::int64_t> fit;
    if (aligned(runStart) + movedClusters <= runStart + gPassFreeSpace.LengthAt(runStart)) {
      fit = runStart;
    } else {
      fit = gPassFreeSpace.SmallestHolding(movedClusters + align - 1);
    }
    if (fit) {
      runStart = *fit;
      target = aligned(runStart);
      if (target > runStart) gPassFreeSpace.Take(runStart, target - runStart);
    }
  }

  const bool mapUpdates = gWork.currentCellSet && file.attributes != kReadOnlyAlone &&
                          (!large || file.size > kLargeFileBytes);
  const bool inUnits = ntfs && (file.attributes & (platform::kAttributeCompressed |
                                                          platform::kAttributeSparseFile)) != 0;
  const std::vector<Piece> calls = MoveCalls(pieces, inUnits, target, movedEnd);

  BeginMove();
  std::int32_t failure = 0;
  std::uint32_t error = 0;
  bool targetTaken = false;
  std::size_t lowered = 0;  // pieces whose cells the moves have emptied
  for (const Piece& call : calls) {
    platform::MOVE_FILE_DATA move{};
    move.FileHandle = handle;
    move.StartingVcn = call.firstVcn;
    move.StartingLcn = call.lcn;
    move.ClusterCount = static_cast<std::uint32_t>(call.length);
    gWork.moveStartingVcn.store(static_cast<std::uint64_t>(move.StartingVcn), std::memory_order_relaxed);
    gWork.moveTargetLcn.store(static_cast<std::uint64_t>(move.StartingLcn), std::memory_order_relaxed);
    if (StopRequested()) {
      failure = VEXA_LEFT_STOPPED;
      break;
    }
    error = gMachine->MoveFile(v.volume, move);
    if (error != platform::kErrorSuccess) {
      gPassFreeSpace.MarkStale();
      if (NoteIfVolumeGone(v, error)) {
        failure = VEXA_LEFT_MOVE_FAILED;
        break;
      }
      failure = StopRequested() ? VEXA_LEFT_STOPPED : ReasonOfFailedMove(error, file, handle);
      // A target taken since the bitmap was read: read it again, and when the target is
      // in use now, a second attempt takes a fresh run.
      if (failure != VEXA_LEFT_STOPPED && error == platform::kErrorAccessDenied && EnsureFreeSpace(v) &&
          TakenSince(call.lcn, call.length)) {
        targetTaken = true;
      }
      break;
    }
    gPassFreeSpace.Take(call.lcn, call.length);
    gPassFreeSpace.Freed(call.length);
    const std::int64_t movedTo = call.firstVcn + call.length;
    for (; lowered < pieces.size() && pieces[lowered].firstVcn + pieces[lowered].length <= movedTo; ++lowered) {
      if (mapUpdates && n > kFragmentedExtents) {
        v.cells->LowerFragmented(CellOfCluster(gWork.CellCluster(pieces[lowered].lcn), gWork.clustersPerCell),
                                 file.system);
      }
    }
  }

  // The file as it lies now. Only a file whose clusters up to movedEnd are one piece
  // where they were moved to, and that still ends where it ended, is reported as
  // defragmented: one that grew or shrank while it was moved is passed over and named
  // as changed, and one moved only in part is never reported whole.
  const bool reread = ReadExtents(*gMachine, handle, gExtentBuffer, kExtentGrowthSmall);
  if (reread && mapUpdates) Remark(v, file.system);
  const std::uint32_t extentsNow = reread ? gExtentBuffer.ExtentCount() : 0;
  const bool whole = extentsNow >= 1 && gExtentBuffer.Lcn(0) == target &&
                     gExtentBuffer.StartingVcn() == pieces.front().firstVcn &&
                     gExtentBuffer.NextVcn(0) >= movedEnd && gExtentBuffer.NextVcn(extentsNow - 1) == endVcn &&
                     (extentsNow == 1 || movedEnd < endVcn);
  if (failure != 0 || !whole) {
    EndMove();
    if (failure == VEXA_LEFT_STOPPED) gWork.stopped = true;
    if ((failure == 0 || targetTaken) && !last) return Relocated::kAgain;
    const std::uint32_t piecesNow = reread ? CountPieces(gExtentBuffer) : n;
    std::uint64_t clustersNow = totalClusters;
    if (reread && gExtentBuffer.ExtentCount() > 0) {
      clustersNow = static_cast<std::uint64_t>(gExtentBuffer.NextVcn(gExtentBuffer.ExtentCount() - 1) -
                                               gExtentBuffer.StartingVcn());
    }
    if (piecesNow > 1 && !gWork.volumeGone) {
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
    AddCandidate(*candidates, static_cast<std::int64_t>(totalClusters), file.path, static_cast<std::uint64_t>(target));
  }
  EndMove();
  return Relocated::kDone;
}

}  // namespace

void RelocateFile(const RelocationFile& file, bool large, CandidateMap* candidates) {
  if (gWork.volumeGone) return;
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  // MOVE_FILE_DATA: "If the file is encrypted, the handle must have the FILE_READ_DATA,
  // FILE_WRITE_DATA, FILE_APPEND_DATA, or FILE_EXECUTE access right."
  const bool encrypted = (file.attributes & platform::kAttributeEncrypted) != 0;
  FileHandle handle(encrypted ? gMachine->OpenFileWithDataAccess(file.path.c_str())
                              : gMachine->OpenFileForQuery(file.path.c_str()));
  if (handle.Get() == platform::kInvalidHandle) {
    if (NoteIfVolumeGone(v) || !encrypted) return;
    // An encrypted file this account cannot read: passed over, named when in pieces.
    const FileHandle query(gMachine->OpenFileForQuery(file.path.c_str()));
    if (query.Get() == platform::kInvalidHandle ||
        !ReadExtents(*gMachine, query.Get(), gExtentBuffer, kExtentGrowthLarge)) {
      return;
    }
    const std::uint32_t pieces = CountPieces(gExtentBuffer);
    if (pieces > 1) {
      const char letter = v.letterText.empty() ? '?' : v.letterText[0];
      const std::int64_t clusters = gExtentBuffer.NextVcn(gExtentBuffer.ExtentCount() - 1) - gExtentBuffer.StartingVcn();
      NoteLeftFragmented(letter, file.path, VEXA_LEFT_ENCRYPTED, pieces, static_cast<std::uint64_t>(clusters), 0,
                         platform::kErrorAccessDenied);
    }
    return;
  }
  // A file that changed while it was moved, or whose target was taken meanwhile, gets
  // one more attempt with its clusters as they are then; then it is passed over.
  if (RelocateOnce(file, handle.Get(), large, candidates, false) == Relocated::kAgain) {
    (void)RelocateOnce(file, handle.Get(), large, candidates, true);
  }
}

}  // namespace vexa
