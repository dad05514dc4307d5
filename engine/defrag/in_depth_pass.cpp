// The in-depth pass: candidates largest first, each into the first free run before it
// that holds it whole.
//
// On NTFS the pass reads the bitmap once and keeps its free runs up to date after each
// move (defrag/pass_free_space.h); it reads it again only after the volume refused a
// move. Clusters the pass's moves free are used after such a read only, as NTFS refuses
// them as targets until then. FAT volumes free a moved file's old clusters as the move
// commits, so there the bitmap is read again after each move and the next candidate may
// take what the last one left. The rule is the one ChooseInDepthRun states: the first run by
// position that is long enough, taken when it lies before the file. A moved file leaves
// the map at once; the moving flag is lowered before its entry is removed.
#include "defrag/in_depth_pass.h"

#include <optional>

#include "analysis/contiguous_marking.h"
#include "analysis/free_runs.h"
#include "analysis/pass_variant.h"
#include "analysis/volume_access.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/text.h"
#include "core/volume_state.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/pass_free_space.h"
#include "report/job_report.h"

namespace vexa {
namespace {

// The directory entry of the file at `path`: one search for the path itself, so a
// candidate costs the same however many files share its folder.
bool FindEntry(const std::string& path, platform::WIN32_FIND_DATAA* data) {
  const platform::Handle search = gMachine->FindFirst(path.c_str(), data);
  if (search == platform::kInvalidHandle) return false;
  gMachine->FindClose(search);
  data->cFileName[sizeof data->cFileName - 1] = 0;
  return true;
}

// Whether the open file still lies in one piece of `clusters` clusters at `first`, as
// the walk left it. A file that grew or moved since is passed over: moving only the
// clusters the walk saw would leave its new clusters behind.
bool StillAsWalked(platform::Handle file, std::int64_t first, std::int64_t clusters) {
  if (!ReadExtents(*gMachine, file, gExtentBuffer, kExtentGrowthSmall)) return false;
  return gExtentBuffer.ExtentCount() == 1 && gExtentBuffer.StartingVcn() == 0 && gExtentBuffer.Lcn(0) == first &&
         gExtentBuffer.NextVcn(0) == clusters;
}

// Whether NTFS would move the file's `clusters` clusters in one call: not when some of
// them lie past its size rounded up to whole clusters (preallocated), which it refuses
// to move; such a file stays where it is rather than be split.
bool MovableWhole(const VolumeRecord& v, const platform::WIN32_FIND_DATAA& data, std::int64_t clusters) {
  if (v.fileSystem != "NTFS" || v.bytesPerCluster == 0) return true;
  const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return static_cast<std::uint64_t>(clusters) <= (size + v.bytesPerCluster - 1) / v.bytesPerCluster;
}

}  // namespace

std::optional<std::int64_t> ChooseInDepthRun(const FreeRunsByStart& runs, std::int64_t first, std::int64_t clusters) {
  for (const auto& [start, length] : runs) {
    if (StopRequested()) return std::nullopt;
    if (start >= first || length >= clusters) {
      if (start < first && length >= clusters) return start;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void RunInDepthPass(CandidateMap& candidates) {
  VolumeRecord& v = gVolumes[gWork.walkSlot.load(std::memory_order_relaxed)];
  // A fresh bitmap: the relocation walk's moves freed clusters it could not use.
  gPassFreeSpace.MarkStale();
  gWork.inDepthCount.store(static_cast<std::int32_t>(candidates.size()), std::memory_order_relaxed);
  gWork.inDepthIndex.store(1, std::memory_order_relaxed);
  auto nextIndex = [] { gWork.inDepthIndex.fetch_add(1, std::memory_order_relaxed); };

  auto cursor = candidates.begin();
  while (cursor != candidates.end() && !StopRequested() && !gWork.volumeGone) {
    const std::int64_t clusters = cursor->first;
    const Candidate& candidate = cursor->second;
    const auto first = static_cast<std::int64_t>(candidate.firstCluster);
    gWork.candidateFirstCluster.store(candidate.firstCluster, std::memory_order_relaxed);
    // The status shows the file being moved, as the walk shows each entry's name.
    const auto cut = candidate.path.rfind('\\');
    gWork.currentName.Set(cut == std::string::npos ? candidate.path.c_str() : candidate.path.c_str() + cut + 1);

    // Size and attributes as the directory shows them now.
    platform::WIN32_FIND_DATAA data{};
    const bool found = FindEntry(candidate.path, &data);

    if (!gPassFreeSpace.Ready()) {
      std::int64_t volumeClusters = 0;
      if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &volumeClusters)) {
        if (NoteIfVolumeGone(v)) break;
        ++cursor;
        nextIndex();
        continue;
      }
      gPassFreeSpace.Build(gBitmapBuffer.MutableBits(), volumeClusters);
    }
    std::optional<std::int64_t> run;
    if (found && MovableWhole(v, data, clusters)) {
      run = gPassFreeSpace.FirstHolding(clusters);
      if (run && *run >= first) run.reset();
    }

    bool moved = false;
    if (run) {
      // MOVE_FILE_DATA: an encrypted file moves only through a handle with data access.
      const platform::Handle file = (data.dwFileAttributes & platform::kAttributeEncrypted) != 0
                                        ? gMachine->OpenFileWithDataAccess(candidate.path.c_str())
                                        : gMachine->OpenFileForQuery(candidate.path.c_str());
      if (file != platform::kInvalidHandle && StillAsWalked(file, first, clusters)) {
        BeginMove();
        platform::MOVE_FILE_DATA move{};
        move.FileHandle = file;
        move.StartingVcn = 0;
        move.StartingLcn = *run;
        move.ClusterCount = static_cast<std::uint32_t>(clusters);
        gWork.moveStartingVcn.store(0, std::memory_order_relaxed);
        gWork.moveTargetLcn.store(static_cast<std::uint64_t>(*run), std::memory_order_relaxed);
        const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        bool done = false;
        if (!StopRequested()) {
          const std::uint32_t error = gMachine->MoveFile(v.volume, move);
          done = error == platform::kErrorSuccess;
          if (done && v.fileSystem == "NTFS") {
            gPassFreeSpace.Take(*run, clusters);
          } else if (done) {
            // FAT frees the old clusters as the move commits: the next candidate may
            // take them, so it sees the volume as it is now.
            gPassFreeSpace.MarkStale();
          } else {
            gPassFreeSpace.MarkStale();
            (void)NoteIfVolumeGone(v, error);
          }
        }
        if (done) {
          if (gWork.currentCellSet && size > kLargeFileBytes && data.dwFileAttributes != platform::kAttributeReadOnly) {
            const bool system = ContainsNoCase(candidate.path, "system32");
            UnmarkContiguousFile(*v.cells, first, clusters, gWork.clustersPerCell, gWork.ntfs, system);
            MarkContiguousFile(*v.cells, nullptr, *run, clusters, gWork.clustersPerCell, gWork.ntfs, system, {});
          }
          gReport.AppendInDepthRow(candidate.path, candidate.firstCluster, static_cast<std::uint64_t>(*run),
                                   static_cast<std::uint64_t>(clusters));
          moved = true;
        }
        EndMove();
      }
      if (file != platform::kInvalidHandle) gMachine->CloseHandle(file);
    }
    cursor = moved ? candidates.erase(cursor) : std::next(cursor);
    if (StopRequested()) {
      gWork.stopped = true;
      break;
    }
    nextIndex();
  }
}

}  // namespace vexa
