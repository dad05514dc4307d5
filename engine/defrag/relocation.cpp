// File relocation: best-fit choice of a free run and the extent-by-extent moves.
#include "defrag/relocation.h"

#include <vector>

#include "analysis/cluster_map.h"
#include "analysis/contiguous_marking.h"
#include "analysis/free_runs.h"
#include "analysis/pass_variant.h"
#include "analysis/volume_access.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/volume_table.h"
#include "core/work_context.h"
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

// Closes the file handle on every way out.
class FileHandle {
 public:
  explicit FileHandle(platform::Handle h) : handle_(h) {}
  ~FileHandle() {
    if (handle_ != platform::kInvalidHandle) gMachine->CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  platform::Handle Get() const { return handle_; }

 private:
  platform::Handle handle_;
};

// After the moves: when the file now lies in one piece, mark it so in the map (the
// cell file lists stay as the analysis left them).
void Remark(platform::Handle file, VolumeRecord& v, bool system) {
  if (!ReadExtents(*gMachine, file, gExtentBuffer, kExtentGrowthSmall)) return;
  if (gExtentBuffer.ExtentCount() != 1 || gExtentBuffer.Lcn(0) == platform::kVirtualLcn) return;
  MarkContiguousFile(*v.cells, nullptr, gExtentBuffer.Lcn(0), gExtentBuffer.NextVcn(0) - gExtentBuffer.StartingVcn(),
                     gWork.clustersPerCell, gWork.ntfs, system, {});
}

}  // namespace

void RelocateFile(const RelocationFile& file, bool large, CandidateMap* candidates) {
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  FileHandle handle(gMachine->OpenFileForQuery(file.path.c_str()));
  if (handle.Get() == platform::kInvalidHandle) return;
  if (!ReadExtents(*gMachine, handle.Get(), gExtentBuffer, kExtentGrowthLarge)) return;
  const ExtentBuffer& extents = gExtentBuffer;
  const std::uint32_t n = extents.ExtentCount();

  if (candidates != nullptr && n == 1 && extents.Lcn(0) != platform::kVirtualLcn) {
    AddCandidate(*candidates, extents.NextVcn(0) - extents.StartingVcn(), file.path,
                 static_cast<std::uint64_t>(extents.Lcn(0)));
  }
  if (n <= 1) return;

  // Holes and back-to-back pieces leave the file alone.
  std::uint64_t totalClusters = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t lcn = extents.Lcn(i);
    if (lcn == platform::kVirtualLcn) return;
    const std::int64_t before = i >= 2 ? extents.NextVcn(i - 2) : extents.StartingVcn();
    if (i >= 1 && extents.Lcn(i - 1) + (extents.NextVcn(i - 1) - before) == lcn) return;
    totalClusters += static_cast<std::uint64_t>(extents.NextVcn(i) - (i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1)));
  }

  std::int64_t volumeClusters = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &volumeClusters)) return;
  FreeRunMap freeRuns;
  BuildFreeRunMap(gBitmapBuffer.Bits(), volumeClusters, freeRuns);
  const auto chosen = freeRuns.lower_bound(static_cast<std::int64_t>(totalClusters));
  if (chosen == freeRuns.end()) return;
  const std::int64_t runStart = chosen->second;

  const bool mapUpdates = gWork.currentCellSet && file.attributes != kReadOnlyAlone &&
                          (!large || file.size > kLargeFileBytes);
  // The extents are read again by the re-marking, so keep what the moves need.
  std::vector<Piece> pieces;
  pieces.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t firstVcn = i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1);
    pieces.push_back({firstVcn, extents.Lcn(i), extents.NextVcn(i) - firstVcn});
  }

  BeginMove();
  std::int64_t target = runStart;
  for (const Piece& piece : pieces) {
    platform::MOVE_FILE_DATA move{};
    move.FileHandle = handle.Get();
    move.StartingVcn = piece.firstVcn;
    move.StartingLcn = target;
    move.ClusterCount = static_cast<std::uint32_t>(piece.length);
    gWork.moveStartingVcn.store(static_cast<std::uint64_t>(move.StartingVcn), std::memory_order_relaxed);
    gWork.moveTargetLcn.store(static_cast<std::uint64_t>(move.StartingLcn), std::memory_order_relaxed);
    if (StopRequested() || gMachine->MoveFile(v.volume, move) != platform::kErrorSuccess) {
      if (mapUpdates) Remark(handle.Get(), v, file.system);
      EndMove();
      if (StopRequested()) gWork.stopped = true;
      return;
    }
    if (mapUpdates && n > kFragmentedExtents) {
      v.cells->LowerFragmented(CellOfCluster(gWork.CellCluster(piece.lcn), gWork.clustersPerCell), file.system);
    }
    target += piece.length;
  }
  if (mapUpdates) Remark(handle.Get(), v, file.system);
  gReport.AppendDefragRow(file.path, n, file.size, totalClusters);
  ++gWork.defragmentedFiles;
  if (candidates != nullptr) {
    AddCandidate(*candidates, static_cast<std::int64_t>(totalClusters), file.path, static_cast<std::uint64_t>(runStart));
  }
  EndMove();
}

}  // namespace vexa
